// Text-file output as the host runtime offers it: assign a name, open the
// file for appending or create it, write, close. Every step reports whether
// it worked instead of raising, so that the caller can raise its own error.
//
// The name is given as text and turned into a path through the ANSI code
// page, as the host does for its file names (on POSIX that is Latin-1, so
// names should keep to ASCII there). Bytes are written as they are, with no
// line-end translation. A TextFile belongs to one thread at a time.
#pragma once

#include <cstdio>

#include "host_strings.h"

namespace tarn::host {

class TextFile {
public:
    TextFile() = default;
    ~TextFile();
    TextFile(const TextFile&) = delete;
    TextFile& operator=(const TextFile&) = delete;

    // Fails for an empty name and while the file is open.
    bool Assign(const UnicodeString& name);
    // Opens the assigned file for writing at its end. Fails when the file
    // does not exist, as the host's append does: it never creates one.
    bool Append();
    // Creates the assigned file, or empties it when it exists.
    bool Rewrite();
    // Fails when the file is not open or not every byte was written.
    bool Write(const AnsiString& bytes);
    // Flushes and closes. Fails when the file is not open or the flush fails.
    bool Close();

    bool IsOpen() const { return file_ != nullptr; }

private:
    bool Open(const char* mode);

    AnsiString path_;
    std::FILE* file_ = nullptr;
};

// True when `name` names an existing file, following symbolic links; false
// for a directory and for an empty name. Safe on any thread.
bool FileExists(const UnicodeString& name);

namespace detail {

// The platform's test on a path already in the ANSI code page
// (host_textfile_win32.cpp, host_textfile_posix.cpp).
bool AnsiPathIsFile(const AnsiString& path);

}  // namespace detail

}  // namespace tarn::host

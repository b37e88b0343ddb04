// Text-file output as the host runtime offers it: assign a name, open the
// file for appending or create it, write, close. Every step reports whether
// it worked instead of raising, so that the caller can raise its own error.
//
// The name is given as text and turned into a path through the ANSI code
// page, as the host does for its file names (on POSIX that is Latin-1, so
// names should keep to ASCII there). Bytes are written as they are, with no
// line-end translation. Only regular files are opened, and opening never
// blocks: a FIFO, a pipe, a device or a directory fails at once. A TextFile
// belongs to one thread at a time.
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

    // Fails while the file is open, and for an empty name or one with a NUL,
    // which then leaves nothing assigned.
    bool Assign(const UnicodeString& name);
    // Opens the assigned file for writing at its end. Fails when the file
    // does not exist, as the host's append does: it never creates one.
    bool Append();
    // Creates the assigned file, or empties it when it exists.
    bool Rewrite();
    // Fails when the file is not open or not every byte was written.
    bool Write(const AnsiString& bytes);
    // Hands what has been written to the system, so that a program that
    // dies later leaves it in the file. Fails when the file is not open or
    // the flush fails.
    bool Flush();
    // Flushes and closes. Fails when the file is not open or the flush fails.
    bool Close();

    bool IsOpen() const { return file_ != nullptr; }

private:
    bool Open(bool append);

    AnsiString path_;
    std::FILE* file_ = nullptr;
};

// True when `name` names an existing file, following symbolic links; false
// for a directory, for an empty name and for a name with a NUL. Safe on any
// thread.
bool FileExists(const UnicodeString& name);

namespace detail {

// The platform's test on a path already in the ANSI code page
// (host_textfile_win32.cpp, host_textfile_posix.cpp).
bool AnsiPathIsFile(const AnsiString& path);

// Opens `path` for writing if it is a regular file, without blocking: at its
// end when `append` (never creating it), else created or emptied. Null for
// anything else. Safe on any thread.
std::FILE* OpenRegularFile(const AnsiString& path, bool append);

}  // namespace detail

}  // namespace tarn::host

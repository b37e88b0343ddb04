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

#include <cstdint>
#include <cstdio>
#include <optional>

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
    // Closes the file cut back to its first `size` bytes, whatever the
    // stream still held: after a write that failed halfway (a full disk),
    // so that nothing of it stays. Fails when the file is not open or the
    // cut fails.
    bool CloseCutTo(std::uint64_t size);

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

// Which file a name stands for, following symbolic links: two names with
// equal identities name one file, however they are spelled, and a file
// keeps its identity when it is renamed.
struct FileIdentity {
    std::uint64_t volume = 0;
    std::uint64_t index = 0;
    bool operator==(const FileIdentity& other) const {
        return volume == other.volume && index == other.index;
    }
    bool operator!=(const FileIdentity& other) const { return !(*this == other); }
};
// None when nothing is there, and for an empty name or one with a NUL.
// Safe on any thread.
std::optional<FileIdentity> IdentityOfFile(const UnicodeString& name);

namespace detail {

// The platform's identity of a path already in the ANSI code page.
std::optional<FileIdentity> AnsiPathIdentity(const AnsiString& path);

// The platform's test on a path already in the ANSI code page
// (host_textfile_win32.cpp, host_textfile_posix.cpp).
bool AnsiPathIsFile(const AnsiString& path);

// Closes `file`, then cuts what it wrote back to `size` bytes.
bool CloseCutTo(std::FILE* file, std::uint64_t size);

// Opens `path` for writing if it is a regular file, without blocking: at its
// end when `append` (never creating it), else created or emptied. Null for
// anything else. Safe on any thread.
std::FILE* OpenRegularFile(const AnsiString& path, bool append);

}  // namespace detail

}  // namespace tarn::host

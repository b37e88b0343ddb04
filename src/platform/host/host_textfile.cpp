#include "host_textfile.h"

#include <utility>

namespace tarn::host {

TextFile::~TextFile() {
    if (file_ != nullptr) std::fclose(file_);
}

bool TextFile::Assign(const UnicodeString& name) {
    if (file_ != nullptr) return false;
    // The system reads a path only up to its first NUL, so a name with one
    // would reach another file; a refused name must not leave the previous
    // one in place for a caller that opens anyway.
    path_ = UnicodeToAnsi(name);
    if (path_.empty() || path_.find('\0') != AnsiString::npos) {
        path_.clear();
        return false;
    }
    return true;
}

bool TextFile::Open(bool append) {
    if (file_ != nullptr || path_.empty()) return false;
    file_ = detail::OpenRegularFile(path_, append);
    return file_ != nullptr;
}

bool TextFile::Append() { return Open(true); }

bool TextFile::Rewrite() { return Open(false); }

bool TextFile::Write(const AnsiString& bytes) {
    if (file_ == nullptr) return false;
    if (bytes.empty()) return true;
    return std::fwrite(bytes.data(), 1, bytes.size(), file_) == bytes.size();
}

bool TextFile::Flush() { return file_ != nullptr && std::fflush(file_) == 0; }

bool TextFile::Close() {
    if (file_ == nullptr) return false;
    const bool flushed = std::fflush(file_) == 0;
    const bool closed = std::fclose(file_) == 0;
    file_ = nullptr;
    return flushed && closed;
}

bool TextFile::CloseCutTo(std::uint64_t size) {
    if (file_ == nullptr) return false;
    std::FILE* const file = std::exchange(file_, nullptr);
    return detail::CloseCutTo(file, size);
}

bool FileExists(const UnicodeString& name) {
    if (name.empty() || name.find(u'\0') != UnicodeString::npos) return false;
    return detail::AnsiPathIsFile(UnicodeToAnsi(name));
}

std::optional<FileIdentity> IdentityOfFile(const UnicodeString& name) {
    if (name.empty() || name.find(u'\0') != UnicodeString::npos) return std::nullopt;
    return detail::AnsiPathIdentity(UnicodeToAnsi(name));
}

}  // namespace tarn::host

#include "host_textfile.h"

namespace tarn::host {

TextFile::~TextFile() {
    if (file_ != nullptr) std::fclose(file_);
}

bool TextFile::Assign(const UnicodeString& name) {
    if (file_ != nullptr || name.empty()) return false;
    path_ = UnicodeToAnsi(name);
    return true;
}

bool TextFile::Open(const char* mode) {
    if (file_ != nullptr || path_.empty()) return false;
    file_ = std::fopen(path_.c_str(), mode);
    return file_ != nullptr;
}

bool TextFile::Append() {
    // The existence test and the open are two steps; a file removed in
    // between is created again, which is what a log writer wants anyway.
    if (!detail::AnsiPathIsFile(path_)) return false;
    return Open("ab");
}

bool TextFile::Rewrite() { return Open("wb"); }

bool TextFile::Write(const AnsiString& bytes) {
    if (file_ == nullptr) return false;
    if (bytes.empty()) return true;
    return std::fwrite(bytes.data(), 1, bytes.size(), file_) == bytes.size();
}

bool TextFile::Close() {
    if (file_ == nullptr) return false;
    const bool flushed = std::fflush(file_) == 0;
    const bool closed = std::fclose(file_) == 0;
    file_ = nullptr;
    return flushed && closed;
}

bool FileExists(const UnicodeString& name) {
    return !name.empty() && detail::AnsiPathIsFile(UnicodeToAnsi(name));
}

}  // namespace tarn::host

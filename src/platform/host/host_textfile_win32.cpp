#include <fcntl.h>
#include <io.h>
#include "host_windows.h"

#include <cstdint>

#include "host_textfile.h"

namespace tarn::host::detail {

bool AnsiPathIsFile(const AnsiString& path) {
    if (path.empty()) return false;
    const DWORD attributes = GetFileAttributesA(path.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES) return false;
    if ((attributes & FILE_ATTRIBUTE_REPARSE_POINT) == 0) {
        return (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
    }
    // GetFileAttributesA describes a symbolic link itself; opening it
    // reaches the target, which is what counts.
    const HANDLE file =
        CreateFileA(path.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                    nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (file == INVALID_HANDLE_VALUE) return false;
    BY_HANDLE_FILE_INFORMATION info{};
    const bool known = GetFileInformationByHandle(file, &info) != 0;
    CloseHandle(file);
    return known && (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
}

std::optional<FileIdentity> AnsiPathIdentity(const AnsiString& path) {
    if (path.empty()) return std::nullopt;
    // Opened for no access at all, which no other opening's share mode
    // refuses.
    const HANDLE file =
        CreateFileA(path.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                    nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (file == INVALID_HANDLE_VALUE) return std::nullopt;
    BY_HANDLE_FILE_INFORMATION info{};
    const bool known = GetFileInformationByHandle(file, &info) != 0;
    CloseHandle(file);
    if (!known) return std::nullopt;
    return FileIdentity{
        info.dwVolumeSerialNumber,
        (static_cast<std::uint64_t>(info.nFileIndexHigh) << 32) | info.nFileIndexLow};
}

bool CloseCutTo(std::FILE* file, std::uint64_t size) {
    // What the stream still holds may reach the file as it closes; the cut
    // comes after that, on a descriptor of its own.
    const int fd = _dup(_fileno(file));
    std::fclose(file);
    if (fd < 0) return false;
    const auto handle = reinterpret_cast<HANDLE>(_get_osfhandle(fd));
    LARGE_INTEGER end{};
    end.QuadPart = static_cast<LONGLONG>(size);
    const bool cut = handle != INVALID_HANDLE_VALUE &&
                     SetFilePointerEx(handle, end, nullptr, FILE_BEGIN) != 0 &&
                     SetEndOfFile(handle) != 0;
    _close(fd);
    return cut;
}

std::FILE* OpenRegularFile(const AnsiString& path, bool append) {
    // The share mode is the one the C runtime's fopen uses. Opening never
    // waits: a pipe without a free instance fails at once, and a directory
    // without FILE_FLAG_BACKUP_SEMANTICS fails too. Whatever did open is
    // kept only if it is a file on a disk, not a pipe, NUL, a console or a
    // port.
    const HANDLE handle =
        CreateFileA(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                    append ? OPEN_EXISTING : CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (handle == INVALID_HANDLE_VALUE) return nullptr;
    if (GetFileType(handle) != FILE_TYPE_DISK) {
        CloseHandle(handle);
        return nullptr;
    }
    // From here the descriptor owns the handle, and then the stream owns
    // the descriptor.
    const int fd = _open_osfhandle(reinterpret_cast<std::intptr_t>(handle),
                                   _O_WRONLY | _O_BINARY | (append ? _O_APPEND : 0));
    if (fd < 0) {
        CloseHandle(handle);
        return nullptr;
    }
    std::FILE* file = _fdopen(fd, append ? "ab" : "wb");
    if (file == nullptr) _close(fd);
    return file;
}

}  // namespace tarn::host::detail

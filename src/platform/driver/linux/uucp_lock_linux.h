// Lock files in the convention that serial programs on Unix have shared
// since UUCP: a program that uses a port puts "LCK..<device>" into the
// system's lock folder, holding its process id as ten ASCII digits, right
// aligned, and a line break. A file whose process is gone is stale and may
// be taken over.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>

namespace tarn::driver {

class UucpLock {
public:
    // Claims `deviceFile` (the device's resolved path; the lock is named
    // after its last component) by a lock file in `folder`. Returns
    // ERROR_SUCCESS with `lock` set when the file now names this process;
    // ERROR_SUCCESS with `lock` null when no file can be written there (no
    // such folder, no right to write); ERROR_ACCESS_DENIED when a live
    // process, or another open in this one, holds the device, or when the
    // lock file cannot be read to tell. Any thread.
    static std::uint32_t Acquire(const std::string& folder, const std::string& deviceFile,
                                 std::unique_ptr<UucpLock>& lock);

    // Removes the lock file, if it still names this process. Any thread.
    ~UucpLock();

    UucpLock(const UucpLock&) = delete;
    UucpLock& operator=(const UucpLock&) = delete;

    const std::string& File() const { return file_; }

private:
    explicit UucpLock(std::string file) : file_(std::move(file)) {}

    const std::string file_;
};

// The folder where opens put their lock files: the first of /run/lock and
// /var/lock that exists and may be written, or the one that tests set with
// UseLockFolderForTests; empty when there is none. Any thread.
std::string LockFolder();

// Makes opens put their lock files into `folder` instead of the system's
// folder, or into the system's folder again when `folder` is none. Tests
// use it to keep their files to themselves. Any thread.
void UseLockFolderForTests(std::optional<std::string> folder);

}  // namespace tarn::driver

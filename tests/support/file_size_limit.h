// A limit on the size of the files that the process and its children
// write, for a test that plays a full disk (POSIX only).
#pragma once

#include <sys/resource.h>

#include <csignal>
#include <cstdint>

namespace tarn::test {

// While it lives, files of the process, and of the programs it starts,
// cannot grow beyond `size` bytes, and a write beyond fails instead of
// ending the process.
class FileSizeLimit {
public:
    explicit FileSizeLimit(std::uintmax_t size) {
        ::getrlimit(RLIMIT_FSIZE, &saved_);
        previousHandler_ = std::signal(SIGXFSZ, SIG_IGN);
        rlimit limit = saved_;
        limit.rlim_cur = static_cast<rlim_t>(size);
        ::setrlimit(RLIMIT_FSIZE, &limit);
    }
    ~FileSizeLimit() {
        ::setrlimit(RLIMIT_FSIZE, &saved_);
        std::signal(SIGXFSZ, previousHandler_);
    }
    FileSizeLimit(const FileSizeLimit&) = delete;
    FileSizeLimit& operator=(const FileSizeLimit&) = delete;

private:
    rlimit saved_{};
    void (*previousHandler_)(int) = SIG_DFL;
};

}  // namespace tarn::test

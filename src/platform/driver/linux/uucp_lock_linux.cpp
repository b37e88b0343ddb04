#include "uucp_lock_linux.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <mutex>
#include <set>

#include "serial_driver.h"

namespace tarn::driver {
namespace {

// How often a stale file is taken over before the open gives up: each
// failed attempt means that another process claimed the port meanwhile.
constexpr int kTakeOverAttempts = 3;

struct LockState {
    std::mutex mutex;
    std::set<std::string> held;             // guarded by mutex; this process's files
    std::optional<std::string> testFolder;  // guarded by mutex
};

LockState& State() {
    // Never destroyed: a port may be closed by a thread while the process
    // exits.
    static LockState* state = new LockState;
    return *state;
}

enum class Owner {
    kNone,         // there is no lock file
    kStale,        // its process is gone, or it names none
    kThisProcess,  // it names this process
    kOther,        // it names a live process
    kUnknown,      // it cannot be read
};

// Parses the process id of a lock file: leading blanks, digits, then only
// white space. Returns 0 for anything else.
pid_t ParseOwner(const char* text, std::size_t length) {
    std::size_t i = 0;
    while (i < length && text[i] == ' ') ++i;
    long long pid = 0;
    const std::size_t digitsStart = i;
    for (; i < length && text[i] >= '0' && text[i] <= '9'; ++i) {
        pid = pid * 10 + (text[i] - '0');
        if (pid > 0x7FFFFFFF) return 0;
    }
    if (i == digitsStart) return 0;
    for (; i < length; ++i) {
        if (text[i] != ' ' && text[i] != '\n' && text[i] != '\r' && text[i] != '\t') return 0;
    }
    return static_cast<pid_t>(pid);
}

Owner OwnerOf(const std::string& file) {
    // O_NONBLOCK: a FIFO put there by someone must not stop the open.
    const int fd = open(file.c_str(), O_RDONLY | O_NONBLOCK | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0) {
        if (errno == ENOENT) return Owner::kNone;
        // A link in place of a lock file names no process.
        return errno == ELOOP ? Owner::kStale : Owner::kUnknown;
    }
    struct stat st;
    if (fstat(fd, &st) != 0) {
        close(fd);
        return Owner::kUnknown;
    }
    if (!S_ISREG(st.st_mode)) {
        // A FIFO or a device in its place names no process either.
        close(fd);
        return Owner::kStale;
    }
    char text[32];
    ssize_t got;
    do {
        got = read(fd, text, sizeof text);
    } while (got < 0 && errno == EINTR);
    close(fd);
    if (got < 0) return Owner::kUnknown;
    const pid_t pid = ParseOwner(text, static_cast<std::size_t>(got));
    if (pid <= 0) return Owner::kStale;
    if (pid == getpid()) return Owner::kThisProcess;
    // EPERM: the process exists but belongs to another user.
    return kill(pid, 0) == 0 || errno == EPERM ? Owner::kOther : Owner::kStale;
}

// Writes this process's lock file under a temporary name in `folder`.
// Returns that name, or an empty one when nothing can be written there.
std::string WriteTemporaryLockFile(const std::string& folder) {
    std::string name = folder + "/LTMP.XXXXXX";
    const int fd = mkostemp(name.data(), O_CLOEXEC);
    if (fd < 0) return {};
    // Ten digits hold every process id that Linux hands out.
    char text[24];
    const int length = std::snprintf(text, sizeof text, "%10ld\n", static_cast<long>(getpid()));
    // Others read the file to find the owner, so it is readable by all.
    bool written = fchmod(fd, 0644) == 0 && write(fd, text, length) == length;
    written = close(fd) == 0 && written;
    if (!written) {
        unlink(name.c_str());
        return {};
    }
    return name;
}

enum class Claim { kClaimed, kRefused, kWithout };

// Gives the complete temporary file the lock file's name. link() never
// replaces an existing file, so of two processes that claim the port at
// once only one succeeds, and no reader ever sees a half-written file.
Claim LinkLockFile(const std::string& temporary, const std::string& file) {
    for (int attempt = 0; attempt < kTakeOverAttempts; ++attempt) {
        if (link(temporary.c_str(), file.c_str()) == 0) return Claim::kClaimed;
        if (errno != EEXIST) return Claim::kWithout;
        switch (OwnerOf(file)) {
            case Owner::kOther:
            case Owner::kUnknown:
                return Claim::kRefused;
            case Owner::kNone:
                break;
            case Owner::kStale:
            case Owner::kThisProcess:
                // No open of this process holds it (that was asked first):
                // it is left over from an earlier process with this id.
                if (unlink(file.c_str()) != 0 && errno != ENOENT) return Claim::kWithout;
                break;
        }
    }
    return Claim::kRefused;
}

}  // namespace

std::uint32_t UucpLock::Acquire(const std::string& folder, const std::string& deviceFile,
                                std::unique_ptr<UucpLock>& lock) {
    lock.reset();
    if (folder.empty()) return ERROR_SUCCESS;
    const std::size_t slash = deviceFile.rfind('/');
    const std::string file =
        folder + "/LCK.." +
        (slash == std::string::npos ? deviceFile : deviceFile.substr(slash + 1));

    LockState& state = State();
    std::lock_guard<std::mutex> guard(state.mutex);
    if (state.held.count(file) != 0) return ERROR_ACCESS_DENIED;
    const std::string temporary = WriteTemporaryLockFile(folder);
    if (temporary.empty()) return ERROR_SUCCESS;
    const Claim claim = LinkLockFile(temporary, file);
    unlink(temporary.c_str());
    if (claim == Claim::kRefused) return ERROR_ACCESS_DENIED;
    if (claim == Claim::kWithout) return ERROR_SUCCESS;
    state.held.insert(file);
    lock.reset(new UucpLock(file));
    return ERROR_SUCCESS;
}

UucpLock::~UucpLock() {
    LockState& state = State();
    std::lock_guard<std::mutex> guard(state.mutex);
    state.held.erase(file_);
    // Another process may have taken the file over meanwhile (one in
    // another process id namespace takes this one for gone); that file is
    // not ours to remove.
    if (OwnerOf(file_) == Owner::kThisProcess) unlink(file_.c_str());
}

std::string LockFolder() {
    {
        LockState& state = State();
        std::lock_guard<std::mutex> guard(state.mutex);
        if (state.testFolder) return *state.testFolder;
    }
    for (const char* folder : {"/run/lock", "/var/lock"}) {
        struct stat st;
        if (stat(folder, &st) == 0 && S_ISDIR(st.st_mode) &&
            faccessat(AT_FDCWD, folder, W_OK | X_OK, AT_EACCESS) == 0) {
            return folder;
        }
    }
    return {};
}

void UseLockFolderForTests(std::optional<std::string> folder) {
    LockState& state = State();
    std::lock_guard<std::mutex> guard(state.mutex);
    state.testFolder = std::move(folder);
}

}  // namespace tarn::driver

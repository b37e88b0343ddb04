// Support scripts run natively: the test starts /bin/sh itself and waits
// for it.
#include <spawn.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <fstream>
#include <sstream>

#include "unix_script.h"

extern char** environ;

namespace tarn::test {
namespace {

class PosixUnixScript final : public UnixScript {
public:
    PosixUnixScript(std::string script, std::string folder)
        : script_(std::move(script)), folder_(std::move(folder)) {}

    const std::string& Folder() const override { return folder_; }

    bool Run(const std::vector<std::string>& arguments, std::string* whyNot) override {
        std::vector<std::string> words{"sh", script_};
        words.insert(words.end(), arguments.begin(), arguments.end());
        std::vector<char*> argv;
        for (std::string& word : words) argv.push_back(&word[0]);
        argv.push_back(nullptr);
        // What the script starts (ser2net) outlives it and must not hold
        // this process's descriptors: a copy of a test's socket would keep
        // a connection open after the test closed it.
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_addclosefrom_np(&actions, 3);
        pid_t child = -1;
        const int error = posix_spawn(&child, "/bin/sh", &actions, nullptr, argv.data(), environ);
        posix_spawn_file_actions_destroy(&actions);
        if (error != 0) {
            if (whyNot) *whyNot = std::string("starting /bin/sh failed: ") + std::strerror(error);
            return false;
        }
        int status = 0;
        while (waitpid(child, &status, 0) < 0 && errno == EINTR) {
        }
        // A failing script says why in its files; its status adds nothing.
        return true;
    }

    bool Exists(const std::string& leaf) const override {
        return access(Path(leaf).c_str(), F_OK) == 0;
    }

    std::string Read(const std::string& leaf) const override {
        std::ifstream file(Path(leaf));
        std::ostringstream text;
        text << file.rdbuf();
        const std::string all = text.str();
        const auto first = all.find_first_not_of(" \t\r\n");
        const auto last = all.find_last_not_of(" \t\r\n");
        return first == std::string::npos ? std::string() : all.substr(first, last - first + 1);
    }

    void Delete(const std::string& leaf) override { unlink(Path(leaf).c_str()); }

    unsigned long Owner() const override { return static_cast<unsigned long>(getpid()); }

private:
    std::string Path(const std::string& leaf) const {
        return leaf.empty() ? folder_ : folder_ + "/" + leaf;
    }

    const std::string script_;
    const std::string folder_;
};

}  // namespace

std::unique_ptr<UnixScript> UnixScript::Create(const std::string& script, std::string* whyNot) {
    // A build that was moved away from its source tree has no script.
    if (access(script.c_str(), R_OK) != 0) {
        if (whyNot) *whyNot = "the script " + script + " is missing";
        return nullptr;
    }
    const char* temp = getenv("TMPDIR");
    std::string folder =
        std::string(temp != nullptr && *temp != '\0' ? temp : "/tmp") + "/tarn-script.XXXXXX";
    if (mkdtemp(&folder[0]) == nullptr) {
        if (whyNot) *whyNot = "mkdtemp failed: " + std::string(std::strerror(errno));
        return nullptr;
    }
    return std::make_unique<PosixUnixScript>(script, folder);
}

}  // namespace tarn::test

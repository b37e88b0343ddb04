// A named pipe as the traffic log. Opening one never waits: without a free
// instance it fails at once, and with one, as here, it connects. What the
// log wrote would wait in the pipe for this end to read it.
#include <atomic>
#include <string>

#include "log_pipe.h"

#include "host_windows.h"

namespace tarn::test {
namespace {

class NamedPipe final : public LogPipe {
public:
    NamedPipe(std::string name, HANDLE server) : name_(std::move(name)), server_(server) {}
    ~NamedPipe() override { ::CloseHandle(server_); }

    std::string Name() const override { return name_; }

    bool Disarm() override {
        DWORD waiting = 0;
        return ::PeekNamedPipe(server_, nullptr, 0, nullptr, &waiting, nullptr) && waiting > 0;
    }

private:
    const std::string name_;
    const HANDLE server_;
};

}  // namespace

std::unique_ptr<LogPipe> LogPipe::Create(std::string* whyNot) {
    static std::atomic<unsigned> count{0};
    const std::string name = "\\\\.\\pipe\\tarn_log_" + std::to_string(::GetCurrentProcessId()) +
                             "_" + std::to_string(count++);
    const HANDLE server = ::CreateNamedPipeA(name.c_str(), PIPE_ACCESS_INBOUND,
                                             PIPE_TYPE_BYTE | PIPE_WAIT, 1, 4096, 4096, 0, nullptr);
    if (server == INVALID_HANDLE_VALUE) {
        if (whyNot) *whyNot = "CreateNamedPipe failed, error " + std::to_string(::GetLastError());
        return nullptr;
    }
    return std::make_unique<NamedPipe>(name, server);
}

}  // namespace tarn::test

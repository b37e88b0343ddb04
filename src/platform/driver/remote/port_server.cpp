// The port server's accepting side: one client at a time, each served by a
// session of its own (port_session.h).
#include "port_server.h"

#include <atomic>
#include <mutex>
#include <thread>
#include <utility>

#include "host_socket.h"
#include "port_session.h"

namespace tarn::driver::remote {

namespace {

// The longest single wait of the accept thread; Cancel ends it sooner.
constexpr std::uint32_t kAcceptWaitMs = 60000;

class AcceptingServer final : public PortServer {
public:
    AcceptingServer(std::string portName, std::string signature,
                    std::unique_ptr<host::TcpListener> listener)
        : portName_(std::move(portName)),
          signature_(std::move(signature)),
          listener_(std::move(listener)) {
        acceptThread_ = std::thread([this] { AcceptClients(); });
    }
    ~AcceptingServer() override;

    std::uint16_t Port() const override { return listener_->Port(); }
    bool Serving() const override {
        std::lock_guard<std::mutex> lock(mutex_);
        return session_ && !session_->Ended();
    }

private:
    // The accept thread.
    void AcceptClients();

    const std::string portName_;
    const std::string signature_;
    const std::unique_ptr<host::TcpListener> listener_;
    std::atomic<bool> stopping_{false};
    mutable std::mutex mutex_;
    std::shared_ptr<PortSession> session_;  // guarded by mutex_
    std::thread sessionThread_;             // guarded by mutex_
    std::thread acceptThread_;
};

AcceptingServer::~AcceptingServer() {
    stopping_ = true;
    listener_->Cancel();
    if (acceptThread_.joinable()) acceptThread_.join();
    // The accept thread has gone; nothing else starts or replaces a session.
    std::shared_ptr<PortSession> session;
    std::thread thread;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        session = session_;
        thread = std::move(sessionThread_);
    }
    if (session) session->Stop();
    if (thread.joinable()) thread.join();
}

void AcceptingServer::AcceptClients() {
    while (!stopping_) {
        // Null on a time-out, a failed accept, or Cancel, which stopping_
        // then tells.
        std::unique_ptr<host::TcpConnection> client = listener_->Accept(kAcceptWaitMs);
        if (!client) continue;
        std::lock_guard<std::mutex> lock(mutex_);
        if (stopping_) return;
        // One client at a time: a newcomer is closed, as it is while the
        // device is unplugged and its port cannot be opened.
        if (session_ && !session_->Ended()) continue;
        if (sessionThread_.joinable()) sessionThread_.join();
        const HANDLE port = OpenPortForClient(portName_);
        if (port == INVALID_HANDLE_VALUE) continue;
        session_ = std::make_shared<PortSession>(std::move(client), port, signature_);
        sessionThread_ = std::thread([session = session_] { session->Run(); });
    }
}

}  // namespace

std::unique_ptr<PortServer> PortServer::Start(const std::string& portName,
                                              const std::string& address, std::uint16_t port,
                                              const std::string& signature) {
    std::unique_ptr<host::TcpListener> listener = host::ListenTcp(address, port);
    if (!listener) return nullptr;
    return std::make_unique<AcceptingServer>(portName, signature, std::move(listener));
}

}  // namespace tarn::driver::remote

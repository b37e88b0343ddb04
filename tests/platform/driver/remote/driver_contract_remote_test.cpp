// The driver contract over remote ports: rfc2217://127.0.0.1:N to the port
// server of this process, which serves a virtual port whose object is the
// far end of the line.
#include <memory>
#include <string>
#include <utility>

#include "platform/driver/driver_contract.h"
#include "port_server.h"
#include "wait_until.h"

namespace tarn::driver::contract {
namespace {

using remote::PortServer;

class RemoteContractPort final : public ContractPort {
public:
    RemoteContractPort(std::unique_ptr<ContractPort> device, std::unique_ptr<PortServer> server)
        : device_(std::move(device)), server_(std::move(server)) {}

    static std::unique_ptr<ContractPort> Make(std::string* whyNot) {
        std::unique_ptr<ContractPort> device = MakeVirtualPort(whyNot);
        if (!device) return nullptr;
        std::unique_ptr<PortServer> server = PortServer::Start(device->Name(), "127.0.0.1", 0);
        if (!server) {
            *whyNot = "the port server cannot listen on 127.0.0.1";
            return nullptr;
        }
        return std::make_unique<RemoteContractPort>(std::move(device), std::move(server));
    }

    std::string Name() const override {
        return "rfc2217://127.0.0.1:" + std::to_string(server_->Port());
    }
    bool WritePeer(const std::string& bytes) override { return device_->WritePeer(bytes); }
    std::string ReadPeer(std::size_t count, std::chrono::milliseconds timeout) override {
        return device_->ReadPeer(count, timeout);
    }
    void StopTakingOutput() override { device_->StopTakingOutput(); }
    // The server closes the connection when its port goes; the remote port
    // counts as removed once it has seen that, which takes a moment.
    void Remove() override {
        device_->Remove();
        const std::string name = Name();
        tarn::test::WaitUntil([&] { return !IsListed(name); });
    }

private:
    // The server goes first, while the port it serves is still there.
    std::unique_ptr<ContractPort> device_;
    std::unique_ptr<PortServer> server_;
};

const DriverBackend kRemote = [] {
    DriverBackend backend{"Remote", &RemoteContractPort::Make};
    // The served port's lines travel; the time-outs and purge flags are
    // this end's own and taken as given; a write goes into TCP's buffers.
    backend.modemLines = true;
    backend.refusesForbiddenTimeouts = false;
    backend.refusesUnknownPurgeFlags = false;
    backend.writesWaitForTheFarEnd = false;
    backend.purgeAbortsWaitingWrites = false;
    // The server tells the lines as soon as the protocol is agreed.
    backend.quietInputWaitLastsItsTime = false;
    // A dropped connection is what the removal is here; a new connection
    // finds the server, which closes it at once.
    backend.removedError = 0;
    backend.removedOpenError = 0;
    // The server ends its session with the old connection after the close
    // has reached it.
    backend.reopensAtOnce = false;
    return backend;
}();

TARN_DRIVER_CONTRACT_BACKEND(kRemote);

}  // namespace
}  // namespace tarn::driver::contract

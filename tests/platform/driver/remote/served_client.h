// A component on a port server's port (port_server.h), with what it
// received and the modem lines as last reported.
#pragma once

#include <string>

#include "Tarnserialport.h"
#include "port_server.h"
#include "serialport/component_test_support.h"

namespace tarn::test {

inline std::string UrlOf(const tarn::driver::remote::PortServer& server) {
    return "rfc2217://127.0.0.1:" + std::to_string(server.Port());
}

struct Client {
    explicit Client(const std::string& url) {
        port.SetOnReceive([this](TTarnSerialPort*, std::string bytes) { received += bytes; });
        port.SetOnLineStatusChange([this](TTarnSerialPort*, TLineStatusSet now) { lines = now; });
        tarn::test::SelectPort(port, url);
    }
    bool Answers(const std::string& command, const std::string& expected) {
        received.clear();
        port.SendChars(command);
        return WaitUntil([&] { return received.find(expected) != std::string::npos; });
    }
    bool LinesAre(TLineStatusSet expected) {
        return WaitUntil([&] { return lines == expected; });
    }

    // Before the port, which may still deliver events as it goes.
    std::string received;
    TLineStatusSet lines;
    TTarnSerialPort port;
};

}  // namespace tarn::test

// ser2net for the tests of remote ports (ser2net_server.h). The script does
// the work on the Unix side; this file runs it and reads what it leaves.
#include "ser2net_server.h"

#include <cstdlib>
#include <sstream>

namespace tarn::test {
namespace {

// The script, by its Unix path in the source tree: the test runs it from
// there, natively and through Wine's /bin/sh.
constexpr char kScript[] = TARN_SER2NET_SCRIPT;

// Reads what `stty -a` says of a terminal: "speed 9600 baud;" and flags such
// as "-cstopb" or "parodd". False when the speed or the stop bits are
// missing.
bool ParseStty(const std::string& text, ServedTerminal& terminal) {
    std::istringstream words(text);
    std::string word;
    bool speed = false;
    bool stopBits = false;
    while (words >> word) {
        if (!word.empty() && word.back() == ';') word.pop_back();
        if (word == "speed" && words >> word) {
            terminal.baudRate = static_cast<std::uint32_t>(std::strtoul(word.c_str(), nullptr, 10));
            speed = true;
        } else if (word == "cstopb" || word == "-cstopb") {
            terminal.stopBits = word[0] == '-' ? 1 : 2;
            stopBits = true;
        } else if (word == "parodd" || word == "-parodd") {
            terminal.parityOdd = word[0] != '-';
        } else if (word == "cmspar" || word == "-cmspar") {
            terminal.parityStick = word[0] != '-';
        }
    }
    return speed && stopBits;
}

}  // namespace

Ser2netServer::Ser2netServer(std::unique_ptr<PtyPair> pair, std::unique_ptr<UnixScript> script)
    : pair_(std::move(pair)), script_(std::move(script)) {}

Ser2netServer::~Ser2netServer() {
    // ser2net goes before the pair whose terminal it holds.
    script_->RunAndWait({"remove", script_->Folder()}, {}, nullptr);
}

std::unique_ptr<Ser2netServer> Ser2netServer::Create(std::string& whyNot, bool& absent,
                                                     Protocol protocol) {
    absent = false;
    auto pair = PtyPair::Create(&whyNot);
    if (!pair) return nullptr;
    auto script = UnixScript::Create(kScript, &whyNot);
    if (!script) return nullptr;
    std::unique_ptr<Ser2netServer> server(new Ser2netServer(std::move(pair), std::move(script)));
    server->protocol_ = protocol;
    if (!server->Launch(0, &whyNot, &absent)) return nullptr;
    return server;
}

std::string Ser2netServer::Url() const {
    const char* scheme = protocol_ == Protocol::RawTcp ? "socket" : "rfc2217";
    return std::string(scheme) + "://127.0.0.1:" + std::to_string(port_);
}

bool Ser2netServer::Launch(std::uint16_t port, std::string* whyNot, bool* absent) {
    if (!script_->RunAndWait(
            {"start", script_->Folder(), pair_->PortPath(), std::to_string(port),
             std::to_string(script_->Owner()), protocol_ == Protocol::RawTcp ? "raw" : "rfc2217"},
            {"port", "error", "absent"}, whyNot)) {
        return false;
    }
    if (script_->Exists("port")) {
        port_ =
            static_cast<std::uint16_t>(std::strtoul(script_->Read("port").c_str(), nullptr, 10));
        return true;
    }
    const bool isAbsent = script_->Exists("absent");
    if (absent) *absent = isAbsent;
    if (whyNot) *whyNot = script_->Read(isAbsent ? "absent" : "error");
    return false;
}

bool Ser2netServer::Start(std::string* whyNot) { return Launch(port_, whyNot, nullptr); }

bool Ser2netServer::Stop(std::string* whyNot) {
    return script_->RunAndWait({"stop", script_->Folder()}, {"stopped"}, whyNot);
}

bool Ser2netServer::ReadTerminal(ServedTerminal& terminal, std::string& whyNot) {
    if (!script_->RunAndWait({"settings", script_->Folder(), pair_->PortPath()},
                             {"settings", "error"}, &whyNot)) {
        return false;
    }
    if (!script_->Exists("settings")) {
        whyNot = script_->Read("error");
        return false;
    }
    const std::string text = script_->Read("settings");
    if (!ParseStty(text, terminal)) {
        whyNot = "unexpected stty output: " + text;
        return false;
    }
    return true;
}

}  // namespace tarn::test

// The names of ports on other machines: "rfc2217://HOST:PORT" for a server
// that speaks Telnet with the COM-PORT-OPTION, "socket://HOST:PORT" for a
// plain TCP connection whose bytes are the line's. The scheme is read in
// any letter case; HOST is a name, an IPv4 address or an IPv6 address in
// brackets; PORT is 1 to 65535.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace tarn::driver::remote {

enum class RemoteProtocol { ComPort, RawSocket };

struct RemoteAddress {
    RemoteProtocol protocol = RemoteProtocol::ComPort;
    std::string host;  // without the brackets of an IPv6 address
    std::uint16_t port = 0;
};

// True when `name` has the shape of an address, "SCHEME://...", whether or
// not the scheme is one of those above: such a name is never a local port.
bool HasUrlShape(const std::string& name);

// The address that `name` spells; empty when it spells none, also for an
// unknown scheme.
std::optional<RemoteAddress> ParseRemoteAddress(const std::string& name);

}  // namespace tarn::driver::remote

#include "remote_address.h"

#include <algorithm>
#include <cctype>

namespace tarn::driver::remote {
namespace {

const std::string kSeparator = "://";

std::string LowerAscii(std::string text) {
    for (char& c : text) {
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    }
    return text;
}

bool IsDigit(char c) { return c >= '0' && c <= '9'; }
bool IsAlnum(char c) { return IsDigit(c) || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }

// Host names and IPv4 addresses: letters, digits, hyphens, dots and
// underscores (which some local names carry).
bool IsHostName(const std::string& host) {
    return !host.empty() && std::all_of(host.begin(), host.end(), [](char c) {
        return IsAlnum(c) || c == '-' || c == '.' || c == '_';
    });
}

// What may stand between the brackets: hexadecimal groups, colons, an
// embedded IPv4 address, and a zone after '%'.
bool IsIpv6Literal(const std::string& host) {
    if (host.find(':') == std::string::npos) return false;
    const std::size_t zone = host.find('%');
    const std::string address = host.substr(0, zone);
    const bool addressOk = std::all_of(address.begin(), address.end(), [](char c) {
        return std::isxdigit(static_cast<unsigned char>(c)) != 0 || c == ':' || c == '.';
    });
    if (zone == std::string::npos) return addressOk;
    const std::string name = host.substr(zone + 1);
    return addressOk && IsHostName(name);
}

std::optional<std::uint16_t> ParsePort(const std::string& text) {
    if (text.empty() || text.size() > 5 || !std::all_of(text.begin(), text.end(), IsDigit)) {
        return std::nullopt;
    }
    const unsigned long value = std::stoul(text);
    if (value < 1 || value > 65535) return std::nullopt;
    return static_cast<std::uint16_t>(value);
}

}  // namespace

bool HasUrlShape(const std::string& name) { return name.find(kSeparator) != std::string::npos; }

std::optional<RemoteAddress> ParseRemoteAddress(const std::string& name) {
    const std::size_t separator = name.find(kSeparator);
    if (separator == std::string::npos) return std::nullopt;
    RemoteAddress address;
    const std::string scheme = LowerAscii(name.substr(0, separator));
    if (scheme == "rfc2217") {
        address.protocol = RemoteProtocol::ComPort;
    } else if (scheme == "socket") {
        address.protocol = RemoteProtocol::RawSocket;
    } else {
        return std::nullopt;
    }

    const std::string rest = name.substr(separator + kSeparator.size());
    std::string portText;
    if (!rest.empty() && rest.front() == '[') {
        const std::size_t close = rest.find(']');
        if (close == std::string::npos || rest.compare(close + 1, 1, ":") != 0) return std::nullopt;
        address.host = rest.substr(1, close - 1);
        if (!IsIpv6Literal(address.host)) return std::nullopt;
        portText = rest.substr(close + 2);
    } else {
        // A bare IPv6 address would make the port ambiguous.
        const std::size_t colon = rest.find(':');
        if (colon == std::string::npos || rest.find(':', colon + 1) != std::string::npos) {
            return std::nullopt;
        }
        address.host = rest.substr(0, colon);
        if (!IsHostName(address.host)) return std::nullopt;
        portText = rest.substr(colon + 1);
    }
    const std::optional<std::uint16_t> port = ParsePort(portText);
    if (!port) return std::nullopt;
    address.port = *port;
    return address;
}

}  // namespace tarn::driver::remote

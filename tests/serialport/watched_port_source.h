// Ports that a test makes come and go on the port list, for the port
// watcher's tests: a virtual port in every build, and one that the system
// lists (natively a pseudo-terminal held open through the driver, under
// Wine a value of the registry's port list).
#pragma once

#include <memory>
#include <string>

#include "host_strings.h"

namespace tarn::test {

class WatchedPortSource {
public:
    virtual ~WatchedPortSource() = default;
    // The name as the port list gives it; constant.
    virtual tarn::host::UnicodeString ListedName() const = 0;
    // Puts the port on the list, or takes it off, each time in another way
    // where the source has several; `forGood` allows a way after which it
    // cannot come back. False, saying why in `whyNot`, when the system
    // refused.
    virtual bool Appear(std::string& whyNot) = 0;
    virtual bool Vanish(bool forGood, std::string& whyNot) = 0;
};

std::unique_ptr<WatchedPortSource> MakeVirtualPortSource();
// watched_port_source_linux.cpp, watched_port_source_win32.cpp.
std::unique_ptr<WatchedPortSource> MakeSystemPortSource();

}  // namespace tarn::test

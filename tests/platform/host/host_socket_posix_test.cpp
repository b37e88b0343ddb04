// The network errors read as this system's sockets word them; Windows has
// texts of its own.
#include <gtest/gtest.h>

#include "host_system_error.h"

using namespace tarn::host;

TEST(HostSocketPosix, ErrorTextsAreTheSocketsOwn) {
    EXPECT_EQ(SystemErrorText(WSAECONNREFUSED), "Connection refused.");
    EXPECT_EQ(SystemErrorText(WSAETIMEDOUT), "Connection timed out.");
    EXPECT_EQ(SystemErrorText(WSAHOST_NOT_FOUND), "No such host is known.");
    EXPECT_EQ(SystemErrorText(WSAECONNRESET), "Connection reset by peer.");
}

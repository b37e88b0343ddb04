#include "host_json.h"

#include <gtest/gtest.h>

#include <string>

using tarn::host::JsonQuoted;

namespace {

// tarnterm's port list and the benchmark's report both write through it.
TEST(HostJson, EscapesQuotesBackslashesAndControlsAndPassesUtf8) {
    EXPECT_EQ(JsonQuoted("a\"b\\c"), "\"a\\\"b\\\\c\"");
    EXPECT_EQ(JsonQuoted("x\ny\x01"), "\"x\\u000ay\\u0001\"");
    EXPECT_EQ(JsonQuoted(std::string("a\x01", 2)), "\"a\\u0001\"");
    EXPECT_EQ(JsonQuoted("\xc3\xa9"), "\"\xc3\xa9\"");
}

}  // namespace

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
    EXPECT_EQ(JsonQuoted("\xc3\xa9\xf0\x9f\x98\x80"), "\"\xc3\xa9\xf0\x9f\x98\x80\"");
}

// JSON is UTF-8 (RFC 8259 section 8.1): a byte that is not, such as a
// Latin-1 serial number or a cut sequence, becomes U+FFFD.
TEST(HostJson, ReplacesWhatIsNotUtf8) {
    const std::string kReplacement = "\xef\xbf\xbd";
    EXPECT_EQ(JsonQuoted("A\xe9z"), "\"A" + kReplacement + "z\"");
    EXPECT_EQ(JsonQuoted("\x80\xff"), "\"" + kReplacement + kReplacement + "\"");
    EXPECT_EQ(JsonQuoted("\xed\xa0\x80"), "\"" + kReplacement + "\"");
    EXPECT_EQ(JsonQuoted("x\xe2\x82"), "\"x" + kReplacement + "\"");
}

}  // namespace

// Recording a session (RecordFile): what the line did reaches the file in
// order, with its bytes escaped, on every kind of line; and the file starts,
// ends and fails as the setter says.
#include <gtest/gtest.h>

#include <atomic>
#include <filesystem>
#include <fstream>
#include <random>
#include <regex>
#include <string>
#include <vector>

#include "Tarnserialport.h"
#include "component_test_support.h"
#include "host_exception.h"
#include "test_line.h"

namespace {

namespace fs = std::filesystem;
using tarn::test::SelectPort;
using tarn::test::WaitUntil;

class Recording : public ::testing::TestWithParam<tarn::test::LineKind> {
protected:
    void SetUp() override {
        std::random_device random;
        do {
            dir_ = fs::temp_directory_path() / ("tarn_recording_" + std::to_string(random()));
        } while (!fs::create_directory(dir_));
        std::string why;
        line_ = tarn::test::TestLine::Create(GetParam(), "VREC1", &why);
        ASSERT_NE(line_, nullptr) << why;
        SelectPort(port_, line_->Name());
        port_.SetKeepEntireBuffer(true);
    }
    void TearDown() override {
        port_.Close();
        std::error_code ignored;
        fs::remove_all(dir_, ignored);
    }
    static std::vector<std::string> Lines(const fs::path& path) {
        std::ifstream in(path, std::ios::binary);
        std::vector<std::string> lines;
        for (std::string line; std::getline(in, line);) lines.push_back(line);
        return lines;
    }
    // The events of a recording without their times, which must never go
    // back, with the pieces of "rx" joined, as a line may deliver its bytes
    // in any number of chunks, and without the modem lines, which each line
    // reads as it likes: only that each is a change is checked.
    static std::vector<std::string> Events(const std::vector<std::string>& lines) {
        static const std::regex event(R"re(\{"t":(\d+),"ev":(.*)\})re");
        static const std::regex rx(R"re("rx","data":"(.*)")re");
        std::vector<std::string> events;
        std::string modem;
        unsigned long long last = 0;
        std::smatch m;
        for (std::size_t i = 1; i < lines.size(); ++i) {
            EXPECT_TRUE(std::regex_match(lines[i], m, event)) << lines[i];
            EXPECT_GE(std::stoull(m[1]), last) << lines[i];
            last = std::stoull(m[1]);
            const std::string what = m[2];
            if (what.rfind("\"modem\"", 0) == 0) {
                EXPECT_NE(what, modem);
                modem = what;
            } else if (std::regex_match(what, m, rx) && !events.empty() &&
                       events.back().rfind("\"rx\"", 0) == 0) {
                events.back().insert(events.back().size() - 1, m[1]);
            } else {
                events.push_back(what);
            }
        }
        return events;
    }

    fs::path dir_;
    std::unique_ptr<tarn::test::TestLine> line_;
    TTarnSerialPort port_;
};

// Every byte value that escapes otherwise, both ways.
const std::string kAwkward = std::string("a\"\\\t\x01\x7f\xff\0z\r\n", 11);
const std::string kAwkwardEncoded = R"(a\"\\\t\u0001\u007f\u00ff\u0000z\r\n)";

TEST_P(Recording, SessionEventsInOrderWithEscapedBytesUntilTheDeviceGoes) {
    const fs::path file = dir_ / "session.jsonl";
    port_.SetRecordFile(file.string());
    port_.SetBaudRate(br009600);
    port_.Open();
    ASSERT_NE(port_.IsConnected(), spNone);

    ASSERT_EQ(port_.SendData(kAwkward.data(), kAwkward.size()), kAwkward.size());
    ASSERT_EQ(line_->ReadPeer(kAwkward.size(), tarn::test::kEventLimit), kAwkward);
    ASSERT_TRUE(line_->Inject(kAwkward));
    ASSERT_TRUE(WaitUntil([&] { return port_.GetEntireBuffer().size() == kAwkward.size(); }));
    // Each setter clears the input first, and the same block again is no
    // change of the settings.
    port_.SetBaudRate(br019200);
    port_.SetBaudRate(br019200);
    ASSERT_TRUE(port_.SetBreak(true));
    ASSERT_TRUE(port_.SetBreak(false));
    ASSERT_TRUE(port_.ClearInputBuffer());
    line_->Remove();
    ASSERT_TRUE(WaitUntil([&] { return port_.IsConnected() == spNone; }));

    const std::vector<std::string> lines = Lines(file);
    ASSERT_FALSE(lines.empty());
    EXPECT_EQ(lines[0],
              R"({"format":"tarn-recording","version":1,"port":")" + line_->Name() + "\"}");
    const std::vector<std::string> events = Events(lines);
    const std::string settings = R"(,"bits":8,"parity":"none","stop":"1","cts":false,"dsr":false,)"
                                 R"("dtr":"on","rts":"on","xonxoff":false)";
    const std::vector<std::string> expected = {
        R"("settings","baud":9600)" + settings,
        R"("tx","data":")" + kAwkwardEncoded + "\"",
        R"("rx","data":")" + kAwkwardEncoded + "\"",
        R"("purge","rx":true,"tx":false)",
        R"("settings","baud":19200)" + settings,
        R"("purge","rx":true,"tx":false)",
        R"("escape","what":"setbreak")",
        R"("escape","what":"clrbreak")",
        R"("purge","rx":true,"tx":false)",
    };
    ASSERT_GT(events.size(), expected.size());
    EXPECT_EQ(std::vector<std::string>(events.begin(), events.begin() + expected.size()), expected);
    // The removal is last, once, whether the calls failed or the name left
    // the list while the line still answered (a terminal under Wine).
    const std::vector<std::string> end(events.begin() + expected.size(), events.end());
    EXPECT_EQ(end, std::vector<std::string>{R"("gone","error":22)"});
}

TEST_P(Recording, StartsAndStopsWhileOpenAndRefusesAFileThatCannotBeMade) {
    const fs::path missing = dir_ / "no folder" / "session.jsonl";
    port_.SetRecordFile(missing.string());
    try {
        port_.Open();
        ADD_FAILURE() << "opened with a record file that cannot be made";
    } catch (const ETarnSerialPortException& e) {
        EXPECT_EQ(e.ErrorCode(), 0u);
        EXPECT_NE(std::string(e.what()).find("Cannot record " + line_->Name() + " to "),
                  std::string::npos)
            << e.what();
    }
    EXPECT_EQ(port_.IsConnected(), spNone);

    port_.SetRecordFile("");
    port_.Open();
    ASSERT_NE(port_.IsConnected(), spNone);
    port_.SendString("before");
    const fs::path file = dir_ / "late.jsonl";
    port_.SetRecordFile(file.string());
    port_.SendString("during");
    // A file that fails while open keeps the recording as it was. The
    // refusal says what is wrong with the name.
    EXPECT_THROW(port_.SetRecordFile(missing.string()), ETarnSerialPortException);
    try {
        port_.SetRecordFile(dir_.string());
        ADD_FAILURE() << "recorded into a folder";
    } catch (const ETarnSerialPortException& e) {
        EXPECT_NE(std::string(e.what()).find("It is a folder"), std::string::npos) << e.what();
    }
    EXPECT_EQ(port_.GetRecordFile(), file.string());
    port_.SendString("still");
    port_.SetRecordFile("");
    port_.SendString("after");
    // Begun on the open port, the recording first says at what settings,
    // so that a replay can hold an application to them.
    const std::vector<std::string> events = Events(Lines(file));
    ASSERT_EQ(events.size(), 3u);
    EXPECT_EQ(
        events[0].rfind(
            R"("settings","baud":)" + std::to_string(port_.BaudRateToInt(port_.GetBaudRate())), 0),
        0u)
        << events[0];
    EXPECT_EQ(std::vector<std::string>(events.begin() + 1, events.end()),
              (std::vector<std::string>{R"("tx","data":"during")", R"("tx","data":"still")"}));
}

// Two sessions in one file would replay as neither: a file is one port's
// at a time, however it is spelled, and free again once that port closes,
// from inside its own events too.
TEST_P(Recording, AFileBelongsToOnePortsSessionAtATime) {
    const fs::path file = dir_ / "session.jsonl";
    port_.SetRecordFile(file.string());
    port_.Open();
    std::string why;
    const auto other = tarn::test::TestLine::Create(GetParam(), "VREC2", &why);
    ASSERT_NE(other, nullptr) << why;
    TTarnSerialPort second;
    SelectPort(second, other->Name());
    second.SetRecordFile((dir_ / "." / "session.jsonl").string());
    try {
        second.Open();
        ADD_FAILURE() << "two ports recorded into one file";
    } catch (const ETarnSerialPortException& e) {
        EXPECT_EQ(e.ErrorCode(), 0u);
        EXPECT_NE(std::string(e.what()).find("the session of " + line_->Name() + " is recorded"),
                  std::string::npos)
            << e.what();
    }
    EXPECT_EQ(second.IsConnected(), spNone);
    second.SetRecordFile("");
    second.Open();
    EXPECT_THROW(second.SetRecordFile(file.string()), ETarnSerialPortException);
    EXPECT_FALSE(second.IsRecording());
    EXPECT_TRUE(port_.IsRecording());
    port_.SendString("first");
    // The port's own recording may start the file afresh.
    port_.SetRecordFile(file.string());
    port_.SendString("again");
    std::vector<std::string> events = Events(Lines(file));
    ASSERT_EQ(events.size(), 2u);
    EXPECT_EQ(events[1], R"("tx","data":"again")");

    port_.Close();
    EXPECT_FALSE(port_.IsRecording());
    std::atomic<int> reopened{0};
    // From the receive thread, inside the last event of the closing
    // connection.
    second.SetNeedSynchronization(false);
    second.SetOnDisconnect([&](TTarnSerialPort* sender, TCommPort) {
        if (reopened++ == 0) sender->Open();
    });
    second.SetRecordFile(file.string());
    second.Close();
    ASSERT_TRUE(WaitUntil([&] { return reopened.load() == 1 && second.IsConnected() != spNone; }));
    EXPECT_TRUE(second.IsRecording());
    second.SendString("second");
    second.Close();
    // The settings of the Open, the send, and the purge of the Close.
    events = Events(Lines(file));
    ASSERT_EQ(events.size(), 3u);
    EXPECT_EQ(events[1], R"("tx","data":"second")");
}

INSTANTIATE_TEST_SUITE_P(Lines, Recording, tarn::test::kLineKinds,
                         [](const auto& info) { return tarn::test::LineKindName(info.param); });

}  // namespace

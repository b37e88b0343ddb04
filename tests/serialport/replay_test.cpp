// Recordings read back and replayed as a port: the reader's refusals with
// their lines, a conversation that answers the right requests and refuses a
// changed one, a timed replay at full speed, and a device that goes away.
#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "Tarnserialport.h"
#include "component_test_support.h"
#include "host_system_error.h"
#include "recording_reader.h"
#include "recording_writer.h"
#include "replay_check.h"
#include "serial_driver.h"

namespace {

namespace drv = tarn::driver;
namespace rec = tarn::driver::recording;
using tarn::test::WaitUntil;

const std::string kHeader = "{\"format\":\"tarn-recording\",\"version\":1,\"port\":\"COM3\"}\n";
const std::string kSettings =
    "{\"t\":10,\"ev\":\"settings\",\"baud\":4800,\"bits\":8,\"parity\":\"none\",\"stop\":\"1\","
    "\"cts\":false,\"dsr\":false,\"dtr\":\"on\",\"rts\":\"on\",\"xonxoff\":false}\n";
// Line 3: the first request, line 4 its answer, line 5 the second request.
const std::string kConversation = kHeader + kSettings +
                                  "{\"t\":100,\"ev\":\"tx\",\"data\":\"*IDN?\\r\\n\"}\n"
                                  "{\"t\":900,\"ev\":\"rx\",\"data\":\"TARN,DEMO,1\\r\\n\"}\n"
                                  "{\"t\":1000,\"ev\":\"tx\",\"data\":\"VOLT?\\r\\n\"}\n"
                                  "{\"t\":1900,\"ev\":\"rx\",\"data\":\"1.5\\u00b0\\r\\n\"}\n";

// A recording in a file of its own, removed with the test.
class RecordingFile {
public:
    explicit RecordingFile(const std::string& text) {
        static int serial = 0;
        path_ = ::testing::TempDir() + "replay_" + std::to_string(++serial) + ".jsonl";
        std::ofstream(path_, std::ios::binary) << text;
    }
    ~RecordingFile() { std::remove(path_.c_str()); }
    std::string Name(const std::string& options = "") const {
        return "replay://" + path_ + options;
    }

private:
    std::string path_;
};

TEST(ReplayReader, RefusesEveryBadFileWithItsLine) {
    const std::string rx = "{\"t\":5,\"ev\":\"rx\",\"data\":\"a\"}\n";
    const struct {
        std::string text;
        std::string error;
    } cases[] = {
        {"", "line 1: not a recording"},
        {"hello\n", "line 1: not a recording"},
        {"{\"format\":\"other\",\"version\":1}\n", "line 1: not a recording"},
        {"{\"format\":\"tarn-recording\",\"version\":2}\n", "line 1: a recording of an unknown"},
        {kHeader + rx + "{\"t\":6,\"ev\":\"rx\",\"da", "line 3: a string without its end"},
        {kHeader + "{\"t\":1,\"ev\":\"rx\",\"data\":\"a\",}\n", "line 2: a member name expected"},
        {kHeader + "{\"t\":1,\"ev\":\"beep\"}\n", "line 2: unknown \"ev\" \"beep\""},
        {kHeader + rx + "{\"t\":7,\"ev\":\"tx\"}\n", "line 3: no \"data\""},
        {kHeader + "{\"t\":1,\"ev\":\"rx\",\"data\":\"\\q\"}\n", "line 2: a bad escape"},
        {kHeader + "{\"t\":1,\"ev\":\"rx\",\"data\":\"\\u0100\"}\n",
         "line 2: \"data\" holds a char"},
        {kHeader + rx + "{\"t\":4,\"ev\":\"rx\",\"data\":\"b\"}\n", "line 3: \"t\" goes back"},
        {kHeader + "{\"t\":1,\"t\":2,\"ev\":\"gone\",\"error\":1}\n",
         "line 2: a member named twice"},
        {kHeader + kSettings.substr(0, kSettings.find("4800")) + "0" +
             kSettings.substr(kSettings.find("4800") + 4),
         "line 2: \"baud\" is out of range"},
    };
    for (const auto& c : cases) {
        std::string error;
        EXPECT_FALSE(rec::ParseRecording(c.text, error)) << c.text;
        EXPECT_EQ(error.rfind(c.error, 0), 0u) << c.text << " gives " << error;
    }
    // Unknown members are skipped, and a last line that parses needs no end.
    std::string error;
    const auto read = rec::ParseRecording(
        kHeader + "{\"t\":5,\"x\":{\"y\":[1,2.5e3,null]},\"ev\":\"rx\",\"data\":\"\\u00ff\"}",
        error);
    ASSERT_TRUE(read) << error;
    ASSERT_EQ(read->events.size(), 1u);
    EXPECT_EQ(read->events[0].data, "\xff");
    EXPECT_EQ(read->events[0].line, 2u);
}

TEST(ReplayDevice, RefusesBadNamesAndFiles) {
    const RecordingFile good(kConversation);
    // Each refusal names the option that is wrong.
    for (const auto& [options, named] : std::vector<std::pair<std::string, std::string>>{
             {"?mode=fast", "\"fast\""},
             {"?speed=10", "speed is for mode=timed"},
             {"?mode=timed&speed=0", "not \"0\""},
             {"?mode=timed&speed=-1", "not \"-1\""},
             {"?end=never", "not \"never\""},
             {"?mode=timed&mode=timed", "mode is given twice"},
             {"?pace=1", "\"pace\" is not an option"}}) {
        EXPECT_EQ(drv::CreateFileA(drv::DevicePath(good.Name(options))), drv::INVALID_HANDLE_VALUE);
        std::string text;
        EXPECT_TRUE(tarn::host::DescribedErrorText(drv::GetLastError(), text)) << options;
        EXPECT_NE(text.find(named), std::string::npos) << text;
    }
    const RecordingFile bad(kHeader + "{\"t\":1,\"ev\":\"rx\"}\n");
    TTarnSerialPort port;
    tarn::test::SelectPort(port, bad.Name());
    try {
        port.Open();
        ADD_FAILURE() << "a bad recording opened";
    } catch (const ETarnSerialPortException& e) {
        EXPECT_NE(std::string(e.what()).find("line 2: no \"data\""), std::string::npos) << e.what();
    }
    // A line with no end in sight is refused once it is longer than any
    // event, not read into memory whole; a folder is no recording.
    const RecordingFile endless(kHeader + std::string(17u << 20, 'x'));
    std::string error;
    EXPECT_FALSE(rec::ReadRecordingFile(endless.Name().substr(9), error));
    EXPECT_NE(error.find("line 2: longer than any event"), std::string::npos) << error;
    EXPECT_FALSE(rec::ReadRecordingFile(::testing::TempDir(), error));
    EXPECT_NE(error.find(": a folder, not a recording"), std::string::npos) << error;
}

TEST(ReplayReader, ReadsBackTheLongestTransferThatARecordingHolds) {
    // Every byte takes six to write, so that one event in one line would
    // be longer than any line that a reader takes.
    const std::string sent(3u << 20, '\xff');
    const RecordingFile file("");
    const std::string path = file.Name().substr(9);
    rec::RecordingWriter writer;
    ASSERT_TRUE(writer.Open(path, "COM3"));
    rec::Event event;
    event.kind = rec::EventKind::Sent;
    event.data = sent;
    ASSERT_TRUE(writer.Write(event));
    writer.Close();
    std::string error;
    const std::optional<rec::Recording> recording = rec::ReadRecordingFile(path, error);
    ASSERT_TRUE(recording) << error;
    std::string joined;
    for (const rec::Event& e : recording->events) joined += e.data;
    EXPECT_EQ(joined, sent);
}

TEST(ReplayDevice, ConversationAnswersTheRecordedRequestsOnReceive) {
    const RecordingFile file(kConversation);
    TTarnSerialPort port;
    std::string received;
    port.SetOnReceive([&](TTarnSerialPort*, std::string chunk) { received += chunk; });
    tarn::test::SelectPort(port, file.Name());
    port.Open();
    EXPECT_EQ(port.SendString("*ID"), 3u);
    EXPECT_EQ(port.SendString("N?\r\n"), 4u);
    ASSERT_TRUE(WaitUntil([&] { return received == "TARN,DEMO,1\r\n"; })) << received;
    EXPECT_EQ(port.SendString("VOLT?\r\n"), 7u);
    ASSERT_TRUE(WaitUntil([&] { return received == "TARN,DEMO,1\r\n1.5\xb0\r\n"; }));
    port.Close();
}

TEST(ReplayDevice, ConversationRefusesAChangedRequestWithItsLine) {
    const RecordingFile file(kConversation);
    TTarnSerialPort port;
    port.SetAutoReceive(false);
    tarn::test::SelectPort(port, file.Name());
    port.Open();
    // The send that holds the difference raises the refusal in words, even
    // after a request that matched, and every later one, right or not, the
    // same.
    const auto refusal = [&](const char* text) {
        try {
            port.SendString(text);
        } catch (const ETarnSerialPortException& e) {
            return std::string(e.what());
        }
        return std::string("no refusal");
    };
    const std::string message = refusal("*IDN?\r\nVOLT!");
    EXPECT_EQ(port.ReadStringLine(30), "TARN,DEMO,1") << "the matched request is answered";
    EXPECT_NE(message.find("line 5, byte 5 of the sent bytes: expected \"VOLT?\\r\\n\", got "
                           "\"VOLT!\""),
              std::string::npos)
        << message;
    EXPECT_EQ(refusal("VOLT?\r\n"), message);
    port.Close();
}

TEST(ReplayDevice, TimedAtFullSpeedKeepsTheOrder) {
    std::string text = kHeader;
    std::string expected;
    for (int i = 0; i < 50; ++i) {
        const std::string chunk = "chunk" + std::to_string(i) + ";";
        text += "{\"t\":" + std::to_string(i * 1000000) + ",\"ev\":\"rx\",\"data\":\"" + chunk +
                "\"}\n";
        text += "{\"t\":" + std::to_string(i * 1000000) + ",\"ev\":\"tx\",\"data\":\"ignored\"}\n";
        expected += chunk;
    }
    const RecordingFile file(text);
    const drv::HANDLE h = drv::CreateFileA(drv::DevicePath(file.Name("?mode=timed&speed=max")));
    ASSERT_NE(h, drv::INVALID_HANDLE_VALUE);
    std::string got;
    while (got.size() < expected.size()) {
        ASSERT_TRUE(drv::WaitCommInput(h, 30000));
        char buffer[64];
        std::uint32_t read = 0;
        ASSERT_TRUE(drv::ReadFile(h, buffer, sizeof buffer, &read));
        ASSERT_GT(read, 0u);
        got.append(buffer, read);
        std::uint32_t written = 0;
        EXPECT_TRUE(drv::WriteFile(h, "x", 1, &written));  // timed replays compare nothing
    }
    EXPECT_EQ(got, expected);
    drv::CloseHandle(h);
}

TEST(ReplayCheck, TellsAConsistentRecordingFromOneThatIsNot) {
    const RecordingFile good(kConversation);
    std::string report;
    EXPECT_TRUE(rec::CheckReplay(good.Name().substr(9), report)) << report;
    // The settings before the removal are not blamed for it.
    const RecordingFile late(kHeader + kSettings + "{\"t\":11,\"ev\":\"gone\",\"error\":22}\n" +
                             "{\"t\":12,\"ev\":\"rx\",\"data\":\"x\"}\n");
    EXPECT_FALSE(rec::CheckReplay(late.Name().substr(9), report));
    EXPECT_NE(report.find("line 4: an event after the device went away (line 3)"),
              std::string::npos)
        << report;
}

// A recorded "gone" and the end of a recording replayed with end=remove.
class ReplayRemoval : public ::testing::TestWithParam<bool> {};

TEST_P(ReplayRemoval, RaisesOnFaultAndOnDisconnect) {
    const bool recordedGone = GetParam();
    const std::string text = kHeader +
                             "{\"t\":5,\"ev\":\"modem\",\"cts\":true,\"dsr\":false,"
                             "\"ring\":false,\"rlsd\":true}\n"
                             "{\"t\":6,\"ev\":\"tx\",\"data\":\"bye\"}\n" +
                             (recordedGone ? "{\"t\":9,\"ev\":\"gone\",\"error\":22}\n" : "");
    const RecordingFile file(text);
    TTarnSerialPort port;
    std::vector<std::string> events;
    port.SetOnFault([&](TTarnSerialPort*, TCommPort) { events.push_back("fault"); });
    port.SetOnDisconnect([&](TTarnSerialPort*, TCommPort) { events.push_back("disconnect"); });
    tarn::test::SelectPort(port, file.Name(recordedGone ? "" : "?end=remove"));
    port.Open();
    EXPECT_TRUE(port.GetCTS());
    // A send that is heard leaves the removal to the drain that follows it:
    // when the drain fails, the port is known to be faulted, not holding
    // its bytes.
    port.SetOnSend([](TTarnSerialPort*, std::string) {});
    EXPECT_EQ(port.SendString("bye"), 3u);
    EXPECT_FALSE(port.Drain(10000));
    EXPECT_TRUE(port.GetIsFaulted());
    ASSERT_TRUE(WaitUntil([&] { return port.IsConnected() == spNone; }));
    EXPECT_EQ(events, (std::vector<std::string>{"fault", "disconnect"}));
}

INSTANTIATE_TEST_SUITE_P(GoneOrEnd, ReplayRemoval, ::testing::Bool());

}  // namespace

// Frames on a port: OnFrame after the OnReceive of the chunk that completed
// the frame, whatever the chunks; errors; a change of the framing while
// open; ReadFrame and what it leaves in the driver; the quiet line of
// frSilence; SendFrame; and the settings that a framing refuses.
#include <gtest/gtest.h>

#include <future>
#include <memory>
#include <string>
#include <vector>

#include "Tarnserialport.h"
#include "component_test_support.h"
#include "serial_port_test_access.h"
#include "virtual_port.h"

namespace {

using tarn::test::LineAndMode;
using tarn::test::LineKind;
using tarn::test::SelectPort;
using tarn::test::WaitUntil;
using namespace std::string_literals;

struct FramedStream {
    const char* name;
    TFraming framing;
    std::string stream;
    std::vector<std::string> frames;
};

// Each stream written out by hand, not by the encoder under test.
const std::vector<FramedStream>& Streams() {
    static const std::vector<FramedStream> streams = {
        {"Delimiter", frDelimiter, "ab\r\n\r\ncd\r\n", {"ab", "", "cd"}},
        {"FixedLength", frFixedLength, "abcdefghi", {"abc", "def", "ghi"}},
        {"LengthPrefixed",
         frLengthPrefixed,
         "\x00\x02hi\x00\x00\x00\x03"
         "abc"s,
         {"hi", "", "abc"}},
        {"Slip",
         frSlip,
         "\xC0"
         "a\xDB\xDC"
         "b\xC0\xC0"
         "c\xDB\xDD\xC0",
         {"a\xC0"
          "b",
          "c\xDB"}},
        {"Cobs",
         frCobs,
         "\x01\x01\x00\x03"
         "ab\x00"s,
         {"\x00"s, "ab"}},
    };
    return streams;
}

void UseFraming(TTarnSerialPort& port, TFraming framing) {
    port.SetFrameLength(3);
    port.SetFrameLengthField(lf16BitBE);
    port.SetFraming(framing);
}

class Framing : public ::testing::TestWithParam<LineAndMode> {
protected:
    void SetUp() override {
        std::string whyNot;
        line = tarn::test::TestLine::Create(std::get<0>(GetParam()), "VFRAME1", &whyNot);
        ASSERT_TRUE(line) << whyNot;
        tarn::test::ApplyReceiveMode(port, std::get<1>(GetParam()));
        port.SetDelay(5);
        port.SetOnReceive([this](TTarnSerialPort*, std::string chunk) {
            received += chunk;
            events.push_back("R" + chunk);
        });
        port.SetOnFrame([this](TTarnSerialPort*, std::string frame) {
            frames.push_back(frame);
            events.push_back("F" + frame);
        });
        port.SetOnFrameError([this](TTarnSerialPort*, TFrameErrorReason reason, std::string bytes) {
            errors.push_back(std::to_string(reason) + ":" + bytes);
        });
        SelectPort(port, line->Name());
    }

    void Open() {
        port.Open();
        ASSERT_NE(port.IsConnected(), spNone);
    }

    // Sends `bytes` and waits until the component has received them all.
    void Send(const std::string& bytes) {
        const std::size_t target = received.size() + bytes.size();
        ASSERT_TRUE(line->Inject(bytes));
        ASSERT_TRUE(WaitUntil([&] { return received.size() >= target; }));
    }

    std::unique_ptr<tarn::test::TestLine> line;
    TTarnSerialPort port;
    std::string received;
    std::vector<std::string> frames;
    std::vector<std::string> errors;
    std::vector<std::string> events;
};

TEST_P(Framing, EveryFramingGivesTheSameFramesWhereverTheChunksSplit) {
    Open();
    for (const FramedStream& s : Streams()) {
        SCOPED_TRACE(s.name);
        UseFraming(port, s.framing);
        for (std::size_t split = 0; split < s.stream.size(); ++split) {
            SCOPED_TRACE(split);
            frames.clear();
            if (split > 0) Send(s.stream.substr(0, split));
            Send(s.stream.substr(split));
            ASSERT_TRUE(WaitUntil([&] { return frames.size() >= s.frames.size(); }));
            EXPECT_EQ(frames, s.frames);
        }
    }
    EXPECT_TRUE(errors.empty());
}

TEST_P(Framing, AFrameFollowsTheReceiveOfTheChunkThatCompletedIt) {
    port.SetFrameDelimiter(";");
    port.SetFraming(frDelimiter);
    Open();
    Send("a;b");
    Send("c;");
    ASSERT_TRUE(WaitUntil([&] { return frames.size() == 2; }));
    EXPECT_EQ(events, (std::vector<std::string>{"Ra;b", "Fa", "Rc;", "Fbc"}));
}

// The frames of one chunk are delivered together; a handler set by the
// first of them still takes the next.
TEST_P(Framing, AHandlerSetInsideOnFrameTakesTheNextFrame) {
    port.SetFrameDelimiter(";");
    port.SetFraming(frDelimiter);
    port.SetOnReceive(nullptr);  // the events are the second handler's alone
    port.SetOnFrame([this](TTarnSerialPort* sender, std::string frame) {
        frames.push_back(frame);
        sender->SetOnFrame([this](TTarnSerialPort*, std::string next) { events.push_back(next); });
    });
    Open();
    ASSERT_TRUE(line->Inject("a;b;c;"));
    ASSERT_TRUE(WaitUntil([&] { return events.size() == 2; }));
    EXPECT_EQ(frames, std::vector<std::string>{"a"});
    EXPECT_EQ(events, (std::vector<std::string>{"b", "c"}));
}

TEST_P(Framing, WhatCannotBeAFrameIsReportedAndTheNextFrameIsWhole) {
    port.SetMaxFrameLength(4);
    port.SetFraming(frDelimiter);
    Open();
    // A throwing OnReceive costs no frame its event.
    port.SetOnReceive([this](TTarnSerialPort*, std::string chunk) {
        received += chunk;
        throw std::runtime_error("handler failed");
    });
    Send("toolong\r\nok\r\n");
    ASSERT_TRUE(WaitUntil([&] { return frames.size() == 1; }));
    EXPECT_EQ(frames[0], "ok");
    EXPECT_EQ(errors, std::vector<std::string>{std::to_string(feTooLong) + ":toolo"});
}

TEST_P(Framing, AHandlerThatClosesThePortEndsTheFramesOfItsChunk) {
    port.SetFrameDelimiter(";");
    port.SetFraming(frDelimiter);
    port.SetOnFrame([this](TTarnSerialPort* sender, std::string frame) {
        frames.push_back(frame);
        sender->Close();
    });
    Open();
    ASSERT_TRUE(line->Inject("a;b;c;"));
    ASSERT_TRUE(WaitUntil([&] { return port.IsConnected() == spNone; }));
    EXPECT_EQ(frames, std::vector<std::string>{"a"});
}

TEST_P(Framing, AChangeOfTheFramingWhileOpenStartsAfresh) {
    port.SetFraming(frDelimiter);
    Open();
    Send("unfinished");
    port.SetFrameDelimiter(";");
    Send("x;");
    ASSERT_TRUE(WaitUntil([&] { return frames.size() == 1; }));
    EXPECT_EQ(frames[0], "x");
}

TEST_P(Framing, AQuietLineEndsAFrameAndBytesSentTogetherStayOne) {
    port.SetFrameGapMs(20);
    port.SetFraming(frSilence);
    Open();
    Send("first");
    ASSERT_TRUE(WaitUntil([&] { return frames.size() == 1; }));
    Send("second");
    ASSERT_TRUE(WaitUntil([&] { return frames.size() == 2; }));
    EXPECT_EQ(frames, (std::vector<std::string>{"first", "second"}));
}

TEST_P(Framing, SendFrameEncodesForTheFramingInForce) {
    Open();
    port.SetFraming(frCobs);
    EXPECT_EQ(port.SendFrame("a\0b"s), 5u);
    EXPECT_EQ(line->ReadPeer(5, tarn::test::kEventLimit),
              "\x02"
              "a\x02"
              "b\x00"s);
    port.SetFraming(frDelimiter);
    EXPECT_THROW(port.SendFrame("a\r\nb"), ETarnSerialPortException);
    port.SetFrameLength(2);
    port.SetFraming(frFixedLength);
    EXPECT_THROW(port.SendFrame("abc"), ETarnSerialPortException);
}

class ReadFrame : public Framing {
protected:
    void SetUp() override {
        Framing::SetUp();
        port.SetAutoReceive(false);
        port.SetOnReceive(TSendReceiveEvent());
    }
};

TEST_P(ReadFrame, TakesOneFrameAndLeavesTheRestInTheDriver) {
    port.SetFraming(frDelimiter);
    Open();
    ASSERT_TRUE(line->Inject("one\r\ntwo\r\nthr"));
    EXPECT_EQ(port.ReadFrame(30000), "one");
    EXPECT_TRUE(WaitUntil([&] { return port.GetBufferSize() == 8; }));
    EXPECT_EQ(port.ReadFrame(30000), "two");
    // An unfinished frame is kept across the time-out.
    std::string frame = "stale";
    EXPECT_FALSE(port.ReadFrame(50, frame));
    EXPECT_EQ(frame, "");
    ASSERT_TRUE(line->Inject("ee\r\n\r\n"));
    EXPECT_EQ(port.ReadFrame(30000), "three");
    EXPECT_TRUE(port.ReadFrame(30000, frame));
    EXPECT_EQ(frame, "");
}

TEST_P(ReadFrame, EveryFramingGivesTheSameFramesWhereverTheReadsSplit) {
    Open();
    for (const FramedStream& s : Streams()) {
        SCOPED_TRACE(s.name);
        UseFraming(port, s.framing);
        for (std::size_t split = 0; split < s.stream.size(); ++split) {
            SCOPED_TRACE(split);
            std::vector<std::string> got;
            std::string frame;
            // The first part is read before the rest comes, as far as it has
            // arrived; a part that comes late only joins the rest.
            if (split > 0) {
                ASSERT_TRUE(line->Inject(s.stream.substr(0, split)));
            }
            while (port.ReadFrame(5, frame)) got.push_back(frame);
            ASSERT_TRUE(line->Inject(s.stream.substr(split)));
            while (got.size() < s.frames.size() && port.ReadFrame(30000, frame)) {
                got.push_back(frame);
            }
            EXPECT_EQ(got, s.frames);
        }
    }
    EXPECT_TRUE(errors.empty());
}

TEST_P(ReadFrame, ReportsErrorsOnTheCallingThreadAndReadsOn) {
    port.SetFraming(frSlip);
    Open();
    ASSERT_TRUE(
        line->Inject("\xC0"
                     "a\xDB"
                     "x\xC0ok\xC0"));
    EXPECT_EQ(port.ReadFrame(30000), "ok");
    EXPECT_EQ(errors, std::vector<std::string>{std::to_string(feBadEscape) + ":a\xDB"
                                                                             "x"});
}

TEST_P(ReadFrame, AQuietLineEndsAFrame) {
    port.SetFrameGapMs(20);
    port.SetFraming(frSilence);
    Open();
    auto read = std::async(std::launch::async, [this] { return port.ReadFrame(30000); });
    ASSERT_TRUE(line->Inject("all at once"));
    EXPECT_EQ(read.get(), "all at once");
}

const auto kName = tarn::test::LineAndModeName;
INSTANTIATE_TEST_SUITE_P(Lines, Framing, tarn::test::kLinesAndModes, kName);
INSTANTIATE_TEST_SUITE_P(Lines, ReadFrame, tarn::test::kLinesAndModes, kName);

TEST(FramingSettings, AFramingRefusesWhatItCannotTakeAndKeepsWhatItHad) {
    TTarnSerialPort port;
    port.SetFrameLength(0);  // nothing in force checks it yet
    EXPECT_THROW(port.SetFraming(frFixedLength), ETarnSerialPortException);
    EXPECT_EQ(port.GetFraming(), frNone);
    port.SetFrameLength(8);
    port.SetFraming(frFixedLength);
    EXPECT_THROW(port.SetMaxFrameLength(4), ETarnSerialPortException);
    EXPECT_EQ(port.GetMaxFrameLength(), 65536u);

    port.SetFraming(frDelimiter);
    EXPECT_THROW(port.SetNewLine(""), ETarnSerialPortException);
    EXPECT_EQ(port.GetNewLine(), "\r\n");

    // 3.5 characters of 10 bits at 9600 bit/s; fixed above 19200.
    port.SetBaudRate(br009600);
    EXPECT_EQ(TTarnSerialPortTestAccess::FrameGapMicros(port), 3646);
    port.SetBaudRate(br115200);
    EXPECT_EQ(TTarnSerialPortTestAccess::FrameGapMicros(port), 1750);
}

TEST(FramingSend, AFrameSentOnlyInPartIsAFailure) {
    tarn::driver::VirtualPort device("VFRAME2");
    TTarnSerialPort port;
    SelectPort(port, device.Name());
    port.SetFraming(frDelimiter);
    port.Open();
    EXPECT_EQ(port.SendFrame("whole"), 7u);
    device.LimitNextWrite(3);
    EXPECT_THROW(port.SendFrame("cut"), ETarnSerialPortException);
}

}  // namespace

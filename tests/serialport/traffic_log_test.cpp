// Traffic log: records appended to the log file as received, the date and
// time stamp, the failures (a pipe named as the log among them, which fails
// at once instead of holding a read or the receive thread), and the names
// of control characters.
#include <gtest/gtest.h>

#include <atomic>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <string>

#include "Tarnserialport.h"
#include "component_test_support.h"
#include "host_datetime.h"
#include "log_pipe.h"
#include "serial_port_test_access.h"
#include "virtual_port.h"

namespace {

namespace fs = std::filesystem;
namespace host = tarn::host;
using Access = TTarnSerialPortTestAccess;

const char16_t kLogFailure[] = u"Invalid log file name or access denied.";

// Each test gets its own new directory under the system's temporary folder,
// removed again with everything in it.
class TrafficLogFile : public ::testing::Test {
protected:
    void SetUp() override {
        const std::string test = ::testing::UnitTest::GetInstance()->current_test_info()->name();
        std::random_device random;
        do {
            dir_ = fs::temp_directory_path() /
                   ("tarn_traffic_log_" + test + "_" + std::to_string(random()));
        } while (!fs::create_directory(dir_));
    }
    void TearDown() override {
        std::error_code ignored;
        fs::remove_all(dir_, ignored);
    }

    // The component turns names into paths through the ANSI code page; the
    // temporary folder is ASCII on the machines that run the suite.
    static host::UnicodeString Name(const fs::path& path) {
        return host::AnsiToUnicode(path.string());
    }
    static std::string Contents(const fs::path& path) {
        std::ifstream in(path, std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    }
    void ExpectLogFailure() {
        for (bool stamped : {false, true}) {
            port_.SetLogDateTime(stamped);
            try {
                Access::WriteLog(port_, "data");
                ADD_FAILURE() << "no exception, stamped " << stamped;
            } catch (const ETarnSerialPortException& e) {
                EXPECT_EQ(e.Message(), kLogFailure) << e.what();
            }
        }
    }

    fs::path dir_;
    TTarnSerialPort port_;
};

// True when `stamp` is the date, a blank and the time of one moment from
// `before` to `after` in the process's formats. Every whole second of that
// span is tried, so the check holds however long the write took.
bool IsStampBetween(const std::string& stamp, host::TDateTime before, host::TDateTime after) {
    int y = 0, m = 0, d = 0, h = 0, n = 0, s = 0, ms = 0;
    host::DecodeDate(before, y, m, d);
    host::DecodeTime(before, h, n, s, ms);
    const double second = 1.0 / 86400.0;
    const host::TDateTime first = host::EncodeDate(y, m, d) + host::EncodeTime(h, n, s, 0);
    for (int k = 0; k < 86400 && first + k * second <= after; ++k) {
        // The middle of each second, clear of rounding at either edge.
        const host::TDateTime moment = first + (k + 0.5) * second;
        if (stamp ==
            host::UnicodeToAnsi(host::DateToStr(moment) + u" " + host::TimeToStr(moment))) {
            return true;
        }
    }
    return false;
}

TEST_F(TrafficLogFile, UnstampedRecordsRunTogetherInANewFile) {
    const fs::path log = dir_ / "traffic.log";
    port_.SetLogFile(Name(log));
    Access::WriteLog(port_, "AB");
    Access::WriteLog(port_, "CD");
    EXPECT_EQ(Contents(log), "ABCD");
}

TEST_F(TrafficLogFile, StampedRecordIsDateBlankTimeBlankDataAndLineEnd) {
    const fs::path log = dir_ / "traffic.log";
    port_.SetLogFile(Name(log));
    port_.SetLogDateTime(true);
    const host::TDateTime before = host::Now();
    Access::WriteLog(port_, "OK\r\n");
    const host::TDateTime after = host::Now();

    const std::string text = Contents(log);
    const std::string tail = " OK\r\n\r\n";
    ASSERT_GT(text.size(), tail.size());
    ASSERT_EQ(text.substr(text.size() - tail.size()), tail) << text;
    const std::string stamp = text.substr(0, text.size() - tail.size());
    EXPECT_TRUE(IsStampBetween(stamp, before, after)) << stamp;
}

TEST_F(TrafficLogFile, ExistingFileIsAppendedToNeverTruncated) {
    const fs::path log = dir_ / "traffic.log";
    std::ofstream(log, std::ios::binary) << "kept\r\n";
    port_.SetLogFile(Name(log));
    Access::WriteLog(port_, "X");
    port_.SetLogDateTime(true);
    Access::WriteLog(port_, "Y");

    const std::string text = Contents(log);
    ASSERT_EQ(text.substr(0, 7), "kept\r\nX") << text;
    EXPECT_EQ(text.substr(text.size() - 4), " Y\r\n") << text;
}

TEST_F(TrafficLogFile, EachRecordOpensTheNamedFileAfresh) {
    // Nothing may stay open between records: a log removed or renamed by
    // another program is created again, and a new LogFile takes effect at
    // the next record.
    const fs::path log = dir_ / "traffic.log";
    port_.SetLogFile(Name(log));
    Access::WriteLog(port_, "A");
    fs::remove(log);
    Access::WriteLog(port_, "B");
    EXPECT_EQ(Contents(log), "B");

    const fs::path other = dir_ / "other.log";
    port_.SetLogFile(Name(other));
    Access::WriteLog(port_, "C");
    EXPECT_EQ(Contents(log), "B");
    EXPECT_EQ(Contents(other), "C");
}

TEST_F(TrafficLogFile, EveryByteIsWrittenUnchanged) {
    std::string all;
    for (int b = 0; b < 256; ++b) all += static_cast<char>(b);
    const fs::path log = dir_ / "traffic.log";
    port_.SetLogFile(Name(log));
    Access::WriteLog(port_, std::string("A\0B", 3));
    Access::WriteLog(port_, all);
    EXPECT_EQ(Contents(log), std::string("A\0B", 3) + all);
}

TEST_F(TrafficLogFile, ReadsLogTheBytesTheyTookInTheirRecords) {
    tarn::driver::VirtualPort device("VLOGREADS");
    const fs::path log = dir_ / "traffic.log";
    port_.SetLogFile(Name(log));
    port_.SetLogInput(true);
    port_.SetAutoReceive(false);
    tarn::test::SelectPort(port_, device.Name());
    port_.Open();
    device.Inject("ab\r\ncdef\r\nghXY");
    EXPECT_EQ(port_.ReadStringLine(5), "ab");
    EXPECT_EQ(port_.ReadChars(2), "cd");
    EXPECT_EQ(Contents(log), "ab\r\ncd") << "what the reads left is not logged";

    // Stamped, a read of a line or a count writes a record for each byte,
    // a ReadBuffer one for all.
    port_.SetLogDateTime(true);
    const host::TDateTime before = host::Now();
    EXPECT_EQ(port_.ReadStringLine(5), "ef");
    EXPECT_EQ(port_.ReadChars(1), "g");
    EXPECT_EQ(port_.ReadBuffer(), "hXY");
    const host::TDateTime after = host::Now();
    port_.Close();

    const std::string text = Contents(log);
    std::size_t at = 6;
    for (const std::string data : {"e", "f", "\r", "\n", "g", "hXY"}) {
        const std::string tail = " " + data + "\r\n";
        const std::size_t end = text.find(tail, at);
        ASSERT_NE(end, std::string::npos) << "no record of " << data << " in " << text;
        EXPECT_TRUE(IsStampBetween(text.substr(at, end - at), before, after)) << text;
        at = end + tail.size();
    }
    EXPECT_EQ(at, text.size()) << text;
}

TEST_F(TrafficLogFile, UnwritableNamesRaiseTheOneMessage) {
    port_.SetLogFile(Name(dir_ / "missing" / "traffic.log"));
    ExpectLogFailure();
    EXPECT_FALSE(fs::exists(dir_ / "missing"));

    port_.SetLogFile(u"");
    ExpectLogFailure();

    // A directory is never opened as a log nor replaced by one.
    fs::create_directory(dir_ / "folder");
    port_.SetLogFile(Name(dir_ / "folder"));
    ExpectLogFailure();
    EXPECT_TRUE(fs::is_directory(dir_ / "folder"));
}

TEST_F(TrafficLogFile, ANameWithANulNamesNothing) {
    // The system would read the name only up to the NUL.
    const fs::path regular = dir_ / "regular.txt";
    port_.SetLogFile(Name(regular) + host::UnicodeString(u"\0.log", 5));
    ExpectLogFailure();
    EXPECT_FALSE(fs::exists(regular));

    std::ofstream(regular, std::ios::binary) << "kept";
    ExpectLogFailure();
    EXPECT_EQ(Contents(regular), "kept");
}

// The pipe outlives the component, whose teardown the fault would hold.
class TrafficLogPipe : public ::testing::Test {
protected:
    void SetUp() override {
        std::string why;
        pipe_ = tarn::test::LogPipe::Create(&why);
        ASSERT_NE(pipe_, nullptr) << why;
        tarn::test::SelectPort(port_, device_.Name());
        port_.SetLogFile(host::AnsiToUnicode(pipe_->Name()));
        port_.SetLogInput(true);
    }

    std::unique_ptr<tarn::test::LogPipe> pipe_;
    tarn::driver::VirtualPort device_{"VLOGPIPE"};
    TTarnSerialPort port_;
};

TEST_F(TrafficLogPipe, ReadRaisesTheLogMessage) {
    port_.SetAutoReceive(false);
    port_.Open();
    device_.Inject("A");
    try {
        port_.ReadChar();
        ADD_FAILURE() << "the read logged into a pipe";
    } catch (const ETarnSerialPortException& e) {
        EXPECT_EQ(e.Message(), kLogFailure);
    }
    port_.Close();
    EXPECT_FALSE(pipe_->Disarm()) << "the read reached the pipe";
}

TEST_F(TrafficLogPipe, ReceptionGoesOnAndCloseReturns) {
    std::atomic<std::size_t> received{0};
    port_.SetOnReceive([&](TTarnSerialPort*, std::string data) { received += data.size(); });
    port_.Open();
    device_.Inject("AB");
    ASSERT_TRUE(tarn::test::WaitUntil([&] { return received == 2; }));
    // Further polls show that the receive thread came back from the log.
    const std::uint64_t queries = device_.QueueQueries();
    EXPECT_TRUE(tarn::test::WaitUntil([&] { return device_.QueueQueries() >= queries + 2; }));
    port_.Close();
    EXPECT_FALSE(pipe_->Disarm()) << "the receive thread reached the pipe";
}

TEST(TrafficLogControlNames, EveryByteValue) {
    const char* const names[32] = {"<NUL>", "<SOH>", "<STX>", "<ETX>", "<EOT>", "<ENQ>", "<ACK>",
                                   "<BEL>", "<BS>",  "<TAB>", "<LF>",  "<VT>",  "<FF>",  "<CR>",
                                   "<SO>",  "<SI>",  "<DLE>", "<DC1>", "<DC2>", "<DC3>", "<DC4>",
                                   "<NAK>", "<SYN>", "<ETB>", "<CAN>", "<EM>",  "<SUB>", "<ESC>",
                                   "<FS>",  "<GS>",  "<RS>",  "<US>"};
    const TTarnSerialPort port;
    std::string all, expected;
    for (int b = 0; b < 256; ++b) {
        const std::string byte(1, static_cast<char>(b));
        const std::string name = b < 32 ? names[b] : byte;
        EXPECT_EQ(port.ReplaceControlChars(byte), name) << "byte " << b;
        all += byte;
        expected += name;
    }
    EXPECT_EQ(port.ReplaceControlChars(all), expected);
}

TEST(TrafficLogControlNames, NamesStayInPlaceAmongOtherBytes) {
    const TTarnSerialPort port;
    EXPECT_EQ(port.ReplaceControlChars("A\r\nB\x7f"), "A<CR><LF>B\x7f");
    EXPECT_EQ(port.ReplaceControlChars(std::string("X\0YZ", 4)), "X<NUL>YZ");
    EXPECT_EQ(port.ReplaceControlChars(""), "");
}

}  // namespace

// A recording whose file cannot grow any more: a full disk, played here by
// a limit on the size of the files that the process writes. The recording
// ends at its last whole event and says so; the port goes on working.
#include <gtest/gtest.h>

#include <filesystem>
#include <random>
#include <string>

#include "Tarnserialport.h"
#include "component_test_support.h"
#include "file_size_limit.h"
#include "recording_reader.h"
#include "test_line.h"

namespace {

namespace fs = std::filesystem;

class RecordingFullDisk : public ::testing::TestWithParam<tarn::test::LineKind> {};

TEST_P(RecordingFullDisk, EndsAtTheLastWholeEventAndKeepsThePort) {
    std::random_device random;
    const fs::path file =
        fs::temp_directory_path() / ("tarn_full_disk_" + std::to_string(random()) + ".jsonl");
    std::string why;
    const auto line = tarn::test::TestLine::Create(GetParam(), "VFULL1", &why);
    ASSERT_NE(line, nullptr) << why;
    TTarnSerialPort port;
    tarn::test::SelectPort(port, line->Name());
    port.SetRecordFile(file.string());
    port.Open();
    EXPECT_TRUE(port.IsRecording());
    port.SendString("before");
    ASSERT_EQ(line->ReadPeer(6, tarn::test::kEventLimit), "before");

    const std::string block(4096, 'x');
    {
        // Room for part of the next event's line, not for all of it.
        const tarn::test::FileSizeLimit limit(fs::file_size(file) + 1024);
        EXPECT_EQ(port.SendString(block), block.size());
        EXPECT_FALSE(port.IsRecording());
    }
    EXPECT_EQ(line->ReadPeer(block.size(), tarn::test::kEventLimit), block);
    port.SendString("after");
    EXPECT_EQ(line->ReadPeer(5, tarn::test::kEventLimit), "after");
    port.Close();

    std::string error;
    const auto recording = tarn::driver::recording::ReadRecordingFile(file.string(), error);
    fs::remove(file);
    ASSERT_TRUE(recording.has_value()) << error;
    ASSERT_FALSE(recording->events.empty());
    EXPECT_EQ(recording->events.back().data, "before");
}

INSTANTIATE_TEST_SUITE_P(Lines, RecordingFullDisk, tarn::test::kLineKinds,
                         [](const auto& info) { return tarn::test::LineKindName(info.param); });

}  // namespace

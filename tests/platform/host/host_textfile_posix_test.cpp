// Host text file on POSIX: what is not a regular file never opens, whatever
// the open itself would allow.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <string>

#include "host_textfile.h"

namespace {

using namespace tarn::host;

TEST(HostTextFilePosix, OnlyRegularFilesOpen) {
    std::string dir = ::testing::TempDir() + "tarn_textfile_XXXXXX";
    ASSERT_NE(::mkdtemp(&dir[0]), nullptr);
    const std::string fifo = dir + "/fifo";
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    // With a reader present, opening the FIFO for writing succeeds at once;
    // only the look at what was opened refuses it.
    const int reader = ::open(fifo.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    ASSERT_GE(reader, 0);

    for (const std::string& path : {fifo, std::string("/dev/null"), dir}) {
        TextFile f;
        ASSERT_TRUE(f.Assign(AnsiToUnicode(path)));
        EXPECT_FALSE(f.Append()) << path;
        EXPECT_FALSE(f.Rewrite()) << path;
    }

    ::close(reader);
    std::remove(fifo.c_str());
    ::rmdir(dir.c_str());
}

}  // namespace

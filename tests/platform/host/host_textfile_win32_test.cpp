// Host text file under Windows: only files on a disk open; a pipe, with or
// without a server waiting, and the NUL device are refused without waiting.
#include <gtest/gtest.h>
#include "host_windows.h"

#include <string>

#include "host_textfile.h"

namespace {

using namespace tarn::host;

TEST(HostTextFileWin32, OnlyFilesOnADiskOpen) {
    const std::string pipe = "\\\\.\\pipe\\tarn_textfile_" + std::to_string(GetCurrentProcessId());
    // An instance waiting for a client: opening the pipe connects at once,
    // and only the type of what was opened refuses it.
    const HANDLE server = CreateNamedPipeA(pipe.c_str(), PIPE_ACCESS_INBOUND,
                                           PIPE_TYPE_BYTE | PIPE_WAIT, 1, 0, 4096, 0, nullptr);
    ASSERT_NE(server, INVALID_HANDLE_VALUE);

    for (const std::string& path : {pipe, pipe + "_none", std::string("NUL")}) {
        TextFile f;
        ASSERT_TRUE(f.Assign(AnsiToUnicode(path)));
        EXPECT_FALSE(f.Append()) << path;
        EXPECT_FALSE(f.Rewrite()) << path;
    }
    CloseHandle(server);
}

}  // namespace

// The Unix side of a Windows test under Wine: Wine's conversions between
// Unix and Windows file names, shell scripts started through Wine's
// /bin/sh, and folders of their own for the files those scripts leave.
// The pseudo-terminal pairs (pty_pair_win32.cpp) and the ser2net servers
// (ser2net_server_win32.cpp) are made this way.
#pragma once

#include <string>
#include <vector>

namespace tarn::test::wine {

// True when Wine's file name conversions are there, that is, under Wine.
bool Available();

// Wine's names for a file: the Windows name of a Unix path, and the other
// way round. Empty when there is none. Unix paths are UTF-8.
std::wstring DosName(const std::string& unixName);
std::string UnixName(const std::wstring& dosName);

std::string Utf8(const std::wstring& text);
std::wstring FromUtf8(const std::string& text);

bool Exists(const std::wstring& path);

// The file's text without surrounding white space; empty when it cannot be
// read.
std::string ReadWholeFile(const std::wstring& path);

// Starts `/bin/sh script arguments...`. Wine runs a Unix program without
// giving the caller a process handle, so callers wait for the files that
// the script leaves instead.
bool RunShellScript(const std::string& script, const std::vector<std::string>& arguments,
                    std::string* whyNot);

// Creates a new, empty folder for one pair or server, in $TARN_WINE_PTY_DIR,
// which scripts/wine-run.sh makes for each run and clears afterwards
// (stopping the process whose id a folder's "pid" file holds), or else in a
// "tarn-pty" folder of the Windows temporary folder.
bool NewWorkFolder(std::string& unixDir, std::wstring& dosDir, std::string* whyNot);

}  // namespace tarn::test::wine

# Cross build for Windows with Debian's mingw-w64 (i686, POSIX thread model,
# which std::thread and std::mutex need). Tests run under Wine through the
# cross-compiling emulator.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR i686)
set(TARN_MINGW_TRIPLE i686-w64-mingw32)
set(CMAKE_C_COMPILER ${TARN_MINGW_TRIPLE}-gcc-posix)
set(CMAKE_CXX_COMPILER ${TARN_MINGW_TRIPLE}-g++-posix)
set(CMAKE_RC_COMPILER ${TARN_MINGW_TRIPLE}-windres)
set(CMAKE_FIND_ROOT_PATH /usr/${TARN_MINGW_TRIPLE})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
set(CMAKE_CROSSCOMPILING_EMULATOR ${CMAKE_CURRENT_LIST_DIR}/../scripts/wine-run.sh win32)

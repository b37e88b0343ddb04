// A pipe named as the traffic log, for the tests that the log refuses it at
// once: natively a FIFO, whose open for writing would wait for a reader;
// under Windows a named pipe with an instance free, which would take the
// records.
#pragma once

#include <memory>
#include <string>

namespace tarn::test {

class LogPipe {
public:
    // log_pipe_posix.cpp, log_pipe_win32.cpp. Null, saying why in
    // `whyNot`, when the system made none.
    static std::unique_ptr<LogPipe> Create(std::string* whyNot);

    virtual ~LogPipe() = default;
    // The name to give as LogFile, in the ANSI code page.
    virtual std::string Name() const = 0;
    // Ends the pipe's watch; true when a log writer got through to it or
    // was held waiting for a reader.
    virtual bool Disarm() = 0;
};

}  // namespace tarn::test

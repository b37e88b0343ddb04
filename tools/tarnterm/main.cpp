// tarnterm: a serial terminal built on TTarnSerialPort. Everything but the
// system console lives in the tarnterm_core library.
#include <cstdlib>
#include <exception>
#include <memory>
#include <string>

#include "console.h"
#include "exit_status.h"
#include "program.h"

int main(int argc, char** argv) {
    std::unique_ptr<tarnterm::Console> console = tarnterm::CreateSystemConsole();
    try {
        const std::string config = tarnterm::ConfigFilePath(
            [](const char* name) -> const char* { return std::getenv(name); });
        int status = tarnterm::RunProgram(tarnterm::ProgramArguments(argc, argv), *console, config);
        // What was written there is not all that the program was told to
        // write.
        if (console->FileLimitReached()) {
            console->Write(tarnterm::Stream::kError,
                           "tarnterm: a file reached the system's limit on file size (ulimit -f) "
                           "and is cut short\n");
            if (status == tarnterm::kExitOk) status = tarnterm::kExitFailure;
        }
        if (const int signal = console->StopSignal(); signal != 0) {
            // The console's mode and signal handlers go back first.
            console.reset();
            tarnterm::EndBySignal(signal);
        }
        return status;
    } catch (const std::exception& e) {
        // Whatever escaped is still reported as one line, not as a crash.
        console->RestoreMode();
        console->Write(tarnterm::Stream::kError,
                       std::string("tarnterm: unexpected error: ") + e.what() + "\n");
        return tarnterm::kExitFailure;
    }
}

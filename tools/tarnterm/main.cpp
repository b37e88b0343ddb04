// tarnterm: a serial terminal built on TTarnSerialPort. Everything but the
// system console lives in the tarnterm_core library.
#include <exception>
#include <memory>
#include <string>

#include "console.h"
#include "exit_status.h"
#include "program.h"

int main(int argc, char** argv) {
    const std::unique_ptr<tarnterm::Console> console = tarnterm::CreateSystemConsole();
    try {
        return tarnterm::RunProgram(tarnterm::ProgramArguments(argc, argv), *console);
    } catch (const std::exception& e) {
        // Whatever escaped is still reported as one line, not as a crash.
        console->RestoreMode();
        console->Write(tarnterm::Stream::kError,
                       std::string("tarnterm: unexpected error: ") + e.what() + "\n");
        return tarnterm::kExitFailure;
    }
}

// A simulated instrument at the far end of a virtual port, for --demo: it
// answers a few commands, streams readings, drives its modem lines as a
// null-modem cable would, and can be unplugged and plugged back in.
//
// Commands, each ended by CR, LF or both:
//   *IDN?        identification
//   MEAS?        one reading
//   STREAM ON    a reading every period, with DCD on, until STREAM OFF
//   RING         raises RING until the next command
//   HELP         the list of commands
// Lines: DSR follows the host's DTR and CTS the host's RTS.
//
// A command line longer than kLongestCommand is answered with an error at
// once and the rest of it, up to its end, is discarded. Answers go into the
// port's input queue as far as it has room; the rest waits in the
// instrument, which meanwhile takes no more commands and holds the host's
// output in its queue, as a device that stops its host by flow control.
// Each opening of the port meets an instrument fresh from power-up: what an
// earlier opening wrote and left unanswered is dropped.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <mutex>
#include <string>
#include <thread>

#include "virtual_port.h"

namespace tarnterm {

class DemoInstrument {
public:
    static constexpr const char* kDefaultPortName = "TARNDEMO";
    static constexpr const char* kIdentity = "Tarnwerk,TT-100 Demo Instrument,SN0001,1.0";
    static constexpr std::size_t kLongestCommand = 256;

    explicit DemoInstrument(const std::string& portName = kDefaultPortName,
                            std::chrono::milliseconds readingPeriod = std::chrono::seconds(1));
    // Stops the instrument and removes its port.
    ~DemoInstrument();
    DemoInstrument(const DemoInstrument&) = delete;
    DemoInstrument& operator=(const DemoInstrument&) = delete;

    const std::string& PortName() const { return port_.Name(); }
    // The instrument's end of the port, for tests that look at its queues.
    const tarn::driver::VirtualPort& Port() const { return port_; }

    // Pulls the plug as a USB adapter is pulled, and puts it back. Any
    // thread.
    void Unplug() { port_.Remove(); }
    void Plug() { port_.Plug(); }
    bool Plugged() const { return port_.IsPresent(); }

    // While paused the instrument takes nothing that is written to it, as
    // one busy measuring: the bytes wait on the line in the order they
    // came. Pausing returns once the instrument has stopped. For tests that
    // must order what it sees. Any thread.
    void Pause(bool paused);

private:
    // The instrument's own thread, and what it calls.
    void Run();
    void StartAfresh(int opening);
    // Answers the lines in unread_ until an answer has to wait.
    void ReadCommands();
    void Answer(const std::string& command);
    // Sends to the host what its queue takes and keeps the rest pending.
    // REQUIRES: nothing pending.
    void Send(std::string text);
    void HoldHostOutput(bool hold);
    std::string NextReading();

    tarn::driver::VirtualPort port_;
    const std::chrono::milliseconds readingPeriod_;
    std::atomic<bool> stop_{false};
    std::mutex pauseMutex_;
    std::condition_variable pauseChanged_;
    bool paused_ = false;   // guarded by pauseMutex_
    bool stopped_ = false;  // guarded by pauseMutex_: the thread waits for the end of a pause
    // State of the instrument thread only.
    int opening_ = -1;          // the port's opening that it serves
    std::string line_;          // the command line so far
    bool lineTooLong_ = false;  // answered; the rest of the line is dropped
    std::string unread_;        // taken from the line, not yet looked at
    std::string pending_;       // the part of an answer that the host has no room for
    bool holding_ = false;      // the host's output is held
    bool streaming_ = false;
    bool ringing_ = false;
    int readings_ = 0;
    std::thread thread_;
};

}  // namespace tarnterm

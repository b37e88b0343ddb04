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
#pragma once

#include <atomic>
#include <chrono>
#include <string>
#include <thread>

#include "virtual_port.h"

namespace tarnterm {

class DemoInstrument {
public:
    static constexpr const char* kDefaultPortName = "TARNDEMO";
    static constexpr const char* kIdentity = "Tarnwerk,TT-100 Demo Instrument,SN0001,1.0";

    explicit DemoInstrument(const std::string& portName = kDefaultPortName,
                            std::chrono::milliseconds readingPeriod = std::chrono::seconds(1));
    // Stops the instrument and removes its port.
    ~DemoInstrument();
    DemoInstrument(const DemoInstrument&) = delete;
    DemoInstrument& operator=(const DemoInstrument&) = delete;

    const std::string& PortName() const { return port_.Name(); }

    // Pulls the plug as a USB adapter is pulled, and puts it back. Any
    // thread.
    void Unplug() { port_.Remove(); }
    void Plug() { port_.Plug(); }
    bool Plugged() const { return port_.IsPresent(); }

private:
    // The instrument's own thread.
    void Run();
    void Answer(const std::string& command);
    std::string NextReading();

    tarn::driver::VirtualPort port_;
    const std::chrono::milliseconds readingPeriod_;
    std::atomic<bool> stop_{false};
    // State of the instrument thread only.
    bool streaming_ = false;
    bool ringing_ = false;
    int readings_ = 0;
    std::thread thread_;
};

}  // namespace tarnterm

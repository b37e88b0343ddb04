// TSenderThread: runs one send of the component on a short-lived thread of
// its own and frees itself afterwards.
#pragma once

#include <cstdint>

#include "Tarnserialport.h"
#include "host_thread.h"

class TSenderThread final : public tarn::host::TThread {
public:
    // Counts the send as running on `owner` and starts a thread that sends
    // a copy of `buffer` with SendString (`sendType` 0) or SendChars (any
    // other value). Raises EThreadError, with nothing counted, when the
    // system cannot create a thread. Any thread.
    static void Launch(TTarnSerialPort* owner, const TTarnSerialPort::AnsiString& buffer,
                       std::int32_t sendType);

protected:
    void Execute() override;

private:
    friend class tarn::host::TThread;  // TThread::Create constructs it.

    TSenderThread(TTarnSerialPort* AOwner, const TTarnSerialPort::AnsiString& ABuffer,
                  std::int32_t AType);

    // Ends the count that Launch began and wakes a destructor that waits
    // for it. The last touch of the component by a sender.
    static void SenderEnded(TTarnSerialPort* owner);

    TTarnSerialPort* Owner;              // not owned; outlives this thread
    TTarnSerialPort::AnsiString Buffer;  // this thread's own copy
    std::int32_t SendType;
};

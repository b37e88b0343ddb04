// TSenderThread: runs one send of the component on a short-lived thread of
// its own and frees itself afterwards.
#pragma once

#include <functional>

#include "Tarnserialport_p.h"
#include "host_thread.h"

class TSenderThread final : public tarn::host::TThread {
public:
    // Counts the send as running on `owner` and starts a thread that runs
    // `send`, which holds its own copy of the bytes. Raises EThreadError,
    // with nothing counted, when the system cannot create a thread. Any
    // thread.
    static void Launch(TTarnSerialPortPrivate& owner, std::function<void()> send);

protected:
    void Execute() override;

private:
    friend class tarn::host::TThread;  // TThread::Create constructs it.

    TSenderThread(TTarnSerialPortPrivate* AOwner, std::function<void()> ASend);

    TTarnSerialPortPrivate* Owner;  // not owned; outlives this thread
    std::function<void()> Send;
};

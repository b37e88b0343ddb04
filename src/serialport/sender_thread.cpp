// Background sends: each runs one send on a short-lived thread of its own.
// The component counts the sends it started, and its destructor waits for
// them, so a sender thread never reaches a component that has gone.
#include "sender_thread.h"

TSenderThread::TSenderThread(TTarnSerialPort* AOwner, const TTarnSerialPort::AnsiString& ABuffer,
                             std::int32_t AType)
    : TThread(false), Owner(AOwner), Buffer(ABuffer), SendType(AType) {
    SetFreeOnTerminate(true);
}

void TSenderThread::Launch(TTarnSerialPort* owner, const TTarnSerialPort::AnsiString& buffer,
                           std::int32_t sendType) {
    // Counted before the thread exists, so that a destructor that starts
    // right after this call already waits for it.
    {
        std::lock_guard<std::mutex> lock(owner->FSendersLock);
        ++owner->FActiveSenders;
    }
    try {
        tarn::host::TThread::Create<TSenderThread>(owner, buffer, sendType);
    } catch (...) {
        SenderEnded(owner);
        throw;
    }
}

void TSenderThread::SenderEnded(TTarnSerialPort* owner) {
    // Notified under the lock: once it is released the waiting destructor
    // may return and the condition variable be gone.
    std::lock_guard<std::mutex> lock(owner->FSendersLock);
    --owner->FActiveSenders;
    owner->FSendersDone.notify_all();
}

void TSenderThread::Execute() {
    try {
        if (SendType == 0) {
            Owner->SendString(Buffer);
        } else {
            Owner->SendChars(Buffer);
        }
    } catch (...) {
        // Nobody waits for the result of a background send, so its failure
        // (the port is not open, or the send was turned into that failure)
        // ends it quietly instead of being kept as the thread's exception.
    }
    SenderEnded(Owner);
    // From here on the component may be gone; the thread frees itself.
}

void TTarnSerialPort::SendStringOnNewThread(const AnsiString& str) {
    TSenderThread::Launch(this, str, 0);
}

void TTarnSerialPort::SendCharsOnNewThread(const AnsiString& str) {
    TSenderThread::Launch(this, str, 1);
}

void TTarnSerialPort::WaitForSenders() {
    std::unique_lock<std::mutex> lock(FSendersLock);
    FSendersDone.wait(lock, [this] { return FActiveSenders == 0; });
}

// Background sends: each runs one send on a short-lived thread of its own.
// The component counts the sends it started, and its destructor waits for
// them, so a sender thread never reaches a component that has gone.
#include <utility>

#include "sender_thread_p.h"

TSenderThread::TSenderThread(TTarnSerialPortPrivate* AOwner, std::function<void()> ASend)
    : TThread(false), Owner(AOwner), Send(std::move(ASend)) {
    SetFreeOnTerminate(true);
}

void TSenderThread::Launch(TTarnSerialPortPrivate& owner, std::function<void()> send) {
    // Counted before the thread exists, so that a destructor that starts
    // right after this call already waits for it.
    owner.SenderStarted();
    try {
        tarn::host::TThread::Create<TSenderThread>(&owner, std::move(send));
    } catch (...) {
        owner.SenderEnded();
        throw;
    }
}

void TSenderThread::Execute() {
    try {
        Send();
    } catch (...) {
        // Nobody waits for the result of a background send, so its failure
        // (the port is not open, or the send was turned into that failure)
        // ends it quietly instead of being kept as the thread's exception.
    }
    // The last touch of the component by a sender; from here on the
    // component may be gone, and the thread frees itself.
    Owner->SenderEnded();
}

void TTarnSerialPort::SendStringOnNewThread(const AnsiString& str) {
    TSenderThread::Launch(*d, [this, str] { SendString(str); });
}

void TTarnSerialPort::SendCharsOnNewThread(const AnsiString& str) {
    TSenderThread::Launch(*d, [this, str] { SendChars(str); });
}

void TTarnSerialPortPrivate::SenderStarted() {
    std::lock_guard<std::mutex> lock(FSendersLock);
    ++FActiveSenders;
}

void TTarnSerialPortPrivate::SenderEnded() {
    // Notified under the lock: once it is released the waiting destructor
    // may return and the condition variable be gone.
    std::lock_guard<std::mutex> lock(FSendersLock);
    --FActiveSenders;
    FSendersDone.notify_all();
}

void TTarnSerialPortPrivate::WaitForSenders() {
    std::unique_lock<std::mutex> lock(FSendersLock);
    FSendersDone.wait(lock, [this] { return FActiveSenders == 0; });
}

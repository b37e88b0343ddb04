// Where received bytes go: the books that every driver read keeps (the
// counts, the last read buffer, the whole history, the log), the
// announcements of bytes left for the application's reads, and the
// deliveries of the events to the handlers.
#include <new>

#include "Tarnserialport_p.h"

bool TTarnSerialPortPrivate::RecordRead(const AnsiString& bytes, TReader reader,
                                        const std::function<bool()>& handOn) {
    // The count first, so that the receive thread never announces these
    // bytes again.
    if (reader != TReader::ReceiveThread) FReadBytes += static_cast<std::uint32_t>(bytes.size());
    {
        std::lock_guard<std::mutex> lock(FLock);
        // A read of single bytes leaves the last one here.
        if (reader == TReader::ApplicationByBytes && !bytes.empty()) {
            FReadBuffer.assign(1, bytes.back());
        } else {
            FReadBuffer = bytes;
        }
        if (FKeepEntireBuffer) {
            try {
                FEntireBuffer += bytes;
            } catch (const std::bad_alloc&) {
                // No memory for the whole history: start it afresh, and
                // release what it held, and still complete the read.
                AnsiString().swap(FEntireBuffer);
            }
        }
    }
    // After a false hand-on the component may be gone: return without a
    // look at it.
    if (handOn && !handOn()) return false;
    if (FLogInput) WriteLog(bytes, reader == TReader::ApplicationByBytes);
    return true;
}

void TTarnSerialPortPrivate::SetLastReadBuffer(const AnsiString& line) {
    std::lock_guard<std::mutex> lock(FLock);
    FReadBuffer = line;
}

bool TTarnSerialPortPrivate::AnnounceWaiting(std::uint32_t readBefore, std::uint32_t waiting) {
    const std::uint32_t total = readBefore + waiting;
    if (total <= FSignaledBytes) return false;
    FSignaledBytes = total;
    return true;
}

bool TTarnSerialPortPrivate::UpdateLineStatus(TLineStatusSet lines) {
    if (lines.Bits() == FLineStatus.load()) return false;
    FLineStatus = lines.Bits();
    return true;
}

// The deliveries read the handler at the moment they run (on the main
// thread when synchronized), and call nothing for a component that is being
// destroyed.
void TTarnSerialPortPrivate::DeliverReceive(const AnsiString& chunk) const {
    if (FDestroying) return;
    const TSendReceiveEvent handler = q->GetOnReceive();
    if (handler.Assigned()) handler(q, chunk);
}

void TTarnSerialPortPrivate::DeliverLineStatus(TLineStatusSet lines) const {
    if (FDestroying) return;
    const TLineStatusEvent handler = q->GetOnLineStatusChange();
    if (handler.Assigned()) handler(q, lines);
}

void TTarnSerialPortPrivate::DeliverConnectionEvent(TConnectionEvent event, TCommPort port) const {
    if (FDestroying) return;
    switch (event) {
        case TConnectionEvent::Connect: {
            const TConnectEvent handler = q->GetOnConnect();
            if (handler.Assigned() && port != spNone) handler(q, port);
            return;
        }
        case TConnectionEvent::Disconnect: {
            const TConnectEvent handler = q->GetOnDisconnect();
            if (handler.Assigned() && port != spNone) handler(q, port);
            return;
        }
        case TConnectionEvent::Fault: {
            const TConnectEvent handler = q->GetOnFault();
            if (handler.Assigned()) handler(q, port);
            return;
        }
    }
}

// The steps of a driver read, alike for every reader: the books (the
// counts, the last read buffer, the whole history) and the log. The receive
// thread runs them around its delivery in TComThread::ReceiveChunk, the
// synchronous reads in their ReadWaiting. Also the announcements of bytes
// left for the application's reads, and the deliveries of the events, each
// of which fetches its own handler.
#include <cstring>
#include <new>
#include <utility>

#include "Tarnserialport_p.h"

namespace {

// `to` := `bytes`, which lie elsewhere. The last read buffer is replaced
// on every read, mostly by as many bytes as it held (lines of one length,
// chunks of one size): then only the bytes are copied.
void Replace(std::string& to, std::string_view bytes) {
    if (bytes.size() > to.capacity()) {
        to.assign(bytes.data(), bytes.size());
        return;
    }
    to.resize(bytes.size());
    if (!bytes.empty()) std::memcpy(&to[0], bytes.data(), bytes.size());
}

}  // namespace

void TTarnSerialPortPrivate::KeepReadBooks(std::string_view bytes, TReader reader,
                                           const std::string_view* completed) {
    // The count first, so that the receive thread never announces these
    // bytes again. It changes only in a hold of the input, so a store that
    // publishes it does, without the cost of an atomic addition.
    if (reader != TReader::ReceiveThread) {
        FReadBytes.store(
            FReadBytes.load(std::memory_order_relaxed) + static_cast<std::uint32_t>(bytes.size()),
            std::memory_order_release);
    }
    // A read of single bytes leaves the last one here, or the line that it
    // completed.
    if (completed != nullptr) {
        Replace(FReadBuffer, *completed);
    } else if (reader == TReader::ApplicationByBytes && !bytes.empty()) {
        Replace(FReadBuffer, bytes.substr(bytes.size() - 1));
    } else {
        Replace(FReadBuffer, bytes);
    }
    if (!FKeepEntireBuffer) return;
    try {
        FEntireBuffer.append(bytes.data(), bytes.size());
    } catch (const std::bad_alloc&) {
        // No memory for the whole history: start it afresh, and release
        // what it held, and still complete the read.
        AnsiString().swap(FEntireBuffer);
    }
}

void TTarnSerialPortPrivate::LogRead(std::string_view bytes, TReader reader) {
    if (FLogInput) WriteLog(AnsiString(bytes), reader == TReader::ApplicationByBytes);
}

void TTarnSerialPortPrivate::SetLastReadBuffer(const AnsiString& line) {
    std::lock_guard<std::mutex> lock(FInputLock);
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
void TTarnSerialPortPrivate::DeliverReceive(AnsiString chunk) const {
    if (FDestroying) return;
    const TSendReceiveEvent handler = Guarded(FOnReceive);
    if (handler.Assigned()) handler(q, std::move(chunk));
}

bool TTarnSerialPortPrivate::DeliverSend(const char* data, std::uint32_t count) const {
    const TSendReceiveEvent handler = Guarded(FOnSend);
    if (!handler.Assigned()) return false;
    if (!FDestroying) handler(q, AnsiString(data, count));
    return true;
}

void TTarnSerialPortPrivate::DeliverLineStatus(TLineStatusSet lines) const {
    if (FDestroying) return;
    const TLineStatusEvent handler = Guarded(FOnLineStatusChange);
    if (handler.Assigned()) handler(q, lines);
}

void TTarnSerialPortPrivate::DeliverConnectionEvent(TConnectionEvent event, TCommPort port) const {
    if (FDestroying) return;
    switch (event) {
        case TConnectionEvent::Connect: {
            const TConnectEvent handler = Guarded(FOnConnect);
            if (handler.Assigned() && port != spNone) handler(q, port);
            return;
        }
        case TConnectionEvent::Disconnect: {
            const TConnectEvent handler = Guarded(FOnDisconnect);
            if (handler.Assigned() && port != spNone) handler(q, port);
            return;
        }
        case TConnectionEvent::Fault: {
            const TConnectEvent handler = Guarded(FOnFault);
            if (handler.Assigned()) handler(q, port);
            return;
        }
    }
}

// RecordFile: the recording of the port's sessions, which the driver makes
// (StartRecording in serial_driver.h); here only when it starts and ends.
#include "Tarnserialport.h"
#include "Tarnserialport_p.h"
#include "com_thread_p.h"
#include "host_format.h"
#include "host_system_error.h"
#include "host_textfile.h"

namespace drv = tarn::driver;
using tarn::host::AnsiToUnicode;

bool TTarnSerialPortPrivate::StartRecordingOnOpen(HANDLE handle, const AnsiString& port) {
    const AnsiString path = Guarded(FRecordFile);
    return path.empty() || drv::StartRecording(handle, path, port, drv::RecordingFrom::Opening);
}

void TTarnSerialPortPrivate::RaiseRecordFailure(const AnsiString& port, const AnsiString& path,
                                                std::uint32_t error) {
    // No system error code: the file's is not the port's, and a caller
    // that reads ERROR_ACCESS_DENIED as a busy port would be misled, as
    // for a log file that cannot be written.
    std::string why;
    if ((error & tarn::host::kDescribedErrorBit) != 0 &&
        tarn::host::DescribedErrorText(error, why)) {
        throw ETarnSerialPortException(AnsiToUnicode(why));
    }
    // The advice fits what the name stands for: only a regular file is
    // recorded into.
    const tarn::host::UnicodeString name = AnsiToUnicode(path);
    const char16_t* format =
        u"Cannot record %s to %s. The file cannot be created: check that its folder exists "
        u"and that it may be written there.";
    if (tarn::host::FileExists(name)) {
        format =
            u"Cannot record %s to %s. The file cannot be written: check that it is a plain "
            u"file, not a device or a pipe, and that it may be written.";
    } else if (tarn::host::IdentityOfFile(name)) {
        format = u"Cannot record %s to %s. It is a folder: name a file in it.";
    }
    throw ETarnSerialPortException(tarn::host::Format(format, {AnsiToUnicode(port), name}));
}

TTarnSerialPort::AnsiString TTarnSerialPort::GetRecordFile() const {
    return d->Guarded(d->FRecordFile);
}

void TTarnSerialPort::SetRecordFile(const AnsiString& Value) {
    // The open connection, taken in one look, so that the name it was
    // opened under goes with its handle.
    HANDLE handle = drv::INVALID_HANDLE_VALUE;
    AnsiString port;
    {
        std::lock_guard<std::mutex> lock(d->FLock);
        if (d->ComThread != nullptr) {
            handle = d->ComThread->GetPortHandle();
            port = d->ComThread->OpenedName();
        }
    }
    if (handle != drv::INVALID_HANDLE_VALUE) {
        // A new file takes over from the old one only once it is there: a
        // name that fails leaves the recording as it was, unless it names
        // the file of the recording itself, which is given up first.
        const bool started =
            Value.empty() ? drv::StopRecording(handle)
                          : drv::StartRecording(handle, Value, port, drv::RecordingFrom::Now);
        // A handle closed meanwhile has no session left to record.
        if (!started && drv::GetLastError() != drv::ERROR_INVALID_HANDLE) {
            TTarnSerialPortPrivate::RaiseRecordFailure(port, Value, drv::GetLastError());
        }
    }
    std::lock_guard<std::mutex> lock(d->FLock);
    d->FRecordFile = Value;
}

bool TTarnSerialPort::IsRecording() const { return drv::IsRecording(d->PortHandle()); }

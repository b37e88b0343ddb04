// Traffic log: received data appended to the LogFile, optionally stamped
// with the local date and time, and the readable names of control
// characters.
#include "Tarnserialport.h"
#include "Tarnserialport_p.h"
#include "host_datetime.h"
#include "host_textfile.h"

namespace host = tarn::host;

namespace {

// Names of the bytes 0 to 31, indexed by the byte.
const char* const kControlNames[32] = {
    "<NUL>", "<SOH>", "<STX>", "<ETX>", "<EOT>", "<ENQ>", "<ACK>", "<BEL>",
    "<BS>",  "<TAB>", "<LF>",  "<VT>",  "<FF>",  "<CR>",  "<SO>",  "<SI>",
    "<DLE>", "<DC1>", "<DC2>", "<DC3>", "<DC4>", "<NAK>", "<SYN>", "<ETB>",
    "<CAN>", "<EM>",  "<SUB>", "<ESC>", "<FS>",  "<GS>",  "<RS>",  "<US>"};

// Every log failure reports this one text; the I/O error behind it is not
// kept, since the caller can do nothing different for any of them.
[[noreturn]] void ThrowLogFailure() {
    throw ETarnSerialPortException("Invalid log file name or access denied.");
}

}  // namespace

TTarnSerialPort::AnsiString TTarnSerialPort::ReplaceControlChars(const AnsiString& strInput) const {
    AnsiString result;
    result.reserve(strInput.size());
    for (const char c : strInput) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte < 32) {
            result += kControlNames[byte];
        } else {
            result += c;
        }
    }
    return result;
}

void TTarnSerialPortPrivate::WriteLog(const AnsiString& data, bool recordPerByte) {
    // The name is copied under the lock once, so that a LogFile changed by
    // another thread meanwhile cannot split one record across two files.
    const UnicodeString name = Guarded(FLogFile);

    // An empty name, or one with a NUL that would cut it short, fails in
    // Assign: the record has nowhere sensible to go.
    host::TextFile file;
    if (!file.Assign(name)) ThrowLogFailure();
    // The host's append never creates a file, so a missing one is created
    // here; an existing one is only ever appended to. Only a regular file
    // opens: a FIFO without a reader would otherwise hold this thread, the
    // receive thread or a read, for good.
    const bool opened = host::FileExists(name) ? file.Append() : file.Rewrite();
    if (!opened) ThrowLogFailure();

    AnsiString record;
    if (FLogDateTime) {
        // One clock reading for both texts, so that a record written at
        // midnight cannot pair one day's date with the next day's time.
        const host::TDateTime now = host::Now();
        const AnsiString dateText = host::UnicodeToAnsi(host::DateToStr(now));
        const AnsiString timeText = host::UnicodeToAnsi(host::TimeToStr(now));
        const AnsiString stamp = dateText + " " + timeText + " ";
        if (recordPerByte) {
            // The bytes came in one driver read, so they share its moment.
            record.reserve(data.size() * (stamp.size() + 3));
            for (const char byte : data) {
                record += stamp;
                record += byte;
                record += "\r\n";
            }
        } else {
            record = stamp + data + "\r\n";
        }
    } else {
        record = data;
    }

    // The file is closed after every record, so nothing stays open between
    // reads and another program may read or rotate the log at any time. On
    // a failed write the destructor closes the file.
    if (!file.Write(record)) ThrowLogFailure();
    if (!file.Close()) ThrowLogFailure();
}

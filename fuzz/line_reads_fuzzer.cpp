// The end-sequence matcher of the synchronous line reads, driven through the
// component on a virtual port: the input gives the end sequences, the
// MaxLineLength and the bytes that arrive. A read is made only when the
// bytes queued decide how it ends, so that it never waits; what remains is
// drained at the end. Every read must take exactly the bytes its rule says
// and return the part before the end sequence, so that the results, the
// end sequences, the bytes a limit drops and the drained rest add up to
// the bytes that arrived.
//
// Input: an options byte (bit 0: a time-out of 1 s instead of none; bit 1:
// ReadStringLine with the first entry as NewLine; bit 2: drain with
// ReadBuffer instead of ReadChars), MaxLineLength as a signed byte, the
// entry count (modulo 8), then each entry as a length byte (low four bits;
// bit 7 adds a character that no byte stands for, so the entry never
// matches) and its bytes. The rest is the data.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "Tarnserialport.h"
#include "fuzz_check.h"
#include "host_stringlist.h"
#include "host_strings.h"
#include "virtual_port.h"

namespace {

using tarn::fuzz::Quoted;
using tarn::fuzz::Require;

// One open component on its own virtual port for the whole run. Events run
// on the receive thread, which with AutoReceive off only announces bytes
// and has no handler to call.
struct Line {
    tarn::driver::VirtualPort device{"FUZZ1"};
    TTarnSerialPort port;

    Line() {
        port.SetNeedSynchronization(false);
        port.SetAutoReceive(false);
        port.SetCustomPortName(device.Name());
        port.SetPort(spCustom);
        port.Open();
        Require(port.IsConnected() == spCustom, "the virtual port opens");
    }
};

Line& TheLine() {
    // Never destroyed: the receive thread runs until the process ends.
    static Line* line = new Line;
    return *line;
}

struct Entry {
    std::string bytes;
    bool matches = true;  // false: holds a character outside the code page
};

struct Input {
    const std::uint8_t* data;
    std::size_t size;

    std::uint8_t Byte() {
        if (size == 0) return 0;
        --size;
        return *data++;
    }
    std::string Bytes(std::size_t count) {
        if (count > size) count = size;
        std::string bytes(reinterpret_cast<const char*>(data), count);
        data += count;
        size -= count;
        return bytes;
    }
};

// What one read takes from `queued` and returns.
struct Outcome {
    bool decided = false;  // false: the read would wait for more bytes
    std::size_t taken = 0;
    std::string result;
};

// A read ends at the first byte where an entry that can match ends, the
// first such entry in list order deciding, and returns the bytes before
// that entry. With a positive limit and no entry ending within that many
// bytes, it takes the limit's bytes and returns nothing.
Outcome ExpectedRead(const std::string& queued, const std::vector<Entry>& entries,
                     std::int32_t maxLength) {
    Outcome outcome;
    for (std::size_t end = 1; end <= queued.size(); ++end) {
        for (const Entry& entry : entries) {
            const std::string& e = entry.bytes;
            if (!entry.matches || e.empty() || e.size() > end ||
                queued.compare(end - e.size(), e.size(), e) != 0) {
                continue;
            }
            outcome.decided = true;
            outcome.taken = end;
            outcome.result = queued.substr(0, end - e.size());
            return outcome;
        }
        if (maxLength > 0 && end >= static_cast<std::size_t>(maxLength)) {
            outcome.decided = true;
            outcome.taken = end;
            return outcome;
        }
    }
    return outcome;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    Line& line = TheLine();
    Input input{data, size};
    const std::uint8_t options = input.Byte();
    const std::int32_t timeOut = (options & 1) ? 1 : 0;
    const bool lineMode = (options & 2) != 0;
    const bool drainWithBuffer = (options & 4) != 0;
    const auto maxLength = static_cast<std::int32_t>(static_cast<std::int8_t>(input.Byte()));

    std::vector<Entry> entries(input.Byte() % 8);
    tarn::host::TStringList list;
    for (Entry& entry : entries) {
        const std::uint8_t head = input.Byte();
        entry.bytes = input.Bytes(head & 0x0F);
        entry.matches = (head & 0x80) == 0 || lineMode;
        tarn::host::UnicodeString text = tarn::host::AnsiToUnicode(entry.bytes);
        if (!entry.matches) text += u'\u0100';
        list.Add(text);
    }
    if (lineMode) {
        // NewLine is one end sequence of bytes.
        entries.resize(entries.empty() ? 0 : 1);
        line.port.SetNewLine(entries.empty() ? std::string() : entries[0].bytes);
    }
    line.port.SetMaxLineLength(maxLength);
    auto read = [&] {
        return lineMode ? line.port.ReadStringLine(timeOut)
                        : line.port.ReadStringUpToEndChars(list, timeOut);
    };

    Require(line.device.InputQueued() == 0, "the previous input was drained");
    std::string queued = input.Bytes(input.size);
    // The driver's queue holds what it has room for; the rest is lost.
    queued.resize(line.device.Inject(queued));

    if (entries.empty() || (lineMode && entries[0].bytes.empty())) {
        // Nothing to look for: the read returns at once and takes nothing.
        Require(read().empty() && line.device.InputQueued() == queued.size(),
                "a read without end sequences takes nothing");
        entries.clear();
    }
    // Without entries only a limit could end a read, but none is made.
    while (!entries.empty()) {
        const Outcome expected = ExpectedRead(queued, entries, maxLength);
        if (!expected.decided) break;
        const std::string got = read();
        const std::size_t taken = queued.size() - line.device.InputQueued();
        Require(got == expected.result && taken == expected.taken,
                "reading " + Quoted(queued) + " returned " + Quoted(got) + " taking " +
                    std::to_string(taken) + " bytes; expected " + Quoted(expected.result) +
                    " taking " + std::to_string(expected.taken));
        if (!got.empty()) {
            Require(line.port.GetLastReadBuffer() == tarn::host::AnsiToUnicode(got),
                    "the last read buffer holds the line read");
        }
        queued.erase(0, taken);
    }

    const std::string rest = drainWithBuffer
                                 ? line.port.ReadBuffer()
                                 : line.port.ReadChars(static_cast<std::int32_t>(queued.size()));
    Require(rest == queued,
            "the bytes left after the reads are " + Quoted(rest) + ", not " + Quoted(queued));
    Require(line.device.InputQueued() == 0, "draining takes every byte");
    return 0;
}

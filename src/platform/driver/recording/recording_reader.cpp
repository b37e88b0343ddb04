// Each line is parsed as one JSON object (recording_json.h) and then read
// by its kind; the names of the values are the writer's, one table each.
#include "recording_reader.h"

#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>
#include <vector>

#include "recording_json.h"

namespace tarn::driver::recording {
namespace {

template <typename Enum>
struct Name {
    const char* text;
    Enum value;
};

constexpr Name<EventKind> kKinds[] = {
    {"rx", EventKind::Received},   {"tx", EventKind::Sent},     {"settings", EventKind::Settings},
    {"escape", EventKind::Escape}, {"modem", EventKind::Modem}, {"purge", EventKind::Purge},
    {"gone", EventKind::Gone}};
constexpr Name<Parity> kParities[] = {{"none", Parity::None},
                                      {"odd", Parity::Odd},
                                      {"even", Parity::Even},
                                      {"mark", Parity::Mark},
                                      {"space", Parity::Space}};
constexpr Name<StopBits> kStops[] = {
    {"1", StopBits::One}, {"1.5", StopBits::OneAndHalf}, {"2", StopBits::Two}};
constexpr Name<DtrControl> kDtrs[] = {
    {"off", DtrControl::Off}, {"on", DtrControl::On}, {"handshake", DtrControl::Handshake}};
constexpr Name<RtsControl> kRtss[] = {{"off", RtsControl::Off},
                                      {"on", RtsControl::On},
                                      {"handshake", RtsControl::Handshake},
                                      {"toggle", RtsControl::Toggle}};
constexpr Name<Escape> kEscapes[] = {{"setdtr", Escape::SetDtr},     {"clrdtr", Escape::ClrDtr},
                                     {"setrts", Escape::SetRts},     {"clrrts", Escape::ClrRts},
                                     {"setbreak", Escape::SetBreak}, {"clrbreak", Escape::ClrBreak},
                                     {"setxon", Escape::SetXon},     {"setxoff", Escape::SetXoff}};

// Reads the members of one line; the first problem is kept.
class Members {
public:
    explicit Members(const JsonObject& object) : object_(object) {}

    const std::string& Problem() const { return problem_; }

    const JsonValue* Get(const char* name, JsonValue::Type type, const char* typeName) {
        const JsonValue* value = FindMember(object_, name);
        if (value == nullptr) return Problem(std::string("no \"") + name + "\"");
        if (value->type != type) {
            return Problem(std::string("\"") + name + "\" is not " + typeName);
        }
        return value;
    }

    std::uint64_t Integer(const char* name, std::uint64_t least, std::uint64_t most) {
        const JsonValue* value = Get(name, JsonValue::Type::Number, "a number");
        if (value == nullptr) return 0;
        if (!value->integer || *value->integer < least || *value->integer > most) {
            Problem(std::string("\"") + name + "\" is out of range");
            return 0;
        }
        return *value->integer;
    }

    bool Bool(const char* name) {
        const JsonValue* value = Get(name, JsonValue::Type::Bool, "true or false");
        return value != nullptr && value->boolean;
    }

    std::string Bytes(const char* name) {
        const JsonValue* value = Get(name, JsonValue::Type::String, "a string");
        if (value == nullptr) return {};
        if (!value->bytes) Problem(std::string("\"") + name + "\" holds a character above \\u00ff");
        return value->bytes.value_or(std::string());
    }

    template <typename Enum, std::size_t N>
    Enum OneOf(const char* name, const Name<Enum> (&names)[N]) {
        const JsonValue* value = Get(name, JsonValue::Type::String, "a string");
        if (value == nullptr) return names[0].value;
        for (const Name<Enum>& n : names) {
            if (value->text == n.text) return n.value;
        }
        Problem(std::string("unknown \"") + name + "\" \"" + value->text + "\"");
        return names[0].value;
    }

private:
    std::nullptr_t Problem(std::string what) {
        if (problem_.empty()) problem_ = std::move(what);
        return nullptr;
    }

    const JsonObject& object_;
    std::string problem_;
};

void ReadBody(Members& m, Event& event) {
    switch (event.kind) {
        case EventKind::Received:
        case EventKind::Sent:
            event.data = m.Bytes("data");
            return;
        case EventKind::Settings: {
            LineSettings& s = event.settings;
            s.baud = static_cast<std::uint32_t>(m.Integer("baud", 1, UINT32_MAX));
            s.bits = static_cast<int>(m.Integer("bits", 0, 255));
            s.parity = m.OneOf("parity", kParities);
            s.stop = m.OneOf("stop", kStops);
            s.cts = m.Bool("cts");
            s.dsr = m.Bool("dsr");
            s.dtr = m.OneOf("dtr", kDtrs);
            s.rts = m.OneOf("rts", kRtss);
            s.xonxoff = m.Bool("xonxoff");
            return;
        }
        case EventKind::Escape:
            event.escape = m.OneOf("what", kEscapes);
            return;
        case EventKind::Modem:
            event.modem = ModemLines{m.Bool("cts"), m.Bool("dsr"), m.Bool("ring"), m.Bool("rlsd")};
            return;
        case EventKind::Purge:
            event.purgeRx = m.Bool("rx");
            event.purgeTx = m.Bool("tx");
            return;
        case EventKind::Gone:
            event.error = static_cast<std::uint32_t>(m.Integer("error", 0, UINT32_MAX));
            return;
    }
}

}  // namespace

bool RecordingReader::Fail(const std::string& what) {
    error_ = "line " + std::to_string(lines_) + ": " + what;
    return false;
}

bool RecordingReader::TakeHeader(std::string_view line) {
    std::string problem;
    const std::optional<JsonObject> object = ParseJsonObject(line, problem);
    if (!object) return Fail("not a recording (" + problem + ")");
    const JsonValue* format = FindMember(*object, "format");
    if (format == nullptr || format->type != JsonValue::Type::String ||
        format->text != kFormatName) {
        return Fail(std::string("not a recording (no \"format\":\"") + kFormatName + "\")");
    }
    const JsonValue* version = FindMember(*object, "version");
    if (version == nullptr || version->type != JsonValue::Type::Number) {
        return Fail("a recording without its \"version\"");
    }
    if (version->integer != std::optional<std::uint64_t>(kFormatVersion)) {
        return Fail("a recording of an unknown version");
    }
    // The port is what was opened, for the reader's messages; a header
    // without one is still a recording.
    const JsonValue* port = FindMember(*object, "port");
    if (port != nullptr && port->type == JsonValue::Type::String) port_ = port->text;
    return true;
}

bool RecordingReader::TakeLine(std::string_view line, std::optional<Event>& event) {
    event.reset();
    if (!error_.empty()) return false;
    ++lines_;
    if (lines_ == 1) return TakeHeader(line);
    std::string problem;
    const std::optional<JsonObject> object = ParseJsonObject(line, problem);
    if (!object) return Fail(problem);
    Members m(*object);
    Event read;
    read.line = lines_;
    read.t = m.Integer("t", 0, UINT64_MAX);
    read.kind = m.OneOf("ev", kKinds);
    if (m.Problem().empty()) ReadBody(m, read);
    if (!m.Problem().empty()) return Fail(m.Problem());
    if (read.t < lastTime_) return Fail("\"t\" goes back in time");
    lastTime_ = read.t;
    event = std::move(read);
    return true;
}

std::optional<Recording> ParseRecording(std::string_view text, std::string& error) {
    RecordingReader reader;
    Recording recording;
    std::size_t start = 0;
    while (start < text.size()) {
        const std::size_t end = text.find('\n', start);
        const bool cut = end == std::string_view::npos;
        const std::string_view line = text.substr(start, cut ? text.size() - start : end - start);
        std::optional<Event> event;
        if (!reader.TakeLine(line, event)) {
            error = reader.Error();
            // A writer that died in the middle of a line leaves it so.
            if (cut) error += " (the recording is truncated: its last line has no end)";
            return std::nullopt;
        }
        if (event) recording.events.push_back(std::move(*event));
        start = cut ? text.size() : end + 1;
    }
    if (!reader.HasHeader()) {
        error = "line 1: not a recording (the file is empty)";
        return std::nullopt;
    }
    recording.port = reader.Port();
    error.clear();
    return recording;
}

namespace {

// No event of a recording comes near this: reads are recorded as they came,
// a few kilobytes each. A longer line is no recording (or an endless file),
// and reading on would only fill the memory.
constexpr std::size_t kLongestLine = 16u << 20;

}  // namespace

std::optional<Recording> ReadRecordingFile(const std::string& path, std::string& error) {
    std::error_code ec;
    if (std::filesystem::is_directory(std::filesystem::u8path(path), ec)) {
        error = path + ": a folder, not a recording";
        return std::nullopt;
    }
    std::ifstream file(std::filesystem::u8path(path), std::ios::binary);
    if (!file) {
        error = std::filesystem::exists(std::filesystem::u8path(path), ec)
                    ? path + ": the file cannot be read"
                    : path + ": there is no such file";
        return std::nullopt;
    }
    // Line by line, so that memory stays within the longest line allowed
    // and the events read, whatever the file holds.
    RecordingReader reader;
    Recording recording;
    const auto take = [&](const std::string& line, bool cut) {
        std::optional<Event> event;
        if (!reader.TakeLine(line, event)) {
            error = path + ", " + reader.Error();
            // A writer that died in the middle of a line leaves it so.
            if (cut) error += " (the recording is truncated: its last line has no end)";
            return false;
        }
        if (event) recording.events.push_back(std::move(*event));
        return true;
    };
    std::string line;
    std::vector<char> chunk(64 * 1024);
    while (file.read(chunk.data(), static_cast<std::streamsize>(chunk.size())) ||
           file.gcount() > 0) {
        const char* const end = chunk.data() + file.gcount();
        for (const char* c = chunk.data(); c != end; ++c) {
            if (*c == '\n') {
                if (!take(line, false)) return std::nullopt;
                line.clear();
            } else if (line.size() >= kLongestLine) {
                error = path + ", line " + std::to_string(reader.Lines() + 1) +
                        ": longer than any event of a recording";
                return std::nullopt;
            } else {
                line += *c;
            }
        }
    }
    if (file.bad()) {
        error = path + " cannot be read";
        return std::nullopt;
    }
    if (!line.empty() && !take(line, true)) return std::nullopt;
    if (!reader.HasHeader()) {
        error = path + ", line 1: not a recording (the file is empty)";
        return std::nullopt;
    }
    recording.port = reader.Port();
    error.clear();
    return recording;
}

}  // namespace tarn::driver::recording

// The JSON that one line of a recording holds: a single object, read
// strictly (RFC 8259, with no extensions and no duplicate members), without
// a JSON library. Members of any type are read, so that a reader can skip
// those it does not know; strings, numbers and literals keep what a reader
// of the recording needs of them. Pure; safe on any thread.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace tarn::driver::recording {

struct JsonValue {
    enum class Type { String, Number, Bool, Null, Object, Array };
    Type type = Type::Null;
    // String: the characters as UTF-8, and as bytes when every character
    // is at most U+00FF (`bytes` holds a value then), one byte a character.
    std::string text;
    std::optional<std::string> bytes;
    // Number: the value when it is an integer from 0 to 2^64-1 written
    // without a fraction or an exponent.
    std::optional<std::uint64_t> integer;
    bool boolean = false;  // Bool
};

using JsonObject = std::vector<std::pair<std::string, JsonValue>>;

// Parses `text` as one JSON object with nothing but white space around it.
// Empty with `error` set to what is wrong, and where, when it is not.
std::optional<JsonObject> ParseJsonObject(std::string_view text, std::string& error);

// The member named `name`; null when there is none.
const JsonValue* FindMember(const JsonObject& object, std::string_view name);

}  // namespace tarn::driver::recording

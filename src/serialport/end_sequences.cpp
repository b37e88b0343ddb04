// Matching the end sequences of a read up to an end.
#include <algorithm>
#include <cstring>
#include <utility>

#include "end_sequences_p.h"

namespace tarn::serialport {

namespace {

// Entries are a few bytes long, and are compared where they are rather
// than by a call of the library's compare for each look.
bool SameBytes(const char* a, const char* b, std::size_t size) {
    for (std::size_t i = 0; i < size; ++i) {
        if (a[i] != b[i]) return false;
    }
    return true;
}

bool EndsWith(std::string_view text, std::string_view tail) {
    return !tail.empty() && tail.size() <= text.size() &&
           SameBytes(text.data() + text.size() - tail.size(), tail.data(), tail.size());
}

}  // namespace

host::AnsiString EndSequenceBytes(const host::UnicodeString& entry) {
    if (entry.empty()) return {};
    host::AnsiString bytes = host::UnicodeToAnsi(entry);
    if (host::AnsiToUnicode(bytes) != entry) return {};
    return bytes;
}

EndSequences::EndSequences(std::vector<host::AnsiString> entries) : entries_(std::move(entries)) {
    for (const host::AnsiString& entry : entries_) {
        if (entry.empty()) continue;
        longest_ = std::max(longest_, entry.size());
        const auto last = static_cast<unsigned char>(entry.back());
        if (!lastBytes_[last]) ++lastByteKinds_;
        lastBytes_[last] = true;
        onlyLastByte_ = last;
    }
}

std::size_t EndSequences::FirstEnd(std::string_view collected, std::string_view arriving) const {
    if (longest_ == 0) return 0;
    const std::size_t overlap = std::min(collected.size(), longest_ - 1);
    // Usually nothing is carried over (a new line), and the bytes that
    // arrive are searched where they are.
    if (overlap == 0) return FirstEndIn(arriving, 0, 1);
    // Entries that begin in what was collected end within the first
    // longest_ - 1 bytes that arrive; only those few are joined to it.
    const std::size_t joined = std::min(arriving.size(), longest_ - 1);
    host::AnsiString window(collected.substr(collected.size() - overlap));
    window.append(arriving.data(), joined);
    if (const std::size_t end = FirstEndIn(window, overlap, overlap + 1)) return end;
    return FirstEndIn(arriving, 0, joined + 1);
}

const host::AnsiString* EndSequences::EndOf(std::string_view collected) const {
    for (const host::AnsiString& entry : entries_) {
        if (EndsWith(collected, entry)) return &entry;
    }
    return nullptr;
}

std::size_t EndSequences::FirstEndIn(std::string_view text, std::size_t overlap,
                                     std::size_t from) const {
    for (std::size_t end = from; end <= text.size(); ++end) {
        if (lastByteKinds_ == 1) {
            // All entries end with the same byte (a new line usually does):
            // the library's search skips to it.
            const void* hit =
                std::memchr(text.data() + end - 1, onlyLastByte_, text.size() - (end - 1));
            if (hit == nullptr) return 0;
            end = static_cast<std::size_t>(static_cast<const char*>(hit) - text.data()) + 1;
        } else if (!lastBytes_[static_cast<unsigned char>(text[end - 1])]) {
            continue;
        }
        for (const host::AnsiString& entry : entries_) {
            if (!entry.empty() && entry.size() <= end &&
                SameBytes(text.data() + end - entry.size(), entry.data(), entry.size())) {
                return end - overlap;
            }
        }
    }
    return 0;
}

}  // namespace tarn::serialport

#include "measure.h"

#include <algorithm>
#include <cmath>

namespace tarn::bench {
namespace {

// A small generator with good statistics whose sequence is fixed by its
// seed, so that a failed verification can be reproduced.
class SplitMix64 {
public:
    explicit SplitMix64(std::uint64_t seed) : state_(seed) {}
    std::uint64_t Next() {
        std::uint64_t z = (state_ += 0x9e3779b97f4a7c15ull);
        z = (z ^ (z >> 30)) * 0xbf58476d1ce4e5b9ull;
        z = (z ^ (z >> 27)) * 0x94d049bb133111ebull;
        return z ^ (z >> 31);
    }

private:
    std::uint64_t state_;
};

}  // namespace

double SecondsSince(Clock::time_point start) {
    return std::chrono::duration<double>(Clock::now() - start).count();
}

std::string SizeText(std::size_t bytes) {
    if (bytes != 0 && bytes % (1u << 20) == 0) return std::to_string(bytes >> 20) + " MiB";
    if (bytes != 0 && bytes % (1u << 10) == 0) return std::to_string(bytes >> 10) + " KiB";
    return std::to_string(bytes) + " bytes";
}

Summary Summarize(std::vector<double> values) {
    Summary s;
    s.count = values.size();
    if (values.empty()) return s;
    std::sort(values.begin(), values.end());
    const std::size_t mid = values.size() / 2;
    s.median = values.size() % 2 == 1 ? values[mid] : (values[mid - 1] + values[mid]) / 2;
    s.min = values.front();
    s.max = values.back();
    return s;
}

double Percentile(std::vector<double> values, double p) {
    if (values.empty()) return 0;
    std::sort(values.begin(), values.end());
    const double rank = std::ceil(p / 100.0 * static_cast<double>(values.size()));
    const std::size_t index = rank < 1 ? 0 : static_cast<std::size_t>(rank) - 1;
    return values[std::min(index, values.size() - 1)];
}

void StreamHash::Add(const void* data, std::size_t size) {
    const auto* bytes = static_cast<const unsigned char*>(data);
    std::uint64_t h = value_;
    for (std::size_t i = 0; i < size; ++i) {
        h ^= bytes[i];
        h *= 0x100000001b3ull;
    }
    value_ = h;
    count_ += size;
}

std::string RandomBytes(std::size_t size, std::uint64_t seed) {
    SplitMix64 random(seed);
    std::string bytes(size, '\0');
    for (std::size_t i = 0; i < size; i += 8) {
        std::uint64_t word = random.Next();
        for (std::size_t j = i; j < std::min(size, i + 8); ++j, word >>= 8) {
            bytes[j] = static_cast<char>(word & 0xFF);
        }
    }
    return bytes;
}

std::string PrintableLines(std::size_t count, std::size_t width, std::uint64_t seed) {
    constexpr unsigned kFirst = 0x20;
    constexpr unsigned kSpan = 0x7F - kFirst;  // space to tilde
    SplitMix64 random(seed);
    std::string text;
    text.reserve(count * (width + 2));
    for (std::size_t line = 0; line < count; ++line) {
        for (std::size_t i = 0; i < width; ++i) {
            text += static_cast<char>(kFirst + random.Next() % kSpan);
        }
        text += "\r\n";
    }
    return text;
}

}  // namespace tarn::bench

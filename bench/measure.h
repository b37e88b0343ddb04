// Clocks, summaries and checks shared by the benchmark scenarios: processor
// time of the process and of one thread, the median with its spread over
// runs, percentiles, a running hash that verifies a byte stream in order,
// and the payloads that the peer sends.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "cpu_time.h"

namespace tarn::bench {

using Clock = std::chrono::steady_clock;

// How long any single wait for the other end may last before the scenario
// counts as failed.
constexpr std::chrono::seconds kStallLimit{30};
// The same limit for the calls that take milliseconds.
constexpr int kStallMs = static_cast<int>(std::chrono::milliseconds(kStallLimit).count());

double SecondsSince(Clock::time_point start);

// "16 MiB", "256 KiB" or "100 bytes": the largest unit that divides `bytes`.
std::string SizeText(std::size_t bytes);

// The processor clocks of the process and of the calling thread, shared
// with the tests.
using tarn::test::ProcessCpuSeconds;
using tarn::test::ThreadCpuSeconds;
// How far the process's clock may fall behind the sum of its threads': 0 on
// Linux, whose clocks count nanoseconds; on Windows and under Wine, which
// count in ticks (10 or 15.6 ms) and round user and system time down to a
// tick each, two ticks.
double CpuClockTolerance();

// The middle value and the extremes of a set of figures. The median of an
// even count is the mean of the two middle values.
struct Summary {
    double median = 0;
    double min = 0;
    double max = 0;
    std::size_t count = 0;
};
// An empty set gives a summary with a count of 0.
Summary Summarize(std::vector<double> values);

// The nearest-rank percentile `p` (0 < p <= 100) of `values`: the smallest
// value that at least p percent of the values do not exceed. 0 for an
// empty set.
double Percentile(std::vector<double> values, double p);

// An order-sensitive 64-bit hash (FNV-1a) of a byte stream fed in pieces of
// any size, with the count of bytes fed. Two streams agree when both agree.
class StreamHash {
public:
    void Add(const void* data, std::size_t size);
    void Add(const std::string& bytes) { Add(bytes.data(), bytes.size()); }
    std::uint64_t Value() const { return value_; }
    std::uint64_t Count() const { return count_; }

private:
    std::uint64_t value_ = 0xcbf29ce484222325ull;
    std::uint64_t count_ = 0;
};

// `size` bytes of every value 0 to 255, drawn from a generator seeded with
// `seed`: the same seed gives the same bytes.
std::string RandomBytes(std::size_t size, std::uint64_t seed);

// `count` lines of `width` printable bytes (space to tilde), drawn as
// above, each followed by carriage return and line feed.
std::string PrintableLines(std::size_t count, std::size_t width, std::uint64_t seed);

}  // namespace tarn::bench

// The samples behind --plot and --plot-out: every received line that holds
// numbers is one sample, and the n-th number of the line belongs to the
// n-th series (or, with --plot-columns, the chosen numbers to theirs).
// Memory stays bounded however long the session runs.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace tarnterm {

// One received line that held numbers.
struct PlotRow {
    // Which line with numbers this was in the session, from 1.
    std::uint64_t line;
    // The value of each series; a line with fewer numbers than there are
    // series has no value for the last ones.
    std::vector<double> values;
};

// Main thread only, as are the terminal and the script that feed it.
class PlotSeries {
public:
    // Numbers beyond this many in a line are left out.
    static constexpr std::size_t kMostSeries = 8;
    // The live chart shows at most one row per dot column; this is more
    // than a wide terminal has.
    static constexpr std::size_t kWindowRows = 1024;
    // The whole session is kept in at most this many rows: when they are
    // full, every second row goes and from then on only every second line
    // is kept (then every fourth, ...), so that the rows stay evenly spread
    // over the session.
    static constexpr std::size_t kSessionRows = 4096;
    // The bytes of a line beyond this are left out.
    static constexpr std::size_t kLongestLine = 4096;

    // The n-th series takes the number at the n-th of `places` in each line
    // (1 for the first number), which must be in rising order and at most
    // kMostSeries; none takes the first kMostSeries numbers.
    explicit PlotSeries(std::vector<std::size_t> places = {});

    // Received bytes: each line ended by CR, LF or both becomes a row when
    // it holds numbers. The number of rows added.
    std::size_t AddBytes(std::string_view bytes);
    // One line without its end; false when it holds none of the numbers
    // taken.
    bool AddLine(std::string_view line);

    // The newest rows, at least kWindowRows of them once there are so many.
    const std::vector<PlotRow>& Window() const { return window_; }
    // The session so far, thinned as kSessionRows says; the first line is
    // always kept.
    const std::vector<PlotRow>& Session() const { return session_; }
    // The name of each series: the word before its first number ("T" of
    // "T=21.5"), or "#n" for the n-th number of the line when nothing
    // stands before it.
    const std::vector<std::string>& Names() const { return names_; }
    // The unit of each series, after its first number ("V" of "1.5V"),
    // empty for none; as many as there are names.
    const std::vector<std::string>& Units() const { return units_; }
    // How many lines held numbers.
    std::uint64_t Lines() const { return lines_; }

private:
    // Empty: the first kMostSeries numbers.
    const std::vector<std::size_t> places_;
    std::string partial_;
    std::vector<PlotRow> window_;
    std::vector<PlotRow> session_;
    // Every how many lines the session keeps one.
    std::uint64_t stride_ = 1;
    std::vector<std::string> names_;
    std::vector<std::string> units_;
    std::uint64_t lines_ = 0;
};

}  // namespace tarnterm

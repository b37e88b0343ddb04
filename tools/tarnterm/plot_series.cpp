#include "plot_series.h"

#include <utility>

#include "plot_numbers.h"

namespace tarnterm {

std::size_t PlotSeries::AddBytes(std::string_view bytes) {
    std::size_t added = 0;
    for (char c : bytes) {
        if (c == '\r' || c == '\n') {
            // CR LF ends one line; the empty line between holds no numbers.
            added += AddLine(partial_) ? 1 : 0;
            partial_.clear();
        } else if (partial_.size() < kLongestLine) {
            partial_ += c;
        }
    }
    return added;
}

PlotSeries::PlotSeries(std::vector<std::size_t> places) : places_(std::move(places)) {}

bool PlotSeries::AddLine(std::string_view line) {
    const std::vector<LineNumber> numbers = ExtractNumbers(line);
    PlotRow row{lines_ + 1, {}};
    // The places rise, so a line that lacks one lacks all after it, and a
    // row's values stay those of its first series.
    const std::size_t count = places_.empty() ? kMostSeries : places_.size();
    for (std::size_t series = 0; series < count; ++series) {
        const std::size_t place = places_.empty() ? series + 1 : places_[series];
        if (place > numbers.size()) break;
        const LineNumber& number = numbers[place - 1];
        row.values.push_back(number.value);
        if (series == names_.size()) {
            names_.push_back(number.name.empty() ? "#" + std::to_string(place) : number.name);
            units_.push_back(number.unit);
        }
    }
    if (row.values.empty()) return false;
    ++lines_;
    if ((row.line - 1) % stride_ == 0) {
        if (session_.size() == kSessionRows) {
            // Rows at even places are the lines at multiples of the doubled
            // stride, counted from the first.
            std::size_t kept = 0;
            for (std::size_t i = 0; i < session_.size(); i += 2) {
                session_[kept++] = std::move(session_[i]);
            }
            session_.resize(kept);
            stride_ *= 2;
        }
        if ((row.line - 1) % stride_ == 0) session_.push_back(row);
    }
    window_.push_back(std::move(row));
    if (window_.size() >= 2 * kWindowRows) {
        window_.erase(window_.begin(), window_.end() - kWindowRows);
    }
    return true;
}

}  // namespace tarnterm

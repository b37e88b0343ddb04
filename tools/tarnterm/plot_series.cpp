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

bool PlotSeries::AddLine(std::string_view line) {
    std::vector<LineNumber> numbers = ExtractNumbers(line);
    if (numbers.empty()) return false;
    if (numbers.size() > kMostSeries) numbers.resize(kMostSeries);
    PlotRow row{++lines_, {}};
    for (std::size_t i = 0; i < numbers.size(); ++i) {
        row.values.push_back(numbers[i].value);
        if (i == names_.size()) {
            names_.push_back(numbers[i].name.empty() ? "#" + std::to_string(i + 1)
                                                     : numbers[i].name);
        }
    }
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

#include "plot_screen.h"

#include <algorithm>
#include <string>
#include <vector>

#include "plot_chart.h"

namespace tarnterm {
namespace {

// Below this many rows the screen is left to the text.
constexpr int kSmallestScreen = 8;
// The chart above the text takes this share of the rows.
constexpr int kChartShareOfRows = 2;
constexpr char kRule[] = "\xe2\x94\x80";  // U+2500
// ESC 7 and ESC 8: the cursor's place saved and restored.
constexpr char kSaveCursor[] = "\0337";
constexpr char kRestoreCursor[] = "\0338";
constexpr char kWholeScreenScrolls[] = "\x1b[r";

std::string At(int row, int column) {
    return "\x1b[" + std::to_string(row) + ";" + std::to_string(column) + "H";
}

}  // namespace

PlotScreen::PlotScreen(Console& console, const PlotSeries& series, bool chartOnly, bool color,
                       PlotScale scale)
    : console_(console), series_(series), chartOnly_(chartOnly), color_(color), scale_(scale) {
    console_.UseUtf8Output();
    int columns = kDefaultColumns;
    int rows = kDefaultRows;
    if (!console_.ScreenSize(columns, rows)) {
        columns = kDefaultColumns;
        rows = kDefaultRows;
    }
    LayOut(columns, rows);
}

PlotScreen::~PlotScreen() {
    // Resetting the region moves the cursor home, so it is saved around.
    if (chartLines_ > 0) {
        console_.Write(Stream::kOutput,
                       std::string(kSaveCursor) + kWholeScreenScrolls + kRestoreCursor);
    }
}

void PlotScreen::LayOut(int columns, int rows) {
    columns_ = columns;
    rows_ = rows;
    chartLines_ = 0;
    if (rows < kSmallestScreen) {
        console_.Write(Stream::kOutput, kWholeScreenScrolls);
        return;
    }
    chartLines_ = chartOnly_ ? rows - kStatusLines : rows / kChartShareOfRows;
    // The text starts below the chart, in a region of its own that
    // scrolls; the chart's lines stay where they are.
    console_.Write(Stream::kOutput, "\x1b[H\x1b[2J\x1b[" + std::to_string(chartLines_ + 1) + ";" +
                                        std::to_string(rows) + "r" + At(chartLines_ + 1, 1));
    Draw();
}

void PlotScreen::Draw() {
    pending_ = false;
    lastDrawn_ = Clock::now();
    if (chartLines_ == 0) return;
    // One column short of the edge, where some terminals wrap at once.
    const int width = columns_ - 1;
    const std::vector<std::string> lines = RenderChart(
        series_.Window(), series_.Names(), width, chartLines_ - 1, color_, scale_, series_.Units());
    std::string screen = kSaveCursor;
    for (std::size_t i = 0; i < lines.size(); ++i) {
        screen += At(static_cast<int>(i) + 1, 1) + lines[i];
    }
    screen += At(chartLines_, 1);
    for (int i = 0; i < width; ++i) screen += kRule;
    console_.Write(Stream::kOutput, screen + kRestoreCursor);
}

void PlotScreen::Service() {
    int columns = columns_;
    int rows = rows_;
    if (console_.ScreenSize(columns, rows) && (columns != columns_ || rows != rows_)) {
        LayOut(columns, rows);
        return;
    }
    if (pending_ && MsUntilDue() == 0) Draw();
}

int PlotScreen::MsUntilDue() const {
    if (!pending_) return -1;
    const auto left =
        std::chrono::ceil<std::chrono::milliseconds>(lastDrawn_ + kRedrawPeriod - Clock::now());
    return static_cast<int>(std::max<std::chrono::milliseconds::rep>(left.count(), 0));
}

}  // namespace tarnterm

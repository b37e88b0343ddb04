#include "plot_chart.h"

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <iterator>

#include "plot_numbers.h"

namespace tarnterm {
namespace {

constexpr int kDotsAcross = 2;
constexpr int kDotsDown = 4;
// The bit of each dot of a braille cell, by dot column and dot row; the
// character is U+2800 plus the bits.
constexpr unsigned char kDotBits[kDotsAcross][kDotsDown] = {{0x01, 0x02, 0x04, 0x40},
                                                            {0x08, 0x10, 0x20, 0x80}};
// Green, yellow, cyan, magenta, red, blue, bright green, bright yellow.
const char* const kSeriesColors[] = {"\x1b[32m", "\x1b[33m", "\x1b[36m", "\x1b[35m",
                                     "\x1b[31m", "\x1b[34m", "\x1b[92m", "\x1b[93m"};
static_assert(std::size(kSeriesColors) == PlotSeries::kMostSeries);
constexpr char kPlainColor[] = "\x1b[0m";
// The narrowest plot area drawn, in cells.
constexpr int kNarrowestPlot = 4;
constexpr char kAxis[] = "\xe2\x94\x82";          // U+2502
constexpr char kLabelledAxis[] = "\xe2\x94\xa4";  // U+2524

const char* SeriesColor(std::size_t series) {
    return kSeriesColors[series % std::size(kSeriesColors)];
}

std::string Braille(unsigned bits) {
    if (bits == 0) return " ";
    const unsigned code = 0x2800 + bits;
    return {static_cast<char>(0xe0 | (code >> 12)), static_cast<char>(0x80 | ((code >> 6) & 0x3f)),
            static_cast<char>(0x80 | (code & 0x3f))};
}

bool ValueOf(const PlotRow& row, std::size_t series, double& value) {
    if (series >= row.values.size()) return false;
    value = row.values[series];
    return true;
}

// The cells of UTF-8 text: one for each character (a unit's "µ" too).
int CellsOf(const std::string& text) {
    int cells = 0;
    for (const char c : text) cells += (static_cast<unsigned char>(c) & 0xc0) != 0x80 ? 1 : 0;
    return cells;
}

struct Scale {
    bool any = false;
    double low = 0;
    double high = 0;
};

// Stands for all the series at once.
constexpr std::size_t kEverySeries = static_cast<std::size_t>(-1);

// The lowest and highest value of `series` in the rows from `first`.
Scale RangeOf(const std::vector<PlotRow>& rows, std::size_t first, std::size_t series) {
    Scale scale;
    for (std::size_t i = first; i < rows.size(); ++i) {
        for (std::size_t s = 0; s < rows[i].values.size(); ++s) {
            if (series != kEverySeries && s != series) continue;
            const double value = rows[i].values[s];
            scale.low = scale.any ? std::min(scale.low, value) : value;
            scale.high = scale.any ? std::max(scale.high, value) : value;
            scale.any = true;
        }
    }
    return scale;
}

// The range that a scale draws: constant data sits in the middle of a
// range around it.
Scale Drawn(Scale scale) {
    if (scale.any && scale.high == scale.low) {
        const double pad = scale.low == 0 ? 1 : std::fabs(scale.low) * 0.1;
        scale.low -= pad;
        scale.high += pad;
    }
    return scale;
}

// "T 21.5  H 40", as many items as fit; with a scale per series, each with
// its range, "T 21.5 (20..23)".
std::string Legend(const std::vector<PlotRow>& rows, std::size_t first,
                   const std::vector<std::string>& names, const std::vector<std::string>& units,
                   int columns, bool color, bool ownRanges) {
    std::string line;
    int width = 0;
    if (rows.empty()) {
        line = "waiting for lines with numbers";
        line.resize(std::min<std::size_t>(line.size(), static_cast<std::size_t>(columns)));
        width = static_cast<int>(line.size());
    }
    for (std::size_t series = 0; series < names.size() && !rows.empty(); ++series) {
        double newest = 0;
        bool found = false;
        for (auto row = rows.rbegin(); row != rows.rend() && !found; ++row) {
            found = ValueOf(*row, series, newest);
        }
        const std::string unit = series < units.size() ? units[series] : "";
        std::string item = names[series] + " " + (found ? ValueText(newest) + unit : "-");
        if (const Scale range = RangeOf(rows, first, series); ownRanges && range.any) {
            item += " (" + ValueText(range.low) + ".." + ValueText(range.high) + ")";
        }
        const int gap = width == 0 ? 0 : 2;
        const int cells = CellsOf(item);
        if (width + gap + cells > columns) break;
        line += std::string(gap, ' ');
        line += color ? SeriesColor(series) + item + kPlainColor : item;
        width += gap + cells;
    }
    return line + std::string(columns - width, ' ');
}

// Where the plot goes and what its axis says.
struct Layout {
    int gutter = 2;         // the cells left of the plot: the labels and the axis
    std::size_t first = 0;  // the first row shown
    // The scale that the axis is labelled with: the values', or with a
    // scale per series, percent of each range.
    Scale scale;
    std::vector<Scale> scales;  // the one each series is drawn on
    std::string labels[3];      // top, middle and bottom
    int middle = -1;            // the line of the middle label, or none
};

// Lays the plot out for `layout.gutter`; the gutter that its labels want.
int LayOutForGutter(Layout& layout, const std::vector<PlotRow>& rows, int columns, int dotRows,
                    bool ownScales) {
    const std::size_t shown = static_cast<std::size_t>(columns - layout.gutter) * kDotsAcross;
    layout.first = rows.size() > shown ? rows.size() - shown : 0;
    Scale& scale = layout.scale;
    scale = Drawn(RangeOf(rows, layout.first, kEverySeries));
    for (std::size_t s = 0; s < layout.scales.size(); ++s) {
        layout.scales[s] = ownScales ? Drawn(RangeOf(rows, layout.first, s)) : scale;
    }
    if (!scale.any) return layout.gutter;
    const std::string suffix = ownScales ? "%" : "";
    if (ownScales) scale = {true, 0, 100};
    const double middleValue =
        scale.high - (layout.middle * kDotsDown + 1.5) / (dotRows - 1) * (scale.high - scale.low);
    layout.labels[0] = ValueText(scale.high) + suffix;
    layout.labels[1] = layout.middle >= 0 ? ValueText(middleValue) + suffix : "";
    layout.labels[2] = ValueText(scale.low) + suffix;
    std::size_t widest = 0;
    for (const std::string& label : layout.labels) widest = std::max(widest, label.size());
    return std::min(static_cast<int>(widest) + 2, columns - kNarrowestPlot);
}

// The labels' width sets the plot's, which sets the rows shown and so the
// labels: a few rounds settle it, and a label that still does not fit is
// cut.
Layout LayOut(const std::vector<PlotRow>& rows, std::size_t seriesCount, int columns, int plotLines,
              bool ownScales) {
    Layout layout;
    layout.scales.resize(seriesCount);
    layout.middle = plotLines >= 5 ? (plotLines - 1) / 2 : -1;
    const int dotRows = plotLines * kDotsDown;
    for (int round = 0; round < 3; ++round) {
        const int wanted = LayOutForGutter(layout, rows, columns, dotRows, ownScales);
        if (wanted == layout.gutter) break;
        layout.gutter = wanted;
    }
    LayOutForGutter(layout, rows, columns, dotRows, ownScales);
    return layout;
}

// The plot area's braille cells, each with the series that set its last
// dot.
struct Dots {
    Dots(int lines, int columns)
        : columns(columns),
          bits(static_cast<std::size_t>(lines * columns), 0),
          owner(bits.size(), 0) {}

    void Set(int x, int y, std::size_t series) {
        const std::size_t cell =
            static_cast<std::size_t>((y / kDotsDown) * columns + x / kDotsAcross);
        bits[cell] |= kDotBits[x % kDotsAcross][y % kDotsDown];
        owner[cell] = series;
    }

    int columns;
    std::vector<unsigned> bits;
    std::vector<std::size_t> owner;
};

// Every series' points from the first row shown, each joined to the point
// before by a vertical run of dots.
Dots PlotDots(const std::vector<PlotRow>& rows, std::size_t seriesCount, const Layout& layout,
              int plotLines, int plotColumns) {
    Dots dots(plotLines, plotColumns);
    const int dotRows = plotLines * kDotsDown;
    for (std::size_t series = 0; series < seriesCount && layout.scale.any; ++series) {
        bool joined = false;
        int previousY = 0;
        for (std::size_t i = layout.first; i < rows.size(); ++i) {
            double value = 0;
            if (!ValueOf(rows[i], series, value)) {
                joined = false;
                continue;
            }
            const int x = static_cast<int>(i - layout.first);
            const Scale& own = layout.scales[series];
            const int y = static_cast<int>(
                std::lround((own.high - value) / (own.high - own.low) * (dotRows - 1)));
            const int from = joined ? std::min(previousY, y) : y;
            const int to = joined ? std::max(previousY, y) : y;
            for (int dot = from; dot <= to; ++dot) dots.Set(x, dot, series);
            joined = true;
            previousY = y;
        }
    }
    return dots;
}

// One line of the plot: its label if it has one, the axis, and the cells.
std::string PlotLine(const Dots& dots, const Layout& layout, int line, int plotLines, bool color) {
    const int gutter = layout.gutter;
    const bool any = layout.scale.any;
    const int labelled = line == 0 ? 0 : line == plotLines - 1 ? 2 : line == layout.middle ? 1 : -1;
    std::string label = any && labelled >= 0 ? layout.labels[labelled] : "";
    label.resize(std::min(label.size(), static_cast<std::size_t>(gutter - 2)));
    std::string text = std::string(static_cast<std::size_t>(gutter - 2) - label.size(), ' ') +
                       label + " " + (labelled >= 0 && any ? kLabelledAxis : kAxis);
    std::size_t inColor = PlotSeries::kMostSeries;
    for (int column = 0; column < dots.columns; ++column) {
        const std::size_t cell = static_cast<std::size_t>(line * dots.columns + column);
        if (color && dots.bits[cell] != 0 && dots.owner[cell] != inColor) {
            inColor = dots.owner[cell];
            text += SeriesColor(inColor);
        }
        text += Braille(dots.bits[cell]);
    }
    if (inColor != PlotSeries::kMostSeries) text += kPlainColor;
    return text;
}

}  // namespace

std::vector<std::string> RenderChart(const std::vector<PlotRow>& rows,
                                     const std::vector<std::string>& names, int columns, int lines,
                                     bool color, PlotScale scaleKind,
                                     const std::vector<std::string>& units) {
    std::vector<std::string> out;
    if (lines < 2 || columns < kNarrowestPlot + 2) {
        out.assign(static_cast<std::size_t>(std::max(lines, 0)),
                   std::string(static_cast<std::size_t>(std::max(columns, 0)), ' '));
        return out;
    }
    const int plotLines = lines - 1;
    // One series on a scale of its own is on the shared scale.
    const bool ownScales = scaleKind == PlotScale::kEach && names.size() > 1;
    const Layout layout = LayOut(rows, names.size(), columns, plotLines, ownScales);
    out.push_back(Legend(rows, layout.first, names, units, columns, color, ownScales));
    const Dots dots = PlotDots(rows, names.size(), layout, plotLines, columns - layout.gutter);
    for (int line = 0; line < plotLines; ++line) {
        out.push_back(PlotLine(dots, layout, line, plotLines, color));
    }
    return out;
}

}  // namespace tarnterm

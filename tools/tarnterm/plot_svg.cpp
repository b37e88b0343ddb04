#include "plot_svg.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>

namespace tarnterm {
namespace {

constexpr double kWidth = 800;
constexpr double kHeight = 450;
// The plot area inside the image.
constexpr double kLeft = 70;
constexpr double kRight = kWidth - 20;
constexpr double kTop = 50;
constexpr double kBottom = kHeight - 50;
// About this many ticks on each axis.
constexpr double kTicks = 5;
// A rough width of a character of the legend, to place its items.
constexpr double kCharWidth = 7;
const char* const kSeriesColors[] = {"#1b9e4b", "#c9a100", "#1a8fb0", "#b0369c",
                                     "#d03a2f", "#3050c8", "#6a8f1f", "#8a5a2b"};
static_assert(std::size(kSeriesColors) == PlotSeries::kMostSeries);

std::string Number(double value) {
    char text[32];
    std::snprintf(text, sizeof text, "%.1f", value);
    return text;
}

std::string TickText(double value) {
    char text[32];
    std::snprintf(text, sizeof text, "%g", value == 0 ? 0.0 : value);
    return text;
}

// 1, 2 or 5 times a power of ten, near `span` / kTicks.
double TickStep(double span) {
    const double raw = span / kTicks;
    const double power = std::pow(10.0, std::floor(std::log10(raw)));
    const double norm = raw / power;
    return (norm <= 1 ? 1 : norm <= 2 ? 2 : norm <= 5 ? 5 : 10) * power;
}

struct Axis {
    double low;
    double high;
    double step;
};

struct Range {
    bool any = false;
    double low = 0;
    double high = 0;
};

// The lowest and highest value of `series` in `rows`, or of every series
// when it is none.
Range RangeOf(const std::vector<PlotRow>& rows, std::optional<std::size_t> series) {
    Range range;
    for (const PlotRow& row : rows) {
        for (std::size_t s = 0; s < row.values.size(); ++s) {
            if (series && s != *series) continue;
            range.low = range.any ? std::min(range.low, row.values[s]) : row.values[s];
            range.high = range.any ? std::max(range.high, row.values[s]) : row.values[s];
            range.any = true;
        }
    }
    return range;
}

// A range that can be drawn: constant data sits in the middle of one
// around it.
Range Drawn(Range range) {
    if (range.high == range.low) {
        const double pad = range.low == 0 ? 1 : std::fabs(range.low) * 0.1;
        range.low -= pad;
        range.high += pad;
    }
    return range;
}

}  // namespace

std::string XmlEscaped(const std::string& text) {
    std::string escaped;
    for (char c : text) {
        switch (c) {
            case '&':
                escaped += "&amp;";
                break;
            case '<':
                escaped += "&lt;";
                break;
            case '>':
                escaped += "&gt;";
                break;
            case '"':
                escaped += "&quot;";
                break;
            case '\'':
                escaped += "&apos;";
                break;
            default:
                escaped += c;
        }
    }
    return escaped;
}

namespace {

// The x axis counts the lines with numbers, the y axis the values drawn.
struct Axes {
    Axis x;
    Axis y;

    double ToX(double line) const {
        return kLeft + (line - x.low) / (x.high - x.low) * (kRight - kLeft);
    }
    double ToY(double value) const {
        return kBottom - (value - y.low) / (y.high - y.low) * (kBottom - kTop);
    }
};

// Axes whose ends are whole ticks around `all`, and around the rows' lines.
Axes AxesFor(const std::vector<PlotRow>& rows, const Range& all) {
    Axis y{all.low, all.high, TickStep(all.high - all.low)};
    y.low = std::floor(y.low / y.step) * y.step;
    y.high = std::ceil(y.high / y.step) * y.step;
    Axis x{static_cast<double>(rows.front().line), static_cast<double>(rows.back().line), 1};
    if (x.high == x.low) {
        x.low -= 1;
        x.high += 1;
    }
    x.step = std::max(1.0, std::round(TickStep(x.high - x.low)));
    return {x, y};
}

std::string SvgStart() {
    return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
           "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"" +
           Number(kWidth) + "\" height=\"" + Number(kHeight) + "\" viewBox=\"0 0 " +
           Number(kWidth) + " " + Number(kHeight) +
           "\" font-family=\"sans-serif\" font-size=\"12\">\n"
           "<rect width=\"100%\" height=\"100%\" fill=\"white\"/>\n";
}

std::string PlotFrame() {
    return "<rect x=\"" + Number(kLeft) + "\" y=\"" + Number(kTop) + "\" width=\"" +
           Number(kRight - kLeft) + "\" height=\"" + Number(kBottom - kTop) +
           "\" fill=\"none\" stroke=\"#888\"/>\n";
}

// The grid lines at the ticks, under the frame, and the ticks' labels and
// the x axis' title over it.
std::string GridAndLabels(const Axes& axes, bool ownScales, std::uint64_t lines) {
    const Axis& x = axes.x;
    const Axis& y = axes.y;
    std::string grid = "<g stroke=\"#e4e4e4\">\n";
    std::string labels = "<g fill=\"#333\">\n";
    for (double tick = std::ceil(y.low / y.step); tick * y.step <= y.high + y.step / 1e6; ++tick) {
        const double at = axes.ToY(tick * y.step);
        grid += "<line x1=\"" + Number(kLeft) + "\" y1=\"" + Number(at) + "\" x2=\"" +
                Number(kRight) + "\" y2=\"" + Number(at) + "\"/>\n";
        labels += "<text x=\"" + Number(kLeft - 6) + "\" y=\"" + Number(at + 4) +
                  "\" text-anchor=\"end\">" + TickText(tick * y.step) + (ownScales ? "%" : "") +
                  "</text>\n";
    }
    for (double tick = std::ceil(x.low / x.step); tick * x.step <= x.high; ++tick) {
        const double at = axes.ToX(tick * x.step);
        grid += "<line x1=\"" + Number(at) + "\" y1=\"" + Number(kTop) + "\" x2=\"" + Number(at) +
                "\" y2=\"" + Number(kBottom) + "\"/>\n";
        labels += "<text x=\"" + Number(at) + "\" y=\"" + Number(kBottom + 16) +
                  "\" text-anchor=\"middle\">" + TickText(tick * x.step) + "</text>\n";
    }
    labels += "<text x=\"" + Number((kLeft + kRight) / 2) + "\" y=\"" + Number(kHeight - 10) +
              "\" text-anchor=\"middle\">line with numbers (" + std::to_string(lines) +
              " in all)</text>\n</g>\n";
    return grid + "</g>\n" + PlotFrame() + labels;
}

// Each series' line and its item in the legend above the plot. With a
// scale per series, each value is drawn as percent of its series' range.
std::string SeriesLines(const PlotSeries& series, const std::vector<Range>& ranges, bool ownScales,
                        const Axes& axes) {
    const std::vector<PlotRow>& rows = series.Session();
    const std::vector<std::string>& names = series.Names();
    const std::vector<std::string>& units = series.Units();
    auto plotted = [&](std::size_t s, double value) {
        if (!ownScales) return value;
        const Range own = Drawn(ranges[s]);
        return (value - own.low) / (own.high - own.low) * 100;
    };
    std::string svg;
    double legendX = kLeft;
    for (std::size_t s = 0; s < names.size(); ++s) {
        const char* color = kSeriesColors[s % std::size(kSeriesColors)];
        std::string points;
        for (const PlotRow& row : rows) {
            if (s >= row.values.size()) continue;
            if (!points.empty()) points += ' ';
            points += Number(axes.ToX(static_cast<double>(row.line))) + "," +
                      Number(axes.ToY(plotted(s, row.values[s])));
        }
        svg += "<polyline fill=\"none\" stroke=\"" + std::string(color) +
               "\" stroke-width=\"1.5\" points=\"" + points + "\"/>\n";
        svg += "<rect x=\"" + Number(legendX) + "\" y=\"" + Number(kTop - 30) +
               "\" width=\"12\" height=\"12\" fill=\"" + color + "\"/>\n";
        std::string label = names[s];
        if (!units[s].empty()) label += " (" + units[s] + ")";
        if (ownScales) label += " " + TickText(ranges[s].low) + " to " + TickText(ranges[s].high);
        svg += "<text x=\"" + Number(legendX + 16) + "\" y=\"" + Number(kTop - 20) + "\">" +
               XmlEscaped(label) + "</text>\n";
        legendX += 16 + kCharWidth * static_cast<double>(label.size()) + 20;
    }
    return svg;
}

}  // namespace

std::string SessionSvg(const PlotSeries& series, PlotScale scale) {
    const std::vector<PlotRow>& rows = series.Session();
    const std::vector<std::string>& names = series.Names();
    // One series on a scale of its own is on the shared scale.
    const bool ownScales = scale == PlotScale::kEach && names.size() > 1;
    if (rows.empty()) {
        return SvgStart() + PlotFrame() + "<text x=\"" + Number((kLeft + kRight) / 2) + "\" y=\"" +
               Number((kTop + kBottom) / 2) +
               "\" text-anchor=\"middle\">no lines with numbers were received</text>\n</svg>\n";
    }
    // With a scale per series the axis is percent of each range.
    std::vector<Range> ranges;
    for (std::size_t s = 0; s < names.size(); ++s) ranges.push_back(RangeOf(rows, s));
    const Range all = ownScales ? Range{true, 0, 100} : Drawn(RangeOf(rows, std::nullopt));
    const Axes axes = AxesFor(rows, all);
    return SvgStart() + GridAndLabels(axes, ownScales, series.Lines()) +
           SeriesLines(series, ranges, ownScales, axes) + "</svg>\n";
}

bool WriteSessionSvg(const std::string& path, const PlotSeries& series, PlotScale scale,
                     std::string& error) {
    std::ofstream file(std::filesystem::u8path(path), std::ios::binary | std::ios::trunc);
    if (file) file << SessionSvg(series, scale);
    if (file.flush()) return true;
    error = "cannot write the chart to " + path +
            "; check that its folder exists and that you may write there";
    return false;
}

}  // namespace tarnterm

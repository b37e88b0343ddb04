// The chart of --plot and --plot-out: the numbers found in received lines,
// the bounded series, the braille chart and the SVG image.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include "plot_chart.h"
#include "plot_numbers.h"
#include "plot_series.h"
#include "plot_svg.h"

namespace {

using tarnterm::PlotRow;
using tarnterm::PlotSeries;

TEST(TarntermPlot, FindsTheNumbersThatBeginWords) {
    const struct {
        const char* line;
        std::vector<double> values;
        // Checked when given.
        std::vector<std::string> names;
    } cases[] = {
        {"T=21.5 H=40", {21.5, 40}, {"T", "H"}},
        {"temp: 21.5; humidity: 40 %", {21.5, 40}, {"temp", "humidity"}},
        {"+21.47 C", {21.47}, {""}},
        {"-3 -.5 +2e3 1.5E-2 5.", {-3, -0.5, 2000, 0.015, 5}, {}},
        // Digits and hyphens inside names.
        {"T1=21.5, SN0001 x_2 TT-100 RS-232", {21.5}, {"T1"}},
        {"10-20", {10, 20}, {}},
        // Units that follow at once.
        {"21.5C 100ms 3.3V 250\xc2\xb5s", {21.5, 100, 3.3, 250}, {}},
        // Words that mix digits in are no numbers.
        {"0x1F 3V3 1.2.3 192.168.1.1 12ab34", {}, {}},
        {"21,5 12:30:45", {21, 5, 12, 30, 45}, {}},
        {"e5 .e3 - + . 1e 2e+", {1, 2}, {}},
        {"1e999 -1e999 7", {7}, {}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.line);
        const auto numbers = tarnterm::ExtractNumbers(c.line);
        ASSERT_EQ(numbers.size(), c.values.size());
        for (std::size_t i = 0; i < numbers.size(); ++i) {
            EXPECT_DOUBLE_EQ(numbers[i].value, c.values[i]) << i;
            if (!c.names.empty()) {
                EXPECT_EQ(numbers[i].name, c.names[i]) << i;
            }
        }
    }
}

TEST(TarntermPlot, EachLineWithNumbersIsOneRowWhateverItsPieces) {
    PlotSeries series;
    // "OK" holds no number; "T=3" waits for its line end.
    EXPECT_EQ(series.AddBytes("T=1 H=2\r\nOK\r\nT=3"), 1u);
    EXPECT_EQ(series.AddBytes(" H=4\rT=5\n\n1 2 3 4 5 6 7 8 9 10\n"), 3u);
    const std::vector<PlotRow>& rows = series.Window();
    ASSERT_EQ(rows.size(), 4u);
    EXPECT_EQ(rows[1].line, 2u);
    EXPECT_EQ(rows[1].values, (std::vector<double>{3, 4}));
    EXPECT_EQ(rows[2].values, (std::vector<double>{5}));
    // Numbers past the last series are left out.
    EXPECT_EQ(rows[3].values.size(), PlotSeries::kMostSeries);
    EXPECT_EQ(series.Names(),
              (std::vector<std::string>{"T", "H", "#3", "#4", "#5", "#6", "#7", "#8"}));
    EXPECT_EQ(series.Session().size(), 4u);
}

// A unit belongs to the number it follows, not to the name of the next; a
// series without a name is named by its place, also among chosen columns.
TEST(TarntermPlot, SeriesAreNamedByTheirOwnWordUnitAndPlace) {
    PlotSeries all;
    all.AddLine("1.5V 20mA 3.3V 10-20");
    all.AddLine("T=21.5\xc2\xb5s");
    EXPECT_EQ(all.Names(), (std::vector<std::string>{"#1", "#2", "#3", "#4", "#5"}));
    EXPECT_EQ(all.Units(), (std::vector<std::string>{"V", "mA", "V", "", ""}));
    const auto named = tarnterm::ExtractNumbers("t=21.5\xc2\xb5s H=40 I=2\xc2\x9bmA");
    ASSERT_EQ(named.size(), 3u);
    EXPECT_EQ(named[0].name + " " + named[0].unit, "t \xc2\xb5s");
    EXPECT_EQ(named[1].name + " " + named[1].unit, "H ");
    // A control character is no part of a unit.
    EXPECT_EQ(named[2].unit, "mA");

    PlotSeries chosen({1, 3});
    EXPECT_EQ(chosen.AddBytes("1.5V 20mA 3.3V\n7 8\nnone\n"), 2u);
    EXPECT_EQ(chosen.Window()[0].values, (std::vector<double>{1.5, 3.3}));
    EXPECT_EQ(chosen.Window()[1].values, (std::vector<double>{7}));
    EXPECT_EQ(chosen.Names(), (std::vector<std::string>{"#1", "#3"}));
    const auto chart = tarnterm::RenderChart(chosen.Window(), chosen.Names(), 30, 4, false,
                                             tarnterm::PlotScale::kShared, chosen.Units());
    EXPECT_EQ(chart[0].rfind("#1 7V  #3 3.3V", 0), 0u) << chart[0];
}

TEST(TarntermPlot, ALongSessionStaysWithinItsBoundsAndEvenlySpread) {
    PlotSeries series;
    const std::uint64_t total = PlotSeries::kSessionRows * 5 + 3;
    for (std::uint64_t i = 1; i <= total; ++i) series.AddLine("v=" + std::to_string(i));
    EXPECT_EQ(series.Lines(), total);

    const std::vector<PlotRow>& window = series.Window();
    EXPECT_GE(window.size(), PlotSeries::kWindowRows);
    EXPECT_LT(window.size(), 2 * PlotSeries::kWindowRows);
    EXPECT_EQ(window.back().line, total);

    const std::vector<PlotRow>& session = series.Session();
    ASSERT_GE(session.size(), PlotSeries::kSessionRows / 2);
    EXPECT_LE(session.size(), PlotSeries::kSessionRows);
    EXPECT_EQ(session.front().line, 1u);
    const std::uint64_t spacing = session[1].line - session[0].line;
    for (std::size_t i = 1; i < session.size(); ++i) {
        ASSERT_EQ(session[i].line - session[i - 1].line, spacing) << i;
        ASSERT_EQ(session[i].values[0], static_cast<double>(session[i].line));
    }
    EXPECT_GT(session.back().line + spacing, total);
}

// The cells of a chart line: each UTF-8 character takes one.
int Cells(const std::string& line) {
    int cells = 0;
    for (unsigned char c : line) cells += (c & 0xc0) != 0x80 ? 1 : 0;
    return cells;
}

// The dots of the chart's plot (the lines after the legend, right of the
// axis), one string per dot row with '#' for a dot.
std::vector<std::string> DotsOf(const std::vector<std::string>& chart) {
    static const int kBit[4][2] = {{0x01, 0x08}, {0x02, 0x10}, {0x04, 0x20}, {0x40, 0x80}};
    std::vector<std::string> dots;
    for (std::size_t line = 1; line < chart.size(); ++line) {
        const std::string& text = chart[line];
        std::size_t at = text.find("\xe2\x94\xa4");
        if (at == std::string::npos) at = text.find("\xe2\x94\x82");
        EXPECT_NE(at, std::string::npos) << text;
        std::vector<int> cells;
        for (std::size_t i = at + 3; i < text.size();) {
            if (text[i] == ' ') {
                cells.push_back(0);
                ++i;
            } else {
                EXPECT_EQ(static_cast<unsigned char>(text[i]), 0xe2u) << text;
                cells.push_back(((text[i + 1] & 0x03) << 6) | (text[i + 2] & 0x3f));
                i += 3;
            }
        }
        for (int row = 0; row < 4; ++row) {
            std::string dotRow;
            for (int bits : cells) {
                for (int column = 0; column < 2; ++column) {
                    dotRow += (bits & kBit[row][column]) != 0 ? '#' : '.';
                }
            }
            dots.push_back(dotRow);
        }
    }
    return dots;
}

// The dot rows that hold a dot in dot column `x`.
std::vector<int> RowsAt(const std::vector<std::string>& dots, std::size_t x) {
    std::vector<int> rows;
    for (std::size_t y = 0; y < dots.size(); ++y) {
        if (x < dots[y].size() && dots[y][x] == '#') rows.push_back(static_cast<int>(y));
    }
    return rows;
}

std::vector<PlotRow> Rows(const std::vector<std::vector<double>>& values) {
    std::vector<PlotRow> rows;
    for (const auto& v : values) rows.push_back({rows.size() + 1, v});
    return rows;
}

void ExpectSize(const std::vector<std::string>& chart, int columns, int lines) {
    ASSERT_EQ(chart.size(), static_cast<std::size_t>(lines));
    for (const std::string& line : chart) EXPECT_EQ(Cells(line), columns) << line;
}

TEST(TarntermPlot, ARisingSeriesRisesFromTheLowestToTheHighestDot) {
    const auto chart =
        tarnterm::RenderChart(Rows({{1}, {2}, {3}, {4}, {5}, {6}, {7}, {8}}), {"v"}, 20, 5, false);
    ExpectSize(chart, 20, 5);
    EXPECT_EQ(chart[0].rfind("v 8", 0), 0u) << chart[0];
    EXPECT_NE(chart[1].find("8 \xe2\x94\xa4"), std::string::npos) << chart[1];
    EXPECT_NE(chart[4].find("1 \xe2\x94\xa4"), std::string::npos) << chart[4];
    const auto dots = DotsOf(chart);
    const int bottom = static_cast<int>(dots.size()) - 1;
    EXPECT_EQ(RowsAt(dots, 0), std::vector<int>{bottom});
    EXPECT_EQ(RowsAt(dots, 7).front(), 0);
    for (std::size_t x = 1; x < 8; ++x)
        EXPECT_LT(RowsAt(dots, x).front(), RowsAt(dots, x - 1).front());
    // Nothing right of the newest row.
    EXPECT_TRUE(RowsAt(dots, 8).empty());
}

TEST(TarntermPlot, TwoSeriesBothShowWithTheirNewestValues) {
    const auto chart =
        tarnterm::RenderChart(Rows({{1, 100}, {1, 100}, {1, 100}}), {"a", "b"}, 24, 6, false);
    ExpectSize(chart, 24, 6);
    EXPECT_EQ(chart[0].rfind("a 1  b 100", 0), 0u) << chart[0];
    const auto dots = DotsOf(chart);
    for (std::size_t x = 0; x < 3; ++x) {
        EXPECT_EQ(RowsAt(dots, x), (std::vector<int>{0, static_cast<int>(dots.size()) - 1}));
    }
    // In colour each series has its own, and the line ends plain.
    const auto colored = tarnterm::RenderChart(Rows({{1, 100}, {1, 100}}), {"a", "b"}, 24, 6, true);
    EXPECT_NE(colored[1].find("\x1b[33m"), std::string::npos);
    EXPECT_NE(colored.back().find("\x1b[32m"), std::string::npos);
    EXPECT_EQ(colored.back().substr(colored.back().size() - 4), "\x1b[0m");
}

TEST(TarntermPlot, ConstantEmptyAndCrampedChartsStillFillTheirSize) {
    // Constant data sits in the middle, between finite labels.
    const auto flat = tarnterm::RenderChart(Rows({{5}, {5}, {5}}), {"v"}, 20, 5, false);
    ExpectSize(flat, 20, 5);
    const auto dots = DotsOf(flat);
    const std::vector<int> rows = RowsAt(dots, 0);
    ASSERT_EQ(rows.size(), 1u);
    EXPECT_GT(rows[0], 0);
    EXPECT_LT(rows[0], static_cast<int>(dots.size()) - 1);
    EXPECT_EQ(RowsAt(dots, 2), rows);
    EXPECT_NE(flat[1].find("5.5"), std::string::npos) << flat[1];
    EXPECT_NE(flat[4].find("4.5"), std::string::npos) << flat[4];

    const auto empty = tarnterm::RenderChart({}, {}, 30, 4, false);
    ExpectSize(empty, 30, 4);
    EXPECT_EQ(empty[0].rfind("waiting for lines with numbers", 0), 0u);
    for (const std::string& dotRow : DotsOf(empty)) EXPECT_EQ(dotRow.find('#'), std::string::npos);

    // Only the newest rows fit; the scale is theirs.
    std::vector<std::vector<double>> many;
    for (int i = 1; i <= 100; ++i) many.push_back({static_cast<double>(i)});
    const auto newest = tarnterm::RenderChart(Rows(many), {"v"}, 12, 3, false);
    ExpectSize(newest, 12, 3);
    EXPECT_EQ(std::stod(newest[1]), 100) << newest[1];
    EXPECT_GT(std::stod(newest[2]), 80) << newest[2];

    ExpectSize(tarnterm::RenderChart(Rows(many), {"v"}, 3, 1, false), 3, 1);
}

// Numbers of very different size: on a scale each, both series span the
// plot, and the legend gives each range.
TEST(TarntermPlot, EachSeriesMayHaveAScaleOfItsOwn) {
    const auto rows = Rows({{1, 100}, {2, 200}, {3, 300}});
    const auto shared = DotsOf(tarnterm::RenderChart(rows, {"a", "b"}, 30, 5, false));
    const int bottom = static_cast<int>(shared.size()) - 1;
    // On one scale, a stays flat at the bottom.
    EXPECT_EQ(RowsAt(shared, 2).back(), bottom);
    const auto chart =
        tarnterm::RenderChart(rows, {"a", "b"}, 30, 5, false, tarnterm::PlotScale::kEach);
    ExpectSize(chart, 30, 5);
    EXPECT_EQ(chart[0].rfind("a 3 (1..3)  b 300 (100..300)", 0), 0u) << chart[0];
    EXPECT_NE(chart[1].find("100% \xe2\x94\xa4"), std::string::npos) << chart[1];
    const auto dots = DotsOf(chart);
    EXPECT_EQ(RowsAt(dots, 0), std::vector<int>{bottom});
    EXPECT_EQ(RowsAt(dots, 2).front(), 0);
    EXPECT_LT(RowsAt(dots, 2).back(), bottom);
}

// The polylines of an SVG image, each as its points.
std::vector<std::vector<std::pair<double, double>>> Polylines(const std::string& svg) {
    std::vector<std::vector<std::pair<double, double>>> lines;
    const std::regex polyline("<polyline [^>]*points=\"([^\"]*)\"");
    for (std::sregex_iterator it(svg.begin(), svg.end(), polyline), end; it != end; ++it) {
        std::istringstream points((*it)[1].str());
        lines.emplace_back();
        for (std::string point; points >> point;) {
            const std::size_t comma = point.find(',');
            lines.back().emplace_back(std::stod(point.substr(0, comma)),
                                      std::stod(point.substr(comma + 1)));
        }
    }
    return lines;
}

TEST(TarntermPlot, SessionSvgHasAPolylinePerSeriesAndAnEscapedLegend) {
    PlotSeries series;
    for (const char* line : {"<a>=1 b&c=10", "<a>=2 b&c=20", "<a>=3", "<a>=4 b&c=5"}) {
        series.AddLine(line);
    }
    const std::string svg = tarnterm::SessionSvg(series);
    EXPECT_EQ(svg.rfind("<?xml", 0), 0u);
    EXPECT_EQ(svg.substr(svg.size() - 7), "</svg>\n");
    EXPECT_NE(svg.find(">&lt;a&gt;</text>"), std::string::npos);
    EXPECT_NE(svg.find(">b&amp;c</text>"), std::string::npos);
    // Outside the tags nothing but escapes.
    EXPECT_EQ(svg.find("<a>"), std::string::npos);
    EXPECT_EQ(std::count(svg.begin(), svg.end(), '<'), std::count(svg.begin(), svg.end(), '>'));

    const auto lines = Polylines(svg);
    ASSERT_EQ(lines.size(), 2u);
    ASSERT_EQ(lines[0].size(), 4u);
    // The line without b is passed over.
    ASSERT_EQ(lines[1].size(), 3u);
    for (const auto& points : lines) {
        for (std::size_t i = 1; i < points.size(); ++i) {
            EXPECT_GT(points[i].first, points[i - 1].first);
        }
    }
    // Rising values go up the image.
    for (std::size_t i = 1; i < 4; ++i) EXPECT_LT(lines[0][i].second, lines[0][i - 1].second);
    EXPECT_GT(lines[1][2].second, lines[1][0].second);

    // On a scale each, both series span the image, named with unit and
    // range.
    PlotSeries sized;
    for (const char* line : {"1V 100", "2V 300", "3V 200"}) sized.AddLine(line);
    const std::string each = tarnterm::SessionSvg(sized, tarnterm::PlotScale::kEach);
    EXPECT_NE(each.find(">#1 (V) 1 to 3</text>"), std::string::npos) << each;
    EXPECT_NE(each.find(">100%</text>"), std::string::npos);
    const auto spans = Polylines(each);
    ASSERT_EQ(spans.size(), 2u);
    EXPECT_DOUBLE_EQ(spans[0][0].second, spans[1][0].second);
    EXPECT_DOUBLE_EQ(spans[0][2].second, spans[1][1].second);

    const std::string none = tarnterm::SessionSvg(PlotSeries());
    EXPECT_NE(none.find("no lines with numbers"), std::string::npos);
    EXPECT_TRUE(Polylines(none).empty());
}

}  // namespace

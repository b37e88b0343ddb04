// The live chart of --plot as lines of text: braille characters, each a
// cell of 2 x 4 dots, so that a screen line holds four dot rows.
#pragma once

#include <string>
#include <vector>

#include "options.h"
#include "plot_series.h"

namespace tarnterm {

// The chart of the newest of `rows` in `columns` x `lines` character cells:
// a legend line (each series' name and newest value with its unit from
// `units`, when given), then the plot, with the value axis on the left
// labelled with the lowest and highest value shown (and the middle one,
// when there is room). One row per dot column, the newest on the right once
// the plot is full; the scale follows the lowest and highest value of the
// rows shown. With PlotScale::kEach every series spans the plot on its own
// range, which the legend gives ("T 21.5 (20..23)"), and the axis of two or
// more series is in percent of each range. Returns `lines` strings of
// UTF-8, each exactly `columns` cells wide; with `color` the series are in
// the colours of the legend (SGR sequences, which take no cells). A size
// too small for a plot gives blank lines.
std::vector<std::string> RenderChart(const std::vector<PlotRow>& rows,
                                     const std::vector<std::string>& names, int columns, int lines,
                                     bool color, PlotScale scale = PlotScale::kShared,
                                     const std::vector<std::string>& units = {});

}  // namespace tarnterm

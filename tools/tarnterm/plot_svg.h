// The chart of a whole session for --plot-out: a self-contained SVG image
// with one polyline per series, axes with labelled ticks, and a legend.
#pragma once

#include <string>

#include "options.h"
#include "plot_series.h"

namespace tarnterm {

// The image of the session of `series`. The horizontal axis counts the
// lines with numbers; a series goes straight over lines that lack its
// value. The legend names each series with its unit, "T (C)". With
// PlotScale::kEach and two or more series, each spans the plot on its own
// range, which the legend gives ("T (C) 20 to 23"), and the vertical axis
// is in percent of each range.
std::string SessionSvg(const PlotSeries& series, PlotScale scale = PlotScale::kShared);

// Writes SessionSvg to the file `path` (UTF-8), replacing it. False, with
// `error` saying why in one line, when it cannot.
bool WriteSessionSvg(const std::string& path, const PlotSeries& series, PlotScale scale,
                     std::string& error);

// `text` with the characters that XML gives a meaning escaped.
std::string XmlEscaped(const std::string& text);

}  // namespace tarnterm

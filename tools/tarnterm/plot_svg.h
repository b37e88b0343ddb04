// The chart of a whole session for --plot-out: a self-contained SVG image
// with one polyline per series, axes with labelled ticks, and a legend.
#pragma once

#include <string>

#include "plot_series.h"

namespace tarnterm {

// The image of the session of `series`. The horizontal axis counts the
// lines with numbers; a series goes straight over lines that lack its
// value.
std::string SessionSvg(const PlotSeries& series);

// Writes SessionSvg to the file `path` (UTF-8), replacing it. False, with
// `error` saying why in one line, when it cannot.
bool WriteSessionSvg(const std::string& path, const PlotSeries& series, std::string& error);

// `text` with the characters that XML gives a meaning escaped.
std::string XmlEscaped(const std::string& text);

}  // namespace tarnterm

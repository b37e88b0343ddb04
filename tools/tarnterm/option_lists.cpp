// The readers of the options that take lists separated by commas: --map
// and --plot-columns.
#include <algorithm>
#include <cstdlib>
#include <iterator>
#include <string>
#include <vector>

#include "option_table.h"
#include "plot_series.h"

namespace tarnterm {
namespace {

// The parts of a list separated by commas, empty ones included, so that
// "1,,3" shows its empty part to the check of each.
std::vector<std::string> CommaSeparated(const std::string& list) {
    std::vector<std::string> parts;
    std::size_t from = 0;
    while (from <= list.size()) {
        std::size_t comma = list.find(',', from);
        if (comma == std::string::npos) comma = list.size();
        parts.push_back(list.substr(from, comma - from));
        from = comma + 1;
    }
    return parts;
}

}  // namespace

// --map: the comma-separated rules, each of which sets what one byte
// becomes in one direction; two rules for the same byte are refused.
bool ReadMap(Options& o, const Argument& arg) {
    const struct {
        const char* name;
        bool in;
        bool cr;
        const char* becomes;
    } kRules[] = {
        {"icrnl", true, true, "\n"},   {"igncr", true, true, ""},
        {"inlcr", true, false, "\r"},  {"inlcrlf", true, false, "\r\n"},
        {"ocrnl", false, true, "\n"},  {"ocrcrlf", false, true, "\r\n"},
        {"onlcr", false, false, "\r"}, {"onlcrnl", false, false, "\r\n"},
    };
    std::string taken[2][2];
    for (const std::string& name : CommaSeparated(arg.value)) {
        const auto* rule = std::find_if(std::begin(kRules), std::end(kRules),
                                        [&](const auto& r) { return name == r.name; });
        if (rule == std::end(kRules)) {
            return arg.Fail(arg.name + " '" + name +
                            "' is not a rule; use icrnl, igncr, inlcr, inlcrlf, ocrnl, ocrcrlf, "
                            "onlcr or onlcrnl, separated by commas");
        }
        std::string& other = taken[rule->in][rule->cr];
        if (!other.empty() && other != name) {
            return arg.Fail(arg.name + " " + other + " and " + name + " both change " +
                            (rule->cr ? "CR" : "LF") + (rule->in ? " received" : " sent") +
                            "; choose one");
        }
        other = name;
        ByteMap& map = rule->in ? o.map.in : o.map.out;
        (rule->cr ? map.cr : map.lf) = rule->becomes;
    }
    return true;
}

// --plot-columns: the places of the numbers to chart, such as "1,3",
// taken in rising order whatever order they are given in.
bool ReadPlotColumns(Options& o, const Argument& arg) {
    const std::string hint =
        "; give the places of the numbers in a line, from 1, separated by commas, such as "
        "--plot-columns 1,3 (at most " +
        std::to_string(PlotSeries::kMostSeries) + ")";
    std::vector<std::size_t> places;
    for (const std::string& place : CommaSeparated(arg.value)) {
        const long number = AllDigits(place) ? std::atol(place.c_str()) : 0;
        if (number < 1) return arg.Refuse("has '" + place + "', which is no place" + hint);
        if (std::find(places.begin(), places.end(), number) != places.end()) {
            return arg.Refuse("names " + place + " twice" + hint);
        }
        places.push_back(static_cast<std::size_t>(number));
    }
    if (places.size() > PlotSeries::kMostSeries) return arg.Refuse("names too many" + hint);
    std::sort(places.begin(), places.end());
    o.plotColumns = std::move(places);
    return true;
}

}  // namespace tarnterm

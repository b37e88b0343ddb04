#include "report.h"

#include <cmath>
#include <cstdio>
#include <iomanip>
#include <ostream>
#include <sstream>

#include "host_json.h"

namespace tarn::bench {
namespace {

using tarn::host::JsonQuoted;

std::string Spread(const Summary& s) {
    if (s.count == 0) return "-";
    return FormatFigure(s.median) + " [" + FormatFigure(s.min) + ", " + FormatFigure(s.max) + "]";
}

std::string JsonNumber(double value) {
    if (!std::isfinite(value)) return "null";
    std::ostringstream text;
    text << std::setprecision(10) << value;
    return text.str();
}

void WriteSeries(std::ostream& out, const char* key, const std::vector<double>& values) {
    const Summary s = Summarize(values);
    out << "          " << JsonQuoted(key) << ": {";
    if (s.count == 0) {
        out << "\"median\": null, \"min\": null, \"max\": null, \"runs\": []}";
        return;
    }
    out << "\"median\": " << JsonNumber(s.median) << ", \"min\": " << JsonNumber(s.min)
        << ", \"max\": " << JsonNumber(s.max) << ", \"runs\": [";
    for (std::size_t i = 0; i < values.size(); ++i) {
        out << (i ? ", " : "") << JsonNumber(values[i]);
    }
    out << "]}";
}

}  // namespace

std::vector<double> FigureResult::Ratios() const {
    std::vector<double> ratios;
    for (std::size_t i = 0; i < component.size() && i < baseline.size(); ++i) {
        if (baseline[i] != 0) ratios.push_back(component[i] / baseline[i]);
    }
    return ratios;
}

std::optional<bool> FigureResult::GoalMet() const {
    if (!kind.goal) return std::nullopt;
    const Summary s = Summarize(kind.goalIsRatio ? Ratios() : component);
    if (s.count == 0) return std::nullopt;
    return kind.higherIsBetter ? s.median >= *kind.goal : s.median <= *kind.goal;
}

std::string FormatFigure(double value) {
    if (!std::isfinite(value)) return "n/a";
    char text[32];
    std::snprintf(text, sizeof text, "%.4g", value);
    return text;
}

void PrintTable(std::ostream& out, const std::vector<ScenarioResult>& results, bool withGoals) {
    out << "Figures are median [min, max] over the runs; the ratio is component / baseline,\n"
           "taken for each interleaved pair of runs.\n";
    for (const ScenarioResult& r : results) {
        out << "\n" << r.name << ": " << r.title << "\n";
        if (!r.failure.empty()) out << "  FAILED: " << r.failure << "\n";
        for (const FigureResult& f : r.figures) {
            out << "  " << std::left << std::setw(14) << f.kind.name << " component "
                << std::setw(28) << Spread(Summarize(f.component)) << " baseline " << std::setw(28)
                << Spread(Summarize(f.baseline)) << " ratio " << Spread(Summarize(f.Ratios()));
            const std::optional<bool> met = f.GoalMet();
            if (withGoals && met) {
                out << "   goal " << (f.kind.higherIsBetter ? ">= " : "<= ")
                    << FormatFigure(*f.kind.goal) << (f.kind.goalIsRatio ? " x baseline" : "")
                    << (*met ? ": met" : ": MISSED");
            }
            out << "\n";
        }
    }
}

void WriteJson(std::ostream& out, const std::vector<ScenarioResult>& results, std::size_t runs,
               bool smoke) {
    out << "{\n  \"runs\": " << runs << ",\n  \"smoke\": " << (smoke ? "true" : "false")
        << ",\n  \"scenarios\": [";
    for (std::size_t i = 0; i < results.size(); ++i) {
        const ScenarioResult& r = results[i];
        out << (i ? "," : "") << "\n    {\n      \"name\": " << JsonQuoted(r.name)
            << ",\n      \"title\": " << JsonQuoted(r.title)
            << ",\n      \"verified\": " << (r.failure.empty() ? "true" : "false");
        if (!r.failure.empty()) out << ",\n      \"failure\": " << JsonQuoted(r.failure);
        out << ",\n      \"figures\": [";
        for (std::size_t j = 0; j < r.figures.size(); ++j) {
            const FigureResult& f = r.figures[j];
            out << (j ? "," : "") << "\n        {\n          \"name\": " << JsonQuoted(f.kind.name)
                << ",\n          \"higher_is_better\": "
                << (f.kind.higherIsBetter ? "true" : "false") << ",\n";
            WriteSeries(out, "component", f.component);
            out << ",\n";
            WriteSeries(out, "baseline", f.baseline);
            out << ",\n";
            WriteSeries(out, "ratio", f.Ratios());
            if (f.kind.goal) {
                const std::optional<bool> met = f.GoalMet();
                out << ",\n          \"goal\": {\"value\": " << JsonNumber(*f.kind.goal)
                    << ", \"of\": " << (f.kind.goalIsRatio ? "\"ratio\"" : "\"component\"")
                    << ", \"met\": " << (met ? (*met ? "true" : "false") : "null") << "}";
            }
            out << "\n        }";
        }
        out << "\n      ]\n    }";
    }
    out << "\n  ]\n}\n";
}

}  // namespace tarn::bench

// The benchmark program: runs the scenarios, prints component, baseline and
// ratio as median [min, max] over the runs, and writes the same as JSON.
// Exits with 1 when a run could not verify its data, whatever the speed.
#include <cstdlib>
#include <exception>
#include <fstream>
#include <iostream>
#include <set>
#include <sstream>
#include <string>

#include "scenarios.h"

namespace {

using namespace tarn::bench;

void Usage(std::ostream& out) {
    const Settings full = Settings::Full();
    out << "usage: tarn_bench [--smoke] [--runs N] [--only NAME,...] [--json FILE]\n"
           "                  [--bulk-default-mib N] [--list]\n"
           "  --smoke               one short run of each scenario: verifies data, no figures\n"
           "                        worth reading\n"
           "  --runs N              interleaved pairs of runs per scenario (default "
        << full.runs
        << "; the\n"
           "                        bulk receive at the default Delay runs at most "
        << full.bulkDefaultRuns
        << ",\n"
           "                        the send "
        << full.sendRunsPerRun
        << " times N)\n"
           "  --only NAME,...       run only these scenarios (see --list)\n"
           "  --json FILE           where to write the results (default tarn_bench.json)\n"
           "  --bulk-default-mib N  MiB for the bulk receive at the default Delay (default "
        << SizeText(full.bulkDefaultBytes) << ")\n";
}

bool ParseCount(const char* text, std::size_t& value) {
    char* end = nullptr;
    const unsigned long long parsed = std::strtoull(text, &end, 10);
    if (end == text || *end != '\0' || parsed == 0) return false;
    value = static_cast<std::size_t>(parsed);
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    bool smoke = false;
    bool list = false;
    std::size_t runs = 0;
    std::size_t bulkDefaultMib = 0;
    std::string jsonPath = "tarn_bench.json";
    std::set<std::string> only;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        const bool hasValue = i + 1 < argc;
        if (arg == "--smoke") {
            smoke = true;
        } else if (arg == "--list") {
            list = true;
        } else if (arg == "--runs" && hasValue && ParseCount(argv[i + 1], runs)) {
            ++i;
        } else if (arg == "--bulk-default-mib" && hasValue &&
                   ParseCount(argv[i + 1], bulkDefaultMib)) {
            ++i;
        } else if (arg == "--json" && hasValue) {
            jsonPath = argv[++i];
        } else if (arg == "--only" && hasValue) {
            std::istringstream names(argv[++i]);
            for (std::string name; std::getline(names, name, ',');) only.insert(name);
        } else {
            Usage(arg == "--help" ? std::cout : std::cerr);
            return arg == "--help" ? 0 : 2;
        }
    }

    Settings settings = smoke ? Settings::Smoke() : Settings::Full();
    if (runs != 0) settings.runs = runs;
    if (bulkDefaultMib != 0) settings.bulkDefaultBytes = bulkDefaultMib << 20;

    std::vector<Scenario> scenarios;
    std::set<std::string> unknown = only;
    for (Scenario& s : AllScenarios(settings)) {
        if (list) std::cout << s.name << ": " << s.title << "\n";
        unknown.erase(s.name);
        if (only.empty() || only.count(s.name) == 1) scenarios.push_back(std::move(s));
    }
    if (list) return 0;
    if (!unknown.empty()) {
        std::cerr << "unknown scenario: " << *unknown.begin() << "\n";
        return 2;
    }

    std::vector<ScenarioResult> results;
    bool verified = true;
    for (const Scenario& s : scenarios) {
        try {
            results.push_back(RunScenario(
                s, [](const std::string& what) { std::cerr << "... " << what << std::endl; }));
        } catch (const std::exception& e) {
            results.push_back({s.name, s.title, {}, std::string("exception: ") + e.what()});
        }
        if (!results.back().failure.empty()) verified = false;
    }

    std::cout << "\n";
    PrintTable(std::cout, results, !smoke);
    std::ofstream json(jsonPath);
    WriteJson(json, results, settings.runs, smoke);
    json.close();
    if (!json) {
        std::cerr << "could not write " << jsonPath << "\n";
        return 1;
    }
    std::cout << "\nresults written to " << jsonPath << "\n";
    if (!verified) std::cout << "FAILED: a scenario could not verify its data\n";
    return verified ? 0 : 1;
}

// The numbers of one received line, for --plot and --plot-out: each number
// in the line, with the word before it as its name and the letters after
// it as its unit, so that "T=21.5C H=40" gives T 21.5 C and H 40.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace tarnterm {

struct LineNumber {
    // The last word between the number and the one before it (with its
    // unit), without the separators around it (" T=" gives "T"): printable
    // ASCII only, at most kLongestName bytes; empty when nothing stands
    // there, as for each number of "1.5V 20mA".
    std::string name;
    double value;
    // The letters that follow the number at once ("V" of "1.5V", "µs" of
    // "250µs"): valid UTF-8 without control characters, at most
    // kLongestName bytes; empty for none.
    std::string unit;
};

constexpr std::size_t kLongestName = 16;

// The numbers of `line`, in the order they stand. A number is an optional
// sign, digits with an optional decimal point ("21.5", "-.5", "5.") and an
// optional exponent ("1e3", "2.5E-3"). It counts only where a word begins:
//  - digits that go on a word are part of a name: "T1", "SN0001", "x_2";
//  - a hyphen after a letter joins a name: "TT-100", "RS-232"; after a
//    digit it separates: "10-20" gives 10 and 20;
//  - a unit may follow at once ("21.5C", "100ms"), but a word that mixes
//    more digits in is no number at all: "0x1F", "3V3", "1.2.3";
//  - a decimal comma is a separator: "21,5" gives 21 and 5;
//  - values beyond the range of a double are left out.
std::vector<LineNumber> ExtractNumbers(std::string_view line);

// A value as the charts label it: four significant digits, "21.47",
// "1.235e+06".
std::string ValueText(double value);

}  // namespace tarnterm

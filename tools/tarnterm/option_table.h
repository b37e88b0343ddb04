// The table of tarnterm's command-line options, from which both the parser
// and the usage text are made, and the small readers of option values that
// the table's appliers share.
#pragma once

#include <string>
#include <utility>
#include <vector>

#include "options.h"

namespace tarnterm {

// One option as the command line gave it, handed to the option's applier.
struct Argument {
    // The long name, whichever spelling was typed, so that every message
    // names the option the same way.
    const std::string& name;
    // Empty for a flag.
    const std::string& value;
    std::string& error;

    // Refuses the value: "--baud 'fast' " followed by `why`.
    bool Refuse(const std::string& why) const { return Fail(name + " '" + value + "' " + why); }
    bool Fail(std::string message) const {
        error = std::move(message);
        return false;
    }
};

// One option of the command line. The parser and the usage text are both
// made from the table below, so an option is added there and nowhere else.
struct Option {
    // The short spelling, such as "-b", or none.
    const char* alias;
    const char* name;
    // How the usage text names the value; none for a flag. One in brackets,
    // "[=...]", is optional and given only after '='.
    const char* valueName;
    // An accepted value, shown when the value is missing.
    const char* example;
    // The usage text's description; after a '\n' it goes on in its column.
    const char* help;
    // Applies the value, or the flag, to the options. False, with the error
    // set through `arg`, when the value is not acceptable.
    bool (*apply)(Options& o, const Argument& arg);
};

// A heading of the usage text and the options under it.
struct OptionGroup {
    const char* heading;
    std::vector<Option> options;
    // A line of the usage text after the group's options, or none.
    const char* note;
};

// Every option, in groups in the order of the usage text.
const std::vector<OptionGroup>& OptionGroups();

// The option that `spelling` names, long or short; none for an unknown one.
const Option* FindOption(const std::string& spelling);

// The appliers of the options that take lists separated by commas
// (option_lists.cpp): --map's rules and --plot-columns' places.
bool ReadMap(Options& o, const Argument& arg);
bool ReadPlotColumns(Options& o, const Argument& arg);

// True for 1 to 9 decimal digits and nothing else.
bool AllDigits(const std::string& text);

// The value of a hexadecimal digit, or -1.
int HexDigit(char c);

}  // namespace tarnterm

// SPDX-License-Identifier: MIT
#pragma once
#include <map>
#include <set>
#include <string>
#include <vector>

#include "options/OptionTable.h"

namespace ps::options {

// A command line read against a program's rows of the option table.
struct ParsedLine {
    std::set<std::string> Given;                // long names of the options given ("--quiet")
    std::map<std::string, std::string> Values;  // their values, the last one given wins
    std::vector<std::string> Steps;             // every other argument, in order

    bool Has(const std::string& option) const { return Given.count(option) != 0; }
    std::string Value(const std::string& option) const;
};

// Reads args (without the program's name): "--option value" and "--option=value" alike,
// short flags may be joined ("-qv"), everything after "--" is a step line. False with a
// one-line message for an unknown option or an option without its value.
bool ParseCommandLine(Program program, const std::vector<std::string>& args, ParsedLine& out,
                      std::string& error);

// A whole decimal number from min to max, digits only: no sign, no blanks, no "0x".
bool StrictWhole(const std::string& text, long min, long max, long& out);

// args without `option` and its value, in either form (what a gang passes on to its runs).
std::vector<std::string> WithoutOption(Program program, const std::vector<std::string>& args,
                                       const std::string& option);

}  // namespace ps::options

// SPDX-License-Identifier: MIT
#pragma once
#include <string>
#include <utility>
#include <vector>

namespace ps::options {

// Which program offers an option.
enum Program : unsigned { Cli = 1, Gui = 2 };

// How the bash completion offers an option's value.
enum class Completion { None, File, Words };

// One option of the programs' command lines. --help, the man pages and the bash completion
// are all made from these rows, so they cannot drift apart.
struct OptionSpec {
    const char* Short;  // "-q", or "" for none
    const char* Long;   // "--quiet"
    const char* Value;  // the value's name in help texts ("PATH"), "" for a flag
    const char* Help;   // what it does, one paragraph
    unsigned Programs;  // Cli | Gui
    const char* Group;  // a heading the option is listed under, "" for the first list
    Completion Complete = Completion::None;
    const char* Words = "";  // the values offered for Completion::Words
    bool Hidden = false;     // taken, but never shown (how a gang starts its runs)
};

// Every option of both programs.
const std::vector<OptionSpec>& OptionTable();
// The rows of one program, in table order.
std::vector<const OptionSpec*> OptionsOf(Program program);
// "progstation-cli" or "progstation".
const char* ProgramName(Program program);

// The text of --help: usage, the options with their help wrapped at 79 columns, and what
// the program says after them.
std::string HelpText(Program program);
// The same in a system's own words: each (phrase, replacement) pair applied to every
// option's help and to the closing text before they are wrapped. The table speaks of
// Linux; the Windows build names its own places and keys this way.
using HelpPhrases = std::vector<std::pair<std::string, std::string>>;
std::string HelpText(Program program, const HelpPhrases& phrases);
// This system's phrases (PosixHelpPhrases.cpp, Win32HelpPhrases.cpp).
HelpPhrases SystemHelpPhrases();
// The OPTIONS section of a man page in the Markdown pandoc turns into roff.
std::string ManOptions(Program program);
// A man page: `page` (its Markdown source) with the line "@OPTIONS@" replaced by
// ManOptions(program).
std::string ManPage(Program program, const std::string& page);
// The bash completion script of progstation-cli.
std::string BashCompletion();

}  // namespace ps::options

// SPDX-License-Identifier: MIT
#include "options/OptionTable.h"

#include <algorithm>
#include <cctype>

namespace ps::options {

namespace {

constexpr const char* CliUsage =
    "usage: progstation-cli [-q|-v] [--ini PATH] [--port N] [--trace FILE] [AUTO[=n]]\n"
    "                       [step lines...]\n"
    "       progstation-cli --show-steps [--ini PATH] [step lines...]\n"
    "       progstation-cli --list-ports [--ini PATH]\n"
    "\n"
    "Runs the current project (the step file \"upgrade.cfg\" in the current folder) at once,\n"
    "as the desktop station's START does, and exits with the run's status.\n"
    "\n";

constexpr const char* CliEpilogue =
    "Other arguments are applied to every step as step-file lines (\"/AUTOCONTINUE\").\n"
    "An option's value follows it as the next argument or after \"=\" (--port=2).\n"
    "After a failure, lines beginning \"hint: \" on standard error say what was tried.\n"
    "Error lines are red on a terminal unless NO_COLOR is set.\n"
    "While a step waits for CONTINUE, a line on standard input continues and the end of\n"
    "input stops. Ctrl-C (SIGINT, SIGTERM, SIGHUP) is STOP; a second Ctrl-C exits at once.\n"
    "\n"
    "exit status:\n"
    "   0  every step ended in success\n"
    "   1  BREAK: stopped, or a command refused by the board\n"
    "   2, 5, 8, 23, 24, 25  the run ended with that error code\n"
    "   3  the run went through, but a step ended with ERRORS: or CHECK SUM FAIL\n"
    "  10  ERROR : opening file. (step file), or BAD VALUE: a value in it that cannot be\n"
    "      used (a range that is empty, negative or too large, a NUL byte, a value that\n"
    "      would wrap where it is sent: /ERASESECTORS= past 16 bits, /ADDREXTFLASH=)\n"
    "  11  ERROR : opening COM port., or the port failed during the run\n"
    "  12  an image file could not be opened or is malformed (no data, a data byte the\n"
    "      step would not program at its own address, a record cut short or with a\n"
    "      character that is no hex digit, a read error, a line too long), or its .BIN\n"
    "      copy failed; refused before the port is opened\n"
    "  13  a step names a model this station cannot program yet\n"
    "  14  --silence-limit: the board said nothing for that long\n"
    "  15  the run failed in a way no step reports (the status line says how)\n"
    "  16  --record: the run succeeded but its run record could not be written (a failed\n"
    "      run keeps its own status; standard error says the record is missing)\n"
    "  64  bad command-line usage\n";

constexpr const char* GuiUsage =
    "usage: progstation [--ini PATH] [--trace FILE] [--projects | --gang LIST] [AUTO[=n]] [step-file "
    "lines...]\n"
    "\n";

constexpr const char* GuiEpilogue =
    "  AUTO[=n]            run the current project at once and end with its status\n"
    "Other arguments are applied to every step as step-file lines.\n"
    "An option's value follows it as the next argument or after \"=\" (--ini=FILE).\n";

constexpr const char* ProductionGroup = "production line (see docs/production.md)";
constexpr unsigned Both = Cli | Gui;

}  // namespace

const std::vector<OptionSpec>& OptionTable() {
    using C = Completion;
    static const std::vector<OptionSpec> table = {
        {"", "--ini", "PATH",
         "settings file to use instead of the user's ~/.config/progstation/PROGRAMMER.INI "
         "(when it exists), then /etc/progstation/PROGRAMMER.INI for an installed station or "
         "PROGRAMMER.INI in the program's folder for a copied one; a missing file means "
         "default settings",
         Both, "", C::File},
        {"", "--port", "N",
         "COM port 1..4 (default 1); [Ports] COMn=... in the settings file or the environment "
         "variable PROGSTATION_COMn=... map it to a device or to a simulated board "
         "(sim:NAME[,options]; see boardsim --help)",
         Cli, "", C::Words, "1 2 3 4"},
        {"", "--trace", "FILE",
         "write every port event to FILE (ms since start, then the event); with --gang each "
         "port has its own, FILE with the port before the extension (trace.txt -> "
         "trace.COM2.txt)",
         Both, "", C::File},
        {"-q", "--quiet", "", "print only the last status line of each step and the exit status",
         Cli, ""},
        {"-v", "--verbose", "",
         "also print every port event to standard error, as --trace "
         "writes it",
         Cli, ""},
        {"", "--show-steps", "",
         "print the settings of every step as a run would load them, and the damaged records "
         "and unprogrammable data of its images, and exit",
         Cli, ""},
        {"", "--projects", "", "open the projects dialog at start (not with AUTO)", Gui, ""},
        {"", "--gang", "LIST",
         "run the project on every COM port of LIST (\"1,2,3,4\") at once; the desktop "
         "station shows one panel per port (also [INIT] Gang=LIST in PROGRAMMER.INI)",
         Both, ProductionGroup},
        {"", "--gang-port", "N", "how a gang starts the run of one of its ports", Cli, "", C::None,
         "", true},
        {"", "--record", "FILE", "append one JSON line per run (and port) to FILE", Both,
         ProductionGroup, C::File},
        {"", "--silence-limit", "SECONDS",
         "end a run whose board says nothing for that long in a wait (status 14); off by "
         "default: waits have no time limit",
         Cli, ProductionGroup},
        {"", "--wait-port", "SECONDS",
         "when the port's device is missing at a step, wait up to that long for it to appear "
         "(an adapter being plugged in)",
         Cli, ProductionGroup},
        {"", "--check-images", "",
         "list the image records whose checksum or length is wrong and the data a step's "
         "loader would not program (first 100, and a count), then run",
         Cli, ProductionGroup},
        {"", "--strict-images", "", "refuse such images (status 12) before anything is sent", Cli,
         ProductionGroup},
        {"", "--list-ports", "",
         "list the serial devices of this machine and the COM ports leading to them, and exit", Cli,
         ProductionGroup},
        {"", "--version", "", "print the version and exit", Both, ProductionGroup},
        {"-h", "--help", "", "this text", Both, ProductionGroup},
    };
    return table;
}

std::vector<const OptionSpec*> OptionsOf(Program program) {
    std::vector<const OptionSpec*> out;
    for (const OptionSpec& o : OptionTable())
        if (o.Programs & program) out.push_back(&o);
    return out;
}

const char* ProgramName(Program program) {
    return program == Gui ? "progstation" : "progstation-cli";
}

namespace {

// "-q, --quiet" or "--ini PATH".
std::string Names(const OptionSpec& o) {
    std::string names = *o.Short ? std::string(o.Short) + ", " : std::string();
    names += o.Long;
    if (*o.Value) names += std::string(" ") + o.Value;
    return names;
}

// The text wrapped at `width` columns, every line after `first` indented by `indent`.
std::string Wrap(const std::string& text, std::string first, size_t indent, size_t width) {
    std::string out;
    std::string line = std::move(first);
    bool empty = true;
    size_t start = 0;
    while (start < text.size()) {
        size_t end = text.find(' ', start);
        if (end == std::string::npos) end = text.size();
        const std::string word = text.substr(start, end - start);
        start = end + 1;
        if (word.empty()) continue;
        if (!empty && line.size() + 1 + word.size() > width) {
            out += line + "\n";
            line = std::string(indent, ' ');
            empty = true;
        }
        line += (empty ? "" : " ") + word;
        empty = false;
    }
    return out + line + "\n";
}

// The program's options shown in help texts and man pages, in the order of their groups'
// first appearance.
std::vector<std::pair<std::string, std::vector<const OptionSpec*>>> Groups(Program program) {
    std::vector<std::pair<std::string, std::vector<const OptionSpec*>>> groups;
    for (const OptionSpec* o : OptionsOf(program)) {
        if (o->Hidden) continue;
        // The desktop station's few options read as one list.
        const std::string group = program == Gui ? "" : o->Group;
        auto it = std::find_if(groups.begin(), groups.end(),
                               [&](const auto& g) { return g.first == group; });
        if (it == groups.end()) it = groups.insert(groups.end(), {group, {}});
        it->second.push_back(o);
    }
    return groups;
}

// Markdown for roff: a "-" is written "\-" so that man shows a plain minus sign.
std::string ManEscape(const std::string& text) {
    std::string out;
    for (char c : text) {
        if (c == '-' || c == '*' || c == '_' || c == '\\' || c == '[' || c == ']') out += '\\';
        out += c;
    }
    return out;
}

}  // namespace

std::string HelpText(Program program) {
    return HelpText(program, {});
}

std::string HelpText(Program program, const HelpPhrases& phrases) {
    auto local = [&phrases](std::string text) {
        for (const auto& [phrase, replacement] : phrases)
            for (size_t at = text.find(phrase); at != std::string::npos;
                 at = text.find(phrase, at + replacement.size()))
                text.replace(at, phrase.size(), replacement);
        return text;
    };
    constexpr size_t Column = 22, Width = 79;
    std::string out = program == Gui ? GuiUsage : CliUsage;
    for (const auto& [group, rows] : Groups(program)) {
        if (!group.empty()) out += group + ":\n";
        for (const OptionSpec* o : rows) {
            // The help starts in its column, under the names when they reach it.
            std::string first = "  " + Names(*o);
            if (first.size() + 1 > Column) {
                out += first + "\n";
                first.clear();
            }
            first.resize(Column, ' ');
            out += Wrap(local(o->Help), first, Column, Width);
        }
    }
    return out + local(program == Gui ? GuiEpilogue : CliEpilogue);
}

std::string ManOptions(Program program) {
    std::string out;
    for (const auto& [group, rows] : Groups(program)) {
        if (!group.empty()) {
            std::string heading = group.substr(0, group.find(" ("));
            heading[0] = static_cast<char>(heading[0] - 'a' + 'A');
            out += "## " + heading + "\n\n";
        }
        for (const OptionSpec* o : rows) {
            std::string names;
            if (*o->Short) names += "**" + ManEscape(o->Short) + "**, ";
            names += "**" + ManEscape(o->Long) + "**";
            if (*o->Value) names += " *" + std::string(o->Value) + "*";
            std::string help = o->Help;
            help[0] = static_cast<char>(std::toupper(static_cast<unsigned char>(help[0])));
            out += names + "\n:   " + ManEscape(help) + ".\n\n";
        }
    }
    return out;
}

std::string ManPage(Program program, const std::string& page) {
    constexpr const char* Marker = "@OPTIONS@\n";
    const size_t at = page.find(Marker);
    if (at == std::string::npos) return page;
    return page.substr(0, at) + ManOptions(program) +
           page.substr(at + std::char_traits<char>::length(Marker));
}

std::string BashCompletion() {
    std::string fileValues, wordValues, otherValues, names;
    for (const OptionSpec* o : OptionsOf(Cli)) {
        if (o->Hidden) continue;
        names += (names.empty() ? "" : " ") + std::string(o->Long);
        if (*o->Short) names += std::string(" ") + o->Short;
        if (!*o->Value) continue;
        switch (o->Complete) {
            case Completion::File:
                fileValues += (fileValues.empty() ? "" : "|") + std::string(o->Long);
                break;
            case Completion::Words:
                wordValues += std::string("        ") + o->Long + ") COMPREPLY=($(compgen -W \"" +
                              o->Words + "\" -- \"$cur\")); return ;;\n";
                break;
            case Completion::None:
                otherValues += (otherValues.empty() ? "" : "|") + std::string(o->Long);
                break;
        }
    }
    std::string out =
        "# bash completion for progstation-cli: options, their values, and files of the "
        "current folder\n"
        "# (step-file lines such as /AUTOCONTINUE are offered when a word begins with \"/\").\n"
        "# Made from the programs' option table when the project is built.\n"
        "_progstation_cli() {\n"
        "    local cur prev\n"
        "    cur=${COMP_WORDS[COMP_CWORD]}\n"
        "    prev=${COMP_WORDS[COMP_CWORD-1]}\n"
        "    case $prev in\n" +
        wordValues;
    if (!fileValues.empty())
        out += "        " + fileValues +
               ") COMPREPLY=($(compgen -f -- \"$cur\")); compopt -o filenames; return ;;\n";
    if (!otherValues.empty()) out += "        " + otherValues + ") return ;;\n";
    out +=
        "    esac\n"
        "    case $cur in\n"
        "        -*)\n"
        "            COMPREPLY=($(compgen -W \"" +
        names +
        "\" -- \"$cur\")) ;;\n"
        "        /*)\n"
        "            COMPREPLY=($(compgen -W \"/AUTOCONTINUE /AUTORESET /BAUDRATE= /CHECKSUM "
        "/S /SAVE\n"
        "                /SINHRO\" -- \"$cur\"))\n"
        "            compopt -o nospace ;;\n"
        "        *)\n"
        "            COMPREPLY=($(compgen -W \"AUTO\" -- \"$cur\") $(compgen -f -- "
        "\"$cur\"))\n"
        "            compopt -o filenames ;;\n"
        "    esac\n"
        "}\n"
        "complete -F _progstation_cli progstation-cli\n";
    return out;
}

}  // namespace ps::options

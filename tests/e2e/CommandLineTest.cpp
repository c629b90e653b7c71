// SPDX-License-Identifier: MIT
// The command lines of both stations: one table of options read by one parser, and --help,
// the man pages and the bash completion all listing the same options.
#include <gtest/gtest.h>

#include <fstream>
#include <map>
#include <regex>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "options/CommandLine.h"
#include "projects/TempDir.h"
#include "support/ChildProgram.h"

namespace {

using ps::options::ParsedLine;
const std::string Cli = std::string(PS_BINARY_DIR) + "/progstation-cli";

TEST(CommandLine, ValuesTakeEitherFormAndStepLinesPassThroughInOrder) {
    struct Row {
        ps::options::Program Program;
        std::vector<std::string> Args;
        std::map<std::string, std::string> Values;
        std::vector<std::string> Steps;
    };
    const std::vector<Row> rows = {
        {ps::options::Cli,
         {"--port=2", "/AUTOCONTINUE", "AUTO=2"},
         {{"--port", "2"}},
         {"/AUTOCONTINUE", "AUTO=2"}},
        {ps::options::Cli,
         {"AUTO", "--port", "3", "/S", "--ini=a b.ini"},
         {{"--port", "3"}, {"--ini", "a b.ini"}},
         {"AUTO", "/S"}},
        {ps::options::Cli, {"--trace", "t1", "--trace=t2"}, {{"--trace", "t2"}}, {}},
        {ps::options::Cli,
         {"/BAUDRATE=9600", "--", "--not-an-option"},
         {},
         {"/BAUDRATE=9600", "--not-an-option"}},
        {ps::options::Gui,
         {"--projects", "--record", "runs.jsonl", "/SINHRO"},
         {{"--record", "runs.jsonl"}},
         {"/SINHRO"}},
    };
    for (const Row& row : rows) {
        ParsedLine line;
        std::string error;
        ASSERT_TRUE(ps::options::ParseCommandLine(row.Program, row.Args, line, error)) << error;
        EXPECT_EQ(row.Values, line.Values);
        EXPECT_EQ(row.Steps, line.Steps);
    }
}

TEST(CommandLine, AGangPassesOnEverythingButItsOwnList) {
    using V = std::vector<std::string>;
    const std::vector<std::pair<V, V>> rows = {
        {{"--gang", "1,2", "-q", "/S"}, {"-q", "/S"}},
        {{"--gang=1,2", "--ini", "--gang", "AUTO"}, {"--ini", "--gang", "AUTO"}},
        {{"--record", "r.jsonl", "--gang", "3,4"}, {"--record", "r.jsonl"}},
    };
    for (const auto& [args, passed] : rows)
        EXPECT_EQ(passed, ps::options::WithoutOption(ps::options::Cli, args, "--gang"));
}

TEST(CommandLine, BadUsageIsOneLineAndStatus64) {
    struct Row {
        std::vector<std::string> Args;
        std::string Said;
    };
    const std::vector<Row> rows = {
        {{"--silence-limit", " 2"}, "--silence-limit takes whole seconds from 1 to 86400"},
        {{"--silence-limit=2 "}, "--silence-limit takes its value without blanks around it"},
        {{"--wait-port=+3"}, "--wait-port takes whole seconds from 1 to 86400"},
        {{"--wait-port", "0x10"}, "--wait-port takes whole seconds from 1 to 86400"},
        {{"--port=5"}, "--port takes a number from 1 to 4"},
        {{"--port= 2"}, "--port takes its value without blanks around it"},
        {{"--bogus", "/S"}, "unknown option --bogus"},
        {{"--ini"}, "--ini needs a value"},
        {{"--record="}, "--record needs a value"},
        {{"--trace", ""}, "--trace needs a file name"},
        {{"--gang", "1,,2"}, "--gang takes a list of COM numbers 1 to 10, such as 1,2,3,4"},
        {{"-q", "-v"}, "--quiet and --verbose exclude each other"},
    };
    ps::test::TempDir dir;
    for (const Row& row : rows) {
        const pstest::ProgramResult r =
            pstest::RunChildProgram(Cli, row.Args, dir.Path(), {}, true);
        EXPECT_EQ(64, r.Status) << row.Said;
        EXPECT_EQ("progstation-cli: " + row.Said, r.Err.substr(0, r.Err.find(" (see")));
        EXPECT_EQ(1, std::count(r.Err.begin(), r.Err.end(), '\n')) << r.Err;
        EXPECT_EQ("", r.Out);
    }
}

std::string ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

// Every long option named in `text` (a man page writes them "\-\-name").
std::set<std::string> OptionNames(std::string text) {
    text = std::regex_replace(text, std::regex(R"(\\-)"), "-");
    std::set<std::string> names;
    const std::regex option(R"(--[a-z][a-z-]*)");
    for (auto it = std::sregex_iterator(text.begin(), text.end(), option);
         it != std::sregex_iterator(); ++it)
        names.insert(it->str());
    return names;
}

// The option headings ("**\-\-name** *VALUE*") of a man page's section, without its prose,
// which may mention other options.
std::string Section(const std::string& page, const std::string& heading) {
    const size_t start = page.find("# " + heading + "\n");
    if (start == std::string::npos) return "";
    const size_t end = page.find("\n# ", start + 1);
    std::istringstream lines(
        page.substr(start, end == std::string::npos ? std::string::npos : end - start));
    std::string headings;
    for (std::string line; std::getline(lines, line);)
        if (line.rfind("**", 0) == 0) headings += line + "\n";
    return headings;
}

// The options listed by --help, without the ones its prose mentions.
std::set<std::string> HelpOptions(const std::string& help) {
    std::set<std::string> names;
    std::istringstream lines(help);
    for (std::string line; std::getline(lines, line);) {
        if (line.rfind("  -", 0) != 0) continue;
        for (const std::string& n : OptionNames(line.substr(0, line.find("  ", 2))))
            names.insert(n);
    }
    return names;
}

TEST(CommandLine, HelpManPagesAndCompletionListTheSameOptions) {
    const std::string manFolder = std::string(PS_BINARY_DIR) + "/packaging/man-md/";
    const std::string cliPage = ReadFile(manFolder + "progstation-cli.1.md");
    if (cliPage.empty()) GTEST_SKIP() << "no man pages in this build (packaging is off)";

    ps::test::TempDir dir;
    const pstest::ProgramResult help = pstest::RunChildProgram(Cli, {"--help"}, dir.Path(), {});
    ASSERT_EQ(0, help.Status);
    const std::set<std::string> cliOptions = HelpOptions(help.Out);
    for (const char* expected : {"--gang", "--record", "--silence-limit", "--wait-port",
                                 "--check-images", "--strict-images", "--version"})
        EXPECT_EQ(1u, cliOptions.count(expected)) << expected;
    EXPECT_EQ(0u, cliOptions.count("--gang-port"));
    EXPECT_EQ(cliOptions, OptionNames(Section(cliPage, "OPTIONS")));

    // The desktop station prints the same text as ps::options::HelpText(Gui).
    const std::string guiPage = ReadFile(manFolder + "progstation.1.md");
    EXPECT_EQ(HelpOptions(ps::options::HelpText(ps::options::Gui)),
              OptionNames(Section(guiPage, "OPTIONS")));

    // What bash offers after "--".
    const std::string completion =
        std::string(PS_BINARY_DIR) + "/packaging/bash-completion/progstation-cli";
    const pstest::ProgramResult offered = pstest::RunChildProgram(
        "/bin/bash",
        {"-c", "source '" + completion +
                   "'; COMP_WORDS=(progstation-cli --); COMP_CWORD=1; _progstation_cli; "
                   "printf '%s\\n' \"${COMPREPLY[@]}\""},
        dir.Path(), {});
    ASSERT_EQ(0, offered.Status) << offered.Out;
    EXPECT_EQ(cliOptions, OptionNames(offered.Out));
}

}  // namespace

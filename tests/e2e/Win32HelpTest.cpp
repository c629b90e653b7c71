// SPDX-License-Identifier: MIT
// --help on Windows speaks of Windows: each phrase it replaces is still in the option table
// (a reworded row would otherwise show its Linux text), and no Linux place or signal is left.
#include <gtest/gtest.h>

#include "options/OptionTable.h"

namespace ps::options {
namespace {

TEST(Win32Help, NamesWindowsPlacesAndKeys) {
    // Each phrase still found in the table's text, before wrapping.
    HelpPhrases marks;
    for (const auto& [phrase, replacement] : SystemHelpPhrases())
        marks.emplace_back(phrase, "@" + std::to_string(marks.size()) + "@");
    const std::string marked = HelpText(Cli, marks);
    for (size_t i = 0; i < marks.size(); ++i)
        EXPECT_NE(std::string::npos, marked.find("@" + std::to_string(i) + "@")) << marks[i].first;
    const std::string windows = HelpText(Cli, SystemHelpPhrases());
    for (const char* gone : {"~/.config", "/etc/", "SIGHUP", "SIGTERM"})
        EXPECT_EQ(std::string::npos, windows.find(gone)) << gone;
    EXPECT_NE(std::string::npos, windows.find("%APPDATA%\\progstation\\PROGRAMMER.INI"));
    EXPECT_NE(std::string::npos, windows.find("Ctrl-Break or closing the console is STOP"));
}

}  // namespace
}  // namespace ps::options

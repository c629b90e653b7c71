// SPDX-License-Identifier: MIT
// Where an installed station (program folder under /usr or /opt) reads and writes its
// settings: the user's file, then the machine's /etc file; never its own folder.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "projects/Settings.h"
#include "projects/SettingsPlaces.h"
#include "projects/TempDir.h"

namespace {

using namespace ps;

TEST(SettingsPlaces, InstalledFoldersAreThoseUnderUsrAndOpt) {
    ps::test::TempDir dir;
    const std::vector<std::pair<std::string, bool>> rows = {
        {"/usr/bin/", true},
        {"/usr/bin", true},
        {"/usr/local/bin/", true},
        {"/opt/progstation/bin/", true},
        {"/usr", true},
        {"/usrx/bin/", false},
        {"/optical/", false},
        {"/home/op/station/", false},
        {dir.Path() + "/", false},
        {"", false},
    };
    for (const auto& [folder, installed] : rows)
        EXPECT_EQ(installed, IsInstalledProgramFolder(folder)) << folder;
}

TEST(SettingsPlaces, AnInstalledStationWritesOnlyTheUsersFile) {
    const std::string user = "/home/op/.config/progstation/PROGRAMMER.INI";
    const std::string system = SystemSettingsFile;
    struct Row {
        bool UserExists, SystemExists;
        std::string Read, Shipped;
    };
    const std::vector<Row> rows = {
        {false, false, user, ""},
        {false, true, system, system},  // the machine's ports until the user changes one
        {true, false, user, ""},
        {true, true, user, ""},
    };
    for (const Row& r : rows) {
        const SettingsFiles f =
            ChooseInstalledSettingsFiles(user, system, r.UserExists, r.SystemExists);
        EXPECT_EQ(r.Read, f.Read);
        EXPECT_EQ(user, f.Write);
        EXPECT_EQ(r.Shipped, f.Shipped);
    }
}

// Run as root, to whom /usr/bin is writable: the change still goes to the user's file.
TEST(SettingsPlaces, ChangesOfAStationInUsrBinLandInTheUsersFolder) {
    ps::test::TempDir dir;
    const char* saved = std::getenv("XDG_CONFIG_HOME");
    const std::string before = saved ? saved : "";
    setenv("XDG_CONFIG_HOME", dir.Path().c_str(), 1);
    const SettingsFiles files = LocateSettingsFiles("/usr/bin/", "");
    const std::string user = dir.Path() + "/progstation/PROGRAMMER.INI";
    EXPECT_EQ(user, files.Write);
    EXPECT_TRUE(files.Read == user || files.Read == SystemSettingsFile) << files.Read;
    EXPECT_TRUE(WriteStationSetting(files, "Ports", "COM1", "sim:avr"));
    EXPECT_EQ("sim:avr", ReadSetting(user, "Ports", "COM1", ""));
    struct stat st {};
    EXPECT_NE(0, stat("/usr/bin/PROGRAMMER.INI", &st));
    if (saved)
        setenv("XDG_CONFIG_HOME", before.c_str(), 1);
    else
        unsetenv("XDG_CONFIG_HOME");
}

}  // namespace

// SPDX-License-Identifier: MIT
#include <gtest/gtest.h>

#include "images/DataFolder.h"
#include "images/ImageTestFiles.h"

namespace ps {
namespace {

EnvLookup Env(const std::string& value) {
    return [value](const std::string& name) { return name == DataFolderEnv ? value : ""; };
}

TEST(DataFolder, InstalledBesideTheProgramsPrefixUnlessTheEnvironmentSaysOtherwise) {
    const struct {
        const char* ProgramFolder;
        const char* Env;
        const char* Expected;
    } rows[] = {
        {"/usr/local/bin/", "", "/usr/local/share/progstation/"},
        {"/opt/ps/bin", "", "/opt/ps/share/progstation/"},
        {"build/", "", "./share/progstation/"},
        {"", "", "../share/progstation/"},
        {"/usr/bin/", "/srv/stages", "/srv/stages/"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.ProgramFolder);
        EXPECT_EQ(row.Expected, InstalledDataFolder(row.ProgramFolder, Env(row.Env)));
    }
    // The step file's folder comes between the program's and the data folder, once.
    const struct {
        const char* StepFile;
        std::vector<std::string> Expected;
    } searches[] = {
        {"", {"/opt/ps/bin/", "/srv/stages/"}},
        {"upgrade.cfg", {"/opt/ps/bin/", "./", "/srv/stages/"}},
        {"/work/infineon/upgrade.cfg", {"/opt/ps/bin/", "/work/infineon/", "/srv/stages/"}},
        {"/opt/ps/bin/upgrade.cfg", {"/opt/ps/bin/", "/srv/stages/"}},
        {"/srv/stages/upgrade.cfg", {"/opt/ps/bin/", "/srv/stages/"}},
    };
    for (const auto& row : searches) {
        EXPECT_EQ(row.Expected, DataSearchFolders("/opt/ps/bin", Env("/srv/stages"), row.StepFile))
            << row.StepFile;
    }
}

TEST(DataFolder, TheProgramsFolderWinsAndCaseIsIgnored) {
    test::TempDir program, data;
    const std::vector<std::string> folders = {program.Path() + "/", data.Path() + "/"};
    data.Write("LOADER1.HEX", "d");
    EXPECT_EQ(data / "LOADER1.HEX", FindDataFile(folders, "loader1.hex"));
    program.Write("loader1.hex", "p");
    EXPECT_EQ(program / "loader1.hex", FindDataFile(folders, "loader1.hex"));
    EXPECT_EQ("", FindDataFile(folders, "loader2.hex"));
}

}  // namespace
}  // namespace ps

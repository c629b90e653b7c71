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
    EXPECT_EQ((std::vector<std::string>{"/opt/ps/bin/", "/srv/stages/"}),
              DataSearchFolders("/opt/ps/bin", Env("/srv/stages")));
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

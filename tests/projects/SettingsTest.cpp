// SPDX-License-Identifier: MIT
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdlib>
#include <string>

#include "projects/FileLimit.h"
#include "projects/Settings.h"
#include "projects/TempDir.h"

namespace ps {
namespace {

using test::ReadBytes;
using test::TempDir;

TEST(SettingsTest, ReadingFollowsTheIniRules) {
    TempDir dir;
    std::string ini = dir.Write(SettingsFileName,
                                "; comment\r\n"
                                "Loose=outside any section\r\n"
                                "[init]\r\n"
                                "  extraparameters  =  /AUTOCONTINUE /BAUDRATE=9600 \t\r\n"
                                "Version=3\r\n"
                                "Empty=\r\n"
                                "Version=4\r\n"
                                "[ Projects ]\r\n"
                                "Project1=1~001~UPGRADE~upgrade.cfg~\n"
                                "[INIT]\r\n"
                                "Later=x\r\n");
    EXPECT_EQ(ReadSetting(ini, "INIT", "ExtraParameters", "d"), "/AUTOCONTINUE /BAUDRATE=9600");
    EXPECT_EQ(ReadSetting(ini, "Init", "VERSION", "1"), "3");  // the first key counts
    EXPECT_EQ(ReadSetting(ini, "INIT", "Empty", "d"), "");     // present but empty
    EXPECT_EQ(ReadSetting(ini, "INIT", "Missing", "d"), "d");
    EXPECT_EQ(ReadSetting(ini, "INIT", "Loose", "d"), "d");
    EXPECT_EQ(ReadSetting(ini, "PROJECTS", "project1", ""), "1~001~UPGRADE~upgrade.cfg~");
    EXPECT_EQ(ReadSetting(ini, "NoSuch", "Version", "d"), "d");
    EXPECT_EQ(ReadSetting(dir.File("absent.ini"), "INIT", "Version", "1"), "1");
    EXPECT_EQ(ReadSetting(dir.Path(), "INIT", "Version", "1"), "1");  // a folder

    std::string longIni = dir.Write("long.ini", "[A]\nK=" + std::string(5000, 'v') + "\n");
    EXPECT_EQ(ReadSetting(longIni, "A", "K", ""), std::string(SettingValueLimit, 'v'));

    // Bytes that are no text are read as they stand.
    std::string odd = dir.Write("odd.ini", std::string("[A]\nK=a\0b\nJ\n==\n[\n", 17));
    EXPECT_EQ(ReadSetting(odd, "A", "K", ""), std::string("a\0b", 3));
    EXPECT_EQ(ReadSetting(odd, "A", "J", "d"), "d");
}

TEST(SettingsTest, CommentLinesAreNeverKeysThoughTheyLookLikeThem) {
    // ';' and '#' lines holding "=" in every section and before the first, at the start of
    // the line or after blanks, each shadowing a key that is (or is not) really there.
    TempDir dir;
    const std::string text =
        "; Version=0\r\n"
        "#ExtraParameters=/BEFORE\r\n"
        "[INIT]\r\n"
        ";Version=9\r\n"
        "#ExtraParameters=/COMMENTED\r\n"
        "  # SelectedFile = 7\r\n"
        "\t;SelectedFile=8\r\n"
        "ExtraParameters=/AUTOCONTINUE\r\n"
        "[PROJECTS]\r\n"
        "#Project1=1~001~OLD~old.cfg~\r\n"
        ";Project2=1~002~GONE~gone.cfg~\r\n"
        "Project1=1~001~UPGRADE~upgrade.cfg~\r\n"
        "# Version=5\r\n";
    std::string ini = dir.Write(SettingsFileName, text);
    struct Case {
        const char* Section;
        const char* Key;
        const char* Value;  // "-" none: the default comes back
    };
    const Case reads[] = {
        {"INIT", "ExtraParameters", "/AUTOCONTINUE"},
        {"INIT", "Version", "-"},
        {"INIT", "SelectedFile", "-"},
        {"INIT", "#ExtraParameters", "-"},
        {"INIT", ";Version", "-"},
        {"INIT", "# SelectedFile", "-"},
        {"INIT", ";SelectedFile", "-"},
        {"PROJECTS", "Project1", "1~001~UPGRADE~upgrade.cfg~"},
        {"PROJECTS", "Project2", "-"},
        {"PROJECTS", "#Project1", "-"},
        {"PROJECTS", ";Project2", "-"},
        {"PROJECTS", "# Version", "-"},
    };
    for (const Case& c : reads) {
        EXPECT_EQ(ReadSetting(ini, c.Section, c.Key, "-"), c.Value) << c.Section << " " << c.Key;
    }
    EXPECT_EQ(SelectCurrentProject(ini).ExtraParameters, "/AUTOCONTINUE");

    // Writing a key a comment shadows adds or replaces the real key; every comment stays, and
    // a name starting like a comment is refused.
    ASSERT_TRUE(WriteSetting(ini, "INIT", "ExtraParameters", "/S"));
    ASSERT_TRUE(WriteSetting(ini, "INIT", "Version", "3"));
    ASSERT_TRUE(WriteSetting(ini, "PROJECTS", "Project2", "0~~Folder~~"));
    EXPECT_FALSE(WriteSetting(ini, "INIT", "#Version", "4"));
    EXPECT_FALSE(WriteSetting(ini, "PROJECTS", ";Project2", "x"));
    EXPECT_EQ(ReadBytes(ini),
              "; Version=0\r\n"
              "#ExtraParameters=/BEFORE\r\n"
              "[INIT]\r\n"
              ";Version=9\r\n"
              "#ExtraParameters=/COMMENTED\r\n"
              "  # SelectedFile = 7\r\n"
              "\t;SelectedFile=8\r\n"
              "ExtraParameters=/S\r\n"
              "Version=3\r\n"
              "[PROJECTS]\r\n"
              "#Project1=1~001~OLD~old.cfg~\r\n"
              ";Project2=1~002~GONE~gone.cfg~\r\n"
              "Project1=1~001~UPGRADE~upgrade.cfg~\r\n"
              "# Version=5\r\n"
              "Project2=0~~Folder~~\r\n");
    EXPECT_EQ(ReadSetting(ini, "INIT", "Version", "-"), "3");
    EXPECT_EQ(ReadSetting(ini, "PROJECTS", "Project2", "-"), "0~~Folder~~");
}

TEST(SettingsTest, WriteKeepsEveryOtherLine) {
    TempDir dir;
    const std::string before =
        "; keep me\r\n"
        "[INIT]\r\n"
        "Version = 3   \r\n"
        "ExtraParameters=/S\r\n"
        "odd line without equals\r\n"
        "\r\n"
        "[Other]\r\n"
        "ExtraParameters=untouched\r\n";
    std::string ini = dir.Write(SettingsFileName, before);

    ASSERT_TRUE(WriteSetting(ini, "init", "extraparameters", "/AUTOCONTINUE"));
    std::string after = ReadBytes(ini);
    EXPECT_EQ(after,
              "; keep me\r\n"
              "[INIT]\r\n"
              "Version = 3   \r\n"
              "extraparameters=/AUTOCONTINUE\r\n"
              "odd line without equals\r\n"
              "\r\n"
              "[Other]\r\n"
              "ExtraParameters=untouched\r\n");
    EXPECT_EQ(ReadSetting(ini, "INIT", "ExtraParameters", ""), "/AUTOCONTINUE");

    // A new key goes to the end of its section, before the blank line.
    ASSERT_TRUE(WriteSetting(ini, "INIT", "SelectedFile", "2"));
    EXPECT_NE(ReadBytes(ini).find("odd line without equals\r\nSelectedFile=2\r\n\r\n[Other]"),
              std::string::npos);
    // A new section goes to the end of the file, with the file's line ends.
    ASSERT_TRUE(WriteSetting(ini, "PROJECTS", "Project1", "1~001~UPGRADE~upgrade.cfg~"));
    EXPECT_NE(ReadBytes(ini).find("untouched\r\n[PROJECTS]\r\nProject1=1~001~UPGRADE"),
              std::string::npos);
    EXPECT_EQ(ReadSetting(ini, "Other", "ExtraParameters", ""), "untouched");
    EXPECT_EQ(dir.Entries().size(), 1u);  // no temporary file left behind
}

TEST(SettingsTest, WriteHandlesLfFilesMissingEndsAndNewFiles) {
    TempDir dir;
    std::string lf = dir.Write("lf.ini", "[INIT]\nVersion=1");  // no end on the last line
    ASSERT_TRUE(WriteSetting(lf, "INIT", "ExtraParameters", "/S"));
    EXPECT_EQ(ReadBytes(lf), "[INIT]\nVersion=1\nExtraParameters=/S\n");

    // A missing file, and the folders above it, are made.
    std::string fresh = dir.File("sub/dir/PROGRAMMER.INI");
    ASSERT_TRUE(WriteSetting(fresh, "INIT", "Version", "3"));
    EXPECT_EQ(ReadBytes(fresh), "[INIT]\nVersion=3\n");
    EXPECT_EQ(ReadSetting(fresh, "INIT", "Version", ""), "3");
}

TEST(SettingsTest, WriteRefusesWhatCouldNotBeReadBack) {
    TempDir dir;
    std::string ini = dir.Write("a.ini", "[INIT]\r\nVersion=3\r\n");
    EXPECT_FALSE(WriteSetting(ini, "INIT", "ExtraParameters", "/S\r\n[EVIL]"));
    EXPECT_FALSE(WriteSetting(ini, "INIT", "Key=x", "v"));
    EXPECT_FALSE(WriteSetting(ini, "IN]IT", "Key", "v"));
    EXPECT_FALSE(WriteSetting(ini, "", "Key", "v"));
    EXPECT_FALSE(WriteSetting(ini, "INIT", "", "v"));
    EXPECT_FALSE(WriteSetting(ini, "INIT", " Key", "v"));
    EXPECT_FALSE(WriteSetting(ini, "INIT", ";Key", "v"));
    EXPECT_EQ(ReadBytes(ini), "[INIT]\r\nVersion=3\r\n");
    // A file that exists but cannot be read is not replaced by one with a single key.
    EXPECT_FALSE(WriteSetting(dir.Path(), "INIT", "Key", "v"));
}

TEST(SettingsTest, FailedWriteKeepsTheOldFile) {
    TempDir dir;
    const std::string before = "[INIT]\r\nExtraParameters=/S\r\n";
    std::string ini = dir.Write(SettingsFileName, before);
    bool written;
    {
        test::FileSizeLimit limit(16);  // as a full disk would do
        ASSERT_TRUE(limit.Active());
        written = WriteSetting(ini, "INIT", "ExtraParameters", std::string(500, 'x'));
    }
    EXPECT_FALSE(written);
    EXPECT_EQ(ReadBytes(ini), before);
    EXPECT_EQ(dir.Entries().size(), 1u);

    // A settings path below a file cannot be written either, and nothing is lost.
    std::string blocker = dir.Write("blocker", "x");
    EXPECT_FALSE(WriteSetting(blocker + "/PROGRAMMER.INI", "INIT", "Version", "3"));
    EXPECT_EQ(ReadBytes(blocker), "x");
}

TEST(SettingsTest, WriteThroughALinkReplacesTheLinkedFile) {
    TempDir dir;
    std::string real = dir.Write("real.ini", "[INIT]\nVersion=1\n");
    std::string link = dir.File("link.ini");
    ASSERT_EQ(symlink(real.c_str(), link.c_str()), 0);
    ASSERT_TRUE(WriteSetting(link, "INIT", "Version", "3"));
    EXPECT_EQ(ReadSetting(real, "INIT", "Version", ""), "3");
    struct stat st {};
    ASSERT_EQ(lstat(link.c_str(), &st), 0);
    EXPECT_TRUE(S_ISLNK(st.st_mode));
}

TEST(SettingsTest, GetField) {
    EXPECT_EQ(GetField("a~b", 1, '~'), "a");
    EXPECT_EQ(GetField("a~b", 2, '~'), "b");
    EXPECT_EQ(GetField("a~b", 3, '~'), "");
    EXPECT_EQ(GetField("a~b", 0, '~'), "");
    EXPECT_EQ(GetField("a~b", -1, '~'), "");
    EXPECT_EQ(GetField("", 1, '~'), "");
    EXPECT_EQ(GetField("~~x", 3, '~'), "x");
    EXPECT_EQ(GetField(FixedProjectEntry, 2, '~'), "001");
    EXPECT_EQ(GetField(FixedProjectEntry, 5, '~'), "");
    EXPECT_EQ(GetField("a~b", 2000000000, '~'), "");
    // A name holding "~" shifts the fields: the path reads wrong, as stored.
    EXPECT_EQ(GetField("1~001~UP~GRADE~upgrade.cfg~", 4, '~'), "GRADE");
}

TEST(SettingsTest, CurrentProjectIsAlwaysUpgrade) {
    TempDir dir;
    CurrentProject none = SelectCurrentProject(dir.File("absent.ini"));
    EXPECT_EQ(none.StepFile, "upgrade.cfg");
    EXPECT_EQ(none.Name, "UPGRADE");
    EXPECT_EQ(none.ExtraParameters, "");
    EXPECT_EQ(none.Label(), "UPGRADE: upgrade.cfg");

    std::string ini = dir.Write(SettingsFileName,
                                "[INIT]\r\nSelectedFile=2\r\nExtraParameters= /AUTOCONTINUE  "
                                "/BAUDRATE=9600\r\n[PROJECTS]\r\nProject1=0~~Folder~~\r\n"
                                "Project2=1~002~OTHER~other.cfg~\r\n");
    CurrentProject p = SelectCurrentProject(ini, 2);
    EXPECT_EQ(p.StepFile, "upgrade.cfg");
    EXPECT_EQ(p.Name, "UPGRADE");
    EXPECT_EQ(p.ExtraParameters, "/AUTOCONTINUE  /BAUDRATE=9600");
}

class LocateTest : public ::testing::Test {
protected:
    void SetUp() override {
        Save("XDG_CONFIG_HOME", xdg_);
        Save("HOME", home_);
    }
    void TearDown() override {
        Restore("XDG_CONFIG_HOME", xdg_);
        Restore("HOME", home_);
    }
    static void Save(const char* name, std::pair<bool, std::string>& slot) {
        const char* v = std::getenv(name);
        slot = {v != nullptr, v ? v : ""};
    }
    static void Restore(const char* name, const std::pair<bool, std::string>& slot) {
        if (slot.first) {
            setenv(name, slot.second.c_str(), 1);
        } else {
            unsetenv(name);
        }
    }
    std::pair<bool, std::string> xdg_, home_;
};

TEST_F(LocateTest, OverrideThenTheUsersFileThenTheProgramFolders) {
    TempDir dir;
    const std::string program = dir.File("prog");
    ASSERT_EQ(mkdir(program.c_str(), 0755), 0);
    const std::string shipped = program + "/PROGRAMMER.INI";
    setenv("XDG_CONFIG_HOME", dir.File("cfg").c_str(), 1);
    const std::string user = dir.File("cfg") + "/progstation/PROGRAMMER.INI";

    EXPECT_EQ(LocateSettingsFile(program, "/etc/x.ini"), "/etc/x.ini");
    EXPECT_EQ(LocateSettingsFiles(program, "/etc/x.ini").Write, "/etc/x.ini");
    // No user's file: the program folder's file, read and written (a portable station).
    EXPECT_EQ(LocateSettingsFile(program, ""), shipped);
    EXPECT_EQ(LocateSettingsFile(program + "/", ""), shipped);
    EXPECT_EQ(LocateSettingsFiles(program, "").Write, shipped);
    // A folder that cannot be written (here: one that is not there) is still read; changes
    // go to the user's file.
    const std::string gone = dir.File("gone");
    EXPECT_EQ(LocateSettingsFile(gone, ""), gone + "/PROGRAMMER.INI");
    EXPECT_EQ(LocateSettingsFiles(gone, "").Write, user);
    EXPECT_EQ(LocateSettingsFiles(gone, "").Shipped, gone + "/PROGRAMMER.INI");
    // Once the user's file exists it is the one read.
    ASSERT_TRUE(WriteSetting(user, "INIT", "Version", "3"));
    EXPECT_EQ(LocateSettingsFile(program, ""), user);
    EXPECT_EQ(LocateSettingsFile(gone, ""), user);

    setenv("XDG_CONFIG_HOME", "relative/cfg", 1);  // not absolute: ignored
    setenv("HOME", "/home/op", 1);
    EXPECT_EQ(LocateSettingsFiles(gone, "").Write, "/home/op/.config/progstation/PROGRAMMER.INI");
    unsetenv("XDG_CONFIG_HOME");
    EXPECT_EQ(LocateSettingsFile("", ""), "/home/op/.config/progstation/PROGRAMMER.INI");
}

TEST(SettingsFilesTest, WhereTheStationReadsAndWrites) {
    const std::string prog = "/opt/ps/PROGRAMMER.INI", user = "/home/op/PROGRAMMER.INI";
    struct Case {
        bool writable, userExists;
        std::string read, write, shipped;
    } cases[] = {
        {true, false, prog, prog, ""},     // portable station
        {false, false, prog, user, prog},  // installed: the shipped file until a change
        {false, true, user, user, prog},   // installed, after a change
        {true, true, user, user, prog},    // the user's file wins, also for changes
    };
    for (const Case& c : cases) {
        const SettingsFiles f = ChooseSettingsFiles(prog, user, c.writable, c.userExists);
        EXPECT_EQ(f.Read, c.read) << c.writable << c.userExists;
        EXPECT_EQ(f.Write, c.write) << c.writable << c.userExists;
        EXPECT_EQ(f.Shipped, c.shipped) << c.writable << c.userExists;
    }
}

TEST(SettingsFilesTest, TheUsersFileStartsAsACopyOfTheShippedOne) {
    TempDir dir;
    const std::string shippedText =
        "[INIT]\r\nExtraParameters=/AUTOCONTINUE\r\n[Ports]\r\nCOM1=/dev/ttyUSB0\r\n";
    const std::string shipped = dir.Write(SettingsFileName, shippedText);
    const std::string user = dir.File("cfg/progstation/PROGRAMMER.INI");
    const SettingsFiles files = ChooseSettingsFiles(shipped, user, false, false);
    ASSERT_EQ(files.Read, shipped);
    ASSERT_TRUE(WriteStationSetting(files, "INIT", "SelectedFile", "1"));
    EXPECT_EQ(ReadBytes(shipped), shippedText);
    EXPECT_EQ(ReadSetting(user, "INIT", "ExtraParameters", ""), "/AUTOCONTINUE");
    EXPECT_EQ(ReadSetting(user, "Ports", "COM1", ""), "/dev/ttyUSB0");
    EXPECT_EQ(ReadSetting(user, "INIT", "SelectedFile", ""), "1");
    // Later changes build on the user's file; the shipped one is not copied again.
    ASSERT_TRUE(WriteStationSetting(files, "INIT", "Version", "3"));
    EXPECT_EQ(ReadSetting(user, "INIT", "SelectedFile", ""), "1");
    EXPECT_EQ(ReadSetting(user, "INIT", "Version", ""), "3");
}

}  // namespace
}  // namespace ps

// SPDX-License-Identifier: MIT
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "projects/ProjectList.h"
#include "projects/Settings.h"
#include "projects/TempDir.h"

namespace ps {
namespace {

using test::ReadBytes;
using test::TempDir;

// The tree as "depth:name" per node, in tree order.
std::string Shape(const ProjectTree& tree) {
    std::string out;
    for (const ProjectNode& n : tree.Nodes()) {
        if (!out.empty()) out += ' ';
        out += std::to_string(n.Level) + ":" + n.Name;
    }
    return out;
}

// One file read and written.
SettingsFiles Files(const std::string& ini) {
    return {ini, ini, ""};
}

std::string Projects(const std::vector<std::string>& entries, const std::string& init) {
    std::string ini = "[INIT]\r\n" + init + "[PROJECTS]\r\n";
    for (size_t i = 0; i < entries.size(); ++i) {
        ini += "Project" + std::to_string(i + 1) + "=" + entries[i] + "\r\n";
    }
    return ini;
}

TEST(ProjectListTest, StoredLevelsBuildTheTree) {
    struct Case {
        const char* What;
        std::vector<std::string> Entries;
        const char* Shape;
    };
    const Case cases[] = {
        {"levels 0,1,2,1,0",
         {"0~001~A~a.cfg~", "1~002~B~b.cfg~", "2~003~C~c.cfg~", "1~004~D~d.cfg~", "0~005~E~e.cfg~"},
         "0:A 1:B 2:C 1:D 0:E"},
        {"a jump from 0 to 2 makes a child", {"0~~F~~", "2~001~A~a.cfg~"}, "0:F 1:A"},
        {"a level above 0 with no node before it goes to the top",
         {"3~001~A~a.cfg~", "1~~B~~"},
         "0:A 1:B"},
        {"a level that is no number goes to the top",
         {"0~~F~~", "1~~G~~", "x~001~A~a.cfg~", "~002~B~b.cfg~", "-1~003~C~~", "1 ~004~D~~"},
         "0:F 1:G 0:A 0:B 0:C 0:D"},
        {"going up several levels at once",
         {"0~~F~~", "1~~G~~", "2~~H~~", "3~~I~~", "1~~J~~"},
         "0:F 1:G 2:H 3:I 1:J"},
        {"a huge level is a child of the previous node",
         {"0~~F~~", "99999999999999999999~~G~~", "2147483648~~H~~"},
         "0:F 0:G 1:H"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.What);
        TempDir dir;
        std::string ini = dir.Write(SettingsFileName, Projects(c.Entries, "Version=3\r\n"));
        ProjectSettings s = LoadProjectSettings(ini);
        EXPECT_EQ(Shape(s.Tree), c.Shape);
    }
}

TEST(ProjectListTest, EntryFieldsAndVersions) {
    TempDir dir;
    // Version 3: the four fields; an extra "~" field is ignored.
    std::string ini = dir.Write("v3.ini", Projects({"0~001~UPGRADE~upgrade.cfg~x~"},
                                                   "Version=3\r\nSelectedFile=1\r\n"
                                                   "ExtraParameters=/AUTOCONTINUE\r\n"));
    ProjectSettings s = LoadProjectSettings(ini);
    ASSERT_EQ(s.Tree.Count(), 1);
    const ProjectNode& n = s.Tree.Nodes()[0];
    EXPECT_EQ(n.Number, "001");
    EXPECT_EQ(n.Name, "UPGRADE");
    EXPECT_EQ(n.Path, "upgrade.cfg");
    EXPECT_EQ(s.SelectedPosition, 1);
    EXPECT_EQ(s.ExtraParameters, "/AUTOCONTINUE");

    // Version 2: number, blank, name, ":" file; all at the top level.
    ini = dir.Write("v2.ini", Projects({"001 UPGRADE : upgrade.cfg ", "002 AB:x.cfg",
                                        "003 NO COLON", "004:y.cfg"},
                                       "Version=2\r\n"));
    s = LoadProjectSettings(ini);
    ASSERT_EQ(s.Tree.Count(), 4);
    EXPECT_EQ(Shape(s.Tree), "0:UPGRADE 0:AB 0:NO COLON 0:004");
    EXPECT_EQ(s.Tree.Nodes()[0].Number, "001");
    EXPECT_EQ(s.Tree.Nodes()[0].Path, "upgrade.cfg");
    EXPECT_EQ(s.Tree.Nodes()[1].Path, "x.cfg");
    EXPECT_EQ(s.Tree.Nodes()[2].Path, "");
    EXPECT_EQ(s.Tree.Nodes()[3].Path, "y.cfg");

    // No version (or any other): nothing is read; a missing file reads as all defaults.
    for (const char* init : {"", "Version=1\r\n", "Version=4\r\n"}) {
        ini = dir.Write("v1.ini", Projects({"0~001~A~a.cfg~"}, init));
        EXPECT_EQ(LoadProjectSettings(ini).Tree.Count(), 0) << init;
    }
    s = LoadProjectSettings(dir.File("absent.ini"));
    EXPECT_EQ(s.Version, "1");
    EXPECT_EQ(s.Tree.Count(), 0);
    EXPECT_EQ(s.SelectedPosition, 0);
    EXPECT_EQ(s.ExtraParameters, "");
}

TEST(ProjectListTest, SelectedFileOutsideTheListSelectsNothing) {
    TempDir dir;
    for (const char* value : {"0", "3", "-1", "x", "1x", ""}) {
        std::string ini = dir.Write(
            SettingsFileName, Projects({"0~001~A~a.cfg~", "0~002~B~b.cfg~"},
                                       std::string("Version=3\r\nSelectedFile=") + value + "\r\n"));
        EXPECT_EQ(LoadProjectSettings(ini).SelectedPosition, 0) << value;
    }
}

TEST(ProjectListTest, SavingFewerEntriesEndsTheListAndKeepsTheRest) {
    TempDir dir;
    std::string ini = dir.Write(
        SettingsFileName,
        "; the station's settings\r\n[Ports]\r\nCOM1=sim:atmel\r\n" +
            Projects({"0~001~A~a~", "0~002~B~b~", "0~003~C~c~", "0~004~D~d~", "0~005~E~e~"},
                     "Version=3\r\nSelectedFile=5\r\n"));
    ProjectTree tree;
    int f = tree.Add(0, "", "F", "");
    tree.Add(f, "007", "G", "g.cfg");
    tree.Add(0, "010", "H", "h.cfg");
    ASSERT_TRUE(SaveProjectSettings(Files(ini), tree, 2, "/AUTOCONTINUE  /BAUDRATE=9600"));

    EXPECT_EQ(ReadSetting(ini, "PROJECTS", "Project1", ""), "0~~F~~");
    EXPECT_EQ(ReadSetting(ini, "PROJECTS", "Project2", ""), "1~007~G~g.cfg~");
    EXPECT_EQ(ReadSetting(ini, "PROJECTS", "Project3", ""), "0~010~H~h.cfg~");
    EXPECT_EQ(ReadSetting(ini, "PROJECTS", "Project4", "missing"), "");
    EXPECT_EQ(ReadSetting(ini, "PROJECTS", "Project5", ""), "0~005~E~e~");
    EXPECT_EQ(ReadSetting(ini, "INIT", "Version", ""), "3");
    EXPECT_EQ(ReadSetting(ini, "INIT", "SelectedFile", ""), "2");
    EXPECT_EQ(ReadSetting(ini, "INIT", "ExtraParameters", ""), "/AUTOCONTINUE  /BAUDRATE=9600");
    EXPECT_EQ(ReadSetting(ini, "Ports", "COM1", ""), "sim:atmel");
    EXPECT_NE(ReadBytes(ini).find("; the station's settings\r\n"), std::string::npos);

    ProjectSettings back = LoadProjectSettings(ini);
    EXPECT_EQ(Shape(back.Tree), "0:F 1:G 0:H");  // reading stops at the empty Project4
    EXPECT_EQ(back.SelectedPosition, 2);
    // The proposal reads the stored numbers: 007 and 010, so 011.
    EXPECT_EQ(ProposeProjectNumber(ini), "011");
    // Nothing but the file itself is left in the folder: the write is one replacement.
    EXPECT_EQ(dir.Entries().size(), 1u);
}

TEST(ProjectListTest, FirstSaveOfAFileWithoutVersion) {
    TempDir dir;
    std::string ini = dir.Write(SettingsFileName, Projects({"0~001~OLD~old.cfg~"}, ""));
    ASSERT_EQ(LoadProjectSettings(ini).Tree.Count(), 0);
    ProjectTree tree;
    tree.Add(0, "001", "NEW", "new.cfg");
    // No selection (OK cannot be pressed then, but the file stays sound): position 0.
    ASSERT_TRUE(SaveProjectSettings(Files(ini), tree, 0, ""));
    ProjectSettings s = LoadProjectSettings(ini);
    EXPECT_EQ(s.Version, "3");
    EXPECT_EQ(Shape(s.Tree), "0:NEW");
    EXPECT_EQ(ReadSetting(ini, "INIT", "SelectedFile", ""), "0");
    // A missing file is created.
    std::string fresh = dir.File("sub/PROGRAMMER.INI");
    ASSERT_TRUE(SaveProjectSettings(Files(fresh), tree, 1, ""));
    EXPECT_EQ(LoadProjectSettings(fresh).SelectedPosition, 1);

    // An installed station reads the shipped file and writes the user's, which starts as a
    // copy of it: the shipped ports stay, the shipped file is untouched.
    std::string shipped = dir.Write("shipped.ini", "[Ports]\nCOM1=sim:avr\n");
    std::string user = dir.File("home/PROGRAMMER.INI");
    ASSERT_TRUE(SaveProjectSettings({shipped, user, shipped}, tree, 1, ""));
    EXPECT_EQ(ReadSetting(user, "Ports", "COM1", ""), "sim:avr");
    EXPECT_EQ(LoadProjectSettings(user).Tree.Count(), 1);
    EXPECT_EQ(ReadBytes(shipped), "[Ports]\nCOM1=sim:avr\n");
}

TEST(ProjectListTest, FieldsThatWouldSplitAnEntryAreStoredWithBlanks) {
    TempDir dir;
    std::string ini = dir.File(SettingsFileName);
    ProjectTree tree;
    tree.Add(0, "0~1", "A~B", "dir/x~1.cfg");
    tree.Add(0, "002", "line\r\nbreak", "b.cfg");
    ASSERT_TRUE(SaveProjectSettings(Files(ini), tree, 1, "/S\r\n/AUTOCONTINUE"));
    ProjectSettings s = LoadProjectSettings(ini);
    ASSERT_EQ(s.Tree.Count(), 2);
    EXPECT_EQ(s.Tree.Nodes()[0].Number, "0 1");
    EXPECT_EQ(s.Tree.Nodes()[0].Name, "A B");
    EXPECT_EQ(s.Tree.Nodes()[0].Path, "dir/x 1.cfg");
    EXPECT_EQ(s.Tree.Nodes()[1].Name, "line  break");
    EXPECT_EQ(s.Tree.Nodes()[1].Path, "b.cfg");
    EXPECT_EQ(s.ExtraParameters, "/S  /AUTOCONTINUE");
}

TEST(ProjectListTest, NumbersAndTheProposal) {
    const std::pair<const char*, const char*> pads[] = {
        {"7", "007"}, {"12345", "123"}, {"", "000"}, {"42", "042"}, {"001", "001"}, {"ab", "0ab"}};
    for (const auto& [in, out] : pads) EXPECT_EQ(PadProjectNumber(in), out) << in;

    TempDir dir;
    EXPECT_EQ(ProposeProjectNumber(dir.File("absent.ini")), "001");
    struct Case {
        std::vector<std::string> Entries;
        const char* Proposal;
    };
    const Case cases[] = {
        {{}, "001"},
        {{"0~~F~~", "1~003~A~a~", "1~012~B~b~", "0~x1~C~c~", "0~-5~D~d~"}, "013"},
        {{"0~999~A~a~"}, "1000"},
        {{"0~99999999999999999999~A~a~", "0~002~B~b~"}, "003"},
    };
    for (const Case& c : cases) {
        std::string ini = dir.Write(SettingsFileName, Projects(c.Entries, "Version=3\r\n"));
        EXPECT_EQ(ProposeProjectNumber(ini), c.Proposal);
    }
}

TEST(ProjectListTest, MovingAndRemovingNodes) {
    ProjectTree tree;
    const int a = tree.Add(0, "", "A", "");
    const int b = tree.Add(a, "001", "B", "b");
    const int c = tree.Add(b, "002", "C", "c");
    const int d = tree.Add(0, "003", "D", "d");
    ASSERT_EQ(Shape(tree), "0:A 1:B 2:C 0:D");
    EXPECT_EQ(tree.ParentOf(c), b);
    EXPECT_EQ(tree.ParentOf(d), 0);

    // A node moves with its children to the end of the new parent's children.
    EXPECT_TRUE(tree.MoveUnder(b, d));
    EXPECT_EQ(Shape(tree), "0:A 0:D 1:B 2:C");
    // Into itself or below itself: refused, nothing changes.
    EXPECT_FALSE(tree.MoveUnder(d, c));
    EXPECT_FALSE(tree.MoveUnder(d, d));
    EXPECT_FALSE(tree.MoveUnder(d, 999));
    EXPECT_EQ(Shape(tree), "0:A 0:D 1:B 2:C");
    // To the top: the end of the top level.
    EXPECT_TRUE(tree.MoveUnder(c, 0));
    EXPECT_EQ(Shape(tree), "0:A 0:D 1:B 0:C");
    EXPECT_TRUE(tree.MoveUnder(d, a));
    EXPECT_EQ(Shape(tree), "0:A 1:D 2:B 0:C");
    EXPECT_TRUE(tree.IsWithin(b, a));
    EXPECT_FALSE(tree.IsWithin(c, a));

    tree.Rename(b, "B2");
    tree.Update(c, "004", "C2", "c2");
    EXPECT_EQ(tree.Find(c)->Path, "c2");
    tree.Remove(d);  // with B2 below it
    EXPECT_EQ(Shape(tree), "0:A 0:C2");
    EXPECT_EQ(tree.Find(b), nullptr);
    EXPECT_TRUE(tree.Find(a)->IsFolder());
    EXPECT_FALSE(tree.Find(c)->IsFolder());
}

// Several keys written at once give the file that writing them one by one gives.
TEST(ProjectListTest, BatchWriteEqualsSingleWrites) {
    const char* files[] = {
        "",
        "[INIT]\r\nVersion=2\r\n\r\n[PROJECTS]\r\nProject1=a\r\nProject2=b",
        "[init]\nversion = 1\n[Other]\nX=1\n[INIT]\nLater=1\n",
        "; only a comment",
    };
    const std::vector<SettingChange> changes = {
        {"PROJECTS", "Project1", "0~001~A~a~"},
        {"PROJECTS", "Project3", ""},
        {"INIT", "Version", "3"},
        {"New", "K", "v"},
        {"PROJECTS", "Project2", "x"},
        {"INIT", "Version", "3b"},
        {"New", "L", "w"},
        {"INIT", "Padded", " both ends "},
    };
    for (const char* content : files) {
        TempDir dir;
        std::string batch = dir.Write("batch.ini", content);
        std::string single = dir.Write("single.ini", content);
        ASSERT_TRUE(WriteSettings(batch, changes));
        for (const SettingChange& c : changes) {
            ASSERT_TRUE(WriteSetting(single, c.Section, c.Key, c.Value));
        }
        EXPECT_EQ(ReadBytes(batch), ReadBytes(single)) << content;
    }
    // One refused change refuses all: nothing is written.
    TempDir dir;
    std::string ini = dir.Write("x.ini", "[A]\nK=1\n");
    EXPECT_FALSE(WriteSettings(ini, {{"A", "K", "2"}, {"A", "Bad=Key", "3"}}));
    EXPECT_EQ(ReadBytes(ini), "[A]\nK=1\n");
}


// OK in the projects dialog writes only what reading gives back exactly; anything longer is
// refused (the dialog says "ERROR writing file" and keeps the operator's work) and the old
// file stays as it was.
TEST(ProjectListTest, SavingRefusesWhatTheReaderWouldCutOrRefuse) {
    const size_t entryFrame = FormatProjectEntry({0, 0, "001", "", "upgrade.cfg"}).size();
    struct Case {
        const char* Name;
        size_t NameLength;      // of the one project's name
        size_t ExtraLength;     // of the extra parameters, ending in "/ADDRLEN=32768"
        size_t Projects;        // how many such projects
        bool Saved;
    } cases[] = {
        {"entry of 2047", SettingValueLimit - entryFrame, 40, 1, true},
        {"entry of 2048", SettingValueLimit - entryFrame + 1, 40, 1, false},
        {"entry of 2049", SettingValueLimit - entryFrame + 2, 40, 1, false},
        {"extra of 2047", 10, SettingValueLimit, 1, true},
        {"extra of 2048", 10, SettingValueLimit + 1, 1, false},
        {"list under 4 MiB", 1900, 40, 2000, true},
        {"list past 4 MiB", 1900, 40, 2300, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.Name);
        TempDir dir;
        const std::string before = "[INIT]\nVersion=3\nExtraParameters=/S\n";
        const std::string ini = dir.Write(SettingsFileName, before);
        ProjectTree tree;
        for (size_t i = 0; i < c.Projects; ++i)
            tree.Add(0, "001", std::string(c.NameLength, 'n'), "upgrade.cfg");
        const std::string extra = std::string(c.ExtraLength - 14, ' ') + "/ADDRLEN=32768";
        EXPECT_EQ(c.Saved, SaveProjectSettings(Files(ini), tree, 1, extra));
        if (!c.Saved) {
            EXPECT_EQ(before, ReadBytes(ini));
            EXPECT_EQ(1u, dir.Entries().size());
            continue;
        }
        const ProjectSettings back = LoadProjectSettings(ini);
        ASSERT_EQ(tree.Count(), back.Tree.Count());
        EXPECT_EQ(tree.Nodes().back().Name, back.Tree.Nodes().back().Name);
        EXPECT_EQ("upgrade.cfg", back.Tree.Nodes().back().Path);
        EXPECT_EQ(extra, back.ExtraParameters);  // blanks at its start kept by the quotes
    }
}

}  // namespace
}  // namespace ps

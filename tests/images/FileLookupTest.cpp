// SPDX-License-Identifier: MIT
#include <gtest/gtest.h>

#include "images/FileLookup.h"
#include "images/ImageFile.h"
#include "images/ImageTestFiles.h"

namespace ps {
namespace {

using test::RecordingReporter;
using test::TempDir;

std::string Find(const std::string& path) {
    std::string error;
    std::string found = FindFileIgnoringCase(path, error);
    EXPECT_TRUE(error.empty()) << error;
    return found;
}

TEST(FindFileIgnoringCase, ExactNameIsUsedAsItStands) {
    TempDir dir;
    const std::string path = dir.Write("Image.hex", "x");
    EXPECT_EQ(Find(path), path);
    // An exact match wins even when another entry differs only in case.
    dir.Write("IMAGE.HEX", "y");
    EXPECT_EQ(Find(path), path);
    EXPECT_EQ(Find(dir / "IMAGE.HEX"), dir / "IMAGE.HEX");
}

TEST(FindFileIgnoringCase, FindsEveryComponentWithoutRegardToCase) {
    TempDir dir;
    dir.MakeDir("sub");
    dir.Write("sub/Image.hex", "x");
    dir.Write("image.hex", "x");
    EXPECT_EQ(Find(dir / "IMAGE.HEX"), dir / "image.hex");
    EXPECT_EQ(Find(dir / "SUB/IMAGE.HEX"), dir / "sub/Image.hex");
    EXPECT_EQ(Find(dir / "Sub//image.HEX"), dir / "sub/Image.hex");
    EXPECT_EQ(Find(dir / "sub/../SUB/./image.hex"), dir / "sub/../sub/./Image.hex");
    EXPECT_EQ(Find(dir / "nothing.hex"), "");
    EXPECT_EQ(Find(dir / "nosub/image.hex"), "");
    EXPECT_EQ(Find(dir / "image.hex/x"), "");
    EXPECT_EQ(Find(""), "");
}

TEST(FindFileIgnoringCase, RelativeNamesStayRelative) {
    TempDir dir;
    dir.MakeDir("Rel");
    dir.Write("Rel/File.Mhx", "x");
    char* old = ::getcwd(nullptr, 0);
    ASSERT_EQ(::chdir(dir.Path().c_str()), 0);
    const std::string found = Find("rel/FILE.MHX");
    ASSERT_EQ(::chdir(old), 0);
    ::free(old);
    EXPECT_EQ(found, "Rel/File.Mhx");
}

TEST(FindFileIgnoringCase, NamesDifferingOnlyInCaseAreAnError) {
    TempDir dir;
    dir.Write("image.hex", "a");
    dir.Write("Image.hex", "b");
    std::string error;
    EXPECT_EQ(FindFileIgnoringCase(dir / "IMAGE.HEX", error), "");
    EXPECT_EQ(error, std::string(MsgAmbiguousFileName) + "\"" + (dir / "Image.hex") + "\", \"" +
                         (dir / "image.hex") + "\"");

    // The station shows it after the usual cannot-open message.
    RecordingReporter reporter;
    ImageText file;
    EXPECT_FALSE(OpenImageText(file, dir / "IMAGE.HEX", reporter));
    EXPECT_EQ(reporter.Messages,
              (std::vector<std::string>{CannotOpenMessage(dir / "IMAGE.HEX") + "\r" + error}));
}

TEST(ImageText, OpensANameGivenInOtherCase) {
    TempDir dir;
    dir.MakeDir("sub");
    dir.Write("sub/Image.hex", ":00000001FF\n");
    ImageText file;
    ASSERT_TRUE(file.Open(dir / "SUB/IMAGE.HEX"));
    EXPECT_EQ(file.Path(), dir / "sub/Image.hex");
    std::string line;
    ASSERT_TRUE(file.ReadLine(line));
    EXPECT_EQ(line, ":00000001FF");
}

}  // namespace
}  // namespace ps

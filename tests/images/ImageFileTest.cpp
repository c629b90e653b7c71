// SPDX-License-Identifier: MIT
#include <gtest/gtest.h>

#include <map>

#include "images/HexConvert.h"
#include "images/ImageFile.h"
#include "images/ImageTestFiles.h"

namespace ps {
namespace {

using test::RecordingReporter;
using test::TempDir;

std::vector<std::string> ReadAll(const std::string& path) {
    ImageText file;
    std::vector<std::string> lines;
    if (!file.Open(path)) return {"<cannot open>"};
    std::string line;
    while (file.ReadLine(line)) lines.push_back(line);
    EXPECT_FALSE(file.ReadFailed());
    EXPECT_EQ(file.Position(), file.Size());
    return lines;
}

TEST(ImageMessages, NameFollowsACarriageReturn) {
    EXPECT_STREQ(MsgCannotOpenFile, "NE MOREM ODPRETI DATOTEKE");
    EXPECT_STREQ(MsgNotHexFile, "TO NI PRAVA .HEX DATOTEKA");
    EXPECT_EQ(CannotOpenMessage("A.HEX"), "NE MOREM ODPRETI DATOTEKE\rA.HEX");
    EXPECT_EQ(NotHexMessage("B.MHX"), "TO NI PRAVA .HEX DATOTEKA\rB.MHX");
}

TEST(ResolveImageName, AppendsExtensionOnlyWhenNoDotAnywhere) {
    EXPECT_EQ(ResolveImageName("image", ".HEX"), "image.HEX");
    EXPECT_EQ(ResolveImageName("image", ".MHX"), "image.MHX");
    EXPECT_EQ(ResolveImageName("sub/image", ".HEX"), "sub/image.HEX");
    EXPECT_EQ(ResolveImageName("image.a90", ".HEX"), "image.a90");
    EXPECT_EQ(ResolveImageName("image.", ".HEX"), "image.");
    // A dot in a folder name counts although the file part has no extension.
    EXPECT_EQ(ResolveImageName("v1.2/image", ".HEX"), "v1.2/image");
    EXPECT_EQ(ResolveImageName("../image", ".HEX"), "../image");
}

TEST(ImageText, EndsLinesAtLfCrLfAndCr) {
    TempDir dir;
    EXPECT_EQ(ReadAll(dir.Write("lf", "a\nbb\nccc\n")),
              (std::vector<std::string>{"a", "bb", "ccc"}));
    EXPECT_EQ(ReadAll(dir.Write("crlf", "a\r\nbb\r\nccc\r\n")),
              (std::vector<std::string>{"a", "bb", "ccc"}));
    EXPECT_EQ(ReadAll(dir.Write("cr", "a\rbb\rccc\r")),
              (std::vector<std::string>{"a", "bb", "ccc"}));
    EXPECT_EQ(ReadAll(dir.Write("mixed", "a\r\nb\nc\rd")),
              (std::vector<std::string>{"a", "b", "c", "d"}));
}

TEST(ImageText, ReadsLastLineWithoutBreakAndSkipsEmptyLines) {
    TempDir dir;
    EXPECT_EQ(ReadAll(dir.Write("nobreak", ":00000001FF")),
              (std::vector<std::string>{":00000001FF"}));
    EXPECT_EQ(ReadAll(dir.Write("blanklast", "a\r\n\r\n")), (std::vector<std::string>{"a"}));
    EXPECT_EQ(ReadAll(dir.Write("blanks", "\n\na\n\r\n\rb\n\n")),
              (std::vector<std::string>{"a", "b"}));
    EXPECT_TRUE(ReadAll(dir.Write("empty", "")).empty());
    EXPECT_TRUE(ReadAll(dir.Write("onlybreaks", "\r\n\n\r")).empty());
    // Whitespace is not empty: it reaches the record-mark check.
    EXPECT_EQ(ReadAll(dir.Write("space", " \n")), (std::vector<std::string>{" "}));
}

TEST(ImageText, CrLfSplitAcrossReadChunksIsOneBreak) {
    TempDir dir;
    // Put the CR as the last byte of the first 64 KiB chunk and the LF first in the next:
    // 655 lines of 100 bytes, then 35 bytes and the CR at offset 65535.
    std::string text;
    for (int i = 0; i < 655; ++i) text += std::string(99, 'x') + "\n";
    const std::string last(35, 'x');
    const auto lines = ReadAll(dir.Write("split", text + last + "\r\ny\n"));
    ASSERT_EQ(lines.size(), 657u);
    EXPECT_EQ(lines[655], last);
    EXPECT_EQ(lines[656], "y");
}

TEST(ImageText, KeepsNulAndBinaryBytesAndLongLines) {
    TempDir dir;
    const std::string binary(
        "S\0\xff\x80"
        "2",
        5);
    EXPECT_EQ(ReadAll(dir.Write("bin", binary + "\n" + binary)),
              (std::vector<std::string>{binary, binary}));

    // The longest line a file may hold is read whole; one character more ends the reading.
    const std::string longest(ImageLineLimit - 1, 'A');
    const auto lines = ReadAll(dir.Write("long", ":" + longest + "\r\n:00000001FF"));
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_EQ(lines[0].size(), ImageLineLimit);
    EXPECT_EQ(lines[1], ":00000001FF");
    ImageText huge;
    ASSERT_TRUE(huge.Open(dir.Write("huge", ":" + longest + "A\r\n:00000001FF")));
    std::string line;
    EXPECT_FALSE(huge.ReadLine(line));
    EXPECT_TRUE(huge.LineTooLong());
    EXPECT_EQ(line, "");
}

TEST(ImageText, LearnsSizeAndReopens) {
    TempDir dir;
    const std::string path = dir.Write("img.hex", "ab\r\ncd\r\n");
    ImageText file;
    ASSERT_TRUE(file.Open(path));
    EXPECT_EQ(file.Size(), 8);
    std::string line;
    ASSERT_TRUE(file.ReadLine(line));
    EXPECT_EQ(file.Position(), 4);
    // Opening again starts from the beginning of the (other) file.
    ASSERT_TRUE(file.Open(dir.Write("b.hex", "z")));
    EXPECT_EQ(file.Size(), 1);
    ASSERT_TRUE(file.ReadLine(line));
    EXPECT_EQ(line, "z");
    EXPECT_FALSE(file.ReadLine(line));
    EXPECT_FALSE(file.ReadLine(line));
    file.Close();
    EXPECT_FALSE(file.IsOpen());
    EXPECT_FALSE(file.ReadLine(line));
}

TEST(OpenImageText, ReportsFilesThatCannotBeOpened) {
    TempDir dir;
    dir.MakeDir("folder.hex");
    for (const std::string& name : {dir / "missing.hex", dir / "folder.hex", std::string()}) {
        RecordingReporter reporter;
        ImageText file;
        EXPECT_FALSE(OpenImageText(file, name, reporter)) << name;
        EXPECT_FALSE(file.IsOpen());
        EXPECT_EQ(reporter.Messages, (std::vector<std::string>{CannotOpenMessage(name)}));
    }
    RecordingReporter reporter;
    ImageText file;
    EXPECT_TRUE(OpenImageText(file, dir.Write("ok.hex", ":00"), reporter));
    EXPECT_TRUE(reporter.Messages.empty());
}

TEST(CheckRecordMark, ReportsLinesWithoutTheMark) {
    RecordingReporter reporter;
    EXPECT_TRUE(CheckRecordMark(":00000001FF", ':', "a.hex", reporter));
    EXPECT_TRUE(CheckRecordMark("S9030000FC", 'S', "a.mhx", reporter));
    EXPECT_TRUE(reporter.Messages.empty());
    const std::pair<std::string, char> badLines[] = {
        {"S00", ':'}, {" :00", ':'}, {"", ':'}, {std::string("\0:", 2), ':'},
        {"s2", 'S'},  {":S2", 'S'},
    };
    for (const auto& [line, mark] : badLines) {
        RecordingReporter bad;
        EXPECT_FALSE(CheckRecordMark(line, mark, "x.hex", bad));
        EXPECT_EQ(bad.Messages, (std::vector<std::string>{NotHexMessage("x.hex")}));
    }
}

// How the Intel HEX readers use these pieces: the ":" mark on every line, type 00 data,
// no special end record, checksums never checked. Returns address -> byte.
std::map<uint32_t, uint8_t> ReadIntel(const std::string& path, bool strict,
                                      RecordingReporter& reporter) {
    std::map<uint32_t, uint8_t> image;
    ImageText file;
    if (!OpenImageText(file, path, reporter)) return image;
    std::string line;
    while (file.ReadLine(line)) {
        if (!CheckRecordMark(line, ':', path, reporter)) break;
        if (strict) {
            if (StrictHexByte(line, 8) != 0) continue;
            const int count = StrictHexByte(line, 2);
            const uint32_t address = StrictHex(line, 4, 4);
            for (int i = 0; i < count; ++i) image[address + i] = StrictHexByte(line, 10 + 2 * i);
        } else {
            // A short record just gives fewer bytes.
            const auto b = LenientHexPairs(std::string_view(line).substr(1));
            if (b.size() < 4 || b[3] != 0) continue;
            const uint32_t address = b[1] * 256u + b[2];
            for (size_t i = 4; i < b.size() && i < 4u + b[0]; ++i) image[address + i - 4] = b[i];
        }
    }
    return image;
}

TEST(IntelRecords, LoadToTheEndLenientlyOrStrictly) {
    TempDir dir;
    const std::string path = dir.Write("a.hex",
                                       ":02000000ffA0FF\r\n"  // wrong checksum, lower case
                                       ":00000001FF\r\n"      // end record: reading goes on
                                       ":0100100042AD\r\n"
                                       ":01FFFF0077FF\r\n"
                                       ":02FFFF001122FF");  // no break, runs past 0xFFFF
    RecordingReporter reporter;
    const auto lenient = ReadIntel(path, false, reporter);
    EXPECT_EQ(lenient.at(0x0000), 0xFF);  // "ff" is 0xFF leniently ...
    EXPECT_EQ(lenient.at(0x0001), 0xA0);
    EXPECT_EQ(lenient.at(0x0010), 0x42);
    EXPECT_EQ(lenient.at(0xFFFF), 0x11);
    EXPECT_EQ(lenient.at(0x10000), 0x22);  // never wrapped at 64 KB
    const auto strict = ReadIntel(path, true, reporter);
    EXPECT_EQ(strict.at(0x0000), 0xFF);  // ... as strictly
    EXPECT_EQ(strict, [&] {
        auto expected = lenient;
        expected[0] = 0xFF;
        return expected;
    }());
    EXPECT_TRUE(reporter.Messages.empty());
}

TEST(IntelRecords, TruncatedRecordIsShortLenientlyAndAnErrorStrictly) {
    TempDir dir;
    const std::string path = dir.Write("t.hex", ":0400000011223\n");
    RecordingReporter reporter;
    const auto lenient = ReadIntel(path, false, reporter);
    // Two whole pairs of data; the odd last digit is ignored.
    EXPECT_EQ(lenient, (std::map<uint32_t, uint8_t>{{0, 0x11}, {1, 0x22}}));
    EXPECT_THROW(ReadIntel(path, true, reporter), EConvertError);
    EXPECT_TRUE(reporter.Messages.empty());
}

}  // namespace
}  // namespace ps

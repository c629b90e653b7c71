// SPDX-License-Identifier: MIT
#include <gtest/gtest.h>

#include <memory>

#include "images/HexConvert.h"
#include "images/ImageFile.h"
#include "images/ImageTestFiles.h"
#include "images/TMOT.h"

namespace ps {
namespace {

using test::RecordingReporter;
using test::TempDir;

// TMOT holds 512 K entries: keep one per test on the heap.
std::unique_ptr<TMOT> MakeMot() {
    return std::make_unique<TMOT>();
}

TEST(TMOTParseLine, ReadsAnS2Record) {
    auto mot = MakeMot();
    mot->ParseLine("S2080123450A0b0C0D99");
    EXPECT_EQ(mot->BadLine, 0u);
    EXPECT_EQ(mot->RecordType, static_cast<uint32_t>('2'));
    EXPECT_EQ(mot->DataCount, 4);
    EXPECT_EQ(mot->Address, 0x012345u);
    EXPECT_EQ((std::vector<uint8_t>(mot->LineData.begin(), mot->LineData.begin() + 4)),
              (std::vector<uint8_t>{0x0A, 0x0B, 0x0C, 0x0D}));
    EXPECT_EQ(mot->LineChecksum, 0x99);
    // The checksum is never verified: a wrong one parses the same.
    mot->ParseLine("S20801234500000000FF");
    EXPECT_EQ(mot->LineChecksum, 0xFF);
    EXPECT_EQ(mot->DataCount, 4);
}

TEST(TMOTParseLine, TruncatedRecordsFollowTheStrictRules) {
    auto mot = MakeMot();
    // Checksum cut to one digit: converted from what is there.
    mot->ParseLine("S2080123450A0B0C0D9");
    EXPECT_EQ(mot->LineChecksum, 0x09);
    // Checksum wholly missing, a data byte missing, the address cut short, no count.
    for (const char* line : {"S2080123450A0B0C0D", "S2080123450A", "S208", "S2"}) {
        EXPECT_THROW(mot->ParseLine(line), EConvertError) << line;
    }
    // A partial address converts, but then the first data byte lies past the end.
    EXPECT_THROW(mot->ParseLine("S20801"), EConvertError);
}

TEST(TMOTParseLine, BadDigitsRaiseTheConversionError) {
    auto mot = MakeMot();
    try {
        mot->ParseLine("S2080123450A0B0G0D99");
        FAIL() << "no error";
    } catch (const EConvertError& e) {
        EXPECT_EQ(std::string(e.what()), NotValidIntegerMessage("$0G"));
    }
    EXPECT_THROW(mot->ParseLine(std::string("S2\0\0", 4) + "0000000099"), EConvertError);
}

TEST(TMOTParseLine, CountsBelowFourStoreNothing) {
    auto mot = MakeMot();
    mot->ClearImage();
    // Count 00..03 cannot hold an address and a checksum: DataCount is negative, no data
    // byte is read, and StoreLine keeps nothing.
    for (const char* line : {"S200000000", "S20300000099"}) {
        SCOPED_TRACE(line);
        mot->ParseLine(line);
        EXPECT_LT(mot->DataCount, 0);
        EXPECT_EQ(mot->StoreLine(0), 0);
    }
    mot->ParseLine("S200000000");
    EXPECT_EQ(mot->DataCount, -4);
}

TEST(TMOTParseLine, LargestCountStaysInsideLineData) {
    auto mot = MakeMot();
    // Count 0xFF: 251 data bytes, the most a record can say.
    std::string line = "S2FF000000";
    for (int i = 0; i < 251; ++i) line += "A5";
    line += "5A";
    mot->ParseLine(line);
    ASSERT_EQ(mot->DataCount, 251);
    EXPECT_EQ(mot->LineData[250], 0xA5);
    EXPECT_EQ(mot->LineData[251], 0x00);
    EXPECT_EQ(mot->LineChecksum, 0x5A);
    mot->ClearImage();
    EXPECT_EQ(mot->StoreLine(0), 251);
}

TEST(TMOTStoreLine, NeverWritesOutsideItsArraysWhateverTheFields) {
    auto mot = MakeMot();
    mot->ClearImage();
    mot->Address = 0;
    mot->DataCount = 5000;  // set from outside, beyond LineData
    EXPECT_EQ(mot->StoreLine(0), TMOT::MaxLineData);
    mot->DataCount = -100;
    EXPECT_EQ(mot->StoreLine(0), 0);
    mot->DataCount = 4;
    mot->Address = 0xFFFFFFFFu;
    EXPECT_EQ(mot->StoreLine(INT32_MIN), 0);
    EXPECT_EQ(mot->StoreLine(INT32_MAX), 0);
}

TEST(TMOTParseLine, OtherLinesLeaveTheS2Fields) {
    auto mot = MakeMot();
    mot->ParseLine("S2050000100199");
    ASSERT_EQ(mot->DataCount, 1);
    EXPECT_EQ(mot->LineChecksum, 0x99);

    mot->ParseLine("S1050000AABB99");
    EXPECT_EQ(mot->BadLine, 0u);
    EXPECT_EQ(mot->RecordType, static_cast<uint32_t>('1'));
    EXPECT_EQ(mot->DataCount, 0);
    EXPECT_EQ(mot->Address, 0x000010u);  // kept from the S2 line
    EXPECT_EQ(mot->LineChecksum, 0x99);

    mot->ParseLine(":00000001FF");
    EXPECT_EQ(mot->BadLine, 1u);
    EXPECT_EQ(mot->DataCount, 0);
    mot->ParseLine("");
    EXPECT_EQ(mot->BadLine, 1u);
    mot->ParseLine("S");
    EXPECT_EQ(mot->BadLine, 0u);
    EXPECT_EQ(mot->RecordType, 0u);
    EXPECT_EQ(mot->DataCount, 0);
}

TEST(TMOTStoreLine, KeepsOnlyBytesInsideTheImage) {
    auto mot = MakeMot();
    mot->ClearImage();
    // Four bytes from 0x0AFFFE with ADDRSTART 0x030000: offsets 0x7FFFE..0x80001.
    mot->ParseLine("S2080AFFFE1122334499");
    EXPECT_EQ(mot->StoreLine(0x030000), 2);
    EXPECT_EQ(mot->Image[0x7FFFE].Present, 1);
    EXPECT_EQ(mot->Image[0x7FFFE].Value, 0x11);
    EXPECT_EQ(mot->Image[0x7FFFF].Value, 0x22);
    // Bytes below ADDRSTART are dropped as well.
    mot->ParseLine("S20800FFFE5566778899");
    EXPECT_EQ(mot->StoreLine(0x010000), 2);
    EXPECT_EQ(mot->Image[0].Value, 0x77);
    EXPECT_EQ(mot->Image[1].Value, 0x88);
    // A later record for the same offset overwrites the earlier one.
    mot->ParseLine("S20500FFFFAB99");
    EXPECT_EQ(mot->StoreLine(0x00FFFF), 1);
    EXPECT_EQ(mot->Image[0].Value, 0xAB);
    int present = 0;
    for (const auto& e : mot->Image) present += e.Present;
    EXPECT_EQ(present, 4);

    mot->ClearImage();
    present = 0;
    for (const auto& e : mot->Image) present += e.Present;
    EXPECT_EQ(present, 0);
}

// How the 91360 loaders read a file into TMOT: every line needs the "S" mark; only S2
// records are stored; reading goes on to the physical end.
struct MotLoad {
    bool Opened = false;
    int Loaded = 0;
    std::vector<std::string> Messages;
};

MotLoad LoadMot(TMOT& mot, const std::string& name, int32_t addrStart) {
    MotLoad result;
    RecordingReporter reporter;
    mot.ClearImage();
    const std::string resolved = ResolveImageName(name, ".MHX");
    ImageText file;
    result.Opened = OpenImageText(file, resolved, reporter);
    std::string line;
    while (result.Opened && file.ReadLine(line)) {
        if (!CheckRecordMark(line, 'S', resolved, reporter)) break;
        mot.ParseLine(line);
        if (mot.RecordType == '2') result.Loaded += mot.StoreLine(addrStart);
    }
    result.Messages = reporter.Messages;
    return result;
}

TEST(TMOTLoad, LoadsToThePhysicalEndOfTheFile) {
    TempDir dir;
    auto mot = MakeMot();
    dir.Write("img.MHX",
              "S0030000FC\r\n"
              "S20500000001F9\r\n"
              "S804000000FB\r\n"    // end record: reading goes on
              "S2050000010200\r\n"  // wrong checksum: loaded all the same
              "S2050000020300");    // last line without a break
    const auto load = LoadMot(*mot, dir / "img", 0);
    EXPECT_TRUE(load.Opened);
    EXPECT_TRUE(load.Messages.empty());
    EXPECT_EQ(load.Loaded, 3);
    EXPECT_EQ(mot->Image[0].Value, 0x01);
    EXPECT_EQ(mot->Image[1].Value, 0x02);
    EXPECT_EQ(mot->Image[2].Value, 0x03);
    EXPECT_EQ(mot->Image[3].Present, 0);
}

TEST(TMOTLoad, S1AndS3OnlyFileStoresNothingWithoutAMessage) {
    TempDir dir;
    auto mot = MakeMot();
    dir.Write("s13.mhx", "S1050000AA50\nS30600000000BB40\nS9030000FC\n\n");
    const auto load = LoadMot(*mot, dir / "s13.mhx", 0);
    EXPECT_TRUE(load.Messages.empty());
    EXPECT_EQ(load.Loaded, 0);
    EXPECT_EQ(mot->Image[0].Present, 0);
}

TEST(TMOTLoad, ForeignLineStopsTheLoadKeepingWhatWasStored) {
    TempDir dir;
    auto mot = MakeMot();
    dir.Write("mixed.mhx", "S20500000011FF\n:00000001FF\nS20500000122FF\n");
    const auto load = LoadMot(*mot, dir / "MIXED", 0);  // upper case, no extension
    EXPECT_EQ(load.Messages, (std::vector<std::string>{NotHexMessage(dir / "MIXED.MHX")}));
    EXPECT_EQ(load.Loaded, 1);
    EXPECT_EQ(mot->Image[0].Value, 0x11);
    EXPECT_EQ(mot->Image[1].Present, 0);

    const auto missing = LoadMot(*mot, dir / "none", 0);
    EXPECT_FALSE(missing.Opened);
    EXPECT_EQ(missing.Messages, (std::vector<std::string>{CannotOpenMessage(dir / "none.MHX")}));
    EXPECT_EQ(mot->Image[0].Present, 0);  // cleared before the load
}

TEST(TMOTLoad, BinaryGarbageIsABadFileNotACrash) {
    TempDir dir;
    auto mot = MakeMot();
    std::string garbage;
    for (int i = 0; i < 4096; ++i) garbage += static_cast<char>((i * 37 + 11) & 0xFF);
    dir.Write("bin.mhx", "S2" + garbage);
    EXPECT_THROW(LoadMot(*mot, dir / "bin.mhx", 0), EConvertError);
    dir.Write("nul.mhx", std::string("\0\0S2\n", 5));
    const auto load = LoadMot(*mot, dir / "nul.mhx", 0);
    EXPECT_EQ(load.Messages, (std::vector<std::string>{NotHexMessage(dir / "nul.mhx")}));
}

}  // namespace
}  // namespace ps

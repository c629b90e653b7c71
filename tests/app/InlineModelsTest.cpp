// SPDX-License-Identifier: MIT
// The four models the run controller programs itself, end to end against their simulated
// boards: the board's memory equals the image, the bytes on the wire are the ones the
// protocols fix, and the operator sees the right texts.
#include <gtest/gtest.h>

#include <cctype>

#include "app/InlineRig.h"
#include "run/Texts.h"
#include "sim/Boot574Board.h"
#include "sim/CommandCollector.h"
#include "sim/EmulatorBoard.h"
#include "sim/MotorolaBoard.h"
#include "sim/SharcBootFlashBoard.h"
#include "targets/bootloader/sharc/SharcTexts.h"

namespace inlinetest {
namespace {

using ps::sim::RecordingView;

std::string LastByteLabel(const RecordingView& view, int index) {
    std::string text = "(none)";
    for (const auto& call : view.OfKind(RecordingView::CallKind::ByteLabel))
        if (call.A == index) text = call.Text;
    return text;
}

uint8_t Complement(uint8_t b) {
    return static_cast<uint8_t>(~b);
}

TEST(InlineModels, MotorolaJoinsContiguousRecordsProgramsVerifiesAndStarts) {
    Rig rig("motorola,memory=0x10000");
    Bytes code = SampleBytes(1024, 1);
    std::fill(code.begin() + 256, code.begin() + 288, 0xFF);  // an erased line: not sent
    const Chunks chunks = {{0x0000, code}, {0x2000, SampleBytes(96, 2)}};
    std::string text = ImageFileText(chunks, 32, 2);
    text += SrecLine(1, 0x3000, {0xFF, 0xFF, 0xFF}, 2) + "\r\n";  // erased "S1": no loss
    rig.Step({"/P=" + rig.Image("fw.mhx", text), "/ADDRSTART=0", "/ADDRLEN=$10000",
              "/BLOCKLEN=4096", "/BLOCKSONROW=4", "/SINHRO", "/ERASEFLASH", "/CHECKSUM"});

    ASSERT_EQ(rig.Run(), ps::ExitSuccess) << rig.view.Dump();
    auto& board = rig.Board<ps::sim::MotorolaBoard>();
    EXPECT_EQ(board.Memory(), Overlay(Bytes(0x10000, 0xFF), chunks));
    EXPECT_EQ(rig.view.LastStatus(), std::string(ps::TextProgramedOkLower) + ps::TextCheckSumOk);
    EXPECT_EQ(rig.st.TargetChecksum, rig.st.ImageChecksum);

    // Four contiguous 32-byte lines go out as one record of count 0x84.
    Bytes first = {'S', '2', 0x84, 0x00, 0x00, 0x00};
    first.insert(first.end(), code.begin(), code.begin() + 128);
    uint8_t sum = 0;
    for (size_t i = 2; i < first.size(); ++i) sum = static_cast<uint8_t>(sum + first[i]);
    first.push_back(Complement(sum));
    EXPECT_TRUE(Contains(rig.Sent(), first));
    // The erased line ends the join: 256 bytes in two records, then the rest after it.
    const std::vector<std::pair<uint32_t, int>> records = {
        {0x0000, 128}, {0x0080, 128}, {0x0120, 128}, {0x01A0, 128}, {0x0220, 128},
        {0x02A0, 128}, {0x0320, 128}, {0x03A0, 96},  {0x2000, 96}};
    EXPECT_EQ(board.Records, records);
    EXPECT_EQ(board.Starts, 1);  // no "/RUNADDR=": the program is started with "K" '0'
    EXPECT_TRUE(Contains(rig.Sent(), {0x4B, 0x30, 0x01, 0xFE}));
    // Every "S2" byte in range is counted, erased ones too, by the row of its block.
    EXPECT_EQ(LastByteLabel(rig.view, 0), "1120");
    EXPECT_EQ(LastByteLabel(rig.view, 1), "1120");
    EXPECT_EQ(rig.view.LastProgress(), 100);
}

TEST(InlineModels, Boot574SendsEachS1RecordAsAFrameAfterItsReadyHandshake) {
    Rig rig("574boot");
    const Bytes sixteen = SampleBytes(16, 3);
    const Chunks chunks = {{0x1000, sixteen}, {0x8000, SampleBytes(1000, 4)}};
    rig.Image("fw.MHX", ImageFileText(chunks, 16, 1));
    rig.Step({"/PAB=" + rig.dir.File("fw"), "/SINHRO"});  // a name without a dot gets ".MHX"

    ASSERT_EQ(rig.Run(), ps::ExitSuccess) << rig.view.Dump();
    auto& board = rig.Board<ps::sim::Boot574Board>();
    EXPECT_EQ(board.Memory(), Overlay(ps::sim::OldProgram(0x10000), chunks));
    EXPECT_EQ(rig.view.LastStatus(), ps::TextProgramedOkLower);
    // count 0x13, address 0x1000, 16 bytes: 0x18, then 00 10 00 00 10, the bytes, their sum.
    Bytes frame = {0x18, 0x00, 0x10, 0x00, 0x00, 0x10};
    frame.insert(frame.end(), sixteen.begin(), sixteen.end());
    uint8_t sum = 0;
    for (size_t i = 1; i < frame.size(); ++i) sum = static_cast<uint8_t>(sum + frame[i]);
    frame.push_back(sum);
    EXPECT_TRUE(Contains(rig.Sent(), frame));
    const Bytes sent = rig.Sent();
    EXPECT_EQ(Bytes(sent.end() - 5, sent.end()), (Bytes{0x40, 0x00, 0x00, 0x00, 0x00}));
    EXPECT_EQ(board.Ends, 1);
    EXPECT_EQ(board.Frames.size(), 1u + 63u);
}

TEST(InlineModels, SharcBootFlashConnectsBridgeAndDspEscapesRecordsAndVerifies) {
    Rig rig("sharcboot");
    Bytes big = SampleBytes(251, 5);  // count 0xFB: sent as it is
    big[7] = 0xFB;
    const Chunks chunks = {{0x0000, SampleBytes(2000, 6)}, {0x4000, big}, {0x8400, {0x11, 0x22}}};
    std::string text;
    for (const auto& [start, data] : chunks) {
        const size_t line = data.size() == 251 ? 251 : 32;
        for (size_t off = 0; off < data.size(); off += line)
            text += IntelLine(static_cast<uint16_t>(start + off), 0,
                              Bytes(data.begin() + static_cast<long>(off),
                                    data.begin() +
                                        static_cast<long>(std::min(data.size(), off + line)))) +
                    "\r\n";
    }
    text += ":020000040001F9\r\n:00000001FF\r\n";  // an address record changes nothing
    rig.Step({"/PSB=" + rig.Image("boot.hex", text), "/ADDRSTART=0", "/ADDRLEN=$10000",
              "/BLOCKLEN=1024", "/BLOCKSONROW=32", "/SINHRO", "/CHECKSUM"});

    ASSERT_EQ(rig.Run(), ps::ExitSuccess) << rig.view.Dump();
    auto& board = rig.Board<ps::sim::SharcBootFlashBoard>();
    EXPECT_EQ(board.Flash(), Overlay(Bytes(0x10000, 0xFF), chunks));
    EXPECT_EQ(rig.view.LastStatus(), std::string(ps::TextProgramedOkLower) + ps::TextCheckSumOk);
    for (const char* text :
         {"connecting atmel... ok", "initializing atmel... ok", "connecting sharc... ok"})
        EXPECT_TRUE(rig.view.SawStatus(text)) << text << "\n" << rig.view.Dump();
    ASSERT_EQ(rig.view.Messages().size(), 1u);
    EXPECT_EQ(rig.view.Messages()[0].Kind, ps::MessageKind::Information);
    EXPECT_EQ(rig.view.Messages()[0].Text, ps::TextSwapJumper);
    // The 251-byte record: count unescaped, its 0xFB data byte as 0xFF 0x04.
    const Bytes sent = rig.Sent();
    EXPECT_TRUE(Contains(sent, {'S', 0xFB, 0x00, 0x40, 0x00}));
    Bytes escaped;
    for (size_t i = 0; i < 8; ++i) {
        if (big[i] >= 0xFA) escaped.push_back(0xFF);
        escaped.push_back(big[i] >= 0xFA ? Complement(big[i]) : big[i]);
    }
    EXPECT_TRUE(Contains(escaped, {0xFF, 0x04}));
    EXPECT_TRUE(Contains(sent, escaped));
    EXPECT_TRUE(Contains(sent, {'F', 0x08}));
    EXPECT_EQ(sent.back(), 0xC9);  // the DSP leaves its session; the bridge answered 'O'
    EXPECT_EQ(board.Ends, 1);
    // Blocks by address / "/BLOCKLEN=": 0x0000 is (0, 0), 0x8400 is (1, 1).
    bool sawOrigin = false, sawOneOne = false;
    for (const auto& call : rig.view.Blocks()) {
        sawOrigin |= call.A == 0 && call.B == 0 && call.Colour == ps::ProgrammedColour;
        sawOneOne |= call.A == 1 && call.B == 1 && call.Colour == ps::ProgrammedColour;
    }
    EXPECT_TRUE(sawOrigin && sawOneOne);
    EXPECT_EQ(LastByteLabel(rig.view, 0), std::to_string(2000 + 251 + 2));
}

TEST(InlineModels, EmulatorTakesRecordsWithoutAnswersReadsLowerCaseDigitsAndRuns) {
    Rig rig("emulator");
    const Chunks chunks = {{0x0000, SampleBytes(3000, 7)}, {0x4000, SampleBytes(512, 8)}};
    std::string text = ImageFileText(chunks, 16, 0);
    // Lower-case digits are the digits they are, in either place.
    std::string lower = IntelLine(0x7000, 0, {0xA5, 0x1A});
    for (char& c : lower) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    text = lower + "\r\n" + text;
    rig.Step({"/PE=" + rig.Image("prog.hex", text), "/ADDRSTART=0", "/ADDRLEN=$8000",
              "/BLOCKLEN=1024", "/BLOCKSONROW=16", "/SINHRO"});

    ASSERT_EQ(rig.Run(), ps::ExitSuccess) << rig.view.Dump();
    auto& board = rig.Board<ps::sim::EmulatorBoard>();
    Bytes expected = Overlay(ps::sim::OldProgram(0x10000), chunks);
    expected[0x7000] = 0xA5;
    expected[0x7001] = 0x1A;
    EXPECT_EQ(board.Memory(), expected);
    EXPECT_EQ(board.Runs, 1);
    EXPECT_EQ(rig.Sent().back(), 'R');
    EXPECT_EQ(rig.view.LastStatus(), ps::TextProgramedOkLower);
    // 'A', address, count, data; no answer awaited.
    EXPECT_TRUE(Contains(rig.Sent(), {'A', 0x70, 0x00, 0x02, 0xA5, 0x1A}));
    // Bytes per 16 KB whatever the map: 0x0000-0x3FFF, then 0x4000-0x7FFF.
    EXPECT_EQ(LastByteLabel(rig.view, 0), std::to_string(3000 + 512 + 2));
    EXPECT_EQ(LastByteLabel(rig.view, 1), "3000");
    EXPECT_EQ(LastByteLabel(rig.view, 2), std::to_string(512 + 2));
}

// The join rules of the MOTOROLA loader: lines given as (address, data count, erased).
TEST(InlineModels, MotorolaJoinRules) {
    struct Line {
        uint32_t Address;
        size_t Count;
        bool Erased;
    };
    struct Case {
        const char* Name;
        std::vector<Line> Lines;
        std::vector<int> Records;  // data counts the loader receives
    } cases[] = {
        {"four 32-byte lines",
         {{0, 32, false}, {32, 32, false}, {64, 32, false}, {96, 32, false}},
         {128}},
        {"a gap", {{0, 32, false}, {40, 32, false}}, {32, 32}},
        {"an erased line breaks the join",
         {{0, 32, false}, {32, 32, true}, {64, 32, false}},
         {32, 32}},
        {"a join past the longest record", {{0, 127, false}, {127, 200, false}}, {127, 200}},
        {"long joins", {{0, 100, false}, {100, 100, false}, {200, 100, false}}, {200, 100}},
        {"a tail", {{0, 96, false}, {96, 16, false}}, {112}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.Name);
        Rig rig("motorola,memory=0x1000");
        std::string text;
        Bytes image(0x1000, 0xFF);
        for (const Line& l : c.Lines) {
            Bytes data = l.Erased ? Bytes(l.Count, 0xFF) : SampleBytes(l.Count, l.Address + 9);
            std::copy(data.begin(), data.end(), image.begin() + l.Address);
            text += SrecLine(2, l.Address, data, 3) + "\r\n";
        }
        rig.Step({"/P=" + rig.Image("j.hex", text), "/ADDRLEN=$1000", "/ERASEFLASH", "/CHECKSUM"});
        ASSERT_EQ(rig.Run(), ps::ExitSuccess) << rig.view.Dump();
        const auto& board = rig.Board<ps::sim::MotorolaBoard>();
        std::vector<int> counts;
        for (const auto& r : board.Records) counts.push_back(r.second);
        EXPECT_EQ(counts, c.Records);
        EXPECT_EQ(board.RefusedRecords, 0);  // every joined checksum right
        EXPECT_EQ(board.Memory(), image);
    }
}

TEST(InlineModels, MotorolaChecksumCoversOnlyTheRangeAndS1FilesAreRefused) {
    // Bytes outside [start, end] are sent but neither counted nor summed.
    Rig rig("motorola,memory=0x1000");
    const Chunks chunks = {{0x0F0, SampleBytes(64, 10)}};
    rig.Step({"/P=" + rig.Image("r.hex", ImageFileText(chunks, 32, 2)), "/ADDRSTART=$100",
              "/ADDRLEN=$100", "/ERASEFLASH", "/CHECKSUM"});
    ASSERT_EQ(rig.Run(), ps::ExitSuccess) << rig.view.Dump();
    EXPECT_EQ(rig.Board<ps::sim::MotorolaBoard>().Memory(), Overlay(Bytes(0x1000, 0xFF), chunks));
    EXPECT_EQ(LastByteLabel(rig.view, 0), "48");
    EXPECT_EQ(rig.st.ImageChecksum, rig.Board<ps::sim::MotorolaBoard>().Checksum(0x100, 0x1FF));

    Rig s1("motorola,memory=0x1000");
    s1.Step({"/P=" + s1.Image("s1.hex", ImageFileText(chunks, 32, 1)), "/ADDRLEN=$1000"});
    // The loader sends S2 records only: an S1 file would program nothing and pass.
    EXPECT_EQ(s1.Run(), ps::ExitImageFile);
    EXPECT_TRUE(s1.Board<ps::sim::MotorolaBoard>().Records.empty());
    EXPECT_TRUE(s1.Sent().empty());
}

}  // namespace
}  // namespace inlinetest

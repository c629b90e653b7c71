// SPDX-License-Identifier: MIT
// "91360 LOADER" end to end against the simulated flash loader: the flash equals the image,
// runs stay inside their sectors, "/AUTOERASE" touches only the sectors that differ, the
// erase options, the refusals, the address window, a bad file and a checksum failure.
#include <gtest/gtest.h>

#include <algorithm>

#include "images/ImageFile.h"
#include "sim/Loader91360Board.h"
#include "targets/bootloader/m91360/Loader91360.h"
#include "targets/bootloader/m91360/Texts91360.h"
#include "targets/m91360/Rig91360.h"

namespace {

using namespace m91360test;
using Board = ps::sim::Loader91360Board;
using Runs = std::vector<std::pair<uint32_t, int>>;
using Bytes = std::vector<uint8_t>;

const std::vector<std::string> Window = {"/ADDRSTART=$180000", "/ADDRLEN=$80000", "/BLOCKLEN=$2000",
                                         "/BLOCKSONROW=16", "/AUTOCONTINUE"};
const std::string CheckSumOk = std::string(ps::Msg91360ProgramedOk) + ps::Msg91360CheckSumOk;

std::vector<std::string> With(std::vector<std::string> lines) {
    lines.insert(lines.end(), Window.begin(), Window.end());
    return lines;
}

struct LoaderRig : Rig {
    explicit LoaderRig(Board::Options options = {})
        : Rig(std::make_unique<Board>(options)), flash(static_cast<Board&>(board)) {}
    int Run(const Memory& image, const std::vector<std::string>& lines) {
        return Rig::Run("/PFL=", image, lines);
    }
    Runs Written() const {
        Runs out;
        for (const auto& r : flash.Runs()) out.emplace_back(r.Address, r.Length);
        return out;
    }
    // Writes of the station that begin with `lead`.
    int CommandsLike(uint8_t lead) {
        int n = 0;
        for (const auto& w : h.Wire().Writes) n += !w.Bytes.empty() && w.Bytes[0] == lead;
        return n;
    }
    Board& flash;
};

// A program at the start, 450 bytes inside sector 1, a table across 0x1B8000, and data in
// the second device: every sector but 0, 1, 3, 4 and 7 then reads as erased.
Memory SampleImage() {
    Memory image;
    Fill(image, 0x180000, 0x1000);
    Fill(image, 0x190100, 450, 3);
    Fill(image, 0x1B7F80, 0x100, 5);
    Fill(image, 0x1C0000, 64, 7);
    return image;
}

// The flash as the image leaves it: its bytes, 0xFF everywhere else.
Bytes Expected(const Memory& image) {
    Bytes flash(Board::FlashSize, 0xFF);
    for (const auto& [address, value] : image) flash[address - Board::FlashStart] = value;
    return flash;
}

TEST(Loader91360, AutoEraseWritesTheImageInRunsThatStayInTheirSectors) {
    const Memory image = SampleImage();
    LoaderRig rig;
    EXPECT_EQ(ps::ExitSuccess, rig.Run(image, With({"/AUTOERASE", "/CHECKSUM"})))
        << rig.h.view.Dump();
    EXPECT_EQ(Expected(image), rig.flash.Flash());

    const Runs written = rig.Written();
    for (const auto& [address, length] : written) {
        EXPECT_LE(length, 200);
        EXPECT_EQ(ps::Flash91360Sector(address), ps::Flash91360Sector(address + length - 1));
    }
    // Up to n runs from the one at address a.
    auto from = [&](uint32_t a, long n) {
        auto it =
            std::find_if(written.begin(), written.end(), [a](auto& r) { return r.first == a; });
        return Runs(it, it + std::min(n, static_cast<long>(written.end() - it)));
    };
    // 450 bytes inside one sector: 200, 200, 50.
    EXPECT_EQ((Runs{{0x190100, 200}, {0x1901C8, 200}, {0x190290, 50}}), from(0x190100, 3));
    // The table is cut at the sector end: ..0x1B7FFF, then from 0x1B8000.
    EXPECT_EQ((Runs{{0x1B7F80, 128}, {0x1B8000, 128}}), from(0x1B7F80, 2));

    // Every one of the 14 sectors differed from the old program: one erase of all of them.
    EXPECT_EQ(std::vector<uint16_t>{0x3FFF}, rig.flash.SectorErases());
    EXPECT_EQ(0, rig.flash.FlashErases());
    // The wire: CRC of sector 0 asked as 'C', first and last low byte first; a run frame is
    // 'S', address and length low byte first, the bytes, in one write.
    const auto& writes = rig.h.Wire().Writes;
    const Bytes sent = rig.h.Wire().SentBytes();
    const Bytes crcOfSector0 = {'C', 0x00, 0x00, 0x18, 0x00, 0xFF, 0xFF, 0x18, 0x00};
    EXPECT_NE(sent.end(),
              std::search(sent.begin(), sent.end(), crcOfSector0.begin(), crcOfSector0.end()));
    const Bytes eraseAll = {'e', 0x3F, 0xFF};
    EXPECT_NE(sent.end(), std::search(sent.begin(), sent.end(), eraseAll.begin(), eraseAll.end()));
    const auto frame = std::find_if(writes.begin(), writes.end(),
                                    [](const auto& w) { return w.Bytes.size() > 7; });
    ASSERT_NE(writes.end(), frame);
    EXPECT_EQ((Bytes{'S', 0x00, 0x00, 0x18, 0x00, 200, 0x00}),
              Bytes(frame->Bytes.begin(), frame->Bytes.begin() + 7));

    EXPECT_TRUE(rig.h.view.SawStatus(std::string(ps::Msg91360LoaderConnecting) + ps::Msg91360Ok));
    EXPECT_TRUE(rig.h.view.SawStatus(ps::Msg91360ErasingSectorsAuto));
    EXPECT_EQ(CheckSumOk, rig.h.view.LastStatus());
    EXPECT_EQ(100, rig.h.view.LastProgress());

    // Run again on the same board: every sector matches, so nothing is erased or written.
    rig.h.Wire().Clear();
    EXPECT_EQ(ps::ExitSuccess, rig.h.Run());
    EXPECT_EQ(0, rig.CommandsLike('e'));
    EXPECT_EQ(0, rig.CommandsLike('S'));
    EXPECT_EQ(1u, rig.flash.SectorErases().size());
    EXPECT_EQ(CheckSumOk, rig.h.view.LastStatus());
}

// With "/AUTOERASE" only the sectors that differ are erased and written.
TEST(Loader91360, AutoEraseTouchesOnlyTheSectorsThatDiffer) {
    Memory image = SampleImage();
    LoaderRig rig(Board::Options{true});                  // blank: sectors 0, 1, 3, 4 and 7 differ
    rig.flash.Flash()[0x1A0000 - Board::FlashStart] = 0;  // and 2, which the image leaves erased
    ASSERT_EQ(ps::ExitSuccess, rig.Run(image, With({"/AUTOERASE"})));
    EXPECT_EQ(std::vector<uint16_t>{0x009F}, rig.flash.SectorErases());
    EXPECT_EQ(Expected(image), rig.flash.Flash());
}

TEST(Loader91360, EraseOptionsSendTheirCommands) {
    const struct {
        std::string line;
        Bytes command;
    } cases[] = {{"/ERASEFLASH", {'E'}},
                 {"/ERASESECTORS=3", {'e', 0x00, 0x03}},
                 {"/ERASESECTORS=$1234", {'e', 0x12, 0x34}},
                 {"/ERASESECTORS=0", {'e', 0x00, 0x00}},  // a zero mask is sent
                 {"/ERASESECTORS=$FFFF", {'e', 0xFF, 0xFF}},
                 {"/AUTOCONTINUE", {'S'}}};  // none: the first run comes at once
    for (const auto& c : cases) {
        SCOPED_TRACE(c.line);
        LoaderRig rig;
        EXPECT_EQ(ps::ExitSuccess, rig.Run(SampleImage(), With({c.line})));
        const Bytes sent = rig.h.Wire().SentBytes();
        // After the connection ('s'), the erase command comes first, byte by byte.
        const auto s = std::find(sent.begin(), sent.end(), 's');
        ASSERT_LE(c.command.size() + 1, static_cast<size_t>(sent.end() - s));
        EXPECT_EQ(c.command, Bytes(s + 1, s + 1 + static_cast<long>(c.command.size())));
        EXPECT_EQ(ps::Msg91360ProgramedOk, rig.h.view.LastStatus());
    }
}

// A refused command ends the run with "BREAK" and status 1, without a message box, and
// "programed ok!" never appears.
TEST(Loader91360, EachRefusalBreaks) {
    const struct {
        Board::Options options;
        std::string line;
        int runs;
    } cases[] = {{{false, true}, "/ERASEFLASH", 0},
                 {{false, false, true}, "/ERASESECTORS=1", 0},
                 {{false, false, true}, "/AUTOERASE", 0},
                 {{false, false, false, true}, "/ERASEFLASH", 0}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.line);
        LoaderRig rig(c.options);
        EXPECT_EQ(ps::ExitBreak, rig.Run(SampleImage(), With({c.line})));
        EXPECT_EQ(ps::TextBreak, rig.h.view.LastStatus());
        EXPECT_TRUE(rig.h.view.Messages().empty());
        EXPECT_EQ(c.runs, static_cast<int>(rig.flash.Runs().size()));
        EXPECT_FALSE(rig.h.view.SawStatusContaining(ps::Msg91360ProgramedOk));
    }
}

// "/AUTOERASE" works on whole sectors: a window that is not made of them is refused before
// anything is sent.
TEST(Loader91360, AutoEraseRefusesAWindowOutsideTheSectorTable) {
    const std::vector<std::string> windows[] = {
        {"/ADDRSTART=0", "/ADDRLEN=$80000"},
        {"/ADDRSTART=$180000", "/ADDRLEN=$80001"},
        {"/ADDRSTART=$180000", "/ADDRLEN=$18000"},  // ends inside sector 1
        {"/ADDRSTART=$180000", "/ADDRLEN=0"}};
    for (const auto& window : windows) {
        SCOPED_TRACE(window[1]);
        LoaderRig rig;
        std::vector<std::string> lines = window;
        lines.insert(lines.end(), {"/AUTOERASE", "/ERASEFLASH", "/AUTOCONTINUE"});
        EXPECT_EQ(ps::ExitStepFile, rig.Run(SampleImage(), lines));
        EXPECT_EQ(ps::Msg91360AutoEraseWindow, rig.h.view.LastStatus());
        EXPECT_EQ(ps::StatusColorError, rig.h.view.LastStatusColour());
        EXPECT_TRUE(rig.h.Wire().SentBytes().empty());
    }
}

TEST(Loader91360, ABadImageIsFoundBeforeTheFlashIsErased) {
    LoaderRig rig;
    const Bytes before = rig.flash.Flash();
    rig.h.dir.Write("bad.mhx", SRecords(SampleImage()) + "garbage\r\n");
    rig.h.StepFile(With({"/PFL=" + rig.h.dir.File("bad.mhx"), "/ERASEFLASH"}));
    EXPECT_EQ(ps::ExitImageFile, rig.h.Run());
    ASSERT_EQ(1u, rig.h.view.Messages().size());
    EXPECT_EQ(0u, rig.h.view.Messages()[0].Text.find(ps::MsgNotHexFile));
    EXPECT_TRUE(rig.h.Wire().SentBytes().empty());
    EXPECT_EQ(before, rig.flash.Flash());
    EXPECT_FALSE(rig.h.view.SawStatusContaining(ps::Msg91360ProgramedOk));
}

// A byte that does not program: the CRCs differ, a message box and the failure text alone
// in red; the step fails (status 3) though the run is not broken.
TEST(Loader91360, AChecksumFailureIsNeverShownAsSuccess) {
    Board::Options options;
    options.WeakCell = 0x180010;
    LoaderRig rig(options);
    EXPECT_EQ(ps::ExitStepErrors, rig.Run(SampleImage(), With({"/ERASEFLASH", "/CHECKSUM"})));
    ASSERT_EQ(1u, rig.h.view.Messages().size());
    const std::string text = rig.h.view.Messages()[0].Text;
    EXPECT_EQ(0u, text.find(ps::Msg91360CheckSumFail));
    EXPECT_EQ(text, rig.h.view.LastStatus());
    EXPECT_EQ(ps::StatusColorError, rig.h.view.LastStatusColour());
    EXPECT_FALSE(rig.h.view.SawStatusContaining(ps::Msg91360ProgramedOk));
}

TEST(Loader91360, StopWhileConnectingBreaks) {
    LoaderRig rig;
    rig.board.faults.Silent = true;
    rig.h.view.AtTime(5000, [&] { ps::StopBtnClick(rig.h.st); });
    EXPECT_EQ(ps::ExitBreak, rig.Run(SampleImage(), With({"/ERASEFLASH"})));
    for (uint8_t b : rig.h.Wire().SentBytes()) ASSERT_EQ('s', b);
    EXPECT_EQ(ps::TextBreak, rig.h.view.LastStatus());
}

}  // namespace

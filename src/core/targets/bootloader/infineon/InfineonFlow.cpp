// SPDX-License-Identifier: MIT
#include "targets/bootloader/infineon/InfineonFlow.h"

#include <algorithm>
#include <array>
#include <cmath>

#include "run/Station.h"
#include "run/Texts.h"
#include "images/DataFolder.h"
#include "images/ImageAccount.h"
#include "images/ImageFile.h"
#include "link/Crc32.h"
#include "link/Link.h"
#include "targets/bootloader/infineon/InfineonImage.h"
#include "targets/bootloader/infineon/InfineonTexts.h"

namespace ps {

namespace {

// The chip's bootstrap loader, the boot program and loader1.
constexpr uint8_t BootstrapStart = 0x00;  // the zero byte the bootstrap loader waits for
constexpr uint8_t BootstrapId = 0xD5;     // its answer
constexpr uint8_t BootReady = 0x11;       // the boot program runs
constexpr uint8_t Loader1Ready = 0x22;    // loader1 runs, at 115200 baud from now on
// Loader1 and loader2 commands.
constexpr uint8_t CmdSync = 0x53;             // 'S'
constexpr uint8_t SyncAnswer = 0x73;          // 's'
constexpr uint8_t CmdFill = 0x46;             // 'F', address, word count, the bytes
constexpr uint8_t FillDone = 0x6B;            // 'k'
constexpr uint8_t CmdCheck = 0x43;            // 'C', address, word count -> sum high, low
constexpr uint8_t CmdVersion = 0x56;          // 'V'
constexpr uint8_t CmdRun = 0x72;              // 'r': loader1 starts loader2
constexpr uint8_t CmdSectorCrc = 0x63;        // 'c', first, last -> CRC-32 high first
constexpr uint8_t CmdEraseInternal = 0x58;    // 'X', sector 1..6
constexpr uint8_t CmdEraseExternal = 0x78;    // 'x', sector mask high, low
constexpr uint8_t CmdProgramInternal = 0x50;  // 'P', page high, low, the bytes
constexpr uint8_t CmdProgramExternal = 0x70;  // 'p', page high, low, the bytes
constexpr uint8_t CmdGo = 0x67;               // 'g': run the programmed firmware
// A page is 128 words; Fill and Check carry the count high byte first.
constexpr uint8_t PageWordsHigh = 0x00;
constexpr uint8_t PageWordsLow = 0x80;

// How long each answer may take, counted from the moment the command's last byte has left
// the station (see Exchange::Reply).
constexpr int StageReplyMs = 500;
constexpr int SyncReplyMs = 100;
constexpr int FillReplyMs = 2000;
constexpr int CheckFirstMs = 100;
constexpr int CheckSecondMs = 100;
constexpr int CheckPauseMs = 50;  // after every Check, whatever its answer
constexpr int Loader2SettleMs = 300;
constexpr int Loader2ReplyMs = 1000;
constexpr int DrainByteMs = 100;
constexpr int SectorCrcByteMs = 3000;
constexpr int EraseInternalMs = 5000;
constexpr int EraseExternalMs = 10000;
constexpr int ProgramReplyMs = 2000;
constexpr int ProgramCheckFirstMs = 1000;

// Where each stage lies and how the map shows it.
constexpr uint32_t BootBase = 0xFA40;  // the bootstrap loader's 32 bytes of RAM
constexpr int32_t BootLength = 32;
constexpr int BootCols = 8;
constexpr uint32_t Loader1Base = 0xE00000;
constexpr int32_t Loader1Length = 2048;
constexpr int Loader1Cols = 32;
constexpr uint32_t Loader2Base = 0x100000;
constexpr int32_t Loader2Length = 0x80000;
constexpr int Loader2Rows = 16;
constexpr int Loader2Cols = 32;
constexpr const char* LoaderBaud = "115200";
constexpr int32_t ImageBlockLen = 1024;
constexpr int ImageCols = 32;
constexpr int InternalSectorNumbers = 99;  // SectorTest numbers internal sector s as s + 99

constexpr int BitsPerByte = 10;  // start, eight data bits, stop

// The commands of this flow and their answers. Every answer is awaited with a time limit;
// the limit starts once the command has crossed the line, which at the stages' baud rate
// can take longer than the limit itself (loader1's 2016 bytes take 2.1 s at 9600 baud).
class Exchange {
public:
    explicit Exchange(Station& st) : st_(st) {}

    void Send(uint8_t b) {
        SendByte(st_, b);
        ++pending_;
    }
    void Send32(uint32_t v) {
        for (int shift = 24; shift >= 0; shift -= 8) Send(static_cast<uint8_t>(v >> shift));
    }
    // The next byte, if one comes within ms; false on time-out or STOP. No answer can come
    // before the command has crossed the line, so that time passes first, in one wait.
    bool Reply(int ms, uint8_t& b) {
        PauseUsUnlessStopped(st_, LineUs(pending_));
        pending_ = 0;
        if (!WaitForByte(st_, ms)) return false;
        b = ReadByte(st_);
        return st_.RunError != RunStopped;
    }
    bool Expect(int ms, uint8_t wanted) {
        uint8_t b = 0;
        return Reply(ms, b) && b == wanted;
    }

private:
    // To the microsecond: rounded up to whole milliseconds, every exchange would wait up
    // to a millisecond longer than the line needs.
    int64_t LineUs(int bytes) const {
        const int64_t baud = st_.Comm.EffectiveBaud();
        if (baud <= 0) return 0;
        return (int64_t{bytes} * BitsPerByte * 1000000 + baud - 1) / baud;
    }

    Station& st_;
    int pending_ = 0;  // bytes sent since the last answer was awaited
};

// A stage or command failed: its text in red and RunError 2. After STOP the run ends with
// "BREAK" instead, in one status change.
void Fail(Station& st, const char* text) {
    if (st.RunError != RunOk) return;
    st.Status(text, StatusColorError);
    st.RunError = RunFlashOrFlow;
}

bool Failed(const Station& st) {
    return st.RunError != RunOk;
}

int Percent(double part, double whole) {
    if (whole <= 0) return 100;
    return static_cast<int>(std::nearbyint(part * 100.0 / whole));  // halves to even
}

void SetMap(Station& st, int32_t addrLen, int rows, int cols) {
    st.Step.AddrLen = addrLen;
    st.Map.Rows = rows;
    st.Map.Cols = cols;
    st.ShowMapGeometry();
}

// A missing stage program ends the step before anything is sent: a stage must never go
// out from an empty image. The message names every place that was searched.
bool StagesFound(Station& st, const InfineonStages& stages) {
    const std::pair<const char*, const std::string*> files[] = {
        {InfineonBootFile, &stages.Boot},
        {InfineonLoader1File, &stages.Loader1},
        {InfineonLoader2File, &stages.Loader2}};
    for (const auto& [name, path] : files) {
        if (!path->empty()) continue;
        const auto folders = DataSearchFolders(st.ProgramFolder, {}, st.Project.StepFile);
        std::string message = CannotOpenMessage(folders.front() + name);
        for (size_t i = 1; i < folders.size(); ++i) message += "\r" + folders[i] + name;
        st.ImageFileError(message);
        return false;
    }
    return true;
}

// Sends image bytes [from, to) of a boot stage, one write each, the map and the gauge
// following every byte.
void SendStage(Station& st, Exchange& x, const InfineonMapScale& scale, int from, int to) {
    for (int i = from; i < to; ++i) {
        x.Send(st.InfineonImage[static_cast<size_t>(i)]);
        PaintInfineonCells(st, scale, false, i, i, ProgrammedColour);
        st.Progress(Percent(i + 1, to));
    }
}

bool Synchronise(Station& st, Exchange& x) {
    x.Send(CmdSync);
    if (x.Expect(SyncReplyMs, SyncAnswer)) return true;
    Fail(st, TextInfLoaderError);
    return false;
}

// The 256 bytes of the page at image offset `offset`, keeping the view alive after each.
uint16_t SendPage(Station& st, Exchange& x, int64_t offset) {
    const uint8_t* page = st.InfineonImage.data() + offset;
    for (int i = 0; i < InfineonPageSize; ++i) {
        x.Send(page[i]);
        PumpMessages(st);
    }
    return InfineonPageSum(page, InfineonPageSize);
}

// 'C' for the page at `address`: true when the board's sum equals `sum`. The pause after it
// is the loaders' own pace.
bool CheckPage(Station& st, Exchange& x, uint32_t address, uint16_t sum, int firstMs) {
    x.Send(CmdCheck);
    x.Send32(address);
    x.Send(PageWordsHigh);
    x.Send(PageWordsLow);
    uint8_t high = 0, low = 0;
    const bool answered = x.Reply(firstMs, high) && x.Reply(CheckSecondMs, low);
    WaitMs(st, CheckPauseMs);
    return answered && (high << 8 | low) == sum;
}

// Loader2 into the chip's RAM, page by page through loader1. A page whose check does not
// match goes again until it does; STOP ends the transfer between pages and between the
// repetitions of a page. A page loader1 does not take ends the step with "Fill error!"
// once the remaining pages have been offered.
void SendLoader2(Station& st, Exchange& x, const InfineonMapScale& scale) {
    for (int e = 0; e < InfineonInternalPages; ++e) {
        if (!st.InfineonPageUsed[static_cast<size_t>(e)]) continue;
        const uint32_t address = Loader2Base + static_cast<uint32_t>(e) * InfineonPageSize;
        const int64_t first = int64_t{e} * InfineonPageSize;
        for (;;) {
            if (st.RunError == RunStopped) return;
            x.Send(CmdFill);
            x.Send32(address);
            x.Send(PageWordsHigh);
            x.Send(PageWordsLow);
            const uint16_t sum = SendPage(st, x, first);
            if (!x.Expect(FillReplyMs, FillDone)) {
                Fail(st, TextInfFillError);
                break;
            }
            const bool matched = CheckPage(st, x, address, sum, CheckFirstMs);
            PaintInfineonCells(st, scale, false, first, first + InfineonPageSize - 1,
                               matched ? ProgrammedColour : InfineonFailedColour);
            if (matched) break;
        }
        PumpMessages(st);
    }
}

// Loader1 starts loader2. What the loaders answer here is theirs to choose: the station
// only gives each command its time.
void StartLoader2(Station& st, Exchange& x) {
    WaitMsUnlessStopped(st, Loader2SettleMs);
    for (uint8_t command : {CmdSync, CmdVersion, CmdRun, CmdSync, CmdVersion}) {
        uint8_t ignored = 0;
        x.Send(command);
        x.Reply(Loader2ReplyMs, ignored);
    }
}

// Programs one page (internal 'P' or external 'p') until it passes: accepted with 'O' and
// its check matching. False when STOP ended the repetition first.
bool ProgramPage(Station& st, Exchange& x, const InfineonMapScale& scale, bool external, int page,
                 uint32_t checkAddress) {
    const int64_t partOffset = int64_t{page} * InfineonPageSize;
    const int64_t imageOffset = (external ? InfineonInternalSize : 0) + partOffset;
    for (;;) {
        x.Send(external ? CmdProgramExternal : CmdProgramInternal);
        x.Send(static_cast<uint8_t>(page >> 8));
        x.Send(static_cast<uint8_t>(page & 0xFF));
        const uint16_t sum = SendPage(st, x, imageOffset);
        const bool accepted = x.Expect(ProgramReplyMs, AckO);
        const bool matched = CheckPage(st, x, checkAddress, sum, ProgramCheckFirstMs);
        const bool passed = accepted && matched;
        PaintInfineonCells(st, scale, external, partOffset, partOffset + InfineonPageSize - 1,
                           passed ? ProgrammedColour : InfineonFailedColour);
        if (passed) return true;
        if (Failed(st)) return false;
    }
}

// A page interrupted by STOP is reported as a failed page: the flash holds part of it.
void ProgramError(Station& st) {
    st.Status(TextInfProgramError, StatusColorError);
    st.RunError = RunFlashOrFlow;
}

using InternalNeeds = std::array<bool, InternalSectorCount + 1>;  // [1..6]
using ExternalNeeds = std::array<bool, ExternalSectorCount + 1>;  // [1..11]

void TestSectors(Station& st, const InfineonMapScale& scale, InternalNeeds& internal,
                 ExternalNeeds& external) {
    internal.fill(true);
    external.fill(true);
    if (st.Step.TestInt) {
        st.Status(TextInfTestingInternal);
        PumpMessages(st);
        for (int s = 1; s <= InternalSectorCount && !Failed(st); ++s)
            internal[static_cast<size_t>(s)] = !SectorTest(st, s + InternalSectorNumbers);
    }
    for (int e = 0; e < InfineonInternalPages; ++e) {
        if (st.InfineonPageUsed[static_cast<size_t>(e)] &&
            !internal[static_cast<size_t>(InternalSectorOfPage(e))]) {
            PaintInfineonCells(st, scale, false, int64_t{e} * InfineonPageSize,
                               int64_t{e} * InfineonPageSize + InfineonPageSize - 1,
                               InfineonIdenticalColour);
        }
    }
    if (Failed(st)) return;
    if (st.Step.TestExt) {
        st.Status(TextInfTestingExternal);
        PumpMessages(st);
        for (int s = 1; s <= ExternalSectorCount && !Failed(st); ++s)
            external[static_cast<size_t>(s)] = !SectorTest(st, s);
    }
    for (int e = 0; e < InfineonExternalPages && !Failed(st); ++e) {
        if (st.InfineonPageUsed[static_cast<size_t>(InfineonInternalPages + e)] &&
            !external[static_cast<size_t>(ExternalSectorOfPage(e))]) {
            PaintInfineonCells(st, scale, true, int64_t{e} * InfineonPageSize,
                               int64_t{e} * InfineonPageSize + InfineonPageSize - 1,
                               InfineonIdenticalColour);
        }
    }
}

void EraseSectors(Station& st, Exchange& x, const InternalNeeds& internal,
                  const ExternalNeeds& external) {
    st.Status(TextInfErasingInternal);
    PumpMessages(st);
    for (int s = 1; s <= InternalSectorCount; ++s) {
        if (!internal[static_cast<size_t>(s)]) continue;
        x.Send(CmdEraseInternal);
        x.Send(static_cast<uint8_t>(s));
        if (!x.Expect(EraseInternalMs, AckO)) return Fail(st, TextInfEraseError);
    }
    uint16_t mask = 0;
    int count = 0;
    for (int s = 1; s <= ExternalSectorCount; ++s) {
        if (!external[static_cast<size_t>(s)]) continue;
        mask = static_cast<uint16_t>(mask | (1u << (s - 1)));
        ++count;
    }
    if (mask == 0) return;
    st.Status(TextInfErasingExternal + std::to_string(count) + TextInfErasingExternalEnd);
    PumpMessages(st);
    x.Send(CmdEraseExternal);
    x.Send(static_cast<uint8_t>(mask >> 8));
    x.Send(static_cast<uint8_t>(mask & 0xFF));
    if (!x.Expect(EraseExternalMs, AckO)) Fail(st, TextInfEraseError);
}

// Pages of needed sectors that the image uses; the gauge counts every used page, those of
// sectors left alone too.
void ProgramFlash(Station& st, Exchange& x, const InfineonMapScale& scale,
                  const InternalNeeds& internal, const ExternalNeeds& external) {
    int usedPages = 0;
    for (uint8_t used : st.InfineonPageUsed) usedPages += used ? 1 : 0;
    int done = 0;

    st.Status(TextInfProgramingInternal);
    for (int e = 0; e < InfineonInternalPages; ++e) {
        const bool used = st.InfineonPageUsed[static_cast<size_t>(e)] != 0;
        const bool needed = internal[static_cast<size_t>(InternalSectorOfPage(e))];
        if (needed && used &&
            !ProgramPage(st, x, scale, false, e,
                         InfineonInternalFlash + static_cast<uint32_t>(e) * InfineonPageSize)) {
            return ProgramError(st);
        }
        if (used) ++done;
        if (!needed) continue;
        if (Failed(st)) return;
        st.Progress(Percent(done, usedPages));
        PumpMessages(st);
        if (Failed(st)) return;
    }

    st.Status(TextInfProgramingExternal);
    const uint32_t externalBase = static_cast<uint32_t>(st.Step.AddrExtFlash);
    for (int e = 0; e < InfineonExternalPages; ++e) {
        const bool used = st.InfineonPageUsed[static_cast<size_t>(InfineonInternalPages + e)] != 0;
        const bool needed = external[static_cast<size_t>(ExternalSectorOfPage(e))];
        if (needed && used) {
            if (!ProgramPage(st, x, scale, true, e,
                             externalBase + static_cast<uint32_t>(e) * InfineonPageSize)) {
                return ProgramError(st);
            }
        } else if (used) {
            PaintInfineonCells(st, scale, true, int64_t{e} * InfineonPageSize,
                               int64_t{e} * InfineonPageSize + InfineonPageSize - 1,
                               InfineonIdenticalColour);
        }
        if (used) ++done;
        if (Failed(st)) return;
        st.Progress(Percent(done, usedPages));
        PumpMessages(st);
        if (Failed(st)) return;
    }
}

}  // namespace

uint32_t InfineonSectorCrc(const std::vector<uint8_t>& image, uint32_t offset, uint32_t length) {
    uint32_t crc = 0xFFFFFFFFu;
    const size_t end = std::min<size_t>(image.size(), size_t{offset} + length);
    for (size_t i = offset; i < end; ++i) {
        const uint8_t b = image[i];
        if (b != 0x00 && b != 0xFF) crc = Crc32Update(crc, b);
    }
    return ~crc;
}

uint16_t InfineonPageSum(const uint8_t* page, int length) {
    uint16_t sum = 0;
    for (int i = 0; i < length; ++i) sum = static_cast<uint16_t>(sum + (page[i] << (i % 2 * 8)));
    return sum;
}

bool WaitForByte(Station& st, int ms) {
    return AwaitInput(st, int64_t{ms} * 1000);
}

bool SectorTest(Station& st, int sector) {
    const bool internal = sector > InternalSectorNumbers;
    const int index = internal ? sector - InternalSectorNumbers - 1 : sector - 1;
    const int count = internal ? InternalSectorCount : ExternalSectorCount;
    if (index < 0 || index >= count) return false;
    const FlashSector& fs = internal ? InternalSectors[static_cast<size_t>(index)]
                                     : ExternalSectors[static_cast<size_t>(index)];
    const uint32_t base =
        internal ? InfineonInternalFlash : static_cast<uint32_t>(st.Step.AddrExtFlash);
    const uint32_t first = base + fs.Offset;

    Exchange x(st);
    x.Send(CmdSectorCrc);
    x.Send32(first);
    x.Send32(first + fs.Length - 1);
    EnsureInfineonImage(st);
    const uint32_t crc = InfineonSectorCrc(
        st.InfineonImage, (internal ? 0 : InfineonInternalSize) + fs.Offset, fs.Length);
    uint32_t value = 0;
    for (int i = 0; i < 4; ++i) {
        uint8_t b = 0;
        // A missing byte already decides: waiting for the others would only cost time.
        if (!x.Reply(SectorCrcByteMs, b)) return false;
        value = value << 8 | b;
    }
    return value == crc;
}

InfineonStages FindInfineonStages(const Station& st) {
    const auto folders = DataSearchFolders(st.ProgramFolder, {}, st.Project.StepFile);
    return {FindDataFile(folders, InfineonBootFile), FindDataFile(folders, InfineonLoader1File),
            FindDataFile(folders, InfineonLoader2File)};
}

std::string InfineonStageProblem(const Station& st, std::string& path) {
    const InfineonStages stages = FindInfineonStages(st);
    const struct {
        const std::string& file;
        uint32_t base;
        int32_t length;
    } ranges[] = {{stages.Boot, BootBase, BootLength},
                  {stages.Loader1, Loader1Base, Loader1Length},
                  {stages.Loader2, Loader2Base, Loader2Length}};
    for (const auto& r : ranges) {
        if (r.file.empty()) continue;
        // Read as the stage loader reads it: type 04 sets the upper address byte, which
        // starts as the stage's own.
        int64_t inRange = 0;
        const ImageAccount account = AccountImageFile(
            r.file, RecordFormat::IntelHex, [&](const ImageByte& b) -> const char* {
                const int64_t upper = b.BaseRecord == 0x04 ? b.BaseValue : r.base >> 16;
                const int64_t a = upper << 16 | b.Address;
                if (a >= r.base && a < int64_t{r.base} + r.length) ++inRange;
                return nullptr;
            });
        path = r.file;
        if (!account.Opened) continue;  // the flow reports it
        if (!account.Malformed.empty()) return account.Problem();
        if (inRange == 0) return TextInfStageWithoutData;
    }
    path.clear();
    return {};
}

std::vector<std::string> MissingInfineonStages(const Station& st) {
    if (st.Step.ModelIndex != InfineonModelIndex) return {};
    const InfineonStages stages = FindInfineonStages(st);
    std::vector<std::string> missing;
    if (stages.Boot.empty()) missing.push_back(InfineonBootFile);
    if (stages.Loader1.empty()) missing.push_back(InfineonLoader1File);
    if (stages.Loader2.empty()) missing.push_back(InfineonLoader2File);
    return missing;
}

void InfineonFlow(Station& st) {
    Exchange x(st);
    st.Status(TextInfConnecting, StatusColorNormal);
    PumpMessages(st);
    const InfineonStages stages = FindInfineonStages(st);
    if (!StagesFound(st, stages)) return;

    // The bootstrap loader answers a zero byte and takes the 32-byte boot program.
    SetMap(st, BootLength, 1, BootCols);
    if (!LoadInfineonHex(st, stages.Boot, BootBase, false, 0, 0, true, BootLength)) return;
    x.Send(BootstrapStart);
    if (!x.Expect(StageReplyMs, BootstrapId)) return Fail(st, TextInfConnectingError);

    st.Status(TextInfBootLoading);
    SendStage(st, x, InfineonScale(st, BootLength, 0), 0, BootLength);
    if (!x.Expect(StageReplyMs, BootReady)) return Fail(st, TextInfBootLoaderError);

    // The boot program takes loader1 but for the 32 bytes it occupies itself.
    st.Status(TextInfLoaderLoading);
    SetMap(st, Loader1Length, 1, Loader1Cols);
    if (!LoadInfineonHex(st, stages.Loader1, Loader1Base, false, 0, 0, false, Loader1Length))
        return;
    SendStage(st, x, InfineonScale(st, Loader1Length, 0), BootLength, Loader1Length);
    if (!x.Expect(StageReplyMs, Loader1Ready)) return Fail(st, TextInfLoaderError);

    // Loader1 talks at 115200 baud. The map takes loader2's scale before the file is read,
    // so that its cells are marked where they lie.
    st.Status(TextInfConnectingLoader2);
    SetMap(st, Loader2Length, Loader2Rows, Loader2Cols);
    if (!LoadInfineonHex(st, stages.Loader2, Loader2Base, false, 0, 0, true, Loader2Length)) return;
    OpenPort(st, st.Step.ComPortNo, LoaderBaud);
    if (!st.Comm.Active()) {
        st.Comm.Close();
        st.view.ShowPanels(true, false, false);
        return Fail(st, TextErrorOpeningComPort);
    }
    if (!Synchronise(st, x)) return;
    SendLoader2(st, x, InfineonScale(st, Loader2Length, 0));
    if (Failed(st)) return;
    StartLoader2(st, x);

    // The step's image, over the internal flash and the external one.
    st.Status(TextInfConnectingLoader);
    st.Step.AddrLen = InfineonImageSize;
    st.Step.BlockLen = ImageBlockLen;
    const int blocksOnRow = st.Step.BlocksOnRow > 0 ? st.Step.BlocksOnRow : 1;
    SetMap(
        st, InfineonImageSize,
        static_cast<int>(std::nearbyint(double{InfineonImageSize} / ImageBlockLen / blocksOnRow)),
        ImageCols);
    if (!LoadInfineonHex(st, st.Step.ProgramFile, InfineonInternalFlash, true, InfineonExternalSize,
                         static_cast<uint32_t>(st.Step.AddrExtFlash), true, InfineonInternalSize))
        return;
    while (!Failed(st) && WaitForByte(st, DrainByteMs)) ReadByte(st);
    if (Failed(st) || !Synchronise(st, x)) return;

    const InfineonMapScale scale = InfineonScale(st, InfineonInternalSize, InfineonExternalSize);
    InternalNeeds internal{};
    ExternalNeeds external{};
    TestSectors(st, scale, internal, external);
    if (Failed(st)) return;
    EraseSectors(st, x, internal, external);
    if (Failed(st)) return;
    ProgramFlash(st, x, scale, internal, external);
    if (Failed(st)) return;

    st.Status(TextProgramedOkLower, StatusColorNormal);
    x.Send(CmdGo);
}

}  // namespace ps

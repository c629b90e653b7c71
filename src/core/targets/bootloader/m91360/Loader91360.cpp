// SPDX-License-Identifier: MIT
#include "targets/bootloader/m91360/Loader91360.h"

#include <algorithm>
#include <limits>
#include <vector>

#include "run/StepEnding.h"
#include "run/Station.h"
#include "link/Link.h"
#include "targets/bootloader/m91360/Image91360.h"
#include "targets/bootloader/m91360/Texts91360.h"

namespace ps {

namespace {

// The loader's commands; every one but the CRC is answered 'i' when done.
constexpr uint8_t Connect = 0x73;       // 's'
constexpr uint8_t Done = 0x69;          // 'i'
constexpr uint8_t EraseFlash = 0x45;    // 'E'
constexpr uint8_t EraseSectors = 0x65;  // 'e', mask high byte, low byte
constexpr uint8_t RangeCrc = 0x43;      // 'C', first, last (low byte first) -> CRC high first
constexpr uint8_t WriteRun = 0x53;      // 'S', address, length (low byte first), the bytes
constexpr int MaxRunBytes = 200;

constexpr int64_t FlashFirst = Flash91360Sectors[0];
constexpr int64_t FlashEnd = Flash91360Sectors[Flash91360SectorCount];

// The first sector boundary after a: a run that starts at a ends before it.
int64_t NextBoundary(int64_t a) {
    for (int32_t boundary : Flash91360Sectors)
        if (boundary > a) return boundary;
    return std::numeric_limits<int64_t>::max();
}

// Reads the answer to a command; anything but 'i' ends the run ("BREAK").
void ExpectDone(Station& st) {
    const uint8_t reply = ReadByte(st);
    if (st.RunError == RunOk && reply != Done) st.RunError = RunStopped;
}

void SendEraseMask(Station& st, uint16_t mask) {
    SendByte(st, EraseSectors);
    SendByte(st, static_cast<uint8_t>(mask >> 8));
    SendByte(st, static_cast<uint8_t>(mask & 0xFF));
    ExpectDone(st);
}

std::string CrcFailText(uint32_t image, uint32_t board) {
    return Msg91360CheckSumFail + std::to_string(image) + "," + std::to_string(board) + ")";
}

}  // namespace

int Sectors91360OfWindow(const StepSettings& step) {
    const int64_t end = static_cast<int64_t>(step.AddrStart) + step.AddrLen;
    if (step.AddrStart != FlashFirst) return 0;
    for (int i = 1; i <= Flash91360SectorCount; ++i)
        if (Flash91360Sectors[i] == end) return i;
    return 0;
}

int Flash91360Sector(int64_t address) {
    for (int i = 0; i < Flash91360SectorCount; ++i)
        if (address >= Flash91360Sectors[i] && address < Flash91360Sectors[i + 1]) return i;
    return Flash91360NoSector;
}

uint32_t TargetCrc(Station& st, uint32_t first, uint32_t last) {
    SendByte(st, RangeCrc);
    for (uint32_t v : {first, last})
        for (int shift = 0; shift < 32; shift += 8) SendByte(st, static_cast<uint8_t>(v >> shift));
    uint32_t crc = 0;
    for (int i = 0; i < 4 && st.RunError == RunOk; ++i) crc = (crc << 8) | ReadByte(st);
    return crc;
}

void LoadAndSend91360Loader(Station& st, const std::string& fileName, uint16_t eraseMask) {
    Image91360 image(st);
    if (!image.Load(fileName)) return;
    const bool autoErase = st.Step.AutoErase;
    // With "/AUTOERASE" a sector whose CRC matched is neither erased nor written.
    auto written = [&](int64_t a) {
        const int sector = Flash91360Sector(a);
        return !autoErase || (sector < Flash91360SectorCount && (eraseMask >> sector & 1u));
    };
    for (int64_t a = image.First();;) {
        for (;;) {
            while (a < image.End() && !written(a))
                a = Flash91360Sector(a) < Flash91360SectorCount ? NextBoundary(a) : image.End();
            a = image.NextPresent(a);
            if (a >= image.End() || written(a)) break;
        }
        if (a >= image.End() || (autoErase && a >= FlashEnd)) break;
        const int64_t b = image.RunEnd(a, MaxRunBytes, std::min(image.End(), NextBoundary(a)));
        std::vector<uint8_t> frame{WriteRun};
        image.AppendRunFrame(frame, a, b);
        SendBlock(st, frame.data(), static_cast<int>(frame.size()));
        ExpectDone(st);
        image.CountRun(a, b);
        if (st.RunError != RunOk) break;
        image.ShowRun(a, b);
        PumpMessages(st);
        a = b + 1;
    }
    image.ShowRowCounts();
}

void Loader91360Flow(Station& st) {
    const StepSettings& step = st.Step;
    uint16_t eraseMask = 0;
    ClearRunMap(st);
    const int autoSectors = step.AutoErase ? Sectors91360OfWindow(step) : 0;
    if (step.AutoErase && autoSectors == 0) {
        st.Status(Msg91360AutoEraseWindow, StatusColorError);
        st.RunError = RunBadStepValue;
        return;
    }
    // The image is read before anything is erased: a missing or malformed file must not
    // leave the board with an erased flash.
    Image91360 image(st);
    if (!image.Load(step.ProgramFile)) return;

    st.Status(Msg91360LoaderConnecting, StatusColorNormal);
    Handshake(st, Connect, Done);
    if (st.RunError != RunOk) return;
    st.AppendStatus(Msg91360Ok);

    if (step.EraseFlash) {
        st.Status(Msg91360ErasingFlash);
        SendByte(st, EraseFlash);
        ExpectDone(st);
        if (st.RunError != RunOk) return;
    }
    if (step.EraseSectors >= 0) {
        st.Status(Msg91360ErasingSectors);
        SendEraseMask(st, static_cast<uint16_t>(step.EraseSectors));
        if (st.RunError != RunOk) return;
    }
    if (step.AutoErase) {
        st.Status(Msg91360ErasingSectorsAuto);
        for (int i = 0; i < autoSectors; ++i) {
            const int64_t first = Flash91360Sectors[i], last = Flash91360Sectors[i + 1] - 1;
            const uint32_t board =
                TargetCrc(st, static_cast<uint32_t>(first), static_cast<uint32_t>(last));
            if (st.RunError != RunOk) return;
            if (image.Crc(first, last) != board)
                eraseMask = static_cast<uint16_t>(eraseMask | 1u << i);
        }
        if (eraseMask != 0) SendEraseMask(st, eraseMask);
        if (st.RunError != RunOk) return;
    }

    st.Status(Msg91360Programming);
    LoadAndSend91360Loader(st, step.ProgramFile, eraseMask);
    // After a refusal, STOP or a bad file the run ends with its own text: never
    // "programed ok!" first.
    if (st.RunError != RunOk) return;

    bool matched = true;
    uint32_t imageCrc = 0, boardCrc = 0;
    if (step.CheckSum) {
        st.Status(st.DeviceName + Msg91360Verifying);
        const int64_t first = step.AddrStart, last = first + step.AddrLen - 1;
        imageCrc = image.Crc(first, last);
        boardCrc = TargetCrc(st, static_cast<uint32_t>(first), static_cast<uint32_t>(last));
        if (st.RunError != RunOk) return;
        matched = imageCrc == boardCrc;
        if (matched)
            st.AppendStatus(Msg91360CheckSumOk);
        else
            st.view.ShowMessage(MessageKind::Error, CrcFailText(imageCrc, boardCrc));
    }
    // One status change for the verdict: a failed comparison is never shown after
    // "programed ok!".
    if (!matched)
        st.Status(CrcFailText(imageCrc, boardCrc), StatusColorError);
    else
        st.Status(step.CheckSum ? std::string(Msg91360ProgramedOk) + Msg91360CheckSumOk
                                : std::string(Msg91360ProgramedOk),
                  StatusColorNormal);
    if (!step.AutoContinue) WaitForContinue(st);
}

}  // namespace ps

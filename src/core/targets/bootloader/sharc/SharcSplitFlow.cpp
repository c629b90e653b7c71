// SPDX-License-Identifier: MIT
#include "targets/bootloader/sharc/SharcSplitFlow.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

#include "run/StepEnding.h"
#include "run/Station.h"
#include "run/StepResult.h"
#include "images/HexConvert.h"
#include "images/ImageFile.h"
#include "link/Crc32.h"
#include "link/Link.h"
#include "targets/bootloader/sharc/Bridge.h"
#include "targets/bootloader/sharc/RangeCrc.h"
#include "targets/bootloader/sharc/SharcTexts.h"

namespace ps {

namespace {

constexpr const char* RecordExtension = ".HEX";
constexpr int RecordHeaderBytes = 5;  // 'S', count, three address bytes
constexpr int WordBytes = 4;
constexpr int LinesPerPump = 64;  // keeps STOP alive while a long file is counted

int Percent(int64_t part, int64_t whole) {
    if (whole <= 0) return 100;
    // Default rounding mode: halves go to the even neighbour.
    return static_cast<int>(std::nearbyint(static_cast<double>(part) / whole * 100.0));
}

int PageOf(uint32_t word) {
    return static_cast<int>(word / SharcPageWords);
}

// The map cell of a word address, -1 outside the step's range.
int CellOf(const Station& st, uint32_t word) {
    const int64_t len = st.Step.AddrLen;
    const int64_t offset = static_cast<int64_t>(word) - st.Step.AddrStart;
    if (len <= 0 || offset < 0 || offset >= len) return -1;
    return static_cast<int>(offset * st.Map.ShownRows() * st.Map.ShownCols() / len);
}

std::string BeyondFlashMessage(uint32_t word, const std::string& name) {
    char hex[16];
    std::snprintf(hex, sizeof hex, "%05X", static_cast<unsigned>(word));
    return std::string(SharcMsgBeyondFlash) + hex + "\r" + name;
}

// The answer to the record sent last. A refusal ends the sending with "Error".
bool RecordAnswered(Station& st) {
    if (ExpectAck(st, SharcRecordTaken, SharcRecordRefused)) return true;
    if (st.RunError == RunStopped) return false;
    st.view.ShowMessage(MessageKind::Error, SharcMsgRecordRefused);
    st.RunError = RunRecordNak;
    return false;
}

void ShowRowCounts(Station& st) {
    const int rows = st.Map.ShownRows();
    int64_t total = 0;
    for (int r = 0; r < rows; ++r) total += st.RowByteCounts[static_cast<size_t>(r)];
    st.ByteLabel(0, std::to_string(total));
    for (int r = 1; r <= rows; ++r)
        st.ByteLabel(r, std::to_string(st.RowByteCounts[static_cast<size_t>(r - 1)]));
}

// One record into the counts, the map and the CRCs.
void TakeRecord(Station& st, const SharcRecord& rec, bool countOnly, int& lastCell,
                SharcSplitImage& image) {
    const int cols = st.Map.ShownCols();
    for (int i = 0; i < rec.Count; ++i) {
        const int cell = CellOf(st, rec.FirstWord + static_cast<uint32_t>(i));
        if (cell >= 0) ++st.RowByteCounts[static_cast<size_t>(cell / cols)];
    }
    const int cell = CellOf(st, rec.FirstWord);
    if (cell >= 0 && cell != lastCell) {
        st.SetBlock(cell / cols, cell % cols, countOnly ? LoadedColour : ProgrammedColour);
        lastCell = cell;
    }
    uint32_t word = rec.FirstWord;
    for (size_t k = RecordHeaderBytes; k < rec.Bytes.size(); ++k) {
        const uint8_t b = rec.Bytes[k];
        if (b != 0xFF) {
            image.WholeCrc = Crc32Update(image.WholeCrc, b);
            uint32_t& page = image.PageCrc[static_cast<size_t>(PageOf(word))];
            page = Crc32Update(page, b);
        }
        if ((k - RecordHeaderBytes) % WordBytes == WordBytes - 1) ++word;
    }
}

}  // namespace

bool DecodeSharcRecord(const std::string& line, SharcRecord& record) {
    record.Bytes.assign(1, SharcRecordMark);
    // Pairs from the second character (position 2) while the pair's first digit is not
    // the line's last character.
    for (size_t position = 2; position < line.size(); position += 2)
        record.Bytes.push_back(StrictHexByte(line, static_cast<int>(position)));
    const std::vector<uint8_t>& b = record.Bytes;
    if (b.size() < RecordHeaderBytes) return false;
    record.Count = b[1];
    record.FirstWord = (uint32_t{b[2]} << 16) | (uint32_t{b[3]} << 8) | b[4];
    // A record that is not whole would throw the DSP's loader out of step with the line.
    if (b.size() - RecordHeaderBytes != static_cast<size_t>(record.Count) * WordBytes) return false;
    record.LastWord = record.FirstWord + (record.Count > 0 ? record.Count - 1 : 0);
    return true;
}

void LoadSharcRecords(Station& st, const std::string& fileName, bool countOnly,
                      SharcSplitImage& image) {
    image.WholeCrc = SharcCrcStart;
    image.PageCrc.fill(SharcCrcStart);
    // The byte column counts this reading only, not what an earlier step left.
    st.RowByteCounts.fill(0);
    st.ErrorCount = 0;
    int lastCell = -1;

    const std::string name = ResolveImageName(fileName, RecordExtension);
    ImageText file;
    if (!OpenImageText(file, name, st)) return;

    const bool escape = !st.Step.Usb;
    bool pending = false;  // a record is out and its answer not yet read
    std::string line, wire;
    SharcRecord rec;
    int lines = 0;
    while (file.ReadLine(line)) {
        if (!CheckRecordMark(line, 'S', name, st)) return;
        if (!DecodeSharcRecord(line, rec)) {
            st.ImageFileError(NotHexMessage(name));
            return;
        }
        // The eight pages have no CRC for words beyond them: such a record would go out
        // unchecked, so the file is refused before anything is erased or written.
        if (rec.LastWord >= SharcFlashWords) {
            st.ImageFileError(BeyondFlashMessage(std::max(rec.FirstWord, SharcFlashWords), name));
            return;
        }
        if (st.RunError == RunStopped) return;

        TakeRecord(st, rec, countOnly, lastCell, image);

        const bool wanted = image.Needed[static_cast<size_t>(PageOf(rec.FirstWord))] ||
                            image.Needed[static_cast<size_t>(PageOf(rec.LastWord))];
        if (!countOnly && wanted) {
            wire.clear();
            for (uint8_t b : rec.Bytes) {
                if (escape)
                    AppendSharcEscaped(wire, b);
                else
                    wire += static_cast<char>(b);
            }
            if (pending && !RecordAnswered(st)) return;
            SendText(st, wire);
            pending = true;
        }
        if (st.RunError != RunOk) return;
        if (!countOnly) st.Progress(Percent(file.Position(), file.Size()));
        if (++lines % LinesPerPump == 0) PumpMessages(st);
    }
    // Reported by the reader: a read error, or a line longer than any record.
    if (file.Failed()) return;
    if (pending && !RecordAnswered(st)) return;
    file.Close();
    image.WholeCrc = ~image.WholeCrc;
    for (uint32_t& crc : image.PageCrc) crc = ~crc;
    ShowRowCounts(st);
}

namespace {

bool Failed(const Station& st) {
    return st.RunError != RunOk;
}

// The connection up to an unlocked DSP loader. False when refused or stopped.
bool Connect(Station& st) {
    if (st.Step.Usb) {
        st.Status(SharcTextConnectingUsb, StatusColorNormal);
        Handshake(st, SharcUsbFind, SharcUsbFound);
        if (Failed(st)) return false;
        PassThroughToDsp(st, false);
    } else {
        if (!UnlockSharcBridge(st)) return false;
        PassThroughToDsp(st, st.Step.Sinhro);
    }
    return UnlockSharcDsp(st);
}

// Compares the board's pages with the image from page 7 down and erases those that differ.
// Returns the number of pages to write.
int EraseChangedPages(Station& st, SharcSplitImage& image) {
    uint16_t mask = 0;
    int count = 0;
    for (int p = SharcPageCount - 1; p >= 0; --p) {
        const uint32_t first = static_cast<uint32_t>(p) * SharcPageWords;
        const uint32_t crc = RangeCrc(st, first, first + SharcPageWords - 1);
        // A CRC cut short by STOP is no answer: nothing may be erased on it.
        if (Failed(st)) return 0;
        const bool needed = crc != image.PageCrc[static_cast<size_t>(p)];
        image.Needed[static_cast<size_t>(p)] = needed;
        if (needed) {
            mask = static_cast<uint16_t>(mask | (1u << p));
            ++count;
        }
    }
    st.Status(SharcTextErasingSectors + std::to_string(count) + SharcTextPagesClose,
              StatusColorNormal);
    PumpMessages(st);
    const uint8_t command[3] = {SharcErasePages, static_cast<uint8_t>(mask >> 8),
                                static_cast<uint8_t>(mask & 0xFF)};
    SendChars(st, command, 3);
    ExpectByte(st, SharcErasePagesDone);
    if (!Failed(st)) st.AppendStatus(SharcTextOk);
    return count;
}

int EraseWholeFlash(Station& st, SharcSplitImage& image) {
    st.Status(SharcTextErasingMemory, StatusColorNormal);
    PumpMessages(st);
    SendByte(st, SharcEraseAll);
    ExpectByte(st, SharcEraseAllDone);
    if (!Failed(st)) st.AppendStatus(SharcTextOk);
    image.Needed.fill(true);
    return SharcPageCount;
}

// Rows of pages that already hold the image show it as programmed.
void MarkMatchingPages(Station& st, const SharcSplitImage& image) {
    const int cols = st.Map.ShownCols();
    for (int p = 0; p < SharcPageCount && p < st.Map.ShownRows(); ++p) {
        if (image.Needed[static_cast<size_t>(p)]) continue;
        for (int c = 0; c < cols; ++c)
            if (st.GetBlock(p, c) == LoadedColour) st.SetBlock(p, c, ProgrammedColour);
    }
}

}  // namespace

void SharcSplitFlow(Station& st) {
    const StepSettings& step = st.Step;
    for (int i = 0; i <= st.Map.ShownRows(); ++i) st.ByteLabel(i, "");

    if (!Connect(st)) return;
    if (step.SimulateFlash) {
        SendByte(st, SharcSimulateFlash);
        ExpectByte(st, SharcReady);
        if (Failed(st)) return;
    }
    const uint8_t select[2] = {SharcSelectFlash, SharcFlashKind};
    SendBlock(st, select, 2);
    ExpectByte(st, SharcReady);
    if (Failed(st)) return;

    // From here on the loader is ours: whatever happens, the exchange is ended below.
    SharcSplitImage image;
    const bool hasImage = !step.ProgramFile.empty();
    // The file is read once before anything is erased, also for a full erase: a missing,
    // malformed or oversized image costs the board nothing. (A full erase without an image
    // is an erase-only step; the page comparison always needs one.)
    if (hasImage || !step.EraseFlash) {
        st.ClearBlocks();
        PumpMessages(st);
        LoadSharcRecords(st, step.ProgramFile, true, image);
    }

    int pages = 0;
    if (!Failed(st))
        pages = step.EraseFlash ? EraseWholeFlash(st, image) : EraseChangedPages(st, image);

    if (!Failed(st)) {
        std::string text = SharcTextProgramming;
        if (pages != SharcPageCount)
            text += SharcTextPagesOpen + std::to_string(pages) + SharcTextPagesClose;
        st.Status(text);
        if (hasImage) {
            st.RowByteCounts.fill(0);
            MarkMatchingPages(st, image);
            PumpMessages(st);
            LoadSharcRecords(st, step.ProgramFile, false, image);
        }
    }

    uint32_t target = 0;
    if (step.CheckSum && !Failed(st)) {
        st.Status(st.DeviceName + SharcTextVerifying);
        target = RangeCrc(st, static_cast<uint32_t>(step.AddrStart),
                          static_cast<uint32_t>(step.AddrStart + step.AddrLen - 1));
        if (!Failed(st) && target != image.WholeCrc)
            st.view.ShowMessage(MessageKind::Error, CheckSumFailText(image.WholeCrc, target));
    }
    // After STOP, a refusal or a bad file the failure's own text stands. A refused record
    // is reported by the result itself ("ERRORS: ").
    if (st.RunError == RunOk || st.RunError == RunRecordNak)
        ShowStepResult(st, SharcTextProgramedOk, step.CheckSum, image.WholeCrc, target);

    EndSharcExchange(st);
    if (st.RunError == RunOk || st.RunError == RunRecordNak) {
        // This model has no automatic reset.
        if (!step.AutoContinue) WaitForContinue(st);
    }
}

}  // namespace ps

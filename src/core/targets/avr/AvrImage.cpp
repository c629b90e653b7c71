// SPDX-License-Identifier: MIT
#include "targets/avr/AvrImage.h"

#include <cmath>
#include <cstdio>
#include <string>

#include "run/Station.h"
#include "images/HexConvert.h"
#include "images/ImageFile.h"
#include "link/Link.h"
#include "projects/AtomicFile.h"
#include "projects/StepFile.h"
#include "targets/avr/FuseBits.h"

namespace ps {

namespace {

constexpr int LinesPerPump = 64;         // keeps STOP alive while a long file is read
constexpr int MaxEepromOffset = 0xFFFF;  // the commands carry a 16-bit offset

// Marks the block of image offset a as programmed; a run of bytes in one block is marked
// once (lastIndex remembers the block last marked).
void MarkBlock(Station& st, int32_t a, int& lastIndex) {
    const int32_t blockLen = st.Step.BlockLen;
    if (blockLen <= 0) return;  // no map geometry to mark on
    const int index = a / blockLen;
    if (index == lastIndex) return;
    lastIndex = index;
    const int cols = st.Map.ShownCols();
    const int row = index / cols;
    if (row >= st.Map.ShownRows()) return;  // beyond the grid the panel shows
    st.SetBlock(row, index % cols, ProgrammedColour);
}

int Percent(double part, double whole) {
    if (whole <= 0) return 100;
    // Default rounding mode: halves go to the even neighbour.
    return static_cast<int>(std::nearbyint(part / whole * 100.0));
}

void ShowLoaded(Station& st, int32_t loaded) {
    st.ByteLabel(0, std::to_string(loaded));
    st.RowByteCounts[0] = loaded;
    PumpMessages(st);
}

// A record's checksum as the file gives it, and as its bytes make it. Worked out from the
// text itself, for records of every type: the loader never needed the field, so a record
// that lacks it (or has a digit that is not hexadecimal) loads as before and counts as a
// record whose checksum is wrong, shown as "--".
struct RecordChecksum {
    int InFile = -1;  // -1: missing or not hexadecimal
    int Computed = 0;
};

int HexValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    return -1;
}

RecordChecksum CheckRecord(const std::string& line) {
    // The bytes after the ':': count, address high and low, type, the data, the checksum.
    auto byteAt = [&line](size_t i) {
        const size_t at = 1 + 2 * i;
        const int high = at < line.size() ? HexValue(line[at]) : -1;
        const int low = at + 1 < line.size() ? HexValue(line[at + 1]) : -1;
        return high < 0 || low < 0 ? -1 : high * 16 + low;
    };
    RecordChecksum c;
    const int count = byteAt(0);
    unsigned sum = 0;
    for (size_t i = 0; count >= 0 && i <= 4 + static_cast<size_t>(count); ++i) {
        const int b = byteAt(i);
        if (b < 0) break;
        if (i == 4 + static_cast<size_t>(count)) {
            c.InFile = b;
        } else {
            sum += static_cast<unsigned>(b);
        }
    }
    c.Computed = static_cast<int>((0x100 - (sum & 0xFF)) & 0xFF);
    return c;
}

std::string Hex2(int value) {
    char text[4];
    std::snprintf(text, sizeof text, "%02X", value & 0xFF);
    return text;
}

}  // namespace

bool LoadAvrHex(Station& st, const std::string& fileName, std::vector<uint8_t>& image,
                AvrLoadCounts& counts) {
    constexpr int TypeData = 0x00;
    constexpr int TypeSegmentBase = 0x02;
    constexpr int TypeLinearBase = 0x04;
    image.assign(AvrImageSize, 0xFF);
    counts = {};
    const std::string name = ResolveImageName(fileName, AvrHexExtension);
    ImageText file;
    if (!OpenImageText(file, name, st)) return false;
    std::string line;
    bool baseSet = false;      // the last type 02/04 record set a base other than 0
    int64_t badChecksums = 0;  // records whose checksum is wrong
    int64_t firstBadLine = 0;
    RecordChecksum firstBad;
    int lineCount = 0;
    while (file.ReadLine(line)) {
        if (!CheckRecordMark(line, ':', name, st)) return false;
        const int type = StrictHexByte(line, 8);
        if (type == TypeSegmentBase || type == TypeLinearBase) {
            // Toolchains write a base of 0 before data in the first 64 KB: harmless.
            baseSet = StrictHex(line, 10, 4) != 0;
        }
        if (type == TypeData) {
            const int count = StrictHexByte(line, 2);
            const uint32_t address = StrictHex(line, 4, 4);
            if (baseSet && count > 0) {
                // The flash takes the low 16 bits only: these bytes would land on data
                // meant for the start of the flash.
                st.ImageFileError(
                    NotHexMessage(name, ReasonExtendedAddress + std::to_string(file.LineNumber())));
                return false;
            }
            for (int i = 0; i < count; ++i) {
                const uint8_t b = StrictHexByte(line, 10 + 2 * i);
                image[address + static_cast<uint32_t>(i)] = b;
                ++counts.Loaded;
                if (b != 0xFF) ++counts.Data;
            }
        }
        const RecordChecksum checksum = CheckRecord(line);
        if (checksum.InFile != checksum.Computed) {
            if (badChecksums++ == 0) {
                firstBadLine = file.LineNumber();
                firstBad = checksum;
            }
        }
        if (++lineCount % LinesPerPump == 0) PumpMessages(st);
        if (st.RunError == RunStopped) return false;
    }
    if (file.Failed()) return false;  // already reported by the reader
    file.Close();
    if (counts.Loaded == 0) {
        // An image that holds nothing would erase the chip and pass every check.
        st.ImageFileError(NotHexMessage(name, ReasonNoDataRecords));
        return false;
    }
    if (badChecksums > 0) {
        std::string text = WarnRecordChecksum + name + " line " + std::to_string(firstBadLine) +
                           ": " + (firstBad.InFile < 0 ? "--" : Hex2(firstBad.InFile)) +
                           ", should be " + Hex2(firstBad.Computed);
        if (badChecksums > 1) text += " (" + std::to_string(badChecksums) + " records)";
        st.ImageFileWarning(text);
    }
    return true;
}

std::string AvrRangeError(const StepSettings& step) {
    const bool loader = step.AtmelDevice == AvrLoader;
    const bool eeprom = loader && (step.AtProgEe == 1 || step.AtProgEe == 2);
    const bool image = !step.ProgramFile.empty();
    const bool checksum = step.CheckSum && !eeprom;
    const int64_t start = step.AddrStart;
    const int64_t length = step.AddrLen;
    auto badStart = [&] { return BadValueText(step.AddrStartLine, KeyAddrStart, start); };
    auto badLength = [&] { return BadValueText(step.AddrLenLine, KeyAddrLen, length); };
    if (!image && !checksum) return {};
    if (start < 0) return badStart();
    if (length <= 0) return badLength();
    if (image && !eeprom && start + length > AvrImageSize) {
        // Pages count from address 0, and page word addresses have 16 bits.
        return start >= AvrImageSize ? badStart() : badLength();
    }
    if (image && eeprom) {
        const int64_t end = 2 * (length / 2 + start - 1) + 1;
        if (end < 0) return badLength();
        if (end > MaxEepromOffset) return start > MaxEepromOffset ? badStart() : badLength();
    }
    if (checksum) {
        // Words start .. start + length / 2 - 1, each sent as 16 bits.
        if (length < 2) return badLength();
        if (start + length / 2 - 1 > 0xFFFF) return start > 0xFFFF ? badStart() : badLength();
    }
    return {};
}

uint16_t AvrImageChecksum(const std::vector<uint8_t>& image, int32_t addrStart, int32_t addrLen) {
    const int64_t u = addrLen / 2 + static_cast<int64_t>(addrStart) - 1;
    uint16_t sum = 0;
    for (int64_t a = addrStart; a <= 2 * u + 1; ++a) {
        const bool inside = a >= 0 && a < static_cast<int64_t>(image.size());
        sum = static_cast<uint16_t>(sum + (inside ? image[static_cast<size_t>(a)] : 0xFF));
    }
    return static_cast<uint16_t>(0xFFFF - sum);
}

std::vector<uint8_t> DeviceParametersCommand(int processor) {
    switch (processor) {
        case AvrAT90S2313:
            return {AvrCmdDeviceParams, 0x00, 0x7F};
        case AvrAT90S4433:
        case AvrATtiny12:
            return {AvrCmdDeviceParams, 0x00, 0xFF};
        case AvrATmega163:
        case AvrATmega323:
        case AvrATmega32:
        case AvrATmega16:
            return {AvrCmdDeviceParams, 0x02, 0xFF};
        default:
            return {};
    }
}

std::array<uint8_t, 4> PageHeader(int page) {
    const int word = 64 * page;
    return {AvrCmdWritePage, static_cast<uint8_t>(word / 256), static_cast<uint8_t>(word % 256),
            0x80};
}

int AvrPageCount(int32_t addrStart, int32_t addrLen) {
    const double pages = (static_cast<double>(addrStart) + addrLen - 1) / AvrPageSize + 1;
    const int count = static_cast<int>(std::trunc(pages));
    // Pages past the AVR image would read beyond it; the image holds no data there.
    const int maxPages = AvrImageSize / AvrPageSize;
    return count > maxPages ? maxPages : count;
}

int32_t AvrEepromEnd(int32_t addrStart, int32_t addrLen) {
    const int64_t u = addrLen / 2 + static_cast<int64_t>(addrStart) - 1;
    const int64_t end = 2 * u + 1;
    return static_cast<int32_t>(end > MaxEepromOffset ? MaxEepromOffset : end);
}

std::string EepromHexText(const uint8_t* data, int count) {
    std::string text;
    char digits[4];
    for (int first = 0; first < count; first += AvrEepromRecordBytes) {
        const int n = count - first < AvrEepromRecordBytes ? count - first : AvrEepromRecordBytes;
        unsigned sum = static_cast<unsigned>(n) + (static_cast<unsigned>(first) >> 8) +
                       (static_cast<unsigned>(first) & 0xFF);
        std::snprintf(digits, sizeof digits, "%02X", n);
        text += ':';
        text += digits;
        char address[8];
        std::snprintf(address, sizeof address, "%04X", static_cast<unsigned>(first) & 0xFFFF);
        text += address;
        text += "00";
        for (int i = 0; i < n; ++i) {
            std::snprintf(digits, sizeof digits, "%02X", data[first + i]);
            text += digits;
            sum += data[first + i];
        }
        std::snprintf(digits, sizeof digits, "%02X", (0x100 - (sum & 0xFF)) & 0xFF);
        text += digits;
        text += "\r\n";
    }
    text += IntelEndRecord;
    text += "\r\n";
    return text;
}

void ProgramAvrImage(Station& st, const std::string& fileName, const AvrLoadCounts& counts) {
    if (st.Step.AtmelDevice == AvrLoader && st.Step.AtProgEe == 1) {
        WriteAvrEeprom(st, counts);
    } else if (st.Step.AtmelDevice == AvrLoader && st.Step.AtProgEe == 2) {
        ReadAvrEeprom(st, fileName);
    } else {
        ProgramAvrFlash(st, counts);
    }
}

namespace {

// What the operator sees of a loaded image before it goes to the board.
void ShowImageLoaded(Station& st, const AvrLoadCounts& counts) {
    if (st.Step.AddrLen > 0) {
        st.ClearBlocks();
        PumpMessages(st);
        PumpMessages(st);
    }
    st.ByteLabel(0, std::to_string(counts.Loaded));
}

}  // namespace

void ProgramAvrFlash(Station& st, const AvrLoadCounts& counts) {
    const StepSettings& step = st.Step;
    ShowImageLoaded(st, counts);
    const int pages = AvrPageCount(step.AddrStart, step.AddrLen);
    st.ImageChecksum = AvrImageChecksum(st.AvrImage, step.AddrStart, step.AddrLen);

    // The loader takes no device parameters, so there is no 'O' to wait for either.
    const std::vector<uint8_t> params = DeviceParametersCommand(step.AtmelDevice);
    if (!params.empty()) {
        SendBlock(st, params.data(), static_cast<int>(params.size()));
        ExpectByte(st, AckO);
    }
    if (st.RunError != RunOk) return;

    st.Progress(0);
    int written = 0;
    const int data = counts.Data == 0 ? 1 : counts.Data;
    for (int page = 0; page < pages; ++page) {
        const uint8_t* bytes = st.AvrImage.data() + static_cast<size_t>(page) * AvrPageSize;
        bool blank = true;
        for (int i = 0; i < AvrPageSize && blank; ++i) blank = bytes[i] == 0xFF;
        if (blank) continue;  // erased flash already reads 0xFF

        const auto header = PageHeader(page);
        SendBlock(st, header.data(), static_cast<int>(header.size()));
        int lastIndex = -1;
        for (int i = 0; i < AvrPageSize; ++i) {
            SendByte(st, bytes[i]);
            if (bytes[i] != 0xFF) {
                ++written;
                MarkBlock(st, page * AvrPageSize + i, lastIndex);
            }
        }
        ExpectByte(st, AckO);
        if (st.RunError != RunOk) return;
        st.Progress(Percent(written, data));
    }
    if (st.RunError != RunOk) return;
    ShowLoaded(st, counts.Loaded);
}

void WriteAvrEeprom(Station& st, const AvrLoadCounts& counts) {
    const StepSettings& step = st.Step;
    ShowImageLoaded(st, counts);
    st.ImageChecksum = AvrImageChecksum(st.AvrImage, step.AddrStart, step.AddrLen);
    if (st.RunError != RunOk) return;
    st.Progress(0);
    const int32_t end = AvrEepromEnd(step.AddrStart, step.AddrLen);
    int lastIndex = -1;
    for (int32_t a = 0; a <= end; ++a) {
        const uint8_t b = st.AvrImage[static_cast<size_t>(a)];
        const uint8_t command[4] = {AvrCmdWriteEeprom, static_cast<uint8_t>(a / 256),
                                    static_cast<uint8_t>(a % 256), b};
        SendBlock(st, command, 4);
        ExpectByte(st, AckO);
        if (st.RunError != RunOk) return;
        if (b != 0xFF) MarkBlock(st, a, lastIndex);
        st.Progress(Percent(a, end));
    }
    if (st.RunError != RunOk) return;
    ShowLoaded(st, counts.Loaded);
}

void ReadAvrEeprom(Station& st, const std::string& fileName) {
    const StepSettings& step = st.Step;
    st.AvrImage.assign(AvrImageSize, 0xFF);
    const std::string name = ResolveImageName(fileName, AvrHexExtension);
    // The dump replaces an existing file only once it is complete: STOP or a failed read
    // leave the old one as it was.
    AtomicFile file(name);
    if (!file.Open()) {
        st.ImageFileError(CannotOpenMessage(name));
        return;
    }
    if (step.AddrLen > 0) {
        st.ClearBlocks();
        PumpMessages(st);
        PumpMessages(st);
    }
    st.ByteLabel(0, "0");
    if (st.RunError != RunOk) return;
    st.Progress(0);
    const int32_t end = AvrEepromEnd(step.AddrStart, step.AddrLen);
    st.RowByteCounts[0] = end + 1;
    int lastIndex = -1;
    for (int32_t a = 0; a <= end; ++a) {
        const uint8_t command[3] = {AvrCmdReadEeprom, static_cast<uint8_t>(a / 256),
                                    static_cast<uint8_t>(a % 256)};
        SendBlock(st, command, 3);
        const uint8_t b = ReadByte(st);
        if (st.RunError != RunOk) return;
        st.AvrImage[static_cast<size_t>(a)] = b;
        if (b != 0xFF) MarkBlock(st, a, lastIndex);
        st.Progress(Percent(a, end));
    }
    const std::string text = EepromHexText(st.AvrImage.data(), end + 1 > 0 ? end + 1 : 0);
    if (!file.Write(text.data(), text.size()) || !file.Commit()) {
        st.ImageFileError(CannotOpenMessage(name));
        return;
    }
    if (st.RunError == RunOk) {
        st.ByteLabel(0, std::to_string(end + 1));
        st.RowByteCounts[0] = end + 1;
        PumpMessages(st);
    }
}

}  // namespace ps

#include "targets/avr/AvrImage.h"

#include <cmath>
#include <cstdio>
#include <string>

#include "app/Station.h"
#include "images/HexConvert.h"
#include "images/ImageFile.h"
#include "link/Link.h"
#include "projects/AtomicFile.h"
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

bool LoadHex(Station& st, const std::string& fileName, std::vector<uint8_t>& image,
             AvrLoadCounts& counts, bool show) {
    image.assign(AvrImageSize, 0xFF);
    counts = {};
    const std::string name = ResolveImageName(fileName, AvrHexExtension);
    ImageText file;
    if (!OpenImageText(file, name, st)) return false;
    if (show && st.Step.AddrLen > 0) {
        st.ClearBlocks();
        PumpMessages(st);
        PumpMessages(st);
    }
    std::string line;
    int lineCount = 0;
    while (file.ReadLine(line)) {
        // A blank line (a trailing empty line, say) carries no record; it is not an error.
        if (!line.empty()) {
            if (line[0] != ':') {
                file.Close();
                st.ImageFileError(NotHexMessage(name));
                return false;
            }
            if (StrictHexByte(line, 8) == 0x00) {
                const int count = StrictHexByte(line, 2);
                const uint32_t address = StrictHex(line, 4, 4);
                for (int i = 0; i < count; ++i) {
                    const uint8_t b = StrictHexByte(line, 10 + 2 * i);
                    image[address + static_cast<uint32_t>(i)] = b;
                    ++counts.Loaded;
                    if (b != 0xFF) ++counts.Data;
                }
            }
        }
        if (++lineCount % LinesPerPump == 0) PumpMessages(st);
        if (st.RunError == RunStopped) return false;
    }
    file.Close();
    if (show) st.ByteLabel(0, std::to_string(counts.Loaded));
    return true;
}

}  // namespace

bool LoadAvrHex(Station& st, const std::string& fileName, std::vector<uint8_t>& image,
                AvrLoadCounts& counts) {
    return LoadHex(st, fileName, image, counts, true);
}

bool CheckAvrImage(Station& st, const std::string& fileName) {
    std::vector<uint8_t> scratch;
    AvrLoadCounts counts;
    return LoadHex(st, fileName, scratch, counts, false) && st.RunError == RunOk;
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

void ProgramAvrImage(Station& st, const std::string& fileName) {
    if (st.Step.AtmelDevice == AvrLoader && st.Step.AtProgEe == 1) {
        WriteAvrEeprom(st, fileName);
    } else if (st.Step.AtmelDevice == AvrLoader && st.Step.AtProgEe == 2) {
        ReadAvrEeprom(st, fileName);
    } else {
        ProgramAvrFlash(st, fileName);
    }
}

void ProgramAvrFlash(Station& st, const std::string& fileName) {
    const StepSettings& step = st.Step;
    AvrLoadCounts counts;
    if (!LoadAvrHex(st, fileName, st.AvrImage, counts)) return;
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

void WriteAvrEeprom(Station& st, const std::string& fileName) {
    const StepSettings& step = st.Step;
    AvrLoadCounts counts;
    if (!LoadAvrHex(st, fileName, st.AvrImage, counts)) return;
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

// SPDX-License-Identifier: MIT
#include "app/SharcBootFlashTransfer.h"

#include <vector>

#include "app/InlineTransfer.h"
#include "run/Station.h"
#include "images/HexConvert.h"
#include "images/ImageFile.h"
#include "link/Link.h"
#include "targets/bootloader/sharc/Bridge.h"

namespace ps {

namespace {

constexpr uint8_t DataRecord = 0x00;

struct HexRecord {
    bool IsData = false;
    uint16_t Address = 0;
    std::vector<uint8_t> Data;
    uint8_t Checksum = 0;
};

// The fixed positions of an Intel HEX line, read strictly.
void DecodeLine(const std::string& line, HexRecord& out) {
    out.IsData = StrictHexByte(line, 8) == DataRecord;
    if (!out.IsData) return;
    const int count = StrictHexByte(line, 2);
    out.Address = static_cast<uint16_t>(StrictHex(line, 4, 4));
    out.Data.clear();
    for (int i = 0; i < count; ++i) out.Data.push_back(StrictHexByte(line, 10 + 2 * i));
    out.Checksum = StrictHexByte(line, 10 + 2 * count);
}

std::string Frame(const HexRecord& r) {
    std::string out = {static_cast<char>(BootFlashRecordMark), static_cast<char>(r.Data.size()),
                       '\0'};
    AppendBridgeEscaped(out, static_cast<uint8_t>(r.Address >> 8));
    AppendBridgeEscaped(out, static_cast<uint8_t>(r.Address));
    for (uint8_t b : r.Data) AppendBridgeEscaped(out, b);
    AppendBridgeEscaped(out, r.Checksum);
    return out;
}

void MarkAddress(Station& st, uint32_t address) {
    if (st.Step.BlockLen <= 0) return;
    MarkProgrammed(st, static_cast<int>(address / static_cast<uint32_t>(st.Step.BlockLen)));
}

}  // namespace

bool CheckSharcBootFlashImage(Station& st, const std::string& fileName) {
    HexRecord record;
    const ImageRead end =
        ReadImageLines(st, ResolveImageName(fileName, IntelHexExtension), ':',
                       [&](const std::string& line, auto&) {
                           DecodeLine(line, record);
                           return st.RunError == RunOk ? LineVerdict::Next : LineVerdict::Stop;
                       });
    return end == ImageRead::Completed && st.RunError == RunOk;
}

void TransferSharcBootFlashImage(Station& st, const std::string& fileName) {
    st.ImageChecksum = 0;
    const std::string name = ResolveImageName(fileName, IntelHexExtension);
    int64_t lineCount = 0;
    {
        ImageText file;
        if (!OpenImageText(file, name, st)) return;
        std::string line;
        while (file.ReadLine(line)) ++lineCount;
        if (file.Failed()) return;  // reported by the reader
    }
    if (lineCount == 0) lineCount = 1;
    ClearMapForTransfer(st);

    HexRecord record;
    int64_t lines = 0, sent = 0;
    const ImageRead end =
        ReadImageLines(st, name, ':', [&](const std::string& line, const ImageText&) {
            DecodeLine(line, record);
            if (record.IsData) {
                SendText(st, Frame(record));
                for (uint8_t b : record.Data)
                    if (b != 0xFF) st.ImageChecksum = static_cast<uint16_t>(st.ImageChecksum + b);
                sent += static_cast<int64_t>(record.Data.size());
                ExpectByte(st, BootFlashRecordAck);
                if (st.RunError != RunOk) return LineVerdict::Stop;
                const uint32_t last =
                    record.Address + record.Data.size() - (record.Data.empty() ? 0 : 1);
                MarkAddress(st, record.Address);
                MarkAddress(st, last);
            }
            ++lines;
            st.Progress(TransferPercent(lines, lineCount));
            PumpMessages(st);
            return st.RunError == RunOk ? LineVerdict::Next : LineVerdict::Stop;
        });
    if (end != ImageRead::Completed) return;
    st.ImageChecksum = static_cast<uint16_t>(~st.ImageChecksum);
    st.ByteLabel(0, std::to_string(sent));
    if (st.RunError == RunOk) st.RowByteCounts[0] = static_cast<int32_t>(sent);
    PumpMessages(st);
}

}  // namespace ps

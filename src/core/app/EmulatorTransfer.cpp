// SPDX-License-Identifier: MIT
#include "app/EmulatorTransfer.h"

#include <algorithm>
#include <string_view>
#include <vector>

#include "app/InlineTransfer.h"
#include "run/Station.h"
#include "images/HexConvert.h"
#include "images/ImageFile.h"
#include "link/Link.h"

namespace ps {

namespace {

constexpr uint8_t DataRecord = 0x00;
constexpr size_t HeaderBytes = 4;  // count, address high, low, type

// Every hex pair after the ':', without the high-digit clamp. False for a line too short
// for its header or, for a data record, for its data.
bool DecodeLine(const std::string& line, std::vector<uint8_t>& bytes) {
    bytes = LenientHexPairs(std::string_view(line).substr(1), false);
    if (bytes.size() < HeaderBytes) return false;
    return bytes[3] != DataRecord || bytes.size() >= HeaderBytes + bytes[0];
}

void DropWhatTheEmulatorSent(Station& st) {
    uint8_t buffer[EmulatorDrainChunk];
    for (int n = st.Comm.InputCount(); n > 0; n = st.Comm.InputCount())
        if (st.Comm.ReadBuf(buffer, std::min(n, EmulatorDrainChunk)) <= 0) break;
}

}  // namespace

bool CheckEmulatorImage(Station& st, const std::string& fileName) {
    std::vector<uint8_t> bytes;
    const ImageRead end =
        ReadImageLines(st, ResolveImageName(fileName, IntelHexExtension), ':',
                       [&](const std::string& line, auto&) {
                           if (!DecodeLine(line, bytes)) return LineVerdict::Malformed;
                           return st.RunError == RunOk ? LineVerdict::Next : LineVerdict::Stop;
                       });
    return end == ImageRead::Completed && st.RunError == RunOk;
}

void TransferEmulatorImage(Station& st, const std::string& fileName) {
    const std::string name = ResolveImageName(fileName, IntelHexExtension);
    ClearMapForTransfer(st);

    // First pass: the total and the bytes per 16 KB, every record type included.
    std::vector<uint8_t> bytes;
    int64_t total = 0;
    if (ReadImageLines(st, name, ':', [&](const std::string& line, auto&) {
            if (!DecodeLine(line, bytes)) return LineVerdict::Malformed;
            if (st.RunError != RunOk) return LineVerdict::Stop;
            total += bytes[0];
            st.RowByteCounts[static_cast<size_t>((bytes[1] << 8 | bytes[2]) / EmulatorRowBytes)] +=
                bytes[0];
            return LineVerdict::Next;
        }) != ImageRead::Completed)
        return;
    ShowRowByteCounts(st, total);

    int lastMarked = -1;
    int64_t sent = 0;
    const ImageRead end = ReadImageLines(st, name, ':', [&](const std::string& line, auto&) {
        if (!DecodeLine(line, bytes)) return LineVerdict::Malformed;
        if (bytes[3] != DataRecord) return LineVerdict::Next;
        const uint8_t count = bytes[0];
        std::vector<uint8_t> frame = {EmulatorRecordMark, bytes[1], bytes[2], count};
        frame.insert(frame.end(), bytes.begin() + HeaderBytes,
                     bytes.begin() + static_cast<long>(HeaderBytes + count));
        SendBlock(st, frame.data(), static_cast<int>(frame.size()));
        const int64_t first = bytes[1] << 8 | bytes[2];
        MarkProgrammedOnce(st, ProportionalBlock(st, first), lastMarked);
        MarkProgrammedOnce(st, ProportionalBlock(st, first + count - 1), lastMarked);
        sent += count;
        if (total > 0) st.Progress(TransferPercent(sent, total));
        PumpMessages(st);
        if (st.RunError != RunOk) return LineVerdict::Stop;
        DropWhatTheEmulatorSent(st);
        return LineVerdict::Next;
    });
    // Stopped or not, the emulator is told the transfer is over; a file that could not be
    // read is left as it was.
    if (end == ImageRead::BadFile) return;
    SendByte(st, EmulatorEnd);
}

}  // namespace ps

// SPDX-License-Identifier: MIT
#include "app/Boot574Transfer.h"

#include <vector>

#include "app/InlineTransfer.h"
#include "run/Station.h"
#include "images/HexConvert.h"
#include "images/ImageFile.h"
#include "link/Link.h"

namespace ps {

namespace {

constexpr char S1Type = '1';
constexpr int S1Header = 3;  // count counts two address bytes and the checksum too

struct S1Record {
    bool IsS1 = false;
    std::vector<uint8_t> Frame;  // 0x00, address, 0x00, count, data, sum
};

// Reads the count and the address of every line (strictly, as the loader always did) and
// the data of an "S1" line. False for an "S1" count too small to hold its address.
bool DecodeLine(const std::string& line, S1Record& out) {
    const int count = StrictHexByte(line, 3);
    const uint32_t address = StrictHex(line, 5, 4);
    out.IsS1 = line[1] == S1Type;  // a line holds at least its mark and a count here
    if (!out.IsS1) return true;
    if (count < S1Header) return false;
    const int data = count - S1Header;
    out.Frame = {0x00, static_cast<uint8_t>(address >> 8), static_cast<uint8_t>(address), 0x00,
                 static_cast<uint8_t>(data)};
    for (int i = 0; i < data; ++i) out.Frame.push_back(StrictHexByte(line, 9 + 2 * i));
    uint8_t sum = 0;
    for (uint8_t b : out.Frame) sum = static_cast<uint8_t>(sum + b);
    out.Frame.push_back(sum);
    return true;
}

}  // namespace

bool CheckBoot574Image(Station& st, const std::string& fileName) {
    S1Record record;
    const ImageRead end = ReadImageLines(
        st, ResolveImageName(fileName, SrecExtension), 'S', [&](const std::string& line, auto&) {
            if (!DecodeLine(line, record)) return LineVerdict::Malformed;
            return st.RunError == RunOk ? LineVerdict::Next : LineVerdict::Stop;
        });
    return end == ImageRead::Completed && st.RunError == RunOk;
}

void TransferBoot574Image(Station& st, const std::string& fileName) {
    S1Record record;
    int64_t read = 0, size = 0;
    // The pause after each accepted record runs while the gauge moves and the next line is
    // read and framed; it ends, at its full length, before the next byte goes out.
    int64_t gapEnd = -1;
    auto endGap = [&] {
        if (gapEnd >= 0) WaitUntil(st, gapEnd, false);
        gapEnd = -1;
    };
    const ImageRead end = ReadImageLines(
        st, ResolveImageName(fileName, SrecExtension), 'S',
        [&](const std::string& line, const ImageText& file) {
            read = file.Position();
            size = file.Size();
            if (!DecodeLine(line, record)) return LineVerdict::Malformed;
            if (!record.IsS1) return LineVerdict::Next;
            endGap();
            if (st.RunError != RunOk) return LineVerdict::Stop;
            SendByte(st, Boot574Ready);
            ExpectByte(st, Boot574ReadyAnswer);
            // Even after STOP the frame goes out: the loader may have answered its ready
            // request already and then waits for exactly these bytes before the end frame.
            SendBlock(st, record.Frame.data(), static_cast<int>(record.Frame.size()));
            ExpectByte(st, Boot574Accepted);
            gapEnd = DeadlineAfterMs(st, Boot574RecordGapMs);
            if (st.RunError != RunOk) return LineVerdict::Stop;
            st.Progress(TransferPercent(read, size));
            PumpMessages(st);
            return LineVerdict::Next;
        });
    // A file that could not be read leaves the loader as it is; otherwise (read to its end,
    // or stopped) the loader is told the transfer is over.
    if (end == ImageRead::BadFile) return;
    st.Progress(TransferPercent(read, size));
    endGap();
    const uint8_t endFrame[Boot574EndFrameBytes] = {Boot574EndMark, 0x00, 0x00, 0x00, 0x00};
    SendBlock(st, endFrame, Boot574EndFrameBytes);
    PumpMessages(st);
}

}  // namespace ps

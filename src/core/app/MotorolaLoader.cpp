// SPDX-License-Identifier: MIT
#include "app/MotorolaLoader.h"

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

// Count byte, three address bytes: what comes before an "S2" record's data.
constexpr int S2Header = 4;

struct S2Record {
    bool IsS2 = false;
    uint32_t Address = 0;
    std::vector<uint8_t> Data;
    uint8_t Checksum = 0;
};

// Decodes a line leniently from its third character. False for an "S2" record whose line
// holds fewer bytes than its count promises.
bool DecodeLine(const std::string& line, S2Record& out) {
    out.IsS2 = line.size() >= 2 && static_cast<uint8_t>(line[1]) == MotorolaRecordType;
    if (!out.IsS2) return true;
    const std::vector<uint8_t> b = LenientHexPairs(std::string_view(line).substr(2));
    if (b.empty()) return false;
    const size_t count = b[0];
    if (count < S2Header || b.size() < count + 1) return false;
    out.Address = static_cast<uint32_t>(b[1]) << 16 | static_cast<uint32_t>(b[2]) << 8 | b[3];
    out.Data.assign(b.begin() + S2Header, b.begin() + static_cast<long>(count));
    out.Checksum = b[count];
    return true;
}

// The record waiting to be sent; contiguous records are appended to it.
struct Pending {
    bool Holds = false;
    bool Joined = false;  // its checksum is recomputed, not the line's own
    uint32_t Address = 0;
    std::vector<uint8_t> Data;
    uint8_t Checksum = 0;

    bool Follows(const S2Record& r) const {
        return Holds && Address + Data.size() == r.Address &&
               Data.size() + r.Data.size() <= static_cast<size_t>(MotorolaMaxData);
    }
};

std::vector<uint8_t> RecordBytes(const Pending& p) {
    const auto count = static_cast<uint8_t>(p.Data.size() + S2Header);
    std::vector<uint8_t> out = {MotorolaRecordMark,
                                MotorolaRecordType,
                                count,
                                static_cast<uint8_t>(p.Address >> 16),
                                static_cast<uint8_t>(p.Address >> 8),
                                static_cast<uint8_t>(p.Address)};
    out.insert(out.end(), p.Data.begin(), p.Data.end());
    uint8_t checksum = p.Checksum;
    if (p.Joined) {
        uint8_t sum = 0;
        for (size_t i = 2; i < out.size(); ++i) sum = static_cast<uint8_t>(sum + out[i]);
        checksum = static_cast<uint8_t>(~sum);
    }
    out.push_back(checksum);
    return out;
}

// Sends the pending record and waits for its answer. False when the run was stopped.
bool SendPending(Station& st, Pending& p) {
    if (!p.Holds) return true;
    const std::vector<uint8_t> bytes = RecordBytes(p);
    SendBlock(st, bytes.data(), static_cast<int>(bytes.size()));
    ExpectAck(st, MotorolaRecordAck, MotorolaRecordNak);
    p = Pending{};
    return st.RunError == RunOk;
}

bool InRange(const Station& st, int64_t address) {
    return address >= st.RangeStart && address <= st.RangeEnd;
}

}  // namespace

bool CheckMotorolaImage(Station& st, const std::string& fileName) {
    S2Record record;
    const ImageRead end =
        ReadImageLines(st, ResolveImageName(fileName, IntelHexExtension), 'S',
                       [&](const std::string& line, auto&) {
                           if (!DecodeLine(line, record)) return LineVerdict::Malformed;
                           return st.RunError == RunOk ? LineVerdict::Next : LineVerdict::Stop;
                       });
    return end == ImageRead::Completed && st.RunError == RunOk;
}

void LoadMotorolaImage(Station& st, const std::string& fileName) {
    // The count of refusals is the step's own (the run controller starts it at 0): a
    // sector erase refused before the records must still end the step with "ERRORS: ".
    st.ImageChecksum = 0;
    ClearMapForTransfer(st);
    const int cols = st.Map.ShownCols();

    Pending pending;
    S2Record record;
    int lastMarked = -1;
    const ImageRead end = ReadImageLines(
        st, ResolveImageName(fileName, IntelHexExtension), 'S',
        [&](const std::string& line, const ImageText& file) {
            if (!DecodeLine(line, record)) return LineVerdict::Malformed;
            if (st.RunError != RunOk) return LineVerdict::Stop;  // a pending record stays
            if (record.IsS2) {
                bool allErased = true;
                for (size_t i = 0; i < record.Data.size(); ++i) {
                    const int64_t address = static_cast<int64_t>(record.Address) + i;
                    if (InRange(st, address)) {
                        const int block = ProportionalBlock(st, address);
                        if (block >= 0) ++st.RowByteCounts[static_cast<size_t>(block / cols)];
                    }
                    allErased = allErased && record.Data[i] == 0xFF;
                }
                // Erased flash already reads 0xFF: such a record is not sent, and it breaks
                // a join, since the record after it no longer follows the pending one.
                if (!allErased) {
                    if (st.Step.AddrLen > 0) {
                        for (size_t i = 0; i < record.Data.size(); ++i) {
                            const uint32_t address = record.Address + static_cast<uint32_t>(i);
                            if (record.Data[i] != 0xFF && InRange(st, address))
                                st.ImageChecksum = static_cast<uint16_t>(
                                    st.ImageChecksum + (record.Data[i] ^ (address & 0xFF)));
                        }
                        MarkProgrammedOnce(st, ProportionalBlock(st, record.Address), lastMarked);
                    }
                    if (pending.Follows(record)) {
                        pending.Data.insert(pending.Data.end(), record.Data.begin(),
                                            record.Data.end());
                        pending.Joined = true;
                    } else {
                        if (!SendPending(st, pending)) return LineVerdict::Stop;
                        pending = {true, false, record.Address, record.Data, record.Checksum};
                    }
                    if (pending.Data.size() > static_cast<size_t>(MotorolaSendAbove) &&
                        !SendPending(st, pending))
                        return LineVerdict::Stop;
                }
            }
            st.Progress(TransferPercent(file.Position(), file.Size()));
            return LineVerdict::Next;
        });
    if (end != ImageRead::Completed) return;
    if (!SendPending(st, pending)) return;

    int64_t total = 0;
    for (int32_t count : st.RowByteCounts) total += count;
    ShowRowByteCounts(st, total);
    PumpMessages(st);
}

}  // namespace ps

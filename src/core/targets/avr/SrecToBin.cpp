// SPDX-License-Identifier: MIT
#include "targets/avr/SrecToBin.h"

#include <string_view>
#include <vector>

#include "run/Station.h"
#include "images/HexConvert.h"
#include "images/ImageFile.h"
#include "link/Link.h"
#include "projects/AtomicFile.h"
#include "targets/avr/AvrImage.h"

namespace ps {

namespace {

// The erased fill goes out in chunks of this size; STOP is looked at after each.
constexpr size_t FillChunk = 64 * 1024;
constexpr int LinesPerPump = 64;
// Count byte, three address bytes and the checksum: the shortest "S2" record.
constexpr size_t MinS2Bytes = 5;

enum class FillResult { Done, Failed, Stopped };

FillResult Fill(Station& st, AtomicFile& out, int64_t length) {
    const std::vector<uint8_t> erased(FillChunk, 0xFF);
    for (int64_t left = length; left > 0;) {
        const size_t n =
            left < static_cast<int64_t>(FillChunk) ? static_cast<size_t>(left) : FillChunk;
        if (!out.Write(erased.data(), n)) return FillResult::Failed;
        left -= static_cast<int64_t>(n);
        PumpMessages(st);
        if (st.RunError == RunStopped) return FillResult::Stopped;
    }
    return FillResult::Done;
}

// The copy was not made at all: the reason is in a message box already; the status line
// names the copy that is missing.
bool NotMade(Station& st, const std::string& target) {
    st.Status(MsgSaveBinFailed + target, StatusColorError);
    return false;
}

}  // namespace

bool SrecToBin(Station& st, const std::string& source, const std::string& target) {
    const std::string sourceName = ResolveImageName(source, AvrHexExtension);
    st.Status(MsgSavingBin + target + MsgSavingBinTail, StatusColorNormal);

    AtomicFile out(target);
    if (!out.Open()) {
        st.ImageFileError(CannotOpenMessage(target));
        return NotMade(st, target);
    }
    ImageText in;
    if (!OpenImageText(in, sourceName, st)) return NotMade(st, target);

    const int64_t length = st.Step.AddrLen;
    bool ok = true;
    if (length > 0) {
        const FillResult filled = Fill(st, out, length);
        if (filled == FillResult::Stopped) return false;  // the old copy stays
        ok = filled == FillResult::Done;
    }
    std::string line;
    int lineCount = 0;
    bool writeFailed = !ok;
    while (!writeFailed && in.ReadLine(line)) {
        if (line[0] != 'S') {
            in.Close();
            st.ImageFileError(NotHexMessage(sourceName));
            return NotMade(st, target);
        }
        if (++lineCount % LinesPerPump == 0) PumpMessages(st);
        if (st.RunError == RunStopped) return false;
        if (line.size() < 2 || line[1] != '2') continue;
        const std::vector<uint8_t> b = LenientHexPairs(std::string_view(line).substr(2));
        // A record cut short holds no data to place: nothing is written for it.
        if (b.size() < MinS2Bytes) continue;
        const int64_t address = (static_cast<int64_t>(b[1]) << 16) | (b[2] << 8) | b[3];
        const int64_t offset = address - st.Step.AddrStart;
        // A record below the start address or at or past the end has no place in the
        // copy: it is not written anywhere, and the copy is not kept.
        if (offset < 0 || offset >= length) {
            ok = false;
            continue;
        }
        const size_t dataCount = b.size() - MinS2Bytes;
        if (dataCount > 0 && !out.WriteAt(static_cast<uint64_t>(offset), b.data() + 4, dataCount)) {
            ok = false;
            writeFailed = true;  // a full disk: no use reading on
        }
    }
    if (in.Failed()) return NotMade(st, target);  // reported by the reader
    in.Close();
    if (st.RunError == RunStopped) return false;

    if (ok && out.Commit()) {
        st.Status(MsgSaveBinOk, StatusColorNormal);
        return true;
    }
    out.Discard();
    st.Status(MsgSaveBinError, StatusColorError);
    PumpMessages(st);
    WaitMs(st, SaveBinErrorPauseMs);
    // A copy that was asked for and not made is a failed step, never a success.
    if (st.RunError == RunOk) st.RunError = RunImageFile;
    return false;
}

}  // namespace ps

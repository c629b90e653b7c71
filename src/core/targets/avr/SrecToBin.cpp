#include "targets/avr/SrecToBin.h"

#include <string_view>
#include <vector>

#include "app/Station.h"
#include "images/HexConvert.h"
#include "images/ImageFile.h"
#include "link/Link.h"
#include "projects/AtomicFile.h"
#include "targets/avr/AvrImage.h"

namespace ps {

namespace {

constexpr int FillChunk = 256;
// Count byte, three address bytes and the checksum: the shortest "S2" record.
constexpr size_t MinS2Bytes = 5;

bool Fill(AtomicFile& out, int32_t length) {
    const std::vector<uint8_t> erased(FillChunk, 0xFF);
    for (int32_t i = 0; i < length / FillChunk; ++i) {
        if (!out.Write(erased.data(), FillChunk)) return false;
    }
    return out.Write(erased.data(), static_cast<size_t>(length % FillChunk));
}

}  // namespace

bool SrecToBin(Station& st, const std::string& source, const std::string& target) {
    const std::string sourceName = ResolveImageName(source, AvrHexExtension);
    st.Status(MsgSavingBin + target + MsgSavingBinTail, StatusColorNormal);

    AtomicFile out(target);
    if (!out.Open()) {
        st.ImageFileError(CannotOpenMessage(target));
        return false;
    }
    ImageText in;
    if (!OpenImageText(in, sourceName, st)) return false;

    const int32_t length = st.Step.AddrLen;
    bool ok = length <= 0 || Fill(out, length);
    std::string line;
    while (in.ReadLine(line)) {
        if (line.empty()) continue;  // a blank line carries no record
        if (line[0] != 'S') {
            in.Close();
            st.ImageFileError(NotHexMessage(sourceName));
            return false;
        }
        if (line.size() < 2 || line[1] != '2') continue;
        const std::vector<uint8_t> b = LenientHexPairs(std::string_view(line).substr(2));
        if (b.size() < MinS2Bytes) {
            ok = false;  // a record cut short has no data to place
            continue;
        }
        const int64_t address = (static_cast<int64_t>(b[1]) << 16) | (b[2] << 8) | b[3];
        const int64_t offset = address - st.Step.AddrStart;
        // A record below the start address has no place in the copy: skip it and report
        // the copy as failed rather than write somewhere it does not belong.
        if (offset < 0) {
            ok = false;
            continue;
        }
        if (offset >= length) {
            ok = false;  // starts past the end of the copy; the copy is not kept anyway
            continue;
        }
        const size_t dataCount = b.size() - MinS2Bytes;
        if (dataCount > 0 && !out.WriteAt(static_cast<uint64_t>(offset), b.data() + 4, dataCount)) {
            ok = false;
        }
    }
    in.Close();

    if (ok && out.Commit()) {
        st.Status(MsgSaveBinOk, StatusColorNormal);
        return true;
    }
    out.Discard();
    st.Status(MsgSaveBinError, StatusColorError);
    PumpMessages(st);
    WaitMs(st, SaveBinErrorPauseMs);
    return false;
}

}  // namespace ps

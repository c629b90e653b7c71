// SPDX-License-Identifier: MIT
// Fuzzes the SHARC split record loader on a whole file, counting only (nothing is sent):
// record decoding, the word counts per map row, the map cells and the page CRCs.
#include <cstdint>
#include <cstdlib>

#include "FuzzTempFile.h"
#include "run/Station.h"
#include "display/StationView.h"
#include "images/ImageReport.h"
#include "link/Clock.h"
#include "link/Crc32.h"
#include "targets/bootloader/sharc/SharcSplitFlow.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const ps::fuzz::FuzzTempFile file("records.hex");
    static ps::RealClock clock;
    static ps::NullView view;
    static bool filled = (ps::FillCrc32Table(), true);
    (void)filled;
    ps::Station st(clock, view);
    // The first byte picks the step's range, so words outside it and maps of other shapes
    // occur; the flow's own step always has 0 and 0x40000.
    const int pick = size > 0 ? data[0] : 0;
    st.Step.AddrStart = (pick & 0x0F) * 0x1000;
    st.Step.AddrLen = (pick >> 4) == 0 ? 0 : (pick >> 4) * 0x4000;
    st.Map = ps::SizeMap(st.Step.AddrLen, 1024, 32);
    file.Write(size > 0 ? data + 1 : data, size > 0 ? size - 1 : 0);
    ps::SharcSplitImage image;
    try {
        ps::LoadSharcRecords(st, file.Path(), true, image);
    } catch (const ps::EConvertError&) {
        return 0;
    }
    for (int32_t count : st.RowByteCounts)
        if (count < 0) std::abort();
    return 0;
}

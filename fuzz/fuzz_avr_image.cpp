// SPDX-License-Identifier: MIT
// Fuzzes the AVR image reader and the S-record to .BIN copy on arbitrary file bytes, with
// the step's address window taken from the first bytes of the input.
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "FuzzTempFile.h"
#include "run/Station.h"
#include "link/Clock.h"
#include "targets/avr/AvrImage.h"
#include "targets/avr/FuseBits.h"
#include "targets/avr/SrecToBin.h"

namespace {

// Time does not pass: the .BIN copy's pause after an error costs nothing.
class StillClock : public ps::Clock {
public:
    int64_t NowMs() override { return now_; }
    void SleepMs(int64_t ms) override { now_ += ms > 0 ? ms : 0; }

private:
    int64_t now_ = 0;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static ps::fuzz::FuzzTempFile image("image.hex");
    static ps::fuzz::FuzzTempFile copy("copy.bin");
    if (size < 4) return 0;
    StillClock clock;
    ps::NullView view;
    ps::Station st(clock, view);
    // A window of up to 64 KB, starting anywhere from -32 K: offsets below the start and
    // past the end both occur.
    st.Step.AddrStart = (static_cast<int32_t>(data[0]) - 128) * 256;
    st.Step.AddrLen = (static_cast<int32_t>(data[1]) << 8) | data[2];
    st.Step.BlockLen = data[3];
    image.Write(data + 4, size - 4);

    std::vector<uint8_t> bytes;
    ps::AvrLoadCounts counts;
    try {
        if (ps::LoadAvrHex(st, image.Path(), bytes, counts) &&
            bytes.size() != static_cast<size_t>(ps::AvrImageSize))
            std::abort();
    } catch (const ps::EConvertError&) {
    }
    (void)ps::AvrImageChecksum(bytes, st.Step.AddrStart, st.Step.AddrLen);
    st.Step.ProgramFile = image.Path();
    st.Step.CheckSum = (data[3] & 1) != 0;
    st.Step.AtmelDevice = (data[3] & 2) ? ps::AvrLoader : 6;
    st.Step.AtProgEe = (data[3] >> 2) & 3;
    (void)ps::AvrRangeError(st.Step);
    st.RunError = ps::RunOk;
    ps::SrecToBin(st, image.Path(), copy.Path());
    return 0;
}

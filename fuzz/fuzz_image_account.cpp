// SPDX-License-Identifier: MIT
// Fuzzes the image account on arbitrary file bytes for every model, with the step's window
// taken from the first bytes of the input: it must never crash, and its counts must hold
// together (no more bytes lost than read, a loss always with its reason).
#include <cstdint>
#include <cstdlib>
#include <string>

#include "FuzzTempFile.h"
#include "projects/StepFile.h"
#include "targets/ImageRules.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static ps::fuzz::FuzzTempFile image("image.img");
    if (size < 4) return 0;
    ps::StepSettings s;
    ps::ResetRunSettings(s, 1);
    ps::ResetStepSettings(s);
    s.ModelIndex = data[0] % 15 - 1;
    s.AddrStart = static_cast<int32_t>(data[1]) << 12;
    s.AddrLen = static_cast<int32_t>(data[2]) << 10;
    s.AddrExtFlash = static_cast<int32_t>(data[3]) << 16;
    s.ProgramFile = image.Path();
    image.Write(data + 4, size - 4);
    ps::MapGeometry map;
    int64_t listed = 0;
    const ps::StepImageAccount got = ps::AccountStepImage(
        s, map, [&](int64_t, int64_t count, uint64_t, const char* reason) {
            if (count <= 0 || reason == nullptr) std::abort();
            listed += count;
        });
    const ps::ImageAccount& a = got.Account;
    if (a.Lost < 0 || a.Lost > a.DataBytes) std::abort();
    if (a.Malformed.empty() && listed != a.Lost) std::abort();
    if (a.Lost > 0 && a.LostReason == nullptr) std::abort();
    (void)a.Problem();
    return 0;
}

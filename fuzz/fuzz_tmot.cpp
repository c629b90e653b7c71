// SPDX-License-Identifier: MIT
// Fuzzes the S-record parser and image holder line by line, as the 91360 loaders use it.
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <string>
#include <string_view>

#include "images/HexConvert.h"
#include "images/TMOT.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const auto mot = std::make_unique<ps::TMOT>();
    // Clearing 512 K entries per input is costly under the sanitizers: only after a store.
    static bool stored = true;
    if (stored) mot->ClearImage();
    stored = false;
    // The first byte picks an ADDRSTART, so offsets below zero and past the image occur.
    const int32_t addrStart = size > 0 ? (static_cast<int32_t>(data[0]) - 128) * 0x4000 : 0;
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    size_t start = size > 0 ? 1 : 0;
    while (start <= text.size()) {
        size_t end = text.find_first_of("\r\n", start);
        if (end == std::string_view::npos) end = text.size();
        const std::string line(text.substr(start, end - start));
        start = end + 1;
        try {
            mot->ParseLine(line);
        } catch (const ps::EConvertError&) {
            continue;
        }
        if (mot->BadLine != 0 || mot->RecordType != '2') continue;
        if (mot->DataCount < -4 || mot->DataCount > 251) std::abort();
        if (mot->Address > 0xFFFFFF) std::abort();
        const int kept = mot->StoreLine(addrStart);
        if (kept < 0 || kept > (mot->DataCount < 0 ? 0 : mot->DataCount)) std::abort();
        stored = stored || kept > 0;
    }
    return 0;
}

// SPDX-License-Identifier: MIT
#include "targets/bootloader/sharc/RangeCrc.h"

#include "run/Station.h"
#include "link/Link.h"

namespace ps {

namespace {
constexpr uint8_t RangeCrcAsk = 0x43;  // 'C'
}

void AppendSharcEscaped(std::string& out, uint8_t b) {
    if (b == SharcEscape || b == SharcEnd) {
        out += static_cast<char>(SharcEscape);
        out += static_cast<char>(static_cast<uint8_t>(~b));
    } else {
        out += static_cast<char>(b);
    }
}

uint32_t RangeCrc(Station& st, uint32_t first, uint32_t last) {
    std::string frame(1, static_cast<char>(RangeCrcAsk));
    for (uint32_t v : {first, last})
        for (int shift = 24; shift >= 0; shift -= 8)
            AppendSharcEscaped(frame, static_cast<uint8_t>(v >> shift));
    SendText(st, frame);
    uint32_t crc = 0;
    for (int i = 0; i < 4; ++i) {
        crc = (crc << 8) | ReadByte(st);
        if (st.RunError == RunStopped) return 0;
    }
    return crc;
}

}  // namespace ps

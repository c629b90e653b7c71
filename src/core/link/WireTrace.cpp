// SPDX-License-Identifier: MIT
#include "link/WireTrace.h"

#include <cinttypes>

#include "link/Clock.h"

namespace ps {

WireTrace::WireTrace(Clock& clock, std::FILE* out) : clock_(clock), out_(out) {}

void WireTrace::Event(const std::string& text) {
    for (std::FILE* out : {out_, extra_}) {
        if (out == nullptr) continue;
        std::fprintf(out, "%" PRId64 " %s\n", clock_.NowMs(), text.c_str());
        // One line at a time reaches the file, so a trace of a run that crashed or was
        // killed still shows the last thing that went over the wire.
        std::fflush(out);
    }
}

void WireTrace::Bytes(const char* tag, const uint8_t* data, size_t count) {
    static constexpr char Hex[] = "0123456789ABCDEF";
    std::string line = tag;
    line.reserve(line.size() + count * 3);
    for (size_t i = 0; i < count; ++i) {
        line += ' ';
        line += Hex[data[i] >> 4];
        line += Hex[data[i] & 0x0F];
    }
    Event(line);
}

}  // namespace ps

// SPDX-License-Identifier: MIT
#pragma once
#include <cstdint>
#include <cstdio>
#include <string>

namespace ps {

class Clock;

// The wire trace: one line per port event, the milliseconds of the station's clock, a
// blank, then the event ("TX 4B 32 03 12 34 B6", "RX 69", "DTR 1", "PURGE", ...).
class WireTrace {
public:
    WireTrace(Clock& clock, std::FILE* out);  // out is not closed by the trace
    void Event(const std::string& text);
    void Bytes(const char* tag, const uint8_t* data, size_t count);  // "TX"/"RX" + hex
    // Every line also goes to `extra` (the terminal station's --verbose: standard error).
    void AlsoTo(std::FILE* extra) { extra_ = extra; }

private:
    Clock& clock_;
    std::FILE* out_;
    std::FILE* extra_ = nullptr;
};

}  // namespace ps

// SPDX-License-Identifier: MIT
// Fuzzes the two hex conversions on arbitrary lines and the image line reader on arbitrary
// file contents.
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>

#include "images/HexConvert.h"
#include "images/ImageFile.h"

namespace {

void CheckConversions(const std::string& line) {
    const auto clamped = ps::LenientHexPairs(line);
    const auto unclamped = ps::LenientHexPairs(line, false);
    if (clamped.size() != line.size() / 2 || unclamped.size() != clamped.size()) std::abort();

    const int last = static_cast<int>(line.size()) + 2;
    for (int position = -1; position <= last && position < 64; ++position) {
        for (int digits : {1, 2, 4, 6, 8}) {
            try {
                const uint32_t value = ps::StrictHex(line, position, digits);
                if (digits < 8 && value >= (1u << (4 * digits))) std::abort();
            } catch (const ps::EConvertError&) {
            }
        }
    }
}

// One scratch file for the whole run, removed when the fuzzer exits.
struct ScratchFile {
    ScratchFile() {
        char pattern[] = "/tmp/fuzz_hex-XXXXXX";
        const int fd = ::mkstemp(pattern);
        if (fd < 0) std::abort();
        ::close(fd);
        Path = pattern;
    }
    ~ScratchFile() { ::unlink(Path.c_str()); }
    std::string Path;
};

void CheckReader(const uint8_t* data, size_t size) {
    static const ScratchFile scratch;
    const std::string& path = scratch.Path;
    std::FILE* out = std::fopen(path.c_str(), "wb");
    if (out == nullptr) std::abort();
    if (size > 0) std::fwrite(data, 1, size, out);
    std::fclose(out);

    ps::ImageText file;
    if (!file.Open(path)) std::abort();
    if (file.Size() != static_cast<int64_t>(size)) std::abort();
    std::string line;
    size_t total = 0;
    while (file.ReadLine(line)) {
        if (line.empty()) std::abort();
        if (line.find_first_of("\r\n") != std::string::npos) std::abort();
        total += line.size();
    }
    if (file.Position() != file.Size()) std::abort();
    size_t breaks = 0;
    for (size_t i = 0; i < size; ++i) breaks += data[i] == '\r' || data[i] == '\n';
    if (total + breaks != size) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    size_t start = 0;
    while (start <= text.size()) {
        size_t end = text.find('\n', start);
        if (end == std::string_view::npos) end = text.size();
        CheckConversions(std::string(text.substr(start, end - start)));
        start = end + 1;
    }
    CheckReader(data, size);
    return 0;
}

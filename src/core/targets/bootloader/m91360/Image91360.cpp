// SPDX-License-Identifier: MIT
#include "targets/bootloader/m91360/Image91360.h"

#include <algorithm>
#include <cmath>
#include <memory>

#include "run/Station.h"
#include "images/ImageFile.h"
#include "images/TMOT.h"
#include "link/Crc32.h"
#include "link/Link.h"

namespace ps {

namespace {
constexpr int LinesPerPump = 64;              // keeps STOP alive while a long file is read
constexpr int64_t CrcBytesPerPump = 0x10000;  // and while a long window is summed
constexpr uint8_t ErasedByte = 0xFF;
}  // namespace

void ClearRunMap(Station& st) {
    const int rows = st.Map.ShownRows();
    for (int i = 0; i <= rows; ++i) st.ByteLabel(i, "");
    st.ClearBlocks();
    PumpMessages(st);
}

Image91360::Image91360(Station& st) : st_(st) {
    // Tests and tools may run a flow on a station that was never activated.
    if (!st_.Mot) st_.Mot = std::make_unique<TMOT>();
    first_ = st_.Step.AddrStart;
    const int64_t length = std::clamp<int64_t>(st_.Step.AddrLen, 0, TMOT::ImageEntries);
    end_ = first_ + length;
}

bool Image91360::Load(const std::string& fileName) {
    TMOT& mot = *st_.Mot;
    st_.RowByteCounts.fill(0);
    loaded_ = 0;
    const std::string name = ResolveImageName(fileName, Image91360Extension);
    ImageText file;
    if (!OpenImageText(file, name, st_)) return false;
    mot.ClearImage();
    std::string line;
    for (int lines = 1; file.ReadLine(line); ++lines) {
        mot.ParseLine(line);
        if (mot.BadLine) {
            file.Close();
            st_.ImageFileError(NotHexMessage(name));
            return false;
        }
        if (mot.RecordType == '2') loaded_ += mot.StoreLine(st_.Step.AddrStart);
        if (lines % LinesPerPump == 0) PumpMessages(st_);
        if (st_.RunError == RunStopped) return false;
    }
    // A file that could not be read to its end must not be sent as if it were complete
    // (the reader has reported why: a read error, or a line longer than any record).
    if (file.Failed()) return false;
    return st_.RunError == RunOk;
}

bool Image91360::Present(int64_t address) const {
    const int64_t offset = address - st_.Step.AddrStart;
    return offset >= 0 && offset < TMOT::ImageEntries &&
           st_.Mot->Image[static_cast<size_t>(offset)].Present;
}

int64_t Image91360::NextPresent(int64_t a) const {
    while (a < end_ && !Present(a)) ++a;
    return std::min(a, end_);
}

int64_t Image91360::RunEnd(int64_t a, int64_t maxBytes, int64_t limit) const {
    const int64_t last = std::min(a + maxBytes, limit) - 1;
    int64_t b = a;
    while (b < last && Present(b + 1)) ++b;
    return b;
}

void Image91360::AppendRunFrame(std::vector<uint8_t>& frame, int64_t a, int64_t b) const {
    const auto address = static_cast<uint32_t>(a);
    const auto length = static_cast<uint16_t>(b - a + 1);
    for (int shift = 0; shift < 32; shift += 8)
        frame.push_back(static_cast<uint8_t>(address >> shift));
    frame.push_back(static_cast<uint8_t>(length & 0xFF));
    frame.push_back(static_cast<uint8_t>(length >> 8));
    const auto& image = st_.Mot->Image;
    const auto offset = static_cast<size_t>(a - st_.Step.AddrStart);
    for (size_t i = 0; i < length; ++i) frame.push_back(image[offset + i].Value);
}

uint32_t Image91360::Crc(int64_t first, int64_t last) const {
    const auto& image = st_.Mot->Image;
    uint32_t crc = 0xFFFFFFFFu;
    for (int64_t a = first; a <= last; ++a) {
        if ((a - first) % CrcBytesPerPump == CrcBytesPerPump - 1) {
            PumpMessages(st_);
            if (st_.RunError == RunStopped) return 0;
        }
        const int64_t offset = a - st_.Step.AddrStart;
        const bool inside = offset >= 0 && offset < TMOT::ImageEntries;
        const TMOT::Entry* entry = inside ? &image[static_cast<size_t>(offset)] : nullptr;
        crc = Crc32Update(crc, entry && entry->Present ? entry->Value : ErasedByte);
    }
    return ~crc;
}

int Image91360::CellOf(int64_t address) const {
    const int64_t addrLen = st_.Step.AddrLen;
    if (addrLen <= 0) return 0;
    const double cells = static_cast<double>(st_.Map.ShownRows()) * st_.Map.ShownCols();
    return static_cast<int>(std::trunc(static_cast<double>(address - first_) / addrLen * cells));
}

void Image91360::CountRun(int64_t a, int64_t b) {
    sent_ += b - a + 1;
    const int row = CellOf(a) / st_.Map.ShownCols();
    if (row >= 0 && row < static_cast<int>(st_.RowByteCounts.size()))
        st_.RowByteCounts[static_cast<size_t>(row)] += static_cast<int32_t>(b - a + 1);
}

void Image91360::ShowRun(int64_t a, int64_t b) {
    const int cols = st_.Map.ShownCols();
    for (int cell = CellOf(a), last = CellOf(b); cell <= last; ++cell) {
        if (cell == lastCell_) continue;
        st_.SetBlock(cell / cols, cell % cols, ProgrammedColour);
        lastCell_ = cell;
    }
    // Default rounding mode: halves go to the even neighbour.
    if (loaded_ > 0)
        st_.Progress(static_cast<int>(std::nearbyint(static_cast<double>(sent_) / loaded_ * 100)));
}

void Image91360::ShowRowCounts() {
    const int rows = st_.Map.ShownRows();
    int64_t total = 0;
    for (int32_t count : st_.RowByteCounts) total += count;
    st_.ByteLabel(0, std::to_string(total));
    for (int r = 1; r <= rows; ++r)
        st_.ByteLabel(r, std::to_string(st_.RowByteCounts[static_cast<size_t>(r - 1)]));
    PumpMessages(st_);
}

}  // namespace ps

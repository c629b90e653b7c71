// SPDX-License-Identifier: MIT
#include "targets/bootloader/infineon/InfineonImage.h"

#include <algorithm>

#include "run/Station.h"
#include "images/HexConvert.h"
#include "images/ImageFile.h"
#include "link/Link.h"

namespace ps {

namespace {

constexpr const char* InfineonHexExtension = ".HEX";
constexpr char RecordMark = ':';
constexpr uint8_t DataRecord = 0x00;
constexpr uint8_t UpperAddressRecord = 0x04;
constexpr int LinesPerPump = 64;  // keeps STOP alive while a long file is read

template <size_t N>
int SectorOf(const std::array<FlashSector, N>& table, uint32_t offset) {
    int sector = 1;
    for (size_t i = 0; i < N; ++i)
        if (table[i].Offset <= offset) sector = static_cast<int>(i) + 1;
    return sector;
}

// One part of the image that a file's bytes may land in.
struct Range {
    int64_t Base;
    int64_t Length;
    int32_t ImageOffset;  // where the part starts in the image
    bool External;
};

// Stores the bytes of a data record that fall into `range`, marking their pages and cells.
void Store(Station& st, const InfineonMapScale& scale, const Range& range, int64_t address,
           const std::vector<uint8_t>& data) {
    const int64_t first = std::max(address, range.Base);
    const int64_t end =
        std::min(address + static_cast<int64_t>(data.size()), range.Base + range.Length);
    if (first >= end) return;
    const int64_t o1 = first - range.Base;
    const int64_t o2 = end - 1 - range.Base;
    for (int64_t o = o1; o <= o2; ++o)
        st.InfineonImage[static_cast<size_t>(range.ImageOffset + o)] =
            data[static_cast<size_t>(first - address + (o - o1))];
    const int64_t page0 = range.ImageOffset / InfineonPageSize;
    for (int64_t p = o1 / InfineonPageSize; p <= o2 / InfineonPageSize; ++p)
        st.InfineonPageUsed[static_cast<size_t>(page0 + p)] = 1;
    PaintInfineonCells(st, scale, range.External, o1, o2, LoadedColour);
}

}  // namespace

void EnsureInfineonImage(Station& st) {
    st.InfineonImage.resize(InfineonImageSize, 0xFF);
    st.InfineonPageUsed.resize(InfineonPageCount, 0);
}

int InternalSectorOfPage(int page) {
    return SectorOf(InternalSectors, static_cast<uint32_t>(page) * InfineonPageSize);
}

int ExternalSectorOfPage(int page) {
    return SectorOf(ExternalSectors, static_cast<uint32_t>(page) * InfineonPageSize);
}

InfineonMapScale InfineonScale(const Station& st, int32_t internalLength, int32_t externalLength) {
    InfineonMapScale scale;
    scale.AddrLen = st.Step.AddrLen;
    scale.Cols = st.Map.ShownCols();
    scale.Cells = st.Map.ShownRows() * scale.Cols;
    const int64_t cellSize = (int64_t{externalLength} + internalLength) / scale.Cells;
    scale.InternalCells = cellSize > 0 ? static_cast<int>(internalLength / cellSize) : scale.Cells;
    return scale;
}

int InfineonCell(const InfineonMapScale& scale, int64_t offset) {
    if (scale.AddrLen <= 0) return 0;
    return static_cast<int>(offset * scale.Cells / scale.AddrLen);
}

void PaintInfineonCells(Station& st, const InfineonMapScale& scale, bool external, int64_t first,
                        int64_t last, uint32_t colour) {
    if (scale.AddrLen <= 0) return;
    const int shift = external ? scale.InternalCells : 0;
    const int from = std::max(InfineonCell(scale, first) + shift, 0);
    const int to = std::min(InfineonCell(scale, last) + shift, scale.Cells - 1);
    for (int cell = from; cell <= to; ++cell)
        st.SetBlock(cell / scale.Cols, cell % scale.Cols, colour);
}

bool LoadInfineonHex(Station& st, const std::string& fileName, uint32_t internalBase,
                     bool clearExternal, int32_t externalLength, uint32_t externalBase,
                     bool clearInternal, int32_t internalLength) {
    EnsureInfineonImage(st);
    auto& image = st.InfineonImage;
    if (clearInternal) std::fill(image.begin(), image.begin() + InfineonInternalSize, 0xFF);
    if (clearExternal) std::fill(image.begin() + InfineonInternalSize, image.end(), 0xFF);
    std::fill(st.InfineonPageUsed.begin(), st.InfineonPageUsed.end(), 0);
    uint32_t upper = internalBase / 0x10000;

    const std::string name = ResolveImageName(fileName, InfineonHexExtension);
    ImageText file;
    if (!OpenImageText(file, name, st)) return false;

    const InfineonMapScale scale = InfineonScale(st, internalLength, externalLength);
    if (scale.AddrLen > 0) {
        for (int cell = 0; cell < scale.Cells; ++cell)
            st.SetBlock(cell / scale.Cols, cell % scale.Cols,
                        cell < scale.InternalCells ? EmptyColour : InfineonGreyColour);
        PumpMessages(st);
    }

    // A range never reaches past its part of the image: the boot stages' ranges are small,
    // and loader2's may run on into the external part, which the step's image clears.
    const Range internal{internalBase, std::clamp<int64_t>(internalLength, 0, InfineonImageSize), 0,
                         false};
    const Range external{externalBase, std::clamp<int64_t>(externalLength, 0, InfineonExternalSize),
                         InfineonInternalSize, true};
    std::string line;
    std::vector<uint8_t> data;
    int lineCount = 0;
    while (file.ReadLine(line)) {
        if (!CheckRecordMark(line, RecordMark, name, st)) return false;
        const uint8_t type = StrictHexByte(line, 8);
        if (type == UpperAddressRecord) {
            upper = StrictHexByte(line, 12);
        } else if (type == DataRecord) {
            const int count = StrictHexByte(line, 2);
            const int64_t address = StrictHex(line, 4, 4) + int64_t{upper} * 0x10000;
            data.resize(static_cast<size_t>(count));
            for (int i = 0; i < count; ++i)
                data[static_cast<size_t>(i)] = StrictHexByte(line, 10 + 2 * i);
            Store(st, scale, internal, address, data);
            Store(st, scale, external, address, data);
        }
        if (++lineCount % LinesPerPump == 0) PumpMessages(st);
        if (st.RunError == RunStopped) return false;
    }
    return true;
}

}  // namespace ps

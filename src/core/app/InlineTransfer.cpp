// SPDX-License-Identifier: MIT
#include "app/InlineTransfer.h"

#include <cmath>

#include "run/Station.h"
#include "images/ImageFile.h"
#include "link/Link.h"

namespace ps {

int TransferPercent(int64_t part, int64_t whole) {
    if (whole <= 0) return 100;
    // The default rounding mode takes halves to the even neighbour.
    return static_cast<int>(
        std::nearbyint(static_cast<double>(part) / static_cast<double>(whole) * 100.0));
}

int ProportionalBlock(const Station& st, int64_t address) {
    const int64_t length = st.Step.AddrLen;
    if (length <= 0) return -1;
    const int64_t blocks = static_cast<int64_t>(st.Map.ShownRows()) * st.Map.ShownCols();
    const double exact = static_cast<double>(address - st.Step.AddrStart) /
                         static_cast<double>(length) * static_cast<double>(blocks);
    const double index = std::trunc(exact);
    // Outside the address space the block would lie off the grid; the panel would clamp it
    // onto an edge block that holds none of it.
    if (!(index >= 0) || index >= static_cast<double>(blocks)) return -1;
    return static_cast<int>(index);
}

void MarkProgrammed(Station& st, int index) {
    if (index < 0) return;
    const int cols = st.Map.ShownCols();
    if (index / cols >= st.Map.ShownRows()) return;
    st.SetBlock(index / cols, index % cols, ProgrammedColour);
}

void MarkProgrammedOnce(Station& st, int index, int& lastIndex) {
    if (index < 0 || index == lastIndex) return;
    lastIndex = index;
    MarkProgrammed(st, index);
}

void ClearMapForTransfer(Station& st) {
    if (st.Step.AddrLen <= 0) return;
    st.ClearBlocks();
    PumpMessages(st);
}

void ShowRowByteCounts(Station& st, int64_t total) {
    st.ByteLabel(0, std::to_string(total));
    const int rows = st.Map.ShownRows();
    for (int row = 0; row < rows; ++row)
        st.ByteLabel(row + 1, std::to_string(st.RowByteCounts[static_cast<size_t>(row)]));
}

ImageRead ReadImageLines(Station& st, const std::string& name, char mark,
                         const ImageLineHandler& handler) {
    ImageText file;
    if (!OpenImageText(file, name, st)) return ImageRead::BadFile;
    std::string line;
    int lines = 0;
    while (file.ReadLine(line)) {
        if (!CheckRecordMark(line, mark, name, st)) return ImageRead::BadFile;
        switch (handler(line, file)) {
            case LineVerdict::Next:
                break;
            case LineVerdict::Stop:
                return ImageRead::Stopped;
            case LineVerdict::Malformed:
                // A record cut short holds bytes the file does not have: never send those.
                file.Close();
                st.ImageFileError(NotHexMessage(name));
                return ImageRead::BadFile;
        }
        if (++lines % TransferLinesPerPump == 0) PumpMessages(st);
    }
    // A line too long or a read error ends the reading; the reader has reported it.
    return file.Failed() ? ImageRead::BadFile : ImageRead::Completed;
}

}  // namespace ps

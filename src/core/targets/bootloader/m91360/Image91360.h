// SPDX-License-Identifier: MIT
#pragma once
#include <cstdint>
#include <string>
#include <vector>

namespace ps {

class Station;

inline constexpr const char* Image91360Extension = ".MHX";

// Clears the byte column (labels 0 to rows) and the memory map before a 91360 step.
void ClearRunMap(Station& st);

// The image of a 91360 step: the step's S-record file in TMOT at offsets from
// "/ADDRSTART=", and the bookkeeping of sending it in runs of consecutive bytes (the byte
// counter of each map row, the map's cells, the progress bar). Addresses are 64-bit so
// that no window of the step file can overflow them.
class Image91360 {
public:
    explicit Image91360(Station& st);

    // Reads the file (".MHX" when the name has no dot) into TMOT: "S2" records only.
    // False when it could not be used (reported with a message box, RunError 12), when a
    // read failed half-way (reported the same way), or on STOP: nothing may then be sent.
    // A field that is not hexadecimal raises EConvertError, which ends the run.
    bool Load(const std::string& fileName);
    int64_t Loaded() const { return loaded_; }

    // The step's window [First(), End()), cut where TMOT ends: no byte lies beyond.
    int64_t First() const { return first_; }
    int64_t End() const { return end_; }

    bool Present(int64_t address) const;
    // The first present address at or after a, or End().
    int64_t NextPresent(int64_t a) const;
    // The last address of the run from a (present): consecutive present bytes, at most
    // maxBytes of them, all before limit.
    int64_t RunEnd(int64_t a, int64_t maxBytes, int64_t limit) const;
    // Appends a run frame's body: the address (32 bits) and the length (16 bits), both low
    // byte first, then the bytes of a to b.
    void AppendRunFrame(std::vector<uint8_t>& frame, int64_t a, int64_t b) const;
    // CRC-32 of the image from first to last, an absent byte counting as erased flash
    // (0xFF); empty when last < first. Meaningless when STOP came meanwhile (RunError 1).
    uint32_t Crc(int64_t first, int64_t last) const;

    // After a run from a to b: its bytes count in the row of a's map cell.
    void CountRun(int64_t a, int64_t b);
    // After an accepted run: its cells are painted and the progress bar moves.
    void ShowRun(int64_t a, int64_t b);
    // The counters in the byte column: the total in label 0, row r's counter in label r.
    void ShowRowCounts();

private:
    int CellOf(int64_t address) const;

    Station& st_;
    int64_t first_ = 0;
    int64_t end_ = 0;
    int64_t loaded_ = 0;
    int64_t sent_ = 0;
    int lastCell_ = -1;
};

}  // namespace ps

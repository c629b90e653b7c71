// SPDX-License-Identifier: MIT
#pragma once
#include <cstdint>
#include <functional>
#include <string>

namespace ps {

// The image account: every data byte an Intel HEX or S-record file holds, and whether the
// step's loader puts it on the board at its own address. A step programs its image only
// when nothing is left out; the checks (--check-images, --strict-images, --show-steps)
// and the run record use the same account, so they can never pass a file that a loader
// then misreads.

enum class RecordFormat { IntelHex, SRecord };

// One data byte as the file gives it.
struct ImageByte {
    int RecordType = 0;      // Intel: 0x00; S-records: 1, 2 or 3
    uint32_t Address = 0;    // the record's address field plus the byte's place in it
    int BaseRecord = 0;      // Intel: 0x02 or 0x04 when such a record set the base, else 0
    uint32_t BaseValue = 0;  // the 16-bit value of that record (0 before any)
    uint8_t Value = 0;
    uint64_t FullAddress() const;  // the address the file means: base plus address
};

// Where a model's loader puts a byte: nullptr when it programs it at its own address,
// otherwise the reason in plain words (one of the Lost* texts below, or a model's own).
using ImageByteJudge = std::function<const char*(const ImageByte&)>;

// Reasons a byte is not programmed, shown after the count and the first address.
extern const char* const LostOutsideWindow;    // "outside /ADDRSTART= and /ADDRLEN="
extern const char* const LostBankWindows;      // "no place in the banked flash's CPU windows"
extern const char* const LostNeitherFlash;     // "in neither flash"
extern const char* const LostS1OnlyS2;         // "S1 records: this loader sends S2 records only"
extern const char* const LostS3OnlyS2;         // "S3 records: this loader sends S2 records only"
extern const char* const LostS2OnlyS1;         // "S2 records: this loader sends S1 records only"
extern const char* const LostS3OnlyS1;         // "S3 records: this loader sends S1 records only"
extern const char* const LostExtendedAddress;  // "under an extended address the 16-bit ..."
// Reasons a whole file is malformed.
extern const char* const BadShortRecord;    // "record shorter than its count"
extern const char* const BadHexDigit;       // "not a hex digit"
extern const char* const BadCountTooSmall;  // "count too small for its address"
extern const char* const BadRecordMark;     // "no record mark"
extern const char* const BadReadError;      // "the file could not be read to its end"
extern const char* const BadNoData;         // "no data records"

struct ImageAccount {
    bool Opened = false;        // false: the file could not be opened (the flow reports it)
    bool Stopped = false;       // the reading was asked to end before the end of the file
    std::string Malformed;      // why the file cannot be read as records; "" when it can
    int64_t MalformedLine = 0;  // the line of that fault
    std::string BadText;        // the pair of characters that is no hex number, if that is it
    int64_t DataBytes = 0;      // data bytes of the file (repeated addresses counted again)
    int64_t Lost = 0;           // data bytes the loader does not program at their address
    uint64_t FirstLostAddress = 0;
    int64_t FirstLostLine = 0;
    const char* LostReason = nullptr;  // the reason for the first of them

    // True when the step may program the image: opened, well formed, holding data, and
    // every data byte (but erased ones, which flash holds anyway) programmed.
    bool Programmable() const;  // (never when Stopped)
    // The plain words of what is wrong ("" when nothing is):
    // "3 data bytes will not be programmed, the first at 0x9000 (line 12): outside ..."
    // or "line 7: record shorter than its count".
    std::string Problem() const;
};

// Called for each record that loses bytes (line, bytes of it lost, the first one's
// address, the reason); a checker lists them, the run does not need them.
using LostRecordSink =
    std::function<void(int64_t line, int64_t count, uint64_t first, const char* reason)>;

// Reads the file line by line (never more than one line in memory) and accounts every
// data byte with the judge. Hex digits of either case are read as the digits they are;
// any other character in a record's fields makes the file malformed, as does a record
// shorter than its count, a line without the record mark, a read error or an over-long
// line. Data after an end record is accounted like any other; a byte of 0xFF that is
// not programmed is no loss (flash holds 0xFF where nothing was written).
// `keepGoing` is asked every few dozen lines (a long file must not freeze the window or
// STOP); when it says no, the reading ends with Stopped set.
ImageAccount AccountImageFile(const std::string& path, RecordFormat format,
                              const ImageByteJudge& judge, const LostRecordSink& sink = {},
                              const std::function<bool()>& keepGoing = {});

}  // namespace ps

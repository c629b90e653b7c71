// SPDX-License-Identifier: MIT
#include "images/ImageAccount.h"

#include <algorithm>
#include <cstdio>

#include "images/HexConvert.h"
#include "images/ImageFile.h"

namespace ps {

const char* const LostOutsideWindow = "outside /ADDRSTART= and /ADDRLEN=";
const char* const LostBankWindows = "no place in the banked flash's CPU windows";
const char* const LostNeitherFlash = "in neither flash";
const char* const LostS1OnlyS2 = "S1 records: this loader sends S2 records only";
const char* const LostS3OnlyS2 = "S3 records: this loader sends S2 records only";
const char* const LostS2OnlyS1 = "S2 records: this loader sends S1 records only";
const char* const LostS3OnlyS1 = "S3 records: this loader sends S1 records only";
const char* const LostExtendedAddress = "under an extended address the 16-bit loader cannot reach";
const char* const BadShortRecord = "record shorter than its count";
const char* const BadHexDigit = "not a hex digit";
const char* const BadCountTooSmall = "count too small for its address";
const char* const BadRecordMark = "no record mark";
const char* const BadReadError = "the file could not be read to its end";
const char* const BadNoData = "no data records";

namespace {

constexpr uint8_t ErasedByte = 0xFF;
constexpr int64_t LinesPerAsk = 64;
constexpr int IntelData = 0x00;
constexpr int IntelSegmentBase = 0x02;
constexpr int IntelLinearBase = 0x04;

std::string Hex(uint64_t value) {
    char text[24];
    std::snprintf(text, sizeof text, "0x%llX", static_cast<unsigned long long>(value));
    return text;
}

// The fields of one record: hex pairs from `from`, `pairs` of them. Returns nullptr or the
// reason the record cannot be read.
// `bad` gets the pair that holds a foreign character.
const char* ReadPairs(const std::string& line, size_t from, size_t pairs, uint8_t* out,
                      std::string& bad) {
    const size_t end = std::min(line.size(), from + 2 * pairs);
    for (size_t i = from; i < end; i += 2) {
        const std::string pair = line.substr(i, 2);
        const int hi = HexDigitValue(pair[0]), lo = pair.size() > 1 ? HexDigitValue(pair[1]) : 0;
        if (hi < 0 || lo < 0) {
            bad = pair;
            return BadHexDigit;
        }
        out[(i - from) / 2] = static_cast<uint8_t>(hi * 16 + lo);
    }
    // A shorter line (whose characters are digits) is a record cut short.
    return end < from + 2 * pairs ? BadShortRecord : nullptr;
}

// Counts the losses of one record, reports them to the sink at its end.
class Tally {
public:
    Tally(ImageAccount& account, const ImageByteJudge& judge, const LostRecordSink& sink)
        : account_(account), judge_(judge), sink_(sink) {}

    void Byte(const ImageByte& b, int64_t line) {
        ++account_.DataBytes;
        const char* reason = judge_(b);
        if (reason == nullptr || b.Value == ErasedByte) return;
        if (account_.Lost++ == 0) {
            account_.FirstLostAddress = b.FullAddress();
            account_.FirstLostLine = line;
            account_.LostReason = reason;
        }
        if (recordLost_++ == 0) {
            recordFirst_ = b.FullAddress();
            recordReason_ = reason;
        }
    }

    void EndRecord(int64_t line) {
        if (recordLost_ > 0 && sink_) sink_(line, recordLost_, recordFirst_, recordReason_);
        recordLost_ = 0;
    }

private:
    ImageAccount& account_;
    const ImageByteJudge& judge_;
    const LostRecordSink& sink_;
    int64_t recordLost_ = 0;
    uint64_t recordFirst_ = 0;
    const char* recordReason_ = nullptr;
};

// ":" count(2) address(4) type(2) data(2 x count) checksum(2).
const char* IntelLine(const std::string& line, int64_t number, ImageByte& base, Tally& tally,
                      std::string& text) {
    if (line[0] != ':') return BadRecordMark;
    uint8_t header[4];
    if (const char* bad = ReadPairs(line, 1, 4, header, text)) return bad;
    const int count = header[0];
    uint8_t data[256 + 1];
    if (const char* bad = ReadPairs(line, 9, static_cast<size_t>(count) + 1, data, text))
        return bad;
    const int type = header[3];
    if ((type == IntelSegmentBase || type == IntelLinearBase) && count >= 2) {
        base.BaseRecord = type;
        base.BaseValue = static_cast<uint32_t>(data[0]) << 8 | data[1];
    } else if (type == IntelData) {
        ImageByte b = base;
        b.RecordType = IntelData;
        const uint32_t address = static_cast<uint32_t>(header[1]) << 8 | header[2];
        for (int i = 0; i < count; ++i) {
            b.Address = address + static_cast<uint32_t>(i);
            b.Value = data[i];
            tally.Byte(b, number);
        }
        tally.EndRecord(number);
    }
    return nullptr;
}

// "S" type count(2) address(4, 6 or 8) data checksum(2); the count counts the address,
// the data and the checksum.
const char* SrecLine(const std::string& line, int64_t number, Tally& tally, std::string& text) {
    if (line[0] != 'S') return BadRecordMark;
    if (line.size() < 2) return BadShortRecord;
    const char type = line[1];
    if (type < '1' || type > '3') return nullptr;  // header, count and end records
    uint8_t count = 0;
    if (const char* bad = ReadPairs(line, 2, 1, &count, text)) return bad;
    const int addressBytes = type - '0' + 1;
    if (count < addressBytes + 1) return BadCountTooSmall;
    uint8_t fields[256];
    if (const char* bad = ReadPairs(line, 4, count, fields, text)) return bad;
    uint32_t address = 0;
    for (int i = 0; i < addressBytes; ++i) address = address << 8 | fields[i];
    ImageByte b;
    b.RecordType = type - '0';
    for (int i = addressBytes; i < count - 1; ++i) {
        b.Address = address + static_cast<uint32_t>(i - addressBytes);
        b.Value = fields[i];
        tally.Byte(b, number);
    }
    tally.EndRecord(number);
    return nullptr;
}

}  // namespace

uint64_t ImageByte::FullAddress() const {
    switch (BaseRecord) {
        case IntelSegmentBase:
            return uint64_t{BaseValue} * 16 + Address;
        case IntelLinearBase:
            return uint64_t{BaseValue} << 16 | Address;
        default:
            return Address;
    }
}

bool ImageAccount::Programmable() const {
    return Opened && !Stopped && Malformed.empty() && DataBytes > 0 && Lost == 0;
}

std::string ImageAccount::Problem() const {
    if (!Opened) return {};
    if (!Malformed.empty()) {
        if (MalformedLine <= 0) return Malformed;
        return "line " + std::to_string(MalformedLine) + ": " + Malformed;
    }
    if (DataBytes == 0) return BadNoData;
    if (Lost == 0) return {};
    return std::to_string(Lost) + (Lost == 1 ? " data byte" : " data bytes") +
           " will not be programmed, the first at " + Hex(FirstLostAddress) + " (line " +
           std::to_string(FirstLostLine) + "): " + LostReason;
}

ImageAccount AccountImageFile(const std::string& path, RecordFormat format,
                              const ImageByteJudge& judge, const LostRecordSink& sink,
                              const std::function<bool()>& keepGoing) {
    ImageAccount account;
    ImageText file;
    if (!file.Open(path)) return account;
    account.Opened = true;
    Tally tally(account, judge, sink);
    ImageByte base;
    std::string line;
    while (file.ReadLine(line)) {
        const char* bad = format == RecordFormat::IntelHex
                              ? IntelLine(line, file.LineNumber(), base, tally, account.BadText)
                              : SrecLine(line, file.LineNumber(), tally, account.BadText);
        if (bad != nullptr) {
            account.Malformed = bad;
            account.MalformedLine = file.LineNumber();
            return account;
        }
        if (keepGoing && file.LineNumber() % LinesPerAsk == 0 && !keepGoing()) {
            account.Stopped = true;
            return account;
        }
    }
    if (file.LineTooLong()) {
        account.Malformed = ReasonLongLine + std::to_string(file.LineNumber());
        account.MalformedLine = 0;  // in the reason already, as the readers say it
    } else if (file.ReadFailed()) {
        account.Malformed = BadReadError;
        account.MalformedLine = 0;
    }
    return account;
}

}  // namespace ps

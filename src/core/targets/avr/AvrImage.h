// SPDX-License-Identifier: MIT
#pragma once
#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "projects/StepSettings.h"

namespace ps {

class Station;

// Programmer commands of the image work.
constexpr uint8_t AvrCmdDeviceParams = 0x41;  // 'A', p1, p2 -> 'O'
constexpr uint8_t AvrCmdWritePage = 0x53;     // 'S', word address high, low, 0x80, 128 bytes
constexpr uint8_t AvrCmdWriteEeprom = 0x57;   // 'W', offset high, low, byte -> 'O'
constexpr uint8_t AvrCmdReadEeprom = 0x52;    // 'R', offset high, low -> byte
constexpr int AvrPageSize = 128;
constexpr int AvrEepromRecordBytes = 16;  // data bytes per record of an EEPROM dump
inline constexpr const char* AvrHexExtension = ".HEX";
inline constexpr const char* IntelEndRecord = ":00000001FF";

// What a HEX file put into the AVR image: every data byte read, and those not 0xFF.
struct AvrLoadCounts {
    int Loaded = 0;
    int Data = 0;
};

// Third line of the malformed-file message for data under a non-zero extended address; the
// line number follows.
inline constexpr const char* ReasonExtendedAddress = "data above 64 KB (type 02/04 base) at line ";
// Start of the warning about records whose checksum is wrong (they load as they stand).
inline constexpr const char* WarnRecordChecksum = "WRONG RECORD CHECKSUM: ";

// Reads an Intel HEX file (strict hex fields, data records only) into image, which is first
// made AvrImageSize bytes of 0xFF. The flash takes 16-bit record addresses, so an
// extended-address record (type 02 or 04) with a base other than 0 followed by a data
// record makes the file malformed, as does a file without a single data byte: both are
// reported through the station's image report and give false, as do a file that cannot be
// opened and a line without ':'. A field that is not hexadecimal raises EConvertError; STOP
// gives false. Records whose checksum is wrong still load; the first of them is named in
// one warning per file (ImageFileWarning).
bool LoadAvrHex(Station& st, const std::string& fileName, std::vector<uint8_t>& image,
                AvrLoadCounts& counts);

// The range an "ATMEL" step works on must be one its commands can address: "BAD VALUE: "
// with the offending line when "/ADDRSTART=" and "/ADDRLEN=" give an empty or negative
// range, or one past the 128 KB image (flash), past the 16-bit offsets (EEPROM) or past
// the 16-bit word addresses of the checksum command. Empty when the range is usable (or
// the step uses none: no image and no checksum).
std::string AvrRangeError(const StepSettings& step);

// 0xFFFF minus the 16-bit sum of the image bytes the checksum command covers: from byte
// addrStart to byte 2u + 1 with u = addrLen / 2 + addrStart - 1. Bytes outside the image
// count as erased flash (0xFF).
uint16_t AvrImageChecksum(const std::vector<uint8_t>& image, int32_t addrStart, int32_t addrLen);

// Device parameters 'A', p1, p2 for a processor; empty for the loader (no command).
std::vector<uint8_t> DeviceParametersCommand(int processor);
// The header of a page write: 'S', word address high, low, 0x80.
std::array<uint8_t, 4> PageHeader(int page);
// The number of 128-byte pages from address 0 that cover the step's range, at most the
// pages the AVR image holds.
int AvrPageCount(int32_t addrStart, int32_t addrLen);
// The last offset the EEPROM operations touch: 2u + 1 as for the checksum.
int32_t AvrEepromEnd(int32_t addrStart, int32_t addrLen);

// The Intel HEX text of an EEPROM dump: records of 16 bytes from offset 0, upper-case
// digits, each line ending in "\r\n", then the end record.
std::string EepromHexText(const uint8_t* data, int count);

// The image operation of an "ATMEL" step: flash programming from the image already read
// into st.AvrImage (counts from that read), or with the AVR loader the EEPROM write from it
// ("/AT_PROG_EE=1") or the EEPROM read into the file ("=2").
void ProgramAvrImage(Station& st, const std::string& fileName, const AvrLoadCounts& counts);
void ProgramAvrFlash(Station& st, const AvrLoadCounts& counts);
void WriteAvrEeprom(Station& st, const AvrLoadCounts& counts);
void ReadAvrEeprom(Station& st, const std::string& fileName);

}  // namespace ps

// SPDX-License-Identifier: MIT
#pragma once
#include <cstdint>
#include <string>

namespace ps {

class Station;

// The resident S-record loader of a "MOTOROLA" board takes "S2" records as raw bytes
// ('S', '2', count, address high, middle, low, data, checksum) and answers each.
constexpr uint8_t MotorolaRecordMark = 0x53;  // 'S'
constexpr uint8_t MotorolaRecordType = 0x32;  // '2'
constexpr uint8_t MotorolaRecordAck = 0x69;   // 'i'
constexpr uint8_t MotorolaRecordNak = 0x68;   // 'h'
// Contiguous records are joined so the loader acknowledges long records, not every line;
// a record goes out once it holds more than this many data bytes.
constexpr int MotorolaSendAbove = 127;
// The longest record the loader can take: its count byte (three address bytes, the data
// and the checksum) must stay within 255, which also keeps it inside the loader's record
// buffer of 300 bytes. A join that would pass it sends the pending record first.
constexpr int MotorolaMaxData = 0xFF - 4;

// Reads the step's S-record file without sending anything: false (reported through the
// station) when it cannot be opened, a line is not a record, or an "S2" record is shorter
// than its count says.
bool CheckMotorolaImage(Station& st, const std::string& fileName);

// Sends the "S2" records of the file, joined where contiguous, each acknowledged by the
// loader ('h' counts an error). Computes ImageChecksum (each byte in range and not 0xFF,
// XOR the low byte of its address), counts the bytes per map row and marks the blocks.
void LoadMotorolaImage(Station& st, const std::string& fileName);

}  // namespace ps

// SPDX-License-Identifier: MIT
#pragma once
#include <cstdint>
#include <string>

namespace ps {

class Station;

// The 574 boot loader takes "S1" records as small frames of raw bytes, each after its own
// ready handshake: 0x18 -> 0x11; then 0x00, address high, low, 0x00, data count, the data
// and the 8-bit sum of the frame's bytes -> 0x01. Five bytes 0x40 0x00 0x00 0x00 0x00 end
// the transfer. The loader has no negative answer.
constexpr uint8_t Boot574Ready = 0x18;
constexpr uint8_t Boot574ReadyAnswer = 0x11;
constexpr uint8_t Boot574Accepted = 0x01;
constexpr uint8_t Boot574EndMark = 0x40;
constexpr int Boot574EndFrameBytes = 5;
// The loader needs this long after each accepted record before the next ready request.
constexpr int Boot574RecordGapMs = 5;

// Reads the step's S-record file without sending anything (the strict fields included):
// false, reported through the station, when it cannot be used.
bool CheckBoot574Image(Station& st, const std::string& fileName);

// Sends every "S1" record, then the end frame. Moves the gauge only: the 574 loader has no
// checksum command, so no ImageChecksum is computed.
void TransferBoot574Image(Station& st, const std::string& fileName);

}  // namespace ps

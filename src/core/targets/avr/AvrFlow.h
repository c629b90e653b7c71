// SPDX-License-Identifier: MIT
#pragma once
#include <cstddef>
#include <cstdint>
#include <string>

#include "run/Texts.h"

namespace ps {

class Station;

// Status texts of the "ATMEL" step; those it shares with the inline sequence are the
// run controller's own.
inline constexpr const char* MsgConnecting = TextConnecting;
inline constexpr const char* MsgOk = TextOk;
inline constexpr const char* MsgSearchingAtmel = TextSearchingAtmel;
inline constexpr const char* MsgAtmelIdError = TextAtmelIdError;
inline constexpr const char* MsgAtmelProtected = TextAtmelProtected;
inline constexpr const char* MsgWrongAtmel = TextWrongAtmel;
inline constexpr const char* MsgLoaderVersion = "loader version: ";
inline constexpr const char* MsgErasing = TextErasingMemory;
inline constexpr const char* MsgProgramming = TextProgramming;
inline constexpr const char* MsgReading = "reading...";
inline constexpr const char* MsgVerifying = TextVerifying;
inline constexpr const char* MsgProgramed = "Programed";
inline constexpr const char* MsgRead = "Read";
inline constexpr const char* MsgResultOk = " ok!";
inline constexpr const char* MsgChecksumOk = TextCheckSumOk;
inline constexpr const char* AvrLoaderUnlock = "kBoTaps";

// Programmer command bytes of the flow itself.
constexpr uint8_t AvrCmdConnect = 0x73;  // 's' -> 'i'
constexpr uint8_t AvrConnectAnswer = 0x69;
constexpr uint8_t AvrCmdSpeed = 0x4D;     // 'M', speed byte -> 'O'
constexpr uint8_t AvrCmdProgMode = 0x50;  // 'P' -> 'O'
constexpr uint8_t AvrCmdVersion = 0x76;   // 'v' -> text up to 0x00
constexpr uint8_t AvrCmdChecksum = 0x43;  // 'C', start, end (words) -> two bytes
constexpr uint8_t AvrCmdLeave = 0x58;     // 'X' -> 'O' (leaves the loader)
constexpr uint8_t AvrUnlockLockByte = 0xE0;
constexpr int AvrIdProtected = 999;
constexpr int AvrLineSettleMs = 100;
constexpr int AvrErrorPauseMs = 500;
constexpr int AvrLoaderUnlockMs = 2500;
constexpr size_t AvrVersionTextMax = 256;  // the loader's version text is cut here

// The byte after 'M': XCLK/4, /16, /64, /128 for "/SPEEDSET=" 0..3; anything else 4.
uint8_t AvrSpeedByte(int32_t speedSet);

// The "ATMEL" step: connects to the AVR programmer (or the AVR loader), identifies the
// device against "/ATMEL=", erases it, sets fuses, programs the flash or the loader's
// EEPROM (or reads the EEPROM into the file), verifies the checksum, sets lock bits, and
// shows the result. Leaves its outcome in RunError; a strict hex field that is not
// hexadecimal raises EConvertError, which the run controller reports.
void RunAtmelFlow(Station& st);

}  // namespace ps

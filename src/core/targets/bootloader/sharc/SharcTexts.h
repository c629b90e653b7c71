// SPDX-License-Identifier: MIT
#pragma once

#include "run/Texts.h"

// Status and message texts of the SHARC boards (AVR bridge, split 32-bit flash, host boot),
// exactly as the operator sees them. Those shared with the rest of the station are the run
// controller's own.
namespace ps {

inline constexpr const char* SharcTextConnectingAtmel = "connecting atmel...";
inline constexpr const char* SharcTextInitializingAtmel = "initializing atmel...";
inline constexpr const char* SharcTextConnectingSharc = "connecting sharc...";
inline constexpr const char* SharcTextConnectingUsb = TextConnecting;
inline constexpr const char* SharcTextRefused = " ERROR";  // appended after a refused unlock
inline constexpr const char* SharcTextOk = TextOk;
inline constexpr const char* SharcTextErasingMemory = TextErasingMemory;
inline constexpr const char* SharcTextErasingSectors = "erasing sectors... (";
inline constexpr const char* SharcTextPagesOpen = " (";
inline constexpr const char* SharcTextPagesClose = "/8)";
inline constexpr const char* SharcTextProgramming = TextProgramming;
inline constexpr const char* SharcTextVerifying = TextVerifying;
inline constexpr const char* SharcTextProgramedOk = TextProgramedOkLower;
inline constexpr const char* SharcMsgRecordRefused = "Error";  // message box after an "h"

// Ours: a record the eight flash pages cannot hold. Followed by the word address in hex,
// a carriage return and the file name.
inline constexpr const char* SharcMsgBeyondFlash = "RECORD BEYOND THE FLASH: word address 0x";

}  // namespace ps

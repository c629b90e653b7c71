// SPDX-License-Identifier: MIT
#pragma once

#include "run/Texts.h"

// Status texts of the Intel boot monitor and loader steps. Those they share with the inline
// step sequence are the run controller's own; the refusals are ours: the settings and images
// the loaders cannot place are refused before anything is sent.
namespace ps {

inline constexpr const char* IntelMsgOk = TextOk;
inline constexpr const char* IntelMsgProgramming = TextProgramming;
inline constexpr const char* IntelMsgErasingRam = TextErasingRam;
inline constexpr const char* IntelMsgErasingFlash = TextErasingMemory;
inline constexpr const char* IntelMsgFlashIdError = TextFlashIdError;
inline constexpr const char* IntelMsgProgramedOk = TextProgramedOkLower;
// The name IdentifyFlash gives a chip code outside its table.
inline constexpr const char* IntelFlashNameError = "ERROR";
// Put after a flash name in front of "programming...".
inline constexpr const char* IntelDeviceNameTail = ":  ";

// Refusals: followed by the values that cannot be used.
inline constexpr const char* IntelMsgAddrLenBelowRows =
    "ERROR : /ADDRLEN= is less than the map's rows: ";  // + "0 < 8"
inline constexpr const char* IntelMsgBankedAddrLen =
    "ERROR : /ADDRLEN= must be 1 to 262144 (16 banks of 16 KB): ";  // + value
inline constexpr const char* IntelMsgRamWindow =
    "ERROR : /ADDRSTART= and /ADDRLEN= leave the 64 KB of the RAM loader: ";  // + "0xF000 + 0x2000"
inline constexpr const char* IntelMsgRunAddr16 =
    "ERROR : /RUNADDR= does not fit the 16 bits of the RAM loader: ";  // + "0x12345"
inline constexpr const char* IntelMsgBytesFirstAt = " bytes, the first at ";
inline constexpr const char* IntelMsgInBank = " in bank ";

}  // namespace ps

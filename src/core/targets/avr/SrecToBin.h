// SPDX-License-Identifier: MIT
#pragma once
#include <string>

namespace ps {

class Station;

// Status texts of the .BIN copy (the blanks are part of them).
inline constexpr const char* MsgSavingBin = "saveing ";  // + target + "... "
inline constexpr const char* MsgSavingBinTail = "... ";
inline constexpr const char* MsgSaveBinOk = "SAVE .BIN FILE :      OK";
inline constexpr const char* MsgSaveBinError = "SAVE .BIN FILE :      ERROR";
// Ours: the copy could not be made at all (its source missing or not S-records, the target
// not creatable); the copy's name follows.
inline constexpr const char* MsgSaveBinFailed = "ERROR : .BIN copy not written: ";
constexpr int SaveBinErrorPauseMs = 3000;

// Copies the "S2" records of an S-record text file into a raw image of "/ADDRLEN=" bytes
// (0xFF where no record lands), at record address minus "/ADDRSTART=". The target is
// replaced only by a complete copy: a missing source, a bad line, a record that does not
// fit, a failed write (a full disk) or STOP leave an existing target as it was. A copy
// that fails ends the run with RunError 12 (unless STOP came first) and a red status that
// says so; an "S2" record too short to hold an address is skipped. True when the copy was
// written.
bool SrecToBin(Station& st, const std::string& source, const std::string& target);

}  // namespace ps

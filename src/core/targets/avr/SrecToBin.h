#pragma once
#include <string>

namespace ps {

class Station;

// Status texts of the .BIN copy (the blanks are part of them).
inline constexpr const char* MsgSavingBin = "saveing ";  // + target + "... "
inline constexpr const char* MsgSavingBinTail = "... ";
inline constexpr const char* MsgSaveBinOk = "SAVE .BIN FILE :      OK";
inline constexpr const char* MsgSaveBinError = "SAVE .BIN FILE :      ERROR";
constexpr int SaveBinErrorPauseMs = 3000;

// Copies the "S2" records of an S-record text file into a raw image of "/ADDRLEN=" bytes
// (0xFF where no record lands), at record address minus "/ADDRSTART=". The target is
// replaced only by a complete copy: a missing source, a bad line or a record that does not
// fit leave an existing target as it was. True when the copy was written.
bool SrecToBin(Station& st, const std::string& source, const std::string& target);

}  // namespace ps

// SPDX-License-Identifier: MIT
#pragma once
#include <cstdint>
#include <string>

namespace ps {

class Station;

// "MEM" + step number right-aligned in two characters + ".BIN": the raw copy of a step.
std::string ImageCopyName(int32_t step);

// "CHECK SUM FAIL (" + image checksum + "," + target checksum + ")", both decimal.
std::string CheckSumFailText(uint32_t image, uint32_t target);

// The result line of a step: "ERRORS: n" in red when the board refused commands; else
// okText, followed with checksum by "        check sum OK" or replaced by the failure text
// in red. Compares ImageChecksum with TargetChecksum.
void ShowStepResult(Station& st, const std::string& okText, bool checksum);
// The same for flows whose checksums are wider than the station's 16-bit pair (CRC-32).
void ShowStepResult(Station& st, const std::string& okText, bool checksum, uint32_t imageSum,
                    uint32_t targetSum);

}  // namespace ps

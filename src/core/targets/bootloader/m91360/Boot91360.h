// SPDX-License-Identifier: MIT
#pragma once
#include <string>

namespace ps {

class Station;

// The "91360 BOOT" step: wakes the target's boot ROM with "V" until it answers "F", loads
// the step's S-record image into the target's memory in runs, and starts the loaded
// program at its fixed address. A refused command shows "ERROR F1", "ERROR 83" or
// "ERROR 84" and ends the run with RunError 1 ("BREAK"). No automatic reset: a reset would
// throw away the program just loaded.
void Boot91360Flow(Station& st);

// Loads the image file into TMOT and sends every run of at most 201 consecutive bytes of
// the step's window, each opened by 0x01/0xF1 and 0x03/0x83.
void LoadAndSend91360Boot(Station& st, const std::string& fileName);

}  // namespace ps

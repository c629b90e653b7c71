// SPDX-License-Identifier: MIT
#pragma once

namespace ps {

class Station;

// "INTEL - BOOT": the image goes to the board's boot monitor as bare 256-byte blocks, back
// to back, without addresses or answers; "/SAVE" makes the raw copy.
void IntelBoot(Station& st);

// "INTEL - LOADER RAM": "/ERASERAM" clears the RAM window, the image goes out in
// acknowledged 128-byte blocks to 16-bit addresses, and "/RUNADDR=" starts the program.
void IntelLoaderRam(Station& st);

// "INTEL - LOADER FLASH": "/FLASHID" identifies the flash, "/ERASEFLASH" erases it, the image
// goes out in acknowledged 128-byte blocks to the banked flash (16 KB banks, the last one in
// the common window), and "/RUNADDR=" starts the program.
void IntelLoaderFlash(Station& st);

}  // namespace ps

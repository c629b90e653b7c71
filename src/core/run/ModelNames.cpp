// SPDX-License-Identifier: MIT
#include "run/ModelNames.h"

namespace ps {

namespace {
const char* const modelNames[ModelCount] = {
    "None",
    "MOTOROLA",
    "INTEL - BOOT",
    "INTEL - LOADER RAM",
    "INTEL - LOADER FLASH",
    "INTEL - EMULATOR",
    "SHARC-SPLIT 32b",
    "ATMEL",
    "SHARC-Boot flash",
    "SHARC-HostBoot",
    "574-BOOT",
    "91360 BOOT",
    "91360 LOADER",
    "INFINEON XC161CJ",
};
}  // namespace

const char* ModelName(int32_t modelIndex) {
    if (modelIndex < 0 || modelIndex >= ModelCount) return "";
    return modelNames[modelIndex];
}

}  // namespace ps

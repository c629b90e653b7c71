// SPDX-License-Identifier: MIT
#include "app/Models.h"

#include "targets/avr/AvrFlow.h"
#include "targets/bootloader/infineon/InfineonFlow.h"
#include "targets/bootloader/intel/IntelFlows.h"
#include "targets/bootloader/m91360/Boot91360.h"
#include "targets/bootloader/m91360/Loader91360.h"
#include "targets/bootloader/sharc/SharcHostBootFlow.h"
#include "targets/bootloader/sharc/SharcSplitFlow.h"

namespace ps {

namespace {

struct ModelEntry {
    bool available;
    FlowFunction flow;  // nullptr: the inline step sequence
};

// One row per model. A model is available once its flow (or its loader, for the models the
// run controller carries out itself) is in this station.
const ModelEntry models[ModelCount] = {
    {true, nullptr},             // 0 None: the inline sequence without a loader
    {true, nullptr},             // 1 MOTOROLA: the inline sequence
    {true, &IntelBoot},          // 2 INTEL - BOOT
    {true, &IntelLoaderRam},     // 3 INTEL - LOADER RAM
    {true, &IntelLoaderFlash},   // 4 INTEL - LOADER FLASH
    {true, nullptr},             // 5 INTEL - EMULATOR: the inline sequence
    {true, &SharcSplitFlow},     // 6 SHARC-SPLIT 32b
    {true, &RunAtmelFlow},       // 7 ATMEL
    {true, nullptr},             // 8 SHARC-Boot flash: the inline sequence
    {true, &SharcHostBootFlow},  // 9 SHARC-HostBoot
    {true, nullptr},             // 10 574-BOOT: the inline sequence
    {true, &Boot91360Flow},      // 11 91360 BOOT
    {true, &Loader91360Flow},    // 12 91360 LOADER
    {true, &InfineonFlow},       // 13 INFINEON XC161CJ
};
}  // namespace

FlowFunction ModelFlow(int32_t modelIndex) {
    if (modelIndex < 0 || modelIndex >= ModelCount) return nullptr;
    return models[modelIndex].flow;
}

bool ModelAvailable(int32_t modelIndex) {
    if (modelIndex < 0) return true;  // no model: the inline sequence
    if (modelIndex >= ModelCount) return false;
    return models[modelIndex].available;
}

}  // namespace ps

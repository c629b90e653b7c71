// SPDX-License-Identifier: MIT
#pragma once
#include <string>

#include "display/MapGeometry.h"
#include "images/ImageAccount.h"
#include "projects/StepSettings.h"

namespace ps {

// The image account of one step: the step's image file read as its model's loader reads
// it (images/ImageAccount.h), one rule per model. The run refuses a step whose account is
// not programmable before its port is opened; --check-images, --strict-images and
// --show-steps list the same account.
struct StepImageAccount {
    bool Applies = false;  // the step programs an image file this account covers
    std::string Path;      // the file name as the flow resolves it
    ImageAccount Account;
};

// Accounts the step's image. Not applied to a step without an image file, to a model
// without a loader ("None"), to the SHARC split records (their flow judges them), to an
// AVR EEPROM read (the file is written, not read), or while the step's own window is one
// its flow refuses as a bad value (the flow says so, RunError 10). The host-boot binary
// counts its bytes: an empty one holds no data.
StepImageAccount AccountStepImage(const StepSettings& step, const MapGeometry& map,
                                  const LostRecordSink& sink = {},
                                  const std::function<bool()>& keepGoing = {});

}  // namespace ps

// SPDX-License-Identifier: MIT
#pragma once
#include <string>
#include <vector>

#include "projects/CurrentProject.h"

namespace ps {

// Exit status of a report with a step that cannot run (file not opened, bad value).
constexpr int ShowStepsFailed = 10;

struct ShowStepsReport {
    std::string Text;    // one block per step, blank line between blocks
    int ExitStatus = 0;  // 0, or ShowStepsFailed
};

// Loads the steps of the project as a run would (run-wide fields carry over from step to
// step) and reports each step's settings, one "Field=value" line each, up to the first
// step that is missing or names no image file.
ShowStepsReport ShowSteps(const CurrentProject& project, const std::vector<std::string>& args,
                          int comPortNo = 1);

}  // namespace ps

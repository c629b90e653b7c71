// SPDX-License-Identifier: MIT
#pragma once
#include <string>

namespace ps {

// The project the station works on: its step file, its name and the extra parameters
// applied to every step.
struct CurrentProject {
    std::string StepFile;  // opened as given (relative to the current folder)
    std::string Name;
    std::string ExtraParameters;  // space-separated step lines

    // The text of the project label: name + ": " + path.
    std::string Label() const { return Name + ": " + StepFile; }
};

}  // namespace ps

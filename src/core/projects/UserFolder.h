// SPDX-License-Identifier: MIT
#pragma once
#include <string>

namespace ps {

// The folder of the user's own settings where the system names one of its own
// (%APPDATA%\progstation on Windows); "" where the XDG rules decide (Linux).
std::string SystemUserSettingsFolder();

}  // namespace ps

// SPDX-License-Identifier: MIT
#pragma once
#include <string>

#include "projects/Settings.h"

namespace ps {

// The machine's settings of an installed station (the [Ports] of a fixture PC, set once by
// its administrator); the package ships it as a commented file.
constexpr const char* SystemSettingsFile = "/etc/progstation/PROGRAMMER.INI";

// True for a program folder under /usr or /opt (links followed): an installed station,
// which never writes its own folder, whoever runs it. Anything else is a copied, portable
// station that keeps its settings beside itself.
bool IsInstalledProgramFolder(const std::string& programFolder);

// An installed station's files: the user's file is read when it exists, else the system
// file when it exists (else the user's file, missing: defaults). Changes always go to the
// user's file, which starts as a copy of the system file.
SettingsFiles ChooseInstalledSettingsFiles(const std::string& userFile,
                                           const std::string& systemFile, bool userFileExists,
                                           bool systemFileExists);

}  // namespace ps

// SPDX-License-Identifier: MIT
#pragma once
#include <functional>
#include <string>
#include <vector>

namespace ps {

// Files the station needs besides a project's images (the boot stages a target family
// sends first) are looked for in the program's own folder, then in the installed data
// folder: <prefix>/share/progstation/ for a program in <prefix>/bin/. The environment
// variable PROGSTATION_DATA_DIR names another data folder instead (tests, a bench with its
// own copies, the examples).
inline constexpr char DataFolderEnv[] = "PROGSTATION_DATA_DIR";
inline constexpr char InstalledDataSubfolder[] = "share/progstation/";

// Environment lookup; unset means the process environment (getenv).
using EnvLookup = std::function<std::string(const std::string& name)>;

// The installed data folder, ending in '/'.
std::string InstalledDataFolder(const std::string& programFolder, const EnvLookup& env = {});
// The folders searched, in order: the program's folder, the folder of the step file when
// one is given (a project that brings its own stages runs from its folder), then the data
// folder. A folder is named once.
std::vector<std::string> DataSearchFolders(const std::string& programFolder,
                                           const EnvLookup& env = {},
                                           const std::string& stepFile = {});
// The path of `name` in the first folder that holds it as a regular file (case ignored, as
// image names are), or "" when none does.
std::string FindDataFile(const std::vector<std::string>& folders, const std::string& name);

}  // namespace ps

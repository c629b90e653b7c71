// SPDX-License-Identifier: MIT
#include "projects/SettingsPlaces.h"

#include <climits>
#include <cstdlib>

namespace ps {

namespace {
bool Under(const std::string& path, const std::string& folder) {
    return path == folder || path.rfind(folder + "/", 0) == 0;
}
}  // namespace

bool IsInstalledProgramFolder(const std::string& programFolder) {
    if (programFolder.empty()) return false;
    std::string path = programFolder;
    char resolved[PATH_MAX];
    if (realpath(programFolder.c_str(), resolved) != nullptr) path = resolved;
    while (path.size() > 1 && path.back() == '/') path.pop_back();
    return Under(path, "/usr") || Under(path, "/opt");
}

SettingsFiles ChooseInstalledSettingsFiles(const std::string& userFile,
                                           const std::string& systemFile, bool userFileExists,
                                           bool systemFileExists) {
    SettingsFiles files;
    files.Write = userFile;
    if (!userFileExists && systemFileExists) {
        files.Read = systemFile;
        files.Shipped = systemFile;
    } else {
        files.Read = userFile;
    }
    return files;
}

}  // namespace ps

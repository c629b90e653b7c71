// SPDX-License-Identifier: MIT
#include "images/DataFolder.h"

#include <sys/stat.h>

#include <algorithm>
#include <cstdlib>

#include "images/FileLookup.h"

namespace ps {

namespace {

std::string WithSlash(std::string folder) {
    if (!folder.empty() && folder.back() != '/') folder += '/';
    return folder;
}

// "/usr/local/bin/" -> "/usr/local/"; a folder without a parent in the text -> "../".
std::string ParentFolder(std::string folder) {
    while (folder.size() > 1 && folder.back() == '/') folder.pop_back();
    const size_t slash = folder.rfind('/');
    if (slash == std::string::npos) return folder.empty() || folder == "." ? "../" : "./";
    return folder.substr(0, slash + 1);
}

bool IsRegularFile(const std::string& path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

}  // namespace

std::string InstalledDataFolder(const std::string& programFolder, const EnvLookup& env) {
    std::string override;
    if (env) {
        override = env(DataFolderEnv);
    } else if (const char* value = std::getenv(DataFolderEnv)) {
        override = value;
    }
    if (!override.empty()) return WithSlash(override);
    return ParentFolder(programFolder.empty() ? "./" : programFolder) + InstalledDataSubfolder;
}

std::vector<std::string> DataSearchFolders(const std::string& programFolder, const EnvLookup& env,
                                           const std::string& stepFile) {
    std::vector<std::string> folders{WithSlash(programFolder.empty() ? "./" : programFolder)};
    const auto add = [&folders](const std::string& folder) {
        if (std::find(folders.begin(), folders.end(), folder) == folders.end())
            folders.push_back(folder);
    };
    if (!stepFile.empty()) {
        const size_t slash = stepFile.rfind('/');
        add(slash == std::string::npos ? "./" : stepFile.substr(0, slash + 1));
    }
    add(InstalledDataFolder(programFolder, env));
    return folders;
}

std::string FindDataFile(const std::vector<std::string>& folders, const std::string& name) {
    for (const std::string& folder : folders) {
        std::string error;
        const std::string path = FindFileIgnoringCase(folder + name, error);
        if (!path.empty() && IsRegularFile(path)) return path;
    }
    return {};
}

}  // namespace ps

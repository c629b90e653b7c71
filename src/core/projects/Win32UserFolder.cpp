// SPDX-License-Identifier: MIT
#include <windows.h>

#include "projects/UserFolder.h"

namespace ps {

std::string SystemUserSettingsFolder() {
    wchar_t value[32768];
    const DWORD n = GetEnvironmentVariableW(L"APPDATA", value, 32768);
    if (n == 0 || n >= 32768) return "";
    std::string folder = ps_Utf8(value, static_cast<int>(n));
    for (char& c : folder)
        if (c == '\\') c = '/';  // the settings code splits paths at '/'
    return folder + "/progstation";
}

}  // namespace ps

// SPDX-License-Identifier: MIT
#include <windows.h>

#include "projects/UserFolder.h"

namespace ps {

std::string SystemUserSettingsFolder() {
    wchar_t value[32768];
    const DWORD n = GetEnvironmentVariableW(L"APPDATA", value, 32768);
    if (n == 0 || n >= 32768) return "";
    const int size = WideCharToMultiByte(CP_UTF8, 0, value, static_cast<int>(n), nullptr, 0,
                                         nullptr, nullptr);
    std::string folder(static_cast<size_t>(size), '\0');
    WideCharToMultiByte(CP_UTF8, 0, value, static_cast<int>(n), folder.data(), size, nullptr,
                        nullptr);
    for (char& c : folder)
        if (c == '\\') c = '/';  // the settings code splits paths at '/'
    return folder + "/progstation";
}

}  // namespace ps

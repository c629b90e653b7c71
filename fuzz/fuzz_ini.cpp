// SPDX-License-Identifier: MIT
// Settings files of any content: reading must neither crash nor hang, values stay within
// their limit, and a written value is the one read back while the other keys keep theirs.
#include <cstdint>
#include <cstdlib>
#include <iterator>
#include <string>

#include "FuzzTempFile.h"
#include "projects/Settings.h"

namespace {

void Check(bool condition) {
    if (!condition) std::abort();
}

constexpr const char* Missing = "\x01missing";

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static ps::fuzz::FuzzTempFile file("PROGRAMMER.INI");
    file.Write(data, size);
    const std::string& ini = file.Path();

    const char* keys[][2] = {{"INIT", "ExtraParameters"},
                             {"INIT", "Version"},
                             {"init", "selectedfile"},
                             {"PROJECTS", "Project1"},
                             {"", ""},
                             {"A", "K"}};
    std::string before[std::size(keys)];
    for (size_t i = 0; i < std::size(keys); ++i) {
        before[i] = ps::ReadSetting(ini, keys[i][0], keys[i][1], Missing);
        Check(before[i] == Missing || before[i].size() <= ps::SettingValueLimit);
    }

    const std::string text(reinterpret_cast<const char*>(data), size);
    for (int k = -1; k <= 6; ++k) {
        Check(ps::GetField(text, k, '~').find('~') == std::string::npos);
    }
    ps::CurrentProject project = ps::SelectCurrentProject(ini, 7);
    Check(project.StepFile == "upgrade.cfg" && project.Name == "UPGRADE");

    // Round trip on the first key (a plain value, then one that needs quotes); the others
    // must not change.
    for (const std::string value : {"/AUTOCONTINUE  /BAUDRATE=9600", "\" /S \""}) {
        if (ps::WriteSetting(ini, "INIT", "ExtraParameters", value)) {
            Check(ps::ReadSetting(ini, "INIT", "ExtraParameters", Missing) == value);
            for (size_t i = 1; i < std::size(keys); ++i) {
                if (std::string(keys[i][0]).empty()) continue;
                Check(ps::ReadSetting(ini, keys[i][0], keys[i][1], Missing) == before[i]);
            }
        }
    }
    return 0;
}

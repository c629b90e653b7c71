// SPDX-License-Identifier: MIT
// Step files of any content: the loader must neither crash nor hang, and what it stores
// must stay within its limits.
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "FuzzTempFile.h"
#include "projects/StepFile.h"

namespace {

void Check(bool condition) {
    if (!condition) std::abort();
}

void CheckSettings(const ps::StepSettings& s, const ps::MapGeometry& map) {
    Check(s.ProgramFile.size() <= ps::ProgramFileLimit);
    Check(s.ModelIndex >= -1 && s.ModelIndex <= 13);
    Check(s.ModelIndex != -1 || s.ProgramFile.empty());
    Check(s.ComPortNo >= 1 && s.ComPortNo <= 10);
    Check(map.Rows >= 1 && map.Cols >= 1);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static ps::fuzz::FuzzTempFile file("fuzz-step.cfg");
    file.Write(data, size);

    const std::string text(reinterpret_cast<const char*>(data), size);
    // The first line of the input also serves as extra parameters and as an argument.
    const std::string firstLine = text.substr(0, text.find_first_of("\r\n"));
    ps::CurrentProject project{file.Path(), "FUZZ", firstLine};
    const std::vector<std::string> args = {firstLine.substr(0, 64), "AUTO=1"};

    ps::StepSettings settings;
    ps::ResetRunSettings(settings, 1);
    for (int step : {1, 2, 3, 255}) {
        ps::MapGeometry map;
        int result = ps::LoadStep(step, project, args, settings, map);
        Check(result == ps::StepLoaded || result == ps::StepMissing);
        CheckSettings(settings, map);
    }

    // The line function and the number syntax on their own.
    ps::StepSettings direct;
    ps::StepLineParser parser(direct);
    parser.ResetCounter();
    Check(parser.ParseStepLine(text, ps::AllSteps));
    parser.ParseStepLine(text, 1);
    Check(direct.ProgramFile.size() <= ps::ProgramFileLimit);
    int32_t value = 0;
    ps::ParseStepNumber(text, value);
    for (int i = 0; i <= ps::ExtraParameterCount(firstLine) + 1; ++i) {
        Check(ps::ExtraParameterWord(firstLine, i).find(' ') == std::string::npos);
    }
    return 0;
}

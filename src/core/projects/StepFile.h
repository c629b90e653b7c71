#pragma once
#include <string>
#include <vector>

#include "display/MapGeometry.h"
#include "projects/CurrentProject.h"
#include "projects/StepSettings.h"

namespace ps {

constexpr int AllSteps = 255;

// LoadStep results.
constexpr int StepLoaded = 0;
constexpr int StepFileNotOpened = 1;
constexpr int StepMissing = 2;

constexpr const char* TextErrorOpeningFile = "ERROR : opening file.";

// Begin of a run: resets the "run" fields (baud "115200", port, AddrStart 0, AddrLen 0,
// BlockLen 2048, BlocksOnRow 16, SaveImage off).
void ResetRunSettings(StepSettings& settings, int comPortNo);

// Reads step n of the project's step file into settings, then applies the extra parameters
// and the command-line arguments to it, forces the values of models 6 and 9 and sizes the
// map. Returns StepLoaded, StepFileNotOpened or StepMissing.
int LoadStep(int n, const CurrentProject& project, const std::vector<std::string>& args,
             StepSettings& settings, MapGeometry& map);

// The step loader's line function, with its step counter (set to 1 before a file is read).
class StepLineParser {
public:
    explicit StepLineParser(StepSettings& settings) : settings_(settings) {}
    void ResetCounter() { counter_ = 1; }
    int Counter() const { return counter_; }
    // Applies the line when it belongs to the wanted step (or wanted == AllSteps); returns
    // whether it belonged.
    bool ParseStepLine(const std::string& line, int wanted);

private:
    StepSettings& settings_;
    int counter_ = 1;
};

// Words of the extra-parameter text, separated by one or more blanks (0x20 only).
int ExtraParameterCount(const std::string& text);
std::string ExtraParameterWord(const std::string& text, int i);  // i from 1

}  // namespace ps

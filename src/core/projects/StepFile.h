// SPDX-License-Identifier: MIT
#pragma once
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "display/MapGeometry.h"
#include "projects/CurrentProject.h"
#include "projects/StepSettings.h"

namespace ps {

// The wanted step of ParseStepLine that applies a line to every step (extra parameters and
// command-line arguments).
constexpr int AllSteps = 255;

// LoadStep results.
constexpr int StepLoaded = 0;
constexpr int StepFileNotOpened = 1;
constexpr int StepMissing = 2;

// Shown by the run controller (and reported by --show-steps) when the step file cannot be
// opened.
constexpr const char* TextErrorOpeningFile = "ERROR : opening file.";
// Start of StepSettings::LoadError; the offending (normalised) line follows.
constexpr const char* TextBadValue = "BAD VALUE: ";
// The offending line is cut to this many characters in LoadError ("..." marks the cut).
constexpr size_t LoadErrorLineLimit = 200;

// A step file is a few dozen lines; one beyond this size is refused as a file that cannot
// be opened, so that no file (or link to a device) can take the station's memory.
constexpr size_t StepFileLimit = 4 * 1024 * 1024;

// The keys of the address range, for the texts that name them.
constexpr const char* KeyAddrStart = "/ADDRSTART=";
constexpr const char* KeyAddrLen = "/ADDRLEN=";
constexpr const char* KeyAddrExtFlash = "/ADDREXTFLASH=";
constexpr const char* KeyEraseSectors = "/ERASESECTORS=";

// "BAD VALUE: " + the line as a status line can show it; key + value instead of the line
// when no line set the value (it is then the default of the run).
std::string BadValueText(const std::string& line, const char* key, int64_t value);

// Longest image file name a model key keeps.
constexpr size_t ProgramFileLimit = 200;

// The line that opens the next step.
constexpr const char* StepSeparator = "*** NEXT ***";

// Number of model keys ("/P=" .. "/P13="); ModelIndex 1..13.
constexpr int ModelKeyCount = 13;

// Begin of a run: resets the "run" fields (baud "115200", port, AddrStart 0, AddrLen 0,
// BlockLen 2048, BlocksOnRow 16, SaveImage off; AutoReset, CheckSum and Usb off too).
void ResetRunSettings(StepSettings& settings, int comPortNo);

// Resets the "step" fields to their defaults (LoadStep does this first).
void ResetStepSettings(StepSettings& settings);

// Reads step n of the project's step file into settings, then applies the extra parameters
// and the command-line arguments to it, forces the values of models 6 and 9 and sizes the
// map. Returns StepLoaded, StepFileNotOpened or StepMissing. When a value could not be
// used as it stands, settings.LoadError says which line; the step must then not run.
// Only a regular file of at most StepFileLimit bytes is read. The file is looked at for
// every step, but read again only when it changed: a run of many steps costs one read.
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
    // The same for a line of the step file: `step` is always a step number, so a file
    // with 255 or more steps still loads its step 255 alone.
    bool ParseFileLine(const std::string& line, int step);
    // Applies a line known to belong to the step being loaded.
    void ApplyLine(std::string_view line);

private:
    bool Parse(const std::string& line, int wanted, bool allSteps);
    void Apply(const std::string& line);
    void SetLoadError(const std::string& line);

    StepSettings& settings_;
    int counter_ = 1;
};

// The key that selects model 1..13 and names its image file ("/PB=" for 2); nullptr for
// any other number.
const char* ModelKey(int modelIndex);

// The text of a step file as the loader reads it (a regular file of at most StepFileLimit
// bytes, up to its first 0x1A); false when it cannot be read so.
bool ReadStepFileText(const std::string& path, std::string& text);

// Whether a line opens the next step (compared after upper-casing, as the loader does).
bool IsStepSeparator(std::string_view line);

// A step line after normalisation: "a".."z" in upper case, " -" turned into " /".
std::string NormaliseStepLine(std::string_view line);

// The number syntax of the numeric keys: leading spaces, a sign, decimal digits or hex
// digits after "$", "X" or "0X". Conversion stops at the first character that does not
// fit (or that would take a decimal value past the 32-bit range, or a ninth hex digit);
// `value` gets what was read up to there (0 for nothing). Returns true only when the whole
// text was one valid number.
bool ParseStepNumber(std::string_view text, int32_t& value);

// Words of the extra-parameter text, separated by one or more blanks (0x20 only).
int ExtraParameterCount(const std::string& text);
std::string ExtraParameterWord(const std::string& text, int i);  // i from 1

}  // namespace ps

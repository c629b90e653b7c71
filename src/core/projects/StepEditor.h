// SPDX-License-Identifier: MIT
#pragma once
#include <array>
#include <bitset>
#include <cstdint>
#include <string>
#include <vector>

namespace ps {

// Shown when Save cannot write the step file; a line break and the file name follow.
constexpr const char* TextErrorCreatingFile = "ERROR creating file ";

// The editor's controls that write a line of the step, and the groups the model shows or
// hides. The values index StepView::Controls.
enum EditorControl : int {
    // Check boxes that write a flag line.
    CtlBoot,
    CtlResetS,
    CtlRamErase,
    CtlFlashId,
    CtlFlashErase,
    CtlSinhro,
    CtlDeviceCheck,
    CtlUnLock,
    CtlSimulateFlash,
    CtlAutoErase,
    CtlUsb,
    CtlTestInt,
    CtlTestExt,
    CtlAutoReset,
    CtlAutoCont,
    CtlCheckSum,
    CtlFusesSet,
    CtlLockSet,
    // Check boxes paired with an edit field: checked, they write the key and the edit's text.
    CtlBankPort,
    CtlEraseSec,
    CtlRunAddr,
    // Edit fields.
    CtlStartAddr,
    CtlLenAddr,
    CtlLenBlock,
    CtlBlocksOnRow,
    CtlStartExtFlashAddr,
    // Choices (radio groups).
    CtlBaudRate,
    CtlResetSign,
    CtlBootSign,
    CtlSpeedSet,
    CtlEeprom,
    CtlComPort,
    // Groups and panels.
    CtlFile,               // the image file name and "Browse"
    CtlAtmelBox,           // "PROCESSOR"
    CtlFuses,              // "Set Fuses", the fuse list and its comment
    CtlLock,               // "Lock", the lock list and its comment
    CtlInfineon,           // external flash address and the two flash tests
    CtlSignalGroups,       // "Baud Rate", "Reset Signal", "Boot Signal", "Address space"
    CtlBeforeProgramming,  // the "Before Programming" group
    CtlCount
};

enum class ControlKind { Flag, Paired, Field, Choice, Group };

// What a control writes: its key ("/Boot", "/BankPort=", ...) and, for a choice, its items
// and whether the line holds the item's text or its index.
struct ControlDef {
    ControlKind Kind;
    const char* Key;
    std::vector<const char*> Items;
    bool WritesIndex = false;
};
const ControlDef& Control(EditorControl c);

// Image files offered by "Browse" and step files offered by the projects dialog.
constexpr const char* ImageFileFilter =
    "HEX files (*.HEX;*.MHX;*.A90;*.BIN)|*.HEX;*.MHX;*.A90;*.BIN";
constexpr const char* ProjectFileFilter = "Project files (*.CFG)|*.CFG";
constexpr const char* FileDialogTitle = "Open";

// What a numeric field holds while the operator types: nothing (the line goes), the start of
// a number ("$", "0x", or a value below the field's least), a number the field takes, or
// text that can never become one. The editor writes a line only for the first and third.
enum class FieldCheck { Empty, Partial, Number, Refused };
// Checks a numeric field's text (decimal, or hex after "$", "X" or "0X", as the station
// reads it) against the field's range; `why` names the field's rule unless it is a number.
// Any other control is not numeric: Number.
FieldCheck CheckNumericField(EditorControl c, const std::string& text, std::string& why);
// Start of the rule shown for a numeric field; the field's least and greatest value follow.
constexpr const char* TextNumberFrom = "a number from ";

// The name "Browse" writes for a chosen image: relative to the step file's folder when the
// image lies at or below it (links resolved as well), so a project folder copied to another
// station still finds its images; otherwise the chosen path as it is.
std::string ImagePathForStep(const std::string& stepFile, const std::string& image);

// AVR processors of the "PROCESSOR" list, by "/ATMEL=" index.
constexpr int ProcessorCount = 8;
constexpr int ProcessorLoader = 4;  // "AT_LOADER": EEPROM operations, no fuses, no speed
struct ProcessorDef {
    const char* Name;
    const char* Length;  // the flash size written into "Length (bytes)"
    uint16_t FuseItems;  // bit i: fuse item i enabled
    uint8_t LockItems;   // bit i: lock item i enabled
};
const ProcessorDef& Processor(int index);

constexpr int FuseItemCount = 16;
constexpr int LockItemCount = 6;
constexpr int FuseItemSpien = 13;  // never enabled, always shown ticked
extern const std::array<const char*, FuseItemCount> FuseItemNames;
extern const std::array<const char*, LockItemCount> LockItemNames;

// The comment lines under the fuse and the lock lists.
std::vector<std::string> FuseComment(int processor, const std::array<bool, FuseItemCount>& enabled,
                                     const std::array<bool, FuseItemCount>& checked);
std::vector<std::string> LockComment(const std::array<bool, LockItemCount>& enabled,
                                     const std::array<bool, LockItemCount>& checked);

// The controls a model shows, for the chosen processor (-1 none) and EEPROM operation
// (-1 none). Groups count as controls; a control inside a hidden group is hidden.
std::bitset<CtlCount> ShownControls(int model, int processor, int eeprom);

struct ControlView {
    bool Visible = false;
    bool Enabled = true;
    bool Checked = false;  // check boxes
    int Index = -1;        // choices: the item, -1 none
    std::string Text;      // edit fields, and the edit beside a paired box
};

// Everything the editor shows for the current step.
struct StepView {
    int StepCount = 0;
    int CurrentStep = 0;
    bool StepNavigation = false;  // the step arrows and "CLR Step"
    int Model = 0;                // 0 "None" .. 13
    std::string FileName;         // upper case, as the station reads it
    bool FileGroupEnabled = false;
    std::array<ControlView, CtlCount> Controls;
    int Processor = -1;
    std::array<bool, FuseItemCount> FuseEnabled{};
    std::array<bool, FuseItemCount> FuseChecked{};
    std::array<bool, LockItemCount> LockEnabled{};
    std::array<bool, LockItemCount> LockChecked{};
    bool FuseListEnabled = false;  // while "Set Fuses" is ticked
    bool LockListEnabled = false;  // while "Lock" is ticked
    std::vector<std::string> FuseComment;
    std::vector<std::string> LockComment;
};

// A step file as the editor works on it: a list of lines, one step of it current. Every
// operator action changes, inserts or deletes lines of the current step only; Refresh then
// tells what the controls show (and drops the lines of controls the model hides).
class StepEditor {
public:
    // Reads every line of the file, comments and empty lines included, so that Save gives
    // back what it was given (CR, LF or CR LF end a line; 0x1A ends the file). A file that
    // cannot be read gives an empty list: false.
    bool Load(const std::string& path);
    // Writes every line followed by CR LF, replacing the file only once it is complete.
    // False with the message to show when the file cannot be created.
    bool Save(const std::string& path, std::string& message) const;

    const std::vector<std::string>& Lines() const { return lines_; }
    void SetLines(std::vector<std::string> lines) {
        lines_ = std::move(lines);
        parkedStep_ = fixedStep_ = 0;
    }
    int StepCount() const;
    int CurrentStep() const { return current_; }
    // Moves to a step; limited to 1 .. the step count by the next Refresh.
    void SetCurrentStep(int step) { current_ = step; }

    // Limits the current step and tells what every control shows. It changes no line: a
    // line whose control the model hides stays in the step as it is.
    StepView Refresh();

    // Operator actions on the current step.
    // Choosing model 11 also writes its fixed address space.
    void SetModel(int model, const std::string& fileName);
    void SetFileName(const std::string& fileName);
    // A flag box, or a paired box with the text of its edit field.
    void SetChecked(EditorControl c, bool checked, const std::string& pairedText = {});
    // An edit field (an empty text deletes the line), or the edit of a paired box (written
    // only while its box is ticked).
    void SetText(EditorControl c, const std::string& text);
    void Choose(EditorControl c, int index);
    // "/ATMEL=", then "Start address" 0 and "Length (bytes)" the processor's flash size.
    void SetProcessor(int index);
    void SetFuse(int item, bool checked);
    void SetLock(int item, bool checked);
    void AddStep();
    void ClearStep();

private:
    struct Range {
        int Begin = 0;   // first line of the step (its separator for steps 2 and more)
        int End = 0;     // one past its last line
        int Insert = 0;  // where new lines go: after the separator and the comments below it
    };
    Range StepRange() const;
    // Refresh's parts: one shown control, the item a choice shows, the fuse and lock lists.
    void ShowControl(int c, ControlView& cv) const;
    int ChoiceIndex(int c) const;  // -1 none
    void ShowFusesAndLocks(int processor, StepView& v) const;
    int FindValue(const std::string& key) const;  // first line of the step beginning with it
    bool HasFlag(const std::string& key) const;
    // The value after the key, normalised as the station reads it; false when absent.
    bool Value(const std::string& key, std::string& value) const;
    bool RawValue(const std::string& key, std::string& value) const;
    int FindModelLine(int& model) const;
    void WriteValue(const std::string& key, const std::string& value);
    void DeleteLines(const std::string& key, bool wholeLine);
    void WriteFlag(const std::string& key);
    int StepProcessor() const;  // -1 unless "/ATMEL=" is a whole number 0..7
    int StepEeprom() const;     // -1 unless "/AT_PROG_EE=" is a whole number 0..2
    std::array<bool, FuseItemCount> FuseTicks(int processor) const;
    std::array<bool, LockItemCount> LockTicks(int processor) const;

    std::vector<std::string> lines_;
    int current_ = 0;
    // The image name of the model line that "None" took out of a step: looking at "None"
    // and choosing a model again gives the step back its name.
    int parkedStep_ = 0;
    std::string parkedName_;
    // The step for which choosing model 11 wrote its fixed address space, and which of the
    // two lines it wrote.
    int fixedStep_ = 0;
    std::array<bool, 2> fixedWritten_{};
};

}  // namespace ps

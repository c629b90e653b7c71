// SPDX-License-Identifier: MIT
#include "projects/StepEditor.h"

#include <sys/stat.h>

#include <algorithm>
#include <climits>
#include <cstdio>
#include <filesystem>
#include <cstdlib>
#include <initializer_list>

#include "projects/AtomicFile.h"
#include "display/MapGeometry.h"
#include "projects/StepFile.h"
#include "targets/avr/FuseBits.h"

namespace ps {

namespace {

constexpr int ModelAtmel = 7;
constexpr int Model91360Boot = 11;
constexpr int ModelInfineon = 13;
constexpr int ModelSharcSplit = 6;
constexpr int ModelSharcHostBoot = 9;
constexpr int LastModel = 13;
constexpr int EepromWrite = 1;
constexpr int EepromRead = 2;
constexpr int PortChoices = 6;     // "COM 1" .. "COM 6"
constexpr int PortFlagsRead = 10;  // "/COM7" .. "/COM10" show as the last choice
constexpr const char* PortKey = "/COM";
constexpr const char* ProcessorKey = "/ATMEL=";
constexpr const char* FusesKey = "/FUSES=";
constexpr const char* LockKey = "/LOCK=";
constexpr const char* LineEnd = "\r\n";
constexpr const char* EmptyFuseText = "N0000000000000000";
constexpr char FuseTextPrefix = 'N';
// The address space model 11 always uses.
constexpr const char* Model11Start = "$3D000";
constexpr const char* Model11Length = "$3000";

const ControlDef Controls[CtlCount] = {
    {ControlKind::Flag, "/Boot", {}},
    {ControlKind::Flag, "/Reset", {}},
    {ControlKind::Flag, "/EraseRAM", {}},
    {ControlKind::Flag, "/FlashID", {}},
    {ControlKind::Flag, "/EraseFlash", {}},
    {ControlKind::Flag, "/Sinhro", {}},
    {ControlKind::Flag, "/DevCheck", {}},
    {ControlKind::Flag, "/UNLOCK", {}},
    {ControlKind::Flag, "/SimulateFlash", {}},
    {ControlKind::Flag, "/AutoErase", {}},
    {ControlKind::Flag, "/USB", {}},
    {ControlKind::Flag, "/TestInt", {}},
    {ControlKind::Flag, "/TestExt", {}},
    {ControlKind::Flag, "/AutoReset", {}},
    {ControlKind::Flag, "/AutoContinue", {}},
    {ControlKind::Flag, "/CheckSum", {}},
    {ControlKind::Flag, "/FUSESSET", {}},
    {ControlKind::Flag, "/LOCKSET", {}},
    {ControlKind::Paired, "/BankPort=", {}},
    {ControlKind::Paired, "/EraseSectors=", {}},
    {ControlKind::Paired, "/RunAddr=", {}},
    {ControlKind::Field, "/AddrStart=", {}},
    {ControlKind::Field, "/AddrLen=", {}},
    {ControlKind::Field, "/BlockLen=", {}},
    {ControlKind::Field, "/BlocksOnRow=", {}},
    {ControlKind::Field, "/AddrExtFlash=", {}},
    {ControlKind::Choice,
     "/BaudRate=",
     {"1200", "2400", "4800", "7200", "9600", "19200", "38400", "57600", "115200"}},
    {ControlKind::Choice, "/ResetSignal=", {"RTS1", "RTS0", "DTR1", "DTR0"}},
    {ControlKind::Choice, "/BootSignal=", {"DTR1", "DTR0", "RTS1", "RTS0"}},
    {ControlKind::Choice, "/SpeedSet=", {"XCLK/4", "XCLK/16", "XCLK/64", "XCLK/128"}, true},
    {ControlKind::Choice, "/AT_PROG_EE=", {"PROG", "EE WR", "EE RD"}, true},
    {ControlKind::Choice, PortKey, {"COM 1", "COM 2", "COM 3", "COM 4", "COM 5", "COM 6"}, true},
    {ControlKind::Group, "", {}},
    {ControlKind::Group, "", {}},
    {ControlKind::Group, "", {}},
    {ControlKind::Group, "", {}},
    {ControlKind::Group, "", {}},
    {ControlKind::Group, "", {}},
    {ControlKind::Group, "", {}},
};

constexpr uint16_t FuseItemsTo10 = 0x07FF;
constexpr uint16_t FuseItemsAll = 0xFFFF & ~(1u << FuseItemSpien);
constexpr uint8_t LockBits12 = 0x03;
constexpr uint8_t LockBitsAll = 0x3F;
constexpr uint8_t LockBitsBoot = 0x3C;

const ProcessorDef Processors[ProcessorCount] = {
    {"AT90S2313", "2048", 0, LockBits12},
    {"AT90S4433", "4096", (1u << 0) | (1u << 1) | (1u << 2) | (1u << 6) | (1u << 7), LockBits12},
    {"ATmega163", "16384", FuseItemsTo10, LockBitsAll},
    {"ATtiny12", "1024", FuseItemsTo10, LockBitsAll},
    {"AT_LOADER", "15360", FuseItemsTo10, LockBitsBoot},
    {"ATmega323", "32768",
     static_cast<uint16_t>(FuseItemsAll & ~((1u << 4) | (1u << 5) | (1u << 12))), LockBitsAll},
    {"ATmega32", "32768", FuseItemsAll, LockBitsAll},
    {"ATmega16", "16384", FuseItemsAll, LockBitsAll},
};

// Fuse comment texts.
constexpr const char* ClockTexts[16] = {
    "Ext. Clk",
    "Int. RC Osc. 1MHz",
    "Int. RC Osc. 2MHz",
    "Int. RC Osc. 4MHz",
    "Int. RC Osc. 8MHz",
    "Ext. RC Osc. 0.0- 0.9MHz",
    "Ext. RC Osc. 0.9- 3.0MHz",
    "Ext. RC Osc. 3.0- 8.0MHz",
    "Ext. RC Osc. 8.0-12.0MHz",
    "Ext. LF Crystal",
    "Ext. Crystal/Resonator LF",
    "Ext. Crystal/Resonator LF",
    "Ext. Crystal/Resonator MF",
    "Ext. Crystal/Resonator MF",
    "Ext. Crystal/Resonator HF",
    "Ext. Crystal/Resonator HF",
};
constexpr const char* TextXtalError = "XTAL ERROR";
constexpr const char* TextStartupSeparator = " ; ";
constexpr const char* TextClocksUnit = "CK ; ";
constexpr const char* TextDelayUnit = "ms";
constexpr const char* TextResetOn40 = "Reset on U<4.0V";
constexpr const char* TextResetOn27 = "Reset on U<2.7V";
constexpr const char* TextNoResetOn40 = "NO Reset on U<4.0V";
constexpr const char* TextNoResetOn27 = "NO Reset on U<2.7V";
constexpr const char* TextResetOnBoot = "Reset on BOOT";
constexpr const char* TextResetOnProgram = "Reset on PROGRAM ($0000)";
constexpr const char* BootSizesMega32[4] = {"BOOT size = 4096 Bytes", "BOOT size = 2048 Bytes",
                                            "BOOT size = 1024 Bytes", "BOOT size = 512 Bytes"};
constexpr const char* BootSizesOther[4] = {"BOOT size = 2048 Bytes", "BOOT size = 1024 Bytes",
                                           "BOOT size = 512 Bytes", "BOOT size = 256 Bytes"};
// Items 11 to 15, added when enabled and ticked.
constexpr const char* FuseFlagTexts[5] = {"SAVE EEPROM (on erase)", "XTAL \"HI\" SIGNAL",
                                          "Serial program downloadding (SPI) ENABLED",
                                          "JTAG ENABLED", "On Chip Debug ENABLED"};
constexpr int FirstFlagFuse = 11;

// Start-up clocks and delay by clock group (rows) and start-up code (columns); -1 invalid.
struct StartupRow {
    int Clocks[4];
    int Delay[4];
};
constexpr StartupRow StartupIntRc = {{6, 6, 6, -1}, {0, 4, 64, -1}};
constexpr StartupRow StartupExtRc = {{18, 18, 18, 6}, {0, 4, 64, 4}};
constexpr StartupRow StartupLfCrystal = {{1024, 1024, 32768, -1}, {4, 64, 64, -1}};
constexpr StartupRow StartupCrystalEven = {{258, 258, 1024, 1024}, {4, 64, 0, 4}};
constexpr StartupRow StartupCrystalOdd = {{1024, 16384, 16384, 16384}, {64, 0, 4, 64}};

const StartupRow& StartupFor(int clock) {
    if (clock <= 4) return StartupIntRc;
    if (clock <= 8) return StartupExtRc;
    if (clock == 9) return StartupLfCrystal;
    return clock % 2 == 0 ? StartupCrystalEven : StartupCrystalOdd;
}

// Lock comment: per pair, the texts for both ticked, only the second, only the first, none.
constexpr const char* LockTexts[3][4] = {
    {"SER.PROG.: R,W disabled, FUSE lock", "ERROR", "SER.PROG.: W disabled, FUSE lock",
     "SER.PROG.: NO restrictions"},
    {"APPL.SEC.: W,R(from boot) disabled", "APPL.SEC.: R(from boot) disabled",
     "APPL.SEC.: W disabled", "APPL.SEC.: NO restrictions"},
    {"BOOT SEC.: W,R(from appl.) disabled, Int.Boot dis.",
     "BOOT SEC.: R(from appl) disabled, Int.Boot dis.", "BOOT SEC.: W disabled",
     "BOOT SEC.: NO restrictions"},
};

using ControlSet = std::bitset<CtlCount>;

ControlSet Of(std::initializer_list<EditorControl> controls) {
    ControlSet set;
    for (EditorControl c : controls) set.set(c);
    return set;
}

// One row per model: the columns it shows ("+") and its own further controls. Columns:
// baud rate, reset and boot signals, Boot and Reset boxes, image file, address fields,
// Auto Reset, Auto Continue, CheckSum.
enum Column {
    ColBaud,
    ColSignals,
    ColBootReset,
    ColFile,
    ColAddress,
    ColAutoReset,
    ColAutoCont,
    ColCheckSum
};
struct ModelRow {
    const char* Columns;
    std::initializer_list<EditorControl> Other;
};
const ModelRow ModelRows[LastModel + 1] = {
    {"+++--+++", {}},                                                    // None
    {"++++++++", {CtlSinhro, CtlEraseSec, CtlRunAddr}},                  // MOTOROLA
    {"+++++++-", {}},                                                    // INTEL - BOOT
    {"+++++++-", {CtlRamErase, CtlRunAddr}},                             // .. LOADER RAM
    {"+++++++-", {CtlFlashId, CtlFlashErase, CtlBankPort, CtlRunAddr}},  // .. FLASH
    {"+--++-+-", {}},                                                    // .. EMULATOR
    {"---+--++", {CtlUsb}},                                              // SHARC-SPLIT
    {"+--++-++", {CtlAtmelBox, CtlFuses, CtlFusesSet, CtlLock, CtlLockSet, CtlSpeedSet}},  // ATMEL
    {"+--++-++", {CtlFlashErase}},                                              // SHARC-Boot
    {"---+--+-", {}},                                                           // SHARC-Host
    {"+--+--+-", {CtlSinhro}},                                                  // 574-BOOT
    {"+--++-+-", {}},                                                           // 91360 BOOT
    {"+--++-++", {CtlFlashErase, CtlEraseSec, CtlAutoErase}},                   // 91360 LOADER
    {"+--++---", {CtlInfineon, CtlStartExtFlashAddr, CtlTestInt, CtlTestExt}},  // INFINEON
};

std::string Upper(const std::string& s) {
    std::string out = s;
    for (char& c : out) {
        if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    }
    return out;
}

bool StartsWith(const std::string& line, const std::string& key) {
    return line.size() >= key.size() && line.compare(0, key.size(), key) == 0;
}

// A value that must be one of `count` indexes: a whole number 0 .. count - 1, else -1.
int WholeIndex(const std::string& value, int count) {
    int32_t n = 0;
    if (!ParseStepNumber(value, n) || n < 0 || n >= count) return -1;
    return n;
}

// The port flag "/COM1" .. "/COM10" a normalised line is, or 0.
int PortFlag(const std::string& normalised) {
    for (int port = 1; port <= PortFlagsRead; ++port) {
        if (normalised == PortKey + std::to_string(port)) return port;
    }
    return 0;
}

}  // namespace

const ControlDef& Control(EditorControl c) {
    return Controls[c];
}

const ProcessorDef& Processor(int index) {
    return Processors[index];
}

const std::array<const char*, FuseItemCount> FuseItemNames = {
    "CKSEL0",  "CKSEL1",  "CKSEL2",  "CKSEL3", "SUT0",  "SUT1",  "BODEN",  "BODLEVEL",
    "BOOTRST", "BOOTSZ0", "BOOTSZ1", "EESAVE", "CKOPT", "SPIEN", "JTAGEN", "OCDEN"};
const std::array<const char*, LockItemCount> LockItemNames = {"Lock bit 1",      "Lock bit 2",
                                                              "Boot Lock bit01", "Boot Lock bit02",
                                                              "Boot Lock bit11", "Boot Lock bit12"};

std::vector<std::string> FuseComment(int processor, const std::array<bool, FuseItemCount>& enabled,
                                     const std::array<bool, FuseItemCount>& checked) {
    std::vector<std::string> lines;
    auto c = [&](int i) { return checked[i] ? 1 : 0; };
    if (enabled[0]) {
        const int clock = (c(0) + 2 * c(1) + 4 * c(2) + 8 * c(3)) ^ 15;
        const int startup = (c(4) + 2 * c(5)) ^ 3;
        const StartupRow& row = StartupFor(clock);
        const int clocks = row.Clocks[startup];
        const int delay = row.Delay[startup];
        if (clocks < 0 || delay < 0) {
            lines.push_back(TextXtalError);
        } else {
            lines.push_back(std::string(ClockTexts[clock]) + TextStartupSeparator +
                            std::to_string(clocks) + TextClocksUnit + std::to_string(delay) +
                            TextDelayUnit);
        }
    }
    if (enabled[6]) {
        if (checked[6]) {
            lines.push_back(checked[7] ? TextResetOn40 : TextResetOn27);
        } else {
            lines.push_back(checked[7] ? TextNoResetOn40 : TextNoResetOn27);
        }
    }
    if (enabled[8]) lines.push_back(checked[8] ? TextResetOnBoot : TextResetOnProgram);
    if (enabled[9]) {
        const int code = (c(9) + 2 * c(10)) ^ 3;
        lines.push_back(processor == AvrATmega32 ? BootSizesMega32[code] : BootSizesOther[code]);
    }
    for (int i = FirstFlagFuse; i < FuseItemCount; ++i) {
        if (enabled[i] && checked[i]) lines.push_back(FuseFlagTexts[i - FirstFlagFuse]);
    }
    return lines;
}

std::vector<std::string> LockComment(const std::array<bool, LockItemCount>& enabled,
                                     const std::array<bool, LockItemCount>& checked) {
    std::vector<std::string> lines;
    for (int pair = 0; pair < LockItemCount / 2; ++pair) {
        const int first = 2 * pair;
        const int second = first + 1;
        // A pair the processor does not have says nothing about it.
        if (!enabled[first] && !enabled[second]) continue;
        int column = 3;
        if (checked[first] && checked[second]) {
            column = 0;
        } else if (checked[second]) {
            column = 1;
        } else if (checked[first]) {
            column = 2;
        }
        lines.push_back(LockTexts[pair][column]);
    }
    return lines;
}

std::bitset<CtlCount> ShownControls(int model, int processor, int eeprom) {
    if (model < 0 || model > LastModel) model = 0;
    const ModelRow& row = ModelRows[model];
    auto has = [&row](Column c) { return row.Columns[c] == '+'; };
    ControlSet shown = Of({CtlComPort}) | Of(row.Other);
    if (has(ColBaud)) shown.set(CtlBaudRate);
    if (has(ColSignals)) shown |= Of({CtlResetSign, CtlBootSign});
    if (has(ColBootReset)) shown |= Of({CtlBoot, CtlResetS});
    if (has(ColFile)) shown.set(CtlFile);
    if (has(ColAddress)) shown |= Of({CtlStartAddr, CtlLenAddr, CtlLenBlock, CtlBlocksOnRow});
    if (has(ColAutoReset)) shown.set(CtlAutoReset);
    if (has(ColAutoCont)) shown.set(CtlAutoCont);
    if (has(ColCheckSum)) shown.set(CtlCheckSum);
    if (model != ModelSharcSplit && model != ModelSharcHostBoot) shown.set(CtlSignalGroups);
    if (model != ModelInfineon) shown.set(CtlBeforeProgramming);
    if (model == ModelAtmel && processor == ProcessorLoader) {
        // The loader programs through the boot loader: no clock, no fuses, but the EEPROM.
        shown &= ~Of({CtlSpeedSet, CtlFuses, CtlFusesSet});
        shown |= Of({CtlEeprom, CtlAutoReset});
        // A checksum only follows programming the flash.
        if (eeprom == EepromWrite || eeprom == EepromRead) shown.reset(CtlCheckSum);
    }
    return shown;
}

namespace {
// The values a numeric field takes; the station's map and flows refuse or cannot use others.
struct FieldRange {
    EditorControl Control;
    uint64_t Least;
    uint64_t Greatest;
};
constexpr uint64_t Max31 = 0x7FFFFFFF;
constexpr uint64_t Max32 = 0xFFFFFFFF;
constexpr FieldRange FieldRanges[] = {
    {CtlStartAddr, 0, Max31},       {CtlLenAddr, 1, Max31},
    {CtlLenBlock, 1, Max31},        {CtlBlocksOnRow, 1, MapMaxCols},
    {CtlStartExtFlashAddr, 0, Max32}, {CtlBankPort, 0, 0xFFFF},
    {CtlEraseSec, 0, Max32},        {CtlRunAddr, 0, Max32},
};

std::string HexText(uint64_t v) {
    char buf[24];
    std::snprintf(buf, sizeof buf, "$%llX", static_cast<unsigned long long>(v));
    return buf;
}
}  // namespace

FieldCheck CheckNumericField(EditorControl c, const std::string& text, std::string& why) {
    const FieldRange* range = nullptr;
    for (const FieldRange& r : FieldRanges) {
        if (r.Control == c) range = &r;
    }
    if (range == nullptr) return FieldCheck::Number;
    why = std::string(TextNumberFrom) + std::to_string(range->Least) + " to " +
          std::to_string(range->Greatest) + " (" + HexText(range->Greatest) +
          "): decimal digits, or hex digits after $ or 0x";
    if (text.empty()) return FieldCheck::Empty;
    size_t digits = 0;
    bool hex = false;
    const std::string upper = Upper(text);
    if (upper[0] == '$' || upper[0] == 'X') {
        hex = true;
        digits = 1;
    } else if (upper.rfind("0X", 0) == 0) {
        hex = true;
        digits = 2;
    }
    if (digits == upper.size()) return hex ? FieldCheck::Partial : FieldCheck::Refused;
    uint64_t value = 0;
    for (size_t i = digits; i < upper.size(); ++i) {
        const char ch = upper[i];
        const bool dec = ch >= '0' && ch <= '9';
        const bool hexDigit = dec || (hex && ch >= 'A' && ch <= 'F');
        // "0x" is typed through "0": a decimal 0 may still become a hex prefix.
        if (!hexDigit) return FieldCheck::Refused;
        value = value * (hex ? 16 : 10) + static_cast<uint64_t>(dec ? ch - '0' : ch - 'A' + 10);
        if (value > range->Greatest) return FieldCheck::Refused;
    }
    int32_t read = 0;
    if (!ParseStepNumber(text, read)) return FieldCheck::Refused;
    return value < range->Least ? FieldCheck::Partial : FieldCheck::Number;
}

std::string ImagePathForStep(const std::string& stepFile, const std::string& image) {
    namespace fs = std::filesystem;
    if (stepFile.empty() || image.empty()) return image;
    std::error_code ec;
    const fs::path folder = fs::absolute(stepFile, ec).parent_path();
    const fs::path file = fs::absolute(image, ec);
    if (ec) return image;
    const auto below = [](const fs::path& f, const fs::path& dir) {
        const fs::path rel = f.lexically_normal().lexically_relative(dir.lexically_normal());
        return rel.empty() || *rel.begin() == ".." ? std::string() : rel.generic_string();
    };
    std::string rel = below(file, folder);
    if (rel.empty()) {
        const fs::path realFolder = fs::weakly_canonical(folder, ec);
        const fs::path realFile = ec ? fs::path() : fs::weakly_canonical(file, ec);
        if (!ec) rel = below(realFile, realFolder);
    }
    return rel.empty() || rel == "." ? image : rel;
}

// ---------------------------------------------------------------------------------------------
// Lines

bool StepEditor::Load(const std::string& path) {
    lines_.clear();
    parkedStep_ = fixedStep_ = 0;
    std::string content;
    if (!ReadStepFileText(path, content)) return false;
    size_t pos = 0;
    while (pos < content.size()) {
        size_t end = content.find_first_of("\r\n", pos);
        if (end == std::string::npos) end = content.size();
        // Every line is kept, comments and empty ones too: Save writes back what it was given.
        lines_.push_back(content.substr(pos, end - pos));
        pos = end;
        if (pos < content.size() && content[pos] == '\r') ++pos;
        if (pos < content.size() && content[pos] == '\n') ++pos;
    }
    return true;
}

bool StepEditor::Save(const std::string& path, std::string& message) const {
    std::string out;
    for (const std::string& line : lines_) out += line + LineEnd;
    // Write the file a link points to and keep the link; only a regular file is replaced.
    bool ok = !path.empty();
    std::string target = path;
    struct stat st {};
    if (ok && lstat(path.c_str(), &st) == 0 && S_ISLNK(st.st_mode)) {
        char resolved[PATH_MAX];
        ok = realpath(path.c_str(), resolved) != nullptr;
        if (ok) target = resolved;
    }
    if (ok && stat(target.c_str(), &st) == 0 && !S_ISREG(st.st_mode)) ok = false;
    if (ok) {
        AtomicFile file(target);
        ok = file.Open() && file.Write(out.data(), out.size()) && file.Commit();
    }
    if (!ok) message = std::string(TextErrorCreatingFile) + "\n" + path;
    return ok;
}

int StepEditor::StepCount() const {
    if (lines_.empty()) return 0;
    int count = 1;
    for (const std::string& line : lines_) count += IsStepSeparator(line) ? 1 : 0;
    return count;
}

StepEditor::Range StepEditor::StepRange() const {
    const int size = static_cast<int>(lines_.size());
    const int step = current_ < 1 ? 1 : current_;
    int separators = 0;
    Range r{size, size, size};
    if (step == 1) r.Begin = r.Insert = 0;
    for (int i = 0; i < size; ++i) {
        if (!IsStepSeparator(lines_[i])) continue;
        ++separators;
        if (separators == step - 1) {
            r.Begin = i;
            r.Insert = i + 1;
        } else if (separators == step) {
            r.End = i;
            break;
        }
    }
    // New lines go below the comments that open the step, so the comments stay on top.
    while (r.Insert < r.End && !lines_[r.Insert].empty() && lines_[r.Insert][0] != '/') ++r.Insert;
    return r;
}

int StepEditor::FindValue(const std::string& key) const {
    const Range r = StepRange();
    const std::string wanted = Upper(key);
    for (int i = r.Begin; i < r.End; ++i) {
        if (StartsWith(NormaliseStepLine(lines_[i]), wanted)) return i;
    }
    return -1;
}

bool StepEditor::HasFlag(const std::string& key) const {
    const Range r = StepRange();
    const std::string wanted = Upper(key);
    for (int i = r.Begin; i < r.End; ++i) {
        if (NormaliseStepLine(lines_[i]) == wanted) return true;
    }
    return false;
}

bool StepEditor::Value(const std::string& key, std::string& value) const {
    const int i = FindValue(key);
    if (i < 0) return false;
    value = NormaliseStepLine(lines_[i]).substr(key.size());
    return true;
}

bool StepEditor::RawValue(const std::string& key, std::string& value) const {
    const int i = FindValue(key);
    if (i < 0) return false;
    value = lines_[i].substr(key.size());
    return true;
}

int StepEditor::FindModelLine(int& model) const {
    const Range r = StepRange();
    model = 0;
    for (int i = r.Begin; i < r.End; ++i) {
        const std::string line = NormaliseStepLine(lines_[i]);
        for (int m = 1; m <= ModelKeyCount; ++m) {
            if (StartsWith(line, ModelKey(m))) {
                model = m;
                return i;
            }
        }
    }
    return -1;
}

void StepEditor::WriteValue(const std::string& key, const std::string& value) {
    const int at = FindValue(key);
    if (at < 0) {
        lines_.insert(lines_.begin() + StepRange().Insert, key + value);
        return;
    }
    lines_[at] = key + value;
    // One line per key: the station would take a later one's value over this one.
    const std::string wanted = Upper(key);
    Range r = StepRange();
    for (int i = r.End - 1; i > at; --i) {
        if (StartsWith(NormaliseStepLine(lines_[i]), wanted)) lines_.erase(lines_.begin() + i);
    }
}

void StepEditor::DeleteLines(const std::string& key, bool wholeLine) {
    const std::string wanted = Upper(key);
    Range r = StepRange();
    for (int i = r.End - 1; i >= r.Begin; --i) {
        const std::string line = NormaliseStepLine(lines_[i]);
        if (wholeLine ? line == wanted : StartsWith(line, wanted)) {
            lines_.erase(lines_.begin() + i);
        }
    }
}

void StepEditor::WriteFlag(const std::string& key) {
    if (!HasFlag(key)) lines_.insert(lines_.begin() + StepRange().Insert, key);
}

int StepEditor::StepProcessor() const {
    std::string value;
    return Value(ProcessorKey, value) ? WholeIndex(value, ProcessorCount) : -1;
}

int StepEditor::StepEeprom() const {
    std::string value;
    const ControlDef& def = Controls[CtlEeprom];
    return Value(def.Key, value) ? WholeIndex(value, static_cast<int>(def.Items.size())) : -1;
}

std::array<bool, FuseItemCount> StepEditor::FuseTicks(int processor) const {
    std::array<bool, FuseItemCount> ticks{};
    std::string text;
    Value(FusesKey, text);
    if (text.empty()) text = EmptyFuseText;
    if (text[0] != FuseTextPrefix) text = FuseStringToBits(processor, text);
    for (int i = 0; i < FuseItemCount; ++i) {
        ticks[i] = static_cast<size_t>(i) + 1 < text.size() && text[i + 1] == '1';
    }
    ticks[FuseItemSpien] = true;
    return ticks;
}

std::array<bool, LockItemCount> StepEditor::LockTicks(int processor) const {
    std::array<bool, LockItemCount> ticks{};
    if (processor < 0) return ticks;
    std::string text;
    Value(LockKey, text);
    for (int i = 0; i < LockItemCount; ++i) {
        const bool enabled = (Processors[processor].LockItems >> i) & 1;
        ticks[i] = enabled && static_cast<size_t>(i) < text.size() && text[i] == '1';
    }
    return ticks;
}

// ---------------------------------------------------------------------------------------------
// Refresh

StepView StepEditor::Refresh() {
    StepView v;
    v.StepCount = StepCount();
    if (current_ > v.StepCount) current_ = v.StepCount;
    if (current_ < 1) current_ = v.StepCount > 0 ? 1 : 0;
    v.CurrentStep = current_;
    v.StepNavigation = current_ >= 1;

    const int modelLine = FindModelLine(v.Model);
    if (modelLine >= 0) {
        v.FileName =
            NormaliseStepLine(lines_[modelLine]).substr(std::string(ModelKey(v.Model)).size());
    }
    if (modelLine < 0 && parkedStep_ == current_) v.FileName = Upper(parkedName_);
    v.FileGroupEnabled = v.Model >= 1;
    // A processor or EEPROM operation that is not a whole number in range is shown as not
    // chosen; its line is left as it stands.
    const int processor = StepProcessor();
    const int eeprom = StepEeprom();
    const ControlSet shown = ShownControls(v.Model, processor, eeprom);

    // Showing a step writes nothing: a line whose control the model hides ("/BOOT" for an
    // Infineon step, "/SINHRO" while another model is looked at) is what the run needs, and
    // it stays in the step until the operator changes it.

    for (int c = 0; c < CtlCount; ++c) {
        ControlView& cv = v.Controls[c];
        cv.Visible = shown.test(c);
        if (!cv.Visible) continue;
        ShowControl(c, cv);
    }
    // The flash always starts at 0 on the AVR; model 11's address space is fixed.
    if (v.Model == ModelAtmel || v.Model == Model91360Boot) {
        v.Controls[CtlStartAddr].Enabled = false;
    }
    if (v.Model == Model91360Boot) v.Controls[CtlLenAddr].Enabled = false;

    v.Processor = processor;
    if (processor >= 0) ShowFusesAndLocks(processor, v);
    v.FuseListEnabled = v.Controls[CtlFusesSet].Checked;
    v.LockListEnabled = v.Controls[CtlLockSet].Checked;
    return v;
}

void StepEditor::ShowControl(int c, ControlView& cv) const {
    const ControlDef& def = Controls[c];
    switch (def.Kind) {
        case ControlKind::Flag:
            cv.Checked = HasFlag(def.Key);
            break;
        case ControlKind::Paired:
            cv.Checked = RawValue(def.Key, cv.Text);
            break;
        case ControlKind::Field:
            RawValue(def.Key, cv.Text);
            break;
        case ControlKind::Choice:
            cv.Index = ChoiceIndex(c);
            break;
        case ControlKind::Group:
            break;
    }
}

int StepEditor::ChoiceIndex(int c) const {
    const ControlDef& def = Controls[c];
    if (c == CtlComPort) {
        const Range r = StepRange();
        for (int i = r.Begin; i < r.End; ++i) {
            if (int port = PortFlag(NormaliseStepLine(lines_[i])); port > 0) {
                return (port > PortChoices ? PortChoices : port) - 1;
            }
        }
        return -1;
    }
    std::string value;
    if (!Value(def.Key, value)) return -1;
    const int count = static_cast<int>(def.Items.size());
    if (def.WritesIndex) return WholeIndex(value, count);
    for (int i = 0; i < count; ++i) {
        if (value == def.Items[i]) return i;
    }
    return -1;
}

void StepEditor::ShowFusesAndLocks(int processor, StepView& v) const {
    const ProcessorDef& def = Processors[processor];
    for (int i = 0; i < FuseItemCount; ++i) v.FuseEnabled[i] = (def.FuseItems >> i) & 1;
    for (int i = 0; i < LockItemCount; ++i) v.LockEnabled[i] = (def.LockItems >> i) & 1;
    v.FuseChecked = FuseTicks(processor);
    v.LockChecked = LockTicks(processor);
    v.FuseComment = FuseComment(processor, v.FuseEnabled, v.FuseChecked);
    v.LockComment = LockComment(v.LockEnabled, v.LockChecked);
}

// ---------------------------------------------------------------------------------------------
// Operator actions

void StepEditor::SetModel(int model, const std::string& fileName) {
    int old = 0;
    const int at = FindModelLine(old);
    // The first model key decides the model; no other may stay behind it.
    if (at >= 0) {
        Range r = StepRange();
        for (int i = r.End - 1; i > at; --i) {
            const std::string line = NormaliseStepLine(lines_[i]);
            for (int m = 1; m <= ModelKeyCount; ++m) {
                if (StartsWith(line, ModelKey(m))) {
                    lines_.erase(lines_.begin() + i);
                    break;
                }
            }
        }
    }
    std::string written;  // the image name as the step has it
    if (at >= 0) {
        const std::string& line = lines_[at];
        written = line.substr(std::min(line.size(), std::string(ModelKey(old)).size()));
    } else if (parkedStep_ == current_) {
        written = parkedName_;
    }
    if (model < 1 || model > ModelKeyCount) {
        if (at >= 0) {
            lines_.erase(lines_.begin() + at);
            parkedStep_ = current_;
            parkedName_ = written;
        }
        return;
    }
    // The name is shown in upper case; the line keeps the case it was written in.
    const std::string name = Upper(written) == Upper(fileName) ? written : fileName;
    const std::string line = ModelKey(model) + name;
    if (at >= 0) {
        lines_[at] = line;
    } else {
        lines_.insert(lines_.begin() + StepRange().Insert, line);
    }
    // Model 11 has a fixed address space: it is written when the model is chosen for a step
    // without one. A step's own space stays, so looking at model 11 and back changes nothing.
    // Choosing another model right after takes out again what model 11 wrote.
    const std::pair<EditorControl, const char*> fixed[] = {{CtlStartAddr, Model11Start},
                                                           {CtlLenAddr, Model11Length}};
    if (model == Model91360Boot && old != Model91360Boot) {
        fixedStep_ = current_;
        for (size_t i = 0; i < 2; ++i) {
            fixedWritten_[i] = FindValue(Controls[fixed[i].first].Key) < 0;
            if (fixedWritten_[i]) WriteValue(Controls[fixed[i].first].Key, fixed[i].second);
        }
    } else if (model != Model91360Boot && old == Model91360Boot && fixedStep_ == current_) {
        for (size_t i = 0; i < 2; ++i) {
            std::string value;
            if (fixedWritten_[i] && RawValue(Controls[fixed[i].first].Key, value) &&
                value == fixed[i].second)
                DeleteLines(Controls[fixed[i].first].Key, false);
        }
        fixedStep_ = 0;
    }
}

void StepEditor::SetFileName(const std::string& fileName) {
    int model = 0;
    const int at = FindModelLine(model);
    if (at >= 0) lines_[at] = ModelKey(model) + fileName;
}

void StepEditor::SetChecked(EditorControl c, bool checked, const std::string& pairedText) {
    const ControlDef& def = Controls[c];
    if (def.Kind == ControlKind::Flag) {
        if (checked) {
            WriteFlag(def.Key);
        } else {
            DeleteLines(def.Key, true);
        }
    } else if (def.Kind == ControlKind::Paired) {
        if (checked) {
            WriteValue(def.Key, pairedText);
        } else {
            DeleteLines(def.Key, false);
        }
    }
}

void StepEditor::SetText(EditorControl c, const std::string& text) {
    const ControlDef& def = Controls[c];
    if (def.Kind == ControlKind::Field) {
        if (text.empty()) {
            DeleteLines(def.Key, false);
        } else {
            WriteValue(def.Key, text);
        }
    } else if (def.Kind == ControlKind::Paired) {
        // The box decides whether the line is there; the edit only gives its value.
        if (FindValue(def.Key) >= 0) WriteValue(def.Key, text);
    }
}

void StepEditor::Choose(EditorControl c, int index) {
    const ControlDef& def = Controls[c];
    if (def.Kind != ControlKind::Choice) return;
    if (index < 0 || index >= static_cast<int>(def.Items.size())) return;
    if (c == CtlComPort) {
        for (int port = 1; port <= PortFlagsRead; ++port) {
            DeleteLines(PortKey + std::to_string(port), true);
        }
        lines_.insert(lines_.begin() + StepRange().Insert, PortKey + std::to_string(index + 1));
        return;
    }
    WriteValue(def.Key, def.WritesIndex ? std::to_string(index) : def.Items[index]);
}

void StepEditor::SetProcessor(int index) {
    if (index < 0 || index >= ProcessorCount) return;
    WriteValue(ProcessorKey, std::to_string(index));
    SetText(CtlStartAddr, "0");
    SetText(CtlLenAddr, Processors[index].Length);
}

void StepEditor::SetFuse(int item, bool checked) {
    const int processor = StepProcessor();
    if (processor < 0 || item < 0 || item >= FuseItemCount) return;
    if (!((Processors[processor].FuseItems >> item) & 1)) return;
    std::array<bool, FuseItemCount> ticks = FuseTicks(processor);
    ticks[item] = checked;
    std::string text(1, FuseTextPrefix);
    for (bool t : ticks) text += t ? '1' : '0';
    WriteValue(FusesKey, text);
}

void StepEditor::SetLock(int item, bool checked) {
    const int processor = StepProcessor();
    if (processor < 0 || item < 0 || item >= LockItemCount) return;
    if (!((Processors[processor].LockItems >> item) & 1)) return;
    std::array<bool, LockItemCount> ticks = LockTicks(processor);
    ticks[item] = checked;
    std::string text;
    for (bool t : ticks) text += t ? '1' : '0';
    WriteValue(LockKey, text);
}

void StepEditor::AddStep() {
    lines_.push_back(lines_.empty() ? std::string() : std::string(StepSeparator));
}

void StepEditor::ClearStep() {
    if (current_ < 1) return;
    parkedStep_ = fixedStep_ = 0;
    const Range r = StepRange();
    lines_.erase(lines_.begin() + r.Begin, lines_.begin() + r.End);
    if (!lines_.empty() && IsStepSeparator(lines_.front())) lines_.erase(lines_.begin());
}

}  // namespace ps

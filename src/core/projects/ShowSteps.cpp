// SPDX-License-Identifier: MIT
#include "projects/ShowSteps.h"

#include "display/MapGeometry.h"
#include "projects/StepFile.h"
#include "projects/StepSettings.h"

namespace ps {
namespace {

void Line(std::string& out, const char* name, const std::string& value) {
    out += name;
    out += '=';
    out += value;
    out += '\n';
}
void Line(std::string& out, const char* name, long long value) {
    Line(out, name, std::to_string(value));
}
void Line(std::string& out, const char* name, bool value) {
    Line(out, name, std::string(value ? "1" : "0"));
}

void StepBlock(std::string& out, int step, int result, const StepSettings& s,
               const MapGeometry& map) {
    out += "[step " + std::to_string(step) + "]\n";
    Line(out, "Result", static_cast<long long>(result));
    if (!s.LoadError.empty()) Line(out, "Error", s.LoadError);
    Line(out, "ProgramFile", s.ProgramFile);
    Line(out, "ModelIndex", static_cast<long long>(s.ModelIndex));
    Line(out, "BaudRate", s.BaudRate);
    Line(out, "ComPortNo", static_cast<long long>(s.ComPortNo));
    Line(out, "AddrStart", static_cast<long long>(s.AddrStart));
    Line(out, "AddrLen", static_cast<long long>(s.AddrLen));
    Line(out, "AddrExtFlash", static_cast<long long>(s.AddrExtFlash));
    Line(out, "BlockLen", static_cast<long long>(s.BlockLen));
    Line(out, "BlocksOnRow", static_cast<long long>(s.BlocksOnRow));
    Line(out, "RunAddr", static_cast<long long>(s.RunAddr));
    Line(out, "EraseSectors", static_cast<long long>(s.EraseSectors));
    Line(out, "SpeedSet", static_cast<long long>(s.SpeedSet));
    Line(out, "BootSignal", s.BootSignal);
    Line(out, "ResetSignal", s.ResetSignal);
    Line(out, "BankPortValue", static_cast<long long>(s.BankPortValue));
    Line(out, "AtmelDevice", static_cast<long long>(s.AtmelDevice));
    Line(out, "AtProgEe", static_cast<long long>(s.AtProgEe));
    Line(out, "FuseBits", s.FuseBits);
    Line(out, "LockBits", s.LockBits);
    Line(out, "Reset", s.Reset);
    Line(out, "Boot", s.Boot);
    Line(out, "Sinhro", s.Sinhro);
    Line(out, "DevCheck", s.DevCheck);
    Line(out, "EraseRam", s.EraseRam);
    Line(out, "SimulateFlash", s.SimulateFlash);
    Line(out, "EraseFlash", s.EraseFlash);
    Line(out, "AutoErase", s.AutoErase);
    Line(out, "FlashId", s.FlashId);
    Line(out, "CheckSum", s.CheckSum);
    Line(out, "TestInt", s.TestInt);
    Line(out, "TestExt", s.TestExt);
    Line(out, "Usb", s.Usb);
    Line(out, "AutoReset", s.AutoReset);
    Line(out, "AutoContinue", s.AutoContinue);
    Line(out, "SaveImage", s.SaveImage);
    Line(out, "SkipStep", s.SkipStep);
    Line(out, "Unlock", s.Unlock);
    Line(out, "FusesSet", s.FusesSet);
    Line(out, "LockSet", s.LockSet);
    Line(out, "Rows", static_cast<long long>(map.Rows));
    Line(out, "Cols", static_cast<long long>(map.Cols));
}

}  // namespace

ShowStepsReport ShowSteps(const CurrentProject& project, const std::vector<std::string>& args,
                          int comPortNo) {
    ShowStepsReport report;
    StepSettings settings;
    ResetRunSettings(settings, comPortNo);
    for (int step = 1;; ++step) {
        MapGeometry map;
        int result = LoadStep(step, project, args, settings, map);
        if (result == StepFileNotOpened) {
            if (!report.Text.empty()) report.Text += '\n';
            report.Text += TextErrorOpeningFile;
            report.Text += '\n';
            report.ExitStatus = ShowStepsFailed;
            break;
        }
        if (step > 1) report.Text += '\n';
        StepBlock(report.Text, step, result, settings, map);
        if (!settings.LoadError.empty()) report.ExitStatus = ShowStepsFailed;
        if (result == StepMissing || settings.ProgramFile.empty()) break;
    }
    return report;
}

}  // namespace ps

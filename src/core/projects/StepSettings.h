// SPDX-License-Identifier: MIT
#pragma once
#include <cstdint>
#include <string>

namespace ps {

// Baud rate of a run until a step sets another; models 6 and 9 always use it.
constexpr const char* DefaultBaudRate = "115200";

// The settings of the step being run, one field per step-file key. Each field's reset
// class is given beside it: "step" fields get their default at every LoadStep, "run"
// fields only when a run begins (ResetRunSettings), "never" fields keep their value until
// the program ends.
struct StepSettings {
    std::string ProgramFile;  // step: image file named by the model key, <= 200 chars
    int32_t ModelIndex = -1;  // step: 1..13 from the model key, -1 none
    std::string BaudRate = DefaultBaudRate;  // run
    int32_t ComPortNo = 1;                   // run: "/COM1".."/COM10"
    int32_t AddrStart = 0;                   // run
    int32_t AddrLen = 0;                     // run
    int32_t AddrExtFlash = 0;                // never
    int32_t BlockLen = 2048;                 // run
    int32_t BlocksOnRow = 16;                // run
    int32_t RunAddr = -1;                    // step
    int32_t EraseSectors = -1;               // step
    int32_t SpeedSet = 0;                    // never
    std::string BootSignal;                  // step
    std::string ResetSignal;                 // step
    uint16_t BankPortValue = 0xFFFF;         // step: 0xFFFF = bank port not set
    int32_t AtmelDevice = -1;                // step
    int32_t AtProgEe = -1;                   // step
    std::string FuseBits;                    // step
    std::string LockBits;                    // step
    bool Reset = false;                      // step (all flags are "step" but SaveImage)
    bool Boot = false;
    bool Sinhro = false;
    bool DevCheck = false;
    bool EraseRam = false;
    bool SimulateFlash = false;
    bool EraseFlash = false;
    bool AutoErase = false;
    bool FlashId = false;
    bool CheckSum = false;
    bool TestInt = false;
    bool TestExt = false;
    bool Usb = false;
    bool AutoReset = false;
    bool AutoContinue = false;
    bool SaveImage = false;  // run
    bool SkipStep = false;
    bool Unlock = false;
    bool FusesSet = false;
    bool LockSet = false;

    // Not a key: set by LoadStep when a value could not be taken as it stands (a
    // "/AT_PROG_EE=" that is not a whole number, a value holding a NUL byte, a range that
    // is negative or wraps). The step must then not run; the text names the offending
    // line. Reset with the "step" fields.
    std::string LoadError;
    // Not keys: the (normalised) lines that last set AddrStart and AddrLen, so that a flow
    // refusing the range can name the line. "run" fields, as the values are.
    std::string AddrStartLine;
    std::string AddrLenLine;
    // The lines that set "/ADDREXTFLASH=" (never reset, as its value) and "/ERASESECTORS="
    // (reset per step), for the same message.
    std::string AddrExtFlashLine;
    std::string EraseSectorsLine;

    bool operator==(const StepSettings&) const = default;
};

}  // namespace ps

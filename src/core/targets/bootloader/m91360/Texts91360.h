// SPDX-License-Identifier: MIT
#pragma once

#include "run/Texts.h"

// Status and message texts of the "91360 BOOT" and "91360 LOADER" steps, exactly as the
// operator sees them; those they share with other steps are the run controller's own.
namespace ps {

inline constexpr const char* Msg91360Connecting = TextConnecting;  // the boot ROM
inline constexpr const char* Msg91360Ok = TextOk;
inline constexpr const char* Msg91360Programming = TextProgramming;
inline constexpr const char* Msg91360ProgramedOk = TextProgramedOkLower;
inline constexpr const char* Msg91360Verifying = TextVerifying;
inline constexpr const char* Msg91360CheckSumOk = TextCheckSumOk;
inline constexpr const char* Msg91360CheckSumFail = TextCheckSumFail;

// Message boxes of the boot ROM's refusals; the run then ends with "BREAK".
inline constexpr const char* Msg91360ErrorF1 = "ERROR F1";
inline constexpr const char* Msg91360Error83 = "ERROR 83";
inline constexpr const char* Msg91360Error84 = "ERROR 84";

// The flash loader. "conecting..." is spelt as the station has always shown it.
inline constexpr const char* Msg91360LoaderConnecting = "conecting...";
inline constexpr const char* Msg91360ErasingFlash = "Erasing Flash...";
inline constexpr const char* Msg91360ErasingSectors = "Erasing sectors...";
inline constexpr const char* Msg91360ErasingSectorsAuto = "Erasing sectors (auto)...";

// Ours: "/AUTOERASE" compares and erases whole sectors, so the step's address window must
// be made of whole sectors of the flash.
inline constexpr const char* Msg91360AutoEraseWindow =
    "ERROR : /AUTOERASE needs /ADDRSTART=$180000 and an /ADDRLEN= that ends on a sector "
    "boundary, at most $80000";

}  // namespace ps

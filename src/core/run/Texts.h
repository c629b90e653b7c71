// SPDX-License-Identifier: MIT
#pragma once

// Status and message texts of the run controller, the inline step sequence and the link,
// exactly as the operator sees them.
namespace ps {

constexpr const char* TextErrorOpeningComPort = "ERROR : opening COM port.";
constexpr const char* TextBreak = "BREAK";
constexpr const char* TextFilePrefix = "FILE: ";
constexpr int FileNameLineMax = 206;
constexpr const char* TextProgramedOkLower = "programed ok!";
constexpr const char* TextCheckSumOk = "        check sum OK";
constexpr const char* TextCheckSumFail = "CHECK SUM FAIL (";
constexpr const char* TextErrors = "ERRORS: ";
constexpr const char* TextOk = " ok";
constexpr const char* TextEraseFail = "ERASE FAIL";

// Inline step sequence.
constexpr const char* TextConnecting = "connecting...";
constexpr const char* TextSearchingAtmel = "searching for ATMEL...";
constexpr const char* TextAtmelIdError = "ATMEL ID. ERROR !!!";
constexpr const char* TextAtmelProtected = "ATMEL IS PROTECTED !";
constexpr const char* TextWrongAtmel = "WRONG ATMEL MICROCONTROLER!!!";
constexpr const char* TextFlashIdError = "FLASH ID. ERROR !!!";
constexpr const char* TextErasingRam = "Erasing...";
constexpr const char* TextErasingMemory = "erasing memory...";
constexpr const char* TextProgramming = "programming...";
constexpr const char* TextVerifying = "verifying...";
constexpr const char* TextSwapJumper = "Zamenjaj jumper";

// Ours: failures the station's historic texts had no words for.
constexpr const char* TextPortLost = "ERROR : COM port failed: ";
constexpr const char* TextModelUnavailable = "ERROR : model not available in this station: ";
// + model name: the model's target has no checksum command, so "/CHECKSUM" cannot be kept.
constexpr const char* TextNoCheckSumFor = "ERROR : /CHECKSUM not available for ";
// The opt-in silence limit: followed by the limit in seconds and " s".
// The opt-in wait for a missing port: followed by the COM number and "...".
constexpr const char* TextWaitingForPort = "waiting for the port of COM";
constexpr const char* TextNoAnswer = "ERROR : no answer from the board for ";
constexpr const char* TextRunFailed = "ERROR : run failed: ";

}  // namespace ps

// SPDX-License-Identifier: MIT
#pragma once

namespace ps {

class Station;

// Exit statuses of the programs after a run, for scripts.
constexpr int ExitSuccess = 0;            // every step ended in success
constexpr int ExitBreak = 1;              // "BREAK": stopped, or a command refused by the board
constexpr int ExitStepErrors = 3;         // a step ended with "ERRORS: " or "CHECK SUM FAIL"
constexpr int ExitStepFile = 10;          // the step file could not be opened, or holds a bad value
constexpr int ExitComPort = 11;           // the COM port could not be opened, or failed in the run
constexpr int ExitImageFile = 12;         // an image file could not be opened or is malformed
constexpr int ExitModelUnavailable = 13;  // a step names a model this station cannot program
constexpr int ExitRunFailed = 15;         // the run failed in a way no step reports
constexpr int ExitRecordNotWritten = 16;  // --record: the run succeeded, its record is missing
constexpr int ExitUsage = 64;             // bad command-line usage
// 2, 5, 8, 23, 24 and 25: the run ended with that RunError.

// The status of the run that ended last; "BREAK" when no run has ended yet.
int ExitStatusFor(const Station& st);

}  // namespace ps

// SPDX-License-Identifier: MIT
#pragma once
#include <string>
#include <vector>

namespace ps {

// What the two forms of a port's run (PosixGangRun.cpp, Win32GangRun.cpp) share.

// Names, in a run's environment, what it watches to see its gang gone: the read end of the
// gang's lifeline pipe (POSIX), a handle to the gang's process (Windows).
inline constexpr const char* GangLifelineVariable = "PROGSTATION_GANG_LIFELINE";
inline constexpr const char* GangKilledText = "killed by signal ";
inline constexpr const char* GangLostText = "lost: ";

// The command line of a port's run: the program's name, "--gang-port N", then
// PortRunArgs(args, port).
std::vector<std::string> PortRunCommand(const std::vector<std::string>& args, int port);

// Windows: one argument as the C runtime reads it back from a command line (quoted where it
// holds blanks or quotes, backslashes doubled only before a quote).
std::string WindowsCommandLineArgument(const std::string& arg);

}  // namespace ps

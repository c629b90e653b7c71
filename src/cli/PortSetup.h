#pragma once
#include <string>

namespace ps {

class Clock;
class Station;

// Gives the station's port its map: COMn from the environment, [Ports] of PROGRAMMER.INI,
// or /dev/ttyS<n-1>; "sim:" ports are simulated boards in this process.
void SetUpPorts(Station& st, Clock& clock);

// A hint for an operator whose port could not be opened (permissions), or "".
std::string PortOpenHint(const Station& st);

}  // namespace ps

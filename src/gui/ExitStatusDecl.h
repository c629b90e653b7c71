#pragma once
// The run's exit status for automatic mode comes from the core, shared with the terminal
// front end. Until its header has landed, the declaration is repeated here.
#if __has_include("app/ExitStatus.h")
#include "app/ExitStatus.h"
#else
namespace ps {
class Station;
int ExitStatusFor(const Station& st);
}  // namespace ps
#endif

// SPDX-License-Identifier: MIT
#include "options/OptionTable.h"

namespace ps::options {

// Where a Windows station keeps its settings, and what stops it there (no signals, but the
// console's keys and its closing).
HelpPhrases SystemHelpPhrases() {
    return {
        {"the user's ~/.config/progstation/PROGRAMMER.INI (when it exists), then "
         "/etc/progstation/PROGRAMMER.INI for an installed station or PROGRAMMER.INI in the "
         "program's folder for a copied one",
         "the user's %APPDATA%\\progstation\\PROGRAMMER.INI (when it exists), then "
         "PROGRAMMER.INI in the program's folder"},
        {"input stops. Ctrl-C (SIGINT, SIGTERM, SIGHUP) is STOP; a second Ctrl-C exits at once.\n",
         "input stops. Ctrl-C, Ctrl-Break or closing the console is STOP; a second Ctrl-C\n"
         "exits at once.\n"},
    };
}

}  // namespace ps::options

// SPDX-License-Identifier: MIT
#include "options/OptionTable.h"

namespace ps::options {

// The option table speaks of Linux already.
HelpPhrases SystemHelpPhrases() {
    return {};
}

}  // namespace ps::options

// SPDX-License-Identifier: MIT
#include "projects/UserFolder.h"

namespace ps {

std::string SystemUserSettingsFolder() {
    return "";
}

}  // namespace ps

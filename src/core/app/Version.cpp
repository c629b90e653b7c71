// SPDX-License-Identifier: MIT
#include "app/Version.h"

#ifndef PS_VERSION
#define PS_VERSION "0.0"
#endif
#ifndef PS_GIT_COMMIT
#define PS_GIT_COMMIT ""
#endif

namespace ps {

std::string VersionText() {
    const std::string commit = PS_GIT_COMMIT;
    return commit.empty() ? std::string(PS_VERSION)
                          : std::string(PS_VERSION) + " (commit " + commit + ")";
}

}  // namespace ps

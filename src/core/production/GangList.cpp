// SPDX-License-Identifier: MIT
#include "production/GangList.h"

#include <algorithm>
#include <set>

namespace ps {

bool ParseGangList(const std::string& text, std::vector<int>& ports) {
    ports.clear();
    std::set<int> seen;
    size_t start = 0;
    while (start <= text.size()) {
        const size_t comma = std::min(text.find(',', start), text.size());
        const std::string item = text.substr(start, comma - start);
        if (item.empty() || item.size() > 2 ||
            item.find_first_not_of("0123456789") != std::string::npos) {
            ports.clear();
            return false;
        }
        const int n = std::stoi(item);
        if (n < 1 || n > MaxGangPort || !seen.insert(n).second) {
            ports.clear();
            return false;
        }
        ports.push_back(n);
        start = comma + 1;
    }
    return !ports.empty();
}

}  // namespace ps

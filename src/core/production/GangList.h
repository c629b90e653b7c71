// SPDX-License-Identifier: MIT
#pragma once
#include <string>
#include <vector>

namespace ps {

// The highest COM number a gang run takes.
constexpr int MaxGangPort = 10;

// "1,2,3" -> {1, 2, 3}; false for anything but distinct COM numbers 1..MaxGangPort (the
// list is then left empty).
bool ParseGangList(const std::string& text, std::vector<int>& ports);

}  // namespace ps

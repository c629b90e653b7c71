// SPDX-License-Identifier: MIT
#pragma once
#include <cstdint>

namespace ps {

// The models in the order of their index ("/P=" is 1, "/PB=" 2, ...); 0 is "None".
constexpr int ModelCount = 14;

// The target models by ModelIndex 0..13 (-1: the step names none); "" outside them.
const char* ModelName(int32_t modelIndex);

}  // namespace ps

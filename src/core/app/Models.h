// SPDX-License-Identifier: MIT
#pragma once
#include <cstdint>

namespace ps {

constexpr int ModelCount = 14;

// The target models by ModelIndex 0..13 (-1: the step names none).
const char* ModelName(int32_t modelIndex);

class Station;
using FlowFunction = void (*)(Station&);

// The flow that programs a model, or nullptr when the model runs the inline step sequence
// (or, for a model whose flow this station does not have yet, when ModelAvailable is false).
FlowFunction ModelFlow(int32_t modelIndex);
bool ModelAvailable(int32_t modelIndex);

}  // namespace ps

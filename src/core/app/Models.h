// SPDX-License-Identifier: MIT
#pragma once
#include <cstdint>

#include "run/ModelNames.h"

namespace ps {

class Station;
using FlowFunction = void (*)(Station&);

// The flow that programs a model, or nullptr when the model runs the inline step sequence
// (or, for a model whose flow this station does not have yet, when ModelAvailable is false).
FlowFunction ModelFlow(int32_t modelIndex);
bool ModelAvailable(int32_t modelIndex);

}  // namespace ps

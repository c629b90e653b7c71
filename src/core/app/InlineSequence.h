// SPDX-License-Identifier: MIT
#pragma once
#include <cstdint>
#include <string>

namespace ps {

class Station;

// The step sequence the run controller carries out itself for the models without a flow of
// their own: optional operations switched on by the step's flags, the model's loader, and
// the after-programming operations. The end of the step (result text, CONTINUE) follows in
// the run controller.
void RunInlineSequence(Station& st);

// Fuse and lock command bytes of the inline sequence for a processor index ("/ATMEL="), from
// the raw bit texts. Empty when the processor takes no such command.
std::string InlineFuseCommand(int processor, const std::string& fuseBits, bool high);
std::string InlineLockCommand(int processor, const std::string& lockBits);

}  // namespace ps

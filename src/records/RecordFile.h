// SPDX-License-Identifier: MIT
#pragma once
#include <string>

#include "production/RunRecord.h"

namespace ps {

// The run record as one JSON object on one line (JSON Lines).
std::string RecordJson(const RunRecord& record);

// Appends the record's line to `path` with a single write on a file opened for appending,
// so gang runs appending at once and a run killed mid-way never leave half a line. Returns
// false (with a reason) when the line could not be written whole.
bool AppendRecord(const std::string& path, const RunRecord& record, std::string& error);

}  // namespace ps

// SPDX-License-Identifier: MIT
#pragma once
#include <string>

#include "production/RunRecord.h"

namespace ps {

// The run record as one JSON object on one line (JSON Lines).
std::string RecordJson(const RunRecord& record);

// Appends the record's line to `path` whole or not at all: a single write on a file opened
// for appending and locked, so gang runs appending at once and a run killed mid-way never
// leave half a line, and a write the disk cut short is undone (the file cut back to its old
// length). A read-only file is refused (for root too), a FIFO without a reader at once.
// Returns false (with a reason) when the line is not in the file.
bool AppendRecord(const std::string& path, const RunRecord& record, std::string& error);
// The same for any one line of text (ending in "\n").
bool AppendLine(const std::string& path, const std::string& line, std::string& error);

}  // namespace ps

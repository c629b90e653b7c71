// SPDX-License-Identifier: MIT
#pragma once
#include <string>

namespace ps {

// Whether an Intel HEX or S-record text file holds at least one data record: a type 00
// record with a count, or an S1/S2/S3 record with bytes past its address. A record
// whose fields do not read counts as data here, so the flow's own reading still reports
// it. False for a file that opens but holds no data; true when the file cannot be opened
// as an image text (the flow then reports that itself).
bool ImageHoldsData(const std::string& path);

}  // namespace ps

// SPDX-License-Identifier: MIT
#pragma once
#include <string>
#include <vector>

#include "projects/CurrentProject.h"

namespace ps {

// A record the lenient image reading would load although it is damaged: its checksum is
// wrong, or its length field disagrees with its text.
struct ImageFinding {
    std::string File;
    int Line = 0;      // from 1
    std::string Text;  // "record checksum 0x12, computed 0x34", ...

    std::string Describe() const;  // "FILE:LINE: text"
};

// The findings of a check: the first MaxListedFindings of them and the count of all, so
// that a file of millions of damaged records is checked in constant memory.
constexpr size_t MaxListedFindings = 100;
struct ImageCheckReport {
    std::vector<ImageFinding> Findings;
    int64_t Total = 0;
    void Add(ImageFinding finding);
};

// Checks the Intel HEX (":") and S-record ("S") lines of one image file. Model 6's files
// are DSP records without a checksum and are not checked; binaries hold no records.
void CheckImageRecords(const std::string& path, int modelIndex, ImageCheckReport& report);
// The same, the first MaxListedFindings findings only.
std::vector<ImageFinding> CheckImageFile(const std::string& path, int modelIndex);

// Every image the project's steps name (after extra parameters and command-line lines):
// each file's records checked once, and each step's image account (the data its loader
// would not program, a malformed file), as the run computes it before it opens the port.
// Names are looked up as the flows look them up (any case), relative to the current
// folder.
ImageCheckReport CheckProjectImages(const CurrentProject& project,
                                    const std::vector<std::string>& args);

}  // namespace ps

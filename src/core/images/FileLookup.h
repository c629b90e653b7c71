// SPDX-License-Identifier: MIT
#pragma once
#include <string>

namespace ps {

// Start of the error text for a name that matches several entries differing only in case;
// the matching paths follow, each in double quotes, separated by ", ".
extern const char* const MsgAmbiguousFileName;  // "AMBIGUOUS FILE NAME: "

// Step files were written where file names ignore case, so "/PA=IMAGE.HEX" must still find
// "image.hex". When `path` exists as given it is returned unchanged. Otherwise every
// component of the path is looked up in its folder without regard to ASCII case (an exact
// match of a component always wins). Returns the path as found on disk; returns "" when
// nothing matches (error stays empty, the caller reports the missing file) and "" with
// `error` set when a folder holds two or more entries that match equally well.
std::string FindFileIgnoringCase(const std::string& path, std::string& error);

}  // namespace ps

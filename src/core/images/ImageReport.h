// SPDX-License-Identifier: MIT
#pragma once
#include <stdexcept>
#include <string>

namespace ps {

// Where image readers report a file that cannot be opened or is not a valid image. The
// station shows the message in an error box, asks the program to end, and ends the run
// with an error (so a bad file never ends in a success text).
class ImageReporter {
public:
    virtual ~ImageReporter() = default;
    virtual void ImageFileError(const std::string& message) = 0;
    // Something in a file that loads as the rules say but that the operator must know of
    // (a record whose checksum is wrong). Shown without stopping anything.
    virtual void ImageFileWarning(const std::string& message) { (void)message; }
};

// The standard integer conversion's error, raised by the strict hex conversion with the
// text "'%s' is not a valid integer value". It ends the run.
class EConvertError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

}  // namespace ps

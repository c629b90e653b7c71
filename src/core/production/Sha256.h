// SPDX-License-Identifier: MIT
#pragma once
#include <cstddef>
#include <cstdint>
#include <string>

namespace ps {

// SHA-256 of a byte string, as 64 lower-case hexadecimal digits: the run records name each
// image by it, so a record shows which build went into a board.
std::string Sha256Hex(const uint8_t* data, size_t size);
// Of a whole file; "" when it cannot be read.
std::string Sha256OfFile(const std::string& path);

}  // namespace ps

// SPDX-License-Identifier: MIT
#include "images/ImageData.h"

#include <cctype>

#include "images/ImageFile.h"

namespace ps {

namespace {

int HexByte(const std::string& line, size_t at) {
    if (at + 2 > line.size() || !std::isxdigit(static_cast<unsigned char>(line[at])) ||
        !std::isxdigit(static_cast<unsigned char>(line[at + 1])))
        return -1;
    return std::stoi(line.substr(at, 2), nullptr, 16);
}

bool IsDataRecord(const std::string& line) {
    if (line[0] == ':') {
        const int count = HexByte(line, 1), type = HexByte(line, 7);
        if (count < 0 || type < 0) return true;  // the flow's reader says what is wrong
        return type == 0x00 && count > 0;
    }
    if ((line[0] == 'S' || line[0] == 's') && line.size() >= 2) {
        const char kind = line[1];
        if (kind < '1' || kind > '3') return false;  // header, count and end records
        const int count = HexByte(line, 2);
        if (count < 0) return true;
        const int addressBytes = kind - '0' + 1;
        return count > addressBytes + 1;  // address, data, checksum
    }
    return false;
}

}  // namespace

bool ImageHoldsData(const std::string& path) {
    ImageText file;
    if (!file.Open(path)) return true;
    std::string line;
    while (file.ReadLine(line))
        if (IsDataRecord(line)) return true;
    return file.Failed();  // a failed read is the flow's to report
}

}  // namespace ps

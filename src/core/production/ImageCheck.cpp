// SPDX-License-Identifier: MIT
#include "production/ImageCheck.h"

#include <sys/stat.h>

#include <cstdio>
#include <fstream>
#include <set>

#include "images/FileLookup.h"
#include "projects/StepFile.h"

namespace ps {

namespace {

constexpr int ModelSharcSplit = 6;
constexpr int MaxSteps = 10000;
// Lines longer than any record are not records; they are left to the image reader.
constexpr size_t MaxRecordText = 4096;

int HexDigit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    return -1;
}

// The bytes of the hex pairs from `from` on; false at the first character that is not a
// hex digit (a line the checker cannot judge; the reader reports such lines itself).
bool HexBytes(const std::string& line, size_t from, std::vector<int>& out) {
    out.clear();
    size_t end = line.size();
    while (end > from && (line[end - 1] == ' ' || line[end - 1] == '\t')) --end;
    if ((end - from) % 2 != 0) return false;
    for (size_t i = from; i + 1 < end; i += 2) {
        const int hi = HexDigit(line[i]), lo = HexDigit(line[i + 1]);
        if (hi < 0 || lo < 0) return false;
        out.push_back(hi * 16 + lo);
    }
    return true;
}

std::string Hex2(int v) {
    char text[8];
    std::snprintf(text, sizeof text, "0x%02X", v & 0xFF);
    return text;
}

// ":" LL AAAA TT data CC, with the sum of all bytes 0 modulo 256.
void CheckIntel(const std::string& line, std::vector<std::string>& found) {
    std::vector<int> b;
    if (!HexBytes(line, 1, b) || b.size() < 5) return;
    const int count = b[0];
    if (static_cast<int>(b.size()) != count + 5) {
        found.push_back("length field " + Hex2(count) + " disagrees with the record's " +
                        std::to_string(b.size() - 5) + " data bytes");
        return;
    }
    int sum = 0;
    for (size_t i = 0; i + 1 < b.size(); ++i) sum += b[i];
    const int computed = (0x100 - (sum & 0xFF)) & 0xFF;
    if (computed != b.back())
        found.push_back("record checksum " + Hex2(b.back()) + ", computed " + Hex2(computed));
}

// "S" T CC address data KK: CC counts the bytes after it, KK is the ones' complement of
// the sum of CC, the address and the data.
void CheckSrec(const std::string& line, std::vector<std::string>& found) {
    if (line.size() < 2 || HexDigit(line[1]) < 0) return;
    std::vector<int> b;
    if (!HexBytes(line, 2, b) || b.size() < 2) return;
    const int count = b[0];
    if (static_cast<int>(b.size()) != count + 1) {
        found.push_back("length field " + Hex2(count) + " disagrees with the record's " +
                        std::to_string(b.size() - 1) + " bytes");
        return;
    }
    int sum = 0;
    for (size_t i = 0; i + 1 < b.size(); ++i) sum += b[i];
    const int computed = ~sum & 0xFF;
    if (computed != b.back())
        found.push_back("record checksum " + Hex2(b.back()) + ", computed " + Hex2(computed));
}

}  // namespace

std::string ImageFinding::Describe() const {
    return File + ":" + std::to_string(Line) + ": " + Text;
}

std::vector<ImageFinding> CheckImageFile(const std::string& path, int modelIndex) {
    std::vector<ImageFinding> findings;
    if (modelIndex == ModelSharcSplit) return findings;
    // Only a regular file: a FIFO or a device named as an image would never end. The
    // station's own reading refuses such a file with its message.
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) return findings;
    std::ifstream in(path, std::ios::binary);
    std::string line;
    int number = 0;
    while (std::getline(in, line)) {
        ++number;
        if (!line.empty() && line.back() == '\r') line.pop_back();
        if (line.size() > MaxRecordText || line.empty()) continue;
        std::vector<std::string> found;
        if (line[0] == ':') CheckIntel(line, found);
        if (line[0] == 'S' || line[0] == 's') CheckSrec(line, found);
        for (auto& text : found) findings.push_back({path, number, std::move(text)});
    }
    return findings;
}

std::vector<ImageFinding> CheckProjectImages(const CurrentProject& project,
                                             const std::vector<std::string>& args) {
    std::vector<ImageFinding> findings;
    std::set<std::string> seen;
    StepSettings settings;
    MapGeometry map;
    ResetRunSettings(settings, 1);
    for (int step = 1; step <= MaxSteps; ++step) {
        if (LoadStep(step, project, args, settings, map) != StepLoaded) break;
        if (settings.ProgramFile.empty()) break;
        std::string ambiguity;
        const std::string path = FindFileIgnoringCase(settings.ProgramFile, ambiguity);
        if (path.empty() || !seen.insert(path).second) continue;
        for (auto& f : CheckImageFile(path, settings.ModelIndex)) findings.push_back(std::move(f));
    }
    return findings;
}

}  // namespace ps

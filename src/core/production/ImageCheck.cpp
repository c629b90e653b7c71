// SPDX-License-Identifier: MIT
#include "production/ImageCheck.h"

#include <sys/stat.h>

#include <cstdio>
#include <set>

#include "images/FileLookup.h"
#include "images/HexConvert.h"
#include "images/ImageFile.h"
#include "projects/StepFile.h"
#include "targets/ImageRules.h"

namespace ps {

namespace {

constexpr int ModelSharcSplit = 6;
constexpr int MaxSteps = 10000;

// The bytes of the hex pairs from `from` on; false at the first character that is not a
// hex digit (a line the checker cannot judge; the reader reports such lines itself).
bool HexBytes(const std::string& line, size_t from, std::vector<int>& out) {
    out.clear();
    size_t end = line.size();
    while (end > from && (line[end - 1] == ' ' || line[end - 1] == '\t')) --end;
    if ((end - from) % 2 != 0) return false;
    for (size_t i = from; i + 1 < end; i += 2) {
        const int hi = HexDigitValue(line[i]), lo = HexDigitValue(line[i + 1]);
        if (hi < 0 || lo < 0) return false;
        out.push_back(hi * 16 + lo);
    }
    return true;
}

std::string Hex(uint64_t v) {
    char text[24];
    std::snprintf(text, sizeof text, "0x%llX", static_cast<unsigned long long>(v));
    return text;
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
    if (line.size() < 2 || HexDigitValue(line[1]) < 0) return;
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

void ImageCheckReport::Add(ImageFinding finding) {
    ++Total;
    if (Findings.size() < MaxListedFindings) Findings.push_back(std::move(finding));
}

void CheckImageRecords(const std::string& path, int modelIndex, ImageCheckReport& report) {
    if (modelIndex == ModelSharcSplit) return;
    // Only a regular file: a FIFO or a device named as an image would never end. The
    // station's own reading refuses such a file with its message.
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) return;
    ImageText file;
    if (!file.Open(path)) return;
    std::string line;
    std::vector<std::string> found;
    while (file.ReadLine(line)) {
        found.clear();
        if (line[0] == ':') CheckIntel(line, found);
        if (line[0] == 'S' || line[0] == 's') CheckSrec(line, found);
        for (auto& text : found)
            report.Add({path, static_cast<int>(file.LineNumber()), std::move(text)});
    }
}

std::vector<ImageFinding> CheckImageFile(const std::string& path, int modelIndex) {
    ImageCheckReport report;
    CheckImageRecords(path, modelIndex, report);
    return report.Findings;
}

void CheckStepImage(const StepSettings& settings, const MapGeometry& map,
                    ImageCheckReport& report) {
    // The records are named before the account knows the file's resolved name.
    const size_t firstListed = report.Findings.size();
    const StepImageAccount image = AccountStepImage(
        settings, map, [&](int64_t line, int64_t count, uint64_t first, const char* reason) {
            report.Add({std::string(), static_cast<int>(line),
                        std::to_string(count) + (count == 1 ? " data byte" : " data bytes") +
                            " from " + Hex(first) + " will not be programmed: " + reason});
        });
    for (size_t i = firstListed; i < report.Findings.size(); ++i)
        report.Findings[i].File = image.Path;
    if (!image.Applies || !image.Account.Opened) return;
    const ImageAccount& a = image.Account;
    if (!a.Malformed.empty() || a.DataBytes == 0)
        report.Add({image.Path, static_cast<int>(a.MalformedLine),
                    a.Malformed.empty() ? std::string(BadNoData) : a.Malformed});
}

ImageCheckReport CheckProjectImages(const CurrentProject& project,
                                    const std::vector<std::string>& args) {
    ImageCheckReport report;
    std::set<std::string> seen;
    StepSettings settings;
    MapGeometry map;
    ResetRunSettings(settings, 1);
    for (int step = 1; step <= MaxSteps; ++step) {
        if (LoadStep(step, project, args, settings, map) != StepLoaded) break;
        if (settings.ProgramFile.empty()) break;
        std::string ambiguity;
        const std::string path = FindFileIgnoringCase(settings.ProgramFile, ambiguity);
        if (path.empty()) continue;
        // The same file is read once for its records; its account depends on the step.
        if (seen.insert(path).second) CheckImageRecords(path, settings.ModelIndex, report);
        CheckStepImage(settings, map, report);
    }
    return report;
}

}  // namespace ps

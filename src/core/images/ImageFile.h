// SPDX-License-Identifier: MIT
#pragma once
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "images/ImageReport.h"

namespace ps {

// Message texts of a bad image file; the file name follows after a carriage return.
extern const char* const MsgCannotOpenFile;  // "NE MOREM ODPRETI DATOTEKE"
extern const char* const MsgNotHexFile;      // "TO NI PRAVA .HEX DATOTEKA"
std::string CannotOpenMessage(const std::string& name);
std::string NotHexMessage(const std::string& name);
// The same with a third line that says what is wrong (our own refusals: a line too long,
// no data, data at an address the flow cannot reach).
std::string NotHexMessage(const std::string& name, const std::string& reason);

// No valid Intel HEX or S-record line comes near this length (an Intel record of 255 data
// bytes has 521 characters): a longer line is a malformed file, never held in memory.
constexpr size_t ImageLineLimit = 4096;
// Reasons on the third line of NotHexMessage; the line number follows ReasonLongLine.
extern const char* const ReasonLongLine;       // "line longer than 4096 characters: "
extern const char* const ReasonNoDataRecords;  // "no data records"

// The one call that reads an image file's bytes (fread by default). Tests put another in
// place to fail a read half-way; nullptr restores the default. `failed` tells an input
// error apart from the end of the file.
using ImageReadCall = size_t (*)(void* into, size_t size, std::FILE* file, bool& failed);
void SetImageReadCall(ImageReadCall call);

// Appends the default extension (".HEX", ".MHX") when the name holds no '.' anywhere.
std::string ResolveImageName(const std::string& name, const std::string& extension);

// An image text file read one line at a time. A line ends at LF, CR LF or CR; the break is
// not part of the line; a last line without a break is read. Empty lines (a blank last
// line, the blank line between two breaks) are skipped, so every line handed out has at
// least one character. Only one line is held at a time, and never more than
// ImageLineLimit characters of it: a longer line ends the reading as a malformed file.
class ImageText {
public:
    ImageText() = default;
    ~ImageText();
    ImageText(const ImageText&) = delete;
    ImageText& operator=(const ImageText&) = delete;

    // Learns the size, then opens the file for reading; false when it cannot be opened.
    // A name that does not exist exactly is looked up without regard to case. Only regular
    // files are opened: a folder, a device or a pipe is "cannot open".
    bool Open(const std::string& name);
    int64_t Size() const { return size_; }
    // False at the end of the file, and when reading cannot go on (Failed()). A file opened
    // through OpenImageText reports such a failure itself: a line too long as a malformed
    // file, a read error as a file that cannot be opened.
    bool ReadLine(std::string& line);
    void Close();
    bool IsOpen() const { return file_ != nullptr; }

    // The path that was opened (it may differ from the name in case only).
    const std::string& Path() const { return path_; }
    // Why the last Open failed when the name was ambiguous; empty otherwise.
    const std::string& LookupError() const { return lookupError_; }
    // Bytes of the file consumed so far, line breaks included (for progress).
    int64_t Position() const { return consumed_; }
    // True when reading stopped at an input error rather than at the end of the file.
    bool ReadFailed() const { return readFailed_; }
    // True when reading stopped at a line longer than ImageLineLimit.
    bool LineTooLong() const { return lineTooLong_; }
    bool Failed() const { return readFailed_ || lineTooLong_; }
    // The line number in the file (from 1, empty lines counted) of the last line read.
    int64_t LineNumber() const { return lineNumber_; }
    // Where reading failures are reported, and the name they show (OpenImageText sets it).
    void ReportTo(ImageReporter* reporter, const std::string& name);

private:
    bool ReadRawLine(std::string& line);
    bool Fill();
    void ReportFailure();

    std::FILE* file_ = nullptr;
    int64_t size_ = 0;
    std::string path_;
    std::string lookupError_;
    std::vector<char> buffer_;
    size_t pos_ = 0;
    size_t len_ = 0;
    int64_t consumed_ = 0;
    bool skipLf_ = false;  // the last line ended at CR: an LF right after it belongs to it
    bool readFailed_ = false;
    bool lineTooLong_ = false;
    int64_t lineNumber_ = 0;
    ImageReporter* reporter_ = nullptr;
    std::string reportName_;
};

// Opens an image text file; when it cannot be opened, reports CannotOpenMessage(name)
// (followed by a carriage return and the reason when the name was ambiguous). Failures
// while reading are reported through the same reporter (ImageText::ReadLine).
bool OpenImageText(ImageText& file, const std::string& name, ImageReporter& reporter);

// The record-mark rule: a line must begin with `mark` (':' or 'S'). When it does not, the
// file is malformed: reports NotHexMessage(name) and returns false. The caller then closes
// the file and stops reading, keeping what it has stored.
bool CheckRecordMark(const std::string& line, char mark, const std::string& name,
                     ImageReporter& reporter);

}  // namespace ps

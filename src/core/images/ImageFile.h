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

// Appends the default extension (".HEX", ".MHX") when the name holds no '.' anywhere.
std::string ResolveImageName(const std::string& name, const std::string& extension);

// An image text file read one line at a time. A line ends at LF, CR LF or CR; the break is
// not part of the line; a last line without a break is read. Empty lines (a blank last
// line, the blank line between two breaks) are skipped, so every line handed out has at
// least one character. Only one line is held at a time, however long it is.
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
    bool ReadLine(std::string& line);  // false at the end of the file
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

private:
    bool ReadRawLine(std::string& line);
    bool Fill();

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
};

// Opens an image text file; when it cannot be opened, reports CannotOpenMessage(name)
// (followed by a carriage return and the reason when the name was ambiguous).
bool OpenImageText(ImageText& file, const std::string& name, ImageReporter& reporter);

// The record-mark rule: a line must begin with `mark` (':' or 'S'). When it does not, the
// file is malformed: reports NotHexMessage(name) and returns false. The caller then closes
// the file and stops reading, keeping what it has stored.
bool CheckRecordMark(const std::string& line, char mark, const std::string& name,
                     ImageReporter& reporter);

}  // namespace ps

#pragma once
#include <cstdint>
#include <cstdio>
#include <string>

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
// not part of the line; a last line without a break is read. The whole file is never held.
class ImageText {
public:
    ImageText() = default;
    ~ImageText();
    ImageText(const ImageText&) = delete;
    ImageText& operator=(const ImageText&) = delete;

    // Learns the size, then opens the file for reading; false when it cannot be opened.
    // A name that does not exist exactly is looked up without regard to case.
    bool Open(const std::string& name);
    int64_t Size() const { return size_; }
    bool ReadLine(std::string& line);  // false at the end of the file
    void Close();
    bool IsOpen() const { return file_ != nullptr; }

private:
    std::FILE* file_ = nullptr;
    int64_t size_ = 0;
};

// Opens an image text file; when it cannot be opened, reports CannotOpenMessage(name).
bool OpenImageText(ImageText& file, const std::string& name, ImageReporter& reporter);

}  // namespace ps

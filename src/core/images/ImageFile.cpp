// SPDX-License-Identifier: MIT
#include "images/ImageFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>

#include "images/FileLookup.h"

namespace ps {

const char* const MsgCannotOpenFile = "NE MOREM ODPRETI DATOTEKE";
const char* const MsgNotHexFile = "TO NI PRAVA .HEX DATOTEKA";
const char* const ReasonLongLine = "line longer than 4096 characters: ";
const char* const ReasonNoDataRecords = "no data records";

namespace {
constexpr size_t ReadChunk = 64 * 1024;
}

std::string CannotOpenMessage(const std::string& name) {
    return std::string(MsgCannotOpenFile) + "\r" + name;
}

std::string NotHexMessage(const std::string& name) {
    return std::string(MsgNotHexFile) + "\r" + name;
}

std::string NotHexMessage(const std::string& name, const std::string& reason) {
    return NotHexMessage(name) + "\r" + reason;
}

std::string ResolveImageName(const std::string& name, const std::string& extension) {
    // Any dot counts, also one in a folder name: "v1.2/image" is used as it stands.
    if (name.find('.') != std::string::npos) return name;
    return name + extension;
}

ImageText::~ImageText() {
    Close();
}

bool ImageText::Open(const std::string& name) {
    Close();
    reporter_ = nullptr;
    lookupError_.clear();
    path_.clear();
    const std::string path = FindFileIgnoringCase(name, lookupError_);
    if (path.empty()) return false;

    // Opened without blocking and checked on the open file, so a pipe or a device put in
    // the image's place between a look and the open can never hold the station.
    const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) return false;
    // The size (some loaders base their progress on it).
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        ::close(fd);
        return false;
    }
    file_ = ::fdopen(fd, "rb");
    if (file_ == nullptr) {
        ::close(fd);
        return false;
    }
    size_ = static_cast<int64_t>(st.st_size);
    path_ = path;
    buffer_.resize(ReadChunk);
    return true;
}

void ImageText::Close() {
    if (file_ != nullptr) std::fclose(file_);
    file_ = nullptr;
    size_ = 0;
    pos_ = len_ = 0;
    consumed_ = 0;
    skipLf_ = false;
    readFailed_ = false;
    lineTooLong_ = false;
    lineNumber_ = 0;
    buffer_.clear();
    buffer_.shrink_to_fit();
}

namespace {

size_t DefaultImageRead(void* into, size_t size, std::FILE* file, bool& failed) {
    const size_t n = std::fread(into, 1, size, file);
    failed = n == 0 && std::ferror(file);
    return n;
}

ImageReadCall imageReadCall = &DefaultImageRead;

}  // namespace

void SetImageReadCall(ImageReadCall call) {
    imageReadCall = call != nullptr ? call : &DefaultImageRead;
}

bool ImageText::Fill() {
    pos_ = len_ = 0;
    if (file_ == nullptr) return false;
    bool failed = false;
    len_ = imageReadCall(buffer_.data(), buffer_.size(), file_, failed);
    if (len_ == 0 && failed) readFailed_ = true;
    return len_ > 0;
}

void ImageText::ReportTo(ImageReporter* reporter, const std::string& name) {
    reporter_ = reporter;
    reportName_ = name;
}

void ImageText::ReportFailure() {
    if (reporter_ == nullptr) return;
    if (lineTooLong_) {
        reporter_->ImageFileError(
            NotHexMessage(reportName_, ReasonLongLine + std::to_string(lineNumber_)));
    } else if (readFailed_) {
        reporter_->ImageFileError(CannotOpenMessage(reportName_));
    }
}

bool ImageText::ReadRawLine(std::string& line) {
    line.clear();
    bool started = false;
    for (;;) {
        if (pos_ >= len_ && !Fill()) {
            if (started) ++lineNumber_;
            return started;
        }
        if (skipLf_) {
            skipLf_ = false;
            if (buffer_[pos_] == '\n') {
                ++pos_;
                ++consumed_;
                continue;
            }
        }
        started = true;
        const char* begin = buffer_.data() + pos_;
        const char* end = buffer_.data() + len_;
        const char* brk = std::find_if(begin, end, [](char c) { return c == '\n' || c == '\r'; });
        line.append(begin, brk);
        consumed_ += brk - begin;
        pos_ += static_cast<size_t>(brk - begin);
        if (line.size() > ImageLineLimit) {
            // Holding it would let one hostile line take all memory; no record is this long.
            ++lineNumber_;
            lineTooLong_ = true;
            line.clear();
            line.shrink_to_fit();
            return false;
        }
        if (brk != end) {
            ++lineNumber_;
            ++pos_;
            ++consumed_;
            if (*brk == '\r') {
                // CR LF is one break. When the LF is not read yet (the CR ended a chunk),
                // the next call skips it.
                if (pos_ < len_) {
                    if (buffer_[pos_] == '\n') {
                        ++pos_;
                        ++consumed_;
                    }
                } else {
                    skipLf_ = true;
                }
            }
            return true;
        }
    }
}

bool ImageText::ReadLine(std::string& line) {
    if (Failed()) return false;
    while (ReadRawLine(line)) {
        if (!line.empty()) return true;
    }
    line.clear();
    ReportFailure();
    return false;
}

bool OpenImageText(ImageText& file, const std::string& name, ImageReporter& reporter) {
    if (file.Open(name)) {
        file.ReportTo(&reporter, name);
        return true;
    }
    std::string message = CannotOpenMessage(name);
    if (!file.LookupError().empty()) message += "\r" + file.LookupError();
    reporter.ImageFileError(message);
    return false;
}

bool CheckRecordMark(const std::string& line, char mark, const std::string& name,
                     ImageReporter& reporter) {
    if (!line.empty() && line.front() == mark) return true;
    reporter.ImageFileError(NotHexMessage(name));
    return false;
}

}  // namespace ps

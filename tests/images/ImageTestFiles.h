// SPDX-License-Identifier: MIT
#pragma once
// Temporary folders and files for the image tests, and a reporter that records messages.
#include <ftw.h>
#include <stdlib.h>
#include <sys/stat.h>

#include <fstream>
#include <string>
#include <vector>

#include "images/ImageReport.h"

namespace ps::test {

class TempDir {
public:
    TempDir() {
        std::string pattern = "/tmp/ps-images-XXXXXX";
        if (::mkdtemp(pattern.data()) != nullptr) path_ = pattern;
    }
    ~TempDir() {
        if (!path_.empty()) {
            ::nftw(
                path_.c_str(),
                [](const char* p, const struct stat*, int, struct FTW*) { return ::remove(p); }, 16,
                FTW_DEPTH | FTW_PHYS);
        }
    }
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    const std::string& Path() const { return path_; }
    std::string operator/(const std::string& name) const { return path_ + "/" + name; }

    // Writes `bytes` as they stand (no newline translation) and returns the full path.
    std::string Write(const std::string& name, const std::string& bytes) const {
        const std::string full = *this / name;
        std::ofstream out(full, std::ios::binary | std::ios::trunc);
        out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
        return full;
    }
    std::string MakeDir(const std::string& name) const {
        const std::string full = *this / name;
        ::mkdir(full.c_str(), 0755);
        return full;
    }

private:
    std::string path_;
};

class RecordingReporter : public ImageReporter {
public:
    void ImageFileError(const std::string& message) override { Messages.push_back(message); }
    std::vector<std::string> Messages;
};

}  // namespace ps::test

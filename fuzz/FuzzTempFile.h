// SPDX-License-Identifier: MIT
#pragma once
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

namespace ps::fuzz {

// One scratch file per fuzz process, rewritten for every input and removed at exit; in
// /dev/shm when there is one, so that the fuzzer does not wear a disk.
class FuzzTempFile {
public:
    explicit FuzzTempFile(const char* name) {
        const char* base = access("/dev/shm", W_OK) == 0 ? "/dev/shm" : "/tmp";
        std::string pattern = std::string(base) + "/" + name + "-XXXXXX";
        char buf[256];
        pattern.copy(buf, sizeof buf - 1);
        buf[pattern.size() < sizeof buf - 1 ? pattern.size() : sizeof buf - 1] = '\0';
        if (mkdtemp(buf) == nullptr) std::abort();
        dir_ = buf;
        path_ = dir_ + "/" + name;
    }
    ~FuzzTempFile() {
        unlink(path_.c_str());
        rmdir(dir_.c_str());
    }
    const std::string& Path() const { return path_; }

    void Write(const uint8_t* data, size_t size) const {
        FILE* f = std::fopen(path_.c_str(), "wb");
        if (f == nullptr) std::abort();
        if (size > 0 && std::fwrite(data, 1, size, f) != size) std::abort();
        std::fclose(f);
    }

private:
    std::string dir_;
    std::string path_;
};

}  // namespace ps::fuzz

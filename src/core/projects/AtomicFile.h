// SPDX-License-Identifier: MIT
#pragma once
#include <cstddef>
#include <sys/types.h>

#include <cstdint>
#include <memory>
#include <string>

namespace ps {

// The temporary file of a target is named target + TempFileMarker + six characters; the
// name is only ever ours, so such a file that nobody holds (its writer was killed) is ours
// to remove.
constexpr const char* TempFileMarker = ".progstation-tmp-";

// The calls that decide what a power cut leaves of a replaced file, in the order Commit
// makes them: the data written, the file synced, renamed into place, the folder synced.
// Tests give their own to see that order and to fail any one call.
class FileCalls {
public:
    virtual ~FileCalls() = default;
    virtual ssize_t Pwrite(int fd, const void* data, size_t count, off_t offset);
    virtual int Fsync(int fd);
    virtual int Rename(const char* from, const char* to);
    virtual int OpenFolder(const char* path);  // read-only, for its fsync
    static std::shared_ptr<FileCalls> Real();
};

// A file that holds the user's data (PROGRAMMER.INI, EEPROM dumps, .BIN copies) is written
// to a temporary file in the same folder and renamed into place only when complete, so a
// crash, a full disk or STOP never leaves a truncated file where a good one was. The new
// file keeps the old one's mode, owner and group; a read-only file is never replaced (Open
// fails with EACCES), nor one whose owner could not be kept (EPERM). The writer holds a lock
// on its temporary file until it is renamed or removed; Open removes the temporary files of
// the same target whose writer is gone.
class AtomicFile {
public:
    explicit AtomicFile(std::string path, std::shared_ptr<FileCalls> calls = FileCalls::Real());
    ~AtomicFile();  // discards the temporary file unless committed
    AtomicFile(const AtomicFile&) = delete;
    AtomicFile& operator=(const AtomicFile&) = delete;

    bool Open();                                                    // creates the temporary file
    bool Write(const void* data, size_t count);                     // at the current position
    bool WriteAt(uint64_t offset, const void* data, size_t count);  // holes read as zero
    // Syncs and renames over the target; false (also after any failed write) leaves the
    // target untouched and removes the temporary file.
    bool Commit();
    void Discard();
    int Errno() const { return errno_; }
    const std::string& Path() const { return path_; }

private:
    std::string path_;
    std::shared_ptr<FileCalls> calls_;
    std::string tempPath_;
    int fd_ = -1;
    int errno_ = 0;
    bool committed_ = false;
    uint64_t position_ = 0;  // where Write goes on
    bool failed_ = false;    // a write failed: the file must not be committed
};

}  // namespace ps

// SPDX-License-Identifier: MIT
#include "projects/AtomicFile.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <limits>
#include <vector>

namespace ps {
namespace {

constexpr mode_t NewFileMode = 0644;
constexpr int TempNameTries = 8;
// mkstemp's six characters.
constexpr size_t TempUniqueChars = 6;

// The folder that holds a path ("." for a bare name).
std::string FolderOf(const std::string& path) {
    size_t slash = path.rfind('/');
    if (slash == std::string::npos) return ".";
    if (slash == 0) return "/";
    return path.substr(0, slash);
}

std::string NameOf(const std::string& path) {
    const size_t slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

// umask can only be read by setting it; the station writes files from one thread only.
mode_t CurrentUmask() {
    mode_t mask = umask(0);
    umask(mask);
    return mask;
}

bool IsTempUnique(const char* s) {
    size_t n = 0;
    for (; s[n] != '\0'; ++n) {
        const char c = s[n];
        const bool alnum =
            (c >= '0' && c <= '9') || (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z');
        if (!alnum) return false;
    }
    return n == TempUniqueChars;
}

// Removes the temporary files of `path` left by a writer that is gone (killed while
// writing): ours by name and owner, and not locked by a live writer.
void RemoveStaleTemporaries(const std::string& path) {
    const std::string folder = FolderOf(path);
    const std::string prefix = NameOf(path) + TempFileMarker;
    DIR* dir = opendir(folder.c_str());
    if (dir == nullptr) return;
    std::vector<std::string> stale;
    while (const dirent* entry = readdir(dir)) {
        const std::string name = entry->d_name;
        if (name.size() > prefix.size() && name.compare(0, prefix.size(), prefix) == 0 &&
            IsTempUnique(name.c_str() + prefix.size())) {
            stale.push_back(folder + "/" + name);
        }
    }
    closedir(dir);
    for (const std::string& candidate : stale) {
        int fd = open(candidate.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
        if (fd < 0) fd = open(candidate.c_str(), O_WRONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
        if (fd < 0) continue;
        struct stat held {};
        struct stat named {};
        if (fstat(fd, &held) == 0 && S_ISREG(held.st_mode) && held.st_uid == geteuid() &&
            flock(fd, LOCK_EX | LOCK_NB) == 0 && lstat(candidate.c_str(), &named) == 0 &&
            named.st_dev == held.st_dev && named.st_ino == held.st_ino) {
            unlink(candidate.c_str());
        }
        close(fd);
    }
}

}  // namespace

ssize_t FileCalls::Pwrite(int fd, const void* data, size_t count, off_t offset) {
    return pwrite(fd, data, count, offset);
}
int FileCalls::Fsync(int fd) {
    return fsync(fd);
}
int FileCalls::Rename(const char* from, const char* to) {
    return rename(from, to);
}
int FileCalls::OpenFolder(const char* path) {
    return open(path, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
}
std::shared_ptr<FileCalls> FileCalls::Real() {
    static const auto real = std::make_shared<FileCalls>();
    return real;
}

AtomicFile::AtomicFile(std::string path, std::shared_ptr<FileCalls> calls)
    : path_(std::move(path)), calls_(std::move(calls)) {}

AtomicFile::~AtomicFile() {
    if (!committed_) Discard();
}

bool AtomicFile::Open() {
    if (fd_ >= 0 || committed_) {
        errno_ = EINVAL;
        return false;
    }
    struct stat old {};
    const bool exists = stat(path_.c_str(), &old) == 0;
    // A file made read-only was made so on purpose (root would be allowed to write it, so
    // the mode bits are asked as well).
    if (exists && ((old.st_mode & 0222) == 0 || access(path_.c_str(), W_OK) != 0)) {
        errno_ = EACCES;
        return false;
    }
    RemoveStaleTemporaries(path_);

    std::string pattern = path_ + TempFileMarker + std::string(TempUniqueChars, 'X');
    for (int tries = 0; tries < TempNameTries && fd_ < 0; ++tries) {
        std::vector<char> name(pattern.begin(), pattern.end());
        name.push_back('\0');
        const int fd = mkstemp(name.data());
        if (fd < 0) {
            errno_ = errno;
            return false;
        }
        fcntl(fd, F_SETFD, FD_CLOEXEC);
        // The lock tells a later writer that this file is being written. Another writer
        // may have taken the new file for a stale one before the lock was held: then it is
        // gone, and a fresh one is made.
        struct stat made {};
        if (flock(fd, LOCK_EX) != 0 || fstat(fd, &made) != 0 || made.st_nlink == 0) {
            close(fd);
            continue;
        }
        fd_ = fd;
        tempPath_ = name.data();
    }
    if (fd_ < 0) {
        errno_ = EEXIST;
        return false;
    }

    // The new file gets the old one's permission bits, owner and group, or those of a new
    // file.
    const mode_t mode = exists ? (old.st_mode & 07777) : (NewFileMode & ~CurrentUmask());
    struct stat made {};
    bool ok = fstat(fd_, &made) == 0;
    if (ok && exists && (made.st_uid != old.st_uid || made.st_gid != old.st_gid)) {
        ok = fchown(fd_, old.st_uid, old.st_gid) == 0;
    }
    ok = ok && fchmod(fd_, mode) == 0;
    if (!ok) {
        errno_ = errno;
        Discard();
        return false;
    }
    failed_ = false;
    position_ = 0;
    return true;
}

bool AtomicFile::Write(const void* data, size_t count) {
    // The temporary file is ours alone, so the position is known without asking the OS.
    if (!WriteAt(position_, data, count)) return false;
    position_ += count;
    return true;
}

bool AtomicFile::WriteAt(uint64_t offset, const void* data, size_t count) {
    if (fd_ < 0) {
        errno_ = EBADF;
        failed_ = true;
        return false;
    }
    if (offset > static_cast<uint64_t>(std::numeric_limits<off_t>::max()) ||
        count > static_cast<uint64_t>(std::numeric_limits<off_t>::max()) - offset) {
        errno_ = EFBIG;
        failed_ = true;
        return false;
    }
    const char* p = static_cast<const char*>(data);
    off_t at = static_cast<off_t>(offset);
    while (count > 0) {
        ssize_t n = calls_->Pwrite(fd_, p, count, at);
        if (n < 0) {
            if (errno == EINTR) continue;
            errno_ = errno;
            failed_ = true;
            return false;
        }
        p += n;
        at += n;
        count -= static_cast<size_t>(n);
    }
    return true;
}

bool AtomicFile::Commit() {
    if (fd_ < 0) {
        if (errno_ == 0) errno_ = EBADF;
        return false;
    }
    // A file with a failed write is never put in place of a good one.
    if (failed_) {
        Discard();
        return false;
    }
    if (calls_->Fsync(fd_) != 0) {
        errno_ = errno;
        Discard();
        return false;
    }
    // The file stays open (and locked) until it has its name, so no other writer takes it
    // for a stale one; after the sync above, closing it can no longer lose data.
    if (calls_->Rename(tempPath_.c_str(), path_.c_str()) != 0) {
        errno_ = errno;
        Discard();
        return false;
    }
    close(fd_);
    fd_ = -1;
    tempPath_.clear();
    committed_ = true;
    // Make the rename itself durable; the new file is in place whatever this gives.
    int dir = calls_->OpenFolder(FolderOf(path_).c_str());
    if (dir >= 0) {
        calls_->Fsync(dir);
        close(dir);
    }
    return true;
}

void AtomicFile::Discard() {
    // Removed while still locked, so no other writer ever sees it unheld.
    if (!tempPath_.empty()) {
        unlink(tempPath_.c_str());
        tempPath_.clear();
    }
    if (fd_ >= 0) {
        close(fd_);
        fd_ = -1;
    }
}

}  // namespace ps

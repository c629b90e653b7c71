#include "projects/AtomicFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <limits>
#include <vector>

namespace ps {
namespace {

constexpr const char* TempSuffix = ".tmpXXXXXX";
constexpr mode_t NewFileMode = 0644;

// The folder that holds a path ("." for a bare name).
std::string FolderOf(const std::string& path) {
    size_t slash = path.rfind('/');
    if (slash == std::string::npos) return ".";
    if (slash == 0) return "/";
    return path.substr(0, slash);
}

// umask can only be read by setting it; the station writes files from one thread only.
mode_t CurrentUmask() {
    mode_t mask = umask(0);
    umask(mask);
    return mask;
}

}  // namespace

AtomicFile::AtomicFile(std::string path) : path_(std::move(path)) {}

AtomicFile::~AtomicFile() {
    if (!committed_) Discard();
}

bool AtomicFile::Open() {
    if (fd_ >= 0 || committed_) {
        errno_ = EINVAL;
        return false;
    }
    std::vector<char> name(path_.begin(), path_.end());
    name.insert(name.end(), TempSuffix, TempSuffix + std::char_traits<char>::length(TempSuffix));
    name.push_back('\0');
    int fd = mkstemp(name.data());
    if (fd < 0) {
        errno_ = errno;
        return false;
    }
    fcntl(fd, F_SETFD, FD_CLOEXEC);
    fd_ = fd;
    tempPath_ = name.data();

    // The new file gets the old one's permission bits, or those of a new file.
    struct stat st {};
    mode_t mode =
        (stat(path_.c_str(), &st) == 0) ? (st.st_mode & 07777) : (NewFileMode & ~CurrentUmask());
    if (fchmod(fd_, mode) != 0) {
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
        ssize_t n = pwrite(fd_, p, count, at);
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
    if (fsync(fd_) != 0) {
        errno_ = errno;
        Discard();
        return false;
    }
    int fd = fd_;
    fd_ = -1;
    if (close(fd) != 0) {
        errno_ = errno;
        Discard();
        return false;
    }
    if (rename(tempPath_.c_str(), path_.c_str()) != 0) {
        errno_ = errno;
        Discard();
        return false;
    }
    tempPath_.clear();
    committed_ = true;
    // Make the rename itself durable; the new file is in place whatever this gives.
    int dir = open(FolderOf(path_).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dir >= 0) {
        fsync(dir);
        close(dir);
    }
    return true;
}

void AtomicFile::Discard() {
    if (fd_ >= 0) {
        close(fd_);
        fd_ = -1;
    }
    if (!tempPath_.empty()) {
        unlink(tempPath_.c_str());
        tempPath_.clear();
    }
}

}  // namespace ps

// The owners of POSIX descriptors and directory streams (every descriptor the POSIX layer opens
// is closed by one of these), and the removal of a folder's content through descriptors.
#pragma once

#include <dirent.h>
#include <memory>
#include <string>
#include <unistd.h>
#include <utility>

namespace halyard::platform::posix {

// Closes the descriptor it owns when it goes.
class UniqueFd {
public:
    UniqueFd() = default;
    explicit UniqueFd(int fd) : fd_(fd) {}
    ~UniqueFd() { reset(); }
    UniqueFd(UniqueFd&& other) noexcept : fd_(std::exchange(other.fd_, -1)) {}
    UniqueFd& operator=(UniqueFd&& other) noexcept {
        if (this != &other) {
            reset(std::exchange(other.fd_, -1));
        }
        return *this;
    }
    UniqueFd(const UniqueFd&) = delete;
    UniqueFd& operator=(const UniqueFd&) = delete;

    int get() const { return fd_; }
    explicit operator bool() const { return fd_ >= 0; }
    int release() { return std::exchange(fd_, -1); }
    void reset(int fd = -1) {
        if (fd_ >= 0) {
            ::close(fd_);
        }
        fd_ = fd;
    }

private:
    int fd_ = -1;
};

// Closes the directory stream it owns, and with it the descriptor the stream reads.
struct DirStreamCloser {
    void operator()(DIR* dir) const { ::closedir(dir); }
};
using UniqueDir = std::unique_ptr<DIR, DirStreamCloser>;

// A stream over the folder open at fd, which it takes over; null (and fd closed) when the
// stream cannot be made.
inline UniqueDir OpenDirStream(UniqueFd fd) {
    UniqueDir dir(fd ? ::fdopendir(fd.get()) : nullptr);
    if (dir) {
        fd.release();
    }
    return dir;
}

// Deletes everything below the folder open at dirFd without following a link, holding at most
// three descriptors whatever the depth (it climbs back with "..", checking each folder's
// identity) and never building a path, so trees deeper than PATH_MAX go too. shown names the
// folder in messages. Throws EInOutError when something cannot be deleted.
void RemoveContentAt(int dirFd, const std::string& shown);

} // namespace halyard::platform::posix

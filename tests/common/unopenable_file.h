// A path that exists as a file but cannot be opened for reading, even by root: a bound Unix
// socket; on Windows a file held open without sharing. Removed with its folder.
#pragma once

#include <algorithm>
#include <stdexcept>
#include <string>
#ifdef _WIN32
#include "base/unicode.h"

#include <cstdio>
#include <share.h>
#else
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>
#endif

namespace halyard::test {

#ifdef _WIN32
class UnopenableFile {
public:
    explicit UnopenableFile(const std::string& path) {
        const std::u16string units = Utf8ToUtf16(path);
        const std::wstring wide(units.begin(), units.end());
        file_ = ::_wfsopen(wide.c_str(), L"wb", _SH_DENYRW); // no one else may open it
        if (file_ == nullptr) {
            throw std::runtime_error("cannot hold " + path);
        }
    }
    ~UnopenableFile() { std::fclose(file_); }
    UnopenableFile(const UnopenableFile&) = delete;
    UnopenableFile& operator=(const UnopenableFile&) = delete;

private:
    std::FILE* file_;
};
#else

class UnopenableFile {
public:
    explicit UnopenableFile(const std::string& path) : fd_(::socket(AF_UNIX, SOCK_STREAM, 0)) {
        sockaddr_un addr{};
        addr.sun_family = AF_UNIX;
        if (fd_ < 0 || path.size() >= sizeof(addr.sun_path)) {
            throw std::runtime_error("cannot make a socket at " + path);
        }
        std::copy(path.begin(), path.end(), addr.sun_path);
        if (::bind(fd_, reinterpret_cast<const sockaddr*>(&addr), sizeof(addr)) != 0) {
            ::close(fd_);
            throw std::runtime_error("cannot bind a socket at " + path);
        }
    }
    ~UnopenableFile() { ::close(fd_); }
    UnopenableFile(const UnopenableFile&) = delete;
    UnopenableFile& operator=(const UnopenableFile&) = delete;

private:
    int fd_;
};
#endif

} // namespace halyard::test

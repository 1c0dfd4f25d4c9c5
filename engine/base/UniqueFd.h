#pragma once

#include <utility>

#include <unistd.h>

// A descriptor closed when it goes out of scope.
struct CFd {
    int fd = -1;
    CFd() = default;
    explicit CFd(int f) : fd(f) {}
    CFd(const CFd&) = delete;
    CFd& operator=(const CFd&) = delete;
    CFd& operator=(CFd&& o) noexcept
    {
        std::swap(fd, o.fd);
        return *this;
    }
    ~CFd()
    {
        if (fd >= 0)
            close(fd);
    }
    int Release() { return std::exchange(fd, -1); }
};

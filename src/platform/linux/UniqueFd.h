#pragma once

#include <unistd.h>

// Closes a file descriptor when it goes out of scope.
struct UniqueFd {
    int fd = -1;
    explicit UniqueFd(int f)
        : fd(f) {}
    ~UniqueFd() {
        if (fd >= 0)
            ::close(fd);
    }
    UniqueFd(const UniqueFd&) = delete;
    UniqueFd& operator=(const UniqueFd&) = delete;
};

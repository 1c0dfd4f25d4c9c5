#include "WriteAll.h"

#include <cerrno>
#include <unistd.h>

int WriteAll(int fd, const char* data, size_t size, long long offset, const std::atomic<bool>* giveUp)
{
    while (size > 0) {
        if (giveUp && giveUp->load(std::memory_order_relaxed))
            return 0;
        const ssize_t n = offset < 0 ? ::write(fd, data, size) : ::pwrite(fd, data, size, off_t(offset));
        if (n < 0) {
            if (errno != EINTR)
                return errno;
            continue;
        }
        data += n;
        size -= size_t(n);
        if (offset >= 0)
            offset += n;
    }
    return 0;
}

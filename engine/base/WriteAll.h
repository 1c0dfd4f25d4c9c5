#pragma once

#include <atomic>
#include <cstddef>

// Writes all of size bytes to fd, at offset when it is not negative, going on after an interrupted
// or short write. Returns 0 or the errno of the write that failed. When giveUp is set (a signal
// handler sets it, and its signal interrupts a write that waits for a reader) it stops early and
// returns 0: the caller asked to stop, which is not a write error.
int WriteAll(int fd, const char* data, size_t size, long long offset = -1, const std::atomic<bool>* giveUp = nullptr);

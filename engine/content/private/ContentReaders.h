#pragma once

#include "ResultRow.h"

#include <atomic>
#include <condition_variable>
#include <cstddef>
#include <mutex>
#include <utility>
#include <vector>

namespace ContentCheck {

// Whether the block device holding dev says it spins; unknown (a network, overlay or memory file
// system, no sysfs) and a virtual disk count as not.
bool Rotational(uint64_t dev);

// How many groups are read at once, how many files one group may hold open, and how many all the
// readers may hold together.
struct CReaders {
    int count = 1;
    size_t maxOpen = 0;
    size_t budget = 0;
    bool physicalOrder = false;  // one reader, taking files where they lie on the disk
};
// threads > 0 fixes the count (tests); else it follows the device of the first opened row: many
// readers at once on solid-state, one in physical order on a disk that spins. The readers share
// what two readers of maxOpenEach files used to hold, in descriptors and chunk buffers.
CReaders PlanReaders(const std::vector<CResultRow>& rows, int threads, size_t maxOpenEach);

// Where each row's data starts on its disk (its first extent), for reading a disk that spins in
// one sweep; the largest value for an empty file or one that cannot be asked (it goes last).
// Empty when stopped.
std::vector<uint64_t> PhysicalOffsets(const std::vector<CResultRow>& rows, const std::atomic<bool>& stop);
// groups (row ranges) sorted by where the first data of each lies, and offsets set to
// PhysicalOffsets; false when stopped.
bool InPhysicalOrder(const std::vector<CResultRow>& rows, const std::atomic<bool>& stop,
                     std::vector<std::pair<size_t, size_t>>* groups, std::vector<uint64_t>* offsets);

// Files the readers may hold open between them, a waiter served before later takers, so a large
// group is read side by side (once) while the small ones wait, instead of each reader keeping a
// fixed share too small for it and hashing it whole before comparing it again.
class CBudget {
public:
    explicit CBudget(size_t total) : m_free(total), m_total(total) {}
    size_t Total() const { return m_total; }
    // Waits for n (at most Total()); false when stop came first, holding nothing.
    bool Take(size_t n, const std::atomic<bool>& stop);
    void Give(size_t n);

private:
    std::atomic<size_t> m_free;
    const size_t m_total;
    std::atomic<bool> m_waiting{false};
    std::mutex m_turn;
    std::mutex m_mutex;  // with m_freed, for the one waiter
    std::condition_variable m_freed;
};

}  // namespace ContentCheck

#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <vector>

#include <sys/stat.h>

namespace ContentCheck {
struct CProgress;
}

// Reads open files of one size: side by side, splitting them wherever their
// bytes differ, or one at a time into a hash that does not depend on where
// the file has holes. Holes shared by every file are skipped, not read.
class CFileComparer {
public:
    static constexpr size_t kChunk = 128 * 1024;

    CFileComparer(const std::atomic<bool>& stop, ContentCheck::CProgress* progress);

    // Where a file was found to differ from all the others it was still read with: the chunk's
    // offset and a hash of it. Two files with such a place in common and other hashes differ.
    struct CSplit {
        uint64_t offset = 0;
        uint32_t hash = 0;
        bool found = false;
    };
    // classes: indexes into fds of equal content, each and all in ascending
    // order; unreadable: those that could not be read to the end; splits, when
    // set: by index into fds. False when stopped.
    bool Lockstep(const std::vector<int>& fds, uint64_t size, std::vector<std::vector<size_t>>* classes,
                  std::vector<size_t>* unreadable, std::vector<CSplit>* splits = nullptr);
    // False when stopped; *readable false when the file could not be read to the end.
    bool HashWhole(int fd, uint64_t size, uint64_t* hash, bool* readable);
    // Frees the chunk buffers beyond the first keep.
    void Trim(size_t keep)
    {
        if (m_buffers.size() > keep)
            m_buffers.resize(keep);
    }

    // A fast bucket hash: it only ever separates files, never joins them.
    static uint64_t Hash(const char* data, size_t size, uint64_t seed = 1469598103934665603ULL);
    // Exactly size bytes at offset; false on an error or a short read (the file shrank).
    static bool ReadAt(int fd, char* buffer, size_t size, uint64_t offset);
    // The file is as it was when opened: same size and modification time.
    static bool Unchanged(int fd, const struct stat& opened);

private:
    bool Stopped() const { return m_stop.load(std::memory_order_relaxed); }
    void AddDone(uint64_t bytes);
    void AddRead(uint64_t bytes);

    const std::atomic<bool>& m_stop;
    ContentCheck::CProgress* m_progress;
    std::vector<std::vector<char>> m_buffers;  // reused; grown only when bytes are really read
};

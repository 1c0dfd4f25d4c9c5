#pragma once

#include "ResultsFill.h"
#include "SelectionRules.h"
#include "WorkerThread.h"

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <utility>
#include <vector>

// The size groups of a listing in 24 bytes per file, for a caller that reads
// them once, group by group (the command line): the same rows and numbers as
// a results fill without contents, at half its memory. Files are examined
// while the walk still adds to the listing, so the two overlap. The paths
// stay in the listing's array, which must outlive this.
class CSizeGroups {
public:
    explicit CSizeGroups(const CPathArray& paths) : m_paths(paths) {}
    CSizeGroups(const CSizeGroups&) = delete;
    CSizeGroups& operator=(const CSizeGroups&) = delete;
    ~CSizeGroups() { Join(); }

    // Starts the examining threads (threads 0: one per core, at most four),
    // which take files as Listed hands them over, until stop is set.
    void Start(const std::atomic<bool>& stop, int threads = 0);
    // Before Start: told, on the examining threads, of each opened file's listing index and what was found.
    using CWatch = std::function<void(int index, const CExamined& found)>;
    void WatchSizes(CWatch seen) { m_seen = std::move(seen); }
    // On the thread that adds to the listing: its first count paths may be examined.
    void Listed(int count);
    // Once the listing is complete: examines what is left, then sorts and
    // drops the sizes no other file has. False when stopped.
    bool Finish();
    // After Finish: the rows Drain will hand over.
    size_t Rows() const { return m_entries.size(); }
    // Hands the rows over in order, made whole, a bounded slice at a time:
    // firstSr is the row number of rows[0], counted from 1; opens and closes
    // tell whether rows[0] starts its group and the last row ends it.
    // Reads the groups once, so memory stays that of a slice: they are spent
    // after it. Returns what the groups add up to.
    using CVisit = std::function<void(const std::vector<CResultRow>& rows, size_t firstSr, bool opens, bool closes)>;
    SelectionRules::CFigures Drain(const CVisit& visit);

private:
    struct CEntry {
        uint64_t sizeKey;
        uint64_t ino;
        uint32_t modified;  // seconds since the epoch; kFarTime: in m_aside.farTimes
        uint32_t word;      // the listing index, and kOpened
    };
    static constexpr uint32_t kOpened = 0x80000000u;
    static constexpr uint32_t kGone = 0xFFFFFFFFu;  // no index reaches it
    static constexpr uint32_t kFarTime = 0xFFFFFFFFu;
    // What a worker found that does not fit an entry, by listing index.
    struct CAside {
        std::vector<std::pair<uint32_t, int64_t>> farTimes;  // before 1970 or after 2106
        std::vector<std::pair<uint32_t, uint64_t>> devices;  // from this index on, until the next
    };

    // The entries of one chunk of the listing, in a mapping of their own,
    // so that each chunk's memory goes back as soon as it is gathered.
    class CChunk {
    public:
        explicit CChunk(int first);
        CChunk(CChunk&& o) noexcept : first(o.first), entries(std::exchange(o.entries, nullptr)) {}
        CChunk& operator=(CChunk&& o) noexcept
        {
            std::swap(first, o.first);
            std::swap(entries, o.entries);
            return *this;
        }
        ~CChunk();
        int first;
        CEntry* entries;
    };

    int Available(int first);
    void Examine(int worker, int first, int last);
    void WaitForListing();
    void Join();
    CResultRow Row(const CEntry& e) const;
    // Fills the relay's slices, group by group, and adds up the figures.
    template <class Relay>
    SelectionRules::CFigures MakeSlices(Relay& relay);
    static uint32_t Index(const CEntry& e) { return e.word & ~kOpened; }
    // Names of one file count once: entries [first, last) are reordered.
    uint64_t DistinctFiles(size_t first, size_t last);

    const CPathArray& m_paths;
    const std::atomic<bool>* m_stop = nullptr;
    std::atomic<int> m_listed{0};
    bool m_complete = false;  // under m_lock
    std::mutex m_lock;
    std::condition_variable m_listedMore;
    CThreadGroup m_pool;
    std::vector<CFolderCache> m_folders;  // one per thread
    std::vector<CAside> m_asides;
    std::vector<std::vector<CChunk>> m_chunks;

    std::vector<CEntry> m_entries;
    CAside m_aside;
    CWatch m_seen;
};

#pragma once

#include "ResultsFill.h"
#include "SelectionRules.h"

#include <atomic>
#include <cstdint>
#include <functional>
#include <utility>
#include <vector>

// The size groups of a listing in 24 bytes per file, for a caller that reads
// them once, group by group (the command line): the same rows and numbers as
// a results fill without contents, at half its memory. The paths stay in the
// listing's array, which must outlive this.
class CSizeGroups {
public:
    explicit CSizeGroups(const CPathArray& paths) : m_paths(paths) {}

    // Examines every listed file (threads 0: one per core, at most four);
    // false when stopped.
    bool Run(const std::atomic<bool>& stop, int threads = 0);
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
        uint32_t modified;  // seconds since the epoch; kFarTime: in m_farTimes
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

    CResultRow Row(const CEntry& e) const;
    uint32_t Index(const CEntry& e) const { return e.word & ~kOpened; }
    // Names of one file count once: entries [first, last) are reordered.
    uint64_t DistinctFiles(size_t first, size_t last);

    const CPathArray& m_paths;
    std::vector<CEntry> m_entries;
    CAside m_aside;
};

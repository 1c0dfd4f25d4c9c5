#include "SizeGroups.h"

#include "PermuteInPlace.h"
#include "StopSignals.h"
#include "WorkerPool.h"

#include <algorithm>
#include <iterator>
#include <new>

#include <malloc.h>
#include <sys/mman.h>

namespace {

// The value recorded for index, in a list sorted by index where each value
// holds until the next (exact: the one at index itself).
template <class T>
T Lookup(const std::vector<std::pair<uint32_t, T>>& list, uint32_t index)
{
    const auto after = std::upper_bound(list.begin(), list.end(), index,
                                        [](uint32_t i, const std::pair<uint32_t, T>& p) { return i < p.first; });
    return after == list.begin() ? T() : std::prev(after)->second;
}

}  // namespace

CSizeGroups::CChunk::CChunk(int first) : first(first)
{
    void* p = mmap(nullptr, sizeof(CEntry) * kFillChunk, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (p == MAP_FAILED)
        throw std::bad_alloc();
    entries = static_cast<CEntry*>(p);
}

CSizeGroups::CChunk::~CChunk()
{
    if (entries)
        munmap(entries, sizeof(CEntry) * kFillChunk);
}

void CSizeGroups::Start(const std::atomic<bool>& stop, int threads)
{
    const int workers = CoreWorkers(threads);
    m_stop = &stop;
    m_folders = std::vector<CFolderCache>(size_t(workers));
    m_asides.assign(size_t(workers), CAside());
    m_chunks = std::vector<std::vector<CChunk>>(size_t(workers));
    StartChunkWorkers(m_pool, workers, stop, [this](int first) { return Available(first); },
                      [this](int worker, int first, int last) { Examine(worker, first, last); });
}

void CSizeGroups::Listed(int count)
{
    m_listed.store(count, std::memory_order_release);
    if (count % kFillChunk == 0) {
        std::lock_guard<std::mutex> guard(m_lock);
        m_listedMore.notify_all();
    }
}

// Waits until the chunk from first on is listed whole, or the listing is complete.
int CSizeGroups::Available(int first)
{
    std::unique_lock<std::mutex> guard(m_lock);
    WaitUntil(m_listedMore, guard, [&] {
        return m_complete || m_stop->load(std::memory_order_relaxed)
            || m_listed.load(std::memory_order_acquire) - first >= kFillChunk;
    });
    const int listed = m_listed.load(std::memory_order_acquire);
    return listed > first ? std::min(listed - first, kFillChunk) + first : first;
}

void CSizeGroups::Examine(int worker, int first, int last)
{
    CAside& aside = m_asides[size_t(worker)];
    m_chunks[size_t(worker)].emplace_back(first);
    CEntry* entries = m_chunks[size_t(worker)].back().entries;
    bool devKnown = false;  // each chunk names its first device, so chunks merge in any order
    for (int i = first; i < last && !m_stop->load(std::memory_order_relaxed); ++i) {
        CExamined found;
        CEntry& e = entries[i - first];
        e = CEntry{0, 0, 0, kGone};
        bool there = ExamineListedFile(m_paths.At(i), m_folders[size_t(worker)], &found);
        if (there && found.outOfDescriptors) {
            // The walk holds its descriptors until it ends: try again then.
            WaitForListing();
            there = ExamineListedFile(m_paths.At(i), m_folders[size_t(worker)], &found);
        }
        if (!there)
            continue;
        e = CEntry{found.size, found.ino, 0, uint32_t(i)};
        if (!found.opened)
            continue;
        e.word |= kOpened;
        if (m_seen)
            m_seen(i, found);
        if (found.modified >= 0 && found.modified < int64_t(kFarTime)) {
            e.modified = uint32_t(found.modified);
        } else {
            e.modified = kFarTime;
            aside.farTimes.emplace_back(uint32_t(i), found.modified);
        }
        if (!devKnown || aside.devices.back().second != found.dev)
            aside.devices.emplace_back(uint32_t(i), found.dev);
        devKnown = true;
    }
}

void CSizeGroups::WaitForListing()
{
    std::unique_lock<std::mutex> guard(m_lock);
    WaitUntil(m_listedMore, guard, [&] { return m_complete || m_stop->load(std::memory_order_relaxed); });
}

void CSizeGroups::Join()
{
    {
        std::lock_guard<std::mutex> guard(m_lock);
        m_complete = true;
        m_listedMore.notify_all();
    }
    m_pool.Join();
}

bool CSizeGroups::Finish()
{
    // What the walk freed goes back to the system now: the entries still to
    // come make this run's peak, and freed heap pages would stay counted.
    malloc_trim(0);
    Join();
    if (!m_stop || m_stop->load(std::memory_order_relaxed))
        return false;

    m_aside = CAside();
    std::vector<CChunk> chunks;
    for (size_t w = 0; w < m_asides.size(); ++w) {
        m_aside.farTimes.insert(m_aside.farTimes.end(), m_asides[w].farTimes.begin(), m_asides[w].farTimes.end());
        m_aside.devices.insert(m_aside.devices.end(), m_asides[w].devices.begin(), m_asides[w].devices.end());
        std::move(m_chunks[w].begin(), m_chunks[w].end(), std::back_inserter(chunks));
    }
    std::vector<CAside>().swap(m_asides);
    std::vector<std::vector<CChunk>>().swap(m_chunks);
    std::sort(m_aside.farTimes.begin(), m_aside.farTimes.end());
    std::sort(m_aside.devices.begin(), m_aside.devices.end());

    // Gathered in listing order, each chunk given back once copied.
    std::sort(chunks.begin(), chunks.end(), [](const CChunk& a, const CChunk& b) { return a.first < b.first; });
    const int listed = m_listed.load(std::memory_order_acquire);
    m_entries.clear();
    m_entries.reserve(size_t(listed));
    for (CChunk& chunk : chunks) {
        const int end = std::min(listed - chunk.first, kFillChunk);
        std::copy_if(chunk.entries, chunk.entries + end, std::back_inserter(m_entries),
                     [](const CEntry& e) { return e.word != kGone; });
        CChunk spent(std::move(chunk));  // unmapped here
    }
    // Largest first, then the listing's order: what a stable sort by size gives.
    std::sort(m_entries.begin(), m_entries.end(), [](const CEntry& a, const CEntry& b) {
        return a.sizeKey != b.sizeKey ? a.sizeKey > b.sizeKey : Index(a) < Index(b);
    });
    return RemoveSingleSizes(m_entries, *m_stop);
}

CResultRow CSizeGroups::Row(const CEntry& e) const
{
    const uint32_t index = Index(e);
    CResultRow row;
    row.path = m_paths.At(int(index)).data();
    row.sizeKey = e.sizeKey;
    if (e.word & kOpened) {
        row.opened = row.hasModified = true;
        row.modified = e.modified == kFarTime ? Lookup(m_aside.farTimes, index) : int64_t(e.modified);
        row.dev = Lookup(m_aside.devices, index);
        row.ino = e.ino;
    }
    return row;
}

uint64_t CSizeGroups::DistinctFiles(size_t first, size_t last)
{
    const auto begin = m_entries.begin() + std::ptrdiff_t(first);
    const auto end = m_entries.begin() + std::ptrdiff_t(last);
    std::sort(begin, end, [](const CEntry& a, const CEntry& b) { return a.ino < b.ino; });
    uint64_t files = 0;
    std::vector<uint64_t> devices;
    for (auto run = begin; run != end;) {
        auto next = run + 1;
        while (next != end && next->ino == run->ino)
            ++next;
        if (next - run == 1) {
            ++files;
        } else {
            // One inode number on several devices: distinct files.
            devices.clear();
            for (auto e = run; e != next; ++e)
                devices.push_back(Lookup(m_aside.devices, Index(*e)));
            std::sort(devices.begin(), devices.end());
            files += uint64_t(std::unique(devices.begin(), devices.end()) - devices.begin());
        }
        run = next;
    }
    return files;
}

namespace {

// Slices made on one thread and handed over on another, two in flight, in order.
class CSliceRelay {
public:
    // The maker's side: the next slice to fill, once it has been handed over.
    std::vector<CResultRow>& Free()
    {
        std::unique_lock<std::mutex> guard(m_lock);
        m_changed.wait(guard, [&] { return !m_slots[m_fill].full || m_abandoned; });
        return m_slots[m_fill].rows;
    }
    void Filled(size_t firstSr, bool opens, bool closes)
    {
        {
            std::lock_guard<std::mutex> guard(m_lock);
            CSlot& slot = m_slots[m_fill];
            slot.firstSr = firstSr;
            slot.opens = opens;
            slot.closes = closes;
            slot.full = true;
        }
        m_changed.notify_all();
        m_fill ^= 1;
    }
    void Close()
    {
        {
            std::lock_guard<std::mutex> guard(m_lock);
            m_closed = true;
        }
        m_changed.notify_all();
    }
    // The other side gives up: no slice is handed over any more.
    void Abandon()
    {
        {
            std::lock_guard<std::mutex> guard(m_lock);
            m_abandoned = true;
        }
        m_changed.notify_all();
    }
    // The other side: hands each slice to visit until the maker closes.
    void HandOver(const CSizeGroups::CVisit& visit)
    {
        for (int k = 0;; k ^= 1) {
            std::unique_lock<std::mutex> guard(m_lock);
            m_changed.wait(guard, [&] { return m_slots[k].full || m_closed; });
            if (!m_slots[k].full)
                return;
            CSlot& slot = m_slots[k];
            guard.unlock();
            visit(slot.rows, slot.firstSr, slot.opens, slot.closes);
            guard.lock();
            slot.full = false;
            guard.unlock();
            m_changed.notify_all();
        }
    }

private:
    struct CSlot {
        std::vector<CResultRow> rows;
        size_t firstSr = 0;
        bool opens = false;
        bool closes = false;
        bool full = false;
    };

    std::mutex m_lock;
    std::condition_variable m_changed;
    CSlot m_slots[2];
    int m_fill = 0;  // the maker's alone
    bool m_closed = false;
    bool m_abandoned = false;
};

}  // namespace

SelectionRules::CFigures CSizeGroups::Drain(const CVisit& visit)
{
    // Rows are made on a helper thread while this one hands over the slice
    // before them: visit (the writes, which a stop signal must interrupt)
    // stays on the calling thread.
    SelectionRules::CFigures figures;
    CSliceRelay relay;
    CThreadGroup maker;
    maker.Start(1, [&](int, const std::atomic<bool>&) {
        BlockStopSignals();
        figures = MakeSlices(relay);
        relay.Close();
    });
    try {
        relay.HandOver(visit);
    } catch (...) {
        relay.Abandon();  // the maker then runs to its end instead of waiting for a hand-over
        throw;
    }
    maker.Join();
    std::vector<CEntry>().swap(m_entries);
    return figures;
}

template <class Relay>
SelectionRules::CFigures CSizeGroups::MakeSlices(Relay& relay)
{
    constexpr size_t kSlice = 4096;
    SelectionRules::CFigures figures;
    // Slices of about kSlice rows hold as many whole groups as fit, a large group split over several:
    // a hand-over per group would make a million small groups a million waits.
    std::vector<CResultRow>* rows = nullptr;
    size_t sliceFirst = 0;
    bool sliceOpens = false;
    auto flush = [&](bool closes) {
        // The paths lie all over the listing's text: ask for them all at once rather than waiting on each in turn.
        for (const CResultRow& row : *rows)
            __builtin_prefetch(row.path);
        relay.Filled(sliceFirst + 1, sliceOpens, closes);
        rows = nullptr;
    };
    int32_t group = 0;
    for (size_t first = 0; first < m_entries.size(); ++group) {
        const CEntry head = m_entries[first];
        const bool opened = head.word & kOpened;
        size_t last = first;
        while (last < m_entries.size()
               && SameSizeText(m_entries[last].word & kOpened, m_entries[last].sizeKey, opened, head.sizeKey))
            ++last;
        for (size_t i = first; i < last; ++i) {
            if (!rows) {
                rows = &relay.Free();
                rows->clear();
                sliceFirst = i;
                sliceOpens = i == first;
            }
            rows->push_back(Row(m_entries[i]));
            rows->back().group = group;
            if (rows->size() == kSlice)
                flush(i + 1 == last);
        }
        if (opened) {
            // As the results window counts them: files that could not be opened do not count.
            figures.groups += 1;
            figures.files += int64_t(last - first);
            figures.reclaimable += head.sizeKey * (DistinctFiles(first, last) - 1);
        }
        first = last;
    }
    if (rows)
        flush(true);
    return figures;
}

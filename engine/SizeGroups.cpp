#include "SizeGroups.h"

#include <algorithm>

#include <malloc.h>

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

bool CSizeGroups::Run(const std::atomic<bool>& stop, int threads)
{
    // What the walk freed goes back to the system first: the entries are
    // this run's peak, and freed heap pages would otherwise stay counted.
    malloc_trim(0);
    const int count = m_paths.GetSize();
    const int workers = FillWorkers(count, threads);
    m_entries.assign(size_t(count), CEntry{0, 0, 0, kGone});
    std::vector<CFolderCache> folders(static_cast<size_t>(workers));
    std::vector<CAside> asides(static_cast<size_t>(workers));
    std::vector<std::thread> pool = StartChunkWorkers(count, workers, stop, [&](int worker, int first, int last) {
        CAside& aside = asides[size_t(worker)];
        bool devKnown = false;  // each chunk names its first device, so chunks merge in any order
        for (int i = first; i < last && !stop.load(std::memory_order_relaxed); ++i) {
            CExamined found;
            if (!ExamineListedFile(m_paths.At(i), folders[size_t(worker)], &found))
                continue;
            CEntry& e = m_entries[size_t(i)];
            e = CEntry{found.size, found.ino, 0, uint32_t(i)};
            if (!found.opened)
                continue;
            e.word |= kOpened;
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
    });
    for (std::thread& t : pool)
        t.join();
    if (stop.load(std::memory_order_relaxed))
        return false;

    m_aside = CAside();
    for (const CAside& a : asides) {
        m_aside.farTimes.insert(m_aside.farTimes.end(), a.farTimes.begin(), a.farTimes.end());
        m_aside.devices.insert(m_aside.devices.end(), a.devices.begin(), a.devices.end());
    }
    std::sort(m_aside.farTimes.begin(), m_aside.farTimes.end());
    std::sort(m_aside.devices.begin(), m_aside.devices.end());

    m_entries.erase(std::remove_if(m_entries.begin(), m_entries.end(), [](const CEntry& e) { return e.word == kGone; }),
                    m_entries.end());
    // Largest first, then the listing's order: what a stable sort by size gives.
    std::sort(m_entries.begin(), m_entries.end(), [](const CEntry& a, const CEntry& b) {
        return a.sizeKey != b.sizeKey ? a.sizeKey > b.sizeKey : (a.word & ~kOpened) < (b.word & ~kOpened);
    });
    return RemoveSingleSizes(m_entries, stop);
}

CResultRow CSizeGroups::Row(const CEntry& e) const
{
    const uint32_t index = e.word & ~kOpened;
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

SelectionRules::CFigures CSizeGroups::Drain(const CVisit& visit)
{
    constexpr size_t kSlice = 4096;
    SelectionRules::CFigures figures;
    std::vector<CResultRow> rows;
    rows.reserve(kSlice);
    int32_t group = 0;
    for (size_t first = 0; first < m_entries.size(); ++group) {
        const CEntry head = m_entries[first];
        const bool opened = head.word & kOpened;
        size_t last = first;
        while (last < m_entries.size() && SameSizeText(m_entries[last].word & kOpened, m_entries[last].sizeKey, opened, head.sizeKey))
            ++last;
        for (size_t from = first; from < last; from += kSlice) {
            rows.clear();
            for (size_t i = from; i < std::min(last, from + kSlice); ++i) {
                rows.push_back(Row(m_entries[i]));
                rows.back().group = group;
            }
            visit(rows, from + 1, from == first, from + rows.size() == last);
        }
        if (opened) {
            // As the results window counts them: files that could not be opened do not count.
            figures.groups += 1;
            figures.files += int64_t(last - first);
            figures.reclaimable += head.sizeKey * (DistinctFiles(first, last) - 1);
        }
        first = last;
    }
    std::vector<CEntry>().swap(m_entries);
    return figures;
}

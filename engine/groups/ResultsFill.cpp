#include "ResultsFill.h"

#include "PermuteInPlace.h"
#include "WorkerPool.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <mutex>

#include <sys/stat.h>

namespace {

// New rows reach the window at this pace while the collection runs.
constexpr auto kBatchInterval = std::chrono::milliseconds(50);

bool Stopped(const std::atomic<bool>& stop)
{
    return stop.load(std::memory_order_relaxed);
}

}  // namespace

bool ExamineListedFile(std::string_view path, CFolderCache& folders, CExamined* found)
{
    struct stat st;
    bool readable = false;
    const int result = folders.StatReadable(path, &st, &readable);
    if (result != 0 && (errno == ENOENT || errno == ENOTDIR))
        return false;  // gone since the listing
    *found = CExamined();
    found->outOfDescriptors = result != 0 && OutOfDescriptors(errno);
    // There but not to be opened, or no longer a file: name and folder only.
    if (result == 0 && readable && S_ISREG(st.st_mode)) {
        found->opened = true;
        found->size = static_cast<uint64_t>(st.st_size);
        found->modified = st.st_mtime;
        found->dev = static_cast<uint64_t>(st.st_dev);
        found->ino = static_cast<uint64_t>(st.st_ino);
        found->mtimeNs = int64_t(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec;
        found->ctimeNs = int64_t(st.st_ctim.tv_sec) * 1000000000 + st.st_ctim.tv_nsec;
    }
    return true;
}

bool MakeResultRow(std::string_view path, CTextArena& arena, CResultRow* row, bool stable, CFolderCache& folders,
                   const std::atomic<bool>& stop, CExamined* examined)
{
    CExamined found;
    if (path.rfind('/') == std::string_view::npos)
        return false;
    bool there = ExamineListedFile(path, folders, &found);
    for (; there && found.outOfDescriptors; there = ExamineListedFile(path, folders, &found)) {
        if (!WaitForDescriptor(stop))
            return false;  // not looked at, so not listed as unopened
    }
    if (!there)
        return false;
    *row = CResultRow();
    row->path = stable ? path.data() : arena.Store(path);
    row->opened = row->hasModified = found.opened;
    row->sizeKey = found.size;
    row->modified = found.modified;
    row->dev = found.dev;
    row->ino = found.ino;
    if (examined)
        *examined = found;
    return true;
}

void SortBySize(std::vector<CResultRow>& rows)
{
    // Stable, so files of one size keep the listing's order. The order is
    // found on indexes and then applied in place.
    std::vector<uint32_t> order(rows.size());
    for (size_t i = 0; i < order.size(); ++i)
        order[i] = static_cast<uint32_t>(i);
    std::stable_sort(order.begin(), order.end(),
                     [&rows](uint32_t a, uint32_t b) { return rows[a].sizeKey > rows[b].sizeKey; });
    PermuteInPlace(rows, order);
}

bool AssignGroups(std::vector<CResultRow>& rows, const std::atomic<bool>& stop)
{
    if (rows.size() < 2)
        return true;
    // Groups follow the Size text: an unopened file (empty text) never joins a "0".
    int32_t group = 0;
    rows[0].group = 0;
    for (size_t i = 1; i < rows.size(); ++i) {
        if (Stopped(stop))
            return false;
        if (!SameSizeText(rows[i].opened, rows[i].sizeKey, rows[i - 1].opened, rows[i - 1].sizeKey))
            ++group;
        rows[i].group = group;
    }
    return true;
}

bool RunResultsFill(const CFillInput& input, CFillResult& result, const std::atomic<bool>& stop,
                    const std::function<void(const std::vector<CResultRow>& batch)>& onBatch, int threads,
                    const CRowWatch& seen)
{
    // Opening files dominates, so chunks of the input are examined in
    // parallel and put back in order as they complete.
    const int count = input.count();
    const int workers = FillWorkers(count, threads);
    const int chunks = (count + kFillChunk - 1) / kFillChunk;
    // Each row is made in its own slot, then the consumer closes up the
    // chunks in input order: no second copy of the rows is ever held.
    result.rows.assign(size_t(count), CResultRow());
    result.arenas = std::make_shared<std::vector<CTextArena>>(size_t(workers));

    std::vector<char> ready(static_cast<size_t>(chunks), 0);
    std::mutex lock;
    std::condition_variable readyChanged;
    std::vector<CFolderCache> folders(static_cast<size_t>(workers));
    const auto available = [count](int first) { return first < count ? std::min(count - first, kFillChunk) + first : first; };
    CThreadGroup pool;
    StartChunkWorkers(pool, workers, stop, available, [&](int worker, int first, int last) {
        for (int i = first; i < last && !Stopped(stop); ++i) {
            CResultRow& row = result.rows[size_t(i)];
            CExamined found;
            if (!MakeResultRow(input.at(i), (*result.arenas)[size_t(worker)], &row, input.stable, folders[size_t(worker)], stop, &found))
                row = CResultRow();  // no path: nothing to list
            else if (seen && row.opened)
                seen(row, found);
        }
        {
            std::lock_guard<std::mutex> guard(lock);
            ready[size_t(first / kFillChunk)] = 1;
        }
        readyChanged.notify_all();
    });

    auto nextBatch = std::chrono::steady_clock::now();
    size_t handedOver = 0;
    size_t kept = 0;  // rows closed up so far; always at or before the chunk being taken
    auto take = [&](int c) {
        for (int i = c * kFillChunk; i < std::min(count, (c + 1) * kFillChunk); ++i) {
            if (result.rows[size_t(i)].path)
                result.rows[kept++] = result.rows[size_t(i)];
        }
    };
    int c = 0;
    for (; c < chunks; ++c) {
        {
            std::unique_lock<std::mutex> guard(lock);
            WaitUntil(readyChanged, guard, [&] { return ready[size_t(c)] || Stopped(stop); });
            if (!ready[size_t(c)])
                break;
        }
        take(c);
        if (onBatch && (std::chrono::steady_clock::now() >= nextBatch || c + 1 == chunks)) {
            onBatch(std::vector<CResultRow>(result.rows.begin() + std::ptrdiff_t(handedOver),
                                            result.rows.begin() + std::ptrdiff_t(kept)));
            handedOver = kept;
            nextBatch = std::chrono::steady_clock::now() + kBatchInterval;
        }
    }
    pool.Join();
    folders.clear();  // their descriptors are the content check's to use
    if (Stopped(stop)) {
        // What was examined before the stop is kept, in input order, however
        // the threads happened to be scheduled.
        for (; c < chunks && ready[size_t(c)]; ++c)
            take(c);
        result.rows.resize(kept);
        return false;
    }
    result.rows.resize(kept);
    SortBySize(result.rows);
    return RemoveSingleSizes(result.rows, stop) && AssignGroups(result.rows, stop);
}

// The content check as a whole: the rows cut into groups of one size, the readers planned for the
// device, the groups checked on a pool of them, and the rows arranged by what was found.
#include "ContentCheck.h"

#include "ContentChecker.h"
#include "DigestCache.h"
#include "WorkerThread.h"

namespace ContentCheck {

const char* FailureText(uint8_t failure)
{
    switch (failure) {
    case kOpenFailed: return "Could not be opened, so its contents were not compared.";
    case kReadFailed: return "Could not be read to the end, so its contents were not compared.";
    case kChanged: return "Changed while its contents were compared.";
    default: return "";
    }
}

bool Run(std::vector<CResultRow>& rows, const std::atomic<bool>& stop, CProgress* progress, int threads, bool physicalOrder,
         CDigestCache* cache)
{
    CShared shared(rows, stop, progress);
    shared.cache = cache;
    if (cache && cache->ExpectsNotes())
        cache->EndNotes();
    for (size_t first = 0; first < rows.size();) {
        size_t last = first + 1;
        while (last < rows.size() && SameSizeText(rows[last].opened, rows[last].sizeKey, rows[first].opened, rows[first].sizeKey))
            ++last;
        shared.groups.emplace_back(first, last);
        first = last;
    }
    PlanProgress(shared);
    // Groups are independent: reading one file while another thread waits
    // on the disk or compares keeps both cores busy.
    const CReaders readers = PlanReaders(rows, threads, kMaxOpen);
    // One sweep over a disk that spins: each group where its first data lies, its files in that order too.
    if ((readers.physicalOrder || physicalOrder) && !InPhysicalOrder(rows, stop, &shared.groups, &shared.physical))
        return false;
    const int workers = readers.count;
    const size_t maxOpen = readers.maxOpen;
    CBudget budget(readers.budget);
    shared.budget = &budget;
    std::atomic<bool> completed{true};
    // This thread is one of the workers.
    CThreadGroup pool;
    pool.Start(workers - 1, [&](int, const std::atomic<bool>&) {
        if (!CheckGroups(shared, maxOpen))
            completed = false;
    });
    if (!CheckGroups(shared, maxOpen))
        completed = false;
    pool.Join();
    if (!completed || stop.load(std::memory_order_relaxed)) {
        for (CResultRow& r : rows)
            r.failure = kNone;  // the rows stay as they were
        return false;
    }
    Arrange(rows, shared.classOf);
    return true;
}

}  // namespace ContentCheck

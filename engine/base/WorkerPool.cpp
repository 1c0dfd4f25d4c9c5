#include "WorkerPool.h"

#ifdef __GLIBC__
#include <malloc.h>
#endif

#include "StopSignals.h"

#include <algorithm>
#include <memory>

int CoreWorkers(int threads)
{
    return threads > 0 ? threads : std::clamp(int(std::thread::hardware_concurrency()), 1, 4);
}

int FillWorkers(int count, int threads)
{
    return count < 2 * kFillChunk ? 1 : CoreWorkers(threads);
}

void StartChunkWorkers(CThreadGroup& pool, int workers, const std::atomic<bool>& stop,
                       const std::function<int(int first)>& available,
                       const std::function<void(int worker, int first, int last)>& examine)
{
    auto next = std::make_shared<std::atomic<int>>(0);
    pool.Start(workers, [=, &stop](int w, const std::atomic<bool>&) {
        BlockStopSignals();
        while (!stop.load(std::memory_order_relaxed)) {
            const int first = (*next)++ * kFillChunk;
            const int last = available(first);
            if (last <= first)
                return;
            examine(w, first, last);
        }
    });
}

void LimitMallocArenas()
{
#ifdef __GLIBC__
    mallopt(M_ARENA_MAX, int(std::max(2u, std::thread::hardware_concurrency())));
#endif
}

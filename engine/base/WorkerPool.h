#pragma once

#include "WorkerThread.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

// Threads for work spread over the cores: threads when given, else one per
// core, at most four.
int CoreWorkers(int threads);
// How many threads examine count files: one for a few, else CoreWorkers.
int FillWorkers(int count, int threads);
constexpr int kFillChunk = 1024;
// Waits on changed until ready() holds, looking again every 10 ms: whoever
// raises a stop flag (a Stop button, a signal handler) wakes no one.
template <class Ready>
void WaitUntil(std::condition_variable& changed, std::unique_lock<std::mutex>& guard, Ready ready)
{
    while (!changed.wait_for(guard, std::chrono::milliseconds(10), ready)) {
    }
}

// Hands items out in chunks of kFillChunk to workers threads of pool, each
// calling examine(worker, first, last) per chunk until stop is set.
// available(first) is the end of the items that may be examined from first
// on, at most a chunk's worth (it may wait for more to come); at or before
// first, there are no more. The caller joins pool.
void StartChunkWorkers(CThreadGroup& pool, int workers, const std::atomic<bool>& stop,
                       const std::function<int(int first)>& available,
                       const std::function<void(int worker, int first, int last)>& examine);

// As many malloc arenas as cores, set before any thread starts: the content check's sixteen readers
// each made one of their own, 11 MB more at the peak on /usr and no faster (glibc only).
void LimitMallocArenas();

#include "HeadPrefetch.h"

#include "ContentReaders.h"
#include "DigestCache.h"
#include "FileOpening.h"
#include "StopSignals.h"

#include <algorithm>
#include <cstdio>

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/uio.h>
#include <unistd.h>

namespace {

// MemAvailable of /proc/meminfo, in bytes; 0 when unknown.
uint64_t AvailableMemory()
{
    FILE* info = fopen("/proc/meminfo", "re");
    if (!info)
        return 0;
    char line[128];
    unsigned long long kib = 0;
    while (fgets(line, sizeof line, info) && std::sscanf(line, "MemAvailable: %llu kB", &kib) != 1) {
    }
    fclose(info);
    return uint64_t(kib) * 1024;
}

uint64_t SlotHash(uint64_t size, uint64_t digests)
{
    return (size ^ digests * 0xD6E8FEB86659FD93ULL) * 0x9E3779B97F4A7C15ULL;
}

}  // namespace

void CHeadPrefetch::Start(const QByteArray& path)
{
    struct stat st;
    if (m_started || stat(path.constData(), &st) != 0 || ContentCheck::Rotational(uint64_t(st.st_dev)))
        return;
    m_slots.assign(kSlots, CSlot());
    m_queue.resize(kQueue);
    // Pages asked for beyond what is free would push out those asked for first before the check reads them.
    m_wholeBudget = std::min<uint64_t>(AvailableMemory() / 4, uint64_t(1) << 30);
    m_started = true;
    m_readers.Start(kReaders, [this](int, const std::atomic<bool>&) {
        BlockStopSignals();
        Read();
    });
}

void CHeadPrefetch::Offer(const char* path, uint64_t size)
{
    if (size != 0)
        Ask(SlotHash(size, 0), CSlot{size, 0, path, true, false, false});
}

void CHeadPrefetch::OfferWhole(const char* path, uint64_t size, uint64_t digests)
{
    if (size != 0)
        Ask(SlotHash(size, digests), CSlot{size, digests, path, true, false, true});
}

void CHeadPrefetch::OfferExamined(const char* path, const CExamined& found, CDigestCache* cache)
{
    CDigestCache::CKey key;
    CDigestCache::CDigests known;
    if (cache && cache->Loaded() > 0 && cache->KeyOf(found.dev, found.ino, found.size, found.mtimeNs, found.ctimeNs, path, &key)
        && cache->Note(path, key, &known))
        OfferWhole(path, found.size, known.head ^ (uint64_t(known.splitAt) << 32 | known.splitHash));
    else
        Offer(path, found.size);
}

void CHeadPrefetch::Ask(uint64_t slotHash, const CSlot& offer)
{
    std::unique_lock<std::mutex> guard(m_lock);
    if (!m_started || m_done)
        return;
    CSlot& slot = m_slots[slotHash >> 49];
    if (!slot.taken || slot.size != offer.size || slot.digests != offer.digests || slot.whole != offer.whole) {
        // Another file in the slot loses its first one: only a hint is lost.
        slot = offer;
        return;
    }
    const bool pair = !slot.hot;
    if (pair) {
        slot.hot = true;
        Push(CAsk{slot.path, slot.whole, slot.size});
    }
    Push(CAsk{offer.path, offer.whole, offer.size});
    guard.unlock();
    m_asked.notify_one();
    if (pair)
        m_asked.notify_one();
}

void CHeadPrefetch::Push(const CAsk& ask)
{
    if (m_count == kQueue)
        return;
    if (ask.whole) {
        if (ask.size > m_wholeBudget)
            return;
        m_wholeBudget -= ask.size;
    }
    m_queue[(m_head + m_count++) % kQueue] = ask;
}

// Whether the file's first byte is in memory already, asking the disk for nothing. Most answers yes:
// the cache is warm, and opening every file a second time would only slow the walk, so the readers stop.
bool CHeadPrefetch::Cached(int fd)
{
    char probe;
    iovec v{&probe, 1};
    const bool cached = preadv2(fd, &v, 1, 0, RWF_NOWAIT) == 1;
    std::lock_guard<std::mutex> guard(m_lock);
    ++(cached ? m_hits : m_misses);
    if (m_hits + m_misses >= kSample && m_hits * 10 >= (m_hits + m_misses) * 9) {
        m_done = true;
        m_count = 0;
        m_asked.notify_all();
    }
    return cached;
}

void CHeadPrefetch::Read()
{
    for (;;) {
        CAsk ask;
        {
            std::unique_lock<std::mutex> guard(m_lock);
            m_asked.wait(guard, [this] { return m_done || m_count > 0; });
            if (m_done)
                return;
            ask = m_queue[m_head];
            m_head = (m_head + 1) % kQueue;
            --m_count;
        }
        const int fd = OpenListedFile(ask.path, kReadListedFlags);
        if (fd < 0)
            continue;
        struct stat st;
        if (fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && uint64_t(st.st_size) == ask.size && !Cached(fd))
            ReadAhead(fd, ask);
        close(fd);
    }
}

// Starts the reads of what the check will read first; readahead does not wait for them, but waits
// for room in the disk's queue, so a large file is asked for a piece at a time until Finish.
void CHeadPrefetch::ReadAhead(int fd, const CAsk& ask)
{
    if (ask.whole) {
        constexpr uint64_t kPiece = uint64_t(4) << 20;
        for (uint64_t at = 0; at < ask.size && !Finished(); at += kPiece)
            readahead(fd, off64_t(at), size_t(std::min(kPiece, ask.size - at)));
        return;
    }
    const uint64_t head = std::min<uint64_t>(ask.size, 4096);
    const uint64_t tail = std::min<uint64_t>(ask.size - head, 4096);
    readahead(fd, 0, size_t(head));
    if (tail)
        readahead(fd, off64_t(ask.size - tail), size_t(tail));
}

bool CHeadPrefetch::Finished()
{
    std::lock_guard<std::mutex> guard(m_lock);
    return m_done;
}

void CHeadPrefetch::Finish()
{
    {
        std::lock_guard<std::mutex> guard(m_lock);
        m_done = true;
        m_count = 0;
    }
    m_asked.notify_all();
    m_readers.Join();
    // The check that follows reads on its own: its memory goes back now.
    std::vector<CSlot>().swap(m_slots);
    std::vector<CAsk>().swap(m_queue);
}

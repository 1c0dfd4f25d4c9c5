#include "HeadPrefetch.h"

#include "ContentReaders.h"
#include "DigestCache.h"
#include "FileOpening.h"
#include "StopSignals.h"

#include <algorithm>

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/uio.h>
#include <unistd.h>

void CHeadPrefetch::Start(const QByteArray& path)
{
    struct stat st;
    if (m_started || stat(path.constData(), &st) != 0 || ContentCheck::Rotational(uint64_t(st.st_dev)))
        return;
    m_slots.assign(kSlots, CSlot());
    m_queue.resize(kQueue);
    m_started = true;
    m_readers.Start(kReaders, [this](int, const std::atomic<bool>&) {
        BlockStopSignals();
        Read();
    });
}

void CHeadPrefetch::OfferExamined(const char* path, const CExamined& found, CDigestCache* cache)
{
    CDigestCache::CKey key;
    CDigestCache::CDigests known;
    if (!cache || cache->Loaded() == 0 || !cache->KeyOf(found.dev, found.ino, found.size, found.mtimeNs, found.ctimeNs, path, &key)
        || !cache->Note(path, key, &known))
        Offer(path, found.size);
}

void CHeadPrefetch::Offer(const char* path, uint64_t size)
{
    if (size == 0)
        return;
    std::unique_lock<std::mutex> guard(m_lock);
    if (!m_started || m_done)
        return;
    CSlot& slot = m_slots[(size * 0x9E3779B97F4A7C15ULL) >> 49];
    if (!slot.taken || slot.size != size) {
        // Another size in the slot loses its first file: only a hint is lost.
        slot = CSlot{size, path, true, false};
        return;
    }
    const bool pair = !slot.hot;
    if (pair) {
        slot.hot = true;
        Push(slot.path, size);
    }
    Push(path, size);
    guard.unlock();
    m_asked.notify_one();
    if (pair)
        m_asked.notify_one();
}

void CHeadPrefetch::Push(const char* path, uint64_t size)
{
    if (m_count == kQueue)
        return;
    m_queue[(m_head + m_count++) % kQueue] = {path, size};
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
        std::pair<const char*, uint64_t> item;
        {
            std::unique_lock<std::mutex> guard(m_lock);
            m_asked.wait(guard, [this] { return m_done || m_count > 0; });
            if (m_done)
                return;
            item = m_queue[m_head];
            m_head = (m_head + 1) % kQueue;
            --m_count;
        }
        const int fd = OpenListedFile(item.first, kReadListedFlags);
        if (fd < 0)
            continue;
        struct stat st;
        const uint64_t size = item.second;
        if (fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && uint64_t(st.st_size) == size && !Cached(fd)) {
            // The blocks the first stage reads; readahead starts the reads and does not wait for them.
            const uint64_t head = std::min<uint64_t>(size, 4096);
            const uint64_t tail = std::min<uint64_t>(size - head, 4096);
            readahead(fd, 0, size_t(head));
            if (tail)
                readahead(fd, off64_t(size - tail), size_t(tail));
        }
        close(fd);
    }
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
    std::vector<std::pair<const char*, uint64_t>>().swap(m_queue);
}

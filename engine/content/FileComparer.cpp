#include "FileComparer.h"

#include "ContentCheck.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <unistd.h>

CFileComparer::CFileComparer(const std::atomic<bool>& stop, ContentCheck::CProgress* progress)
    : m_stop(stop)
    , m_progress(progress)
{
}

void CFileComparer::AddDone(uint64_t bytes)
{
    if (m_progress)
        m_progress->done += bytes;
}

void CFileComparer::AddRead(uint64_t bytes)
{
    if (m_progress)
        m_progress->read.fetch_add(bytes, std::memory_order_relaxed);
}

uint64_t CFileComparer::Hash(const char* data, size_t size, uint64_t hash)
{
    constexpr uint64_t kPrime = 0x9E3779B97F4A7C15ULL;
    size_t i = 0;
    for (; i + 8 <= size; i += 8) {
        uint64_t word;
        std::memcpy(&word, data + i, 8);
        hash = (hash ^ word) * kPrime;
        hash ^= hash >> 29;
    }
    for (; i < size; ++i)
        hash = (hash ^ static_cast<unsigned char>(data[i])) * 1099511628211ULL;
    return hash ^ size;
}

bool CFileComparer::ReadAt(int fd, char* buffer, size_t size, uint64_t offset)
{
    while (size > 0) {
        const ssize_t n = pread(fd, buffer, size, off_t(offset));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        buffer += n;
        size -= size_t(n);
        offset += uint64_t(n);
    }
    return true;
}

bool CFileComparer::Unchanged(int fd, const struct stat& opened)
{
    struct stat now;
    return fstat(fd, &now) == 0 && now.st_size == opened.st_size && now.st_mtim.tv_sec == opened.st_mtim.tv_sec
        && now.st_mtim.tv_nsec == opened.st_mtim.tv_nsec;
}

bool CFileComparer::HashWhole(int fd, uint64_t size, uint64_t* hash, bool* readable)
{
    // Chunks at fixed places; a chunk of zeros counts the same whether it is a hole or
    // written out, so equal contents hash alike whatever their layout on disk.
    if (m_buffers.empty())
        m_buffers.resize(1);
    std::vector<char>& buffer = m_buffers[0];
    buffer.resize(std::max(buffer.size(), kChunk));
    *hash = 1469598103934665603ULL;
    *readable = true;
    for (uint64_t offset = 0; offset < size;) {
        if (Stopped())
            return false;
        const off_t data = lseek(fd, off_t(offset), SEEK_DATA);
        if (data < 0 && errno == ENXIO) {
            AddDone(size - offset);
            break;
        }
        if (data > off_t(offset)) {
            const uint64_t next = uint64_t(data) / kChunk * kChunk;
            AddDone(next - std::min(next, offset));
            offset = std::max(offset, next);
        }
        const size_t n = size_t(std::min<uint64_t>(kChunk, size - offset));
        if (!ReadAt(fd, buffer.data(), n, offset)) {
            *readable = false;
            return true;
        }
        AddRead(n);
        AddDone(n);
        const bool zeros = buffer[0] == 0 && std::memcmp(buffer.data(), buffer.data() + 1, n - 1) == 0;
        if (!zeros) {
            const uint64_t chunk = offset / kChunk;
            *hash = Hash(reinterpret_cast<const char*>(&chunk), sizeof chunk, *hash);
            *hash = Hash(buffer.data(), n, *hash);
        }
        offset += n;
    }
    return true;
}

bool CFileComparer::Lockstep(const std::vector<int>& fds, uint64_t size, std::vector<std::vector<size_t>>* classes,
                             std::vector<size_t>* unreadable, std::vector<CSplit>* splits)
{
    if (splits)
        splits->assign(fds.size(), CSplit{});
    // Each pending piece: indexes into fds, all equal up to its offset.
    std::vector<std::pair<std::vector<size_t>, uint64_t>> pending;
    std::vector<size_t> all(fds.size());
    for (size_t i = 0; i < all.size(); ++i)
        all[i] = i;
    if (!all.empty())
        pending.emplace_back(std::move(all), 0);
    if (m_buffers.size() < fds.size())
        m_buffers.resize(fds.size());
    while (!pending.empty()) {
        auto [piece, offset] = std::move(pending.back());
        pending.pop_back();
        while (piece.size() > 1 && offset < size) {
            if (Stopped())
                return false;
            // Where every file has a hole, the bytes are zeros in all of them.
            uint64_t data = size;
            for (size_t i : piece) {
                const off_t d = lseek(fds[i], off_t(offset), SEEK_DATA);
                data = std::min<uint64_t>(data, d < 0 ? (errno == ENXIO ? size : offset) : uint64_t(d));
            }
            if (data > offset) {
                AddDone((data - offset) * piece.size());
                offset = data;
                continue;
            }
            const size_t n = size_t(std::min<uint64_t>(kChunk, size - offset));
            std::vector<size_t> alive;
            for (size_t i : piece) {
                if (m_buffers[i].size() < kChunk)
                    m_buffers[i].resize(kChunk);
                if (ReadAt(fds[i], m_buffers[i].data(), n, offset)) {
                    alive.push_back(i);
                    AddRead(n);
                }
                else
                    unreadable->push_back(i);
            }
            AddDone(uint64_t(n) * piece.size());
            if (m_progress && m_progress->afterChunk)
                m_progress->afterChunk();
            std::vector<std::vector<size_t>> split;
            for (size_t i : alive) {
                auto same = std::find_if(split.begin(), split.end(), [&](const std::vector<size_t>& c) {
                    return std::memcmp(m_buffers[c.front()].data(), m_buffers[i].data(), n) == 0;
                });
                if (same == split.end())
                    split.push_back({i});
                else
                    same->push_back(i);
            }
            if (splits && split.size() > 1) {
                for (const std::vector<size_t>& c : split) {
                    if (c.size() == 1) {
                        const uint64_t h = Hash(m_buffers[c.front()].data(), n);
                        (*splits)[c.front()] = CSplit{offset, uint32_t(h ^ (h >> 32)), true};
                    }
                }
            }
            offset += n;
            if (split.empty()) {
                piece.clear();
                break;
            }
            for (size_t k = 1; k < split.size(); ++k)
                pending.emplace_back(std::move(split[k]), offset);
            piece = std::move(split.front());
        }
        if (piece.size() == 1)
            AddDone(size - std::min(size, offset));
        if (!piece.empty())
            classes->push_back(std::move(piece));
    }
    // Classes in the order of their first member, as the rows were listed.
    for (auto& c : *classes)
        std::sort(c.begin(), c.end());
    std::sort(classes->begin(), classes->end());
    return true;
}

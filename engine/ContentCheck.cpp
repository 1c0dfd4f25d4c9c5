#include "ContentCheck.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <map>
#include <unordered_map>
#include <sys/stat.h>
#include <unistd.h>

namespace ContentCheck {
namespace {

constexpr size_t kBlock = 4096;
constexpr size_t kChunk = 128 * 1024;
// Files open at once while one candidate group is read in lockstep.
constexpr size_t kMaxOpen = 64;

bool Stopped(const std::atomic<bool>& stop)
{
    return stop.load(std::memory_order_relaxed);
}

// A fast 64-bit hash, eight bytes at a step. It only sorts candidates into
// buckets; bytes are always compared before files are grouped.
uint64_t Fnv(const char* data, size_t size, uint64_t hash = 1469598103934665603ULL)
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

// Reads exactly size bytes at offset; false on an error or a short read (the file shrank).
bool ReadAt(int fd, char* buffer, size_t size, uint64_t offset)
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

class CChecker {
public:
    CChecker(std::vector<CResultRow>& rows, const std::atomic<bool>& stop, CProgress* progress)
        : m_rows(rows), m_stop(stop), m_progress(progress), m_classOf(rows.size(), kDropped)
    {
    }

    bool Run()
    {
        std::vector<std::pair<size_t, size_t>> groups;
        for (size_t first = 0; first < m_rows.size();) {
            size_t last = first + 1;
            while (last < m_rows.size() && m_rows[last].opened == m_rows[first].opened
                   && m_rows[last].sizeKey == m_rows[first].sizeKey)
                ++last;
            groups.emplace_back(first, last);
            first = last;
        }
        for (const auto& [first, last] : groups)
            Plan(first, last);
        for (const auto& [first, last] : groups) {
            if (!CheckGroup(first, last))
                return false;
        }
        Arrange();
        return true;
    }

private:
    static constexpr int32_t kDropped = -1;
    static constexpr int32_t kFailed = -2;
    static constexpr int32_t kUnopened = -3;

    struct COpen {
        size_t row;
        int fd;
        struct stat st;
    };

    // The bytes to compare: every distinct file of a group with two or more.
    void Plan(size_t first, size_t last)
    {
        if (!m_rows[first].opened || m_rows[first].sizeKey == 0 || !m_progress)
            return;
        const std::vector<size_t> reps = Representatives(first, last);
        if (reps.size() > 1)
            m_progress->total += m_rows[first].sizeKey * reps.size();
    }

    void AddDone(uint64_t bytes)
    {
        if (m_progress)
            m_progress->done += bytes;
    }

    // One row per distinct file (device and inode), in row order; m_names
    // then holds every row of each.
    std::vector<size_t> Representatives(size_t first, size_t last)
    {
        struct CHash {
            size_t operator()(const std::pair<uint64_t, uint64_t>& k) const
            {
                return std::hash<uint64_t>()(k.first * 0x9E3779B97F4A7C15ULL ^ k.second);
            }
        };
        std::unordered_map<std::pair<uint64_t, uint64_t>, size_t, CHash> repOf;
        std::vector<size_t> reps;
        m_names.clear();
        for (size_t i = first; i < last; ++i) {
            const auto [it, inserted] = repOf.try_emplace({m_rows[i].dev, m_rows[i].ino}, i);
            if (inserted)
                reps.push_back(i);
            m_names[it->second].push_back(i);
        }
        return reps;
    }

    // Every row of the file rep stands for takes rep's class.
    void Assign(size_t, size_t, size_t rep, int32_t cls)
    {
        for (size_t i : m_names[rep])
            m_classOf[i] = cls;
    }
    void Fail(size_t, size_t, size_t rep, EFailure why)
    {
        for (size_t i : m_names[rep]) {
            m_classOf[i] = kFailed;
            m_rows[i].failure = why;
        }
    }

    bool Open(size_t row, COpen* out, EFailure* why)
    {
        const CResultRow& r = m_rows[row];
        const int fd = OpenListedFile(r.Path(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
        if (fd < 0) {
            *why = errno == ENOENT ? kChanged : kOpenFailed;
            return false;
        }
        struct stat st;
        if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || uint64_t(st.st_size) != r.sizeKey
            || uint64_t(st.st_dev) != r.dev || uint64_t(st.st_ino) != r.ino) {
            close(fd);
            *why = kChanged;
            return false;
        }
        *out = {row, fd, st};
        return true;
    }

    // Still the file that was opened, of the same size and time, once read.
    static bool Unchanged(const COpen& f)
    {
        struct stat now;
        return fstat(f.fd, &now) == 0 && now.st_size == f.st.st_size && now.st_mtim.tv_sec == f.st.st_mtim.tv_sec
            && now.st_mtim.tv_nsec == f.st.st_mtim.tv_nsec;
    }

    bool CheckGroup(size_t first, size_t last)
    {
        if (!m_rows[first].opened) {
            for (size_t i = first; i < last; ++i)
                m_classOf[i] = kUnopened;
            return true;
        }
        const uint64_t size = m_rows[first].sizeKey;
        const std::vector<size_t> reps = Representatives(first, last);
        if (size == 0 || reps.size() == 1) {
            // Empty files are all alike; links of one file are that file.
            if (last - first > 1) {
                const int32_t cls = m_nextClass++;
                for (size_t i = first; i < last; ++i)
                    m_classOf[i] = cls;
            }
            return true;
        }

        // The first and last block split most candidates cheaply.
        std::map<uint64_t, std::vector<size_t>> buckets;
        std::vector<char> block(2 * kBlock);
        for (size_t rep : reps) {
            if (Stopped(m_stop))
                return false;
            COpen f;
            EFailure why = kNone;
            if (!Open(rep, &f, &why)) {
                Fail(first, last, rep, why);
                AddDone(size);
                continue;
            }
            const size_t head = size_t(std::min<uint64_t>(size, kBlock));
            const size_t tail = size_t(std::min<uint64_t>(size - head, kBlock));
            const bool ok = ReadAt(f.fd, block.data(), head, 0) && ReadAt(f.fd, block.data() + head, tail, size - tail);
            close(f.fd);
            if (!ok) {
                Fail(first, last, rep, kReadFailed);
                AddDone(size);
                continue;
            }
            buckets[Fnv(block.data(), head + tail)].push_back(rep);
        }
        for (auto& [hash, members] : buckets) {
            (void)hash;
            if (members.size() == 1) {
                KeepIfLinked(first, last, members.front());
                AddDone(size);
                continue;
            }
            if (!Refine(first, last, members))
                return false;
        }
        return true;
    }

    // A file alone in its content may still stand under several names.
    void KeepIfLinked(size_t first, size_t last, size_t rep)
    {
        if (m_names[rep].size() > 1)
            Assign(first, last, rep, m_nextClass++);
    }

    bool Refine(size_t first, size_t last, std::vector<size_t> members)
    {
        if (members.size() <= kMaxOpen) {
            std::vector<std::vector<size_t>> classes;
            if (!Lockstep(first, last, members, &classes))
                return false;
            for (const auto& c : classes) {
                if (c.size() > 1) {
                    const int32_t cls = m_nextClass++;
                    for (size_t rep : c)
                        Assign(first, last, rep, cls);
                } else {
                    KeepIfLinked(first, last, c.front());
                }
            }
            return true;
        }
        // Too many to hold open: split by a hash of the whole file, then confirm
        // each part against its first member, a batch of files at a time.
        std::map<uint64_t, std::vector<size_t>> parts;
        if (!HashWhole(first, last, members, &parts))
            return false;
        for (auto& [hash, part] : parts) {
            (void)hash;
            while (!part.empty()) {
                const size_t rep = part.front();
                std::vector<size_t> same{rep}, other;
                for (size_t k = 1; k < part.size(); k += kMaxOpen - 1) {
                    std::vector<size_t> batch{rep};
                    batch.insert(batch.end(), part.begin() + std::ptrdiff_t(k),
                                 part.begin() + std::ptrdiff_t(std::min(part.size(), k + kMaxOpen - 1)));
                    std::vector<std::vector<size_t>> classes;
                    if (!Lockstep(first, last, batch, &classes))
                        return false;
                    for (const auto& c : classes) {
                        const bool withRep = std::find(c.begin(), c.end(), rep) != c.end();
                        for (size_t m : c) {
                            if (m != rep)
                                (withRep ? same : other).push_back(m);
                        }
                    }
                }
                if (m_classOf[rep] == kFailed) {
                    same.erase(same.begin());
                    other.insert(other.begin(), same.begin(), same.end());
                } else if (same.size() > 1) {
                    const int32_t cls = m_nextClass++;
                    for (size_t m : same)
                        Assign(first, last, m, cls);
                } else {
                    KeepIfLinked(first, last, rep);
                }
                part = std::move(other);  // only on a hash collision or a failure
            }
        }
        return true;
    }

    bool HashWhole(size_t first, size_t last, const std::vector<size_t>& members,
                   std::map<uint64_t, std::vector<size_t>>* parts)
    {
        const uint64_t size = m_rows[first].sizeKey;
        if (m_buffers.empty())
            m_buffers.resize(1);
        std::vector<char>& buffer = m_buffers[0];
        buffer.resize(kChunk);
        for (size_t rep : members) {
            COpen f;
            EFailure why = kNone;
            if (!Open(rep, &f, &why)) {
                Fail(first, last, rep, why);
                continue;
            }
            // Chunks at fixed places; a chunk of zeros counts the same whether it is a hole or
            // written out, so equal contents hash alike whatever their layout on disk.
            uint64_t hash = 1469598103934665603ULL;
            bool ok = true;
            for (uint64_t offset = 0; offset < size && ok;) {
                if (Stopped(m_stop)) {
                    close(f.fd);
                    return false;
                }
                const off_t data = lseek(f.fd, off_t(offset), SEEK_DATA);
                if (data < 0 && errno == ENXIO) {
                    AddDone(size - offset);
                    break;
                }
                if (data > off_t(offset)) {
                    const uint64_t next = uint64_t(data) / kChunk * kChunk;
                    AddDone(next - offset);
                    offset = std::max(offset, next);
                }
                const size_t n = size_t(std::min<uint64_t>(kChunk, size - offset));
                ok = ReadAt(f.fd, buffer.data(), n, offset);
                AddDone(n);
                const bool zeros = buffer[0] == 0 && std::memcmp(buffer.data(), buffer.data() + 1, n - 1) == 0;
                if (!zeros) {
                    const uint64_t chunk = offset / kChunk;
                    hash = Fnv(reinterpret_cast<const char*>(&chunk), sizeof chunk, hash);
                    hash = Fnv(buffer.data(), n, hash);
                }
                offset += n;
            }
            ok = ok && Unchanged(f);
            close(f.fd);
            if (!ok)
                Fail(first, last, rep, kReadFailed);
            else
                (*parts)[hash].push_back(rep);
        }
        return true;
    }

    // Reads the members side by side and splits them wherever their bytes
    // differ; classes gets the members of equal content, first member first.
    bool Lockstep(size_t first, size_t last, const std::vector<size_t>& members,
                  std::vector<std::vector<size_t>>* classes)
    {
        const uint64_t size = m_rows[first].sizeKey;
        std::vector<COpen> open;
        for (size_t rep : members) {
            COpen f;
            EFailure why = kNone;
            if (Open(rep, &f, &why))
                open.push_back(f);
            else
                Fail(first, last, rep, why);
        }
        struct CClose {
            std::vector<COpen>& files;
            ~CClose()
            {
                for (const COpen& f : files)
                    close(f.fd);
            }
        } closer{open};

        // Each pending piece: indexes into open, all equal up to offset.
        std::vector<std::pair<std::vector<size_t>, uint64_t>> pending;
        std::vector<size_t> all(open.size());
        for (size_t i = 0; i < all.size(); ++i)
            all[i] = i;
        if (!all.empty())
            pending.emplace_back(std::move(all), 0);
        // Reused across calls, and only grown when bytes are really read.
        if (m_buffers.size() < open.size())
            m_buffers.resize(open.size());
        auto& buffers = m_buffers;
        std::vector<char> failed(open.size(), 0);
        while (!pending.empty()) {
            auto [piece, offset] = std::move(pending.back());
            pending.pop_back();
            while (piece.size() > 1 && offset < size) {
                if (Stopped(m_stop))
                    return false;
                // Where every member has a hole, the bytes are zeros in all of them.
                uint64_t data = size;
                for (size_t i : piece) {
                    const off_t d = lseek(open[i].fd, off_t(offset), SEEK_DATA);
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
                    if (buffers[i].size() < kChunk)
                        buffers[i].resize(kChunk);
                    if (ReadAt(open[i].fd, buffers[i].data(), n, offset))
                        alive.push_back(i);
                    else
                        failed[i] = 1;
                }
                AddDone(uint64_t(n) * piece.size());
                if (m_progress && m_progress->afterChunk)
                    m_progress->afterChunk();
                std::vector<std::vector<size_t>> split;
                for (size_t i : alive) {
                    auto same = std::find_if(split.begin(), split.end(), [&](const std::vector<size_t>& c) {
                        return std::memcmp(buffers[c.front()].data(), buffers[i].data(), n) == 0;
                    });
                    if (same == split.end())
                        split.push_back({i});
                    else
                        same->push_back(i);
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
                AddDone((size - std::min(size, offset)));
            // Nothing is grouped on a file that changed while it was read.
            std::vector<size_t> kept;
            for (size_t i : piece) {
                if (Unchanged(open[i]))
                    kept.push_back(open[i].row);
                else
                    Fail(first, last, open[i].row, kChanged);
            }
            if (!kept.empty())
                classes->push_back(std::move(kept));
        }
        for (size_t i = 0; i < open.size(); ++i) {
            if (failed[i])
                Fail(first, last, open[i].row, kReadFailed);
        }
        // Classes in the order of their first member, as the rows were listed.
        for (auto& c : *classes)
            std::sort(c.begin(), c.end());
        std::sort(classes->begin(), classes->end());
        return true;
    }

    // Groups in order of size, then of their first row; what failed last.
    void Arrange()
    {
        std::vector<CResultRow> out;
        std::vector<CResultRow> unopened;
        std::map<int32_t, std::vector<size_t>> byClass;
        std::vector<int32_t> classOrder;
        for (size_t i = 0; i < m_rows.size(); ++i) {
            const int32_t cls = m_classOf[i];
            if (cls >= 0) {
                auto [it, inserted] = byClass.try_emplace(cls);
                if (inserted)
                    classOrder.push_back(cls);
                it->second.push_back(i);
            } else if (cls == kFailed || cls == kUnopened) {
                CResultRow r = m_rows[i];
                r.opened = false;
                unopened.push_back(r);
            }
        }
        // Classes of one size were made in any order; sizes keep theirs.
        std::stable_sort(classOrder.begin(), classOrder.end(), [&](int32_t a, int32_t b) {
            const size_t ra = byClass[a].front(), rb = byClass[b].front();
            if (m_rows[ra].sizeKey != m_rows[rb].sizeKey)
                return m_rows[ra].sizeKey > m_rows[rb].sizeKey;
            return ra < rb;
        });
        int32_t group = 0;
        for (int32_t cls : classOrder) {
            for (size_t i : byClass[cls]) {
                CResultRow r = m_rows[i];
                r.group = group;
                out.push_back(r);
            }
            ++group;
        }
        for (CResultRow& r : unopened) {
            r.group = group;
            out.push_back(r);
        }
        for (size_t i = 0; i < out.size(); ++i)
            out[i].sr = int32_t(i + 1);
        m_rows = std::move(out);
    }

    std::vector<CResultRow>& m_rows;
    const std::atomic<bool>& m_stop;
    CProgress* m_progress;
    std::vector<int32_t> m_classOf;
    std::unordered_map<size_t, std::vector<size_t>> m_names;  // of the group being checked
    std::vector<std::vector<char>> m_buffers;                 // one chunk per file read side by side
    int32_t m_nextClass = 0;
};

}  // namespace

const char* FailureText(uint8_t failure)
{
    switch (failure) {
    case kOpenFailed: return "Could not be opened, so its contents were not compared.";
    case kReadFailed: return "Could not be read to the end, so its contents were not compared.";
    case kChanged: return "Changed while its contents were compared.";
    default: return "";
    }
}

bool Run(std::vector<CResultRow>& rows, const std::atomic<bool>& stop, CProgress* progress)
{
    std::vector<CResultRow> work = rows;
    CChecker checker(work, stop, progress);
    if (!checker.Run())
        return false;
    rows = std::move(work);
    return true;
}

}  // namespace ContentCheck

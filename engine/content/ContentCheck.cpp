#include "ContentCheck.h"

#include "DigestCache.h"
#include "FileComparer.h"
#include "ContentChecker.h"
#include "FileOpening.h"

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
// Chunk buffers a reader keeps between groups; most candidate groups are pairs.
constexpr size_t kKeptBuffers = 2;

bool Stopped(const std::atomic<bool>& stop)
{
    return stop.load(std::memory_order_relaxed);
}

constexpr int32_t kUnopened = -3;

class CChecker {
public:
    CChecker(CShared& shared, size_t maxOpen) : CChecker(shared) { m_maxOpen = maxOpen; }
    explicit CChecker(CShared& shared)
        : m_rows(shared.rows), m_stop(shared.stop), m_progress(shared.progress), m_comparer(shared.stop, shared.progress),
          m_confirmer(shared.stop, nullptr),
          m_classOf(shared.classOf), m_nextClass(shared.nextClass), m_shared(shared), m_cache(shared.cache)
    {
    }

    // Takes groups until none is left; false when stopped.
    bool Work()
    {
        for (size_t g = m_shared.nextGroup++; g < m_shared.groups.size(); g = m_shared.nextGroup++) {
            const bool checked = CheckGroup(m_shared.groups[g].first, m_shared.groups[g].second);
            // A group's lessons go in at once: one lock a group, not one a file.
            if (m_cache)
                m_cache->PutAll(m_learned);
            if (!checked)
                return false;
        }
        return true;
    }

    // The bytes to compare: every distinct file of a group with two or more.
    void Plan(size_t first, size_t last)
    {
        if (!m_rows[first].opened || m_rows[first].sizeKey == 0 || !m_progress)
            return;
        const std::vector<size_t> reps = Representatives(first, last);
        if (reps.size() > 1)
            m_progress->total += m_rows[first].sizeKey * reps.size();
    }

private:
    struct COpen {
        size_t row;
        int fd;
        struct stat st;
    };

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
    void Assign(size_t rep, int32_t cls)
    {
        for (size_t i : m_names[rep])
            m_classOf[i] = cls;
    }
    void Fail(size_t rep, EFailure why)
    {
        for (size_t i : m_names[rep]) {
            m_classOf[i] = kFailed;
            m_rows[i].failure = why;
        }
    }

    // False with the verdict in why, or with kNone when out of descriptors: a
    // file is never judged by what the process has left. wait: until one is
    // released (or stop is raised).
    bool Open(size_t row, COpen* out, EFailure* why, bool wait)
    {
        const CResultRow& r = m_rows[row];
        const int fd = wait ? OpenListedFileWaiting(r.Path(), kReadListedFlags, m_stop) : OpenListedFile(r.Path(), kReadListedFlags);
        if (fd < 0) {
            *why = OutOfDescriptors(errno) ? kNone : errno == ENOENT ? kChanged : kOpenFailed;
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

    // Opens rep, waiting for a descriptor; a file that cannot be opened leaves its group with why.
    // *stopped when Stop came first.
    bool OpenMember(size_t rep, COpen* f, bool* stopped)
    {
        EFailure why = kNone;
        *stopped = false;
        if (Open(rep, f, &why, true))
            return true;
        if (why == kNone)
            *stopped = true;
        else
            Fail(rep, why);
        return false;
    }

    bool CheckGroup(size_t first, size_t last)
    {
        if (!m_rows[first].opened) {
            for (size_t i = first; i < last; ++i)
                m_classOf[i] = kUnopened;
            return true;
        }
        const uint64_t size = m_rows[first].sizeKey;
        std::vector<size_t> reps = Representatives(first, last);
        if (!m_shared.physical.empty())
            std::stable_sort(reps.begin(), reps.end(), [this](size_t a, size_t b) { return m_shared.physical[a] < m_shared.physical[b]; });
        if (size == 0 || reps.size() == 1) {
            // Empty files are all alike; links of one file are that file.
            if (last - first > 1) {
                const int32_t cls = m_nextClass++;
                for (size_t i = first; i < last; ++i)
                    m_classOf[i] = cls;
            }
            return true;
        }

        // The first and last block split most candidates cheaply; the cache may know them unread.
        std::map<uint64_t, std::vector<size_t>> buckets;
        std::vector<char>& block = m_block;
        block.resize(2 * kBlock);
        m_known.clear();
        for (size_t rep : reps) {
            if (Stopped(m_stop))
                return false;
            if (m_lookUp && FromCache(rep)) {
                buckets[m_known[rep].digests.head].push_back(rep);
                continue;
            }
            COpen f;
            bool stopped = false;
            if (!OpenMember(rep, &f, &stopped)) {
                if (stopped)
                    return false;
                AddDone(size);
                continue;
            }
            const size_t head = size_t(std::min<uint64_t>(size, kBlock));
            const size_t tail = size_t(std::min<uint64_t>(size - head, kBlock));
            const bool ok = CFileComparer::ReadAt(f.fd, block.data(), head, 0) && CFileComparer::ReadAt(f.fd, block.data() + head, tail, size - tail);
            if (ok && m_progress)
                m_progress->read.fetch_add(head + tail, std::memory_order_relaxed);
            if (!ok) {
                close(f.fd);
                Fail(rep, kReadFailed);
                AddDone(size);
                continue;
            }
            const uint64_t hash = CFileComparer::Hash(block.data(), head + tail);
            if (m_cache)
                Learn(rep, f, hash);
            close(f.fd);
            buckets[hash].push_back(rep);
        }
        for (auto& [hash, members] : buckets) {
            (void)hash;
            if (members.size() > 1 && m_cache)
                SettleBySplits(size, members);
            if (members.size() == 1) {
                Alone(size, members.front());
                continue;
            }
            if (!Refine(size, members))
                return false;
        }
        return true;
    }

    // What the cache knows of a file, from the listing's note or else a stat by its path; true when
    // its entry is valid.
    bool FromCache(size_t rep)
    {
        const CResultRow& r = m_rows[rep];
        struct stat st;
        CKnown known;
        if (m_cache->ExpectsNotes()) {
            if (!m_cache->Noted(r.path, &known.key, &known.digests))
                return false;
        } else if (fstatat(AT_FDCWD, r.path, &st, AT_SYMLINK_NOFOLLOW) != 0 || !S_ISREG(st.st_mode) || uint64_t(st.st_size) != r.sizeKey
            || uint64_t(st.st_dev) != r.dev || uint64_t(st.st_ino) != r.ino || !m_cache->KeyOf(st, -1, r.path, &known.key)
            || !m_cache->Find(known.key, &known.digests))
            return false;
        known.unread = true;
        m_known[rep] = known;
        return true;
    }

    // Records rep's head, read from f, if the file did not change meanwhile.
    void Learn(size_t rep, const COpen& f, uint64_t head)
    {
        CKnown known;
        known.digests.head = head;
        if (StillKeyed(f, &known.key)) {
            m_learned.push_back({known.key, head, 0, 0});
            m_known[rep] = known;
        }
    }

    // The key f had when opened, if what was read under it may be recorded. Any write after the
    // open gives the file a new ctime, so bytes read under the old one are never taken for its new ones.
    bool StillKeyed(const COpen& f, CDigestCache::CKey* key)
    {
        return m_cache->KeyOf(f.st, f.fd, nullptr, key) && m_cache->Learnable(*key);
    }

    // Files of one head whose cached splits prove them unlike every other leave members.
    void SettleBySplits(uint64_t size, std::vector<size_t>& members)
    {
        constexpr size_t kMaxPairs = 1 << 16;
        if (members.size() * members.size() > kMaxPairs)
            return;
        auto splitOf = [this](size_t rep) -> const CDigestCache::CDigests* {
            const auto it = m_known.find(rep);
            return it != m_known.end() && it->second.digests.splitAt ? &it->second.digests : nullptr;
        };
        std::vector<size_t> kept;
        std::vector<size_t> settled;
        for (size_t a : members) {
            const CDigestCache::CDigests* da = splitOf(a);
            bool unlike = da != nullptr;
            for (size_t k = 0; unlike && k < members.size(); ++k) {
                const CDigestCache::CDigests* db = members[k] == a ? nullptr : splitOf(members[k]);
                unlike = members[k] == a || (db && db->splitAt == da->splitAt && db->splitHash != da->splitHash);
            }
            (unlike ? settled : kept).push_back(a);
        }
        for (size_t rep : settled)
            Alone(size, rep);
        members = std::move(kept);
    }

    // rep matches no other file of its group.
    void Alone(uint64_t size, size_t rep)
    {
        KeepIfLinked(rep);
        AddDone(size);
        const auto it = m_known.find(rep);
        if (m_progress && it != m_known.end() && it->second.unread)
            m_progress->settled.fetch_add(1, std::memory_order_relaxed);
    }

    // A file alone in its content may still stand under several names.
    void KeepIfLinked(size_t rep)
    {
        if (m_names[rep].size() > 1)
            Assign(rep, m_nextClass++);
    }

    bool Refine(uint64_t size, std::vector<size_t> members)
    {
        while (members.size() <= m_maxOpen) {
            std::vector<std::vector<size_t>> classes;
            const ERead read = Lockstep(size, members, &classes);
            if (read == ERead::kStopped)
                return false;
            if (read == ERead::kShort)
                continue;
            for (const auto& c : classes) {
                if (c.size() > 1) {
                    const int32_t cls = m_nextClass++;
                    for (size_t rep : c)
                        Assign(rep, cls);
                } else {
                    KeepIfLinked(c.front());
                }
            }
            return true;
        }
        // Too many to hold open: split by a hash of the whole file, then confirm
        // each part against its first member, a batch of files at a time.
        std::map<uint64_t, std::vector<size_t>> parts;
        if (!HashWhole(size, members, &parts))
            return false;
        for (auto& [hash, part] : parts) {
            (void)hash;
            while (!part.empty()) {
                const size_t rep = part.front();
                std::vector<size_t> same{rep}, other;
                for (size_t k = 1; k < part.size();) {
                    const size_t end = std::min(part.size(), k + m_maxOpen - 1);
                    std::vector<size_t> batch{rep};
                    batch.insert(batch.end(), part.begin() + std::ptrdiff_t(k), part.begin() + std::ptrdiff_t(end));
                    std::vector<std::vector<size_t>> classes;
                    const ERead read = Lockstep(size, batch, &classes, true);
                    if (read == ERead::kStopped)
                        return false;
                    if (read == ERead::kShort)
                        continue;
                    k = end;
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
                        Assign(m, cls);
                } else {
                    KeepIfLinked(rep);
                }
                part = std::move(other);  // only on a hash collision or a failure
            }
        }
        return true;
    }

    bool HashWhole(uint64_t size, const std::vector<size_t>& members,
                   std::map<uint64_t, std::vector<size_t>>* parts)
    {
        for (size_t rep : members) {
            COpen f;
            bool stopped = false;
            if (!OpenMember(rep, &f, &stopped)) {
                if (stopped)
                    return false;
                continue;
            }
            uint64_t hash = 0;
            bool readable = true;
            const bool going = m_comparer.HashWhole(f.fd, size, &hash, &readable);
            const bool unchanged = CFileComparer::Unchanged(f.fd, f.st);
            close(f.fd);
            if (!going)
                return false;
            if (!readable || !unchanged)
                Fail(rep, readable ? kChanged : kReadFailed);
            else
                (*parts)[hash].push_back(rep);
        }
        return true;
    }

    enum class ERead { kDone, kStopped, kShort };

    // Reads the members side by side; classes gets the rows of equal content.
    // kShort, with nothing decided, when descriptors ran out before all were
    // open: m_maxOpen is then what could be opened, or, with too few of them
    // to compare, the others' descriptors were waited for. Waiting holding
    // none means two threads never wait on each other's.
    ERead Lockstep(uint64_t size, const std::vector<size_t>& members,
                   std::vector<std::vector<size_t>>* classes, bool confirming = false)
    {
        CFileComparer& comparer = confirming ? m_confirmer : m_comparer;
        if (m_shared.budget && !m_shared.budget->Take(members.size(), m_stop))
            return ERead::kStopped;
        struct CGiveBack {
            CBudget* budget;
            size_t n;
            CFileComparer& comparer;
            ~CGiveBack()
            {
                comparer.Trim(kKeptBuffers);  // a large group's buffers go back with its descriptors
                if (budget)
                    budget->Give(n);
            }
        } giveBack{m_shared.budget, members.size(), comparer};
        std::vector<COpen> open;
        struct CClose {
            std::vector<COpen>& files;
            ~CClose() { CloseAll(); }
            void CloseAll()
            {
                for (const COpen& f : files)
                    close(f.fd);
                files.clear();
            }
        } closer{open};
        std::vector<std::pair<size_t, EFailure>> failed;
        for (size_t rep : members) {
            COpen f;
            EFailure why = kNone;
            if (Open(rep, &f, &why, false)) {
                open.push_back(f);
            } else if (why != kNone) {
                failed.emplace_back(rep, why);
            } else {
                const bool enough = open.size() >= 2;
                if (enough)
                    m_maxOpen = open.size();
                closer.CloseAll();
                return enough || WaitForDescriptor(m_stop) ? ERead::kShort : ERead::kStopped;
            }
        }
        for (const auto& [rep, why] : failed)
            Fail(rep, why);
        std::vector<int> fds;
        for (const COpen& f : open)
            fds.push_back(f.fd);
        std::vector<std::vector<size_t>> found;
        std::vector<size_t> unreadable;
        std::vector<CFileComparer::CSplit> splits;
        if (!comparer.Lockstep(fds, size, &found, &unreadable, m_cache ? &splits : nullptr))
            return ERead::kStopped;
        for (size_t i : unreadable)
            Fail(open[i].row, kReadFailed);
        for (size_t i = 0; i < splits.size(); ++i) {
            if (splits[i].found)
                LearnSplit(open[i], splits[i]);
        }
        for (const auto& c : found) {
            // Nothing is grouped on a file that changed while it was read.
            std::vector<size_t> kept;
            for (size_t i : c) {
                if (CFileComparer::Unchanged(open[i].fd, open[i].st))
                    kept.push_back(open[i].row);
                else
                    Fail(open[i].row, kChanged);
            }
            if (!kept.empty())
                classes->push_back(std::move(kept));
        }
        return ERead::kDone;
    }

    // Records where f's file was found unlike the others, under the key its head was learned with.
    void LearnSplit(const COpen& f, const CFileComparer::CSplit& split)
    {
        const auto it = m_known.find(f.row);
        CDigestCache::CKey key;
        if (it == m_known.end() || split.offset % kBlock != 0 || split.offset / kBlock >= UINT32_MAX || !StillKeyed(f, &key)
            || !(key == it->second.key))
            return;
        m_learned.push_back({key, it->second.digests.head, uint32_t(split.offset / kBlock + 1), split.hash});
    }

    std::vector<CResultRow>& m_rows;
    const std::atomic<bool>& m_stop;
    CProgress* m_progress;
    CFileComparer m_comparer;
    CFileComparer m_confirmer;  // reads again what was hashed whole: counted once already
    std::vector<int32_t>& m_classOf;
    std::atomic<int32_t>& m_nextClass;
    CShared& m_shared;
    size_t m_maxOpen = kMaxOpen;
    std::unordered_map<size_t, std::vector<size_t>> m_names;  // of the group being checked
    // What the cache knows or was told of the group's files, by row.
    struct CKnown {
        CDigestCache::CKey key;
        CDigestCache::CDigests digests;
        bool unread = false;  // its head came from the cache
    };
    CDigestCache* m_cache;
    std::vector<CDigestCache::CLearned> m_learned;  // of the group being checked
    std::vector<char> m_block;  // the first and last block of a file
    // A cache that loaded nothing answers nothing: no stat to ask it, however much this run learns.
    bool m_lookUp = m_cache && m_cache->Loaded() > 0;
    std::unordered_map<size_t, CKnown> m_known;
};

}  // namespace

void PlanProgress(CShared& shared)
{
    CChecker planner(shared);
    for (const auto& [first, last] : shared.groups)
        planner.Plan(first, last);
}

bool CheckGroups(CShared& shared, size_t maxOpen)
{
    return CChecker(shared, maxOpen).Work();
}

}  // namespace ContentCheck

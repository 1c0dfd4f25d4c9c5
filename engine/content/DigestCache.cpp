#include "DigestCache.h"

#include "FileComparer.h"
#include "FileOpening.h"
#include "SystemFolders.h"
#include "UniqueFd.h"
#include "WriteAll.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstring>
#include <ctime>
#include <vector>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/statfs.h>
#include <unistd.h>

namespace {

constexpr char kMagic[8] = {'S', 'O', 'R', 'V', 'D', 'I', 'G', '1'};
constexpr char kFileName[] = "contents";
constexpr char kNewName[] = "contents.new";
constexpr char kLockName[] = "contents.lock";
// A file past this is not one we wrote (19 million files).
constexpr uint64_t kMaxFileSize = uint64_t(1) << 30;

std::mutex g_noticeLock;
std::function<void(const std::string&)> g_notice;

void Notice(const std::string& text)
{
    std::function<void(const std::string&)> handler;
    {
        std::lock_guard<std::mutex> lock(g_noticeLock);
        handler = g_notice;
    }
    if (handler) {
        handler(text);
        return;
    }
    const std::string line = std::string(program_invocation_short_name) + ": " + text + "\n";
    [[maybe_unused]] const int error = WriteAll(STDERR_FILENO, line.data(), line.size());
}

uint64_t Mix(uint64_t x)
{
    x ^= x >> 30;
    x *= 0xBF58476D1CE4E5B9ULL;
    x ^= x >> 27;
    x *= 0x94D049BB133111EBULL;
    return x ^ (x >> 31);
}

int64_t Nanoseconds(const timespec& t)
{
    return int64_t(t.tv_sec) * 1000000000 + t.tv_nsec;
}

// The user's own: not group or other writable, owned by the effective user.
bool Own(const struct stat& st)
{
    return st.st_uid == geteuid() && (st.st_mode & (S_IWGRP | S_IWOTH)) == 0;
}

template <typename T>
void Put(char*& p, T value)
{
    std::memcpy(p, &value, sizeof value);
    p += sizeof value;
}

template <typename T>
T Get(const char*& p)
{
    T value;
    std::memcpy(&value, p, sizeof value);
    p += sizeof value;
    return value;
}

static_assert(CDigestCache::kRecordSize % 8 == 0, "the records' sum is taken a piece at a time");

// Records are written this many at a time.
constexpr size_t kPieceRecords = 1024;

// The sum Hash gives a run of records, taken a piece at a time: each piece is whole 8-byte words, so
// Hash's state carries from one to the next (it ends by mixing in the length, undone here).
class CRecordSum {
public:
    void Add(const char* data, size_t size)
    {
        m_state = CFileComparer::Hash(data, size, m_state) ^ size;
        m_size += size;
    }
    uint64_t Value() const { return m_state ^ m_size; }

private:
    uint64_t m_state = CFileComparer::Hash(nullptr, 0);  // the seed
    uint64_t m_size = 0;
};

}  // namespace

size_t CDigestCache::CKeyHash::operator()(const CKey& k) const
{
    return size_t(Mix(k.fs ^ Mix(k.ino ^ Mix(k.size ^ Mix(uint64_t(k.mtime) ^ Mix(uint64_t(k.ctime)))))));
}

CDigestCache::CDigestCache(std::string folder) : m_folder(std::move(folder))
{
    static std::atomic<uint64_t> serials{0};
    m_serial = ++serials;
    if (m_folder.empty()) {
        const std::string cache = XdgFolders().cache;
        if (!cache.empty())
            m_folder = CXdgFolders::JoinPath(cache, "sorvane");
    }
}

void CDigestCache::SetNoticeHandler(std::function<void(const std::string&)> handler)
{
    std::lock_guard<std::mutex> lock(g_noticeLock);
    g_notice = std::move(handler);
}

int CDigestCache::OpenFolder(bool create) const
{
    if (m_folder.empty() || m_folder[0] != '/')
        return -1;
    if (create) {
        // The XDG cache folder itself may be missing on a fresh account.
        for (size_t slash = m_folder.find('/', 1);; slash = m_folder.find('/', slash + 1)) {
            const std::string part = m_folder.substr(0, slash);
            if (mkdir(part.c_str(), 0700) != 0 && errno != EEXIST)
                return -1;
            if (slash == std::string::npos)
                break;
        }
    }
    const int fd = open(m_folder.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0) {
        if (errno != ENOENT)
            Notice("not using the content cache: " + m_folder + ": " + strerror(errno));
        return -1;
    }
    struct stat st;
    if (fstat(fd, &st) != 0 || !Own(st)) {
        close(fd);
        Notice("not using the content cache: " + m_folder + " is not a folder of yours that only you can write");
        return -1;
    }
    return fd;
}

bool CDigestCache::ReadFile(int folder, CMap* map, uint64_t* seen, std::string* notice) const
{
    const std::string path = FilePath();
    CFd fd(openat(folder, kFileName, O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC));
    if (fd.fd < 0) {
        if (errno != ENOENT)
            *notice = "ignoring the content cache " + path + " (" + (errno == ELOOP ? "a link" : strerror(errno)) + "); it will be rebuilt";
        return false;
    }
    struct stat st;
    if (fstat(fd.fd, &st) != 0 || !S_ISREG(st.st_mode) || !Own(st)) {
        *notice = "ignoring the content cache " + path + ": not a regular file of yours that only you can write; it will be rebuilt";
        return false;
    }
    const uint64_t size = uint64_t(st.st_size);
    std::vector<char> data;
    bool whole = size >= kHeaderSize && size <= kMaxFileSize && (size - kHeaderSize) % kRecordSize == 0;
    if (whole) {
        data.resize(size);
        whole = CFileComparer::ReadAt(fd.fd, data.data(), data.size(), 0);
    }
    const char* p = data.data();
    if (whole && std::memcmp(p, kMagic, sizeof kMagic) == 0) {
        p += sizeof kMagic;
        const uint32_t recordSize = Get<uint32_t>(p);
        Get<uint32_t>(p);
        const uint64_t count = Get<uint64_t>(p);
        const uint64_t seenFiles = Get<uint64_t>(p);
        const uint64_t sum = Get<uint64_t>(p);
        const char* records = data.data() + kHeaderSize;
        whole = recordSize == kRecordSize && count == (size - kHeaderSize) / kRecordSize
            && sum == CFileComparer::Hash(records, size_t(count * kRecordSize));
        if (whole) {
            map->reserve(size_t(count));
            for (uint64_t i = 0; i < count; ++i) {
                CKey k;
                CEntry e;
                k.fs = Get<uint64_t>(p);
                k.ino = Get<uint64_t>(p);
                k.size = Get<uint64_t>(p);
                k.mtime = Get<int64_t>(p);
                k.ctime = Get<int64_t>(p);
                e.digests.head = Get<uint64_t>(p);
                e.digests.splitAt = Get<uint32_t>(p);
                e.digests.splitHash = Get<uint32_t>(p);
                map->emplace(k, e);
            }
            *seen = seenFiles;
            return true;
        }
    }
    *notice = "ignoring the content cache " + path + ": it is damaged; it will be rebuilt";
    return false;
}

bool CDigestCache::WriteFile(int folder, const CMap& map, uint64_t seen) const
{
    // Under the lock the scratch name is ours alone; whatever an earlier crash left there goes.
    unlinkat(folder, kNewName, 0);
    CFd fd(openat(folder, kNewName, O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600));
    if (fd.fd < 0)
        return false;
    char header[kHeaderSize];
    char* h = header;
    std::memcpy(h, kMagic, sizeof kMagic);
    h += sizeof kMagic;
    Put<uint32_t>(h, kRecordSize);
    Put<uint32_t>(h, 0);
    Put<uint64_t>(h, map.size());
    Put<uint64_t>(h, seen);
    Put<uint64_t>(h, 0);  // the records' sum, once they are written
    bool written = WriteAll(fd.fd, header, kHeaderSize) == 0;
    std::vector<char> piece(kPieceRecords * kRecordSize);
    CRecordSum running;
    char* p = piece.data();
    auto flush = [&] {
        const size_t n = size_t(p - piece.data());
        running.Add(piece.data(), n);
        written = written && WriteAll(fd.fd, piece.data(), n) == 0;
        p = piece.data();
    };
    for (const auto& [k, e] : map) {
        Put(p, k.fs);
        Put(p, k.ino);
        Put(p, k.size);
        Put(p, k.mtime);
        Put(p, k.ctime);
        Put(p, e.digests.head);
        Put(p, e.digests.splitAt);
        Put(p, e.digests.splitHash);
        if (p == piece.data() + piece.size())
            flush();
    }
    flush();
    const uint64_t sum = running.Value();
    written = written && pwrite(fd.fd, &sum, sizeof sum, off_t(kHeaderSize - sizeof sum)) == ssize_t(sizeof sum);
    if (!written || renameat(folder, kNewName, folder, kFileName) != 0) {
        unlinkat(folder, kNewName, 0);
        return false;
    }
    return true;
}

bool CDigestCache::Load()
{
    const CFd folder(OpenFolder(false));
    if (folder.fd < 0)
        return true;
    CMap map;
    uint64_t seen = 0;
    std::string notice;
    if (!ReadFile(folder.fd, &map, &seen, &notice)) {
        if (notice.empty())
            return true;
        Notice(notice);
        return false;
    }
    std::lock_guard<std::shared_mutex> lock(m_lock);
    m_map = std::move(map);
    m_loaded = m_map.size();
    return true;
}

bool CDigestCache::Save()
{
    {
        std::lock_guard<std::shared_mutex> lock(m_lock);
        if (!m_dirty)
            return true;
    }
    const CFd folder(OpenFolder(true));
    if (folder.fd < 0)
        return false;
    const CFd lockFd(openat(folder.fd, kLockName, O_RDWR | O_CREAT | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC, 0600));
    struct stat st;
    if (lockFd.fd < 0 || fstat(lockFd.fd, &st) != 0 || !S_ISREG(st.st_mode) || !Own(st)) {
        Notice("not saving the content cache: its lock " + m_folder + "/" + kLockName + " is not a regular file of yours");
        return false;
    }
    while (flock(lockFd.fd, LOCK_EX) != 0) {
        if (errno != EINTR)
            return false;
    }
    // Another program may have saved since this one loaded: what it learned stays, and where both
    // know a file, what this run saw of it wins. Merged into this run's own map: no copy of it.
    CMap disk;
    uint64_t diskSeen = 0;
    std::string ignored;  // said once already, when loaded
    if (!ReadFile(folder.fd, &disk, &diskSeen, &ignored))
        disk.clear();
    std::lock_guard<std::shared_mutex> lock(m_lock);
    m_notes.clear();  // they point into the map, which changes now
    for (const auto& [k, e] : disk) {
        const auto [it, added] = m_map.emplace(k, e);
        if (!added && !it->second.seen)
            it->second = e;
    }
    // The last searches' files count in full, older ones by halves.
    const uint64_t seen = m_seen + diskSeen / 2;
    if (m_map.size() > 2 * seen) {
        for (auto it = m_map.begin(); it != m_map.end();)
            it = it->second.seen ? std::next(it) : m_map.erase(it);
    }
    const bool written = WriteFile(folder.fd, m_map, seen);
    if (written)
        m_dirty = false;
    return written;
}

bool CDigestCache::FsOf(uint64_t dev, int fd, const char* path, uint64_t* fs)
{
    // Asked for each file by many threads at once, nearly always of one device: each thread keeps
    // its last answer, for this cache only (a device number may name another file system later).
    thread_local struct {
        uint64_t serial = 0;
        uint64_t dev = 0;
        uint64_t fs = 0;
    } last;
    if (last.serial == m_serial && last.dev == dev) {
        *fs = last.fs;
        return true;
    }
    if (!FsOfShared(dev, fd, path, fs))
        return false;
    last = {m_serial, dev, *fs};
    return true;
}

bool CDigestCache::FsOfShared(uint64_t dev, int fd, const char* path, uint64_t* fs)
{
    {
        std::shared_lock<std::shared_mutex> lock(m_lock);
        const auto it = m_fsOfDev.find(dev);
        if (it != m_fsOfDev.end()) {
            *fs = it->second;
            return true;
        }
    }
    CFd own;
    if (fd < 0) {
        own.fd = OpenListedFile(path, O_PATH | O_NOFOLLOW | O_CLOEXEC);
        struct stat again;
        if (own.fd < 0 || fstat(own.fd, &again) != 0 || uint64_t(again.st_dev) != dev)
            return false;
        fd = own.fd;
    }
    struct statfs sfs;
    if (fstatfs(fd, &sfs) != 0)
        return false;
    uint64_t fsid = 0;
    std::memcpy(&fsid, &sfs.f_fsid, std::min(sizeof fsid, sizeof sfs.f_fsid));
    *fs = Mix(fsid) ^ dev;
    std::lock_guard<std::shared_mutex> lock(m_lock);
    m_fsOfDev.emplace(dev, *fs);
    return true;
}

bool CDigestCache::KeyOf(const struct stat& st, int fd, const char* path, CKey* key)
{
    if (!FsOf(uint64_t(st.st_dev), fd, path, &key->fs))
        return false;
    key->ino = uint64_t(st.st_ino);
    key->size = uint64_t(st.st_size);
    key->mtime = Nanoseconds(st.st_mtim);
    key->ctime = Nanoseconds(st.st_ctim);
    return true;
}

bool CDigestCache::KeyOf(uint64_t dev, uint64_t ino, uint64_t size, int64_t mtimeNs, int64_t ctimeNs, const char* path,
                         CKey* key)
{
    if (!FsOf(dev, -1, path, &key->fs))
        return false;
    key->ino = ino;
    key->size = size;
    key->mtime = mtimeNs;
    key->ctime = ctimeNs;
    return true;
}

bool CDigestCache::Learnable(const CKey& key) const
{
    timespec now;
    clock_gettime(CLOCK_REALTIME, &now);
    return key.ctime < Nanoseconds(now) - racyNs;
}

bool CDigestCache::Find(const CKey& key, CDigests* digests)
{
    std::lock_guard<std::shared_mutex> lock(m_lock);
    const auto it = m_map.find(key);
    if (it == m_map.end())
        return false;
    if (!it->second.seen) {
        it->second.seen = true;
        ++m_seen;
    }
    *digests = it->second.digests;
    return true;
}

bool CDigestCache::Note(const char* path, const CKey& key, CDigests* digests)
{
    CMap::value_type* entry = nullptr;
    {
        // Many examining threads at once: only looked up here, marked as seen by EndNotes.
        std::shared_lock<std::shared_mutex> lock(m_lock);
        const auto it = m_map.find(key);
        if (it == m_map.end())
            return false;
        entry = &*it;
        *digests = it->second.digests;
    }
    std::lock_guard<std::mutex> lock(m_notesLock);
    m_notes.emplace_back(path, entry);
    return true;
}

void CDigestCache::EndNotes()
{
    std::lock_guard<std::mutex> notesLock(m_notesLock);
    std::lock_guard<std::shared_mutex> lock(m_lock);
    std::sort(m_notes.begin(), m_notes.end());
    for (const auto& note : m_notes) {
        CEntry& e = note.second->second;
        if (!e.seen) {
            e.seen = true;
            ++m_seen;
        }
    }
}

bool CDigestCache::Noted(const char* path, CKey* key, CDigests* digests) const
{
    // Sorted by EndNotes and not changed after it.
    const auto it = std::lower_bound(m_notes.begin(), m_notes.end(), std::make_pair(path, static_cast<CMap::value_type*>(nullptr)));
    if (it == m_notes.end() || it->first != path)
        return false;
    std::shared_lock<std::shared_mutex> lock(m_lock);
    *key = it->second->first;
    *digests = it->second->second.digests;
    return true;
}

void CDigestCache::PutHeadLocked(const CKey& key, uint64_t head)
{
    CEntry& e = m_map[key];
    if (!e.seen)
        ++m_seen;
    if (!e.seen || e.digests.head != head) {
        e.digests = CDigests{head, 0, 0};
        m_dirty = true;
    }
    e.seen = true;
}

void CDigestCache::PutSplitLocked(const CKey& key, uint64_t head, uint32_t splitAt, uint32_t splitHash)
{
    const auto it = m_map.find(key);
    if (it == m_map.end() || it->second.digests.head != head)
        return;
    CDigests& d = it->second.digests;
    if (d.splitAt != splitAt || d.splitHash != splitHash) {
        d.splitAt = splitAt;
        d.splitHash = splitHash;
        m_dirty = true;
    }
}

void CDigestCache::PutHead(const CKey& key, uint64_t head)
{
    std::lock_guard<std::shared_mutex> lock(m_lock);
    PutHeadLocked(key, head);
}

void CDigestCache::PutAll(std::vector<CLearned>& batch)
{
    if (batch.empty())
        return;
    std::lock_guard<std::shared_mutex> lock(m_lock);
    for (const CLearned& l : batch) {
        if (l.splitAt)
            PutSplitLocked(l.key, l.head, l.splitAt, l.splitHash);
        else
            PutHeadLocked(l.key, l.head);
    }
    batch.clear();
}

size_t CDigestCache::Size() const
{
    std::lock_guard<std::shared_mutex> lock(m_lock);
    return m_map.size();
}

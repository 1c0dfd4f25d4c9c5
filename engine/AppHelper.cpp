#include "AppHelper.h"

#include <QFile>

#include <dirent.h>
#include <fcntl.h>
#include <strings.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <condition_variable>
#include <deque>
#include <cstring>
#include <mutex>
#include <thread>

namespace {

// Folders kept open at once while the walk descends; deeper trees reopen
// their ancestors by name when they need them again.
constexpr int kMaxOpenFolders = 64;
constexpr size_t kDirentBufferSize = 64 * 1024;

std::string_view LastComponent(std::string_view path)
{
    const size_t slash = path.rfind('/');
    return slash == std::string_view::npos ? path : path.substr(slash + 1);
}

bool AllDigits(std::string_view s)
{
    if (s.empty())
        return false;
    for (char c : s) {
        if (c < '0' || c > '9')
            return false;
    }
    return true;
}

bool EqualsIgnoringCase(std::string_view a, const std::string& b)
{
    return a.size() == b.size() && strncasecmp(a.data(), b.data(), a.size()) == 0;
}

bool EqualsAny(std::string_view path, const std::vector<std::string>& folders)
{
    for (const std::string& f : folders) {
        if (!f.empty() && path == f)
            return true;
    }
    return false;
}

}  // namespace

QString CFileFind::GetFilePath() const { return DecodePath(FilePath()); }
QString CFileFind::GetFileName() const { return DecodePath(FileName()); }
QString CFileFind::GetFolder() const { return DecodePath(Folder()); }

CAppHelper::CAppHelper() = default;

CAppHelper::~CAppHelper()
{
    ReleaseWalkState();
}

void CAppHelper::PrepareListing()
{
    // One look at the settings file for all of them.
    const COptionsStore::CValues options = m_options.Values();
    m_bIgnoreProgramsFolder = options.IsOn(Opt::IgnoreProgramsFolder);
    m_bIgnoreWindowsFolder = options.IsOn(Opt::IgnoreWindowsFolder);
    m_bSearchSubFolders = options.IsOn(Opt::SearchSubFolders);
    m_bIgnoreRecycleBinFolder = options.IsOn(Opt::IgnoreRecycleBinFolder);
    m_bIgnoreLocalAppDataFolder = options.IsOn(Opt::IgnoreLocalAppDataFolder);
    m_bIgnoreHiddenFolders = options.IsOn(Opt::IgnoreHiddenFolders);
    m_bIgnoreReadOnlyFiles = options.IsOn(Opt::IgnoreReadOnlyFiles);
    m_bIgnoreHiddenFiles = options.IsOn(Opt::IgnoreHiddenFiles);
    m_bViewFilesCount = options.IsOn(Opt::ViewFilesCount);

    m_systemFolders = ResolveSystemFolders();
    m_nFoldersIgnored = 0;
    m_dtStart = COleDateTime::GetCurrentTime();
    m_dtEnd = m_dtStart - COleDateTimeSpan(1, 0, 0, 0);
    // Raised here, before any walk thread exists, so a Stop that comes before
    // the walk's first folder is never overwritten.
    m_bListing.store(1, std::memory_order_relaxed);
}

void CAppHelper::StartListing()
{
    m_arrFiles.RemoveAll();
    const std::string root = StripTrailingSlashes(m_strRootFolder.toStdString());
    ParseFolder(QByteArray::fromStdString(root));
    m_nFoldersParsed = static_cast<int>(m_mapFolderFiles.size());
    m_mapFolderFiles.clear();
    ReleaseWalkState();
    m_dtEnd = COleDateTime::GetCurrentTime();
}

// Reads folders on a few threads ahead of the walk, which still takes them in
// its own order. Each frame of the walk that has sub-folders has a level here
// listing them; readers take the first unread one of the deepest level, which
// is the next the walk will need among those known. At most kReadAheadFolders
// folders are taken by readers and not yet by the walk, holding at most
// kReadAheadDescriptors descriptors and kHeldBytes of entries. Levels and
// their sub-folders are kept as stacks, a few bytes each, so a deep walk
// costs little more.
class CAppHelper::CReadAhead {
public:
    enum class Outcome { ReadHere, Ignored, Read };

    CReadAhead(const CAppHelper& owner, int threads) : m_owner(owner), m_threadCount(threads) {}
    ~CReadAhead()
    {
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            m_shutdown = true;
        }
        m_workCv.notify_all();
        for (std::thread& t : m_threads)
            t.join();
        for (FolderRead& read : m_reads) {
            if (read.fd >= 0)
                close(read.fd);
        }
    }

    // Lists the sub-folders of the frame just entered at index; path is its
    // full path and is given back unchanged.
    void PushLevel(size_t index, const Frame& frame, std::string& path)
    {
        if (m_slotEnd.size() <= index)
            m_slotEnd.resize(index + 1);
        const uint32_t first = index ? m_slotEnd[index - 1] : 0;
        m_slotEnd[index] = first;
        m_scratch.clear();
        bool anyToRead = false;
        const size_t length = path.size();
        for (const Entry& e : frame.entries) {
            if (e.kind != kFolder)
                continue;
            if (path != "/")
                path += '/';
            path.append(frame.names.data() + e.nameOffset, e.nameLength);
            const bool ignored = m_owner.IsFolderIgnoredByPath(path);
            path.resize(length);
            m_scratch.push_back({e.nameOffset, ignored ? kIgnored : kWaiting, kNoRead});
            anyToRead = anyToRead || !ignored;
        }
        // Leaves, most folders, need nothing from the readers.
        if (m_scratch.empty())
            return;
        const auto count = static_cast<uint32_t>(m_scratch.size());
        m_slotEnd[index] = first + count;
        std::lock_guard<std::mutex> lock(m_mutex);
        GiveBackSpare();
        if (m_levels.size() <= index)
            m_levels.resize(index + 1);
        // What lies above first belongs to levels the walk has left.
        m_slots.resize(first);
        m_slots.insert(m_slots.end(), m_scratch.begin(), m_scratch.end());
        Level& level = m_levels[index];
        level = Level{frame.names.data(), frame.fd, first, count, 0, 0, 0};
        m_levelDepth = index + 1;
        if (anyToRead && level.fd >= 0) {
            m_claimable.push_back(static_cast<uint32_t>(index));
            StartThreads();
            WakeReaders();
        }
    }

    // The frame at index, the deepest, is left: whatever was read for it and not taken is dropped.
    void PopLevel(size_t index)
    {
        const uint32_t first = index ? m_slotEnd[index - 1] : 0;
        if (m_slotEnd[index] == first)
            return;  // it had no level
        m_slotEnd[index] = first;
        // Every sub-folder taken: no reader can touch the level any more.
        if (m_levels[index].taken == m_levels[index].count)
            return;
        std::unique_lock<std::mutex> lock(m_mutex);
        Level& level = m_levels[index];
        WaitForReaders(lock, level);
        for (uint32_t i = level.first; i < level.first + level.count; ++i) {
            Slot& s = m_slots[i];
            if (s.state == kDone) {
                FolderRead& read = m_reads[s.read];
                Release(read);
                if (read.fd >= 0)
                    close(read.fd);
                read.fd = -1;
                m_freeReads.push_back(s.read);
            }
            s.state = kTaken;
        }
        level.fd = -1;
        m_levelDepth = index;
    }

    // The frame at index is about to close its descriptor: readers leave its sub-folders to the walk.
    void DetachFd(size_t index)
    {
        std::unique_lock<std::mutex> lock(m_mutex);
        if (index >= m_levelDepth)
            return;
        Level& level = m_levels[index];
        WaitForReaders(lock, level);
        level.fd = -1;
    }

    // The slot-th sub-folder of the frame at index, as the walk reaches it.
    // Read: *read holds it until Recycle. ReadHere: nobody took it, the walk reads it itself.
    Outcome Take(size_t index, size_t slot, FolderRead** read)
    {
        std::unique_lock<std::mutex> lock(m_mutex);
        GiveBackSpare();
        Level& level = m_levels[index];
        ++level.taken;
        Slot& s = m_slots[level.first + slot];
        if (s.state == kIgnored)
            return Outcome::Ignored;
        if (s.state == kWaiting) {
            s.state = kTaken;
            return Outcome::ReadHere;
        }
        while (s.state == kReading) {
            // Rather than wait, read the next folder a reader would take.
            Job job;
            if (HasBudget() && Claim(job)) {
                ReadClaimed(lock, job, m_walkBuffer);
                continue;
            }
            m_walkWaiting = true;
            m_doneCv.wait(lock);
        }
        m_walkWaiting = false;
        s.state = kTaken;
        *read = &m_reads[s.read];
        m_spare = s.read;  // given back at the next call after Recycle
        Release(**read);
        return Outcome::Read;
    }

    // The walk is done with what Take gave.
    void Recycle() { m_spareDone = true; }

private:
    static constexpr size_t kHeldBytes = 8u << 20;
    static constexpr uint16_t kNoRead = UINT16_MAX;
    enum SlotState : uint8_t { kWaiting, kIgnored, kReading, kDone, kTaken };
    struct Slot {
        uint32_t nameOffset;
        SlotState state;
        uint16_t read;  // in m_reads, once kDone
    };
    struct Level {
        const char* names;  // the frame's, unchanged while the level lives
        int fd;             // -1: readers leave its sub-folders alone
        uint32_t first;     // its sub-folders in m_slots
        uint32_t count;
        uint32_t nextClaim;
        uint32_t taken;  // by the walk; read by it alone
        int inFlight;
    };
    struct Job {
        uint32_t level;
        uint32_t slot;  // in m_slots
        int parentFd;
        const char* name;
        uint16_t read;
    };

    static size_t Bytes(const FolderRead& read) { return read.names.size() + read.entries.size() * sizeof(Entry); }

    void StartThreads()
    {
        // Started with the first sub-folder to read, so small walks pay nothing.
        if (!m_threads.empty())
            return;
        m_rules = m_owner.m_rules;
        for (int i = 0; i < m_threadCount; ++i)
            m_threads.emplace_back([this] { Run(); });
    }

    void GiveBackSpare()
    {
        if (m_spareDone) {
            m_freeReads.push_back(m_spare);
            m_spareDone = false;
        }
    }

    // Readers waiting for room are woken once half of it is free, not for every folder.
    void WakeReaders()
    {
        if (m_idleReaders && m_outstanding <= kReadAheadFolders / 2 && m_heldBytes <= kHeldBytes / 2)
            m_workCv.notify_all();
    }

    void WaitForReaders(std::unique_lock<std::mutex>& lock, Level& level)
    {
        while (level.inFlight > 0) {
            m_walkWaiting = true;
            m_doneCv.wait(lock);
        }
        m_walkWaiting = false;
    }

    bool HasBudget() const
    {
        return m_owner.m_bListing.load(std::memory_order_relaxed) && m_outstanding < kReadAheadFolders &&
               m_heldBytes < kHeldBytes;
    }

    // A read result leaves the read-ahead's budget.
    void Release(const FolderRead& read)
    {
        --m_outstanding;
        m_heldBytes -= Bytes(read);
        if (read.fd >= 0)
            --m_heldFds;
        WakeReaders();
    }

    // The first sub-folder not yet taken of the deepest level that has one.
    bool Claim(Job& job)
    {
        while (!m_claimable.empty()) {
            const uint32_t index = m_claimable.back();
            if (index < m_levelDepth) {
                Level& level = m_levels[index];
                while (level.nextClaim < level.count && m_slots[level.first + level.nextClaim].state != kWaiting)
                    ++level.nextClaim;
                if (level.fd >= 0 && level.nextClaim < level.count) {
                    const uint32_t slot = level.first + level.nextClaim++;
                    m_slots[slot].state = kReading;
                    ++level.inFlight;
                    ++m_outstanding;
                    // Claims never outnumber the budget, so the pool stays small.
                    if (m_freeReads.empty()) {
                        m_freeReads.push_back(static_cast<uint16_t>(m_reads.size()));
                        m_reads.emplace_back();
                    }
                    job = {index, slot, level.fd, level.names + m_slots[slot].nameOffset, m_freeReads.back()};
                    m_freeReads.pop_back();
                    return true;
                }
            }
            m_claimable.pop_back();
        }
        return false;
    }

    // Reads a claimed folder without the lock and files the result.
    void ReadClaimed(std::unique_lock<std::mutex>& lock, const Job& job, std::vector<char>& buffer)
    {
        FolderRead& read = m_reads[job.read];
        lock.unlock();
        ReadFolder(job.parentFd, job.name, m_rules, read, buffer);
        lock.lock();
        // Beyond its share of descriptors a folder is reopened by the walk when entered.
        if (read.fd >= 0 && m_heldFds >= kReadAheadDescriptors) {
            close(read.fd);
            read.fd = -1;
        } else if (read.fd >= 0) {
            ++m_heldFds;
        }
        m_slots[job.slot].read = job.read;
        m_slots[job.slot].state = kDone;
        --m_levels[job.level].inFlight;
        m_heldBytes += Bytes(read);
    }

    void Run()
    {
        std::vector<char> buffer(kDirentBufferSize);
        std::unique_lock<std::mutex> lock(m_mutex);
        for (;;) {
            Job job;
            for (;;) {
                if (m_shutdown)
                    return;
                if (HasBudget() && Claim(job))
                    break;
                ++m_idleReaders;
                m_workCv.wait(lock);
                --m_idleReaders;
            }
            ReadClaimed(lock, job, buffer);
            if (m_walkWaiting) {
                lock.unlock();
                m_doneCv.notify_one();
                lock.lock();
            }
        }
    }

    const CAppHelper& m_owner;
    const int m_threadCount;
    ReadRules m_rules;  // the readers' copy
    std::vector<std::thread> m_threads;

    std::mutex m_mutex;
    std::condition_variable m_workCv;  // readers wait for work or budget
    std::condition_variable m_doneCv;  // the walk waits for a read
    bool m_shutdown = false;
    bool m_walkWaiting = false;
    int m_idleReaders = 0;
    int m_outstanding = 0;  // taken by readers, not yet by the walk
    int m_heldFds = 0;      // descriptors of those
    size_t m_heldBytes = 0;
    std::vector<Level> m_levels;  // by frame index; m_levelDepth bounds those readers may use
    uint32_t m_levelDepth = 0;
    std::vector<Slot> m_slots;         // the levels' sub-folders, shallowest first
    std::vector<uint32_t> m_claimable;  // levels that may have sub-folders to read, deepest last
    std::deque<FolderRead> m_reads;     // never moves an element
    std::vector<uint16_t> m_freeReads;
    // The walk's own.
    std::vector<char> m_walkBuffer = std::vector<char>(kDirentBufferSize);  // for reads it does itself
    std::vector<Slot> m_scratch;
    std::vector<uint32_t> m_slotEnd;  // per frame: where its level's sub-folders end in m_slots
    uint16_t m_spare = 0;
    bool m_spareDone = false;
};

void CAppHelper::ParseFolder(const QByteArray& path)
{
    // Depth first with an explicit stack, so depth costs neither call stack nor
    // one descriptor per level. A folder's entries are handled in the order the
    // file system gives them, each sub-folder walked where it stands among them.
    const size_t base = m_depth;
    m_rules.statEveryEntry = m_bStatEveryEntry;
    m_rules.searchSubFolders = m_bSearchSubFolders;
    m_rules.ignoreReadOnlyFiles = m_bIgnoreReadOnlyFiles;
    m_rules.hiddenFolderRule = m_bIgnoreHiddenFolders;

    const bool ownsReadAhead = !m_readAhead && ReadAheadThreads() > 0;
    if (ownsReadAhead)
        m_readAhead = std::make_unique<CReadAhead>(*this, ReadAheadThreads());
    // Read results may hold descriptors too; together they stay within the budget.
    m_maxOpenFolders = m_readAhead ? kMaxOpenFolders - kReadAheadDescriptors : kMaxOpenFolders;
    struct EndReadAhead {
        CAppHelper& self;
        bool owns;
        ~EndReadAhead()
        {
            if (owns)
                self.m_readAhead.reset();
        }
    } endReadAhead{*this, ownsReadAhead};

    m_path.assign(path.constData(), static_cast<size_t>(path.size()));
    EnterFolder(AT_FDCWD, nullptr, CFolderFileCounts::kNone);

    while (m_depth > base) {
        const size_t index = m_depth - 1;
        Frame& frame = m_frames[index];
        if (frame.next == frame.entries.size()) {
            if (m_readAhead)
                m_readAhead->PopLevel(index);
            CloseFolderFd(frame);
            --m_depth;
            continue;
        }
        const Entry entry = frame.entries[frame.next++];
        const char* name = frame.names.data() + entry.nameOffset;
        m_path.resize(frame.pathLength);
        if (m_path != "/")
            m_path += '/';
        const size_t nameStart = m_path.size();
        m_path.append(name, entry.nameLength);

        if (entry.kind == kFolder) {
            EnterSubFolder(index, name);  // may grow m_frames: frame is stale after this
            continue;
        }
        // Counted before the file filters, so skipped files count too.
        if (m_bViewFilesCount)
            ++m_mapFolderFiles.Count(frame.folder);
        if (m_bIgnoreReadOnlyFiles && entry.kind == kReadOnlyFile)
            continue;
        if (m_bIgnoreHiddenFiles && name[0] == '.')
            continue;
        m_finder.m_path = m_path;
        m_finder.m_nameStart = nameStart;
        m_finder.m_folderLen = frame.pathLength;
        m_finder.m_firstInFolder = !frame.listedAny;
        frame.listedAny = true;
        OnFileFound(m_finder);
    }
}

int CAppHelper::ReadAheadThreads() const
{
    if (m_nReadAheadThreads >= 0)
        return m_nReadAheadThreads;
    // The walk reads too while it would wait, so one reader fills two cores.
    const unsigned cores = std::thread::hardware_concurrency();
    return cores <= 2 ? 1 : 2;
}

// m_path holds the sub-folder's full path and name its name in the frame at parentIndex.
void CAppHelper::EnterSubFolder(size_t parentIndex, const char* name)
{
    const size_t slot = m_frames[parentIndex].nextSubFolder++;
    const uint32_t parentEntry = m_frames[parentIndex].childParent;
    if (m_readAhead && m_bListing.load(std::memory_order_relaxed)) {
        FolderRead* read = nullptr;
        switch (m_readAhead->Take(parentIndex, slot, &read)) {
        case CReadAhead::Outcome::Ignored:
            ++m_nFoldersIgnored;
            return;
        case CReadAhead::Outcome::Read:
            EnterRead(name, parentEntry, *read);
            m_readAhead->Recycle();
            return;
        case CReadAhead::Outcome::ReadHere:
            break;
        }
    }
    EnterFolder(FolderFd(parentIndex), name, parentEntry);
}

// The same steps as EnterFolder, on a sub-folder a reader has already read.
void CAppHelper::EnterRead(const char* name, uint32_t parentEntry, FolderRead& read)
{
    const int fd = read.fd;
    read.fd = -1;
    // Looked at again: the wait for the read may have outlasted a Stop.
    if (!m_bListing.load(std::memory_order_relaxed)) {
        if (fd >= 0)
            close(fd);
        return;
    }
    if (read.ignored) {
        ++m_nFoldersIgnored;
        return;
    }
    const uint32_t folder = m_mapFolderFiles.Child(parentEntry, name);
    if (m_mapFolderFiles.IsMet(folder)) {
        if (fd >= 0)
            close(fd);
        return;
    }
    m_mapFolderFiles.SetMet(folder);
    if (!read.opened)
        return;
    Frame& frame = PushFrame(name, fd, folder);
    frame.names.swap(read.names);
    frame.entries.swap(read.entries);
    read.names.clear();
    read.entries.clear();
    // Its sub-folders are read from its descriptor, which a reader could not keep.
    if (read.hasFolders && frame.fd < 0)
        FolderFd(m_depth - 1);
    m_readAhead->PushLevel(m_depth - 1, frame, m_path);
    LimitOpenFolders(m_depth - 1);
}

// m_path holds the folder's full path; name is its name inside parentFd and
// parentEntry its parent's entry in m_mapFolderFiles, or name is null for the
// walk's first folder, which is opened by path and may be a link.
void CAppHelper::EnterFolder(int parentFd, const char* name, uint32_t parentEntry)
{
    if (!m_bListing.load(std::memory_order_relaxed))
        return;
    const bool first = name == nullptr;
    const char* openName = first ? m_path.c_str() : name;
    if (IsFolderIgnoredAt(parentFd, openName, m_path)) {
        ++m_nFoldersIgnored;
        return;
    }
    const uint32_t folder = first ? m_mapFolderFiles.Find(m_path) : m_mapFolderFiles.Child(parentEntry, name);
    if (m_mapFolderFiles.IsMet(folder))
        return;
    m_mapFolderFiles.SetMet(folder);

    // From here on the folder counts as parsed, whether or not it can be read.
    const int fd = openat(parentFd, openName, O_RDONLY | O_DIRECTORY | O_CLOEXEC | (first ? 0 : O_NOFOLLOW));
    if (fd < 0)
        return;
    Frame& frame = PushFrame(openName, fd, folder);
    ReadEntries(frame);
    if (m_readAhead)
        m_readAhead->PushLevel(m_depth - 1, frame, m_path);
    LimitOpenFolders(m_depth - 1);
}

CAppHelper::Frame& CAppHelper::PushFrame(const char* name, int fd, uint32_t folder)
{
    if (m_frames.size() == m_depth)
        m_frames.emplace_back();
    const size_t index = m_depth++;
    m_lowestOpen = std::min(m_lowestOpen, index);
    Frame& frame = m_frames[index];
    frame.name = name;
    frame.pathLength = m_path.size();
    frame.fd = fd;
    if (fd >= 0)
        ++m_openFolders;
    frame.folder = folder;
    frame.childParent = m_path == "/" ? m_mapFolderFiles.Parent(folder) : folder;
    frame.listedAny = false;
    frame.next = 0;
    frame.nextSubFolder = 0;
    return frame;
}

void CAppHelper::ReadEntries(Frame& frame)
{
    if (m_direntBuffer.empty())
        m_direntBuffer.resize(kDirentBufferSize);
    // A folder with no sub-folders never needs its descriptor again.
    if (!ReadEntries(frame.fd, m_rules, frame.names, frame.entries, m_direntBuffer))
        CloseFolderFd(frame);
}

void CAppHelper::ReadFolder(int parentFd, const char* name, const ReadRules& rules, FolderRead& read,
                            std::vector<char>& buffer)
{
    read.ignored = false;
    read.opened = false;
    read.hasFolders = false;
    read.fd = -1;
    read.names.clear();
    read.entries.clear();
    // The attribute read of IsFolderIgnoredAt; the rules on the path were applied before.
    struct stat st;
    if (rules.hiddenFolderRule && fstatat(parentFd, name, &st, AT_SYMLINK_NOFOLLOW) != 0) {
        read.ignored = true;
        return;
    }
    const int fd = openat(parentFd, name, O_RDONLY | O_DIRECTORY | O_CLOEXEC | O_NOFOLLOW);
    if (fd < 0)
        return;
    read.opened = true;
    read.hasFolders = ReadEntries(fd, rules, read.names, read.entries, buffer);
    if (read.hasFolders)
        read.fd = fd;
    else
        close(fd);
}

bool CAppHelper::ReadEntries(int fd, const ReadRules& rules, std::vector<char>& names, std::vector<Entry>& entries,
                             std::vector<char>& buffer)
{
    names.clear();
    entries.clear();
    bool hasFolders = false;

    for (;;) {
        const ssize_t n = getdents64(fd, buffer.data(), buffer.size());
        if (n <= 0)
            break;  // end, or the folder went away: what was read stands
        for (ssize_t pos = 0; pos < n;) {
            const auto* d = reinterpret_cast<const struct dirent64*>(buffer.data() + pos);
            pos += d->d_reclen;
            const char* name = d->d_name;
            if (name[0] == '.' && (name[1] == '\0' || (name[1] == '.' && name[2] == '\0')))
                continue;

            EntryKind kind;
            unsigned char type = rules.statEveryEntry ? static_cast<unsigned char>(DT_UNKNOWN) : d->d_type;
            struct stat st;
            bool haveStat = false;
            if (type == DT_UNKNOWN) {
                if (fstatat(fd, name, &st, AT_SYMLINK_NOFOLLOW) != 0)
                    continue;
                haveStat = true;
                type = S_ISDIR(st.st_mode) ? DT_DIR : S_ISREG(st.st_mode) ? DT_REG : DT_UNKNOWN;
            }
            if (type == DT_DIR) {
                if (!rules.searchSubFolders)
                    continue;  // neither counted nor tested
                kind = kFolder;
                hasFolders = true;
            } else if (type == DT_REG) {
                kind = kFile;
                if (rules.ignoreReadOnlyFiles) {
                    if (!haveStat)
                        haveStat = fstatat(fd, name, &st, AT_SYMLINK_NOFOLLOW) == 0;
                    if (haveStat && (st.st_mode & S_IWUSR) == 0)
                        kind = kReadOnlyFile;
                }
            } else {
                continue;  // links, pipes, sockets and devices are never listed
            }
            const size_t length = std::strlen(name);
            entries.push_back({static_cast<uint32_t>(names.size()), static_cast<uint16_t>(length), kind});
            names.insert(names.end(), name, name + length + 1);
        }
    }
    return hasFolders;
}

int CAppHelper::FolderFd(size_t index)
{
    if (m_frames[index].fd >= 0)
        return m_frames[index].fd;
    // Reopen from the nearest ancestor still open, one name at a time, so no
    // path longer than the system's limit is ever passed to the kernel.
    size_t start = index;
    while (start > 0 && m_frames[start - 1].fd < 0)
        --start;
    for (size_t i = start; i <= index; ++i) {
        Frame& f = m_frames[i];
        const int parent = i == 0 ? AT_FDCWD : m_frames[i - 1].fd;
        f.fd = openat(parent, f.name.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC | (i == 0 ? 0 : O_NOFOLLOW));
        if (f.fd < 0)
            return -1;
        ++m_openFolders;
        if (i < m_lowestOpen)
            m_lowestOpen = i;
        LimitOpenFolders(i);
    }
    return m_frames[index].fd;
}

void CAppHelper::CloseFolderFd(Frame& frame)
{
    if (frame.fd >= 0) {
        close(frame.fd);
        frame.fd = -1;
        --m_openFolders;
    }
}

// Closes the shallowest descriptors beyond the limit, never the one at keep.
void CAppHelper::LimitOpenFolders(size_t keep)
{
    while (m_openFolders > m_maxOpenFolders && m_lowestOpen < keep) {
        if (m_readAhead && m_frames[m_lowestOpen].fd >= 0)
            m_readAhead->DetachFd(m_lowestOpen);
        CloseFolderFd(m_frames[m_lowestOpen]);
        ++m_lowestOpen;
    }
}

void CAppHelper::ReleaseWalkState()
{
    for (Frame& f : m_frames)
        CloseFolderFd(f);
    std::vector<Frame>().swap(m_frames);
    m_depth = 0;
    m_lowestOpen = 0;
    std::vector<char>().swap(m_direntBuffer);
}

bool CAppHelper::IsFolderIgnored(const QByteArray& path)
{
    const std::string p = path.toStdString();
    return IsFolderIgnoredAt(AT_FDCWD, p.c_str(), p);
}

bool CAppHelper::IsFolderIgnoredAt(int dirFd, const char* statName, std::string_view path) const
{
    if (IsFolderIgnoredByPath(path))
        return true;
    // A folder whose attributes cannot be read counts as hidden.
    struct stat st;
    return m_bIgnoreHiddenFolders && path != "/" && fstatat(dirFd, statName, &st, AT_SYMLINK_NOFOLLOW) != 0;
}

bool CAppHelper::IsFolderIgnoredByPath(std::string_view path) const
{
    const CSystemFolders& sf = m_systemFolders;
    if (m_bIgnoreWindowsFolder) {
        for (const std::string& f : sf.osFolders) {
            if (!f.empty() && EqualsIgnoringCase(path, f))
                return true;
        }
    }
    if (m_bIgnoreProgramsFolder && EqualsAny(path, sf.programFolders))
        return true;
    if (m_bIgnoreRecycleBinFolder && IsRecycleBinFolder(path))
        return true;
    if (m_bIgnoreHiddenFolders && path != "/") {
        // "." and ".." name a folder by where it is, not a hidden one.
        const std::string_view last = LastComponent(path);
        if (last.substr(0, 1) == "." && last != "." && last != "..")
            return true;
    }
    if (m_bIgnoreLocalAppDataFolder && EqualsAny(path, sf.appDataFolders))
        return true;
    return false;
}

bool CAppHelper::IsRecycleBinFolder(std::string_view path) const
{
    if (!m_systemFolders.homeTrash.empty() && path == m_systemFolders.homeTrash)
        return true;
    const std::string_view last = LastComponent(path);
    // Per-volume trash folders: ".Trash-<uid>", or "<uid>" inside ".Trash".
    if (last.substr(0, 7) == ".Trash-" && AllDigits(last.substr(7)))
        return true;
    if (AllDigits(last) && path.size() > last.size()) {
        const std::string_view parent = path.substr(0, path.size() - last.size() - 1);
        return LastComponent(parent) == ".Trash";
    }
    return false;
}

void CAppHelper::AddFolderFileCount(const QByteArray& folder)
{
    const uint32_t id = m_mapFolderFiles.Find(std::string_view(folder.constData(), size_t(folder.size())));
    m_mapFolderFiles.SetMet(id);
    ++m_mapFolderFiles.Count(id);
}

int CAppHelper::GetFolderFileCount(const QByteArray& folder) const
{
    const uint32_t id = m_mapFolderFiles.Lookup(std::string_view(folder.constData(), size_t(folder.size())));
    return id == CFolderFileCounts::kNone ? 0 : m_mapFolderFiles.Count(id);
}

std::string CFolderFileCounts::Key(uint32_t parent, std::string_view name)
{
    std::string key(reinterpret_cast<const char*>(&parent), sizeof parent);
    return key.append(name);
}

template <typename Step>
uint32_t CFolderFileCounts::EachComponent(std::string_view path, Step step)
{
    uint32_t id = kNone;
    for (size_t start = 0;;) {
        const size_t slash = path.find('/', start);
        id = step(id, path.substr(start, slash == std::string_view::npos ? std::string_view::npos : slash - start));
        if (id == kNone || slash == std::string_view::npos)
            return id;
        start = slash + 1;
    }
}

uint32_t CFolderFileCounts::Find(std::string_view path)
{
    return EachComponent(path, [this](uint32_t parent, std::string_view name) { return Child(parent, name); });
}

uint32_t CFolderFileCounts::Lookup(std::string_view path) const
{
    return EachComponent(path, [this](uint32_t parent, std::string_view name) {
        const auto it = m_index.find(Key(parent, name));
        return it == m_index.end() ? kNone : it->second;
    });
}

uint32_t CFolderFileCounts::Child(uint32_t parent, std::string_view name)
{
    const auto [it, inserted] = m_index.try_emplace(Key(parent, name), static_cast<uint32_t>(m_nodes.size()));
    if (inserted)
        m_nodes.push_back({parent, 0, false});
    return it->second;
}

void CFolderFileCounts::SetMet(uint32_t id)
{
    if (!m_nodes[id].met) {
        m_nodes[id].met = true;
        ++m_met;
    }
}

void CFolderFileCounts::clear()
{
    std::vector<Node>().swap(m_nodes);
    std::unordered_map<std::string, uint32_t>().swap(m_index);
    m_met = 0;
}

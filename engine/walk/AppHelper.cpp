#include "AppHelper.h"

#include "FileOpening.h"
#include "ReadAhead.h"

#include <QFile>

#include <dirent.h>
#include <chrono>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <condition_variable>
#include <deque>
#include <cstring>
#include <mutex>
#include <thread>
#include <utility>

namespace {

// Folders kept open at once while the walk descends; deeper trees reopen
// their ancestors by name when they need them again.
constexpr int kMaxOpenFolders = 64;

}  // namespace

QString CFileFind::GetFilePath() const { return DecodePath(FilePath()); }
QString CFileFind::GetFileName() const { return DecodePath(FileName()); }
QString CFileFind::GetFolder() const { return DecodePath(Folder()); }

CAppHelper::CAppHelper(CWalkSink& sink) : m_sink(sink) {}

CAppHelper::~CAppHelper()
{
    ReleaseWalkState();
}

CWalkOptions CAppHelper::LoadOptions(QString* filterError)
{
    // One look at the settings file for all of them.
    const COptionsStore::CValues options = COptionsStore().Values();
    CWalkOptions o;
    o.m_bIgnoreProgramsFolder = options.IsOn(Opt::IgnoreProgramsFolder);
    o.m_bIgnoreWindowsFolder = options.IsOn(Opt::IgnoreWindowsFolder);
    o.m_bSearchSubFolders = options.IsOn(Opt::SearchSubFolders);
    o.m_bIgnoreRecycleBinFolder = options.IsOn(Opt::IgnoreRecycleBinFolder);
    o.m_bIgnoreLocalAppDataFolder = options.IsOn(Opt::IgnoreLocalAppDataFolder);
    o.m_bIgnoreHiddenFolders = options.IsOn(Opt::IgnoreHiddenFolders);
    o.m_bIgnoreReadOnlyFiles = options.IsOn(Opt::IgnoreReadOnlyFiles);
    o.m_bIgnoreHiddenFiles = options.IsOn(Opt::IgnoreHiddenFiles);
    o.m_bViewFilesCount = options.IsOn(Opt::ViewFilesCount);
    QString error;
    if (!FileFilters::Load(options, &o.m_filters, &error) && filterError)
        *filterError = error;
    return o;
}

void CAppHelper::PrepareListing(const QByteArray& root)
{
    PrepareListing(root, LoadOptions());
}

void CAppHelper::PrepareListing(const QByteArray& root, const CWalkOptions& options)
{
    static_cast<CWalkOptions&>(*this) = options;
    m_strRootFolder = root;
    m_systemFolders = ResolveSystemFolders();
    m_mapFolderFiles.clear();
    m_result = CWalkResult();
    m_result.m_dtStart = COleDateTime::GetCurrentTime();
    m_result.m_dtEnd = m_result.m_dtStart - COleDateTimeSpan(1, 0, 0, 0);
    // Up from here, so a front end offers Stop before the walk's thread runs.
    m_bListing.store(1, std::memory_order_relaxed);
}

CWalkResult CAppHelper::StartListing(const std::atomic<bool>& stop)
{
    const std::string root = StripTrailingSlashes(m_strRootFolder.toStdString());
    ParseFolder(QByteArray::fromStdString(root), stop);
    m_result.m_nFoldersParsed = static_cast<int>(m_mapFolderFiles.size());
    m_mapFolderFiles.clear();
    ReleaseWalkState();
    m_result.m_dtEnd = COleDateTime::GetCurrentTime();
    return std::move(m_result);
}


void CAppHelper::ParseFolder(const QByteArray& path, const std::atomic<bool>& stop)
{
    // Depth first with an explicit stack, so depth costs neither call stack nor
    // one descriptor per level. A folder's entries are handled in the order the
    // file system gives them, each sub-folder walked where it stands among them.
    const size_t base = m_depth;
    m_rules.statEveryEntry = m_bStatEveryEntry;
    m_rules.searchSubFolders = m_bSearchSubFolders;
    m_rules.ignoreReadOnlyFiles = m_bIgnoreReadOnlyFiles;
    m_rules.hiddenFolderRule = m_bIgnoreHiddenFolders;
    m_rules.otherEntries = m_sink.WantsOtherEntries();
    m_rules.filters = m_filters.AnyOn() ? &m_filters : nullptr;
    m_result.m_bFiltered = m_filters.AnyOn();
    if (base == 0) {
        m_entered.clear();
        m_stop = &stop;
        m_bListing.store(1, std::memory_order_relaxed);
    }
    // Declared before the read-ahead's end, so its readers are gone when the token is let go.
    struct EndWalk {
        CAppHelper& self;
        bool outermost;
        ~EndWalk()
        {
            if (outermost) {
                self.m_bListing.store(0, std::memory_order_relaxed);
                self.m_stop = nullptr;
            }
        }
    } endWalk{*this, base == 0};

    const bool ownsReadAhead = !m_readAhead && ReadAheadThreads() > 0;
    if (ownsReadAhead)
        m_readAhead = std::make_unique<CReadAhead>(*this, ReadAheadThreads());
    // Read results may hold descriptors too; together they stay within the
    // budget, which a tight descriptor limit shrinks to leave the rest of the
    // program (and its other threads) their share.
    m_maxOpenFolders = m_readAhead ? kMaxOpenFolders - kReadAheadDescriptors : kMaxOpenFolders;
    m_maxOpenFolders = std::clamp(int((DescriptorLimit() - 16) / 2), 1, m_maxOpenFolders);
    struct EndReadAhead {
        CAppHelper& self;
        bool owns;
        ~EndReadAhead()
        {
            if (owns)
                self.m_readAhead.reset();
        }
    } endReadAhead{*this, ownsReadAhead};

    // Filters that could not be read would list too much: nothing is listed.
    if (m_filters.unusable)
        return;
    m_path.assign(path.constData(), static_cast<size_t>(path.size()));
    EnterFolder(AT_FDCWD, nullptr, CFolderFileCounts::kNone);

    WalkDown(base);
}

// Handles the entries of the folders on the stack above base, entering sub-folders as they come.
void CAppHelper::WalkDown(size_t base)
{
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
        if (entry.kind == kOther) {
            if (!(m_bIgnoreHiddenFiles && name[0] == '.')) {
                const char* what = name + entry.nameLength + 1;
                uint16_t length;
                std::memcpy(&length, what, sizeof length);
                m_sink.OnOtherEntry(m_path, std::string_view(what + sizeof length, length));
            }
            continue;
        }
        // Counted before the file filters, so skipped files count too.
        if (m_bViewFilesCount)
            ++m_mapFolderFiles.Count(frame.folder);
        if (m_bIgnoreReadOnlyFiles && entry.kind == kReadOnlyFile)
            continue;
        if (m_bIgnoreHiddenFiles && name[0] == '.')
            continue;
        if (entry.filtered) {
            ++m_result.m_nFilesFiltered;
            continue;
        }
        m_finder.m_path = m_path;
        m_finder.m_nameStart = nameStart;
        m_finder.m_folderLen = frame.pathLength;
        m_finder.m_firstInFolder = !frame.listedAny;
        frame.listedAny = true;
        m_sink.OnFileFound(m_finder);
    }
}

int CAppHelper::ReadAheadThreads() const
{
    if (m_nReadAheadThreads >= 0)
        return m_nReadAheadThreads;
    // Readers hold descriptors of their own: not where they are scarce.
    if (DescriptorLimit() < 4 * kMaxOpenFolders)
        return 0;
    // The walk reads too while it would wait, so one reader fills two cores.
    const unsigned cores = std::thread::hardware_concurrency();
    return cores <= 2 ? 1 : 2;
}

// m_path holds the sub-folder's full path and name its name in the frame at parentIndex.
void CAppHelper::EnterSubFolder(size_t parentIndex, const char* name)
{
    const size_t slot = m_frames[parentIndex].nextSubFolder++;
    const uint32_t parentEntry = m_frames[parentIndex].childParent;
    if (m_readAhead && GoOn()) {
        FolderRead* read = nullptr;
        switch (m_readAhead->Take(parentIndex, slot, &read)) {
        case CReadAhead::Outcome::Ignored:
            ++m_result.m_nFoldersIgnored;
            return;
        case CReadAhead::Outcome::Read:
            if (read->outOfDescriptors) {
                m_readAhead->DropTaken();
                m_readAhead->Recycle();
                break;
            }
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
    const bool listing = GoOn();
    if (listing && read.ignored) {
        ++m_result.m_nFoldersIgnored;
        return;
    }
    const uint32_t folder = listing ? m_mapFolderFiles.Child(parentEntry, name) : CFolderFileCounts::kNone;
    if (folder == CFolderFileCounts::kNone || m_mapFolderFiles.IsMet(folder)) {
        // Readers may still be reading below it, from its descriptor.
        m_readAhead->DropTaken();
        if (fd >= 0)
            close(fd);
        return;
    }
    m_mapFolderFiles.SetMet(folder);
    if (!read.opened) {
        NotRead(read.error);
        return;
    }
    if (!FirstEntry(read.id)) {
        m_readAhead->DropTaken();  // nothing read below it is entered either
        if (fd >= 0)
            close(fd);
        NotRead(kAlreadyListed);
        return;
    }
    Frame& frame = PushFrame(name, fd, folder);
    frame.names.swap(read.names);
    frame.entries.swap(read.entries);
    read.names.clear();
    read.entries.clear();
    // Its sub-folders left to read are read from its descriptor, which a reader may not have kept.
    if (m_readAhead->AdoptLevel(m_depth - 1))
        m_readAhead->GiveFd(m_depth - 1, FolderFd(m_depth - 1));
    LimitOpenFolders(m_depth - 1);
}

// m_path holds the folder's full path; name is its name inside parentFd and
// parentEntry its parent's entry in m_mapFolderFiles, or name is null for the
// walk's first folder, which is opened by path and may be a link.
void CAppHelper::EnterFolder(int parentFd, const char* name, uint32_t parentEntry)
{
    if (!GoOn())
        return;
    const bool first = name == nullptr;
    const char* openName = first ? m_path.c_str() : name;
    if (IsFolderIgnoredByPath(m_path, first)) {
        ++m_result.m_nFoldersIgnored;
        return;
    }
    const uint32_t folder = first ? m_mapFolderFiles.Find(m_path) : m_mapFolderFiles.Child(parentEntry, name);
    if (m_mapFolderFiles.IsMet(folder))
        return;

    const int flags = O_RDONLY | O_DIRECTORY | O_CLOEXEC;
    const int fd = first ? openat(parentFd, openName, flags) : OpenFolder(parentFd, openName, flags | O_NOFOLLOW, m_depth - 1);
    FolderId id;
    int error = fd < 0 ? errno : IdOf(fd, id) ? 0 : errno;
    // Its attributes are read only when it could not be opened: an open folder has them.
    if (fd < 0 && HiddenAsUnreadable(parentFd, openName, m_path)) {
        ++m_result.m_nFoldersIgnored;
        return;
    }
    // From here on the folder counts as parsed, whether or not it can be read.
    m_mapFolderFiles.SetMet(folder);
    if (error == 0 && !FirstEntry(id))
        error = kAlreadyListed;
    if (error != 0) {
        if (fd >= 0)
            close(fd);
        NotRead(error);
        return;
    }
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
    m_sink.OnFolderEntered(m_path);
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
        constexpr int kFlags = O_PATH | O_DIRECTORY | O_CLOEXEC;
        f.fd = i == 0 ? openat(parent, f.name.c_str(), kFlags) : OpenFolder(parent, f.name.c_str(), kFlags | O_NOFOLLOW, i - 1);
        if (f.fd < 0)
            return -1;
        ++m_openFolders;
        if (i < m_lowestOpen)
            m_lowestOpen = i;
        LimitOpenFolders(i);
    }
    return m_frames[index].fd;
}

// openat; when the process is out of descriptors, again after closing the
// shallowest ones the walk holds (never the one at keep), so the budget
// shrinks to what the system leaves instead of folders going unread. With
// none of its own to close, it waits a little for other threads' to go.
int CAppHelper::OpenFolder(int parentFd, const char* name, int flags, size_t keep)
{
    int fd;
    for (int waits = 0; (fd = openat(parentFd, name, flags)) < 0 && (errno == EMFILE || errno == ENFILE);) {
        if (m_lowestOpen < keep && m_openFolders > 1) {
            m_maxOpenFolders = m_openFolders - 1;
            LimitOpenFolders(keep);
        } else if (++waits <= 100) {
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        } else {
            break;
        }
    }
    return fd;
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
    decltype(m_entered)().swap(m_entered);
}

QString CAppHelper::UnreadReason(int error)
{
    return error == kAlreadyListed ? QStringLiteral("already listed as another path")
                                   : QString::fromLocal8Bit(std::strerror(error));
}

// m_path holds the folder's path. Kept as data: the front ends name every folder the listing misses.
void CAppHelper::NotRead(int error)
{
    m_result.m_arrUnreadFolders.push_back({QByteArray(m_path.data(), qsizetype(m_path.size())), error});
    m_sink.OnFolderNotRead(m_path, error);
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


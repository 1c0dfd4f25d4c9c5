#include "ResultsFill.h"

#include "ContentCheck.h"
#include "StopSignals.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>
#include <ctime>
#include <climits>
#include <fcntl.h>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// New rows reach the window at this pace while the collection runs.
constexpr auto kBatchInterval = std::chrono::milliseconds(50);

bool Stopped(const std::atomic<bool>& stop)
{
    return stop.load(std::memory_order_relaxed);
}

int CloseKeepingErrno(int fd, int result)
{
    const int saved = errno;
    close(fd);
    errno = saved;
    return result;
}

// Opens rest (folders separated by slashes, then the item) below the folder
// dir one step at a time, without following links; flags for the item.
// -1 with errno.
int OpenBelow(int dir, std::string_view rest, int flags)
{
    dir = fcntl(dir, F_DUPFD_CLOEXEC, 0);
    for (size_t start = 0; dir >= 0;) {
        const size_t slash = rest.find('/', start);
        const std::string name(rest.substr(start, slash == std::string_view::npos ? std::string_view::npos : slash - start));
        if (slash == std::string_view::npos)
            return CloseKeepingErrno(dir, openat(dir, name.c_str(), flags));
        start = slash + 1;
        if (name.empty())
            continue;  // a doubled slash
        dir = CloseKeepingErrno(dir, openat(dir, name.c_str(), O_PATH | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
    }
    return -1;
}

// A path the kernel would refuse as too long: the longest leading part that
// it takes is opened as a short path would be, the rest one folder at a time
// without following links, as the walk went down.
int OpenLongPath(std::string_view path, int flags)
{
    const size_t cut = path.rfind('/', PATH_MAX - 1);
    if (cut == std::string_view::npos) {
        errno = ENAMETOOLONG;
        return -1;
    }
    const int dir = open(std::string(path.substr(0, cut == 0 ? 1 : cut)).c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC);
    return dir < 0 ? -1 : CloseKeepingErrno(dir, OpenBelow(dir, path.substr(cut + 1), flags));
}

}  // namespace

std::string CResultRow::ModifiedBytes() const
{
    if (!hasModified)
        return std::string();
    const time_t t = static_cast<time_t>(modified);
    struct tm local = {};
    char date[128] = "";
    char time[128] = "";
    if (localtime_r(&t, &local)) {
        if (strftime(date, sizeof date, "%x", &local) == 0)
            date[0] = '\0';
        if (strftime(time, sizeof time, "%X", &local) == 0)
            time[0] = '\0';
    }
    return std::string(date) + ' ' + time;
}

QString CResultRow::ModifiedText() const
{
    return QString::fromLocal8Bit(ModifiedBytes());
}

int OpenListedFile(std::string_view path, int flags)
{
    return path.size() < PATH_MAX ? open(std::string(path).c_str(), flags) : OpenLongPath(path, flags);
}

bool OutOfDescriptors(int error)
{
    return error == EMFILE || error == ENFILE;
}

bool WaitForDescriptor(const std::atomic<bool>& stop)
{
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
    return !Stopped(stop);
}

int OpenListedFileWaiting(std::string_view path, int flags, const std::atomic<bool>& stop)
{
    for (;;) {
        const int fd = OpenListedFile(path, flags);
        if (fd >= 0 || !OutOfDescriptors(errno))
            return fd;
        if (!WaitForDescriptor(stop)) {
            errno = EMFILE;
            return -1;
        }
    }
}

CFolderCache::~CFolderCache()
{
    if (m_fd >= 0)
        close(m_fd);
}

// The folder's descriptor for path, opened when the folder changes; -1 when
// the path is too long for it or the folder cannot be opened.
int CFolderCache::FolderOf(std::string_view path)
{
    // Listed files come folder by folder: the folder is looked up once, then
    // each file by its name alone.
    const size_t slash = path.rfind('/');
    if (slash == std::string_view::npos)
        return -1;
    const std::string_view folder = path.substr(0, slash == 0 ? 1 : slash);
    if (m_fd < 0 || folder != m_folder) {
        constexpr int kFolder = O_PATH | O_DIRECTORY | O_CLOEXEC;
        int fd = -1;
        if (folder.size() < PATH_MAX) {
            fd = open(std::string(folder).c_str(), kFolder);
        } else if (m_fd >= 0 && folder.size() > m_folder.size() && folder[m_folder.size()] == '/'
                   && folder.substr(0, m_folder.size()) == m_folder) {
            // A deep tree lists a folder's sub-folder next: one step down
            // from the last, rather than the whole way from the top.
            fd = OpenBelow(m_fd, folder.substr(m_folder.size() + 1), kFolder | O_NOFOLLOW);
        } else {
            fd = OpenListedFile(folder, kFolder | O_NOFOLLOW);
        }
        if (m_fd >= 0)
            close(m_fd);
        m_fd = fd;
        m_folder.assign(folder);
    }
    m_name.assign(path.substr(slash + 1));
    return m_fd;
}

// stat of the item itself; then, for a regular file, whether it may be opened
// for reading, as opening it would tell, without the cost of an open.
int CFolderCache::StatReadable(std::string_view path, struct stat* st, bool* readable)
{
    const int dir = FolderOf(path);
    if (dir < 0) {
        constexpr int kFlags = O_RDONLY | O_NONBLOCK | O_NOFOLLOW | O_NOCTTY | O_CLOEXEC;
        const int fd = OpenListedFile(path, kFlags);
        if (fd < 0)
            return -1;
        const int result = fstat(fd, st);
        *readable = true;
        close(fd);
        return result;
    }
    if (fstatat(dir, m_name.c_str(), st, AT_SYMLINK_NOFOLLOW) != 0)
        return -1;
    *readable = S_ISREG(st->st_mode) && faccessat(dir, m_name.c_str(), R_OK, AT_EACCESS | AT_SYMLINK_NOFOLLOW) == 0;
    return 0;
}

bool ExamineListedFile(std::string_view path, CFolderCache& folders, CExamined* found)
{
    struct stat st;
    bool readable = false;
    const int result = folders.StatReadable(path, &st, &readable);
    if (result != 0 && (errno == ENOENT || errno == ENOTDIR))
        return false;  // gone since the listing
    *found = CExamined();
    found->outOfDescriptors = result != 0 && OutOfDescriptors(errno);
    // There but not to be opened, or no longer a file: name and folder only.
    if (result == 0 && readable && S_ISREG(st.st_mode)) {
        found->opened = true;
        found->size = static_cast<uint64_t>(st.st_size);
        found->modified = st.st_mtime;
        found->dev = static_cast<uint64_t>(st.st_dev);
        found->ino = static_cast<uint64_t>(st.st_ino);
    }
    return true;
}

bool MakeResultRow(std::string_view path, CTextArena& arena, CResultRow* row, bool stable, CFolderCache& folders,
                   const std::atomic<bool>& stop)
{
    CExamined found;
    if (path.rfind('/') == std::string_view::npos)
        return false;
    bool there = ExamineListedFile(path, folders, &found);
    for (; there && found.outOfDescriptors; there = ExamineListedFile(path, folders, &found)) {
        if (!WaitForDescriptor(stop))
            return false;  // not looked at, so not listed as unopened
    }
    if (!there)
        return false;
    *row = CResultRow();
    row->path = stable ? path.data() : arena.Store(path);
    row->opened = row->hasModified = found.opened;
    row->sizeKey = found.size;
    row->modified = found.modified;
    row->dev = found.dev;
    row->ino = found.ino;
    return true;
}

int CoreWorkers(int threads)
{
    return threads > 0 ? threads : std::clamp(int(std::thread::hardware_concurrency()), 1, 4);
}

int FillWorkers(int count, int threads)
{
    return count < 2 * kFillChunk ? 1 : CoreWorkers(threads);
}

std::vector<std::thread> StartChunkWorkers(int workers, const std::atomic<bool>& stop,
                                           const std::function<int(int first)>& available,
                                           const std::function<void(int worker, int first, int last)>& examine)
{
    auto next = std::make_shared<std::atomic<int>>(0);
    std::vector<std::thread> pool;
    for (int w = 0; w < workers; ++w) {
        pool.emplace_back([=, &stop] {
            BlockStopSignals();
            while (!Stopped(stop)) {
                const int first = (*next)++ * kFillChunk;
                const int last = available(first);
                if (last <= first)
                    return;
                examine(w, first, last);
            }
        });
    }
    return pool;
}

void SortBySize(std::vector<CResultRow>& rows)
{
    // Stable, so files of one size keep the listing's order. The order is
    // found on indexes and then applied in place.
    std::vector<uint32_t> order(rows.size());
    for (size_t i = 0; i < order.size(); ++i)
        order[i] = static_cast<uint32_t>(i);
    std::stable_sort(order.begin(), order.end(),
                     [&rows](uint32_t a, uint32_t b) { return rows[a].sizeKey > rows[b].sizeKey; });
    PermuteInPlace(rows, order);
}

bool AssignGroups(std::vector<CResultRow>& rows, const std::atomic<bool>& stop)
{
    if (rows.size() < 2)
        return true;
    // Groups follow the Size text: an unopened file (empty text) never joins a "0".
    int32_t group = 0;
    rows[0].group = 0;
    for (size_t i = 1; i < rows.size(); ++i) {
        if (Stopped(stop))
            return false;
        if (!SameSizeText(rows[i].opened, rows[i].sizeKey, rows[i - 1].opened, rows[i - 1].sizeKey))
            ++group;
        rows[i].group = group;
    }
    return true;
}

bool RunResultsFill(const CFillInput& input, CFillResult& result, const std::atomic<bool>& stop,
                    const std::function<void(const std::vector<CResultRow>& batch)>& onBatch, int threads,
                    ContentCheck::CProgress* contents)
{
    // Opening files dominates, so chunks of the input are examined in
    // parallel and put back in order as they complete.
    const int count = input.count();
    const int workers = FillWorkers(count, threads);
    const int chunks = (count + kFillChunk - 1) / kFillChunk;
    // Each row is made in its own slot, then the consumer closes up the
    // chunks in input order: no second copy of the rows is ever held.
    result.rows.assign(size_t(count), CResultRow());
    result.arenas = std::make_shared<std::vector<CTextArena>>(size_t(workers));

    std::vector<char> ready(static_cast<size_t>(chunks), 0);
    std::mutex lock;
    std::condition_variable readyChanged;
    std::vector<CFolderCache> folders(static_cast<size_t>(workers));
    const auto available = [count](int first) { return first < count ? std::min(count - first, kFillChunk) + first : first; };
    std::vector<std::thread> pool = StartChunkWorkers(workers, stop, available, [&](int worker, int first, int last) {
        for (int i = first; i < last && !Stopped(stop); ++i) {
            CResultRow& row = result.rows[size_t(i)];
            if (!MakeResultRow(input.at(i), (*result.arenas)[size_t(worker)], &row, input.stable, folders[size_t(worker)], stop))
                row = CResultRow();  // no path: nothing to list
        }
        {
            std::lock_guard<std::mutex> guard(lock);
            ready[size_t(first / kFillChunk)] = 1;
        }
        readyChanged.notify_all();
    });

    auto nextBatch = std::chrono::steady_clock::now();
    size_t handedOver = 0;
    size_t kept = 0;  // rows closed up so far; always at or before the chunk being taken
    auto take = [&](int c) {
        for (int i = c * kFillChunk; i < std::min(count, (c + 1) * kFillChunk); ++i) {
            if (result.rows[size_t(i)].path)
                result.rows[kept++] = result.rows[size_t(i)];
        }
    };
    int c = 0;
    for (; c < chunks; ++c) {
        {
            std::unique_lock<std::mutex> guard(lock);
            WaitUntil(readyChanged, guard, [&] { return ready[size_t(c)] || Stopped(stop); });
            if (!ready[size_t(c)])
                break;
        }
        take(c);
        if (onBatch && (std::chrono::steady_clock::now() >= nextBatch || c + 1 == chunks)) {
            onBatch(std::vector<CResultRow>(result.rows.begin() + std::ptrdiff_t(handedOver),
                                            result.rows.begin() + std::ptrdiff_t(kept)));
            handedOver = kept;
            nextBatch = std::chrono::steady_clock::now() + kBatchInterval;
        }
    }
    for (std::thread& t : pool)
        t.join();
    folders.clear();  // their descriptors are the content check's to use
    if (Stopped(stop)) {
        // What was examined before the stop is kept, in input order, however
        // the threads happened to be scheduled.
        for (; c < chunks && ready[size_t(c)]; ++c)
            take(c);
        result.rows.resize(kept);
        return false;
    }
    result.rows.resize(kept);
    SortBySize(result.rows);
    if (contents)
        return RemoveSingleSizes(result.rows, stop) && ContentCheck::Run(result.rows, stop, contents);
    return RemoveSingleSizes(result.rows, stop) && AssignGroups(result.rows, stop);
}

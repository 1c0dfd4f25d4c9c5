#pragma once

#include "PathArray.h"

#include <QString>

#include <sys/stat.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

// One row of the size groups: a listed file that still exists, with the
// length and last-write time read when the row was made.
struct CResultRow {
    const char* path = nullptr;  // native, NUL-terminated, in the fill's arena
    uint64_t sizeKey = 0;        // the length; 0 when the file could not be opened
    int64_t modified = 0;        // seconds since the epoch, when hasModified
    uint64_t dev = 0;            // the file's device and inode, when opened
    uint64_t ino = 0;
    int32_t group = 0;
    bool opened = false;         // false: Size and Last Modified stay empty
    bool hasModified = false;
    bool checked = false;
    uint8_t failure = 0;         // why the content check could not compare it (ContentCheck::EFailure)

    std::string_view Path() const { return path; }
    // A row's number (Sr) is its place in the list, counted from 1: it is not stored.
    std::string_view Name() const { return Path().substr(Path().rfind('/') + 1); }
    // The folder with its trailing slash ("/" for a file in the root).
    std::string_view FolderWithSlash() const { return Path().substr(0, Path().rfind('/') + 1); }
    QString SizeText() const { return opened ? QString::number(sizeKey) : QString(); }
    // strftime "%x %X" of the local time, in the C runtime's current locale.
    QString ModifiedText() const;
    // The same text as the C runtime's bytes.
    std::string ModifiedBytes() const;
};

// The input of a fill: a count and the native path of each entry.
struct CFillInput {
    std::function<int()> count;
    std::function<std::string_view(int)> at;
    // The texts at() gives are NUL-terminated and outlive every row made from
    // them (a listing's path array): rows then point at them instead of copying.
    bool stable = false;
};

// Opens a listed file by its path however long it is (folders below the
// kernel's path limit one at a time, links not followed); -1 with errno.
int OpenListedFile(std::string_view path, int flags);
// An error that says nothing of the file: the process or the system had no
// descriptor left, and another thread's close may soon give one back.
bool OutOfDescriptors(int error);
// A short pause for descriptors to be released; false when stop was raised.
bool WaitForDescriptor(const std::atomic<bool>& stop);
// OpenListedFile, waiting while out of descriptors until one is released;
// -1 with EMFILE only once stop is raised.
int OpenListedFileWaiting(std::string_view path, int flags, const std::atomic<bool>& stop);

// The folder of the last file examined, kept open so the next file of the
// same folder is looked up by its name alone. One per thread.
class CFolderCache {
public:
    CFolderCache() = default;
    CFolderCache(const CFolderCache&) = delete;
    CFolderCache& operator=(const CFolderCache&) = delete;
    ~CFolderCache();
    // 0 with the item's own stat, and whether a regular file may be read; -1 with errno.
    int StatReadable(std::string_view path, struct stat* st, bool* readable);

private:
    // The descriptor of path's folder (its name then in m_name), or -1.
    int FolderOf(std::string_view path);

    std::string m_folder;
    std::string m_name;
    int m_fd = -1;
};

// What examining a listed file found; the rest is set only when opened.
struct CExamined {
    bool opened = false;  // a regular file that may be read
    bool outOfDescriptors = false;  // not looked at: the process had no descriptor left
    uint64_t size = 0;
    int64_t modified = 0;
    uint64_t dev = 0;
    uint64_t ino = 0;
};
// false when path names nothing any more. Never follows a symbolic link
// and never blocks on a pipe or device.
bool ExamineListedFile(std::string_view path, CFolderCache& folders, CExamined* found);

// Examines one path: false when it names nothing (no row); otherwise a row,
// with opened false when the file could not be opened. Out of descriptors,
// it waits for one; false when stopped before the file was looked at.
bool MakeResultRow(std::string_view path, CTextArena& arena, CResultRow* row, bool stable, CFolderCache& folders,
                   const std::atomic<bool>& stop);

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

// Hands items out in chunks of kFillChunk to workers threads, each calling
// examine(worker, first, last) per chunk until stop is set. available(first)
// is the end of the items that may be examined from first on, at most a
// chunk's worth (it may wait for more to come); at or before first, there
// are no more. The caller joins the threads.
std::vector<std::thread> StartChunkWorkers(int workers, const std::atomic<bool>& stop,
                                           const std::function<int(int first)>& available,
                                           const std::function<void(int worker, int first, int last)>& examine);

// Puts items[order[k]] at place k for every k, in place, so a million rows
// need no second copy of themselves; order, a permutation of the places, is
// used up.
template <class T>
void PermuteInPlace(std::vector<T>& items, std::vector<uint32_t>& order)
{
    // Each cycle is followed once and its places marked done.
    constexpr uint32_t kDone = UINT32_MAX;
    for (size_t i = 0; i < order.size(); ++i) {
        if (order[i] == kDone || order[i] == i) {
            order[i] = kDone;
            continue;
        }
        T first = items[i];
        size_t at = i;
        while (order[at] != i) {
            const size_t from = order[at];
            items[at] = items[from];
            order[at] = kDone;
            at = from;
        }
        items[at] = first;
        order[at] = kDone;
    }
}

// The fill's stages, each ending early (false) once stop is set.
void SortBySize(std::vector<CResultRow>& rows);
// Drops the rows whose sizeKey no neighbour shares (rows sorted by it).
template <class Row>
bool RemoveSingleSizes(std::vector<Row>& rows, const std::atomic<bool>& stop)
{
    size_t kept = 0;
    for (size_t first = 0; first < rows.size();) {
        if (stop.load(std::memory_order_relaxed))
            return false;
        size_t last = first + 1;
        while (last < rows.size() && rows[last].sizeKey == rows[first].sizeKey)
            ++last;
        for (size_t i = first; last - first > 1 && i < last; ++i)
            rows[kept++] = rows[i];
        first = last;
    }
    rows.resize(kept);
    return true;
}
bool AssignGroups(std::vector<CResultRow>& rows, const std::atomic<bool>& stop);
// Rows that follow each other in one group show the same Size text: an
// unopened file (empty text) never joins a "0".
inline bool SameSizeText(bool openedA, uint64_t sizeA, bool openedB, uint64_t sizeB)
{
    return openedA == openedB && (!openedA || sizeA == sizeB);
}

// The whole fill: collect (handing each new batch of rows to onBatch as they
// are made), sort largest first, drop sizes only one file has, and
// group. Returns true when it ran to the end.
// Files are examined by several threads at once (threads 0: one per core, at
// most four); rows still come out in input order.
struct CFillResult {
    std::shared_ptr<std::vector<CTextArena>> arenas;  // where the rows' paths live
    std::vector<CResultRow> rows;
};
// With contents, the size groups are then split into groups of byte-identical
// files (ContentCheck::Run), reporting its progress there.
namespace ContentCheck {
struct CProgress;
}
bool RunResultsFill(const CFillInput& input, CFillResult& result, const std::atomic<bool>& stop,
                    const std::function<void(const std::vector<CResultRow>& batch)>& onBatch = {}, int threads = 0,
                    ContentCheck::CProgress* contents = nullptr);

#pragma once

#include "FileOpening.h"
#include "PathArray.h"
#include "ResultRow.h"

#include <atomic>
#include <functional>
#include <memory>
#include <string_view>
#include <vector>

// The first stages of the duplicate search: every listed file examined, then
// grouped by size. What survives is the rows of the size groups; the content
// check (content/) is the stage that may come next, over those rows.

// The input of a fill: a count and the native path of each entry.
struct CFillInput {
    std::function<int()> count;
    std::function<std::string_view(int)> at;
    // The texts at() gives are NUL-terminated and outlive every row made from
    // them (a listing's path array): rows then point at them instead of copying.
    bool stable = false;
};

// What examining a listed file found; the rest is set only when opened.
struct CExamined {
    bool opened = false;  // a regular file that may be read
    bool outOfDescriptors = false;  // not looked at: the process had no descriptor left
    uint64_t size = 0;
    int64_t modified = 0;
    uint64_t dev = 0;
    uint64_t ino = 0;
    int64_t mtimeNs = 0;  // the times to the nanosecond, which say whether it changed since a scan
    int64_t ctimeNs = 0;
};
// false when path names nothing any more. Never follows a symbolic link
// and never blocks on a pipe or device.
bool ExamineListedFile(std::string_view path, CFolderCache& folders, CExamined* found);

// Examines one path: false when it names nothing (no row); otherwise a row,
// with opened false when the file could not be opened. Out of descriptors,
// it waits for one; false when stopped before the file was looked at.
bool MakeResultRow(std::string_view path, CTextArena& arena, CResultRow* row, bool stable, CFolderCache& folders,
                   const std::atomic<bool>& stop, CExamined* examined = nullptr);

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

// The whole fill: collect (handing each new batch of rows to onBatch as they
// are made), sort largest first, drop sizes only one file has, and group.
// Returns true when it ran to the end, leaving only files that share their
// size with another. Files are examined by several threads at once (threads
// 0: one per core, at most four); rows still come out in input order.
struct CFillResult {
    std::shared_ptr<std::vector<CTextArena>> arenas;  // where the rows' paths live
    std::vector<CResultRow> rows;
};
// seen, if set, is told on the examining threads of each opened file's row and what was found.
using CRowWatch = std::function<void(const CResultRow& row, const CExamined& found)>;
bool RunResultsFill(const CFillInput& input, CFillResult& result, const std::atomic<bool>& stop,
                    const std::function<void(const std::vector<CResultRow>& batch)>& onBatch = {}, int threads = 0,
                    const CRowWatch& seen = {});

#pragma once

#include "ContentCheck.h"
#include "ResultsFill.h"

#include <atomic>
#include <cstdint>
#include <string>
#include <vector>

// Whole copied folders: two folders are copies when they hold the same names (files and sub-folders,
// all the way down) and every file is byte-identical to its counterpart.
namespace FolderGroups {

// What a listing met besides its files: the folders it entered (the listed folder first) and those it
// could not read. Skipped folders and files are not there, so they take no part.
struct CTree {
    std::vector<std::string> folders;
    std::vector<std::string> unread;
};

struct CFolderRow {
    std::string path;
    uint64_t bytes = 0;  // every file below it
    uint64_t files = 0;
    int32_t group = 0;   // from 0, the group with the most bytes first
};

// Compares the listed files' contents (size groups, then the content check) and groups the folders.
// Only the largest copies are reported: sub-folders matched through their parents are not listed
// again. A folder holding no file, or anything that could not be read, is never a copy. Rows come
// group by group, each group's rows in path order. False, with nothing in rows, when stopped.
bool Find(const CFillInput& files, const CTree& tree, const std::atomic<bool>& stop, ContentCheck::CProgress* progress,
          std::vector<CFolderRow>* rows);

// The folders as result rows, for the window's list, its checks and its trash: each row names the
// folder (its size the bytes below it, its time and identity the folder's own, looked at now).
// A folder gone since leaves its row without a size, so it is never acted on.
CFillResult ToRows(const std::vector<CFolderRow>& folders);

}  // namespace FolderGroups

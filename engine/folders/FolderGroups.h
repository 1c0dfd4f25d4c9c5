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

// What a listing met besides its files, told in the walk's order: the folders it entered (the listed
// folder first) and could not read, each kept as its name under its parent, so memory grows with the
// names and not with the square of the depth; and the folder of each listed file. Skipped folders and
// files are not there, so they take no part.
class CTree {
public:
    static constexpr uint32_t kNone = UINT32_MAX;
    struct CFolder {
        uint32_t parent;   // kNone for the listed folder, whose name is its whole path
        std::string name;
        bool unread;
    };
    void Enter(std::string_view folder) { Add(folder, false); }
    // Another listed folder follows: none of the last one's folders is its parent.
    void NewListing() { m_chain.clear(); }
    void NotRead(std::string_view folder) { Add(folder, true); }
    // The next listed file; its folder was entered before it.
    void AddFile(std::string_view path);
    // An entry that is neither file nor folder, as the walk's OnOtherEntry tells it: it counts as one
    // of its folder's names, equal only to an entry of the same name and what.
    void AddOther(std::string_view path, std::string_view what);
    struct COther {
        uint32_t folder;
        std::string name;
        std::string what;
    };
    const std::vector<COther>& Others() const { return m_others; }
    const std::vector<CFolder>& Folders() const { return m_folders; }
    // Per listed file, in listing order, its folder's index.
    const std::vector<uint32_t>& FileFolders() const { return m_fileFolder; }
    std::string PathOf(uint32_t folder) const;

private:
    void Add(std::string_view folder, bool unread);
    // The entered folders from the listed one down to the walk's place, with their path lengths.
    uint32_t Climb(size_t length);
    std::vector<std::pair<size_t, uint32_t>> m_chain;
    std::vector<CFolder> m_folders;
    std::vector<uint32_t> m_fileFolder;
    std::vector<COther> m_others;
};

struct CFolderRow {
    std::string path;
    uint64_t bytes = 0;  // every file below it
    uint64_t files = 0;
    int32_t group = 0;   // from 0, the group with the most bytes first
};

// Groups the folders, given checked: the listed files' rows after the content check (files are the
// listing's files, in the order tree was told of them).
// Only the largest copies are reported: sub-folders matched through their parents are not listed
// again. A folder holding no file, or anything that could not be read, is never a copy; links, pipes,
// sockets and devices count as names, a link by its target, a device by its number. Rows come
// group by group, each group's rows in path order. False, with nothing in rows, when stopped.
bool Group(const CFillInput& files, const CTree& tree, const std::vector<CResultRow>& checked,
           const std::atomic<bool>& stop, std::vector<CFolderRow>* rows);

// The folders as result rows, for the window's list, its checks and its trash: each row names the
// folder (its size the bytes below it, its time and identity the folder's own, looked at now).
// A folder gone since leaves its row without a size, so it is never acted on.
CFillResult ToRows(const std::vector<CFolderRow>& folders);

}  // namespace FolderGroups

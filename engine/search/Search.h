#pragma once

#include "ContentCheck.h"
#include "FolderGroups.h"
#include "ResultsFill.h"

#include <QStringList>

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

class CDigestCache;

// The duplicate search after the listing, one chain for every front end:
// size groups, then (with contents) the content check, then (with a folder
// tree) the copied folders. Each stage counts what survives it.
namespace Search {

struct CStage {
    const char* name = "";   // "listed", "sharing a size", "identical", "copied folders"
    const char* unit = "files";
    uint64_t count = 0;      // files, or folders for the copied folders
    uint64_t groups = 0;
    uint64_t bytesRead = 0;  // only the content check reads
    bool reads = false;
    uint64_t settled = 0;    // files the digest cache proved different unread
    bool cached = false;     // the content check had the cache
    double seconds = -1;     // unknown when negative
};

// One line per stage, as --stats prints them and the results window's details show them:
// "sharing a size 120345 files in 13243 groups (0.41 s)".
QString StageLine(const CStage& stage);
QStringList StageLines(const std::vector<CStage>& stages);
// The listing's own stage, for the front end that listed.
CStage Listed(uint64_t files, double seconds = -1);

struct CRequest {
    CFillInput files;                                // the listing, in its order
    bool contents = false;                           // compare contents after the sizes
    const FolderGroups::CTree* folders = nullptr;    // set: copied folders (contents always compared)
    ContentCheck::CProgress* progress = nullptr;     // the bytes to compare and compared
    bool useCache = true;                            // the digest cache spares reads of files it proves different
    CDigestCache* cache = nullptr;                   // set: the caller's, loaded (and noted in); saved here
    // Size rows as they are made, with what keeps their paths alive.
    std::function<void(const std::vector<CResultRow>&, const std::shared_ptr<const void>&)> onSizeBatch;
};

struct CResult {
    bool sized = false;      // the size stage ended
    bool completed = false;  // every stage asked for ended
    CFillResult rows;        // the last file stage's rows
    std::vector<FolderGroups::CFolderRow> folderRows;
    std::vector<CStage> stages;
};

// Runs the chain; every stage ends early through stop, and what ended is said by sized and completed.
CResult Run(const CRequest& request, const std::atomic<bool>& stop);
// The same from rows a front end grouped by size itself (they point into the listing's paths):
// the stages after the sizes. sizeStage is that grouping's stage.
CResult RunFromSizes(const CRequest& request, std::vector<CResultRow> sized, const CStage& sizeStage,
                     const std::atomic<bool>& stop);

// Groups of adjacent rows with one group number.
uint64_t GroupCount(const std::vector<CResultRow>& rows);

}  // namespace Search

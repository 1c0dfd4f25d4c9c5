#include "Search.h"

#include "DigestCache.h"
#include "HeadPrefetch.h"

#include <chrono>

namespace Search {
namespace {

class CClock {
public:
    double Seconds() const { return std::chrono::duration<double>(std::chrono::steady_clock::now() - m_start).count(); }

private:
    std::chrono::steady_clock::time_point m_start = std::chrono::steady_clock::now();
};

// Content check, then copied folders, over rows that passed the sizes.
void RunAfterSizes(const CRequest& request, CResult& result, const std::atomic<bool>& stop)
{
    if (!request.contents && !request.folders) {
        result.completed = true;
        return;
    }
    CClock clock;
    ContentCheck::CProgress ownProgress;
    ContentCheck::CProgress* progress = request.progress ? request.progress : &ownProgress;
    const uint64_t readBefore = progress->read.load();
    const uint64_t settledBefore = progress->settled.load();
    std::unique_ptr<CDigestCache> ownCache;
    CDigestCache* cache = request.useCache ? request.cache : nullptr;
    if (request.useCache && !cache) {
        ownCache = std::make_unique<CDigestCache>();
        ownCache->Load();
        cache = ownCache.get();
    }
    const bool checked = ContentCheck::Run(result.rows.rows, stop, progress, 0, false, cache);
    if (cache)
        cache->Save();  // what was learned holds even when stopped
    if (!checked)
        return;
    CStage identical{"identical", "files", result.rows.rows.size(), GroupCount(result.rows.rows)};
    identical.bytesRead = progress->read.load() - readBefore;
    identical.reads = true;
    identical.settled = progress->settled.load() - settledBefore;
    identical.cached = cache != nullptr;
    identical.seconds = clock.Seconds();
    result.stages.push_back(identical);
    if (!request.folders) {
        result.completed = true;
        return;
    }
    CClock folderClock;
    if (!FolderGroups::Group(request.files, *request.folders, result.rows.rows, stop, &result.folderRows))
        return;
    uint64_t groups = 0;
    for (const FolderGroups::CFolderRow& row : result.folderRows)
        groups = std::max(groups, uint64_t(row.group) + 1);
    CStage copied{"copied folders", "folders", result.folderRows.size(), groups};
    copied.seconds = folderClock.Seconds();
    result.stages.push_back(copied);
    result.completed = true;
}

}  // namespace

uint64_t GroupCount(const std::vector<CResultRow>& rows)
{
    uint64_t groups = 0;
    for (size_t i = 0; i < rows.size(); ++i)
        groups += i == 0 || rows[i].group != rows[i - 1].group ? 1 : 0;
    return groups;
}

QString StageLine(const CStage& stage)
{
    QString line = QStringLiteral("%1 %2 %3").arg(QLatin1String(stage.name)).arg(stage.count).arg(QLatin1String(stage.unit));
    if (stage.groups || std::string_view(stage.name) != "listed")
        line += QStringLiteral(" in %1 groups").arg(stage.groups);
    if (stage.reads)
        line += QStringLiteral(", %1 bytes read").arg(stage.bytesRead);
    if (stage.cached)
        line += QStringLiteral(", %1 files settled by the cache").arg(stage.settled);
    if (stage.seconds >= 0)
        line += QStringLiteral(" (%1 s)").arg(stage.seconds, 0, 'f', 2);
    return line;
}

QStringList StageLines(const std::vector<CStage>& stages)
{
    QStringList lines;
    for (const CStage& stage : stages)
        lines << StageLine(stage);
    return lines;
}

CStage Listed(uint64_t files, double seconds)
{
    CStage stage;
    stage.name = "listed";
    stage.count = files;
    stage.seconds = seconds;
    return stage;
}

CResult Run(const CRequest& request, const std::atomic<bool>& stop)
{
    CResult result;
    CClock clock;
    std::function<void(const std::vector<CResultRow>&)> onBatch;
    if (request.onSizeBatch) {
        onBatch = [&request, &result](const std::vector<CResultRow>& batch) {
            request.onSizeBatch(batch, std::shared_ptr<const void>(result.rows.arenas));
        };
    }
    // Before contents are compared, the fill's own stats note the files the cache knows, and what
    // the check will read first is asked of the disk while the fill still examines.
    CRequest checked = request;
    std::unique_ptr<CDigestCache> cache;
    CHeadPrefetch prefetch;
    CRowWatch seen;
    if ((request.contents || request.folders) && request.files.count() > 0) {
        if (request.useCache && !request.cache) {
            cache = std::make_unique<CDigestCache>();
            cache->Load();
            cache->ExpectNotes();
            checked.cache = cache.get();
        }
        prefetch.Start(QByteArray(request.files.at(0).data(), int(request.files.at(0).size())));
        seen = [&prefetch, &checked](const CResultRow& row, const CExamined& found) {
            prefetch.OfferExamined(row.path, found, checked.useCache ? checked.cache : nullptr);
        };
    }
    const bool filled = RunResultsFill(request.files, result.rows, stop, onBatch, 0, seen);
    prefetch.Finish();
    if (!filled)
        return result;
    result.sized = true;
    CStage sizes{"sharing a size", "files", result.rows.rows.size(), GroupCount(result.rows.rows)};
    sizes.seconds = clock.Seconds();
    result.stages.push_back(sizes);
    RunAfterSizes(checked, result, stop);
    return result;
}

CResult RunFromSizes(const CRequest& request, std::vector<CResultRow> sized, const CStage& sizeStage,
                     const std::atomic<bool>& stop)
{
    CResult result;
    result.sized = true;
    result.rows.rows = std::move(sized);
    result.stages.push_back(sizeStage);
    RunAfterSizes(request, result, stop);
    return result;
}

}  // namespace Search

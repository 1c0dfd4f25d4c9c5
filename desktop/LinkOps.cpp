#include "LinkOps.h"

#include "BatchRun.h"
#include "Link.h"
#include "OptionsStore.h"
#include "PathArray.h"
#include "TrashBatch.h"

#include <atomic>

namespace LinkOps {

CReport Run(QWidget* parent, const std::vector<CItem>& items, bool allowHard)
{
    CReport report;
    std::vector<Link::CResult> outcomes(items.size());
    std::vector<char> reached(items.size(), 0);
    TrashBatch::CRecorder record;
    // The worker alone touches outcomes, reached and record until RunBatch returns.
    report.stopped = RunBatch(parent, QStringLiteral("Replacing checked files with links…"), items.size(),
                              [&](const std::atomic<bool>& stop, std::atomic<size_t>& done) {
        // Each path resolved once, as the batch starts, and checked to be what was listed.
        std::vector<Link::CRequest> requests(items.size());
        std::vector<int> unresolved(items.size());
        for (size_t i = 0; i < items.size(); ++i) {
            unresolved[i] = ResolveEntry(items[i].keep, items[i].keepId, &requests[i].keep);
            if (!unresolved[i])
                unresolved[i] = ResolveEntry(items[i].copy, items[i].copyId, &requests[i].copy);
        }
        for (size_t i = 0; i < items.size() && !stop; ++i, ++done) {
            reached[i] = 1;
            if (unresolved[i]) {
                outcomes[i] = Link::CResult::Refused(Link::ERefusal::kChanged, EntryErrorText(unresolved[i]));
                continue;
            }
            outcomes[i] = Link::Replace(requests[i], Link::EKind::kClone, stop, nullptr);
            if (allowHard && outcomes[i].refusal == Link::ERefusal::kCannotClone)
                outcomes[i] = Link::Replace(requests[i], Link::EKind::kHard, stop, &record);
        }
    });

    for (size_t i = 0; i < items.size(); ++i) {
        const Link::CResult& o = outcomes[i];
        const QString name = EscapePath(std::string_view(items[i].copy.constData(), size_t(items[i].copy.size())));
        if (o.Linked()) {
            const bool hard = !o.trashed.name.isEmpty();
            ++report.linked;
            report.hardLinked += hard ? 1 : 0;
            report.freed += o.size;
            report.freedLater += hard ? o.size : 0;
        } else if (reached[i]) {
            report.refused << QStringLiteral("%1: %2").arg(name, o.Reason());
        }
    }
    if (!record.Finish(&report.recordError) && report.recordError.isEmpty())
        report.recordError = QStringLiteral("unknown error");
    return report;
}

CProtectedFolders ReadProtected()
{
    return CProtectedFolders::FromStored(COptionsStore().ReadBytes(QLatin1String(Opt::ProtectedFolders)));
}

bool WriteProtected(const CProtectedFolders& folders)
{
    if (!COptionsStore().WriteBytes(QLatin1String(Opt::ProtectedFolders), folders.Stored()).IsDone())
        return false;
    emit ProtectedNotice().Changed();
    return true;
}

CProtectedNotice& ProtectedNotice()
{
    static CProtectedNotice notice;
    return notice;
}

QString ProtectedTip(const CProtectedFolders& folders, std::string_view path, bool holding)
{
    if (folders.Empty())
        return {};
    const char* why = folders.Contains(path)            ? "a protected folder"
                      : folders.Covers(path)            ? "in a protected folder"
                      : holding && folders.Guards(path) ? "holds a protected folder"
                                                        : nullptr;
    if (!why)
        return {};
    return QStringLiteral("Protected: %1. The helpers never check it, and trashing or linking it asks first.")
        .arg(QLatin1String(why));
}

}  // namespace LinkOps

#include "LinkOps.h"

#include "Link.h"
#include "OptionsStore.h"
#include "PathArray.h"
#include "TrashBatch.h"

#include <QEventLoop>
#include <QProgressDialog>
#include <QTimer>

#include <atomic>
#include <thread>

namespace LinkOps {

CReport Run(QWidget* parent, const std::vector<CItem>& items, bool allowHard)
{
    CReport report;
    std::atomic<bool> stop{false};
    std::atomic<size_t> done{0};
    std::atomic<bool> finished{false};
    std::vector<Link::COutcome> outcomes(items.size());
    TrashBatch::CRecorder record;
    // The worker alone touches outcomes and record until finished is raised.
    std::thread worker([&] {
        // Each path resolved once, as the batch starts, and checked to be what was listed.
        std::vector<Link::CRequest> requests(items.size());
        std::vector<int> unresolved(items.size());
        for (size_t i = 0; i < items.size(); ++i) {
            unresolved[i] = ResolveEntry(items[i].keep, items[i].keepId, &requests[i].keep);
            if (!unresolved[i])
                unresolved[i] = ResolveEntry(items[i].copy, items[i].copyId, &requests[i].copy);
        }
        for (size_t i = 0; i < items.size() && !stop; ++i, ++done) {
            const Link::CRequest& request = requests[i];
            if (unresolved[i]) {
                outcomes[i].refusal = Link::ERefusal::kChanged;
                outcomes[i].reason = EntryErrorText(unresolved[i]);
                continue;
            }
            outcomes[i] = Link::Replace(request, Link::EKind::kClone, stop, nullptr);
            if (allowHard && outcomes[i].refusal == Link::ERefusal::kCannotClone)
                outcomes[i] = Link::Replace(request, Link::EKind::kHard, stop, &record);
        }
        finished = true;
    });
    QProgressDialog progress(QStringLiteral("Replacing checked files with links…"), QStringLiteral("Stop"), 0,
                             int(items.size()), parent);
    progress.setWindowModality(Qt::WindowModal);
    progress.setMinimumDuration(300);
    QEventLoop loop;
    QTimer tick;
    QObject::connect(&tick, &QTimer::timeout, &loop, [&] {
        progress.setValue(int(done.load()));
        if (progress.wasCanceled())
            stop = true;
        if (finished)
            loop.quit();
    });
    tick.start(30);
    loop.exec();
    worker.join();
    progress.reset();

    report.stopped = stop;
    for (size_t i = 0; i < items.size(); ++i) {
        const Link::COutcome& o = outcomes[i];
        const QString name = EscapePath(std::string_view(items[i].copy.constData(), size_t(items[i].copy.size())));
        if (o.Linked()) {
            ++report.linked;
            report.hardLinked += o.trashed.name.isEmpty() ? 0 : 1;
            report.freed += o.size;
        } else if (i < done) {
            report.refused << QStringLiteral("%1: %2").arg(name, o.reason);
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
    if (!COptionsStore().WriteBytes(QLatin1String(Opt::ProtectedFolders), folders.Stored()))
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

#include "TrashCommands.h"

#include "Link.h"
#include "StopSignals.h"
#include "Trash.h"
#include "TrashBatch.h"

#include <atomic>
#include <csignal>

#include <unistd.h>

namespace TrashCommands {
namespace {

// arg made absolute against the working folder (looked up once); empty when that cannot be found.
QByteArray Absolute(const char* arg, QByteArray* cwd)
{
    const QByteArray path(arg);
    if (path.startsWith('/'))
        return path;
    if (cwd->isEmpty()) {
        char* here = getcwd(nullptr, 0);
        *cwd = here ? QByteArray(here) : QByteArray();
        free(here);
    }
    return cwd->isEmpty() ? QByteArray() : (*cwd == "/" ? QByteArray() : *cwd) + "/" + path;
}

int FinishRecord(TrashBatch::CRecorder& record, COutput& out)
{
    QString error;
    if (record.Finish(&error))
        return 0;
    out.Write(QStringLiteral("the batch record could not be completed, so Undo may miss items: %1\n").arg(error));
    return 1;
}

std::atomic<bool> g_stop{false};

void OnStop(int)
{
    g_stop = true;
}

}  // namespace

int Trash(const std::vector<const char*>& paths, COutput& out)
{
    TrashBatch::CRecorder record;
    int failures = 0;
    QByteArray cwd;
    for (const char* arg : paths) {
        const QByteArray path = Absolute(arg, &cwd);
        if (path.isEmpty()) {
            out.Write(QStringLiteral("not trashed: %1: the working directory cannot be found\n").arg(EscapePath(arg)));
            ++failures;
            continue;
        }
        QString error;
        CTrashedItem placed;
        if (MoveToTrash(path, &error, ReadIdentity(path), &placed, &record)) {
            out.Write(QStringLiteral("trashed: %1\n").arg(EscapePath(placed.original.toStdString())));
        } else {
            out.Write(QStringLiteral("not trashed: %1: %2\n").arg(EscapePath(arg), error));
            ++failures;
        }
        // Each line as it happens: an interrupted batch has said what it moved.
        out.Flush();
    }
    failures += FinishRecord(record, out);
    return failures ? 1 : 0;
}

int Link(bool hard, const std::vector<const char*>& paths, COutput& out)
{
    // Ctrl-C ends the batch between files (or inside a long compare), with what was done said.
    HandleStopSignals(OnStop);
    TrashBatch::CRecorder record;
    QByteArray cwd;
    const QByteArray keep = Absolute(paths.front(), &cwd);
    const CFileIdentity keepId = ReadIdentity(keep);
    int failures = 0, linked = 0;
    for (size_t i = 1; i < paths.size(); ++i) {
        const char* arg = paths[i];
        const QByteArray path = Absolute(arg, &cwd);
        Link::COutcome o;
        if (keep.isEmpty() || path.isEmpty()) {
            o.reason = QStringLiteral("the working directory cannot be found");
        } else if (g_stop) {
            o.reason = QStringLiteral("stopped");
        } else {
            o = Link::Replace({keep, path, keepId, {}}, hard ? Link::EKind::kHard : Link::EKind::kClone, g_stop, &record);
            if (o.refusal == Link::ERefusal::kCannotClone)
                o.reason += QStringLiteral("; --link-kind=hard makes a hard link instead");
        }
        if (o.Linked()) {
            out.Write(QStringLiteral("linked: %1\n").arg(EscapePath(arg)));
            ++linked;
        } else {
            out.Write(QStringLiteral("not linked: %1: %2\n").arg(EscapePath(arg), o.reason));
            ++failures;
        }
        out.Flush();
    }
    if (hard && linked)
        out.Write(QStringLiteral("note: hard-linked names share one owner, set of permissions and times; "
                                 "--restore-last puts the copies back\n"));
    failures += FinishRecord(record, out);
    return failures ? 1 : 0;
}

int RestoreLast(COutput& out)
{
    const TrashBatch::CRestoreResult result = TrashBatch::RestoreLast();
    const std::vector<TrashBatch::CRestoreOutcome>& outcomes = result.outcomes;
    if (outcomes.empty() && result.recordError.isEmpty()) {
        out.Write(QStringLiteral("nothing to restore\n"));
        return 0;
    }
    int failures = result.recordError.isEmpty() ? 0 : 1;
    for (const TrashBatch::CRestoreOutcome& o : outcomes) {
        const QString name = EscapePath(o.original.toStdString());
        out.Write(o.restored ? QStringLiteral("restored: %1\n").arg(name)
                             : QStringLiteral("not restored: %1: %2\n").arg(name, o.reason));
        failures += o.restored ? 0 : 1;
    }
    if (!result.recordError.isEmpty())
        out.Write(QStringLiteral("%1: %2\n").arg(outcomes.empty() ? QStringLiteral("nothing restored") : QStringLiteral("note"), result.recordError));
    return failures ? 1 : 0;
}

}  // namespace TrashCommands

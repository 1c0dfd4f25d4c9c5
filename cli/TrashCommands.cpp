#include "TrashCommands.h"

#include "Entry.h"
#include "Link.h"
#include "OptionsStore.h"
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
    return cwd->isEmpty() ? QByteArray() : JoinNative(*cwd, path);
}

// Each argument resolved once, as the command starts: the folder part's links are followed then,
// never again; every step after goes through the resolved folders, checked to be the same.
struct CArgument {
    const char* arg = nullptr;
    QByteArray absolute;
    CEntry entry;
    QString error;  // why it cannot be acted on
};

std::vector<CArgument> Resolve(const std::vector<const char*>& args, const CGuard& guard, bool holding)
{
    CProtectedFolders folders = CProtectedFolders::FromStored(COptionsStore().ReadBytes(QLatin1String(Opt::ProtectedFolders)));
    for (const QByteArray& extra : guard.protect) {
        if (!folders.Contains(extra.toStdString()))
            folders.Toggle(extra.toStdString());
    }
    std::vector<CArgument> resolved(args.size());
    QByteArray cwd;
    for (size_t i = 0; i < args.size(); ++i) {
        CArgument& a = resolved[i];
        a.arg = args[i];
        a.absolute = Absolute(args[i], &cwd);
        if (a.absolute.isEmpty()) {
            a.error = QStringLiteral("the working directory cannot be found");
            continue;
        }
        if (const int err = ResolveEntry(a.absolute, &a.entry)) {
            a.error = err == EISDIR ? QStringLiteral("this folder cannot be moved") : EntryErrorText(err);
            continue;
        }
        const QByteArray path = a.entry.Path();
        const auto guarded = [&](const QByteArray& p) {
            const std::string_view view(p.constData(), size_t(p.size()));
            return holding ? folders.Guards(view) : folders.Covers(view);
        };
        if (!guard.allowProtected && i >= guard.firstGuarded && (guarded(path) || guarded(a.absolute)))
            a.error = holding && !folders.Covers(std::string_view(path.constData(), size_t(path.size())))
                          ? QStringLiteral("it is or holds a protected folder (--allow-protected acts anyway)")
                          : QStringLiteral("it is in a protected folder (--allow-protected acts anyway)");
    }
    return resolved;
}

QString Named(const CEntry& entry)
{
    const QByteArray path = entry.Path();
    return EscapePath(std::string_view(path.constData(), size_t(path.size())));
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

int Trash(const std::vector<const char*>& paths, const CGuard& guard, COutput& out)
{
    TrashBatch::CRecorder record;
    int failures = 0;
    for (const CArgument& a : Resolve(paths, guard, true)) {
        CTrashedItem placed;
        const COutcome outcome = a.error.isEmpty() ? MoveEntryToTrash(a.entry, &placed, &record) : COutcome::Refused(a.error);
        if (outcome.IsDone()) {
            out.Write(QStringLiteral("trashed: %1\n").arg(EscapePath(placed.original.toStdString())));
        } else {
            out.Write(QStringLiteral("not trashed: %1: %2\n").arg(EscapePath(a.arg), outcome.Text()));
            ++failures;
        }
        // Each line as it happens: an interrupted batch has said what it moved.
        out.Flush();
    }
    failures += FinishRecord(record, out);
    return failures ? 1 : 0;
}

int Link(bool hard, const std::vector<const char*>& paths, const CGuard& guard, COutput& out)
{
    // Ctrl-C ends the batch between files (or inside a long compare), with what was done said.
    HandleStopSignals(OnStop);
    TrashBatch::CRecorder record;
    CGuard copies = guard;
    copies.firstGuarded = 1;  // the kept file is only read
    const std::vector<CArgument> resolved = Resolve(paths, copies, false);
    const CArgument& keep = resolved.front();
    int failures = 0, linked = 0;
    for (size_t i = 1; i < resolved.size(); ++i) {
        const CArgument& a = resolved[i];
        Link::CResult o;
        QString hint;
        if (!keep.error.isEmpty()) {
            o = Link::CResult::Refused(Link::ERefusal::kOther, QStringLiteral("the kept file: ") + keep.error);
        } else if (!a.error.isEmpty()) {
            o = Link::CResult::Refused(Link::ERefusal::kOther, a.error);
        } else if (g_stop) {
            o = Link::CResult::Refused(Link::ERefusal::kStopped, QStringLiteral("stopped"));
        } else {
            o = Link::Replace({keep.entry, a.entry}, hard ? Link::EKind::kHard : Link::EKind::kClone, g_stop, &record);
            if (o.refusal == Link::ERefusal::kCannotClone)
                hint = QStringLiteral("; --link-kind=hard makes a hard link instead");
        }
        if (o.Linked()) {
            out.Write(QStringLiteral("linked: %1\n").arg(Named(a.entry)));
            ++linked;
        } else {
            out.Write(QStringLiteral("not linked: %1: %2%3\n").arg(EscapePath(a.arg), o.Reason(), hint));
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
        out.Write(o.Restored() ? QStringLiteral("restored: %1\n").arg(name)
                             : QStringLiteral("not restored: %1: %2\n").arg(name, o.Reason()));
        failures += o.Restored() ? 0 : 1;
    }
    if (!result.recordError.isEmpty())
        out.Write(QStringLiteral("%1: %2\n").arg(outcomes.empty() ? QStringLiteral("nothing restored") : QStringLiteral("note"), result.recordError));
    return failures ? 1 : 0;
}

}  // namespace TrashCommands

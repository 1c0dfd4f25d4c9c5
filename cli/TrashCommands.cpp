#include "TrashCommands.h"

#include "Trash.h"
#include "TrashBatch.h"

#include <unistd.h>

namespace TrashCommands {

int Trash(const std::vector<const char*>& paths, COutput& out)
{
    TrashBatch::CRecorder record;
    int failures = 0;
    QByteArray cwd;
    for (const char* arg : paths) {
        QByteArray path(arg);
        if (!path.startsWith('/')) {
            if (cwd.isEmpty()) {
                char* here = getcwd(nullptr, 0);
                cwd = here ? QByteArray(here) : QByteArray();
                free(here);
            }
            if (cwd.isEmpty()) {
                out.Write(QStringLiteral("not trashed: %1: the working directory cannot be found\n")
                              .arg(EscapePath(arg)));
                ++failures;
                continue;
            }
            path = (cwd == "/" ? QByteArray() : cwd) + "/" + path;
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
    QString error;
    if (!record.Finish(&error)) {
        out.Write(QStringLiteral("the batch record could not be completed, so Undo may miss items: %1\n").arg(error));
        ++failures;
    }
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

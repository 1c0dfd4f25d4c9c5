#include "TrashCommands.h"

#include "Trash.h"
#include "TrashBatch.h"

#include <unistd.h>

namespace TrashCommands {

int Trash(const std::vector<const char*>& paths, COutput& out)
{
    std::vector<CTrashedItem> batch;
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
        if (MoveToTrash(path, &error, ReadIdentity(path), &placed)) {
            batch.push_back(placed);
            out.Write(QStringLiteral("trashed: %1\n").arg(EscapePath(placed.original.toStdString())));
        } else {
            out.Write(QStringLiteral("not trashed: %1: %2\n").arg(EscapePath(arg), error));
            ++failures;
        }
    }
    QString error;
    if (!batch.empty() && !TrashBatch::Record(batch, &error)) {
        out.Write(QStringLiteral("the batch could not be recorded, so it cannot be restored: %1\n").arg(error));
        ++failures;
    }
    return failures ? 1 : 0;
}

int RestoreLast(COutput& out)
{
    const std::vector<TrashBatch::CRestoreOutcome> outcomes = TrashBatch::RestoreLast();
    if (outcomes.empty()) {
        out.Write(QStringLiteral("nothing to restore\n"));
        return 0;
    }
    int failures = 0;
    for (const TrashBatch::CRestoreOutcome& o : outcomes) {
        const QString name = EscapePath(o.original.toStdString());
        out.Write(o.restored ? QStringLiteral("restored: %1\n").arg(name)
                             : QStringLiteral("not restored: %1: %2\n").arg(name, o.reason));
        failures += o.restored ? 0 : 1;
    }
    return failures ? 1 : 0;
}

}  // namespace TrashCommands

#pragma once

#include "CliLister.h"
#include "ProtectedFolders.h"

#include <QByteArrayList>

// The command line's own trash: what the window refuses is refused here too,
// and every batch can be taken back by either front end.
namespace TrashCommands {
// Protected folders: the stored ones plus protect (this run only); a file below one, or for the
// trash a folder that is or holds one, is refused unless allowProtected.
struct CGuard {
    QByteArrayList protect;  // absolute, resolved
    bool allowProtected = false;
    size_t firstGuarded = 0;  // the arguments before it are not acted on
};
// Moves each path (relative ones from the working folder) to the trash and
// records the batch; one line per item on out, naming what was moved. Returns the exit status.
int Trash(const std::vector<const char*>& paths, const CGuard& guard, COutput& out);
// paths[0] is the file kept; each other path is replaced by a link to it (blocks shared in place,
// or with hard a hard link whose copy goes to the trash as a batch). One line per path.
int Link(bool hard, const std::vector<const char*>& paths, const CGuard& guard, COutput& out);
// Puts the last batch back; one line per item. Returns the exit status.
int RestoreLast(COutput& out);
}  // namespace TrashCommands

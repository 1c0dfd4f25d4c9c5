#pragma once

#include "CliLister.h"

// The command line's own trash: what the window refuses is refused here too,
// and every batch can be taken back by either front end.
namespace TrashCommands {
// Moves each path (relative ones from the working folder) to the trash and
// records the batch; one line per item on out. Returns the exit status.
int Trash(const std::vector<const char*>& paths, COutput& out);
// paths[0] is the file kept; each other path is replaced by a link to it (blocks shared in place,
// or with hard a hard link whose copy goes to the trash as a batch). One line per path.
int Link(bool hard, const std::vector<const char*>& paths, COutput& out);
// Puts the last batch back; one line per item. Returns the exit status.
int RestoreLast(COutput& out);
}  // namespace TrashCommands

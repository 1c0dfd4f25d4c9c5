#pragma once

#include "Trash.h"

#include <QString>

#include <vector>

// The last batch sent to the trash by either front end, kept in the XDG
// state folder so it can be put back after a restart.
namespace TrashBatch {

// Replaces the recorded batch with items (written atomically); false with the reason.
bool Record(const std::vector<CTrashedItem>& items, QString* error);
// The recorded batch; empty when there is none.
std::vector<CTrashedItem> Last();

struct CRestoreOutcome {
    QByteArray original;
    bool restored = false;
    QString reason;  // why it was not restored
};
// Moves each item of the last batch back by rename, never over anything now
// at its place (that item stays in the trash), and removes its .trashinfo only
// after the move. The record then keeps only what is still in the trash, and
// goes when nothing is.
std::vector<CRestoreOutcome> RestoreLast();

// The record file, for messages and tests.
QByteArray RecordFile();

}  // namespace TrashBatch

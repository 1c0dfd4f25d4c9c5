#pragma once

#include <QByteArray>
#include <QString>

#include <cstdint>

// Desktop trash (freedesktop.org layout) on native byte paths, so names that
// are not valid UTF-8 reach the trash unchanged.

// What a path named when it was listed or confirmed: the item itself, links not followed.
struct CFileIdentity {
    uint64_t dev = 0;
    uint64_t ino = 0;
    bool known = false;
};
// The identity of the item at path now; unknown when it cannot be read.
CFileIdentity ReadIdentity(const QByteArray& path);

// Moves path (native bytes, absolute) to the desktop trash by renaming it; never copies or deletes.
// A symbolic link is trashed as the link itself. The item is reached through its folder's
// descriptor and, when expected is known, moved only if it is still that item. A trash's own
// folders, or anything holding or inside one, are refused. Returns false with a short reason in *error.
struct CTrashedItem;
bool MoveToTrash(const QByteArray& path, QString* error, const CFileIdentity& expected = {},
                 CTrashedItem* placed = nullptr);

// Where a trashed item went, enough to put it back.
struct CTrashedItem {
    QByteArray original;  // the item's path when it was moved, its folder resolved
    QByteArray entry;     // the item in the trash's files folder
    QByteArray info;      // its .trashinfo file
};

// The home trash folder ($XDG_DATA_HOME/Trash, or ~/.local/share/Trash) as native bytes;
// empty if no absolute data folder can be found. Creates nothing.
QByteArray HomeTrashFolder();

// Renames from (relative to fromDir) to to, never replacing what is there; 0 or errno.
int RenameNoReplaceAt(int fromDir, const char* from, const char* to);

// Creates path and its missing parents (0700); returns 0 or errno.
int MakeFolders(const QByteArray& path);
// A short reason for errno err, as the trash's messages give it.
QString TrashErrorText(int err);

#pragma once

#include <QByteArray>
#include <QByteArrayList>
#include <QString>

#include "PathArray.h"

#include <cstdint>

struct CFileIdentity;

// One item as it was resolved: the folder it lies in (its path with every link resolved, and its
// identity) and its own name and identity, links not followed. Every later step reaches it through
// the folder opened again without following links and checked to be that folder, so a folder or
// link swapped in meanwhile is refused rather than followed.
struct CEntry {
    QByteArray folder;  // absolute, no link, "." or ".." in it
    QByteArray name;
    uint64_t folderDev = 0;
    uint64_t folderIno = 0;
    uint64_t dev = 0;
    uint64_t ino = 0;
    uint32_t type = 0;  // the S_IFMT bits

    QByteArray Path() const { return JoinNative(folder, name); }
    bool SameItem(uint64_t d, uint64_t i) const { return d == dev && i == ino; }
};

// Resolves path once: its folder part with links followed (the user's own choice at that moment),
// the item itself not; a trailing slash names the item, not what a link points to. When expected
// is known the item must still be it. Returns 0, or errno with ESTALE for "not the item expected".
int ResolveEntry(const QByteArray& path, CEntry* out);
int ResolveEntry(const QByteArray& path, const CFileIdentity& expected, CEntry* out);

// The entry's folder opened again (O_PATH) without following any link and checked to be the
// folder resolved: -1 with errno, EREMCHG when it is another folder now.
int OpenEntryFolder(const CEntry& entry);

// The first mount point at or below folder (an absolute resolved path) other than folder itself;
// empty when there is none. Trashing a folder that holds one would move a whole other file system.
QByteArray MountPointBelow(const QByteArray& folder);
// The same against mount points read once (MountPoints), for many folders at a time.
QByteArray MountPointBelow(const QByteArray& folder, const QByteArrayList& mountPoints);
// Every mount point of this process's view, as mountinfo lists them.
QByteArrayList MountPoints();

// A short reason for a failed resolution or open.
QString EntryErrorText(int err);

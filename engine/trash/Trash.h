#pragma once

#include "Outcome.h"

#include <QByteArray>
#include <QString>

#include <cstdint>

struct stat;

// Desktop trash (freedesktop.org layout) on native byte paths, so names that
// are not valid UTF-8 reach the trash unchanged.

// What a path named when it was listed or confirmed: the item itself, links not followed.
struct CFileIdentity {
    uint64_t dev = 0;
    uint64_t ino = 0;
    bool known = false;
};

// What an item was when it went into the trash; a restore puts back only that very item.
struct CItemStamp {
    uint64_t dev = 0;
    uint64_t ino = 0;
    uint32_t type = 0;  // the S_IFMT bits
    uint64_t size = 0;  // regular files only; 0 otherwise
    bool operator==(const CItemStamp& o) const
    {
        return dev == o.dev && ino == o.ino && type == o.type && size == o.size;
    }
};

// What a file was when a link was made to it: Undo swaps the copy back only while it still is.
struct CLinkStamp {
    uint64_t size = 0;
    int64_t mtimeNs = 0;
    int64_t ctimeNs = 0;
    bool known = false;
    bool operator==(const CLinkStamp& o) const
    {
        return size == o.size && mtimeNs == o.mtimeNs && ctimeNs == o.ctimeNs && known == o.known;
    }
};

// Where a trashed item went, enough to put it back and to check it is still the same.
struct CTrashedItem {
    QByteArray original;  // the item's path when it was moved, its folder resolved without links
    QByteArray trash;     // the trash folder holding files/ and info/
    QByteArray name;      // its name in files/; info/ holds name.trashinfo
    CItemStamp item;      // the item moved
    CFileIdentity folder;  // the folder it was moved out of (dev, ino)
    CFileIdentity linkedBy;  // known when a link to this file took the item's name as it went
    CLinkStamp linkedStamp;  // the linked file as the link left it

    QByteArray Entry() const { return trash + "/files/" + name; }
    QByteArray Info() const { return trash + "/info/" + name + ".trashinfo"; }
};

// Told about each move as it happens, so an interrupted batch can still be undone.
class CTrashJournal {
public:
    virtual ~CTrashJournal() = default;
    // Before the rename: 0, or errno to call the move off.
    virtual int WillMove(const CTrashedItem& item) = 0;
    // After it: whether the rename happened.
    virtual void Done(bool moved) = 0;
};

struct CEntry;

// Moves path (native bytes, absolute) to the desktop trash by renaming it; never copies or deletes.
// A symbolic link is trashed as the link itself. The path is resolved once (ResolveEntry) and,
// when expected is known, must still name that item.
COutcome MoveToTrash(const QByteArray& path, const CFileIdentity& expected = {}, CTrashedItem* placed = nullptr,
                     CTrashJournal* journal = nullptr);
// Moves the entry resolved earlier, reached through its folder opened without following links,
// only while folder and item are the ones resolved. A trash's own folders, anything holding or
// inside one, a mount point and a folder holding one are refused.
COutcome MoveEntryToTrash(const CEntry& entry, CTrashedItem* placed = nullptr, CTrashJournal* journal = nullptr);

// A copy whose name a link has just taken: the copy (entry) now stands under heldAs in the same
// folder, and the link is to the file link. It goes to the trash recorded under its own name, so
// putting it back swaps it for the link again.
struct CReplacedCopy {
    QByteArray heldAs;
    CFileIdentity link;
    CLinkStamp linkStamp;
};
COutcome MoveReplacedToTrash(const CEntry& entry, const CReplacedCopy& replaced, CTrashedItem* placed,
                             CTrashJournal* journal);

// Puts a trashed item back, treating every field of item as a claim: the entry must lie in a trash
// this program uses and be the very item moved there, its .trashinfo must name the original, and
// the original's folder, reached without following links, must be the one it left. Never replaces
// anything, never deletes anything but the entry's .trashinfo. An item a link replaced is swapped
// back for that link only while the name still holds it as the link left it and the file has
// another name, which keeps it. Otherwise the user's file stays, the copy comes back beside it under
// a free name (*beside, and false with the reason), or stays in the trash. Returns false with the
// reason. *linkAfter: the linked file as this restore left it, what the next item linked to it expects.
bool PutBack(const CTrashedItem& item, QString* reason, QByteArray* beside = nullptr, CLinkStamp* linkAfter = nullptr);
// The link stamp of st.
CLinkStamp LinkStampOf(const struct stat& st);

// The home trash folder ($XDG_DATA_HOME/Trash, or ~/.local/share/Trash) as native bytes;
// empty if no absolute data folder can be found. Creates nothing.
QByteArray HomeTrashFolder();

// Opens the absolute folder path component by component, following no link: ELOOP or ENOTDIR
// when one is on the way. Returns the O_PATH descriptor, or -1 with errno set.
int OpenFolderNoFollow(const QByteArray& path);

// Opens (creating it 0700 when asked) the folder name in parent, which must be a real folder of the
// effective user's that no one else can write to (else EPERM). Returns the O_PATH descriptor, or -1
// with errno set.
int OpenPrivateFolder(const QByteArray& parent, const char* name, bool create);

// Creates path and its missing parents (0700); returns 0 or errno.
int MakeFolders(const QByteArray& path);
// A short reason for errno err, as the trash's messages give it.
QString TrashErrorText(int err);

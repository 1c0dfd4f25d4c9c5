#include "Trash.h"

#include "Entry.h"
#include "PathArray.h"
#include "SystemFolders.h"
#include "TrashParts.h"

#include <algorithm>
#include <QByteArrayList>

#include <cerrno>
#include <cstdlib>
#include <ctime>

using namespace TrashParts;

namespace {


bool Within(const QByteArray& path, const QByteArray& folder)
{
    return path == folder || path.startsWith(folder == "/" ? folder : folder + "/");
}

// Why item must stay where it is, or empty: it is, holds or lies in a trash.
QString TrashPartReason(const QByteArray& item)
{
    QByteArray home = QByteArray::fromStdString(XdgFolders().Trash());
    if (!home.isEmpty()) {
        if (char* real = realpath(home.constData(), nullptr)) {
            home = real;
            free(real);
        }
        if (Within(item, home))
            return QStringLiteral("it is part of the trash");
        if (Within(home, item))
            return QStringLiteral("it holds the trash");
    }
    // A volume's trash, or the admin's .Trash that holds its users' trashes.
    const QByteArrayList components = item.split('/');
    for (qsizetype i = 1; i < components.size(); ++i) {
        const QByteArray& name = components[i];
        const QByteArray& parent = components[i - 1];
        if (name == ".Trash" || IsVolumeTrashFolder({parent.constData(), size_t(parent.size())}, {name.constData(), size_t(name.size())}))
            return QStringLiteral("it is part of a trash");
    }
    return {};
}

// Walks up while the mount stays the same; the last folder reached is the volume's top.
int FindTopDir(QByteArray folder, const SNode& item, QByteArray* top)
{
    while (folder != "/") {
        const QByteArray parent = folder.left(std::max<qsizetype>(folder.lastIndexOf('/'), 1));
        SNode node;
        if (const int err = Probe(parent, true, &node))
            return err;
        if (!SameMount(node, item))
            break;
        folder = parent;
    }
    *top = folder;
    return 0;
}

QByteArray TrashInfoText(const QByteArray& recorded)
{
    const time_t now = time(nullptr);
    struct tm local {};
    char date[32] = {};
    localtime_r(&now, &local);
    strftime(date, sizeof date, "%Y-%m-%dT%H:%M:%S", &local);
    return "[Trash Info]\nPath=" + recorded.toPercentEncoding("/") + "\nDeletionDate=" + date + "\n";
}

int WriteAndClose(int fd, const QByteArray& data)
{
    int err = WriteAll(fd, data);
    if (close(fd) != 0 && !err && errno != EINTR)
        err = errno;
    return err;
}

// Creates info/name whole or not at all, failing with EEXIST when the name is taken: a file
// manager never meets a half-written .trashinfo, even after kill -9.
int ClaimInfo(int infoFd, const QByteArray& name, const QByteArray& text)
{
    const int tmp = openat(infoFd, ".", O_TMPFILE | O_WRONLY | O_CLOEXEC, 0600);
    if (tmp >= 0) {
        int err = WriteAll(tmp, text);
        if (!err) {
            const QByteArray self = "/proc/self/fd/" + QByteArray::number(tmp);
            err = linkat(AT_FDCWD, self.constData(), infoFd, name.constData(), AT_SYMLINK_FOLLOW) == 0 ? 0 : errno;
        }
        close(tmp);
        if (err == 0 || err == EEXIST || err == ENOSPC || err == EDQUOT || err == EIO)
            return err;
    }
    // No unnamed files here (or no /proc): a named temporary renamed into place.
    QByteArray temp;
    int fd = -1;
    for (int attempt = 0; fd < 0 && attempt < 100; ++attempt) {
        temp = ".sorvane-" + QByteArray::number(getpid()) + "-" + QByteArray::number(attempt) + ".tmp";
        fd = openat(infoFd, temp.constData(), O_CREAT | O_EXCL | O_WRONLY | O_CLOEXEC | O_NOFOLLOW, 0600);
        if (fd < 0 && errno != EEXIST)
            return errno;
    }
    if (fd < 0)
        return EAGAIN;
    int err = WriteAndClose(fd, text);
    if (!err && renameat2(infoFd, temp.constData(), infoFd, name.constData(), RENAME_NOREPLACE) != 0) {
        err = errno;
        if (err == EINVAL || err == ENOSYS)
            err = linkat(infoFd, temp.constData(), infoFd, name.constData(), 0) == 0 ? 0 : errno;
    } else if (!err) {
        return 0;
    }
    unlinkat(infoFd, temp.constData(), 0);
    if (err != EPERM && err != EOPNOTSUPP)
        return err;
    // A file system without links or exclusive renames (FAT): claim the name directly.
    const int direct = openat(infoFd, name.constData(), O_CREAT | O_EXCL | O_WRONLY | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (direct < 0)
        return errno;
    err = WriteAndClose(direct, text);
    if (err)
        unlinkat(infoFd, name.constData(), 0);
    return err;
}

// Keeps "name.N.trashinfo" within the usual 255-byte limit without splitting a UTF-8 sequence.
QByteArray FitName(const QByteArray& name, const QByteArray& suffix)
{
    const qsizetype room = 255 - qsizetype(sizeof ".trashinfo" - 1) - suffix.size();
    if (name.size() <= room)
        return name + suffix;
    qsizetype cut = room;
    while (cut > 0 && (uchar(name[cut]) & 0xC0) == 0x80)
        --cut;
    return name.left(cut > 0 ? cut : room) + suffix;
}

// The item or its folder changed since it was resolved: a refusal; anything else the system's failure.
COutcome EntryOutcome(int err)
{
    return err == ESTALE || err == EREMCHG ? COutcome::Refused(EntryErrorText(err)) : COutcome::Failed(err, EntryErrorText(err));
}

// Claims a free name with an exclusive .trashinfo first, so concurrent trashers never share one.
COutcome Place(int folderFd, const QByteArray& source, CTrashedItem& item, const CTrashDirs& dirs,
               CTrashJournal* journal)
{
    const QByteArray recorded =
        dirs.top.isEmpty() ? item.original : item.original.mid(dirs.top == "/" ? 1 : dirs.top.size() + 1);
    const QByteArray text = TrashInfoText(recorded);
    const QByteArray name = item.original.mid(item.original.lastIndexOf('/') + 1);
    item.trash = dirs.path;
    for (int n = 1;; ++n) {
        item.name = FitName(name, n == 1 ? QByteArray() : "." + QByteArray::number(n));
        const QByteArray infoName = item.name + ".trashinfo";
        int err = ClaimInfo(dirs.info.fd, infoName, text);
        if (err == EEXIST)
            continue;
        if (err)
            return COutcome::Failed(err, TrashErrorText(err));
        if (journal && (err = journal->WillMove(item)) != 0) {
            unlinkat(dirs.info.fd, infoName.constData(), 0);
            return COutcome::Failed(err, QStringLiteral("it cannot be recorded for Undo: ") + TrashErrorText(err));
        }
        err = RenameNoReplace(folderFd, source.constData(), dirs.files.fd, item.name.constData());
        if (journal)
            journal->Done(err == 0);
        if (!err)
            return COutcome::Done();
        unlinkat(dirs.info.fd, infoName.constData(), 0);
        if (err == EEXIST)  // a leftover in files/ without its .trashinfo
            continue;
        return COutcome::Failed(err, err == EINVAL ? QStringLiteral("a folder cannot be moved into itself") : TrashErrorText(err));
    }
}

}  // namespace

COutcome MoveToTrash(const QByteArray& path, const CFileIdentity& expected, CTrashedItem* placed, CTrashJournal* journal)
{
    if (!path.startsWith('/'))
        return COutcome::Refused(QStringLiteral("the path is not absolute"));
    if (path.contains('\0'))
        return COutcome::Refused(QStringLiteral("the path holds a null byte"));
    CEntry entry;
    if (const int err = ResolveEntry(path, expected, &entry))
        return err == EISDIR ? COutcome::Refused(QStringLiteral("this folder cannot be moved to the trash")) : EntryOutcome(err);
    return MoveEntryToTrash(entry, placed, journal);
}

COutcome MoveEntryToTrash(const CEntry& entry, CTrashedItem* placed, CTrashJournal* journal)
{
    return MoveReplacedToTrash(entry, {}, placed, journal);
}

COutcome MoveReplacedToTrash(const CEntry& entry, const CReplacedCopy& replaced, CTrashedItem* placed,
                             CTrashJournal* journal)
{
    if (entry.name.isEmpty() || entry.name == "." || entry.name == ".." || entry.name.contains('/'))
        return COutcome::Refused(QStringLiteral("this folder cannot be moved to the trash"));
    const QByteArray source = replaced.heldAs.isEmpty() ? entry.name : replaced.heldAs;
    if (source.contains('/'))
        return COutcome::Refused(QStringLiteral("the copy is not held in the same folder"));
    const QByteArray& folder = entry.folder;
    const QByteArray item = entry.Path();
    const QString trashPart = TrashPartReason(item);
    if (!trashPart.isEmpty())
        return COutcome::Refused(trashPart);

    // The folder is reached without following links and must be the one resolved, so the path the
    // .trashinfo records is where the item really was.
    CFd folderFd(OpenEntryFolder(entry));
    if (folderFd.fd < 0)
        return EntryOutcome(errno);
    SNode node, parentNode;
    if (const int err = ProbeAt(folderFd.fd, source.constData(), false, &node))
        return COutcome::Failed(err, TrashErrorText(err));
    if (!entry.SameItem(uint64_t(node.dev), uint64_t(node.ino)))
        return COutcome::Refused(QStringLiteral("it was replaced by another item since it was listed"));
    if (const int err = ProbeAt(folderFd.fd, "", true, &parentNode))
        return COutcome::Failed(err, TrashErrorText(err));
    if (!SameMount(node, parentNode))
        return COutcome::Refused(QStringLiteral("a mount point cannot be moved to the trash"));
    // Emptying the trash would then delete a whole other file system's files.
    if (S_ISDIR(node.mode)) {
        const QByteArray mount = MountPointBelow(item);
        if (!mount.isEmpty())
            return COutcome::Refused(QStringLiteral("it holds a mount point, %1").arg(EscapePath(mount.toStdString())));
    }

    const QByteArray data = DataHome();
    if (data.isEmpty())
        return COutcome::Refused(QStringLiteral("the home folder cannot be found"));
    CTrashDirs dirs;
    const int homeErr = OpenHomeTrash(true, &dirs);
    SNode homeNode;
    if (homeErr || ProbeAt(dirs.files.fd, "", true, &homeNode) != 0 || !SameMount(node, homeNode)) {
        SNode dataNode;
        if (homeErr && (Probe(data, true, &dataNode) != 0 || SameMount(node, dataNode)))
            return COutcome::Failed(homeErr, QStringLiteral("the home trash cannot be used: ") + TrashErrorText(homeErr));
        QByteArray top;
        if (const int err = FindTopDir(folder, node, &top))
            return COutcome::Failed(err, TrashErrorText(err));
        dirs = CTrashDirs();
        if (OpenVolumeTrash(top, true, true, &dirs) != 0) {
            dirs = CTrashDirs();
            if (const int err = OpenVolumeTrash(top, true, false, &dirs))
                return COutcome::Failed(err, QStringLiteral("no trash on this volume (%1)").arg(TrashErrorText(err)));
        }
    }
    CTrashedItem moved;
    moved.original = item;
    moved.item = StampOf(node);
    moved.folder = {uint64_t(parentNode.dev), uint64_t(parentNode.ino), true};
    moved.linkedBy = replaced.link;
    moved.linkedStamp = replaced.linkStamp;
    const COutcome outcome = Place(folderFd.fd, source, moved, dirs, journal);
    if (outcome.IsDone() && placed)
        *placed = moved;
    return outcome;
}


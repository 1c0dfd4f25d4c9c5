#include "Trash.h"

#include "SystemFolders.h"

#include <QByteArrayList>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <vector>

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

namespace {

// Works with both the GNU and the XSI strerror_r.
[[maybe_unused]] const char* PickMessage(const char* result, const char*) { return result; }
[[maybe_unused]] const char* PickMessage(int, const char* buffer) { return buffer; }

bool Fail(QString* error, const QString& reason)
{
    if (error)
        *error = reason;
    return false;
}

struct SNode {
    dev_t dev = 0;
    ino_t ino = 0;
    uint64_t mountId = 0;
    bool hasMountId = false;
    mode_t mode = 0;
    uid_t uid = 0;
};

// The mount id tells bind mounts of one file system apart; rename fails across them even with equal st_dev.
int ProbeAt(int dirFd, const char* path, bool follow, SNode* node)
{
    struct statx sx {};
    const unsigned mask = STATX_TYPE | STATX_MODE | STATX_UID | STATX_INO | STATX_MNT_ID;
    // An empty path stands for dirFd itself.
    const int flags = (follow ? 0 : AT_SYMLINK_NOFOLLOW) | (*path ? 0 : AT_EMPTY_PATH);
    if (statx(dirFd, path, flags, mask, &sx) == 0) {
        node->dev = makedev(sx.stx_dev_major, sx.stx_dev_minor);
        node->ino = sx.stx_ino;
        node->hasMountId = sx.stx_mask & STATX_MNT_ID;
        node->mountId = sx.stx_mnt_id;
        node->mode = sx.stx_mode;
        node->uid = sx.stx_uid;
        return 0;
    }
    if (errno != ENOSYS && errno != EPERM)  // EPERM: statx blocked by some sandboxes
        return errno;
    struct stat st {};
    if (fstatat(dirFd, path, &st, flags) != 0)
        return errno;
    *node = SNode{st.st_dev, st.st_ino, 0, false, st.st_mode, st.st_uid};
    return 0;
}

int Probe(const QByteArray& path, bool follow, SNode* node)
{
    return ProbeAt(AT_FDCWD, path.constData(), follow, node);
}

// A trash's own folders: the home trash, and $topdir/.Trash or $topdir/.Trash-$uid of a volume.
bool IsVolumeTrashName(const QByteArray& component)
{
    if (component == ".Trash")
        return true;
    if (!component.startsWith(".Trash-") || component.size() == 7)
        return false;
    for (qsizetype i = 7; i < component.size(); ++i) {
        if (component[i] < '0' || component[i] > '9')
            return false;
    }
    return true;
}

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
    for (const QByteArray& component : item.split('/')) {
        if (IsVolumeTrashName(component))
            return QStringLiteral("it is part of a trash");
    }
    return {};
}

bool SameMount(const SNode& a, const SNode& b)
{
    return a.dev == b.dev && (!a.hasMountId || !b.hasMountId || a.mountId == b.mountId);
}

QByteArray DataHome()
{
    return QByteArray::fromStdString(XdgFolders().data);
}

// A trash on a shared volume must be our own real folders: a planted link would send files elsewhere.
int MakeTrashDirs(const QByteArray& dir, bool strict)
{
    for (const char* sub : {"", "/files", "/info"}) {
        const QByteArray path = dir + sub;
        if (mkdir(path.constData(), 0700) != 0 && errno != EEXIST)
            return errno;
        SNode node;
        if (const int err = Probe(path, !strict, &node))
            return err;
        if (!S_ISDIR(node.mode))
            return ENOTDIR;
        if (strict && node.uid != getuid())
            return EPERM;
    }
    return 0;
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

int VolumeTrash(const QByteArray& top, QByteArray* dir)
{
    const QByteArray base = top == "/" ? QByteArray() : top;
    const QByteArray uid = QByteArray::number(getuid());
    struct stat st {};
    // The admin's shared .Trash is trusted only as a real folder with the sticky bit.
    if (lstat((base + "/.Trash").constData(), &st) == 0 && S_ISDIR(st.st_mode) && (st.st_mode & S_ISVTX)) {
        *dir = base + "/.Trash/" + uid;
        if (MakeTrashDirs(*dir, true) == 0)
            return 0;
    }
    *dir = base + "/.Trash-" + uid;
    return MakeTrashDirs(*dir, true);
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

int WriteAll(int fd, const QByteArray& data)
{
    for (qsizetype done = 0; done < data.size();) {
        const ssize_t n = write(fd, data.constData() + done, size_t(data.size() - done));
        if (n < 0 && errno != EINTR)
            return errno;
        done += std::max<ssize_t>(n, 0);
    }
    return 0;
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

// Claims a free name with an exclusive .trashinfo first, so concurrent trashers never share one.
bool Place(int folderFd, const QByteArray& recorded, const QByteArray& trash, const QByteArray& name,
           QString* error, CTrashedItem* placed)
{
    const QByteArray info = TrashInfoText(recorded);
    for (int n = 1;; ++n) {
        const QByteArray entry = FitName(name, n == 1 ? QByteArray() : "." + QByteArray::number(n));
        const QByteArray infoPath = trash + "/info/" + entry + ".trashinfo";
        const int fd = open(infoPath.constData(), O_CREAT | O_EXCL | O_WRONLY | O_CLOEXEC | O_NOFOLLOW, 0600);
        if (fd < 0 && errno == EEXIST)
            continue;
        if (fd < 0)
            return Fail(error, TrashErrorText(errno));
        int err = WriteAll(fd, info);
        if (close(fd) != 0 && !err && errno != EINTR)
            err = errno;
        if (!err)
            err = RenameNoReplaceAt(folderFd, name.constData(), (trash + "/files/" + entry).constData());
        if (!err) {
            if (placed) {
                placed->entry = trash + "/files/" + entry;
                placed->info = infoPath;
            }
            return true;
        }
        unlink(infoPath.constData());
        if (err == EEXIST)  // a leftover in files/ without its .trashinfo
            continue;
        return Fail(error, err == EINVAL ? QStringLiteral("a folder cannot be moved into itself") : TrashErrorText(err));
    }
}

}  // namespace

QString TrashErrorText(int err)
{
    if (err == EXDEV)
        return QStringLiteral("the trash is on another file system");
    char buffer[256] = {};
    return QString::fromLocal8Bit(PickMessage(strerror_r(err, buffer, sizeof buffer), buffer));
}

int MakeFolders(const QByteArray& path)
{
    struct stat st {};
    if (stat(path.constData(), &st) == 0)
        return S_ISDIR(st.st_mode) ? 0 : ENOTDIR;
    if (errno != ENOENT)
        return errno;
    const qsizetype slash = path.lastIndexOf('/');
    if (slash > 0)
        if (const int err = MakeFolders(path.left(slash)))
            return err;
    return mkdir(path.constData(), 0700) == 0 || errno == EEXIST ? 0 : errno;
}

// The item is named relative to fromDir, so a folder on its path cannot be swapped underneath.
int RenameNoReplaceAt(int fromDir, const char* from, const char* to)
{
    if (renameat2(fromDir, from, AT_FDCWD, to, RENAME_NOREPLACE) == 0)
        return 0;
    if (errno != EINVAL && errno != ENOSYS)
        return errno;
    // No RENAME_NOREPLACE on this file system: check first, and accept the small race.
    struct stat st {};
    if (lstat(to, &st) == 0)
        return EEXIST;
    return renameat(fromDir, from, AT_FDCWD, to) == 0 ? 0 : errno;
}

QByteArray HomeTrashFolder()
{
    return QByteArray::fromStdString(XdgFolders().Trash());
}

CFileIdentity ReadIdentity(const QByteArray& path)
{
    struct stat st {};
    if (lstat(path.constData(), &st) != 0)
        return {};
    return {uint64_t(st.st_dev), uint64_t(st.st_ino), true};
}

bool MoveToTrash(const QByteArray& path, QString* error, const CFileIdentity& expected, CTrashedItem* placed)
{
    if (!path.startsWith('/'))
        return Fail(error, QStringLiteral("the path is not absolute"));
    if (path.contains('\0'))
        return Fail(error, QStringLiteral("the path holds a null byte"));
    const QByteArray trimmed = QByteArray::fromStdString(StripTrailingSlashes(path.toStdString()));
    const qsizetype slash = trimmed.lastIndexOf('/');
    const QByteArray name = trimmed.mid(slash + 1);
    if (name.isEmpty() || name == "." || name == "..")
        return Fail(error, QStringLiteral("this folder cannot be moved to the trash"));

    // Only the parent is resolved: the item itself, even a link, is what gets moved.
    char* real = realpath(slash == 0 ? "/" : trimmed.left(slash).constData(), nullptr);
    if (!real)
        return Fail(error, TrashErrorText(errno));
    const QByteArray folder(real);
    free(real);
    const QByteArray item = (folder == "/" ? QByteArray() : folder) + "/" + name;
    const QString trashPart = TrashPartReason(item);
    if (!trashPart.isEmpty())
        return Fail(error, trashPart);

    // From here on the folder is held open: the item is looked up and moved inside it.
    const int folderFd = open(folder.constData(), O_PATH | O_DIRECTORY | O_CLOEXEC);
    if (folderFd < 0)
        return Fail(error, TrashErrorText(errno));
    struct CCloser {
        int fd;
        ~CCloser() { close(fd); }
    } closer{folderFd};
    SNode node, parentNode;
    if (const int err = ProbeAt(folderFd, name.constData(), false, &node))
        return Fail(error, TrashErrorText(err));
    if (expected.known && (uint64_t(node.dev) != expected.dev || uint64_t(node.ino) != expected.ino))
        return Fail(error, QStringLiteral("it was replaced by another item since it was listed"));
    if (const int err = ProbeAt(folderFd, "", true, &parentNode))
        return Fail(error, TrashErrorText(err));
    if (!SameMount(node, parentNode))
        return Fail(error, QStringLiteral("a mount point cannot be moved to the trash"));

    const QByteArray data = DataHome();
    if (data.isEmpty())
        return Fail(error, QStringLiteral("the home folder cannot be found"));
    // Creating a missing data folder here keeps any trash from landing in the working directory.
    QByteArray trash = data + "/Trash";
    int homeErr = MakeFolders(data);
    if (!homeErr)
        homeErr = MakeTrashDirs(trash, false);
    SNode homeNode;
    if (!homeErr)
        homeErr = Probe(trash + "/files", true, &homeNode);

    QByteArray top;  // set when a volume trash is used; Path= is then relative to it
    if (homeErr || !SameMount(node, homeNode)) {
        SNode dataNode;
        if (homeErr && (Probe(data, true, &dataNode) != 0 || SameMount(node, dataNode)))
            return Fail(error, QStringLiteral("the home trash cannot be made: ") + TrashErrorText(homeErr));
        if (const int err = FindTopDir(folder, node, &top))
            return Fail(error, TrashErrorText(err));
        if (const int err = VolumeTrash(top, &trash))
            return Fail(error, QStringLiteral("no trash on this volume (%1)").arg(TrashErrorText(err)));
    }
    const QByteArray recorded = top.isEmpty() ? item : item.mid(top == "/" ? 1 : top.size() + 1);
    if (placed)
        placed->original = item;
    return Place(folderFd, recorded, trash, name, error, placed);
}

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

struct CFd {
    int fd = -1;
    CFd() = default;
    explicit CFd(int f) : fd(f) {}
    CFd(const CFd&) = delete;
    CFd& operator=(const CFd&) = delete;
    CFd& operator=(CFd&& o) noexcept
    {
        std::swap(fd, o.fd);
        return *this;
    }
    ~CFd()
    {
        if (fd >= 0)
            close(fd);
    }
};

constexpr int kFolderFlags = O_PATH | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC;

// A trash folder must be a real folder of ours that no one else can write to: a planted link or
// a folder another user controls would let them choose where files go or what comes back.
int OpenOwnedFolder(int parentFd, const char* name, bool create, bool ownLinkAllowed, CFd* out)
{
    if (create && mkdirat(parentFd, name, 0700) != 0 && errno != EEXIST)
        return errno;
    CFd fd(openat(parentFd, name, kFolderFlags));
    if (fd.fd < 0 && errno == ENOTDIR && ownLinkAllowed) {
        // A user may keep the home trash elsewhere through a link of their own.
        struct stat link {};
        if (fstatat(parentFd, name, &link, AT_SYMLINK_NOFOLLOW) == 0 && S_ISLNK(link.st_mode)
            && link.st_uid == geteuid())
            fd = CFd(openat(parentFd, name, O_PATH | O_DIRECTORY | O_CLOEXEC));
    }
    if (fd.fd < 0)
        return errno;
    struct stat st {};
    if (fstat(fd.fd, &st) != 0)
        return errno;
    if (!S_ISDIR(st.st_mode))
        return ENOTDIR;
    if (st.st_uid != geteuid() || (st.st_mode & 022))
        return EPERM;
    *out = std::move(fd);
    return 0;
}

struct CTrashDirs {
    QByteArray path;
    QByteArray top;  // a volume trash's mount top, which Path= is relative to; empty for the home trash
    CFd files;
    CFd info;
};

int OpenFilesAndInfo(int trashFd, bool create, CTrashDirs* dirs)
{
    if (const int err = OpenOwnedFolder(trashFd, "files", create, false, &dirs->files))
        return err;
    return OpenOwnedFolder(trashFd, "info", create, false, &dirs->info);
}

int OpenHomeTrash(bool create, CTrashDirs* dirs)
{
    const QByteArray data = DataHome();
    if (data.isEmpty())
        return ENOENT;
    // Creating a missing data folder here keeps any trash from landing in the working directory.
    if (create)
        if (const int err = MakeFolders(data))
            return err;
    // The data folder is the user's own choice, links and all; the trash inside it is checked.
    CFd dataFd(open(data.constData(), O_PATH | O_DIRECTORY | O_CLOEXEC));
    if (dataFd.fd < 0)
        return errno;
    CFd trash;
    if (const int err = OpenOwnedFolder(dataFd.fd, "Trash", create, true, &trash))
        return err;
    dirs->path = data + "/Trash";
    dirs->top.clear();
    return OpenFilesAndInfo(trash.fd, create, dirs);
}

// $top/.Trash/$uid when the admin made $top/.Trash (a sticky folder of root's or ours, not a link),
// else $top/.Trash-$uid.
int OpenVolumeTrash(const QByteArray& top, bool create, bool shared, CTrashDirs* dirs)
{
    CFd topFd(OpenFolderNoFollow(top));
    if (topFd.fd < 0)
        return errno;
    const QByteArray base = top == "/" ? QByteArray() : top;
    const QByteArray uid = QByteArray::number(getuid());
    CFd trash;
    if (shared) {
        CFd sharedFd(openat(topFd.fd, ".Trash", kFolderFlags));
        struct stat st {};
        if (sharedFd.fd < 0)
            return errno;
        if (fstat(sharedFd.fd, &st) != 0)
            return errno;
        if (!(st.st_mode & S_ISVTX) || (st.st_uid != 0 && st.st_uid != geteuid()))
            return EPERM;
        if (const int err = OpenOwnedFolder(sharedFd.fd, uid.constData(), create, false, &trash))
            return err;
        dirs->path = base + "/.Trash/" + uid;
    } else {
        if (const int err = OpenOwnedFolder(topFd.fd, (".Trash-" + uid).constData(), create, false, &trash))
            return err;
        dirs->path = base + "/.Trash-" + uid;
    }
    dirs->top = top;
    return OpenFilesAndInfo(trash.fd, create, dirs);
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

int WriteAndClose(int fd, const QByteArray& data)
{
    int err = WriteAll(fd, data);
    if (close(fd) != 0 && !err && errno != EINTR)
        err = errno;
    return err;
}

// Renames without replacing what is there; 0 or errno.
int RenameNoReplace(int fromDir, const char* from, int toDir, const char* to)
{
    if (renameat2(fromDir, from, toDir, to, RENAME_NOREPLACE) == 0)
        return 0;
    if (errno != EINVAL && errno != ENOSYS)
        return errno;
    // No RENAME_NOREPLACE on this file system: check first, and accept the small race.
    struct stat st {};
    if (fstatat(toDir, to, &st, AT_SYMLINK_NOFOLLOW) == 0)
        return EEXIST;
    return renameat(fromDir, from, toDir, to) == 0 ? 0 : errno;
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

// Claims a free name with an exclusive .trashinfo first, so concurrent trashers never share one.
bool Place(int folderFd, CTrashedItem& item, const CTrashDirs& dirs, QString* error, CTrashJournal* journal)
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
            return Fail(error, TrashErrorText(err));
        if (journal && (err = journal->WillMove(item)) != 0) {
            unlinkat(dirs.info.fd, infoName.constData(), 0);
            return Fail(error, QStringLiteral("it cannot be recorded for Undo: ") + TrashErrorText(err));
        }
        err = RenameNoReplace(folderFd, name.constData(), dirs.files.fd, item.name.constData());
        if (journal)
            journal->Done(err == 0);
        if (!err)
            return true;
        unlinkat(dirs.info.fd, infoName.constData(), 0);
        if (err == EEXIST)  // a leftover in files/ without its .trashinfo
            continue;
        return Fail(error, err == EINVAL ? QStringLiteral("a folder cannot be moved into itself") : TrashErrorText(err));
    }
}

CItemStamp StampOf(const struct stat& st)
{
    return {uint64_t(st.st_dev), uint64_t(st.st_ino), uint32_t(st.st_mode & S_IFMT),
            S_ISREG(st.st_mode) ? uint64_t(st.st_size) : 0};
}

// A place to put something back: absolute, and no empty, "." or ".." step that could lead elsewhere.
bool IsPlainAbsolute(const QByteArray& path)
{
    if (!path.startsWith('/') || path.size() < 2 || path.contains('\0') || path.endsWith('/'))
        return false;
    for (const QByteArray& part : path.mid(1).split('/')) {
        if (part.isEmpty() || part == "." || part == "..")
            return false;
    }
    return true;
}

// The trash item.trash names, opened, if it is one this program would have used for item.original.
int OpenRecordedTrash(const CTrashedItem& item, CTrashDirs* dirs)
{
    if (item.trash == HomeTrashFolder())
        return OpenHomeTrash(false, dirs);
    const QByteArray uid = QByteArray::number(getuid());
    for (const bool shared : {true, false}) {
        const QByteArray tail = shared ? "/.Trash/" + uid : "/.Trash-" + uid;
        if (!item.trash.endsWith(tail))
            continue;
        QByteArray top = item.trash.left(item.trash.size() - tail.size());
        if (!item.original.startsWith(top + "/") || (!top.isEmpty() && !IsPlainAbsolute(top)))
            return EINVAL;
        return OpenVolumeTrash(top.isEmpty() ? QByteArray("/") : top, false, shared, dirs);
    }
    return EINVAL;
}

// The original path its .trashinfo names, made absolute; empty when it cannot be read.
QByteArray InfoPath(const CTrashDirs& dirs, const QByteArray& infoName)
{
    CFd fd(openat(dirs.info.fd, infoName.constData(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
    struct stat st {};
    if (fd.fd < 0 || fstat(fd.fd, &st) != 0 || !S_ISREG(st.st_mode) || st.st_size > 65536)
        return {};
    QByteArray text(qsizetype(st.st_size), '\0');
    qsizetype got = 0;
    for (ssize_t n; got < text.size() && (n = read(fd.fd, text.data() + got, size_t(text.size() - got))) > 0;)
        got += n;
    const QByteArrayList lines = text.left(got).split('\n');
    if (lines.isEmpty() || lines.first() != "[Trash Info]")
        return {};
    for (const QByteArray& line : lines) {
        if (!line.startsWith("Path="))
            continue;
        const QByteArray path = QByteArray::fromPercentEncoding(line.mid(5));
        if (path.startsWith('/') || dirs.top.isEmpty())
            return path;
        return (dirs.top == "/" ? QByteArray() : dirs.top) + "/" + path;
    }
    return {};
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

QByteArray HomeTrashFolder()
{
    return QByteArray::fromStdString(XdgFolders().Trash());
}

int OpenPrivateFolder(const QByteArray& parent, const char* name, bool create)
{
    if (create)
        if (const int err = MakeFolders(parent)) {
            errno = err;
            return -1;
        }
    CFd parentFd(open(parent.constData(), O_PATH | O_DIRECTORY | O_CLOEXEC));
    CFd fd;
    if (parentFd.fd < 0)
        return -1;
    if (const int err = OpenOwnedFolder(parentFd.fd, name, create, false, &fd)) {
        errno = err;
        return -1;
    }
    const int result = fd.fd;
    fd.fd = -1;
    return result;
}

int OpenFolderNoFollow(const QByteArray& path)
{
    if (!path.startsWith('/') || path.contains('\0')) {
        errno = EINVAL;
        return -1;
    }
    CFd fd(open("/", O_PATH | O_DIRECTORY | O_CLOEXEC));
    for (const QByteArray& part : path.split('/')) {
        if (fd.fd < 0)
            return -1;
        if (part.isEmpty())
            continue;
        if (part == "." || part == "..") {
            errno = EINVAL;
            return -1;
        }
        fd = CFd(openat(fd.fd, part.constData(), kFolderFlags));
    }
    const int result = fd.fd;
    fd.fd = -1;
    return result;
}

CFileIdentity ReadIdentity(const QByteArray& path)
{
    const std::string trimmed = StripTrailingSlashes(path.toStdString());
    struct stat st {};
    if (lstat(trimmed.c_str(), &st) != 0)
        return {};
    return {uint64_t(st.st_dev), uint64_t(st.st_ino), true};
}

bool MoveToTrash(const QByteArray& path, QString* error, const CFileIdentity& expected, CTrashedItem* placed,
                 CTrashJournal* journal)
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

    // The resolved folder is opened again without following links, so the path the .trashinfo
    // records is where the item really was; a link swapped in meanwhile is refused.
    CFd folderFd(OpenFolderNoFollow(folder));
    if (folderFd.fd < 0)
        return Fail(error, errno == ENOTDIR || errno == ELOOP
                               ? QStringLiteral("a folder on its path was replaced while it was being moved")
                               : TrashErrorText(errno));
    SNode node, parentNode;
    if (const int err = ProbeAt(folderFd.fd, name.constData(), false, &node))
        return Fail(error, TrashErrorText(err));
    if (expected.known && (uint64_t(node.dev) != expected.dev || uint64_t(node.ino) != expected.ino))
        return Fail(error, QStringLiteral("it was replaced by another item since it was listed"));
    if (const int err = ProbeAt(folderFd.fd, "", true, &parentNode))
        return Fail(error, TrashErrorText(err));
    if (!SameMount(node, parentNode))
        return Fail(error, QStringLiteral("a mount point cannot be moved to the trash"));
    struct stat st {};
    if (fstatat(folderFd.fd, name.constData(), &st, AT_SYMLINK_NOFOLLOW) != 0)
        return Fail(error, TrashErrorText(errno));

    const QByteArray data = DataHome();
    if (data.isEmpty())
        return Fail(error, QStringLiteral("the home folder cannot be found"));
    CTrashDirs dirs;
    const int homeErr = OpenHomeTrash(true, &dirs);
    SNode homeNode;
    if (homeErr || ProbeAt(dirs.files.fd, "", true, &homeNode) != 0 || !SameMount(node, homeNode)) {
        SNode dataNode;
        if (homeErr && (Probe(data, true, &dataNode) != 0 || SameMount(node, dataNode)))
            return Fail(error, QStringLiteral("the home trash cannot be used: ") + TrashErrorText(homeErr));
        QByteArray top;
        if (const int err = FindTopDir(folder, node, &top))
            return Fail(error, TrashErrorText(err));
        dirs = CTrashDirs();
        if (OpenVolumeTrash(top, true, true, &dirs) != 0) {
            dirs = CTrashDirs();
            if (const int err = OpenVolumeTrash(top, true, false, &dirs))
                return Fail(error, QStringLiteral("no trash on this volume (%1)").arg(TrashErrorText(err)));
        }
    }
    CTrashedItem moved;
    moved.original = item;
    moved.item = StampOf(st);
    moved.folder = {uint64_t(parentNode.dev), uint64_t(parentNode.ino), true};
    if (!Place(folderFd.fd, moved, dirs, error, journal))
        return false;
    if (placed)
        *placed = moved;
    return true;
}

bool PutBack(const CTrashedItem& item, QString* reason)
{
    if (!IsPlainAbsolute(item.original))
        return Fail(reason, QStringLiteral("the recorded place is not a plain absolute path"));
    if (item.name.isEmpty() || item.name.contains('/') || item.name == "." || item.name == ".."
        || item.name.contains('\0'))
        return Fail(reason, QStringLiteral("the recorded trash entry is not a name"));
    CTrashDirs dirs;
    if (const int err = OpenRecordedTrash(item, &dirs))
        return Fail(reason, err == EINVAL ? QStringLiteral("it is not in a trash this program uses")
                            : err == EPERM ? QStringLiteral("the trash it is in is not yours alone")
                                           : QStringLiteral("its trash cannot be opened: ") + TrashErrorText(err));
    const qsizetype slash = item.original.lastIndexOf('/');
    const QByteArray parent = slash == 0 ? QByteArray("/") : item.original.left(slash);
    const QByteArray base = item.original.mid(slash + 1);
    CFd parentFd(OpenFolderNoFollow(parent));
    const int parentErr = parentFd.fd < 0 ? errno : 0;

    struct stat st {};
    if (fstatat(dirs.files.fd, item.name.constData(), &st, AT_SYMLINK_NOFOLLOW) != 0) {
        const int err = errno;
        struct stat there {};
        if (err == ENOENT && parentFd.fd >= 0 && fstatat(parentFd.fd, base.constData(), &there, AT_SYMLINK_NOFOLLOW) == 0
            && StampOf(there).dev == item.item.dev && StampOf(there).ino == item.item.ino)
            return Fail(reason, QStringLiteral("it was already put back"));
        return Fail(reason, err == ENOENT ? QStringLiteral("it is no longer in the trash") : TrashErrorText(err));
    }
    if (!(StampOf(st) == item.item))
        return Fail(reason, QStringLiteral("the item in the trash under its name is not the one moved there"));
    const QByteArray infoName = item.name + ".trashinfo";
    if (InfoPath(dirs, infoName) != item.original)
        return Fail(reason, QStringLiteral("its .trashinfo does not name the place it came from"));

    if (parentErr)
        return Fail(reason, (parentErr == ENOENT ? QStringLiteral("its folder is gone")
                             : parentErr == ENOTDIR || parentErr == ELOOP
                                 ? QStringLiteral("a folder on its path is now a link or a file")
                                 : TrashErrorText(parentErr))
                                + QStringLiteral("; it stays in the trash"));
    struct stat folder {};
    if (fstat(parentFd.fd, &folder) != 0 || uint64_t(folder.st_dev) != item.folder.dev
        || uint64_t(folder.st_ino) != item.folder.ino || !item.folder.known)
        return Fail(reason, QStringLiteral("its folder was replaced since it was trashed; it stays in the trash"));
    if (const int err = RenameNoReplace(dirs.files.fd, item.name.constData(), parentFd.fd, base.constData()))
        return Fail(reason, (err == EEXIST ? QStringLiteral("something else is there now") : TrashErrorText(err))
                                + QStringLiteral("; it stays in the trash"));
    unlinkat(dirs.info.fd, infoName.constData(), 0);  // only now: until the move, the entry must stay restorable
    return true;
}

#include "TrashParts.h"

#include "SystemFolders.h"

#include <QByteArrayList>

#include <cerrno>
#include <cstring>

#include <linux/openat2.h>
#include <sys/syscall.h>
#include <sys/sysmacros.h>

namespace TrashParts {
namespace {

// Works with both the GNU and the XSI strerror_r.
[[maybe_unused]] const char* PickMessage(const char* result, const char*) { return result; }
[[maybe_unused]] const char* PickMessage(int, const char* buffer) { return buffer; }

int OpenFilesAndInfo(int trashFd, bool create, CTrashDirs* dirs)
{
    if (const int err = OpenOwnedFolder(trashFd, "files", create, false, &dirs->files))
        return err;
    return OpenOwnedFolder(trashFd, "info", create, false, &dirs->info);
}

}  // namespace

bool Fail(QString* error, const QString& reason)
{
    if (error)
        *error = reason;
    return false;
}

// The mount id tells bind mounts of one file system apart; rename fails across them even with equal st_dev.
int ProbeAt(int dirFd, const char* path, bool follow, SNode* node)
{
    struct statx sx {};
    const unsigned mask = STATX_TYPE | STATX_MODE | STATX_UID | STATX_INO | STATX_SIZE | STATX_MNT_ID;
    // An empty path stands for dirFd itself.
    const int flags = (follow ? 0 : AT_SYMLINK_NOFOLLOW) | (*path ? 0 : AT_EMPTY_PATH);
    if (statx(dirFd, path, flags, mask, &sx) == 0) {
        node->dev = makedev(sx.stx_dev_major, sx.stx_dev_minor);
        node->ino = sx.stx_ino;
        node->hasMountId = sx.stx_mask & STATX_MNT_ID;
        node->mountId = sx.stx_mnt_id;
        node->mode = sx.stx_mode;
        node->uid = sx.stx_uid;
        node->size = sx.stx_size;
        return 0;
    }
    if (errno != ENOSYS && errno != EPERM)  // EPERM: statx blocked by some sandboxes
        return errno;
    struct stat st {};
    if (fstatat(dirFd, path, &st, flags) != 0)
        return errno;
    *node = SNode();  // no mount id without statx
    node->dev = st.st_dev;
    node->ino = st.st_ino;
    node->mode = st.st_mode;
    node->uid = st.st_uid;
    node->size = uint64_t(st.st_size);
    return 0;
}

int Probe(const QByteArray& path, bool follow, SNode* node)
{
    return ProbeAt(AT_FDCWD, path.constData(), follow, node);
}

bool SameMount(const SNode& a, const SNode& b)
{
    return a.dev == b.dev && (!a.hasMountId || !b.hasMountId || a.mountId == b.mountId);
}

QByteArray DataHome()
{
    return QByteArray::fromStdString(XdgFolders().data);
}

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

CItemStamp StampOf(const struct stat& st)
{
    return {uint64_t(st.st_dev), uint64_t(st.st_ino), uint32_t(st.st_mode & S_IFMT),
            S_ISREG(st.st_mode) ? uint64_t(st.st_size) : 0};
}

CItemStamp StampOf(const SNode& node)
{
    return {uint64_t(node.dev), uint64_t(node.ino), uint32_t(node.mode & S_IFMT), S_ISREG(node.mode) ? node.size : 0};
}

}  // namespace TrashParts

using namespace TrashParts;

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
    return fd.Release();
}

int OpenFolderNoFollow(const QByteArray& path)
{
    if (!path.startsWith('/') || path.contains('\0')) {
        errno = EINVAL;
        return -1;
    }
    for (const QByteArray& part : path.split('/')) {
        if (part == "." || part == "..") {
            errno = EINVAL;
            return -1;
        }
    }
    // One call where the kernel has it; else one step at a time.
    open_how how {};
    how.flags = kFolderFlags;
    how.resolve = RESOLVE_NO_SYMLINKS | RESOLVE_NO_MAGICLINKS;
    const long direct = syscall(SYS_openat2, AT_FDCWD, path.constData(), &how, sizeof how);
    if (direct >= 0 || (errno != ENOSYS && errno != EPERM && errno != E2BIG))
        return int(direct);
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
    return fd.Release();
}


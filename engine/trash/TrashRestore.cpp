#include "Trash.h"

#include "PathArray.h"
#include "TrashParts.h"

#include <QByteArrayList>

#include <cerrno>

using namespace TrashParts;

CLinkStamp LinkStampOf(const struct stat& st)
{
    return {uint64_t(st.st_size), int64_t(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec,
            int64_t(st.st_ctim.tv_sec) * 1000000000 + st.st_ctim.tv_nsec, true};
}

namespace {

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
        return JoinNative(dirs.top, path);
    }
    return {};
}

bool SameFile(const struct stat& st, const CFileIdentity& id)
{
    return S_ISREG(st.st_mode) && uint64_t(st.st_dev) == id.dev && uint64_t(st.st_ino) == id.ino;
}

// The name still holds what the link made: the same file, not written to or renamed since (its
// size and times as recorded), and another name keeps it, so taking this one loses nothing.
bool StillTheLink(const struct stat& there, const CTrashedItem& item)
{
    if (!SameFile(there, item.linkedBy) || there.st_nlink < 2)
        return false;
    return !item.linkedStamp.known || LinkStampOf(there) == item.linkedStamp;
}

// The copy comes back under a temporary name, is swapped with the link in one step, and is
// checked to have displaced that very link, which then loses this name; anything else is swapped
// back and returned to the trash, so nothing is ever left under the temporary name.
bool SwapBack(const CTrashDirs& dirs, const CTrashedItem& item, int parentFd, const QByteArray& base, QString* reason,
              CLinkStamp* linkAfter)
{
    QByteArray temp;
    int err = EEXIST;
    for (int n = 0; err == EEXIST && n < 100; ++n) {
        temp = ".sorvane-undo-" + QByteArray::number(getpid()) + "-" + QByteArray::number(n);
        err = RenameNoReplace(dirs.files.fd, item.name.constData(), parentFd, temp.constData());
    }
    if (err)
        return Fail(reason, TrashErrorText(err) + QStringLiteral("; it stays in the trash"));
    if (renameat2(parentFd, temp.constData(), parentFd, base.constData(), RENAME_EXCHANGE) != 0) {
        err = errno;
        RenameNoReplace(parentFd, temp.constData(), dirs.files.fd, item.name.constData());
        return Fail(reason, TrashErrorText(err) + QStringLiteral("; it stays in the trash"));
    }
    struct stat swapped {};
    const bool same = fstatat(parentFd, temp.constData(), &swapped, AT_SYMLINK_NOFOLLOW) == 0
                      && SameFile(swapped, item.linkedBy) && swapped.st_nlink > 1
                      && (!item.linkedStamp.known
                          || (uint64_t(swapped.st_size) == item.linkedStamp.size
                              && LinkStampOf(swapped).mtimeNs == item.linkedStamp.mtimeNs));
    // Held across the unlink: what the linked file is once this name is gone, for the next item.
    CFd held(openat(parentFd, temp.constData(), O_PATH | O_NOFOLLOW | O_CLOEXEC));
    if (!same || held.fd < 0 || unlinkat(parentFd, temp.constData(), 0) != 0) {
        renameat2(parentFd, temp.constData(), parentFd, base.constData(), RENAME_EXCHANGE);
        RenameNoReplace(parentFd, temp.constData(), dirs.files.fd, item.name.constData());
        return Fail(reason, QStringLiteral("the file there changed while it was being put back; it stays in the trash"));
    }
    unlinkat(dirs.info.fd, (item.name + ".trashinfo").constData(), 0);
    struct stat after {};
    if (linkAfter && fstat(held.fd, &after) == 0)
        *linkAfter = LinkStampOf(after);
    return true;
}

// The user's file keeps the name; the copy comes back beside it under a free name of its own.
bool PutBeside(const CTrashDirs& dirs, const CTrashedItem& item, int parentFd, const QByteArray& base,
               QByteArray* beside, QString* reason)
{
    const QString why = QStringLiteral("the file there changed since the link was made, so it stays");
    int err = EEXIST;
    QByteArray name;
    for (int n = 1; err == EEXIST && n < 100; ++n) {
        const QByteArray suffix = n == 1 ? QByteArray(" (restored)") : " (restored " + QByteArray::number(n) + ")";
        const qsizetype dot = base.lastIndexOf('.');
        name = dot > 0 ? base.left(dot) + suffix + base.mid(dot) : base + suffix;
        if (name.size() > 255)
            break;
        err = RenameNoReplace(dirs.files.fd, item.name.constData(), parentFd, name.constData());
    }
    if (err)
        return Fail(reason, why + QStringLiteral("; the copy stays in the trash"));
    unlinkat(dirs.info.fd, (item.name + ".trashinfo").constData(), 0);
    const qsizetype slash = item.original.lastIndexOf('/');
    if (beside)
        *beside = item.original.left(slash + 1) + name;
    return Fail(reason, why + QStringLiteral("; the copy was put back beside it as %1")
                               .arg(EscapePath(std::string_view(name.constData(), size_t(name.size())))));
}

}  // namespace

bool PutBack(const CTrashedItem& item, QString* reason, QByteArray* beside, CLinkStamp* linkAfter)
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
    if (item.linkedBy.known) {
        struct stat there {};
        if (fstatat(parentFd.fd, base.constData(), &there, AT_SYMLINK_NOFOLLOW) == 0) {
            if (!StillTheLink(there, item))
                return PutBeside(dirs, item, parentFd.fd, base, beside, reason);
            return SwapBack(dirs, item, parentFd.fd, base, reason, linkAfter);
        }
        if (errno != ENOENT)
            return Fail(reason, TrashErrorText(errno) + QStringLiteral("; it stays in the trash"));
        // The link is gone: the copy simply goes back.
    }
    if (const int err = RenameNoReplace(dirs.files.fd, item.name.constData(), parentFd.fd, base.constData()))
        return Fail(reason, (err == EEXIST ? QStringLiteral("something else is there now") : TrashErrorText(err))
                                + QStringLiteral("; it stays in the trash"));
    unlinkat(dirs.info.fd, infoName.constData(), 0);  // only now: until the move, the entry must stay restorable
    return true;
}

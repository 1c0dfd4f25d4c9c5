#include "Entry.h"

#include "SystemFolders.h"
#include "Trash.h"
#include "UniqueFd.h"

#include <QByteArrayList>
#include <QFile>

#include <cerrno>
#include <cstdlib>

#include <fcntl.h>
#include <sys/stat.h>

int ResolveEntry(const QByteArray& path, CEntry* out)
{
    if (!path.startsWith('/') || path.contains('\0'))
        return EINVAL;
    const QByteArray trimmed = QByteArray::fromStdString(StripTrailingSlashes(path.toStdString()));
    const qsizetype slash = trimmed.lastIndexOf('/');
    CEntry entry;
    entry.name = trimmed.mid(slash + 1);
    if (entry.name.isEmpty() || entry.name == "." || entry.name == "..")
        return EISDIR;
    char* real = realpath(slash == 0 ? "/" : trimmed.left(slash).constData(), nullptr);
    if (!real)
        return errno;
    entry.folder = real;
    free(real);
    CFd folder(OpenFolderNoFollow(entry.folder));
    if (folder.fd < 0)
        return errno;
    struct stat st {};
    if (fstat(folder.fd, &st) != 0)
        return errno;
    entry.folderDev = uint64_t(st.st_dev);
    entry.folderIno = uint64_t(st.st_ino);
    if (fstatat(folder.fd, entry.name.constData(), &st, AT_SYMLINK_NOFOLLOW) != 0)
        return errno;
    entry.dev = uint64_t(st.st_dev);
    entry.ino = uint64_t(st.st_ino);
    entry.type = uint32_t(st.st_mode & S_IFMT);
    *out = std::move(entry);
    return 0;
}

int ResolveEntry(const QByteArray& path, const CFileIdentity& expected, CEntry* out)
{
    CEntry entry;
    if (const int err = ResolveEntry(path, &entry))
        return err;
    if (expected.known && !entry.SameItem(expected.dev, expected.ino))
        return ESTALE;
    *out = std::move(entry);
    return 0;
}

int OpenEntryFolder(const CEntry& entry)
{
    CFd folder(OpenFolderNoFollow(entry.folder));
    if (folder.fd < 0)
        return -1;
    struct stat st {};
    if (fstat(folder.fd, &st) != 0)
        return -1;
    if (uint64_t(st.st_dev) != entry.folderDev || uint64_t(st.st_ino) != entry.folderIno) {
        errno = EREMCHG;
        return -1;
    }
    return folder.Release();
}

namespace {

// mountinfo escapes space, tab, newline and backslash as \ooo.
QByteArray Unescape(const QByteArray& field)
{
    QByteArray out;
    out.reserve(field.size());
    for (qsizetype i = 0; i < field.size(); ++i) {
        if (field[i] == '\\' && i + 3 < field.size() && field[i + 1] >= '0' && field[i + 1] <= '3') {
            out += char(((field[i + 1] - '0') << 6) | ((field[i + 2] - '0') << 3) | (field[i + 3] - '0'));
            i += 3;
        } else {
            out += field[i];
        }
    }
    return out;
}

}  // namespace

QByteArrayList MountPoints()
{
    QByteArrayList points;
    QFile info(QStringLiteral("/proc/self/mountinfo"));
    if (!info.open(QIODevice::ReadOnly))
        return points;
    const QByteArray text = info.readAll();
    for (qsizetype start = 0; start < text.size();) {
        qsizetype end = text.indexOf('\n', start);
        if (end < 0)
            end = text.size();
        // id parent major:minor root mount-point ...
        const QByteArrayList fields = text.mid(start, end - start).split(' ');
        start = end + 1;
        if (fields.size() >= 5)
            points << Unescape(fields[4]);
    }
    return points;
}

QByteArray MountPointBelow(const QByteArray& folder, const QByteArrayList& mountPoints)
{
    const QByteArray prefix = folder == "/" ? folder : folder + "/";
    for (const QByteArray& point : mountPoints) {
        if (point.startsWith(prefix) && point.size() > prefix.size())
            return point;
    }
    return {};
}

QByteArray MountPointBelow(const QByteArray& folder)
{
    return MountPointBelow(folder, MountPoints());
}

QString EntryErrorText(int err)
{
    if (err == ESTALE)
        return QStringLiteral("it was replaced by another item since it was listed");
    if (err == EREMCHG)
        return QStringLiteral("its folder was replaced since it was listed");
    if (err == ELOOP || err == ENOTDIR)
        return QStringLiteral("a folder on its path was replaced by a link or a file");
    if (err == EISDIR)
        return QStringLiteral("this folder cannot be moved");
    return TrashErrorText(err);
}

#include "OwnFile.h"

#include "WriteAll.h"

#include <QDir>
#include <QFile>
#include <QList>
#include <QRandomGenerator>

#include <cerrno>
#include <chrono>
#include <climits>
#include <deque>
#include <fcntl.h>
#include <sys/file.h>
#include <thread>
#include <unistd.h>

namespace {

constexpr int kMaxLinks = 40;  // the kernel's own limit for one path

void PushFront(std::deque<QByteArray>& names, const QByteArray& path)
{
    const QList<QByteArray> parts = path.split('/');
    for (auto it = parts.crbegin(); it != parts.crend(); ++it) {
        if (!it->isEmpty() && *it != ".")
            names.push_front(*it);
    }
}

// Root may change anything anyway: its links (/home on some systems) are as
// trusted as the user's own.
bool Trusted(uid_t owner)
{
    return owner == geteuid() || owner == 0;
}

// Folders are made only in folders of the user's own: root is not to leave
// folders in a user's config home that the user then could not write in.
bool OwnFolder(int dir)
{
    struct stat st;
    return fstat(dir, &st) == 0 && st.st_uid == geteuid();
}

// The target of a link that the effective user (or root) owns, in a folder
// they own, so that no one else chose it or put it there. Read through a
// descriptor of the link itself, so the link checked is the link followed.
bool ReadTrustedLink(int dir, const QByteArray& name, QByteArray* target)
{
    struct stat folder;
    if (fstat(dir, &folder) != 0 || !Trusted(folder.st_uid))
        return false;
    const int fd = openat(dir, name.constData(), O_PATH | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0)
        return false;
    struct stat st;
    bool ok = fstat(fd, &st) == 0 && S_ISLNK(st.st_mode) && Trusted(st.st_uid);
    if (ok) {
        QByteArray buffer(PATH_MAX, Qt::Uninitialized);
        const ssize_t n = readlinkat(fd, "", buffer.data(), size_t(buffer.size()));
        ok = n > 0 && n < buffer.size();
        if (ok)
            *target = buffer.left(int(n));
    }
    close(fd);
    return ok;
}

// Against our own other processes writing at once. A lock held too long (a
// stopped process) fails the write rather than hanging it; a file system
// without locks does without.
bool LockFolder(int fd)
{
    for (int i = 0; i < 200; ++i) {
        if (flock(fd, LOCK_EX | LOCK_NB) == 0)
            return true;
        if (errno != EWOULDBLOCK && errno != EINTR)
            return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return false;
}

qint64 Milliseconds(const timespec& t)
{
    return qint64(t.tv_sec) * 1000 + t.tv_nsec / 1000000;
}

bool WriteAll(int fd, const QByteArray& bytes)
{
    return ::WriteAll(fd, bytes.constData(), size_t(bytes.size())) == 0;
}

// From where fd stands to its end; false, with bytes empty, on an error or
// past maxSize bytes.
bool ReadWhole(int fd, qint64 maxSize, QByteArray* bytes)
{
    constexpr qsizetype kStep = 64 * 1024;
    qsizetype size = 0;
    for (;;) {
        bytes->resize(size + kStep);
        const ssize_t n = read(fd, bytes->data() + size, size_t(kStep));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            bytes->resize(n == 0 ? size : 0);
            return n == 0;
        }
        size += n;
        if (size > maxSize) {
            bytes->clear();
            return false;
        }
    }
}

}  // namespace

COwnFile::~COwnFile()
{
    Close();
}

void COwnFile::Close()
{
    if (m_folder >= 0)
        close(m_folder);
    m_folder = -1;
    m_name.clear();
    m_exists = false;
    m_bytes.clear();
}

bool COwnFile::Open(const QByteArray& base, const QByteArray& relative, qint64 maxSize)
{
    Close();
    // The base (the config home) is taken as the user named it, links and all.
    if (!QDir().mkpath(QFile::decodeName(base)))
        return false;
    int dir = open(base.constData(), O_PATH | O_DIRECTORY | O_CLOEXEC);
    std::deque<QByteArray> names;
    PushFront(names, relative);
    QByteArray name;
    for (int links = 0; dir >= 0 && !names.empty();) {
        name = names.front();
        names.pop_front();
        const bool last = names.empty();
        struct stat st;
        int result = fstatat(dir, name.constData(), &st, AT_SYMLINK_NOFOLLOW);
        if (result != 0 && errno == ENOENT && !last && OwnFolder(dir)
            && (mkdirat(dir, name.constData(), 0777) == 0 || errno == EEXIST))
            result = fstatat(dir, name.constData(), &st, AT_SYMLINK_NOFOLLOW);
        if (result != 0 && !(errno == ENOENT && last))
            break;
        if (result == 0 && S_ISLNK(st.st_mode)) {
            QByteArray target;
            if (++links > kMaxLinks || !ReadTrustedLink(dir, name, &target))
                break;
            PushFront(names, target);
            if (target.startsWith('/')) {
                close(dir);
                dir = open("/", O_PATH | O_DIRECTORY | O_CLOEXEC);
            }
            continue;
        }
        if (last) {
            // Another user who may change the folder's entries could swap the
            // file for anything between our looks.
            struct stat folder;
            const bool closed = fstat(dir, &folder) == 0 && (!(folder.st_mode & S_IWOTH) || (folder.st_mode & S_ISVTX));
            if (closed && OwnFolder(dir)) {
                m_folder = openat(dir, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
                m_name = name;
            }
            break;
        }
        const int next = openat(dir, name.constData(), O_PATH | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
        close(dir);
        dir = next;
    }
    if (dir >= 0)
        close(dir);
    if (m_folder < 0 || !LockFolder(m_folder) || !OpenFile(maxSize)) {
        Close();
        return false;
    }
    return true;
}

bool COwnFile::OpenFile(qint64 maxSize)
{
    struct stat st;
    if (fstatat(m_folder, m_name.constData(), &st, AT_SYMLINK_NOFOLLOW) != 0)
        return errno == ENOENT;
    // Anything but a plain file is never opened: a FIFO would hang the reader.
    if (!S_ISREG(st.st_mode))
        return false;
    const int fd = openat(m_folder, m_name.constData(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd < 0)
        return false;
    // A file without its owner's write bit is the user saying read-only: it
    // is left alone, as an editor would ask first, even by root who could
    // write it anyway.
    bool ok = fstat(fd, &m_stat) == 0 && S_ISREG(m_stat.st_mode) && m_stat.st_dev == st.st_dev
        && m_stat.st_ino == st.st_ino && m_stat.st_uid == geteuid() && (m_stat.st_mode & S_IWUSR)
        && m_stat.st_size <= maxSize;
    ok = ok && ReadWhole(fd, maxSize, &m_bytes);
    close(fd);
    m_exists = ok;
    return ok;
}

bool COwnFile::Replace(const QByteArray& bytes)
{
    if (m_folder < 0)
        return false;
    QByteArray temp;
    int fd = -1;
    for (int tries = 0; fd < 0 && tries < 100; ++tries) {
        temp = '.' + m_name + '.' + QByteArray::number(QRandomGenerator::global()->generate64(), 36);
        // Private until it is complete; a new file takes the mode the umask gives.
        fd = openat(m_folder, temp.constData(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC,
                    m_exists ? 0600 : 0666);
        if (fd < 0 && errno != EEXIST)
            return false;
    }
    if (fd < 0)
        return false;
    bool ok = WriteAll(fd, bytes);
    struct stat now;
    ok = ok && fstat(fd, &now) == 0;
    if (ok && m_exists) {
        ok = fchmod(fd, m_stat.st_mode & 0777) == 0;
        if (now.st_gid != m_stat.st_gid) {
            // As editors do: the group is kept where the user may keep it.
            [[maybe_unused]] const int kept = fchown(fd, uid_t(-1), m_stat.st_gid);
        }
        // Each version is later, to the millisecond, than the one it replaces:
        // QSettings' cache takes a file of the same size and time as unchanged.
        const qint64 was = Milliseconds(m_stat.st_mtim);
        if (ok && Milliseconds(now.st_mtim) <= was) {
            const timespec times[2] = {{0, UTIME_OMIT}, {time_t((was + 1) / 1000), long((was + 1) % 1000) * 1000000}};
            ok = futimens(fd, times) == 0;
        }
    }
    ok = ok && fsync(fd) == 0;
    ok = close(fd) == 0 && ok;
    ok = ok && renameat(m_folder, temp.constData(), m_folder, m_name.constData()) == 0;
    if (!ok) {
        unlinkat(m_folder, temp.constData(), 0);
        return false;
    }
    m_bytes = bytes;
    m_exists = fstatat(m_folder, m_name.constData(), &m_stat, AT_SYMLINK_NOFOLLOW) == 0;
    return true;
}

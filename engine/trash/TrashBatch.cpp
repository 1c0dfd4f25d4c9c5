#include "TrashBatch.h"

#include "SystemFolders.h"
#include "UniqueFd.h"
#include "WriteAll.h"

#include <QByteArrayList>

#include <algorithm>
#include <map>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace TrashBatch {
namespace {

// Each line starts with its state, rewritten in place as the item moves and comes back.
constexpr char kHeader[] = "[Sorvane Trash Batch 2]";
constexpr char kOldHeader[] = "[Sorvane Trash Batch]";  // kept no identities: never restored from
constexpr char kPending = '-';  // about to move; restored only if its entry is really there
constexpr char kMoved = '+';
constexpr char kNotMoved = 'x';
constexpr char kRestored = 'r';
constexpr char kFileName[] = "last-trash-batch";
// The lock lives beside the record: a new batch replaces the record by a rename, never the lock.
constexpr char kLockName[] = "last-trash-batch.lock";
constexpr long long kMaxRecordSize = 64LL << 20;

QByteArray StateFolder()
{
    return QByteArray::fromStdString(XdgFolders().state);
}

int WriteAt(int fd, const QByteArray& data, long long offset)
{
    return WriteAll(fd, data.constData(), size_t(data.size()), offset);
}

QByteArray Line(char state, const CTrashedItem& item)
{
    QByteArray line(1, state);
    for (const QByteArray* text : {&item.original, &item.trash, &item.name})
        line += "\t" + text->toPercentEncoding("/");
    for (const uint64_t n : {item.item.dev, item.item.ino, uint64_t(item.item.type), item.item.size, item.folder.dev,
                             item.folder.ino})
        line += "\t" + QByteArray::number(qulonglong(n));
    // A copy a link replaced: readers that predate links see a line they skip, never a plain item.
    if (item.linkedBy.known) {
        line += "\t" + QByteArray::number(qulonglong(item.linkedBy.dev)) + "\t" + QByteArray::number(qulonglong(item.linkedBy.ino));
        if (item.linkedStamp.known)
            line += "\t" + QByteArray::number(qulonglong(item.linkedStamp.size)) + "\t"
                    + QByteArray::number(qlonglong(item.linkedStamp.mtimeNs)) + "\t"
                    + QByteArray::number(qlonglong(item.linkedStamp.ctimeNs));
    }
    return line + "\n";
}

bool ParseLine(const QByteArray& line, char* state, CTrashedItem* item)
{
    const QByteArrayList f = line.split('\t');
    if ((f.size() != 10 && f.size() != 12 && f.size() != 15) || f[0].size() != 1)
        return false;
    *state = f[0][0];
    item->original = QByteArray::fromPercentEncoding(f[1]);
    item->trash = QByteArray::fromPercentEncoding(f[2]);
    item->name = QByteArray::fromPercentEncoding(f[3]);
    bool ok[6] = {};
    item->item = {f[4].toULongLong(&ok[0]), f[5].toULongLong(&ok[1]), uint32_t(f[6].toULongLong(&ok[2])),
                  f[7].toULongLong(&ok[3])};
    item->folder = {f[8].toULongLong(&ok[4]), f[9].toULongLong(&ok[5]), true};
    if (f.size() >= 12) {
        bool linkOk[2] = {};
        item->linkedBy = {f[10].toULongLong(&linkOk[0]), f[11].toULongLong(&linkOk[1]), true};
        if (!linkOk[0] || !linkOk[1])
            return false;
    }
    if (f.size() == 15) {
        bool stampOk[3] = {};
        item->linkedStamp = {f[12].toULongLong(&stampOk[0]), f[13].toLongLong(&stampOk[1]), f[14].toLongLong(&stampOk[2]), true};
        if (!stampOk[0] || !stampOk[1] || !stampOk[2])
            return false;
    }
    return std::all_of(std::begin(ok), std::end(ok), [](bool b) { return b; });
}

// Takes the batch lock in the record's folder: a regular file of ours, never followed through a
// link. Returns the descriptor holding it, or -1 with errno (EWOULDBLOCK when busy and not waiting).
int TakeLock(int dir, bool wait)
{
    CFd lock(openat(dir, kLockName, O_RDWR | O_CREAT | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC, 0600));
    struct stat st {};
    if (lock.fd < 0 || fstat(lock.fd, &st) != 0)
        return -1;
    if (!S_ISREG(st.st_mode) || st.st_uid != geteuid()) {
        errno = EPERM;
        return -1;
    }
    int rc;
    while ((rc = flock(lock.fd, LOCK_EX | (wait ? 0 : LOCK_NB))) != 0 && errno == EINTR) {
    }
    return rc == 0 ? lock.Release() : -1;
}

struct CRecordLine {
    char state = 0;
    long long offset = 0;
    CTrashedItem item;
};

// The open record, checked: a regular file of the effective user's in a folder of theirs. Anything
// else (another user's record, as when root runs with a user's HOME) is a claim not to act on.
struct COpenRecord {
    int dir = -1;
    int fd = -1;
    CFd lock;
    bool writable = false;
    bool old = false;
    std::vector<CRecordLine> lines;
    ~COpenRecord()
    {
        if (fd >= 0)
            close(fd);
        if (dir >= 0)
            close(dir);
    }
};

// Reads the record under the batch lock (taken when wait, or when free), so no batch or restore
// changes it meanwhile; *none when there is none, else empty or why not.
QString OpenRecord(COpenRecord* record, bool* none, bool wait)
{
    *none = false;
    const QByteArray state = StateFolder();
    if (state.isEmpty()) {
        *none = true;
        return {};
    }
    record->dir = OpenPrivateFolder(state, "sorvane", false);
    if (record->dir < 0) {
        *none = errno == ENOENT;
        return *none ? QString() : QStringLiteral("the folder of the batch record is not yours alone (%1)").arg(TrashErrorText(errno));
    }
    record->lock = CFd(TakeLock(record->dir, wait));
    if (record->lock.fd < 0 && (wait || errno != EWOULDBLOCK))
        return QStringLiteral("the batch record cannot be locked (%1)").arg(TrashErrorText(errno));
    record->fd = openat(record->dir, kFileName, O_RDWR | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    record->writable = record->fd >= 0;
    if (record->fd < 0 && (errno == EACCES || errno == EROFS))
        record->fd = openat(record->dir, kFileName, O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    if (record->fd < 0) {
        *none = errno == ENOENT;
        return *none ? QString() : QStringLiteral("the batch record cannot be opened (%1)").arg(TrashErrorText(errno));
    }
    struct stat st {};
    if (fstat(record->fd, &st) != 0 || !S_ISREG(st.st_mode) || st.st_uid != geteuid() || st.st_size > kMaxRecordSize)
        return QStringLiteral("the batch record is not a file of yours");
    QByteArray text;
    char buffer[65536];
    for (ssize_t n; (n = pread(record->fd, buffer, sizeof buffer, off_t(text.size()))) != 0;) {
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            return QStringLiteral("the batch record cannot be read (%1)").arg(TrashErrorText(errno));
        text.append(buffer, n);
    }
    qsizetype at = text.indexOf('\n');
    const QByteArray header = text.left(at);
    record->old = header == kOldHeader;
    if (at < 0 || (header != kHeader && !record->old)) {
        *none = text.isEmpty();
        return *none ? QString() : QStringLiteral("the batch record is not one this program wrote");
    }
    for (qsizetype start = at + 1; start < text.size(); start = at + 1) {
        at = text.indexOf('\n', start);
        if (at < 0)
            break;  // cut short by a crash mid-line: that item never moved
        CRecordLine line;
        line.offset = start;
        const QByteArray raw = text.mid(start, at - start);
        if (record->old) {
            line.state = kMoved;
            line.item.original = QByteArray::fromPercentEncoding(raw.left(raw.indexOf('\t')));
            record->lines.push_back(line);
        } else if (ParseLine(raw, &line.state, &line.item)) {
            record->lines.push_back(line);
        }
    }
    return {};
}

bool Waiting(char state)
{
    return state == kMoved || state == kPending;
}

bool EntryThere(const CTrashedItem& item)
{
    struct stat st {};
    return lstat(item.Entry().constData(), &st) == 0;
}

}  // namespace

QByteArray RecordFile()
{
    const QByteArray state = StateFolder();
    return state.isEmpty() ? QByteArray() : state + "/sorvane/" + kFileName;
}

CRecorder::~CRecorder()
{
    if (m_fd >= 0)
        close(m_fd);
    if (m_lock >= 0)
        close(m_lock);
}

int CRecorder::WillMove(const CTrashedItem& item)
{
    if (m_fd < 0) {
        const QByteArray state = StateFolder();
        if (state.isEmpty())
            return ENOENT;
        const int dir = OpenPrivateFolder(state, "sorvane", true);
        if (dir < 0)
            return errno;
        // Held until the batch is over: a restore, or another batch, waits for it.
        m_lock = TakeLock(dir, true);
        if (m_lock < 0) {
            const int err = errno;
            close(dir);
            return err;
        }
        // A new file renamed over the old record: until this batch moves something, the last one stays.
        const QByteArray temp = QByteArray(kFileName) + "." + QByteArray::number(getpid()) + ".new";
        unlinkat(dir, temp.constData(), 0);
        m_fd = openat(dir, temp.constData(), O_CREAT | O_EXCL | O_RDWR | O_NOFOLLOW | O_CLOEXEC, 0600);
        int err = m_fd < 0 ? errno : 0;
        if (!err) {
            const QByteArray header = QByteArray(kHeader) + "\n";
            err = WriteAt(m_fd, header, 0);
            m_end = header.size();
            if (!err && renameat(dir, temp.constData(), dir, kFileName) != 0)
                err = errno;
            if (err) {
                unlinkat(dir, temp.constData(), 0);
                close(m_fd);
                m_fd = -1;
            }
        }
        close(dir);
        if (err) {
            close(m_lock);
            m_lock = -1;
            return err;
        }
    }
    const QByteArray line = Line(kPending, item);
    if (const int err = WriteAt(m_fd, line, m_end))
        return err;
    m_line = m_end;
    m_end += line.size();
    return 0;
}

void CRecorder::Done(bool moved)
{
    if (m_fd < 0 || m_line < 0)
        return;
    if (const int err = WriteAt(m_fd, QByteArray(1, moved ? kMoved : kNotMoved), m_line))
        m_err = m_err ? m_err : err;
    m_line = -1;
}

bool CRecorder::Finish(QString* error)
{
    if (m_fd >= 0 && fsync(m_fd) != 0 && !m_err)
        m_err = errno;
    if (m_fd >= 0)
        close(m_fd);
    m_fd = -1;
    if (m_lock >= 0)
        close(m_lock);
    m_lock = -1;
    if (m_err && error)
        *error = TrashErrorText(m_err);
    return m_err == 0;
}

CRestoreResult RestoreLast()
{
    CRestoreResult result;
    COpenRecord record;
    bool none = false;
    result.recordError = OpenRecord(&record, &none, true);
    if (!result.recordError.isEmpty() || none)
        return result;
    int markErr = 0;
    bool left = false;
    // Every link a batch makes to one file changes that file's ctime, and so does each restore: each
    // copy expects the file as the batch's last link to it left it, then as the restore before left it.
    std::map<std::pair<uint64_t, uint64_t>, CLinkStamp> linked;
    for (const CRecordLine& line : record.lines) {
        if (line.item.linkedBy.known)
            linked[{line.item.linkedBy.dev, line.item.linkedBy.ino}] = line.item.linkedStamp;
    }
    for (CRecordLine& line : record.lines) {
        if (!Waiting(line.state))
            continue;
        if (record.old) {
            CRestoreOutcome old;
            old.original = line.item.original;
            old.outcome = COutcome::Refused(QStringLiteral("it was recorded without what a restore checks now; restore it "
                                                           "from the trash in the file manager"));
            result.outcomes.push_back(old);
            continue;
        }
        if (line.state == kPending && !EntryThere(line.item))
            continue;  // interrupted before it moved
        CRestoreOutcome outcome;
        outcome.original = line.item.original;
        CLinkStamp* expected = nullptr;
        if (line.item.linkedBy.known) {
            expected = &linked[{line.item.linkedBy.dev, line.item.linkedBy.ino}];
            line.item.linkedStamp = *expected;
        }
        QString why;
        outcome.outcome = PutBack(line.item, &why, &outcome.besideAs, expected) ? COutcome::Done() : COutcome::Refused(why);
        // A copy put back beside a changed file has left the trash too: done, though not restored.
        if (outcome.Restored() || !outcome.besideAs.isEmpty()) {
            const int err = record.writable ? WriteAt(record.fd, QByteArray(1, kRestored), line.offset) : EACCES;
            markErr = markErr ? markErr : err;
        } else {
            left = true;
        }
        result.outcomes.push_back(outcome);
    }
    if (record.old)
        return result;
    // All back: the record goes. Where it cannot, its marks say so, unless they could not be written.
    struct stat read {}, named {};
    if (!left && fstat(record.fd, &read) == 0 && fstatat(record.dir, kFileName, &named, AT_SYMLINK_NOFOLLOW) == 0
        && read.st_dev == named.st_dev && read.st_ino == named.st_ino && unlinkat(record.dir, kFileName, 0) == 0)
        return result;
    if (markErr)
        result.recordError = QStringLiteral("the batch record could not be updated (%1); a later restore will "
                                            "report the items put back now as already back")
                                 .arg(TrashErrorText(markErr));
    return result;
}

std::vector<CTrashedItem> Last()
{
    std::vector<CTrashedItem> items;
    COpenRecord record;
    bool none = false;
    if (!OpenRecord(&record, &none, false).isEmpty() || record.old)
        return items;
    for (const CRecordLine& line : record.lines) {
        if (line.state == kMoved || (line.state == kPending && EntryThere(line.item)))
            items.push_back(line.item);
    }
    return items;
}

}  // namespace TrashBatch

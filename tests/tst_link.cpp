// Replacing copies by links, on real file systems: a loop-mounted XFS that shares blocks and a tmpfs
// that cannot (both need root and are skipped with the reason otherwise), and the test's own folder.
#include "CliTestSupport.h"
#include "TrashTestSupport.h"

#include "Link.h"
#include "TrashBatch.h"

#include <QRandomGenerator>
#include <QStandardPaths>
#include <QtTest>

#include <sys/statvfs.h>
#include <sys/xattr.h>

using namespace TrashTest;

namespace {

bool Command(const QString& program, const QStringList& args)
{
    QProcess p;
    p.start(program, args);
    return p.waitForFinished(60000) && p.exitStatus() == QProcess::NormalExit && p.exitCode() == 0;
}

// A file system mounted for the test and unmounted after it; skipReason says why there is none.
struct CMount {
    QByteArray path;
    QString skipReason;
    CMount(const QByteArray& where, bool xfs)
    {
        if (geteuid() != 0) {
            skipReason = QStringLiteral("mounting a file system needs root");
            return;
        }
        TestSupport::MakeDir(where);
        if (xfs) {
            if (QStandardPaths::findExecutable(QStringLiteral("mkfs.xfs")).isEmpty()) {
                skipReason = QStringLiteral("mkfs.xfs is not installed (Debian: xfsprogs)");
                return;
            }
            const QString image = QFile::decodeName(where) + QStringLiteral(".img");
            QFile::remove(image);
            if (!QFile(image).open(QIODevice::WriteOnly) || !QFile(image).resize(qint64(300) << 20)
                || !Command(QStringLiteral("mkfs.xfs"), {QStringLiteral("-q"), QStringLiteral("-m"), QStringLiteral("reflink=1"), image})
                || !Command(QStringLiteral("mount"), {QStringLiteral("-o"), QStringLiteral("loop"), image, QFile::decodeName(where)})) {
                skipReason = QStringLiteral("an XFS image could not be made and loop-mounted here");
                return;
            }
        } else if (!Command(QStringLiteral("mount"), {QStringLiteral("-t"), QStringLiteral("tmpfs"), QStringLiteral("-o"),
                                                     QStringLiteral("size=64m"), QStringLiteral("tmpfs"), QFile::decodeName(where)})) {
            skipReason = QStringLiteral("a tmpfs could not be mounted here");
            return;
        }
        path = where;
    }
    ~CMount()
    {
        if (!path.isEmpty())
            Command(QStringLiteral("umount"), {QFile::decodeName(path)});
    }
};

QByteArray RandomBytes(int size)
{
    QByteArray data(size, '\0');
    QRandomGenerator gen{quint32(size)};
    for (int i = 0; i < size; ++i)
        data[i] = char(gen.generate());
    return data;
}

struct stat Stat(const QByteArray& path)
{
    struct stat st {};
    lstat(path.constData(), &st);
    return st;
}

bool SameStat(const struct stat& a, const struct stat& b)
{
    return a.st_ino == b.st_ino && a.st_mode == b.st_mode && a.st_uid == b.st_uid && a.st_nlink == b.st_nlink
        && a.st_mtim.tv_sec == b.st_mtim.tv_sec && a.st_mtim.tv_nsec == b.st_mtim.tv_nsec
        && a.st_ctim.tv_sec == b.st_ctim.tv_sec && a.st_ctim.tv_nsec == b.st_ctim.tv_nsec;
}

CFileIdentity Id(const QByteArray& path)
{
    const struct stat st = Stat(path);
    return {uint64_t(st.st_dev), uint64_t(st.st_ino), true};
}

Link::COutcome Replace(const QByteArray& keep, const QByteArray& copy, Link::EKind kind, CTrashJournal* journal = nullptr,
                       CFileIdentity copyId = {})
{
    static const std::atomic<bool> stop{false};
    return Link::Replace({keep, copy, Id(keep), copyId}, kind, stop, journal);
}

// keep, and a copy of it with its own mode, time and attribute.
void MakePair(const QByteArray& dir, const QByteArray& bytes)
{
    TestSupport::WriteFile(dir + "/keep", bytes);
    TestSupport::WriteFile(dir + "/copy", bytes);
    chmod((dir + "/copy").constData(), 0640);
    const struct timespec times[2] = {{1577836800, 0}, {1577836800, 123}};
    utimensat(AT_FDCWD, (dir + "/copy").constData(), times, 0);
    setxattr((dir + "/copy").constData(), "user.tag", "mine", 4, 0);  // where the file system keeps them
}

}  // namespace

class TestLink : public QObject {
    Q_OBJECT
    QByteArray m_root;

private slots:
    void initTestCase() { m_root = ResolvedRoot(); }

    // Shared in place: only free space changes. A copy differing in its last byte, a file system that
    // cannot share, and another file system are refused, each with its reason, and left as they were.
    void cloneSharesBlocksAndNothingElse()
    {
        CMount xfs(m_root + "/xfs", true);
        if (xfs.path.isEmpty())
            QSKIP(qPrintable(xfs.skipReason));
        const QByteArray bytes = RandomBytes(8 << 20);
        MakePair(xfs.path, bytes);
        QByteArray other = bytes;
        other[other.size() - 1] = char(~other.back());
        TestSupport::WriteFile(xfs.path + "/differs", other);
        sync();
        struct statvfs before {};
        statvfs(xfs.path.constData(), &before);
        const struct stat copyBefore = Stat(xfs.path + "/copy");
        const struct stat differsBefore = Stat(xfs.path + "/differs");

        Link::COutcome o = Replace(xfs.path + "/keep", xfs.path + "/copy", Link::EKind::kClone);
        QVERIFY2(o.Linked(), qPrintable(o.reason));
        QVERIFY(SameStat(Stat(xfs.path + "/copy"), copyBefore));
        char tag[8] = {};
        QCOMPARE(getxattr((xfs.path + "/copy").constData(), "user.tag", tag, sizeof tag), ssize_t(4));
        QCOMPARE(ReadAll(xfs.path + "/copy"), bytes);
        struct statvfs after {};
        statvfs(xfs.path.constData(), &after);
        QVERIFY(qint64(after.f_bfree - before.f_bfree) * qint64(after.f_frsize) >= qint64(bytes.size()) * 3 / 4);

        o = Replace(xfs.path + "/keep", xfs.path + "/differs", Link::EKind::kClone);
        QCOMPARE(o.refusal, Link::ERefusal::kDiffers);
        QCOMPARE(ReadAll(xfs.path + "/differs"), other);
        QVERIFY(SameStat(Stat(xfs.path + "/differs"), differsBefore));

        CMount tmpfs(m_root + "/tmpfs", false);
        if (tmpfs.path.isEmpty())
            QSKIP(qPrintable(tmpfs.skipReason));
        MakePair(tmpfs.path, bytes);
        QCOMPARE(Replace(tmpfs.path + "/keep", tmpfs.path + "/copy", Link::EKind::kClone).refusal, Link::ERefusal::kCannotClone);
        QCOMPARE(Replace(xfs.path + "/keep", tmpfs.path + "/copy", Link::EKind::kClone).refusal, Link::ERefusal::kOtherFileSystem);
        QCOMPARE(Replace(xfs.path + "/keep", tmpfs.path + "/copy", Link::EKind::kHard).refusal, Link::ERefusal::kOtherFileSystem);
        QCOMPARE(ReadAll(tmpfs.path + "/copy"), bytes);
        // The command line says which kind would do instead.
        const CRun r = Run({QStringLiteral("--link"), QFile::decodeName(tmpfs.path + "/keep"), QFile::decodeName(tmpfs.path + "/copy")});
        QCOMPARE(r.exitCode, 1);
        QVERIFY2(r.out.contains("cannot share blocks") && r.out.contains("--link-kind=hard"), r.out);
    }

    // A hard link takes the copy's name in one step; Undo puts back the very copy, with its own inode,
    // mode and times, and the kept file has one name again. Nothing of ours is left in the folder.
    void hardLinkIsUndoneWithTheCopy()
    {
        const QByteArray dir = m_root + "/hard";
        TestSupport::MakeDir(dir);
        MakePair(dir, RandomBytes(300000));
        const struct stat copyBefore = Stat(dir + "/copy");
        {
            TrashBatch::CRecorder record;
            const Link::COutcome o = Replace(dir + "/keep", dir + "/copy", Link::EKind::kHard, &record, Id(dir + "/copy"));
            QVERIFY2(o.Linked(), qPrintable(o.reason));
            QString error;
            QVERIFY(record.Finish(&error));
        }
        QCOMPARE(Stat(dir + "/copy").st_ino, Stat(dir + "/keep").st_ino);
        QCOMPARE(Stat(dir + "/keep").st_nlink, nlink_t(2));
        QCOMPARE(Entries(dir).size(), 2);
        const TrashBatch::CRestoreResult result = TrashBatch::RestoreLast();
        QCOMPARE(result.outcomes.size(), size_t(1));
        QVERIFY2(result.outcomes[0].restored, qPrintable(result.outcomes[0].reason));
        const struct stat copyAfter = Stat(dir + "/copy");
        QCOMPARE(copyAfter.st_ino, copyBefore.st_ino);
        QCOMPARE(copyAfter.st_mode, copyBefore.st_mode);
        QCOMPARE(copyAfter.st_mtim.tv_nsec, copyBefore.st_mtim.tv_nsec);
        QCOMPARE(Stat(dir + "/keep").st_nlink, nlink_t(1));
        QCOMPARE(Entries(dir).size(), 2);
    }

    // What the link must refuse, each left untouched: a last byte that differs, a copy replaced since it
    // was listed, a link in its place, the same file twice.
    void hardLinkRefusals()
    {
        const QByteArray dir = m_root + "/refusals";
        TestSupport::MakeDir(dir);
        const QByteArray bytes = RandomBytes(200000);
        MakePair(dir, bytes);
        QByteArray other = bytes;
        other[other.size() - 1] = 'x';
        TestSupport::WriteFile(dir + "/differs", other);
        QCOMPARE(Replace(dir + "/keep", dir + "/differs", Link::EKind::kHard).refusal, Link::ERefusal::kDiffers);
        QCOMPARE(ReadAll(dir + "/differs"), other);

        const CFileIdentity listed = Id(dir + "/copy");
        TestSupport::WriteFile(dir + "/new", bytes);
        QCOMPARE(::rename((dir + "/new").constData(), (dir + "/copy").constData()), 0);
        QCOMPARE(Replace(dir + "/keep", dir + "/copy", Link::EKind::kHard, nullptr, listed).refusal, Link::ERefusal::kChanged);

        QCOMPARE(symlink("keep", (dir + "/symlink").constData()), 0);
        QCOMPARE(Replace(dir + "/keep", dir + "/symlink", Link::EKind::kHard).refusal, Link::ERefusal::kNotRegular);
        QCOMPARE(::link((dir + "/keep").constData(), (dir + "/again").constData()), 0);
        QCOMPARE(Replace(dir + "/keep", dir + "/again", Link::EKind::kHard).refusal, Link::ERefusal::kSameFile);
        QCOMPARE(Entries(dir).size(), 5);
    }

    // Another user who can write the copy's folder: a link planted where the copy was is refused, and
    // after the hard link, a file of theirs put in the link's place is never swapped for the copy.
    void accompliceInTheFolder()
    {
        if (geteuid() != 0)
            QSKIP("playing another user needs root");
        const QByteArray dir = m_root + "/work/shared";
        TestSupport::MakeDir(dir);
        QCOMPARE(::chmod(m_root.constData(), 0711), 0);
        QCOMPARE(::chmod((m_root + "/work").constData(), 0711), 0);
        chmod(dir.constData(), 0777);
        MakePair(dir, RandomBytes(100000));
        TestSupport::WriteFile(m_root + "/secret", ReadAll(dir + "/keep"));
        const CFileIdentity listed = Id(dir + "/copy");
        // Paths made before the fork: the child makes system calls only.
        const QByteArray copy = dir + "/copy", moved = dir + "/moved", secret = m_root + "/secret";
        QVERIFY(TestSupport::AsAccomplice([&] {
            return ::rename(copy.constData(), moved.constData()) == 0 && symlink(secret.constData(), copy.constData()) == 0;
        }));
        QCOMPARE(Replace(dir + "/keep", dir + "/copy", Link::EKind::kHard, nullptr, listed).refusal, Link::ERefusal::kNotRegular);
        QCOMPARE(Stat(m_root + "/secret").st_nlink, nlink_t(1));

        ::unlink((dir + "/copy").constData());
        QCOMPARE(::rename((dir + "/moved").constData(), (dir + "/copy").constData()), 0);
        {
            TrashBatch::CRecorder record;
            QVERIFY(Replace(dir + "/keep", dir + "/copy", Link::EKind::kHard, &record).Linked());
        }
        QVERIFY(TestSupport::AsAccomplice(
            [&] { return ::unlink(copy.constData()) == 0 && ::symlink("/etc/shadow", copy.constData()) == 0; }));
        const TrashBatch::CRestoreResult result = TrashBatch::RestoreLast();
        QCOMPARE(result.outcomes.size(), size_t(1));
        QVERIFY(!result.outcomes[0].restored);
        QVERIFY2(result.outcomes[0].reason.contains(QLatin1String("replaced")), qPrintable(result.outcomes[0].reason));
        QVERIFY(S_ISLNK(Stat(dir + "/copy").st_mode));
        QVERIFY(Exists(TrashBatch::Last().front().Entry()));
    }

    // kill -9 in the middle of a batch of hard links: every path holds its copy or a link to the same
    // bytes, and Undo puts back each copy that reached the trash.
    void interruptedLinksLeaveEveryPathWhole()
    {
        const QByteArray dir = m_root + "/interrupted";
        TestSupport::MakeDir(dir);
        const QByteArray bytes = RandomBytes(64 << 10);
        TestSupport::WriteFile(dir + "/keep", bytes);
        QStringList args = {QStringLiteral("--link"), QStringLiteral("--link-kind=hard"), QFile::decodeName(dir + "/keep")};
        const int count = 600;
        const auto name = [&](int i) { return dir + "/f" + QByteArray::number(i) + QByteArray(200, 'x'); };
        for (int i = 0; i < count; ++i) {
            TestSupport::WriteFile(name(i), bytes);
            args << QFile::decodeName(name(i));
        }
        int status = 0;
        const QByteArray printed = KillAfterLines(args, dir + ".err", 50, 0, &status);
        QCOMPARE(status, 1000 + SIGKILL);
        const ino_t kept = Stat(dir + "/keep").st_ino;
        int linked = 0;
        for (const QByteArray& entry : Entries(dir)) {
            QCOMPARE(ReadAll(dir + "/" + entry), bytes);
            linked += Stat(dir + "/" + entry).st_ino == kept && entry.startsWith('f') ? 1 : 0;
        }
        QVERIFY(linked >= printed.count("linked: ") && linked < count);
        const CRun r = Run({QStringLiteral("--restore-last")});
        QVERIFY(r.out.count("restored: ") >= linked - 1);
        for (int i = 0; i < count; ++i)
            QCOMPARE(ReadAll(name(i)), bytes);
    }
};

SORVANE_TEST_MAIN(TestLink)
#include "tst_link.moc"

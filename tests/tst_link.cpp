// Replacing copies by links, on real file systems: a loop-mounted XFS that shares blocks and a tmpfs
// that cannot (both need root and are skipped with the reason otherwise), and the test's own folder.
#include "CliTestSupport.h"
#include "TrashTestSupport.h"

#include "Link.h"
#include "TrashBatch.h"
#include "UniqueFd.h"

#include <QRandomGenerator>
#include <QStandardPaths>
#include <QtTest>

#include <optional>

#include <linux/fiemap.h>
#include <linux/fs.h>
#include <sys/ioctl.h>
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

// Both resolved now, as a batch resolves them when it starts; what cannot be is left empty, which
// every step refuses.
Link::CRequest Resolved(const QByteArray& keep, const QByteArray& copy, CFileIdentity copyId = {})
{
    Link::CRequest request;
    ResolveEntry(keep, &request.keep);
    ResolveEntry(copy, copyId, &request.copy);
    return request;
}

const std::atomic<bool> g_go{false};

Link::CResult Replace(const QByteArray& keep, const QByteArray& copy, Link::EKind kind, CTrashJournal* journal = nullptr,
                       CFileIdentity copyId = {})
{
    return Link::Replace(Resolved(keep, copy, copyId), kind, g_go, journal);
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

// Every extent of path is shared with another file, and they cover all of it.
bool AllShared(const QByteArray& path)
{
    CFd fd(open(path.constData(), O_RDONLY | O_CLOEXEC));
    alignas(fiemap) char buffer[sizeof(fiemap) + 256 * sizeof(fiemap_extent)] = {};
    auto* map = reinterpret_cast<fiemap*>(buffer);
    map->fm_length = ~0ULL;
    map->fm_flags = FIEMAP_FLAG_SYNC;
    map->fm_extent_count = 256;
    if (fd.fd < 0 || ioctl(fd.fd, FS_IOC_FIEMAP, map) != 0 || map->fm_mapped_extents == 0)
        return false;
    uint64_t covered = 0;
    for (unsigned i = 0; i < map->fm_mapped_extents; ++i) {
        if (!(map->fm_extents[i].fe_flags & FIEMAP_EXTENT_SHARED))
            return false;
        covered += map->fm_extents[i].fe_length;
    }
    return covered >= uint64_t(Stat(path).st_size);
}

// A kernel that shares half of what it is asked each time.
int HalfDedupe(int fd, void* range)
{
    auto* head = static_cast<file_dedupe_range*>(range);
    head->src_length = std::max<uint64_t>(4096, head->src_length / 2 / 4096 * 4096);
    return ioctl(fd, FIDEDUPERANGE, head);
}

QByteArray g_stepFile;  // what a step seam acts on
void ShrinkOnShare(const char* step)
{
    if (!strcmp(step, "share"))
        truncate(g_stepFile.constData(), 4096);
}
void PlantOnLinked(const char* step)
{
    if (strcmp(step, "linked"))
        return;
    ::rename(g_stepFile.constData(), (g_stepFile + ".moved").constData());
    TestSupport::WriteFile(g_stepFile, "planted");
}

struct CSeams {
    explicit CSeams(const Link::CTestSeams& seams) { Link::SetTestSeams(seams); }
    ~CSeams() { Link::SetTestSeams({}); }
};

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

        Link::CResult o = Replace(xfs.path + "/keep", xfs.path + "/copy", Link::EKind::kClone);
        QVERIFY2(o.Linked(), qPrintable(o.Reason()));
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
            const Link::CResult o = Replace(dir + "/keep", dir + "/copy", Link::EKind::kHard, &record, Id(dir + "/copy"));
            QVERIFY2(o.Linked(), qPrintable(o.Reason()));
            QString error;
            QVERIFY(record.Finish(&error));
        }
        QCOMPARE(Stat(dir + "/copy").st_ino, Stat(dir + "/keep").st_ino);
        QCOMPARE(Stat(dir + "/keep").st_nlink, nlink_t(2));
        QCOMPARE(Entries(dir).size(), 2);
        const TrashBatch::CRestoreResult result = TrashBatch::RestoreLast();
        QCOMPARE(result.outcomes.size(), size_t(1));
        QVERIFY2(result.outcomes[0].Restored(), qPrintable(result.outcomes[0].Reason()));
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
        const Link::CRequest listed = Resolved(dir + "/keep", dir + "/copy");
        // Paths made before the fork: the child makes system calls only.
        const QByteArray copy = dir + "/copy", moved = dir + "/moved", secret = m_root + "/secret";
        QVERIFY(TestSupport::AsAccomplice([&] {
            return ::rename(copy.constData(), moved.constData()) == 0 && symlink(secret.constData(), copy.constData()) == 0;
        }));
        QCOMPARE(Link::Replace(listed, Link::EKind::kHard, g_go, nullptr).refusal, Link::ERefusal::kNotRegular);
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
        QVERIFY(!result.outcomes[0].Restored());
        QVERIFY2(result.outcomes[0].Reason().contains(QLatin1String("beside")), qPrintable(result.outcomes[0].Reason()));
        QVERIFY(S_ISLNK(Stat(dir + "/copy").st_mode));
        QCOMPARE(ReadAll(dir + "/copy (restored)"), ReadAll(dir + "/keep"));
    }

    // Paths are resolved once, as a batch starts. An accomplice who owns the folder then swaps it, after
    // the first file, for a link to root's folder of the same files, or renames root's folder into its
    // place: every later step is refused and root's files stay as they were, for each kind and the trash.
    void swappedFolderIsNeverFollowed_data()
    {
        QTest::addColumn<QString>("kind");
        QTest::addColumn<bool>("rename");
        for (const char* kind : {"hard", "clone", "trash"}) {
            QTest::addRow("%s, link", kind) << QString::fromLatin1(kind) << false;
            QTest::addRow("%s, renamed", kind) << QString::fromLatin1(kind) << true;
        }
    }
    void swappedFolderIsNeverFollowed()
    {
        QFETCH(QString, kind);
        QFETCH(bool, rename);
        if (geteuid() != 0)
            QSKIP("playing another user needs root");
        static int run = 0;
        const QByteArray tag = QByteArray::number(++run);
        std::optional<CMount> xfs;
        if (kind == QLatin1String("clone")) {
            xfs.emplace(m_root + "/swapxfs" + tag, true);
            if (xfs->path.isEmpty())
                QSKIP(qPrintable(xfs->skipReason));
        }
        const QByteArray base = xfs ? xfs->path : m_root + "/swap" + tag;
        const QByteArray shared = base + "/shared", dir = shared + "/dir", secret = shared + "/secret";
        for (const QByteArray& d : {base, shared, dir, secret})
            TestSupport::MakeDir(d);
        for (const QByteArray& d : {m_root, base})
            QCOMPARE(::chmod(d.constData(), 0711), 0);
        const QByteArray bytes = RandomBytes(64 << 10);
        TestSupport::WriteFile(shared + "/keep", bytes);
        std::vector<Link::CRequest> requests;
        for (int i = 0; i < 4; ++i) {
            const QByteArray name = "/c" + QByteArray::number(i);
            TestSupport::WriteFile(dir + name, bytes);
            TestSupport::WriteFile(secret + name, bytes);
            QCOMPARE(::chmod((secret + name).constData(), 0600), 0);
            requests.push_back(Resolved(shared + "/keep", dir + name));
        }
        for (const QByteArray& p : {shared, dir, shared + "/keep"})
            QCOMPARE(::chown(p.constData(), TestSupport::kAccomplice, TestSupport::kAccomplice), 0);
        QCOMPARE(::chmod(secret.constData(), 0700), 0);
        const auto act = [&](const Link::CRequest& request, QString* why) {
            TrashBatch::CRecorder record;
            if (kind == QLatin1String("trash"))
                return Trashed(MoveEntryToTrash(request.copy, nullptr, &record), why);
            const Link::CResult o = Link::Replace(request, kind == QLatin1String("hard") ? Link::EKind::kHard : Link::EKind::kClone, g_go, &record);
            *why = o.Reason();
            return o.Linked();
        };
        QString why;
        QVERIFY2(act(requests[0], &why), qPrintable(why));
        const QByteArray moved = shared + "/old";
        QVERIFY(TestSupport::AsAccomplice([&] {
            return ::rename(dir.constData(), moved.constData()) == 0
                && (rename ? ::rename(secret.constData(), dir.constData()) : ::symlink("secret", dir.constData())) == 0;
        }));
        const QByteArray rootFiles = rename ? dir : secret;
        for (int i = 1; i < 4; ++i) {
            QVERIFY(!act(requests[size_t(i)], &why));
            QVERIFY2(why.contains(QLatin1String("folder")), qPrintable(why));
            const struct stat st = Stat(rootFiles + "/c" + QByteArray::number(i));
            QVERIFY(st.st_nlink == 1 && st.st_uid == 0 && (st.st_mode & 0777) == 0600);
            if (kind == QLatin1String("clone"))
                QVERIFY(!AllShared(rootFiles + "/c" + QByteArray::number(i)));
        }
    }

    // What the kernel may do between two steps: share fewer bytes than asked (the rest is asked for
    // again), a copy shrunk by another program (refused as changed, not as a file system that cannot),
    // and a file planted under the copy's name before the link takes it (refused, the file stays).
    void stepsAreCheckedOneByOne_data()
    {
        QTest::addColumn<int>("fault");
        QTest::newRow("short ranges") << 0;
        QTest::newRow("shrunk while shared") << 1;
        QTest::newRow("planted before the exchange") << 2;
    }
    void stepsAreCheckedOneByOne()
    {
        QFETCH(int, fault);
        std::optional<CMount> xfs;
        if (fault < 2) {
            xfs.emplace(m_root + "/stepxfs" + QByteArray::number(fault), true);
            if (xfs->path.isEmpty())
                QSKIP(qPrintable(xfs->skipReason));
        }
        const QByteArray dir = xfs ? xfs->path : m_root + "/steps";
        TestSupport::MakeDir(dir);
        MakePair(dir, RandomBytes(1 << 20));
        g_stepFile = dir + "/copy";
        const CSeams seams(fault == 0 ? Link::CTestSeams{nullptr, HalfDedupe}
                           : fault == 1 ? Link::CTestSeams{ShrinkOnShare, nullptr}
                                        : Link::CTestSeams{PlantOnLinked, nullptr});
        TrashBatch::CRecorder record;
        const Link::CResult o = Replace(dir + "/keep", dir + "/copy", fault < 2 ? Link::EKind::kClone : Link::EKind::kHard, &record);
        if (fault == 0) {
            QVERIFY2(o.Linked(), qPrintable(o.Reason()));
            QVERIFY(AllShared(dir + "/copy"));
            return;
        }
        QCOMPARE(o.refusal, Link::ERefusal::kChanged);
        QVERIFY2(!o.Reason().contains(QLatin1String("cannot share")), qPrintable(o.Reason()));
        if (fault == 2) {
            QCOMPARE(ReadAll(dir + "/copy"), QByteArray("planted"));
            QCOMPARE(Stat(dir + "/keep").st_nlink, nlink_t(1));
        }
    }

    // Undo of a hard link never hides an edit: after an editor saved the kept file by a rename and the
    // user wrote to the linked name, the user's file stays and the copy comes back beside it, visible.
    void undoKeepsAnEditAfterTheLink()
    {
        const QByteArray dir = m_root + "/edited";
        TestSupport::MakeDir(dir);
        const QByteArray bytes = RandomBytes(100000);
        MakePair(dir, bytes);
        {
            TrashBatch::CRecorder record;
            QVERIFY(Replace(dir + "/keep", dir + "/copy", Link::EKind::kHard, &record).Linked());
        }
        TestSupport::WriteFile(dir + "/keep.new", "saved by an editor");
        QCOMPARE(::rename((dir + "/keep.new").constData(), (dir + "/keep").constData()), 0);
        QFile copy(QFile::decodeName(dir + "/copy"));
        QVERIFY(copy.open(QIODevice::Append));
        copy.write("my edit");
        copy.close();
        const TrashBatch::CRestoreResult result = TrashBatch::RestoreLast();
        QCOMPARE(result.outcomes.size(), size_t(1));
        QVERIFY(!result.outcomes[0].Restored());
        QCOMPARE(result.outcomes[0].besideAs, dir + "/copy (restored)");
        QCOMPARE(ReadAll(dir + "/copy"), bytes + "my edit");
        QCOMPARE(ReadAll(dir + "/copy (restored)"), bytes);
        for (const QByteArray& name : Entries(dir))
            QVERIFY2(!name.startsWith('.'), name.constData());
        QVERIFY(TrashBatch::Last().empty());
        for (const QByteArray& name : Entries(m_root + "/xdg_data_home/Trash/files"))
            QVERIFY2(!name.startsWith('.'), name.constData());
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

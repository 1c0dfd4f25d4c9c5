#include "TrashTestSupport.h"

#include "Trash.h"
#include "TrashBatch.h"

#include <cstdlib>
#include <fcntl.h>
#include <functional>
#include <unistd.h>

using namespace TrashTest;

// Undo as a hostile user would meet it: every claim of the record checked, root and an accomplice.
class TestRestore : public QObject {
    Q_OBJECT

    QByteArray m_root;  // resolved, so it matches the Path= the trash records

    // Moves path to the trash as a batch of its own, recorded for Undo.
    static CTrashedItem TrashAlone(const QByteArray& path)
    {
        TrashBatch::CRecorder record;
        CTrashedItem placed;
        QString error;
        if (!Trashed(MoveToTrash(path, {}, &placed, &record), &error) || !record.Finish(&error))
            qWarning("not trashed: %s", qPrintable(error));
        return placed;
    }
    // Rewrites every item line of the record, as someone else could.
    static void EditRecord(const std::function<void(QByteArrayList&)>& edit)
    {
        QByteArrayList lines = ReadAll(TrashBatch::RecordFile()).split('\n');
        for (qsizetype i = 1; i < lines.size(); ++i) {
            if (lines[i].isEmpty())
                continue;
            QByteArrayList fields = lines[i].split('\t');
            edit(fields);
            lines[i] = fields.join('\t');
        }
        TestSupport::WriteFile(TrashBatch::RecordFile(), lines.join('\n'));
    }
    static QString RestoreReason()
    {
        const TrashBatch::CRestoreResult result = TrashBatch::RestoreLast();
        if (!result.recordError.isEmpty())
            return result.recordError;
        return result.outcomes.size() == 1 && !result.outcomes[0].Restored() ? result.outcomes[0].Reason() : QString();
    }
    static bool IsRoot() { return geteuid() == 0; }
    // Lets the accomplice reach folders below the test's root.
    void OpenUpForAccomplice()
    {
        QCOMPARE(::chmod(m_root.constData(), 0711), 0);
        QCOMPARE(::chmod((m_root + "/work").constData(), 0711), 0);
    }

private slots:
    void initTestCase()
    {
        m_root = ResolvedRoot();
        QVERIFY(!m_root.isEmpty());
    }

    // The record is written around each move, and Undo holds at every point between: a record that cannot
    // be written stops the move (the file stays), and a batch that ended after the rename but before
    // the line was marked (as kill -9 would leave it) is still put back.
    void everyPointOfAMoveCanBeUndone_data()
    {
        QTest::addColumn<int>("point");
        QTest::newRow("record cannot be written") << 0;
        QTest::newRow("ended between the rename and the mark") << 1;
    }
    void everyPointOfAMoveCanBeUndone()
    {
        QFETCH(int, point);
        struct CCutShort : TrashBatch::CRecorder {
            bool withRecord = true;
            int WillMove(const CTrashedItem& item) override { return withRecord ? CRecorder::WillMove(item) : ENOTDIR; }
            void Done(bool) override {}  // the program ended before it marked the line
        } record;
        record.withRecord = point != 0;
        const QByteArray file = m_root + "/work/point" + QByteArray::number(point);
        TestSupport::WriteFile(file, "data");
        QString error;
        const bool moved = Trashed(MoveToTrash(file, {}, nullptr, &record), &error);
        record.Finish(&error);
        QCOMPARE(moved, point != 0);
        if (point == 0) {
            QVERIFY2(error.contains(QLatin1String("cannot be recorded for Undo")), qPrintable(error));
            QCOMPARE(ReadAll(file), QByteArray("data"));
            return;
        }
        const TrashBatch::CRestoreResult result = TrashBatch::RestoreLast();
        QCOMPARE(result.outcomes.size(), size_t(1));
        QVERIFY2(result.outcomes[0].Restored(), qPrintable(result.outcomes[0].Reason()));
        QCOMPARE(ReadAll(file), QByteArray("data"));
    }

    // A record is a list of claims: each one that does not hold is refused and nothing is moved or removed.
    void recordClaimsAreChecked_data()
    {
        QTest::addColumn<int>("field");
        QTest::addColumn<QByteArray>("value");
        QTest::addColumn<QString>("reason");
        QTest::newRow("relative place") << 1 << QByteArray("rel/f") << QStringLiteral("not a plain absolute path");
        QTest::newRow("dot-dot place") << 1 << QByteArray("/claims/sub/../f") << QStringLiteral("not a plain absolute path");
        QTest::newRow("entry outside any trash") << 2 << QByteArray("/claims/fake") << QStringLiteral("not in a trash");
        QTest::newRow("entry name with a slash") << 3 << QByteArray("../files/f") << QStringLiteral("not a name");
        QTest::newRow("another inode") << 5 << QByteArray("1") << QStringLiteral("not the one moved there");
        QTest::newRow("another folder") << 9 << QByteArray("1") << QStringLiteral("folder was replaced");
    }
    void recordClaimsAreChecked()
    {
        QFETCH(int, field);
        QFETCH(QByteArray, value);
        QFETCH(QString, reason);
        const QByteArray dir = m_root + "/work/claims";
        RemoveTree(dir);
        TestSupport::MakeDir(dir);
        TestSupport::MakeDir(dir + "/sub");
        TestSupport::WriteFile(dir + "/f", "mine");
        // A folder laid out like a trash, holding a file that must stay where it is.
        for (const char* sub : {"/fake", "/fake/files", "/fake/info"})
            TestSupport::MakeDir(dir + sub);
        TestSupport::WriteFile(dir + "/fake/files/f", "victim");
        TestSupport::WriteFile(dir + "/fake/info/f.trashinfo", "[Trash Info]\nPath=" + dir + "/f\n");
        const CTrashedItem placed = TrashAlone(dir + "/f");
        QVERIFY(Exists(placed.Entry()));
        const QByteArray claim = value.startsWith("/claims") ? m_root + "/work" + value : value;
        EditRecord([&](QByteArrayList& f) { f[field] = claim.toPercentEncoding("/"); });

        const QByteArray cwd = m_root + "/work/cwd";
        TestSupport::MakeDir(cwd);
        char before[4096];
        QVERIFY(getcwd(before, sizeof before));
        QCOMPARE(chdir(cwd.constData()), 0);
        const QString got = RestoreReason();
        QCOMPARE(chdir(before), 0);
        QVERIFY2(got.contains(reason), qPrintable(got));
        QVERIFY(Entries(cwd).isEmpty());
        QVERIFY(!Exists(dir + "/f"));
        QVERIFY(Exists(placed.Entry()) && Exists(placed.Info()));
        QCOMPARE(ReadAll(dir + "/fake/files/f"), QByteArray("victim"));
        QVERIFY(Exists(dir + "/fake/info/f.trashinfo"));
    }

    // The record must be the user's own regular file in a folder of theirs.
    void recordOfAnotherUserRestoresNothing()
    {
        if (!IsRoot())
            QSKIP("needs root to hand the record to another user");
        const QByteArray dir = m_root + "/work/owner";
        TestSupport::MakeDir(dir);
        TestSupport::MakeFile(dir + "/f", 1);
        const CTrashedItem placed = TrashAlone(dir + "/f");
        const QByteArray record = TrashBatch::RecordFile();
        const QByteArray folder = record.left(record.lastIndexOf('/'));
        QCOMPARE(::chown(record.constData(), TestSupport::kAccomplice, TestSupport::kAccomplice), 0);
        QVERIFY(RestoreReason().contains(QStringLiteral("not a file of yours")));
        QCOMPARE(::chown(record.constData(), 0, 0), 0);
        QCOMPARE(::chown(folder.constData(), TestSupport::kAccomplice, TestSupport::kAccomplice), 0);
        QVERIFY(RestoreReason().contains(QStringLiteral("not yours alone")));
        QCOMPARE(::chown(folder.constData(), 0, 0), 0);
        QCOMPARE(::rename(record.constData(), (dir + "/record").constData()), 0);
        QCOMPARE(::symlink((dir + "/record").constData(), record.constData()), 0);
        QVERIFY(!RestoreReason().isEmpty());
        QVERIFY(!Exists(dir + "/f") && Exists(placed.Entry()));
        QCOMPARE(::unlink(record.constData()), 0);
        QCOMPARE(::rename((dir + "/record").constData(), record.constData()), 0);
        QCOMPARE(RestoreReason(), QString());
        QVERIFY(Exists(dir + "/f"));
    }

    // A name reused in the trash, or an entry swapped for a link, is not what was trashed.
    void reusedNameAndSwappedEntryAreRefused()
    {
        const QByteArray dir = m_root + "/work/reuse";
        TestSupport::MakeDir(dir);
        TestSupport::MakeDir(dir + "/other");
        TestSupport::WriteFile(dir + "/report.txt", "ours");
        TestSupport::WriteFile(dir + "/other/report.txt", "theirs");
        const CTrashedItem ours = TrashAlone(dir + "/report.txt");
        // A file manager empties the trash; another program trashes its own report.txt.
        QCOMPARE(::unlink(ours.Entry().constData()), 0);
        QCOMPARE(::unlink(ours.Info().constData()), 0);
        QString error;
        QVERIFY2(Trashed(MoveToTrash(dir + "/other/report.txt"), &error), qPrintable(error));
        QVERIFY(Exists(ours.Entry()));
        QVERIFY(RestoreReason().contains(QStringLiteral("not the one moved there")));
        QVERIFY(!Exists(dir + "/report.txt"));
        QVERIFY(Exists(ours.Entry()) && Exists(ours.Info()));

        TestSupport::WriteFile(dir + "/secret", "secret");
        TestSupport::WriteFile(dir + "/x", "x");
        const CTrashedItem x = TrashAlone(dir + "/x");
        QCOMPARE(::unlink(x.Entry().constData()), 0);
        QCOMPARE(::symlink((dir + "/secret").constData(), x.Entry().constData()), 0);
        QVERIFY(RestoreReason().contains(QStringLiteral("not the one moved there")));
        QVERIFY(!Exists(dir + "/x"));
        QCOMPARE(ReadAll(dir + "/secret"), QByteArray("secret"));
        // Put back once, a second restore of the same item says so.
        QCOMPARE(::unlink(x.Entry().constData()), 0);
        TestSupport::WriteFile(dir + "/y", "y");
        const CTrashedItem y = TrashAlone(dir + "/y");
        QString reason;
        QVERIFY2(PutBack(y, &reason), qPrintable(reason));
        QVERIFY(!PutBack(y, &reason));
        QVERIFY2(reason.contains(QStringLiteral("already put back")), qPrintable(reason));
    }

    // The accomplice swaps the original folder for a link to a folder only root may write, then for a new folder.
    void restoreNeverFollowsALinkedFolder()
    {
        if (!IsRoot())
            QSKIP("needs root and an unprivileged accomplice");
        OpenUpForAccomplice();
        const QByteArray shared = m_root + "/work/shared";
        const QByteArray rootOnly = m_root + "/work/root-only";
        TestSupport::MakeDir(shared);
        TestSupport::MakeDir(rootOnly);
        QCOMPARE(::chmod(shared.constData(), 0777), 0);
        const QByteArray acc = shared + "/acc";
        QVERIFY(TestSupport::AsAccomplice([&] {
            return mkdir(acc.constData(), 0755) == 0 && close(open((acc + "/f").constData(), O_CREAT | O_WRONLY, 0644)) == 0;
        }));
        const CTrashedItem placed = TrashAlone(acc + "/f");
        QVERIFY(Exists(placed.Entry()));
        QVERIFY(TestSupport::AsAccomplice([&] {
            return rename(acc.constData(), (acc + ".old").constData()) == 0 && symlink(rootOnly.constData(), acc.constData()) == 0;
        }));
        QVERIFY2(RestoreReason().contains(QStringLiteral("now a link")), qPrintable(RestoreReason()));
        QVERIFY(Entries(rootOnly).isEmpty());
        QVERIFY(TestSupport::AsAccomplice([&] { return unlink(acc.constData()) == 0 && mkdir(acc.constData(), 0755) == 0; }));
        QVERIFY(RestoreReason().contains(QStringLiteral("folder was replaced")));
        QVERIFY(Entries(acc).isEmpty());
        QVERIFY(TestSupport::AsAccomplice(
            [&] { return rmdir(acc.constData()) == 0 && rename((acc + ".old").constData(), acc.constData()) == 0; }));
        QCOMPARE(RestoreReason(), QString());
        QVERIFY(Exists(acc + "/f"));
    }

    // On a shared volume .Trash the accomplice owns, they can rename our folder away and plant their own.
    void volumeTrashMustBeOurs()
    {
        if (!IsRoot())
            QSKIP("needs root and an unprivileged accomplice");
        OpenUpForAccomplice();
        const QByteArray vol = m_root + "/work/vol";
        const QByteArray trash = vol + "/.Trash/0";
        TestSupport::MakeDir(vol);
        TestSupport::MakeDir(vol + "/d");
        TestSupport::MakeDir(vol + "/.Trash");
        QCOMPARE(::chmod((vol + "/.Trash").constData(), 01777), 0);
        for (const char* sub : {"", "/files", "/info"})
            TestSupport::MakeDir(trash + sub);
        TestSupport::WriteFile(vol + "/d/f", "ours");
        // Laid out as a volume trash would have it: Path= relative to the volume's top.
        struct stat st {}, folder {};
        QCOMPARE(lstat((vol + "/d/f").constData(), &st), 0);
        QCOMPARE(stat((vol + "/d").constData(), &folder), 0);
        QCOMPARE(::rename((vol + "/d/f").constData(), (trash + "/files/f").constData()), 0);
        TestSupport::WriteFile(trash + "/info/f.trashinfo", "[Trash Info]\nPath=d/f\nDeletionDate=2026-01-01T00:00:00\n");
        CTrashedItem item{vol + "/d/f", trash, "f", {uint64_t(st.st_dev), uint64_t(st.st_ino), S_IFREG, 4},
                          {uint64_t(folder.st_dev), uint64_t(folder.st_ino), true}, {}, {}};
        {
            TrashBatch::CRecorder record;
            QCOMPARE(record.WillMove(item), 0);
            record.Done(true);
        }
        QCOMPARE(::chown((vol + "/.Trash").constData(), TestSupport::kAccomplice, TestSupport::kAccomplice), 0);
        QVERIFY(TestSupport::AsAccomplice([&] {
            bool ok = rename(trash.constData(), (trash + ".old").constData()) == 0;
            for (const char* sub : {"", "/files", "/info"})
                ok = ok && mkdir((trash + sub).constData(), 0700) == 0;
            ok = ok && close(open((trash + "/files/f").constData(), O_CREAT | O_WRONLY, 0644)) == 0;
            const int fd = open((trash + "/info/f.trashinfo").constData(), O_CREAT | O_WRONLY, 0644);
            return ok && write(fd, "[Trash Info]\nPath=d/f\n", 22) == 22 && close(fd) == 0;
        }));
        QVERIFY(!RestoreReason().isEmpty());
        QVERIFY(!Exists(vol + "/d/f"));
        // Our own folder back under an admin's .Trash: now it comes back.
        RemoveTree(trash);
        QCOMPARE(::rename((trash + ".old").constData(), trash.constData()), 0);
        QVERIFY(RestoreReason().contains(QStringLiteral("not yours alone")));
        QCOMPARE(::chown((vol + "/.Trash").constData(), 0, 0), 0);
        QCOMPARE(RestoreReason(), QString());
        QCOMPARE(ReadAll(vol + "/d/f"), QByteArray("ours"));
    }
};

SORVANE_TEST_MAIN(TestRestore)
#include "tst_restore.moc"

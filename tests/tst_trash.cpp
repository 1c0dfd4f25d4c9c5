#include "TestSupport.h"

#include "Trash.h"
#include "TrashBatch.h"

#include <QDateTime>

#include <thread>
#include <atomic>

#include <cstdio>
#include <cstdlib>
#include <dirent.h>
#include <fcntl.h>
#include <ftw.h>
#include <sys/stat.h>
#include <unistd.h>

// Native byte helpers throughout: QFile/QDir cannot reach names that are not UTF-8.
class TestTrash : public QObject {
    Q_OBJECT

    QByteArray m_root;  // resolved, so it matches the Path= the trash records

    QByteArray Trash() const { return m_root + "/xdg_data_home/Trash"; }
    static bool Exists(const QByteArray& path)
    {
        struct stat st {};
        return lstat(path.constData(), &st) == 0;
    }
    static QByteArray ReadAll(const QByteArray& path)
    {
        QByteArray data;
        if (FILE* f = fopen(path.constData(), "rb")) {
            char buffer[4096];
            for (size_t n; (n = fread(buffer, 1, sizeof buffer, f)) > 0;)
                data.append(buffer, qsizetype(n));
            fclose(f);
        }
        return data;
    }
    static QList<QByteArray> Entries(const QByteArray& dir)
    {
        QList<QByteArray> names;
        if (DIR* d = opendir(dir.constData())) {
            while (const dirent* e = readdir(d))
                if (strcmp(e->d_name, ".") != 0 && strcmp(e->d_name, "..") != 0)
                    names << e->d_name;
            closedir(d);
        }
        return names;
    }
    static void RemoveTree(const QByteArray& path)
    {
        nftw(path.constData(), [](const char* p, const struct stat*, int, FTW*) { return remove(p); }, 16,
             FTW_DEPTH | FTW_PHYS);
    }
    // Checks the trashed entry and that its .trashinfo points back at original.
    void VerifyTrashed(const QByteArray& entry, const QByteArray& original)
    {
        QVERIFY(!Exists(original));
        QVERIFY(Exists(Trash() + "/files/" + entry));
        const QList<QByteArray> lines = ReadAll(Trash() + "/info/" + entry + ".trashinfo").split('\n');
        QCOMPARE(lines.size(), 4);
        QCOMPARE(lines[0], QByteArray("[Trash Info]"));
        QVERIFY(lines[1].startsWith("Path="));
        QCOMPARE(QByteArray::fromPercentEncoding(lines[1].mid(5)), original);
        QVERIFY(lines[2].startsWith("DeletionDate="));
        QCOMPARE(lines[2].size(), 13 + 19);
        QVERIFY(QDateTime::fromString(QString::fromLatin1(lines[2].mid(13)), Qt::ISODate).isValid());
        QVERIFY(lines[3].isEmpty());
    }

    // Moves path to the trash as a batch of its own, recorded for Undo.
    static CTrashedItem TrashAlone(const QByteArray& path)
    {
        TrashBatch::CRecorder record;
        CTrashedItem placed;
        QString error;
        if (!MoveToTrash(path, &error, {}, &placed, &record) || !record.Finish(&error))
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
        return result.outcomes.size() == 1 && !result.outcomes[0].restored ? result.outcomes[0].reason : QString();
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
        char* real = realpath(QFile::encodeName(TestSupport::TempRoot()).constData(), nullptr);
        QVERIFY(real);
        m_root = real;
        free(real);
        TestSupport::MakeDir(m_root + "/work");
        QCOMPARE(HomeTrashFolder(), m_root + "/xdg_data_home/Trash");
    }
    void cleanupTestCase() { RemoveTree(Trash()); }

    void plainFileAndOddNamesKeepTheirBytes_data()
    {
        QTest::addColumn<QByteArray>("name");
        QTest::addColumn<QByteArray>("encoded");
        QTest::newRow("plain") << QByteArray("plain.txt") << QByteArray("plain.txt");
        QTest::newRow("not utf-8") << QByteArray("bad\xff\xfe") << QByteArray("bad%FF%FE");
        QTest::newRow("reserved") << QByteArray("50% #1?&") << QByteArray("50%25%20%231%3F%26");
    }
    void plainFileAndOddNamesKeepTheirBytes()
    {
        QFETCH(QByteArray, name);
        QFETCH(QByteArray, encoded);
        const QByteArray path = m_root + "/work/" + name;
        TestSupport::MakeFile(path, 3);
        QString error;
        QVERIFY2(MoveToTrash(path, &error), qPrintable(error));
        VerifyTrashed(name, path);
        const QByteArray info = ReadAll(Trash() + "/info/" + name + ".trashinfo");
        QVERIFY2(info.contains("/work/" + encoded + "\n"), info.constData());
    }

    void folderMovesWithItsContentsAndLinksMoveAsThemselves()
    {
        const QByteArray dir = m_root + "/work/folder";
        TestSupport::MakeDir(dir);
        TestSupport::MakeDir(dir + "/sub");
        TestSupport::MakeFile(dir + "/sub/data", 7);
        QString error;
        QVERIFY2(MoveToTrash(dir + "/", &error), qPrintable(error));
        VerifyTrashed("folder", dir);
        QCOMPARE(ReadAll(Trash() + "/files/folder/sub/data").size(), 7);

        // Dangling on purpose: following the link anywhere would fail.
        QCOMPARE(symlink("gone", (m_root + "/work/link").constData()), 0);
        QVERIFY2(MoveToTrash(m_root + "/work/link/", &error), qPrintable(error));
        VerifyTrashed("link", m_root + "/work/link");
        struct stat st {};
        QCOMPARE(lstat((Trash() + "/files/link").constData(), &st), 0);
        QVERIFY(S_ISLNK(st.st_mode));
    }

    void sameNamesGetUniqueEntries()
    {
        QList<QByteArray> originals;
        for (const char* folder : {"/work/a", "/work/b", "/work/c"}) {
            TestSupport::MakeDir(m_root + folder);
            originals << m_root + folder + "/same";
            TestSupport::MakeFile(originals.last());
        }
        // A stray entry in files/ without its .trashinfo must not be overwritten either.
        TestSupport::MakeFile(Trash() + "/files/same.2", 5);
        QString error;
        for (const QByteArray& path : originals)
            QVERIFY2(MoveToTrash(path, &error), qPrintable(error));
        VerifyTrashed("same", originals[0]);
        VerifyTrashed("same.3", originals[1]);
        VerifyTrashed("same.4", originals[2]);
        QCOMPARE(ReadAll(Trash() + "/files/same.2").size(), 5);
        QVERIFY(!Exists(Trash() + "/info/same.2.trashinfo"));
    }

    void missingDataFolderIsMadeAndNothingLandsInTheWorkingFolder()
    {
        const QByteArray cwd = m_root + "/cwd";
        TestSupport::MakeDir(cwd);
        char before[4096];
        QVERIFY(getcwd(before, sizeof before));
        QCOMPARE(chdir(cwd.constData()), 0);
        RemoveTree(m_root + "/xdg_data_home");
        const QByteArray path = m_root + "/work/late";
        TestSupport::MakeFile(path);
        QString error;
        const bool moved = MoveToTrash(path, &error);
        QCOMPARE(chdir(before), 0);
        QVERIFY2(moved, qPrintable(error));
        VerifyTrashed("late", path);
        QVERIFY(Entries(cwd).isEmpty());
        struct stat st {};
        QCOMPARE(stat((m_root + "/xdg_data_home").constData(), &st), 0);
        QCOMPARE(st.st_mode & 07777, mode_t(0700));
    }

    void failuresLeaveNoTrashInfo_data()
    {
        QTest::addColumn<QByteArray>("path");
        QTest::addColumn<QString>("reason");
        QTest::newRow("missing") << QByteArray("/work/not-here") << QStringLiteral("No such file or directory");
        QTest::newRow("relative") << QByteArray("work") << QStringLiteral("not absolute");
        // rename itself fails here, after the .trashinfo was claimed.
        QTest::newRow("holds the trash") << QByteArray("/xdg_data_home") << QStringLiteral("it holds the trash");
        QTest::newRow("the trash") << QByteArray("/xdg_data_home/Trash/") << QStringLiteral("part of the trash");
        QTest::newRow("its info") << QByteArray("/xdg_data_home/Trash/info") << QStringLiteral("part of the trash");
        QTest::newRow("an entry") << QByteArray("/xdg_data_home/Trash/files/kept") << QStringLiteral("part of the trash");
        QTest::newRow("volume trash") << QByteArray("/work/.Trash-1000/files/x") << QStringLiteral("part of a trash");
        QTest::newRow("shared trash") << QByteArray("/work/.Trash/0") << QStringLiteral("part of a trash");
    }
    void failuresLeaveNoTrashInfo()
    {
        QFETCH(QByteArray, path);
        QFETCH(QString, reason);
        TestSupport::MakeDir(Trash());
        TestSupport::MakeDir(Trash() + "/info");
        TestSupport::MakeDir(Trash() + "/files");
        TestSupport::MakeFile(Trash() + "/files/kept");
        for (const QByteArray dir : {"/work/.Trash-1000", "/work/.Trash-1000/files", "/work/.Trash", "/work/.Trash/0"})
            TestSupport::MakeDir(m_root + dir);
        TestSupport::MakeFile(m_root + "/work/.Trash-1000/files/x");
        const auto infos = Entries(Trash() + "/info");
        QString error;
        QVERIFY(!MoveToTrash(path.startsWith('/') ? m_root + path : path, &error));
        QVERIFY2(error.contains(reason), qPrintable(error));
        QCOMPARE(Entries(Trash() + "/info"), infos);
        QVERIFY(Exists(m_root + "/xdg_data_home"));
        if (path.startsWith('/'))
            QVERIFY(Exists(m_root + path) || path.endsWith("not-here"));
    }

    // A batch comes back byte for byte with its modes and times; what is in the way stays untouched.
    void lastBatchIsRestored()
    {
        const QByteArray dir = m_root + "/work/batch";
        TestSupport::MakeDir(dir);
        const QByteArrayList names = {"odd\xff", "new\nline", QByteArray(255, 'n'), "-x $(y)", "taken"};
        std::vector<CTrashedItem> batch;
        TrashBatch::CRecorder record;
        for (const QByteArray& name : names) {
            TestSupport::MakeFile(dir + "/" + name, name.size());
            QCOMPARE(::chmod((dir + "/" + name).constData(), 0640), 0);
            const struct timespec times[2] = {{1000000, 5}, {2000000, 7}};
            QCOMPARE(::utimensat(AT_FDCWD, (dir + "/" + name).constData(), times, AT_SYMLINK_NOFOLLOW), 0);
            CTrashedItem placed;
            QString error;
            QVERIFY2(MoveToTrash(dir + "/" + name, &error, {}, &placed, &record), qPrintable(error));
            QCOMPARE(placed.original, dir + "/" + name);
            batch.push_back(placed);
        }
        QString error;
        QVERIFY2(record.Finish(&error), qPrintable(error));
        TestSupport::MakeFile(dir + "/taken", 99);  // something new where one of them was

        // Read back from the file, as after a restart.
        QCOMPARE(TrashBatch::Last().size(), batch.size());
        const auto outcomes = TrashBatch::RestoreLast().outcomes;
        QCOMPARE(outcomes.size(), names.size());
        for (int i = 0; i < names.size(); ++i) {
            const QByteArray path = dir + "/" + names[i];
            struct stat st {};
            QCOMPARE(lstat(path.constData(), &st), 0);
            if (names[i] == "taken") {
                QVERIFY(!outcomes[size_t(i)].restored);
                QVERIFY(outcomes[size_t(i)].reason.contains(QStringLiteral("stays in the trash")));
                QCOMPARE(st.st_size, off_t(99));
                QVERIFY(Exists(batch[size_t(i)].Entry()) && Exists(batch[size_t(i)].Info()));
                continue;
            }
            QVERIFY(outcomes[size_t(i)].restored);
            QCOMPARE(st.st_size, off_t(names[i].size()));
            QCOMPARE(st.st_mode & 07777, mode_t(0640));
            QCOMPARE(st.st_mtim.tv_sec, time_t(2000000));
            QCOMPARE(st.st_mtim.tv_nsec, 7L);
            QVERIFY(!Exists(batch[size_t(i)].Info()));
        }
        // Only the one still in the trash is left to restore; once it is gone, nothing is.
        QCOMPARE(TrashBatch::Last().size(), size_t(1));
        QCOMPARE(::unlink((dir + "/taken").constData()), 0);
        QVERIFY(TrashBatch::RestoreLast().outcomes.front().restored);
        QVERIFY(TrashBatch::Last().empty());
        QVERIFY(TrashBatch::RestoreLast().outcomes.empty());
        QVERIFY(!Exists(TrashBatch::RecordFile()));
    }

    // A folder swapped for a link after the listing: the item now there is not the listed one.
    void swappedFolderIsRefused()
    {
        const QByteArray listed = m_root + "/work/listed";
        const QByteArray other = m_root + "/work/other";
        TestSupport::MakeDir(listed);
        TestSupport::MakeDir(other);
        TestSupport::MakeFile(listed + "/a", 1);
        TestSupport::MakeFile(other + "/a", 2);
        const CFileIdentity identity = ReadIdentity(listed + "/a");
        QVERIFY(identity.known);
        QCOMPARE(::rename(listed.constData(), (listed + ".moved").constData()), 0);
        QCOMPARE(::symlink(other.constData(), listed.constData()), 0);
        QString error;
        QVERIFY(!MoveToTrash(listed + "/a", &error, identity));
        QVERIFY2(error.contains(QStringLiteral("replaced")), qPrintable(error));
        QVERIFY(Exists(other + "/a"));
        // The listed file itself, reached where it now is, still moves.
        QVERIFY2(MoveToTrash(listed + ".moved/a", &error, identity), qPrintable(error));
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
        QVERIFY2(MoveToTrash(dir + "/other/report.txt", &error), qPrintable(error));
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
                          {uint64_t(folder.st_dev), uint64_t(folder.st_ino), true}};
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

    // A folder on the path keeps swapping with a link while its files are trashed: every .trashinfo
    // must name the folder its item really left.
    void trashInfoNamesTheFolderReallyLeft()
    {
        const QByteArray dir = m_root + "/work/swap";
        TestSupport::MakeDir(dir);
        TestSupport::MakeDir(dir + "/A");
        TestSupport::MakeDir(dir + "/B");
        QCOMPARE(::symlink("B", (dir + "/link").constData()), 0);
        const int count = 400;
        for (int i = 0; i < count; ++i) {
            TestSupport::WriteFile(dir + "/A/f" + QByteArray::number(i), "A");
            TestSupport::WriteFile(dir + "/B/f" + QByteArray::number(i), "B");
        }
        std::atomic<bool> done{false};
        std::thread swapper([&] {
            while (!done)
                renameat2(AT_FDCWD, (dir + "/A").constData(), AT_FDCWD, (dir + "/link").constData(), RENAME_EXCHANGE);
        });
        QList<CTrashedItem> moved;
        for (int i = 0; i < count; ++i) {
            CTrashedItem placed;
            QString error;
            if (MoveToTrash(dir + "/A/f" + QByteArray::number(i), &error, {}, &placed))
                moved << placed;
        }
        done = true;
        swapper.join();
        QVERIFY(!moved.isEmpty());
        for (const CTrashedItem& item : moved) {
            const QByteArray from = ReadAll(item.Entry());
            const QByteArray path = QByteArray::fromPercentEncoding(ReadAll(item.Info()).split('\n')[1].mid(5));
            QCOMPARE(path.mid(dir.size() + 1, 1), from);
            QCOMPARE(path, item.original);
            QCOMPARE(::unlink(item.Entry().constData()), 0);
            QCOMPARE(::unlink(item.Info().constData()), 0);
        }
    }

    // A .trashinfo is never seen half written, and a temporary never stays behind.
    void infoFilesAppearWhole()
    {
        const QByteArray dir = m_root + "/work/whole";
        TestSupport::MakeDir(dir);
        TestSupport::MakeFile(dir + "/f", 1);
        const QList<QByteArray> before = Entries(Trash() + "/info");
        QString error;
        QVERIFY2(MoveToTrash(dir + "/f", &error), qPrintable(error));
        QList<QByteArray> added = Entries(Trash() + "/info");
        for (const QByteArray& name : before)
            added.removeOne(name);
        QCOMPARE(added.size(), 1);
        QVERIFY(added[0].startsWith("f.") && added[0].endsWith(".trashinfo"));
    }
};

SORVANE_TEST_MAIN(TestTrash)
#include "tst_trash.moc"

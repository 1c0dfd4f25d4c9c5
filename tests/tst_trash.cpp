#include "TrashTestSupport.h"

#include "Trash.h"
#include "TrashBatch.h"

#include <QDateTime>
#include <QProcess>

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
using namespace TrashTest;

class TestTrash : public QObject {
    Q_OBJECT

    QByteArray m_root;  // resolved, so it matches the Path= the trash records

    QByteArray Trash() const { return m_root + "/xdg_data_home/Trash"; }
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

private slots:
    void initTestCase()
    {
        m_root = ResolvedRoot();
        QVERIFY(!m_root.isEmpty());
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
        QVERIFY2(Trashed(MoveToTrash(path), &error), qPrintable(error));
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
        QVERIFY2(Trashed(MoveToTrash(dir + "/"), &error), qPrintable(error));
        VerifyTrashed("folder", dir);
        QCOMPARE(ReadAll(Trash() + "/files/folder/sub/data").size(), 7);

        // Dangling on purpose: following the link anywhere would fail.
        QCOMPARE(symlink("gone", (m_root + "/work/link").constData()), 0);
        QVERIFY2(Trashed(MoveToTrash(m_root + "/work/link/"), &error), qPrintable(error));
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
            QVERIFY2(Trashed(MoveToTrash(path), &error), qPrintable(error));
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
        const bool moved = Trashed(MoveToTrash(path), &error);
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
        QTest::addColumn<QByteArray>("mount");  // a tmpfs mounted there for the row (root only)
        // Emptying the trash would delete the mounted file system's files.
        QTest::newRow("holds a mount point") << QByteArray("/work/holder") << QStringLiteral("it holds a mount point, ")
                                             << QByteArray("/work/holder/deep/m");
        QTest::newRow("a mount point") << QByteArray("/work/holder/deep/m") << QStringLiteral("a mount point cannot")
                                       << QByteArray("/work/holder/deep/m");
        QTest::newRow("missing") << QByteArray("/work/not-here") << QStringLiteral("No such file or directory") << QByteArray();
        QTest::newRow("relative") << QByteArray("work") << QStringLiteral("not absolute") << QByteArray();
        // rename itself fails here, after the .trashinfo was claimed.
        QTest::newRow("holds the trash") << QByteArray("/xdg_data_home") << QStringLiteral("it holds the trash") << QByteArray();
        QTest::newRow("the trash") << QByteArray("/xdg_data_home/Trash/") << QStringLiteral("part of the trash") << QByteArray();
        QTest::newRow("its info") << QByteArray("/xdg_data_home/Trash/info") << QStringLiteral("part of the trash") << QByteArray();
        QTest::newRow("an entry") << QByteArray("/xdg_data_home/Trash/files/kept") << QStringLiteral("part of the trash") << QByteArray();
        QTest::newRow("volume trash") << QByteArray("/work/.Trash-1000/files/x") << QStringLiteral("part of a trash") << QByteArray();
        QTest::newRow("shared trash") << QByteArray("/work/.Trash/0") << QStringLiteral("part of a trash") << QByteArray();
    }
    void failuresLeaveNoTrashInfo()
    {
        QFETCH(QByteArray, path);
        QFETCH(QString, reason);
        QFETCH(QByteArray, mount);
        struct CTmpfs {
            QByteArray at;
            ~CTmpfs() { QProcess::execute(QStringLiteral("umount"), {QFile::decodeName(at)}); }
        } tmpfs{mount.isEmpty() ? QByteArray() : m_root + mount};
        if (!mount.isEmpty()) {
            if (geteuid() != 0)
                QSKIP("mounting a file system needs root");
            for (const char* d : {"/work/holder", "/work/holder/deep", "/work/holder/deep/m"})
                TestSupport::MakeDir(m_root + d);
            if (QProcess::execute(QStringLiteral("mount"), {QStringLiteral("-t"), QStringLiteral("tmpfs"), QStringLiteral("tmpfs"),
                                                            QFile::decodeName(tmpfs.at)}) != 0)
                QSKIP("a tmpfs could not be mounted here");
        }
        TestSupport::MakeDir(Trash());
        TestSupport::MakeDir(Trash() + "/info");
        TestSupport::MakeDir(Trash() + "/files");
        TestSupport::MakeFile(Trash() + "/files/kept");
        for (const QByteArray dir : {"/work/.Trash-1000", "/work/.Trash-1000/files", "/work/.Trash", "/work/.Trash/0"})
            TestSupport::MakeDir(m_root + dir);
        TestSupport::MakeFile(m_root + "/work/.Trash-1000/files/x");
        const auto infos = Entries(Trash() + "/info");
        QString error;
        QVERIFY(!Trashed(MoveToTrash(path.startsWith('/') ? m_root + path : path), &error));
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
            QVERIFY2(Trashed(MoveToTrash(dir + "/" + name, {}, &placed, &record), &error), qPrintable(error));
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
                QVERIFY(!outcomes[size_t(i)].Restored());
                QVERIFY(outcomes[size_t(i)].Reason().contains(QStringLiteral("stays in the trash")));
                QCOMPARE(st.st_size, off_t(99));
                QVERIFY(Exists(batch[size_t(i)].Entry()) && Exists(batch[size_t(i)].Info()));
                continue;
            }
            QVERIFY(outcomes[size_t(i)].Restored());
            QCOMPARE(st.st_size, off_t(names[i].size()));
            QCOMPARE(st.st_mode & 07777, mode_t(0640));
            QCOMPARE(st.st_mtim.tv_sec, time_t(2000000));
            QCOMPARE(st.st_mtim.tv_nsec, 7L);
            QVERIFY(!Exists(batch[size_t(i)].Info()));
        }
        // Only the one still in the trash is left to restore; once it is gone, nothing is.
        QCOMPARE(TrashBatch::Last().size(), size_t(1));
        QCOMPARE(::unlink((dir + "/taken").constData()), 0);
        QVERIFY(TrashBatch::RestoreLast().outcomes.front().Restored());
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
        struct stat st {};
        QCOMPARE(lstat((listed + "/a").constData(), &st), 0);
        const CFileIdentity identity{uint64_t(st.st_dev), uint64_t(st.st_ino), true};
        QCOMPARE(::rename(listed.constData(), (listed + ".moved").constData()), 0);
        QCOMPARE(::symlink(other.constData(), listed.constData()), 0);
        QString error;
        QVERIFY(!Trashed(MoveToTrash(listed + "/a", identity), &error));
        QVERIFY2(error.contains(QStringLiteral("replaced")), qPrintable(error));
        QVERIFY(Exists(other + "/a"));
        // The listed file itself, reached where it now is, still moves.
        QVERIFY2(Trashed(MoveToTrash(listed + ".moved/a", identity), &error), qPrintable(error));
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
            if (Trashed(MoveToTrash(dir + "/A/f" + QByteArray::number(i), {}, &placed), &error))
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
        QVERIFY2(Trashed(MoveToTrash(dir + "/f"), &error), qPrintable(error));
        QList<QByteArray> added = Entries(Trash() + "/info");
        for (const QByteArray& name : before)
            added.removeOne(name);
        QCOMPARE(added.size(), 1);
        QVERIFY(added[0].startsWith("f.") && added[0].endsWith(".trashinfo"));
    }
};

SORVANE_TEST_MAIN(TestTrash)
#include "tst_trash.moc"

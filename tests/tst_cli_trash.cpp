#include "CliTestSupport.h"

#include "OptionsStore.h"

#include <QDir>
#include <QFileInfo>

#include <sys/file.h>
#include <sys/stat.h>

// The command line's trash and Undo: what it moves it records as it goes, and puts back exactly.
class TestCliTrash : public QObject {
    Q_OBJECT

private slots:
    // What the command line trashes, it or the window can put back; the trash itself is refused.
    void trashAndRestore()
    {
        const QByteArray dir = QFile::encodeName(TestSupport::TempRoot()) + "/trashcli";
        TestSupport::MakeDir(dir);
        const QByteArrayList names = {"new\nline", QByteArray(255, 'x'), "-dash"};
        for (const QByteArray& n : names)
            TestSupport::MakeFile(dir + "/" + n, 3);
        CRun r = Run({QStringLiteral("--trash"), QFile::decodeName(names[0]), QFile::decodeName(names[1]),
                      QStringLiteral("--"), QStringLiteral("missing")},
                     QFile::decodeName(dir));
        QCOMPARE(r.exitCode, 1);
        QVERIFY2(r.out.startsWith("trashed: " + dir + "/new\\nline\ntrashed: "), r.out.constData());
        QVERIFY(r.out.contains("not trashed: missing: "));
        QVERIFY(!QFile::exists(QFile::decodeName(dir + "/" + names[1])));
        r = Run({QStringLiteral("--restore-last")});
        QCOMPARE(r.exitCode, 0);
        QCOMPARE(r.out.count("restored: "), 2);
        for (const QByteArray& n : names)
            QVERIFY(QFile::exists(QFile::decodeName(dir + "/" + n)));
        QCOMPARE(Run({QStringLiteral("--restore-last")}).out, QByteArray("nothing to restore\n"));
        r = Run({QStringLiteral("--trash"), TestSupport::TempRoot() + QStringLiteral("/xdg_data_home/Trash")});
        QCOMPARE(r.exitCode, 1);
        QVERIFY(r.out.contains("it is part of the trash"));
    }
    // kill -9 in the middle of a batch: Undo puts back exactly what moved, the previous batch stays in
    // the trash, every line was printed as it happened and no .trashinfo is left empty.
    void interruptedBatchIsUndoneExactly()
    {
        const QByteArray dir = QFile::encodeName(TestSupport::TempRoot()) + "/interrupted";
        TestSupport::MakeDir(dir);
        TestSupport::MakeFile(dir + "/previous", 1);
        QCOMPARE(Run({QStringLiteral("--trash"), QFile::decodeName(dir + "/previous")}).exitCode, 0);
        QStringList args = {QStringLiteral("--trash")};
        const int count = 2000;
        // Long names fill the pipe we stop reading, so the batch is still under way when it is killed.
        const auto name = [&](int i) { return dir + "/f" + QByteArray::number(i) + QByteArray(200, 'x'); };
        for (int i = 0; i < count; ++i) {
            TestSupport::MakeFile(name(i), 1);
            args << QFile::decodeName(name(i));
        }
        int status = 0;
        const QByteArray printed = KillAfterLines(args, dir + ".err", 100, 200, &status);
        QCOMPARE(status, 1000 + SIGKILL);
        int moved = 0;
        for (int i = 0; i < count; ++i)
            moved += QFile::exists(QFile::decodeName(name(i))) ? 0 : 1;
        QVERIFY(moved >= printed.count("trashed: "));
        QVERIFY(moved < count);

        const QDir info(TestSupport::TempRoot() + QStringLiteral("/xdg_data_home/Trash/info"));
        for (const QFileInfo& f : info.entryInfoList(QDir::Files | QDir::Hidden))
            QVERIFY2(f.size() > 0 && f.fileName().endsWith(QLatin1String(".trashinfo")), qPrintable(f.fileName()));
        const CRun r = Run({QStringLiteral("--restore-last")});
        QCOMPARE(r.exitCode, 0);
        QCOMPARE(int(r.out.count("restored: ")), moved);
        for (int i = 0; i < count; ++i)
            QVERIFY(QFile::exists(QFile::decodeName(name(i))));
        QVERIFY(!QFile::exists(QFile::decodeName(dir + "/previous")));
    }

    // Protected folders hold on the command line too: a file below one, or a folder that is or holds one,
    // is refused unless --allow-protected; --protect adds one for a run. Each line names what the path
    // resolved to when the command started.
    void protectedFoldersAreRefused_data()
    {
        QTest::addColumn<QStringList>("args");
        QTest::addColumn<QByteArray>("said");
        QTest::addColumn<QByteArray>("stays");
        QTest::newRow("a file in one") << QStringList{"--trash", "outer/prot/a"} << QByteArray("not trashed: outer/prot/a: it is in a protected folder") << QByteArray("outer/prot/a");
        QTest::newRow("the folder") << QStringList{"--trash", "outer/prot"} << QByteArray("it is or holds a protected folder") << QByteArray("outer/prot/a");
        QTest::newRow("a folder holding one") << QStringList{"--trash", "outer"} << QByteArray("it is or holds a protected folder") << QByteArray("outer/prot/a");
        QTest::newRow("a link's copy") << QStringList{"--link", "keep", "outer/prot/a"} << QByteArray("not linked: outer/prot/a: it is in a protected folder") << QByteArray("outer/prot/a");
        QTest::newRow("for one run") << QStringList{"--protect", "other", "--trash", "other/b"} << QByteArray("it is in a protected folder") << QByteArray("other/b");
        QTest::newRow("allowed") << QStringList{"--allow-protected", "--trash", "via/a"} << QByteArray("trashed: %ROOT%/outer/prot/a\n") << QByteArray();
    }
    void protectedFoldersAreRefused()
    {
        QFETCH(QStringList, args);
        QFETCH(QByteArray, said);
        QFETCH(QByteArray, stays);
        static int run = 0;
        QByteArray dir = QFile::encodeName(TestSupport::TempRoot()) + "/protected" + QByteArray::number(++run);
        for (const char* sub : {"", "/outer", "/outer/prot", "/other"})
            TestSupport::MakeDir(dir + sub);
        if (char* real = realpath(dir.constData(), nullptr)) {
            dir = real;
            free(real);
        }
        for (const char* name : {"/outer/prot/a", "/other/b", "/keep"})
            TestSupport::WriteFile(dir + name, "same");
        QCOMPARE(symlink("outer/prot", (dir + "/via").constData()), 0);
        COptionsStore().WriteBytes(QLatin1String(Opt::ProtectedFolders), (dir + "/outer/prot").toPercentEncoding("/"));
        const CRun r = Run(args, QFile::decodeName(dir));
        said.replace("%ROOT%", dir);
        QVERIFY2(r.out.contains(said), r.out.constData());
        QCOMPARE(r.exitCode, stays.isEmpty() ? 0 : 1);
        if (!stays.isEmpty())
            QVERIFY(QFile::exists(QFile::decodeName(dir + "/" + stays)));
        COptionsStore().WriteBytes(QLatin1String(Opt::ProtectedFolders), QByteArray());
    }

    // A batch started while a restore holds the record waits for it, so neither loses the other's record;
    // a batch whose record cannot be written moves nothing.
    void batchesNeverLoseARecord()
    {
        const QByteArray dir = QFile::encodeName(TestSupport::TempRoot()) + "/overlap";
        TestSupport::MakeDir(dir);
        TestSupport::WriteFile(dir + "/f", "f");
        const QByteArray state = QFile::encodeName(TestSupport::TempRoot()) + "/xdg_state_home";
        TestSupport::MakeDir(state);
        TestSupport::MakeDir(state + "/sorvane");
        QCOMPARE(::chmod((state + "/sorvane").constData(), 0700), 0);
        const int lock = open((state + "/sorvane/last-trash-batch.lock").constData(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
        QVERIFY(lock >= 0 && flock(lock, LOCK_EX) == 0);  // as a restore under way holds it
        QProcess batch;
        batch.start(QStringLiteral(SORVANE_CLI), {QStringLiteral("--trash"), QFile::decodeName(dir + "/f")});
        QVERIFY(batch.waitForStarted());
        QVERIFY(!batch.waitForFinished(700));
        QVERIFY(QFile::exists(QFile::decodeName(dir + "/f")));
        close(lock);
        QVERIFY(batch.waitForFinished(20000));
        QCOMPARE(batch.exitCode(), 0);
        QVERIFY(!QFile::exists(QFile::decodeName(dir + "/f")));
        QCOMPARE(Run({QStringLiteral("--restore-last")}).out, "restored: " + dir + "/f\n");

        // A state folder that is a file: the record cannot be written, so the file stays.
        const QByteArray stateHome = qgetenv("XDG_STATE_HOME");
        TestSupport::WriteFile(dir + "/statefile", "");
        qputenv("XDG_STATE_HOME", dir + "/statefile");
        const CRun r = Run({QStringLiteral("--trash"), QFile::decodeName(dir + "/f")});
        qputenv("XDG_STATE_HOME", stateHome);
        QCOMPARE(r.exitCode, 1);
        QVERIFY2(r.out.contains("cannot be recorded for Undo"), r.out.constData());
        QVERIFY(QFile::exists(QFile::decodeName(dir + "/f")));
    }

    // An empty path is a mistake, not the working folder; a link to a folder with a slash is the link.
    void trashArgumentsMeanWhatTheySay()
    {
        const QByteArray dir = QFile::encodeName(TestSupport::TempRoot()) + "/trashargs";
        TestSupport::MakeDir(dir);
        TestSupport::MakeDir(dir + "/target");
        TestSupport::MakeFile(dir + "/target/kept", 1);
        QCOMPARE(symlink("target", (dir + "/dirlink").constData()), 0);
        CRun r = Run({QStringLiteral("--trash"), QString()}, QFile::decodeName(dir));
        QCOMPARE(r.exitCode, 2);
        QVERIFY(QFile::exists(QFile::decodeName(dir + "/target/kept")));
        r = Run({QStringLiteral("--trash"), QStringLiteral("dirlink/")}, QFile::decodeName(dir));
        QVERIFY2(r.exitCode == 0, r.out.constData());
        QVERIFY(!QFileInfo(QFile::decodeName(dir + "/dirlink")).isSymLink());
        QVERIFY(QFile::exists(QFile::decodeName(dir + "/target/kept")));
    }
};

SORVANE_TEST_MAIN(TestCliTrash)
#include "tst_cli_trash.moc"

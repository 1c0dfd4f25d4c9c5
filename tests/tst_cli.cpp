#include "TestSupport.h"

#include "AppTexts.h"

#include <QFile>
#include <QProcess>
#include <QSettings>

#include <csignal>

using TestSupport::MakeDir;
using TestSupport::MakeFile;

namespace {
struct CRun {
    int exitCode = -1;
    QByteArray out;
    QByteArray err;
};

CRun Run(const QStringList& args)
{
    QProcess p;
    p.start(QStringLiteral(SORVANE_CLI), args);
    p.closeWriteChannel();
    p.waitForFinished(60000);
    return {p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1, p.readAllStandardOutput(),
            p.readAllStandardError()};
}

QString SettingsFile()
{
    return TestSupport::TempRoot() + QStringLiteral("/xdg_config_home/Trellane/") + QLatin1String(Res::kAppTitle)
        + QStringLiteral(".conf");
}
}  // namespace

class TestCli : public QObject {
    Q_OBJECT

    QByteArray m_tree;

private slots:
    void initTestCase()
    {
        m_tree = QFile::encodeName(TestSupport::TempRoot()) + "/tree";
        for (const char* d : {"", "/a", "/a/empty", "/.hid", "/b"})
            MakeDir(m_tree + d);
        for (const char* f : {"/top", "/a/one", "/a/two", "/.hid/h", "/.dot", "/b/bad\xff"})
            MakeFile(m_tree + f);
    }

    void statusLinesAndFiles()
    {
        const QString tree = QFile::decodeName(m_tree);
        CRun r = Run({QStringLiteral("--set"), QStringLiteral("ViewFilesCount=1"), tree + QStringLiteral("/")});
        QCOMPARE(r.exitCode, 0);
        QVERIFY(r.err.isEmpty());
        QList<QByteArray> lines = r.out.split('\n');
        QCOMPARE(lines.takeLast(), QByteArray());
        QVERIFY(lines.size() >= 6);
        QVERIFY(lines[0].startsWith("File Listing for Folder " + m_tree + ", Started At "));
        QVERIFY(lines[1].startsWith("File Listing Stopped At ") && lines[1].endsWith("."));
        QCOMPARE(lines[2], QByteArray("4 Folder(s) Parsed. "));
        QCOMPARE(lines[3], QByteArray("1 Folder(s) Ignored. "));
        QCOMPARE(lines[4], QByteArray("1 Folder(s) Do Not Contain Files. "));
        QCOMPARE(lines[5], QByteArray("4 File(s) in File List."));
        QVERIFY(lines.size() == 6 || lines[6].startsWith("It Took Aound "));

        // --files: byte-exact paths on stdout, the status on stderr; -0 ends each with NUL.
        r = Run({QStringLiteral("--files"), tree});
        QCOMPARE(r.exitCode, 0);
        QByteArrayList paths = r.out.split('\n');
        QCOMPARE(paths.takeLast(), QByteArray());
        std::sort(paths.begin(), paths.end());
        QCOMPARE(paths, QByteArrayList({m_tree + "/a/one", m_tree + "/a/two", m_tree + "/b/bad\xff", m_tree + "/top"}));
        QVERIFY(r.err.contains("\n4 File(s) in File List.\n"));
        QVERIFY(!r.err.contains("Do Not Contain"));

        r = Run({QStringLiteral("--files"), QStringLiteral("-0"), QStringLiteral("--set=IgnoreHiddenFiles=0"), tree});
        QCOMPARE(r.out.count('\0'), 5);
        QVERIFY(!r.out.contains('\n'));
        QVERIFY(r.out.contains(m_tree + QByteArray("/.dot\0", 6)));

        r = Run({QStringLiteral("--help")});
        QCOMPARE(r.exitCode, 0);
        QVERIFY(r.out.contains("--set NAME=VALUE") && r.out.contains("IgnoreReadOnlyFiles (default 0)"));
    }

    void storedOptionsAreReadAndOverridesNeverStored()
    {
        {
            QSettings s(QSettings::NativeFormat, QSettings::UserScope, QLatin1String(Res::kOrganisation),
                        QLatin1String(Res::kAppTitle));
            s.setValue(QStringLiteral("Settings/IgnoreHiddenFolders"), 0);
            s.setValue(QStringLiteral("Settings/SearchSubFolders"), QStringLiteral("12abc"));  // reads as 1
        }
        QFile file(SettingsFile());
        QVERIFY(file.open(QIODevice::ReadOnly));
        const QByteArray before = file.readAll();
        file.close();

        CRun r = Run({QStringLiteral("--files"), QFile::decodeName(m_tree)});
        QVERIFY(r.out.contains(m_tree + "/.hid/h\n"));
        r = Run({QStringLiteral("--files"), QStringLiteral("--set"), QStringLiteral("SearchSubFolders=0"),
                 QStringLiteral("--set"), QStringLiteral("InfoBarText=x, y"), QFile::decodeName(m_tree)});
        QCOMPARE(r.out, m_tree + "/top\n");
        QVERIFY(file.open(QIODevice::ReadOnly));
        QCOMPARE(file.readAll(), before);
        QFile::remove(SettingsFile());
    }

    void badInputExitsWithTwo_data()
    {
        QTest::addColumn<QStringList>("args");
        QTest::addColumn<QByteArray>("message");
        const QString tree = QFile::decodeName(m_tree);
        QTest::newRow("missing folder") << QStringList{tree + QStringLiteral("/nope")} << QByteArray("No such file");
        QTest::newRow("a file") << QStringList{tree + QStringLiteral("/top")} << QByteArray("not a folder");
        QTest::newRow("no folder") << QStringList{QStringLiteral("--files")} << QByteArray("no FOLDER");
        QTest::newRow("two folders") << QStringList{tree, tree} << QByteArray("only one FOLDER");
        QTest::newRow("unknown option") << QStringList{QStringLiteral("--fast"), tree} << QByteArray("unknown option");
        QTest::newRow("unknown setting") << QStringList{QStringLiteral("--set"), QStringLiteral("Nope=1"), tree}
                                         << QByteArray("unknown setting 'Nope'");
        QTest::newRow("not a number") << QStringList{QStringLiteral("--set"), QStringLiteral("ViewFilesCount=yes"), tree}
                                      << QByteArray("whole number");
        QTest::newRow("no value") << QStringList{QStringLiteral("--set")} << QByteArray("NAME=VALUE");
    }
    void badInputExitsWithTwo()
    {
        QFETCH(QStringList, args);
        QFETCH(QByteArray, message);
        const CRun r = Run(args);
        QCOMPARE(r.exitCode, 2);
        QVERIFY2(r.err.contains(message), r.err.constData());
        QVERIFY(r.out.isEmpty());
    }

    void interruptStopsAndStillSummarises()
    {
        // Enough output to fill the pipe, so the listing is still running when the signal comes.
        const QByteArray big = QFile::encodeName(TestSupport::TempRoot()) + "/big";
        MakeDir(big);
        const QByteArray longName(120, 'n');
        for (int d = 0; d < 100; ++d) {
            const QByteArray dir = big + "/d" + QByteArray::number(d);
            MakeDir(dir);
            for (int f = 0; f < 100; ++f)
                MakeFile(dir + "/" + longName + QByteArray::number(f));
        }
        QProcess p;
        p.start(QStringLiteral(SORVANE_CLI), {QStringLiteral("--files"), QFile::decodeName(big)});
        QVERIFY(p.waitForReadyRead(30000));
        ::kill(pid_t(p.processId()), SIGINT);
        QVERIFY(p.waitForFinished(30000));
        QCOMPARE(p.exitCode(), 130);
        const QByteArray err = p.readAllStandardError();
        const int listed = int(p.readAllStandardOutput().count('\n'));
        QVERIFY2(listed < 10000, QByteArray::number(listed).constData());
        QVERIFY2(err.contains("\n" + QByteArray::number(listed) + " File(s) in File List.\n"), err.constData());
    }
};

SORVANE_TEST_MAIN(TestCli)
#include "tst_cli.moc"

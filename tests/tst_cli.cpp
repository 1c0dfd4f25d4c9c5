#include "CliTestSupport.h"

#include "AppTexts.h"

#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QSettings>

#include <csignal>
#include <fcntl.h>
#include <spawn.h>
#include <sys/ioctl.h>
#include <sys/mount.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

using TestSupport::MakeDir;
using TestSupport::MakeFile;

namespace {
QString SettingsFile()
{
    return TestSupport::TempRoot() + QStringLiteral("/xdg_config_home/Trellane/") + QLatin1String(Res::kAppTitle)
        + QStringLiteral(".conf");
}
}  // namespace

class TestCli : public QObject {
    Q_OBJECT

    QByteArray m_tree;

    // 10,000 files with long names: more output than a pipe holds.
    static QByteArray BigTree()
    {
        const QByteArray big = QFile::encodeName(TestSupport::TempRoot()) + "/big";
        if (QFile::exists(QFile::decodeName(big)))
            return big;
        MakeDir(big);
        const QByteArray longName(120, 'n');
        for (int d = 0; d < 100; ++d) {
            const QByteArray dir = big + "/d" + QByteArray::number(d);
            MakeDir(dir);
            for (int f = 0; f < 100; ++f)
                MakeFile(dir + "/" + longName + QByteArray::number(f));
        }
        return big;
    }

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
        QTest::newRow("size not read") << QStringList{QStringLiteral("--set"), QStringLiteral("MaximumFileSize=1 TX"), tree}
                                       << QByteArray("MaximumFileSize: '1 TX' is not a size");
        QTest::newRow("minimum above maximum")
            << QStringList{QStringLiteral("--set=MinimumFileSize=2KB"), QStringLiteral("--set=MaximumFileSize=2047"), tree}
            << QByteArray("lies above MaximumFileSize");
        QTest::newRow("pattern with a slash") << QStringList{QStringLiteral("--set"), QStringLiteral("SkipNames=a/*"), tree}
                                              << QByteArray("holds a '/'");
        QTest::newRow("reference alone") << QStringList{QStringLiteral("--reference"), tree, tree}
                                         << QByteArray("--reference only applies with --duplicates");
        QTest::newRow("no folder listable") << QStringList{tree + QStringLiteral("/nope"), tree + QStringLiteral("/top")}
                                            << QByteArray("/nope': No such file or directory\nsorvane-cli: cannot list '" + m_tree + "/top': not a folder\nTry");
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

    // Several folders are grouped together, each listed once; a reference folder's own groups are
    // never printed, and with one folder nothing changes.
    void severalFoldersAndReferences()
    {
        const QByteArray dir = QFile::encodeName(TestSupport::TempRoot()) + "/several";
        for (const char* sub : {"", "/a", "/a/in", "/b", "/ref"})
            MakeDir(dir + sub);
        for (const auto& [name, text] : {std::pair<const char*, const char*>{"/a/x", "1234"}, {"/a/in/x2", "1234"},
                                         {"/b/x", "1234"}, {"/b/y", "123456"}, {"/ref/y", "123456"},
                                         {"/ref/z1", "1234567"}, {"/ref/z2", "1234567"}})
            TestSupport::WriteFile(dir + name, text);
        const QString a = QFile::decodeName(dir + "/a"), b = QFile::decodeName(dir + "/b");
        CRun r = Run({QStringLiteral("--duplicates"), a + QStringLiteral("/in"), a, b, b + QStringLiteral("/."),
                      QFile::decodeName(dir + "/gone")});
        QCOMPARE(r.exitCode, 1);
        QCOMPARE(r.out.count('\n'), 3);  // a/x, a/in/x2 and b/x: copies inside a folder and between two
        QVERIFY(r.err.startsWith("sorvane-cli: cannot list '" + dir + "/gone': No such file or directory\n"
                                 "sorvane-cli: '" + dir + "/a/in' lies inside '" + dir + "/a': listed once, as part of it\n"
                                 "sorvane-cli: '" + dir + "/b/.' is the same folder as '" + dir + "/b': listed once\n"
                                 "File Listing for Folder " + dir + "/a, Started At "));
        // A listing that crosses a second adds how long it took.
        const QRegularExpression secondStarts(QRegularExpression::escape(QStringLiteral("\n2 File(s) in File List.\n"))
                                              + QStringLiteral("(It Took Aound [^\n]*\n)?")
                                              + QRegularExpression::escape(QStringLiteral("File Listing for Folder ") + QFile::decodeName(dir)
                                                                           + QStringLiteral("/b, Started At ")));
        QVERIFY2(QString::fromUtf8(r.err).contains(secondStarts), r.err.constData());
        QVERIFY(r.err.endsWith("\n1 Group(s), 3 File(s), 8 Byte(s) Reclaimable.\n"));

        // The reference's own pair (z1, z2) is left out; its y pairs with b's, which alone is reclaimable.
        for (const char* mode : {"", "--contents"}) {
            QStringList args{QStringLiteral("--duplicates"), QStringLiteral("--stats"), b, QStringLiteral("--reference"),
                             QFile::decodeName(dir + "/ref")};
            if (*mode)
                args << QLatin1String(mode);
            r = Run(args);
            QCOMPARE(r.exitCode, 0);
            QVERIFY2(!r.out.contains("z1") && r.out.contains("\ty\t" + dir + "/ref/\t6\t"), r.out.constData());
            QCOMPARE(r.out.count('\n'), 2);
            QVERIFY2(r.err.contains("outside reference folders " + QByteArray::number(r.out.count('\n')) + " files"), r.err.constData());
            QVERIFY2(r.err.contains("1 Group(s), 2 File(s), 6 Byte(s) Reclaimable.\n"), r.err.constData());
        }
        // A reference inside a listed folder is named as that folder's paths read.
        r = Run({QStringLiteral("--duplicates"), QFile::decodeName(dir), QStringLiteral("--reference=") + QFile::decodeName(dir + "/ref/")});
        QVERIFY2(!r.out.contains("z1") && r.out.contains("\ty\t"), r.out.constData());
        QVERIFY(r.err.contains("'" + dir + "/ref/' lies inside '" + dir + "': listed once, as part of it\n"));
    }

    void dotAndDotDotAreResolved()
    {
        const QString tree = QFile::decodeName(m_tree);
        const CRun plain = Run({QStringLiteral("--files"), tree});
        QCOMPARE(plain.exitCode, 0);
        QVERIFY(QFile::link(tree + QStringLiteral("/a"), TestSupport::TempRoot() + QStringLiteral("/link")));
        const QList<QPair<QString, QString>> cases = {
            {QStringLiteral(".."), tree + QStringLiteral("/a")},
            {QStringLiteral("."), tree},
            {QStringLiteral("a/../."), tree},
            {QStringLiteral("a/empty/../../"), tree},
            {TestSupport::TempRoot() + QStringLiteral("/link/.."), QString()},  // the link's target's parent
        };
        for (const auto& [arg, cwd] : cases) {
            const CRun r = Run({QStringLiteral("--files"), arg}, cwd);
            QCOMPARE(r.exitCode, 0);
            QCOMPARE(r.out, plain.out);
            QVERIFY(r.err.startsWith("File Listing for Folder " + m_tree + ", Started At "));
        }
        // Without "..", a link given as FOLDER stays in the paths.
        const QByteArray link = QFile::encodeName(TestSupport::TempRoot()) + "/link";
        QByteArrayList viaLink = Run({QStringLiteral("--files"), QFile::decodeName(link)}).out.split('\n');
        std::sort(viaLink.begin(), viaLink.end());
        QCOMPARE(viaLink, QByteArrayList({QByteArray(), link + "/one", link + "/two"}));

        // A working directory that was removed is no folder to list.
        const QString gone = TestSupport::TempRoot() + QStringLiteral("/gone");
        MakeDir(QFile::encodeName(gone));
        QProcess p;
        p.start(QStringLiteral("/bin/sh"), {QStringLiteral("-c"), QStringLiteral("cd \"$1\" && rmdir \"$1\" && exec \"$0\" --files ."),
                                           QStringLiteral(SORVANE_CLI), gone});
        QVERIFY(p.waitForFinished(60000));
        QCOMPARE(p.exitCode(), 2);
        QVERIFY(p.readAllStandardOutput().isEmpty());
        QVERIFY(p.readAllStandardError().contains("the working directory cannot be found"));
    }

    void outputThatCannotBeWrittenIsReported()
    {
        const QByteArray big = BigTree();
        const QByteArray errFile = QFile::encodeName(TestSupport::TempRoot()) + "/err";
        auto readErr = [&errFile] {
            QFile f(QFile::decodeName(errFile));
            return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
        };

        // A reader that went away, as with "| head -1".
        int fds[2];
        QCOMPARE(pipe(fds), 0);
        ::close(fds[0]);
        pid_t pid = Spawn({QStringLiteral("--files"), QFile::decodeName(big)}, fds[1], errFile);
        ::close(fds[1]);
        QVERIFY(pid > 0);
        QCOMPARE(Wait(pid), 1);
        QVERIFY2(readErr().contains("cannot write the output: ") && readErr().contains(" File(s) in File List."), readErr());

        // A file size limit, as after "ulimit -f 4".
        const int out = ::open(QFile::encodeName(TestSupport::TempRoot()) + "/limited", O_WRONLY | O_CREAT | O_TRUNC, 0644);
        rlimit saved{};
        getrlimit(RLIMIT_FSIZE, &saved);
        rlimit small = saved;
        small.rlim_cur = 4096;
        QCOMPARE(setrlimit(RLIMIT_FSIZE, &small), 0);
        pid = Spawn({QStringLiteral("--files"), QFile::decodeName(big)}, out, errFile);
        QCOMPARE(setrlimit(RLIMIT_FSIZE, &saved), 0);
        ::close(out);
        QVERIFY(pid > 0);
        QCOMPARE(Wait(pid), 1);
        QVERIFY2(readErr().contains("cannot write the output: "), readErr());

        // One SIGTERM ends a write that waits for a reader that never reads.
        QCOMPARE(pipe(fds), 0);
        pid = Spawn({QStringLiteral("--files"), QFile::decodeName(big)}, fds[1], errFile);
        ::close(fds[1]);
        QVERIFY(pid > 0);
        const int capacity = fcntl(fds[0], F_GETPIPE_SZ);
        for (int queued = 0; queued < capacity;) {  // until the pipe is full
            siginfo_t info{};
            QCOMPARE(waitid(P_PID, id_t(pid), &info, WEXITED | WNOHANG | WNOWAIT), 0);
            QCOMPARE(info.si_pid, 0);  // still running
            usleep(1000);
            QCOMPARE(ioctl(fds[0], FIONREAD, &queued), 0);
        }
        ::kill(pid, SIGTERM);
        QCOMPARE(Wait(pid), 143);
        ::close(fds[0]);
        QVERIFY2(readErr().contains(" File(s) in File List."), readErr());
        QVERIFY(!readErr().contains("cannot write"));
    }

    void interruptStopsAndStillSummarises()
    {
        // Enough output to fill the pipe, so the listing is still running when the signal comes.
        const QByteArray big = BigTree();
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

    // --contents groups identical files only; the last status line counts each inode once.
    void contentsJsonAndReclaimable()
    {
        const QByteArray dir = QFile::encodeName(TestSupport::TempRoot()) + "/contents";
        TestSupport::MakeDir(dir);
        for (const auto& [name, text] : {std::pair<const char*, const char*>{"a", "same"}, {"b", "same"}, {"c", "diff"},
                                         {"d\\e\"f", "same"}})
            TestSupport::WriteFile(dir + "/" + name, text);
        QElapsedTimer sinceWritten;
        sinceWritten.start();
        QCOMPARE(::link((dir + "/a").constData(), (dir + "/link").constData()), 0);
        CRun r = Run({QStringLiteral("--duplicates"), QStringLiteral("--contents"), QFile::decodeName(dir)});
        QCOMPARE(r.exitCode, 0);
        QCOMPARE(r.out.count('\n'), 4);  // a, b, d\e"f and the link; c is alone
        QVERIFY(!r.out.contains("\tc\t"));
        QVERIFY2(r.err.endsWith("1 Group(s), 4 File(s), 8 Byte(s) Reclaimable.\n"), r.err.constData());
        r = Run({QStringLiteral("--duplicates"), QStringLiteral("--format=json"), QFile::decodeName(dir)});
        QCOMPARE(r.exitCode, 0);
        QVERIFY2(r.out.startsWith("{\"group\":0,\"size\":4,\"files\":[{\"path\":\"" + dir + "/"), r.out.constData());
        QCOMPARE(r.out.count('\n'), 1);
        QVERIFY(r.out.contains("\"path\":\"" + dir + "/d\\\\\\\\e\\\"f\""));  // a backslash doubled, then JSON-escaped
        QVERIFY2(r.err.endsWith("1 Group(s), 5 File(s), 12 Byte(s) Reclaimable.\n"), r.err.constData());
        QCOMPARE(Run({QStringLiteral("--version")}).out, QByteArray("sorvane-cli " SORVANE_VERSION "\n"));

        // --stats: one line per stage, and the last one keeps exactly the rows printed.
        const QRegularExpression stage(QStringLiteral("^sorvane-cli: ([a-z ]+) (\\d+) (files|folders)"), QRegularExpression::MultilineOption);
        for (const char* mode : {"", "--contents", "--folders"}) {
            QStringList args{QStringLiteral("--stats"), QStringLiteral("--duplicates"), QFile::decodeName(dir)};
            if (*mode)
                args.insert(2, QLatin1String(mode));
            r = Run(args);
            QStringList names;
            QString last;
            for (auto m = stage.globalMatch(QString::fromUtf8(r.err)); m.hasNext();) {
                const QRegularExpressionMatch match = m.next();
                names << match.captured(1);
                last = match.captured(2);
            }
            const QStringList want = !*mode ? QStringList{"listed", "sharing a size"}
                                   : QStringList{"listed", "sharing a size", "identical"} + QStringList(mode[2] == 'f' ? "copied folders" : "");
            QCOMPARE(names, want.filter(QRegularExpression(QStringLiteral("."))));
            QCOMPARE(last.toLongLong(), r.out.count('\n'));
        }

        // Once the files are old enough to be recorded, a rescan prints the same groups and leaves c,
        // which the cache proves unlike the others, unread.
        QTest::qWait(int(std::max<qint64>(0, 2200 - sinceWritten.elapsed())));
        const QStringList check{QStringLiteral("--stats"), QStringLiteral("--duplicates"), QStringLiteral("--contents"),
                                QFile::decodeName(dir)};
        const CRun first = Run(check);
        const CRun rescan = Run(check);
        QCOMPARE(rescan.out, first.out);
        QVERIFY2(rescan.err.contains(", 1 files settled by the cache"), rescan.err.constData());
        QVERIFY(!Run(check + QStringList{QStringLiteral("--no-cache")}).err.contains("settled"));
    }

    // A tight descriptor limit costs no folder and no file: the walk and the
    // threads examining files beside it share what there is.
    void fewDescriptorsLoseNothing()
    {
        const QByteArray dir = QFile::encodeName(TestSupport::TempRoot()) + "/fewfds";
        TestSupport::MakeDir(dir);
        int fd = ::open(dir.constData(), O_RDONLY | O_DIRECTORY);
        for (int level = 0; level < 300; ++level) {
            for (int k = 0; k < 8; ++k) {
                const int f = openat(fd, QByteArray::number(k).constData(), O_CREAT | O_WRONLY, 0644);
                QCOMPARE(ftruncate(f, (level + k) % 5), 0);
                ::close(f);
            }
            QCOMPARE(mkdirat(fd, "d", 0755), 0);
            const int next = openat(fd, "d", O_RDONLY | O_DIRECTORY);
            ::close(fd);
            fd = next;
        }
        ::close(fd);
        const CRun roomy = Run({QStringLiteral("--duplicates"), QFile::decodeName(dir)});
        QVERIFY(roomy.err.contains("\n2400 File(s) in File List.\n"));
        QProcess p;
        p.setChildProcessModifier([] {
            const rlimit few{12, 12};
            setrlimit(RLIMIT_NOFILE, &few);
        });
        p.start(QStringLiteral(SORVANE_CLI), {QStringLiteral("--duplicates"), QFile::decodeName(dir)});
        QVERIFY(p.waitForFinished(60000));
        QCOMPARE(p.exitCode(), 0);
        QCOMPARE(p.readAllStandardOutput(), roomy.out);
        QVERIFY(p.readAllStandardError().endsWith(roomy.err.mid(roomy.err.lastIndexOf("\n", roomy.err.size() - 2))));
    }

    // Folders that cannot be read are named and counted, not passed off as parsed and empty.
    void unreadableFoldersAreNamed()
    {
        const QByteArray dir = QFile::encodeName(TestSupport::TempRoot()) + "/unreadable";
        for (const char* sub : {"", "/none", "/writeonly", "/ok"})
            TestSupport::MakeDir(dir + sub);
        for (const char* file : {"/a", "/none/b", "/writeonly/c", "/ok/d"})
            TestSupport::MakeFile(dir + file, 1);
        QCOMPARE(chmod((dir + "/none").constData(), 0), 0);
        QCOMPARE(chmod((dir + "/writeonly").constData(), 0300), 0);
        QProcess p;
        p.setChildProcessModifier(TestSupport::CFileModesObeyed::RestrictChild);
        p.start(QStringLiteral(SORVANE_CLI), {QStringLiteral("--files"), QFile::decodeName(dir)});
        QVERIFY(p.waitForFinished(60000));
        const QByteArray err = p.readAllStandardError();
        chmod((dir + "/none").constData(), 0755);
        chmod((dir + "/writeonly").constData(), 0755);
        QByteArrayList out = p.readAllStandardOutput().split('\n');
        std::sort(out.begin(), out.end());
        QCOMPARE(out, QByteArrayList({"", dir + "/a", dir + "/ok/d"}));
        QVERIFY2(err.contains("cannot read folder " + dir + "/none: Permission denied\n"), err.constData());
        QVERIFY2(err.contains("cannot read folder " + dir + "/writeonly: Permission denied\n"), err.constData());
        QVERIFY2(err.contains("\n2 Folder(s) Could Not Be Read. \n"), err.constData());
        QCOMPARE(p.exitCode(), 0);
    }

    // A folder bound a second time below the listed one is listed once, so no file pairs with itself.
    void boundFolderIsListedOnce()
    {
        if (geteuid() != 0)
            QSKIP("bind mounts need root");
        const QByteArray dir = QFile::encodeName(TestSupport::TempRoot()) + "/bound";
        for (const char* sub : {"", "/x", "/x/s", "/y"})
            MakeDir(dir + sub);
        MakeFile(dir + "/x/f", 10);
        MakeFile(dir + "/x/s/g", 20);
        if (mount(dir + "/x", dir + "/y", nullptr, MS_BIND, nullptr) != 0)
            QSKIP(qPrintable(QByteArray("mount --bind failed: ") + strerror(errno)));
        const CRun run = Run({QStringLiteral("--duplicates"), QFile::decodeName(dir)});
        umount2(dir + "/y", MNT_DETACH);
        QCOMPARE(run.exitCode, 0);
        QCOMPARE(run.out, QByteArray());
        QVERIFY2(run.err.contains("\n0 Group(s), 0 File(s), 0 Byte(s) Reclaimable."), run.err.constData());
        QVERIFY2(run.err.contains("\n1 Folder(s) Could Not Be Read. \n"), run.err.constData());
    }
};

SORVANE_TEST_MAIN(TestCli)
#include "tst_cli.moc"

#include "TestSupport.h"

#include "AppHelper.h"

#include <QDir>

#include <dirent.h>
#include <fcntl.h>
#include <functional>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

using TestSupport::MakeDir;
using TestSupport::MakeFile;

namespace {

class CRecorder : public CAppHelper {
public:
    void OnFileFound(const CFileFind& f) override
    {
        paths << QByteArray(f.FilePath().data(), int(f.FilePath().size()));
        folders << QByteArray(f.Folder().data(), int(f.Folder().size()));
        if (observe)
            trace << paths.last() + (f.IsFirstInFolder() ? " first " : " ") + QByteArray::number(CurrentFolderFileCount());
        QCOMPARE(QByteArray(f.FileName().data(), int(f.FileName().size())),
                 paths.last().mid(paths.last().lastIndexOf('/') + 1));
        if (onFile)
            onFile(*this);
    }
    // One whole listing with the options set afterwards by the caller's tweak.
    void List(const QByteArray& root, const std::function<void(CRecorder&)>& tweak = {})
    {
        paths.clear();
        folders.clear();
        trace.clear();
        PrepareListing();
        if (tweak)
            tweak(*this);
        m_strRootFolder = root;
        StartListing();
    }
    // Everything a listing shows: each file with its first-in-folder mark and
    // its folder's count so far, then the totals.
    QByteArrayList Observed() const
    {
        return trace + QByteArrayList{"parsed " + QByteArray::number(m_nFoldersParsed),
                                      "ignored " + QByteArray::number(m_nFoldersIgnored)};
    }
    QByteArrayList paths;
    QByteArrayList folders;
    QByteArrayList trace;
    bool observe = false;  // fill trace
    std::function<void(CRecorder&)> onFile;
};

QByteArrayList Sorted(QByteArrayList l)
{
    std::sort(l.begin(), l.end());
    return l;
}

// The order the file system gives, walked depth first: what the engine must report.
void ExpectedOrder(const QByteArray& folder, QByteArrayList& out)
{
    DIR* d = opendir(folder.constData());
    QVERIFY(d);
    QList<QPair<QByteArray, bool>> entries;
    while (dirent* e = readdir(d)) {
        const QByteArray name(e->d_name);
        if (name != "." && name != "..")
            entries << qMakePair(name, e->d_type == DT_DIR);
    }
    closedir(d);
    for (const auto& [name, isDir] : entries) {
        if (isDir)
            ExpectedOrder(folder + "/" + name, out);
        else
            out << folder + "/" + name;
    }
}

void RemakeFolders(const QByteArray& root)
{
    for (int i = 0; i < 20; ++i) {
        MakeDir(root + "/d" + QByteArray::number(i));
        MakeFile(root + "/d" + QByteArray::number(i) + "/f");
    }
}

int OpenDescriptors()
{
    return int(QDir(QStringLiteral("/proc/self/fd")).entryList(QDir::NoDotAndDotDot | QDir::AllEntries).size());
}

// A few hundred folders of every kind the walk meets, the same each time:
// wide and deep ones, empty, hidden, skipped, unreadable and looping ones,
// files hidden, read-only and plain.
void MakeVariedTree(const QByteArray& root)
{
    quint32 seed = 12345;
    const auto next = [&seed](quint32 n) {
        seed = seed * 1103515245u + 12345u;
        return (seed >> 16) % n;
    };
    QByteArrayList folders = {root};
    for (int i = 0; i < 400; ++i) {
        // Recent folders are likelier parents, so some chains run deep.
        const int n = int(folders.size());
        const QByteArray parent = folders[next(4) == 0 ? int(next(quint32(n))) : n - 1 - int(next(quint32(std::min(n, 6))))];
        const QByteArray name = (next(25) == 0 ? "." : "") + QByteArray("d") + QByteArray::number(i);
        TestSupport::MakeDir(parent + "/" + name);
        folders << parent + "/" + name;
    }
    MakeDir(root + "/wide");
    for (int i = 0; i < 80; ++i) {
        MakeDir(root + "/wide/w" + QByteArray::number(i));
        if (i % 3)
            MakeFile(root + "/wide/w" + QByteArray::number(i) + "/f");
    }
    for (int i = 0; i < folders.size(); ++i) {
        const int files = int(next(9));
        for (int j = 0; j < files; ++j) {
            const QByteArray file = folders[i] + "/" + (next(10) == 0 ? "." : "") + "f" + QByteArray::number(j);
            MakeFile(file);
            if (next(8) == 0)
                chmod(file.constData(), 0444);
        }
    }
    MakeDir(root + "/skipped");
    MakeFile(root + "/skipped/f");
    MakeDir(root + "/locked");
    MakeFile(root + "/locked/f");
    chmod(root + "/locked", 0);
    QCOMPARE(symlink("..", folders[4] + "/loop"), 0);
    QCOMPARE(symlink("wide", root + "/wideLink"), 0);
}

}  // namespace

class TestAppHelper : public QObject {
    Q_OBJECT

    QByteArray m_root;
    int m_case = 0;

    QByteArray NewRoot()
    {
        m_root = QFile::encodeName(TestSupport::TempRoot()) + "/tree" + QByteArray::number(++m_case);
        MakeDir(m_root);
        return m_root;
    }

private slots:
    void cleanup()
    {
        SetSystemFoldersResolver({});
        COptionsStore::ClearOverrides();
    }

    void skipRulesFollowTheirOptions_data()
    {
        QTest::addColumn<QString>("option");
        QTest::addColumn<QByteArrayList>("hiddenWhenOn");   // relative paths missing with the option on
        QTest::addColumn<QByteArrayList>("hiddenWhenOff");  // and with it off
        const QByteArrayList none;
        QTest::newRow("system, any case") << "IgnoreWindowsFolder" << QByteArrayList{"SYS/f"} << none;
        QTest::newRow("programs, exact") << "IgnoreProgramsFolder" << QByteArrayList{"Prog/f"} << none;
        QTest::newRow("app data") << "IgnoreLocalAppDataFolder" << QByteArrayList{"cache/f", "cache/inner/f", "conf/f"} << none;
        QTest::newRow("trash") << "IgnoreRecycleBinFolder"
                               << QByteArrayList{"data/Trash/f", ".Trash-1000/f", "vol/.Trash/1000/f"} << none;
        QTest::newRow("hidden folders") << "IgnoreHiddenFolders"
                                        << QByteArrayList{".Trash-1000/f", "vol/.Trash/1000/f", ".hid/f"} << none;
        QTest::newRow("hidden files") << "IgnoreHiddenFiles" << QByteArrayList{".f"} << none;
        QTest::newRow("read-only files") << "IgnoreReadOnlyFiles" << QByteArrayList{"ro"} << none;
        QTest::newRow("sub-folders") << "SearchSubFolders" << none
                                     << QByteArrayList{"SYS/f", "Prog/f", "prog/f", "cache/f", "conf/f", "cache/inner/f",
                                                       "data/Trash/f", ".Trash-1000/f", "vol/.Trash/1000/f", ".hid/f",
                                                       "vol/f"};
    }
    void skipRulesFollowTheirOptions()
    {
        QFETCH(QString, option);
        QFETCH(QByteArrayList, hiddenWhenOn);
        QFETCH(QByteArrayList, hiddenWhenOff);
        const QByteArray root = NewRoot();
        const QByteArrayList all = {"SYS/f", "Prog/f", "prog/f", "cache/f", "cache/inner/f", "conf/f", "data/Trash/f",
                                    ".Trash-1000/f", "vol/.Trash/1000/f", ".hid/f", "vol/f", ".f", "ro", "plain"};
        for (const QByteArray& rel : all) {
            const QByteArrayList parts = rel.split('/');
            QByteArray p = root;
            for (int i = 0; i + 1 < parts.size(); ++i)
                MakeDir(p += "/" + parts[i]);
            MakeFile(p + "/" + parts.last());
        }
        chmod(root + "/ro", 0444);
        SetSystemFoldersResolver([root] {
            CSystemFolders f;
            f.osFolders = {(root + "/sys").toStdString()};
            f.programFolders = {(root + "/Prog").toStdString()};
            f.appDataFolders = {(root + "/cache").toStdString(), (root + "/conf").toStdString()};
            f.homeTrash = (root + "/data/Trash").toStdString();
            return f;
        });
        // Every option off but the one under test, so each rule is seen alone.
        for (const COptionDef* def : Opt::kFlags)
            COptionsStore::SetOverride(QLatin1String(def->name), 0);
        COptionsStore::SetOverride(QStringLiteral("SearchSubFolders"), 1);

        for (const bool on : {true, false}) {
            COptionsStore::SetOverride(option, on ? 1 : 0);
            CRecorder engine;
            engine.List(root);
            QByteArrayList expected;
            for (const QByteArray& rel : all) {
                if (!(on ? hiddenWhenOn : hiddenWhenOff).contains(rel))
                    expected << root + "/" + rel;
            }
            QCOMPARE(Sorted(engine.paths), Sorted(expected));
        }
    }

    void rootRulesAndCounts()
    {
        const QByteArray root = NewRoot();
        MakeDir(root + "/sub");
        MakeDir(root + "/.hid");
        MakeFile(root + "/sub/a");
        MakeFile(root + "/.hid/b");
        SetSystemFoldersResolver([root] {
            CSystemFolders f;
            f.osFolders = {root.toStdString()};
            f.appDataFolders = {(root + "/sub").toStdString()};
            return f;
        });
        CRecorder engine;
        engine.List(root);  // defaults: the root is the system folder
        QCOMPARE(engine.m_nFoldersParsed, 0);
        QCOMPARE(engine.m_nFoldersIgnored, 1);
        QVERIFY(engine.paths.isEmpty());

        COptionsStore::SetOverride(QStringLiteral("IgnoreWindowsFolder"), 0);
        engine.List(root);
        QCOMPARE(engine.m_nFoldersParsed, 1);
        QCOMPARE(engine.m_nFoldersIgnored, 2);  // sub (app data) and .hid
        engine.List(root + "/sub/");            // app data, but not skipped as the root's own child
        QCOMPARE(engine.m_nFoldersIgnored, 1);
        engine.List(root + "/.hid");
        QCOMPARE(engine.m_nFoldersIgnored, 1);
        QVERIFY(!engine.IsFolderIgnored("/"));
        // Attributes that cannot be read count as hidden.
        engine.List(root + "/gone");
        QCOMPARE(engine.m_nFoldersIgnored, 1);
        QCOMPARE(engine.m_nFoldersParsed, 0);
        engine.List(root + "/gone", [](CRecorder& e) { e.m_bIgnoreHiddenFolders = false; });
        QCOMPARE(engine.m_nFoldersParsed, 1);

        QVERIFY(engine.IsRecycleBinFolder("/m/.Trash-1000"));
        QVERIFY(engine.IsRecycleBinFolder("/m/.Trash/1000"));
        QVERIFY(!engine.IsRecycleBinFolder("/m/.Trash-x"));
        QVERIFY(!engine.IsRecycleBinFolder("/m/Trash/1000"));
        QVERIFY(!engine.IsRecycleBinFolder("/m/.Trash"));

        // "." and ".." at the end of the root name a folder, not a hidden one.
        const QByteArray plain = NewRoot();
        MakeDir(plain + "/a");
        MakeFile(plain + "/a/f");
        for (const QByteArray& dotted : {plain + "/a/..", plain + "/.", plain + "/a/."}) {
            engine.List(dotted);
            QCOMPARE(engine.m_nFoldersIgnored, 0);
            QCOMPARE(engine.paths.size(), 1);
            QVERIFY(engine.paths[0].startsWith(dotted + "/") && engine.paths[0].endsWith("/f"));
        }
    }

    void orderAndAtMostOnce()
    {
        const QByteArray root = NewRoot();
        for (const char* d : {"a", "a/x", "b", "b/y", "b/y/z", "c"})
            MakeDir(root + "/" + d);
        for (const char* f : {"f1", "f2", "a/g1", "a/x/h1", "a/x/h2", "a/g2", "b/y/z/k", "b/m", "f3"})
            MakeFile(root + "/" + f);
        QByteArrayList expected;
        ExpectedOrder(root, expected);

        CRecorder engine;
        engine.List(root);
        QCOMPARE(engine.paths, expected);
        QCOMPARE(engine.m_nFoldersParsed, 7);
        QCOMPARE(engine.folders.at(engine.paths.indexOf(root + "/a/x/h1")), root + "/a/x");

        // A folder met twice in one listing is walked once.
        engine.paths.clear();
        engine.m_bListing = 1;
        engine.ParseFolder(root + "/b");
        engine.ParseFolder(root + "/b");
        QCOMPARE(engine.paths.size(), 2);
        QCOMPARE(engine.GetFolderFileCount(root + "/b"), 0);  // counts are off
        engine.m_mapFolderFiles.clear();

        // A root given with trailing slashes yields no doubled slash.
        CRecorder slashes;
        slashes.PrepareListing();
        slashes.m_strRootFolder = root + "//";
        slashes.StartListing();
        QVERIFY(!slashes.paths.isEmpty());
        for (int i = 0; i < slashes.paths.size(); ++i)
            QVERIFY(!slashes.paths[i].contains("//"));
    }

    void perFolderCountsIncludeSkippedFiles()
    {
        const QByteArray root = NewRoot();
        for (const char* f : {"v1", "v2", "v3", ".h1", ".h2"})
            MakeFile(root + "/" + f);
        CRecorder engine;
        COptionsStore::SetOverride(QStringLiteral("ViewFilesCount"), 1);
        engine.PrepareListing();
        engine.m_bListing = 1;
        engine.ParseFolder(root);
        QCOMPARE(engine.GetFolderFileCount(root), 5);
        QCOMPARE(engine.paths.size(), 3);
        engine.AddFolderFileCount(root);
        QCOMPARE(engine.GetFolderFileCount(root), 6);
        QCOMPARE(engine.GetFolderFileCount(root + "/none"), 0);

        // Counts are kept per exact path, also for sub-folders and the root "/".
        MakeDir(root + "/s");
        MakeFile(root + "/s/x");
        MakeFile(root + "/s/y");
        engine.m_mapFolderFiles.clear();
        engine.ParseFolder(root);
        QCOMPARE(engine.GetFolderFileCount(root + "/s"), 2);
        QCOMPARE(engine.GetFolderFileCount(root + "//s"), 0);
        QCOMPARE(engine.GetFolderFileCount(root), 5);
        QCOMPARE(int(engine.m_mapFolderFiles.size()), 2);
        engine.AddFolderFileCount("/");
        QCOMPARE(engine.GetFolderFileCount("/"), 1);
        QCOMPARE(engine.GetFolderFileCount(""), 0);
        QCOMPARE(int(engine.m_mapFolderFiles.size()), 3);
    }

    void stopFinishesTheFolderBeingReadAndEntersNoOther()
    {
        const QByteArray root = NewRoot();
        for (int i = 0; i < 50; ++i) {
            MakeFile(root + "/f" + QByteArray::number(i));
            MakeDir(root + "/d" + QByteArray::number(i));
            MakeFile(root + "/d" + QByteArray::number(i) + "/g");
        }
        CRecorder engine;
        engine.onFile = [](CRecorder& e) { e.m_bListing = 0; };
        engine.List(root);
        // Every file of the root still comes; at most the one sub-folder entered before the stop.
        const int inSub = int(std::count_if(engine.paths.begin(), engine.paths.end(),
                                            [](const QByteArray& p) { return p.endsWith("/g"); }));
        QCOMPARE(engine.paths.size() - inSub, 50);
        QVERIFY(inSub <= 1);
        QCOMPARE(engine.m_nFoldersParsed, 1 + inSub);
        QCOMPARE(engine.m_nFoldersIgnored, 0);
        QVERIFY(engine.m_dtEnd >= engine.m_dtStart);
    }

    void oddEntriesLeaveTheWalkGoing()
    {
        const QByteArray root = NewRoot();
        MakeDir(root + "/d");
        MakeFile(root + "/d/real");
        QCOMPARE(symlink("..", root + "/d/loop"), 0);
        QCOMPARE(symlink("real", root + "/d/link"), 0);
        QCOMPARE(mkfifo(root + "/fifo", 0644), 0);
        const int s = socket(AF_UNIX, SOCK_STREAM, 0);
        sockaddr_un addr{};
        addr.sun_family = AF_UNIX;
        const QByteArray sockPath = root + "/sock";
        if (sockPath.size() < int(sizeof addr.sun_path)) {
            qstrcpy(addr.sun_path, sockPath.constData());
            QCOMPARE(bind(s, reinterpret_cast<sockaddr*>(&addr), sizeof addr), 0);
        }
        const QByteArray badName = root + "/bad\xff\xfe name";
        MakeFile(badName);
        MakeDir(root + "/locked");
        MakeFile(root + "/locked/secret");
        chmod(root + "/locked", 0);

        CRecorder engine;
        engine.List(root);
        ::close(s);
        QByteArrayList expected = {root + "/d/real", badName};
        if (geteuid() != 0)  // root reads a folder whatever its permissions
            QVERIFY(!engine.paths.contains(root + "/locked/secret"));
        else
            expected << root + "/locked/secret";
        QCOMPARE(Sorted(engine.paths), Sorted(expected));
        QCOMPARE(engine.m_nFoldersParsed, 3);
        chmod(root + "/locked", 0755);
    }

    void entriesWithoutATypeAreJudgedTheSame()
    {
        // Some file systems give no entry types; the walk then asks fstatat.
        const QByteArray root = NewRoot();
        MakeDir(root + "/d");
        MakeDir(root + "/d/e");
        MakeFile(root + "/d/e/deep");
        MakeFile(root + "/d/real");
        MakeFile(root + "/ro");
        chmod(root + "/ro", 0444);
        QCOMPARE(symlink("..", root + "/d/loop"), 0);
        QCOMPARE(symlink("real", root + "/d/link"), 0);
        QCOMPARE(symlink("d", root + "/dirlink"), 0);
        QCOMPARE(symlink("nowhere", root + "/dangling"), 0);
        QCOMPARE(mkfifo(root + "/fifo", 0644), 0);
        for (const bool readOnlyRule : {false, true}) {
            QByteArrayList expected = {root + "/d/e/deep", root + "/d/real"};
            if (!readOnlyRule)
                expected << root + "/ro";
            for (const bool stat : {false, true}) {
                CRecorder engine;
                engine.List(root, [&](CRecorder& e) {
                    e.m_bStatEveryEntry = stat;
                    e.m_bIgnoreReadOnlyFiles = readOnlyRule;
                });
                QCOMPARE(Sorted(engine.paths), Sorted(expected));
                QCOMPARE(engine.m_nFoldersParsed, 3);
            }
        }
    }

    void vanishedFoldersCountAsTheyShould()
    {
        const QByteArray root = NewRoot();
        for (int i = 0; i < 20; ++i) {
            MakeDir(root + "/d" + QByteArray::number(i));
            MakeFile(root + "/d" + QByteArray::number(i) + "/f");
        }
        for (const bool hiddenRule : {false, true}) {
            CRecorder engine;
            engine.onFile = [root](CRecorder& e) {
                if (e.paths.size() == 1) {
                    for (int i = 0; i < 20; ++i) {
                        const QByteArray d = root + "/d" + QByteArray::number(i);
                        if (!e.paths.first().startsWith(d + "/"))
                            QDir(QFile::decodeName(d)).removeRecursively();
                    }
                }
            };
            // Read on the walk's own thread, so every folder is looked at when the walk reaches it.
            engine.List(root, [hiddenRule](CRecorder& e) {
                e.m_bIgnoreHiddenFolders = hiddenRule;
                e.m_nReadAheadThreads = 0;
            });
            QCOMPARE(engine.paths.size(), 1);
            // Unreadable attributes count as hidden; otherwise the folder is parsed and empty.
            QCOMPARE(engine.m_nFoldersParsed, hiddenRule ? 2 : 21);
            QCOMPARE(engine.m_nFoldersIgnored, hiddenRule ? 19 : 0);
            RemakeFolders(root);

            // Read ahead, folders gone after their reading still show what was read.
            engine.List(root, [hiddenRule](CRecorder& e) {
                e.m_bIgnoreHiddenFolders = hiddenRule;
                e.m_nReadAheadThreads = 2;
            });
            const int readAhead = int(engine.paths.size()) - 1;
            QVERIFY2(readAhead >= 0 && readAhead <= CAppHelper::kReadAheadFolders, QByteArray::number(readAhead));
            QCOMPARE(engine.m_nFoldersParsed + engine.m_nFoldersIgnored, 21);
            QVERIFY(engine.m_nFoldersParsed >= 1 + readAhead);
            if (!hiddenRule)
                QCOMPARE(engine.m_nFoldersIgnored, 0);
            RemakeFolders(root);
        }
    }


    void readAheadKeepsEverythingTheWalkShows_data()
    {
        QTest::addColumn<int>("threads");
        QTest::newRow("one reader") << 1;
        QTest::newRow("two readers") << 2;
        QTest::newRow("three readers") << 3;
        QTest::newRow("from the cores") << -1;
    }
    void readAheadKeepsEverythingTheWalkShows()
    {
        QFETCH(int, threads);
        const QByteArray root = NewRoot();
        MakeVariedTree(root);
        SetSystemFoldersResolver([root] {
            CSystemFolders f;
            f.osFolders = {(root + "/SKIPPED").toStdString()};
            return f;
        });
        const QList<std::function<void(CRecorder&)>> options = {
            [](CRecorder&) {},
            [](CRecorder& e) {
                e.m_bViewFilesCount = true;
                e.m_bIgnoreReadOnlyFiles = true;
                e.m_bStatEveryEntry = true;
            },
            [](CRecorder& e) {
                e.m_bIgnoreHiddenFolders = false;
                e.m_bIgnoreHiddenFiles = false;
                e.m_bViewFilesCount = true;
            },
            [](CRecorder& e) { e.m_bSearchSubFolders = false; },
        };
        const int fdsBefore = OpenDescriptors();
        for (const auto& option : options) {
            CRecorder single;
            single.observe = true;
            single.List(root, [&](CRecorder& e) {
                option(e);
                e.m_nReadAheadThreads = 0;
            });
            CRecorder ahead;
            ahead.observe = true;
            int mostOpen = 0;
            ahead.onFile = [&mostOpen](CRecorder& e) {
                if (e.paths.size() % 16 == 0)
                    mostOpen = std::max(mostOpen, OpenDescriptors());
            };
            ahead.List(root, [&](CRecorder& e) {
                option(e);
                e.m_nReadAheadThreads = threads;
            });
            QVERIFY(single.paths.size() > (single.m_bSearchSubFolders ? 500 : 3));
            QCOMPARE(ahead.Observed(), single.Observed());
            // The listing of /proc/self/fd holds one more while it counts.
            QVERIFY2(mostOpen <= fdsBefore + 64 + 1, QByteArray::number(mostOpen - fdsBefore));
            QCOMPARE(OpenDescriptors(), fdsBefore);
        }
        chmod(root + "/locked", 0755);
    }

    void stopWithReadAheadEndsWhereTheWalkAloneWould()
    {
        const QByteArray root = NewRoot();
        MakeVariedTree(root);
        CRecorder all;
        all.List(root, [](CRecorder& e) { e.m_nReadAheadThreads = 0; });
        const int total = int(all.paths.size());
        const int fdsBefore = OpenDescriptors();
        for (const int stopAt : {1, 2, 9, total / 3, total / 2, total - 1}) {
            QByteArrayList observed[2];
            for (const int threads : {0, 2}) {
                CRecorder engine;
                engine.observe = true;
                engine.onFile = [stopAt](CRecorder& e) {
                    if (e.paths.size() == stopAt)
                        e.m_bListing = 0;
                };
                engine.List(root, [threads](CRecorder& e) { e.m_nReadAheadThreads = threads; });
                // The folders being read are finished, the one that stopped it and
                // those holding it, and no other is entered.
                QCOMPARE(engine.paths.mid(0, stopAt), all.paths.mid(0, stopAt));
                const QByteArray stopFolder = engine.folders[stopAt - 1];
                for (int i = stopAt; i < engine.paths.size(); ++i)
                    QVERIFY(engine.folders[i] == stopFolder || stopFolder.startsWith(engine.folders[i] + "/"));
                observed[threads ? 1 : 0] = engine.Observed();
            }
            QCOMPARE(observed[1], observed[0]);
            QCOMPARE(OpenDescriptors(), fdsBefore);
        }
        chmod(root + "/locked", 0755);
    }

    void deepTreesNeedNeitherStackNorDescriptors()
    {
        const QByteArray root = NewRoot();
        // 10,000 levels, made relative to each level so no path is too long to create.
        constexpr int kDepth = 10000;
        int fd = open(root.constData(), O_RDONLY | O_DIRECTORY);
        QVERIFY(fd >= 0);
        for (int i = 0; i < kDepth; ++i) {
            QCOMPARE(mkdirat(fd, "d", 0755), 0);
            if (i % 100 == 0) {  // a side folder whose file comes back to a shallow level
                QCOMPARE(mkdirat(fd, "s", 0755), 0);
                const int f = openat(fd, "s/f", O_CREAT | O_WRONLY, 0644);
                QVERIFY(f >= 0);
                ::close(f);
            }
            const int next = openat(fd, "d", O_RDONLY | O_DIRECTORY);
            ::close(fd);
            fd = next;
            QVERIFY(fd >= 0);
        }
        const int f = openat(fd, "bottom", O_CREAT | O_WRONLY, 0644);
        ::close(f);
        ::close(fd);
        const int fdsBefore = OpenDescriptors();

        // Memory grows with the folders and their names, not with the square
        // of the depth: every whole path here would take about 100 MB.
        // ThreadSanitizer adds a few MB of its own for each reader thread.
#if defined(__SANITIZE_THREAD__)
        constexpr long kLimitKiB = 40 * 1024;
#else
        constexpr long kLimitKiB = 30 * 1024;
#endif
        rusage usage{};
        getrusage(RUSAGE_SELF, &usage);
        const long peakBefore = usage.ru_maxrss;
        CRecorder engine;
        int mostOpen = 0;
        engine.onFile = [&mostOpen](CRecorder&) { mostOpen = std::max(mostOpen, OpenDescriptors()); };
        engine.List(root);
        getrusage(RUSAGE_SELF, &usage);
        QVERIFY2(usage.ru_maxrss - peakBefore < kLimitKiB, QByteArray::number(qlonglong(usage.ru_maxrss - peakBefore)));
        QCOMPARE(engine.m_nFoldersParsed, 1 + kDepth + kDepth / 100);
        QCOMPARE(engine.paths.size(), 1 + kDepth / 100);
        QVERIFY(std::any_of(engine.paths.begin(), engine.paths.end(),
                            [](const QByteArray& p) { return p.endsWith("/d/bottom") && p.size() > 20000; }));
        QCOMPARE(OpenDescriptors(), fdsBefore);
        // Read-ahead included, the walk never holds more than 64 folders open.
        QVERIFY2(mostOpen <= fdsBefore + 64 + 1, QByteArray::number(mostOpen - fdsBefore));

        // Remove it from the bottom up without ever using a long path.
        QVERIFY(QProcess::execute(QStringLiteral("rm"), {QStringLiteral("-rf"), QFile::decodeName(root)}) == 0);
    }
};

SORVANE_TEST_MAIN(TestAppHelper)
#include "tst_apphelper.moc"

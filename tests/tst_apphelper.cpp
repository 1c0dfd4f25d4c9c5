#include "WalkTestSupport.h"

#include <sys/mount.h>

using namespace WalkTest;

namespace {

// A walk that is also told of links, pipes, sockets and devices, and may pause in each folder it enters
// so that readers read ahead whatever they can.
class COtherRecorder : public CRecorder {
public:
    void OnFolderEntered(std::string_view) override { usleep(useconds_t(pauseMs) * 1000); }
    int pauseMs = 0;
    bool WantsOtherEntries() const override { return true; }
    void OnOtherEntry(std::string_view path, std::string_view what) override
    {
        others << QByteArray(path.data(), int(path.size())) + " " + QByteArray(what.data(), int(what.size()));
    }
    QByteArrayList others;
};

// source also seen at target while alive (root only); error says why not.
struct CBindMount {
    QByteArray target;
    QByteArray error;
    CBindMount(const QByteArray& source, const QByteArray& at) : target(at)
    {
        if (mount(source.constData(), at.constData(), nullptr, MS_BIND, nullptr) != 0) {
            error = strerror(errno);
            target.clear();
        }
    }
    ~CBindMount()
    {
        if (!target.isEmpty())
            umount2(target.constData(), MNT_DETACH);
    }
};

}  // namespace

class TestAppHelper : public QObject, public CWalkFixture {
    Q_OBJECT

private slots:
    void cleanup() { Reset(); }

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

    // Each filter alone, at its edges, on the walk's own thread, its readers and the stat-every-entry path.
    void filtersLeaveOutAtTheirEdges_data()
    {
        QTest::addColumn<QStringList>("settings");
        QTest::addColumn<QByteArrayList>("left");  // relative paths not listed
        QTest::addColumn<int>("foldersIgnored");
        const QByteArrayList none;
        QTest::newRow("all off") << QStringList{} << none << 0;
        QTest::newRow("minimum") << QStringList{"MinimumFileSize=10"} << QByteArrayList{"e0", "s9", ".x/e0"} << 0;
        QTest::newRow("maximum") << QStringList{"MaximumFileSize=10"} << QByteArrayList{"s11", "big3k"} << 0;
        QTest::newRow("maximum in KB") << QStringList{"MaximumFileSize=2 KB"} << QByteArrayList{"big3k"} << 0;
        QTest::newRow("both") << QStringList{"MinimumFileSize=10", "MaximumFileSize=10"}
                              << QByteArrayList{"e0", "s9", "s11", "big3k", ".x/e0"} << 0;
        QTest::newRow("empty files") << QStringList{"SkipEmptyFiles=1"} << QByteArrayList{"e0", ".x/e0"} << 0;
        QTest::newRow("names, folders at depth")
            << QStringList{"SkipNames=*.tmp\nnode_modules\n[.]x"}
            << QByteArrayList{"a.tmp", "d/e/a.tmp", "node_modules/f", "d/e/node_modules/f", ".x/e0"} << 3;
    }
    void filtersLeaveOutAtTheirEdges()
    {
        QFETCH(QStringList, settings);
        QFETCH(QByteArrayList, left);
        QFETCH(int, foldersIgnored);
        const QByteArray root = NewRoot() + "/node_modules";  // the folder given is listed whatever its name
        MakeDir(root);
        const QList<QPair<QByteArray, int>> files = {{"e0", 0}, {"s9", 9}, {"s10", 10}, {"s11", 11}, {"big3k", 3000},
                                                     {"a.tmp", 10}, {"a.tmpx", 10}, {"d/e/a.tmp", 10},
                                                     {"node_modules/f", 10}, {"d/e/node_modules/f", 10},
                                                     {"d/node_modulesx/f", 10}, {".x/e0", 0}};
        for (const auto& [rel, size] : files) {
            const QByteArrayList parts = rel.split('/');
            QByteArray p = root;
            for (int i = 0; i + 1 < parts.size(); ++i)
                MakeDir(p += "/" + parts[i]);
            MakeFile(p + "/" + parts.last(), size);
        }
        for (const COptionDef* def : Opt::kFlags)
            COptionsStore::SetOverride(QLatin1String(def->name), 0);
        COptionsStore::SetOverride(QStringLiteral("SearchSubFolders"), 1);
        for (const QString& setting : settings) {
            const QString name = setting.section(QLatin1Char('='), 0, 0);
            COptionsStore::SetOverride(name, setting.section(QLatin1Char('='), 1));
        }
        QByteArrayList expected;
        for (const auto& [rel, size] : files) {
            if (!left.contains(rel))
                expected << root + "/" + rel;
        }
        for (const int mode : {0, 1, 2}) {
            CRecorder engine;
            engine.List(root, [mode](CWalkOptions& o) {
                o.m_nReadAheadThreads = mode == 0 ? 0 : 2;
                o.m_bStatEveryEntry = mode == 2;
            });
            QCOMPARE(Sorted(engine.paths), Sorted(expected));
            QCOMPARE(engine.result.m_nFoldersIgnored, foldersIgnored);
            // Files in a folder left out by name are not counted: that folder was never read.
            const int filesInIgnored = foldersIgnored ? 3 : 0;
            QCOMPARE(engine.result.m_nFilesFiltered, int(left.size()) - filesInIgnored);
            QCOMPARE(engine.result.m_bFiltered, !settings.isEmpty());
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
        QCOMPARE(engine.result.m_nFoldersParsed, 0);
        QCOMPARE(engine.result.m_nFoldersIgnored, 1);
        QVERIFY(engine.paths.isEmpty());

        COptionsStore::SetOverride(QStringLiteral("IgnoreWindowsFolder"), 0);
        engine.List(root);
        QCOMPARE(engine.result.m_nFoldersParsed, 1);
        QCOMPARE(engine.result.m_nFoldersIgnored, 2);  // sub (app data) and .hid
        engine.List(root + "/sub/");            // app data, but not skipped as the root's own child
        QCOMPARE(engine.result.m_nFoldersIgnored, 1);
        engine.List(root + "/.hid");
        QCOMPARE(engine.result.m_nFoldersIgnored, 1);
        QVERIFY(!engine.IsFolderIgnored("/"));
        // Attributes that cannot be read count as hidden.
        engine.List(root + "/gone");
        QCOMPARE(engine.result.m_nFoldersIgnored, 1);
        QCOMPARE(engine.result.m_nFoldersParsed, 0);
        engine.List(root + "/gone", [](CWalkOptions& o) { o.m_bIgnoreHiddenFolders = false; });
        QCOMPARE(engine.result.m_nFoldersParsed, 1);

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
            QCOMPARE(engine.result.m_nFoldersIgnored, 0);
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
        QCOMPARE(engine.result.m_nFoldersParsed, 7);
        QCOMPARE(engine.folders.at(engine.paths.indexOf(root + "/a/x/h1")), root + "/a/x");

        // A folder met twice in one listing is walked once.
        engine.paths.clear();
        engine.ParseFolder(root + "/b", engine.stop);
        engine.ParseFolder(root + "/b", engine.stop);
        QCOMPARE(engine.paths.size(), 2);
        QCOMPARE(engine.GetFolderFileCount(root + "/b"), 0);  // counts are off

        // A root given with trailing slashes yields no doubled slash.
        CRecorder slashes;
        slashes.PrepareListing(root + "//");
        slashes.StartListing(slashes.stop);
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
        engine.PrepareListing(root);
        engine.ParseFolder(root, engine.stop);
        QCOMPARE(engine.GetFolderFileCount(root), 5);
        QCOMPARE(engine.paths.size(), 3);
        engine.AddFolderFileCount(root);
        QCOMPARE(engine.GetFolderFileCount(root), 6);
        QCOMPARE(engine.GetFolderFileCount(root + "/none"), 0);

        // Counts are kept per exact path, also for sub-folders and the root "/".
        MakeDir(root + "/s");
        MakeFile(root + "/s/x");
        MakeFile(root + "/s/y");
        engine.PrepareListing(root);  // a fresh walk: no folder met yet
        engine.ParseFolder(root, engine.stop);
        QCOMPARE(engine.GetFolderFileCount(root + "/s"), 2);
        QCOMPARE(engine.GetFolderFileCount(root + "//s"), 0);
        QCOMPARE(engine.GetFolderFileCount(root), 5);
        QCOMPARE(int(engine.FolderFileCounts().size()), 2);
        engine.AddFolderFileCount("/");
        QCOMPARE(engine.GetFolderFileCount("/"), 1);
        QCOMPARE(engine.GetFolderFileCount(""), 0);
        QCOMPARE(int(engine.FolderFileCounts().size()), 3);
    }

    void stopFinishesTheFolderBeingReadAndEntersNoOther_data()
    {
        QTest::addColumn<bool>("early");  // the token raised before the walk, else at its first file
        QTest::newRow("at the first file") << false;
        QTest::newRow("before the walk") << true;
    }
    void stopFinishesTheFolderBeingReadAndEntersNoOther()
    {
        QFETCH(bool, early);
        const QByteArray root = NewRoot();
        for (int i = 0; i < 50; ++i) {
            MakeFile(root + "/f" + QByteArray::number(i));
            MakeDir(root + "/d" + QByteArray::number(i));
            MakeFile(root + "/d" + QByteArray::number(i) + "/g");
        }
        CRecorder engine;
        bool listingAtStop = false;
        engine.onFile = [&listingAtStop](CRecorder& e) {
            listingAtStop = listingAtStop || (!e.stop && e.IsListing());
            e.stop = true;
        };
        engine.stop = early;
        engine.List(root);
        // Every file of the root still comes, unless stopped before it was entered;
        // at most the one sub-folder entered before the stop.
        const int inSub = int(std::count_if(engine.paths.begin(), engine.paths.end(),
                                            [](const QByteArray& p) { return p.endsWith("/g"); }));
        QCOMPARE(engine.paths.size() - inSub, early ? 0 : 50);
        QVERIFY(inSub <= 1);
        QCOMPARE(engine.result.m_nFoldersParsed, (early ? 0 : 1) + inSub);
        QCOMPARE(engine.result.m_nFoldersIgnored, 0);
        QVERIFY(engine.result.m_dtEnd >= engine.result.m_dtStart);
        QCOMPARE(listingAtStop, !early);
        QVERIFY(!engine.IsListing());
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
        QCOMPARE(engine.result.m_nFoldersParsed, 3);
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
                COtherRecorder engine;
                engine.List(root, [&](CWalkOptions& o) {
                    o.m_bStatEveryEntry = stat;
                    o.m_bIgnoreReadOnlyFiles = readOnlyRule;
                });
                QCOMPARE(Sorted(engine.paths), Sorted(expected));
                QCOMPARE(engine.result.m_nFoldersParsed, 3);
                // Told apart by kind and target, however the kind was learnt.
                QCOMPARE(Sorted(engine.others), Sorted({root + "/d/loop l..", root + "/d/link lreal", root + "/dirlink ld",
                                                        root + "/dangling lnowhere", root + "/fifo p"}));
            }
        }
    }

    // A folder seen again under another path (a bind mount) is not entered again, by the walk or its
    // readers: each file comes once and the second path is named as not read. Hard links stay.
    void eachFolderIsEnteredOnce_data()
    {
        QTest::addColumn<QByteArray>("source");  // bound onto target, both under the listed folder
        QTest::addColumn<QByteArray>("target");
        QTest::newRow("another listed folder") << QByteArray("/x") << QByteArray("/y");
        QTest::newRow("an ancestor, inside itself") << QByteArray("/a") << QByteArray("/a/loop");
        QTest::newRow("the listed folder") << QByteArray("") << QByteArray("/a/b/top");
    }
    void eachFolderIsEnteredOnce()
    {
        QFETCH(QByteArray, source);
        QFETCH(QByteArray, target);
        if (geteuid() != 0)
            QSKIP("bind mounts need root");
        const QByteArray root = NewRoot();
        for (const char* d : {"/x", "/x/s", "/y", "/a", "/a/loop", "/a/b", "/a/b/top"})
            MakeDir(root + d);
        const QByteArrayList files = {"/x/f", "/x/s/g", "/a/h", "/a/b/i"};
        for (const QByteArray& f : files)
            MakeFile(root + f);
        QCOMPARE(::link(root + "/x/f", root + "/x/s/f2"), 0);
        const CBindMount bind(root + source, root + target);
        if (!bind.error.isEmpty())
            QSKIP(qPrintable("mount --bind failed: " + bind.error));
        for (const int readers : {0, 1, 2}) {
            COtherRecorder engine;
            engine.pauseMs = readers ? 10 : 0;
            engine.List(root, [readers](CWalkOptions& o) { o.m_nReadAheadThreads = readers; });
            QCOMPARE(engine.result.m_arrUnreadFolders.size(), size_t(1));
            const CAppHelper::CUnreadFolder& unread = engine.result.m_arrUnreadFolders.front();
            QCOMPARE(unread.error, CAppHelper::kAlreadyListed);
            // Of two bound siblings, the walk reaches either first.
            const bool swapped = unread.path == root + source;
            QVERIFY2(swapped ? !source.isEmpty() && target == "/y" : unread.path == root + target, unread.path.constData());
            QByteArrayList listed;
            for (const QByteArray& p : engine.paths)
                listed << (swapped ? p.mid(root.size()).replace("/y/", "/x/") : p.mid(root.size()));
            QCOMPARE(Sorted(listed), Sorted(files + QByteArrayList{"/x/s/f2"}));
            QCOMPARE(CAppHelper::UnreadReason(unread.error), QStringLiteral("already listed as another path"));
        }
    }
};

SORVANE_TEST_MAIN(TestAppHelper)
#include "tst_apphelper.moc"

#include "WalkTestSupport.h"

using namespace WalkTest;

class TestReadAhead : public QObject, public CWalkFixture {
    Q_OBJECT

private slots:
    void cleanup() { Reset(); }

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
            engine.List(root, [hiddenRule](CWalkOptions& o) {
                o.m_bIgnoreHiddenFolders = hiddenRule;
                o.m_nReadAheadThreads = 0;
            });
            QCOMPARE(engine.paths.size(), 1);
            // Unreadable attributes count as hidden; otherwise the folder is parsed and empty.
            QCOMPARE(engine.result.m_nFoldersParsed, hiddenRule ? 2 : 21);
            QCOMPARE(engine.result.m_nFoldersIgnored, hiddenRule ? 19 : 0);
            RemakeFolders(root);

            // Read ahead, folders gone after their reading still show what was read.
            engine.List(root, [hiddenRule](CWalkOptions& o) {
                o.m_bIgnoreHiddenFolders = hiddenRule;
                o.m_nReadAheadThreads = 2;
            });
            const int readAhead = int(engine.paths.size()) - 1;
            QVERIFY2(readAhead >= 0 && readAhead <= CAppHelper::kReadAheadFolders, QByteArray::number(readAhead));
            QCOMPARE(engine.result.m_nFoldersParsed + engine.result.m_nFoldersIgnored, 21);
            QVERIFY(engine.result.m_nFoldersParsed >= 1 + readAhead);
            if (!hiddenRule)
                QCOMPARE(engine.result.m_nFoldersIgnored, 0);
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
        // Skipped and trash folders deep down too, where readers meet them below folders the walk has not entered.
        QByteArrayList deep;
        QDirIterator it(QFile::decodeName(root), QDir::Dirs | QDir::Hidden | QDir::NoDotAndDotDot | QDir::NoSymLinks,
                        QDirIterator::Subdirectories);
        while (it.hasNext()) {
            const QByteArray folder = QFile::encodeName(it.next());
            if (folder.count('/') >= root.count('/') + 3)
                deep << folder;
        }
        deep = Sorted(deep);
        QVERIFY(deep.size() > 40);
        for (const char* trash : {"/.Trash-1000", "/.Trash", "/.Trash/1000", "/1000"})
            MakeDir(deep[7] + trash);
        for (const char* trash : {"/.Trash-1000/f", "/.Trash/1000/f", "/1000/f"})
            MakeFile(deep[7] + trash);
        SetSystemFoldersResolver([root, deep] {
            CSystemFolders f;
            f.osFolders = {(root + "/SKIPPED").toStdString(), deep[10].toUpper().toStdString()};
            f.programFolders = {deep[20].toStdString()};
            f.appDataFolders = {deep[30].toStdString(), deep[31].toStdString()};
            f.homeTrash = deep[40].toStdString();
            return f;
        });
        const QList<std::function<void(CWalkOptions&)>> options = {
            [](CWalkOptions&) {},
            [](CWalkOptions& o) {
                o.m_bViewFilesCount = true;
                o.m_bIgnoreReadOnlyFiles = true;
                o.m_bStatEveryEntry = true;
            },
            [](CWalkOptions& o) {
                o.m_bIgnoreHiddenFolders = false;
                o.m_bIgnoreHiddenFiles = false;
                o.m_bViewFilesCount = true;
                o.m_bIgnoreRecycleBinFolder = true;
            },
            [](CWalkOptions& o) { o.m_bSearchSubFolders = false; },
        };
        const int fdsBefore = OpenDescriptors();
        for (const auto& option : options) {
            CRecorder single;
            single.observe = true;
            single.List(root, [&](CWalkOptions& o) {
                option(o);
                o.m_nReadAheadThreads = 0;
            });
            CRecorder ahead;
            ahead.observe = true;
            int mostOpen = 0;
            ahead.onFile = [&mostOpen](CRecorder& e) {
                if (e.paths.size() % 16 == 0)
                    mostOpen = std::max(mostOpen, OpenDescriptors());
            };
            ahead.List(root, [&](CWalkOptions& o) {
                option(o);
                o.m_nReadAheadThreads = threads;
            });
            QVERIFY(single.paths.size() > (single.Options().m_bSearchSubFolders ? 500 : 3));
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
        all.List(root, [](CWalkOptions& o) { o.m_nReadAheadThreads = 0; });
        const int total = int(all.paths.size());
        const int fdsBefore = OpenDescriptors();
        for (const int stopAt : {1, 2, 9, total / 3, total / 2, total - 1}) {
            QByteArrayList observed[2];
            for (const int threads : {0, 2}) {
                CRecorder engine;
                engine.observe = true;
                engine.onFile = [stopAt](CRecorder& e) {
                    if (e.paths.size() == stopAt)
                        e.stop = true;
                };
                engine.List(root, [threads](CWalkOptions& o) { o.m_nReadAheadThreads = threads; });
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
        QCOMPARE(engine.result.m_nFoldersParsed, 1 + kDepth + kDepth / 100);
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

SORVANE_TEST_MAIN(TestReadAhead)
#include "tst_readahead.moc"

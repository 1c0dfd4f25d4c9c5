#include "TestSupport.h"

#include "ReferenceGroups.h"
#include "ResultsFill.h"
#include "WorkerPool.h"
#include "SizeGroups.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTemporaryDir>

#include <fcntl.h>
#include <memory>
#include <stdexcept>
#include <sys/stat.h>
#include <unistd.h>

using TestSupport::MakeDir;
using TestSupport::MakeFile;

namespace {
constexpr qint64 GiB = qint64(1) << 30;

struct CRun {
    bool completed;
    CFillResult result;
};

CRun Fill(const QByteArrayList& paths, int threads = 0, const std::atomic<bool>* stopFlag = nullptr)
{
    static std::atomic<bool> noStop{false};
    CFillInput input{[&paths] { return int(paths.size()); },
                     [&paths](int i) { return std::string_view(paths[i].constData(), size_t(paths[i].size())); }};
    CRun run;
    run.completed = RunResultsFill(input, run.result, stopFlag ? *stopFlag : noStop, {}, threads);
    return run;
}

QString Describe(const std::vector<CResultRow>& rows)
{
    QStringList parts;
    for (size_t i = 0; i < rows.size(); ++i)
        parts << QStringLiteral("%1:%2:%3").arg(i + 1).arg(rows[i].SizeText()).arg(rows[i].group);
    return parts.join(QLatin1Char(' '));
}
}  // namespace

class TestGrouping : public QObject {
    Q_OBJECT

    QByteArray m_dir;
    int m_case = 0;

    QByteArrayList Files(const QList<qint64>& sizes)
    {
        m_dir = QFile::encodeName(TestSupport::TempRoot()) + "/g" + QByteArray::number(++m_case);
        MakeDir(m_dir);
        QByteArrayList paths;
        for (int i = 0; i < sizes.size(); ++i) {
            paths << m_dir + "/f" + QByteArray::number(i);
            MakeFile(paths.last(), sizes[i]);
        }
        return paths;
    }

private slots:
    void sizeGroups_data()
    {
        QTest::addColumn<QList<qint64>>("sizes");
        QTest::addColumn<QString>("rows");
        QTest::newRow("empty") << QList<qint64>{} << "";
        QTest::newRow("one file") << QList<qint64>{4} << "";
        QTest::newRow("all different") << QList<qint64>{5, 4, 3} << "";
        QTest::newRow("two groups") << QList<qint64>{10, 7, 3, 7, 1, 3, 7} << "1:7:0 2:7:0 3:7:0 4:3:1 5:3:1";
        QTest::newRow("top pair") << QList<qint64>{9, 9, 5, 2} << "1:9:0 2:9:0";
        QTest::newRow("ends") << QList<qint64>{9, 9, 8, 2, 2} << "1:9:0 2:9:0 3:2:1 4:2:1";
        QTest::newRow("3 GiB pair") << QList<qint64>{3 * GiB, 3 * GiB} << "1:3221225472:0 2:3221225472:0";
        QTest::newRow("4 GiB apart") << QList<qint64>{3 * GiB, 7 * GiB} << "";
    }
    void sizeGroups()
    {
        QFETCH(QList<qint64>, sizes);
        QFETCH(QString, rows);
        const CRun run = Fill(Files(sizes));
        QVERIFY(run.completed);
        QCOMPARE(Describe(run.result.rows), rows);
    }

    void rowsNameTheirFileAndTime()
    {
        const QByteArrayList paths = Files({6, 6});
        const CRun run = Fill(paths);
        QCOMPARE(run.result.rows.size(), size_t(2));
        const CResultRow& r = run.result.rows[0];
        QCOMPARE(QByteArray(r.path), paths[0]);  // equal sizes keep the listing's order
        QCOMPARE(QByteArray(r.Name().data(), int(r.Name().size())), QByteArray("f0"));
        QCOMPARE(QByteArray(r.FolderWithSlash().data(), int(r.FolderWithSlash().size())), m_dir + "/");
        QVERIFY(r.hasModified && !r.ModifiedText().trimmed().isEmpty());
    }

    void unopenableAndVanishedFiles()
    {
        QByteArrayList paths = Files({0, 0, 5, 5});
        // A path that cannot be opened: a link now stands where the file was.
        QVERIFY(::unlink(paths[1].constData()) == 0 && ::symlink("f0", paths[1].constData()) == 0);
        // A file removed before the fill leaves no row and no gap in the numbers.
        QVERIFY(::unlink(paths[2].constData()) == 0);
        paths << m_dir + "/f4";
        MakeFile(paths.last(), 5);
        const CRun run = Fill(paths);
        QCOMPARE(Describe(run.result.rows), QStringLiteral("1:5:0 2:5:0 3:0:1 4::2"));
        QVERIFY(!run.result.rows[3].opened && run.result.rows[3].ModifiedText().isEmpty());
    }

    // Read off the stat where it is certain, asked of the kernel where not: the verdict is what open gives,
    // for the owner with and without the read bit and for another user's files through other and group.
    void readableAsOpenWouldSay()
    {
        const QByteArrayList paths = Files({7, 7, 7, 7, 7});
        const struct {
            mode_t mode;
            bool mine;
        } cases[] = {{0400, true}, {0000, true}, {0004, false}, {0040, false}, {0600, false}};
        for (int i = 0; i < 5; ++i) {
            QCOMPARE(::chmod(paths[i].constData(), cases[i].mode), 0);
            if (!cases[i].mine && geteuid() == 0)
                QCOMPARE(::chown(paths[i].constData(), TestSupport::kAccomplice, TestSupport::kAccomplice), 0);
        }
        for (const bool obeyModes : {false, true}) {
            std::unique_ptr<TestSupport::CFileModesObeyed> obeyed;
            if (obeyModes)
                obeyed = std::make_unique<TestSupport::CFileModesObeyed>();
            const CRun run = Fill(paths, 1);
            QCOMPARE(run.result.rows.size(), size_t(5));
            for (const CResultRow& r : run.result.rows) {
                const int fd = ::open(r.path, O_RDONLY | O_CLOEXEC);
                QVERIFY2(r.opened == (fd >= 0), r.path);
                if (fd >= 0)
                    ::close(fd);
            }
        }
        for (const QByteArray& p : paths)
            ::chmod(p.constData(), 0644);
    }

    void stopDuringCollectionKeepsTheRowsUnsorted()
    {
        const QByteArrayList paths = Files({1, 2, 3, 2, 1});
        std::atomic<bool> stop{false};
        int seen = 0;
        CFillInput input{[&] { return int(paths.size()); }, [&](int i) {
                             if (++seen == 3)
                                 stop = true;
                             return std::string_view(paths[i].constData(), size_t(paths[i].size()));
                         }};
        CFillResult result;
        QVERIFY(!RunResultsFill(input, result, stop, {}, 1));
        QCOMPARE(Describe(result.rows), QStringLiteral("1:1:0 2:2:0 3:3:0"));
    }

    void parallelCollectionKeepsInputOrder()
    {
        QList<qint64> sizes;
        for (int i = 0; i < 5000; ++i)
            sizes << (i * 7919) % 1000;
        const QByteArrayList paths = Files(sizes);
        QList<QByteArray> batched;
        CFillInput input{[&] { return int(paths.size()); },
                         [&](int i) { return std::string_view(paths[i].constData(), size_t(paths[i].size())); }};
        std::atomic<bool> stop{false};
        CFillResult parallel;
        QVERIFY(RunResultsFill(input, parallel, stop, [&](const std::vector<CResultRow>& batch) {
            for (const CResultRow& r : batch)
                batched << QByteArray(r.path);
        }, 3));
        QCOMPARE(batched, paths);  // batches arrive in input order
        const CRun single = Fill(paths, 1);
        QCOMPARE(Describe(parallel.rows), Describe(single.result.rows));
        QCOMPARE(parallel.rows.size(), size_t(5000));
    }

    // The command line's compact groups give the fill's rows, numbers and
    // figures: a listing still growing, a group longer than a slice, hard links, a second device,
    // times outside 32 bits, a link that is not opened and a vanished file.
    void compactGroupsMatchTheFill()
    {
        QList<qint64> sizes;
        for (int i = 0; i < 6000; ++i)
            sizes << (i % 4 ? 0 : (i * 7919) % 40);
        QByteArrayList paths = Files(sizes);
        QCOMPARE(::link(paths[4].constData(), (m_dir + "/hard").constData()), 0);
        QCOMPARE(::symlink("f4", (m_dir + "/link").constData()), 0);
        paths << m_dir + "/hard" << m_dir + "/link" << m_dir + "/vanished";
        for (const auto& [i, seconds] : {std::pair<int, time_t>{8, -315619200}, {12, 7258118400}}) {  // 1960, 2200
            const timespec times[2] = {{seconds, 0}, {seconds, 0}};
            QCOMPARE(utimensat(AT_FDCWD, paths[i].constData(), times, 0), 0);
        }
        QTemporaryDir shm(QStringLiteral("/dev/shm/sorvane-test-XXXXXX"));
        struct stat here, there;
        if (shm.isValid() && ::stat(m_dir.constData(), &here) == 0 && ::stat(QFile::encodeName(shm.path()), &there) == 0
            && here.st_dev != there.st_dev) {
            paths << QFile::encodeName(shm.path()) + "/same-ino";
            MakeFile(paths.last(), 4);
        }
        // Examined while the listing grows, as the command line does it.
        CPathArray listing;
        std::atomic<bool> stop{false};
        CSizeGroups groups(listing);
        groups.Start(stop, 3);
        for (const QByteArray& p : paths) {
            listing.Add(std::string_view(p.constData(), size_t(p.size())));
            groups.Listed(listing.GetSize());
        }
        QVERIFY(groups.Finish());
        CFillResult fill;
        CFillInput input{[&] { return listing.GetSize(); }, [&](int i) { return listing.At(i); }, true};
        QVERIFY(RunResultsFill(input, fill, stop, {}, 3));
        std::vector<CResultRow> rows;
        std::vector<std::pair<size_t, bool>> ends;  // where each slice ended, and whether it said its group closed
        int continued = 0;
        const SelectionRules::CFigures figures = groups.Drain([&](const std::vector<CResultRow>& slice, size_t firstSr, bool opens, bool closes) {
            QCOMPARE(firstSr, rows.size() + 1);
            QCOMPARE(opens, rows.empty() || rows.back().group != slice.front().group);
            continued += opens ? 0 : 1;
            rows.insert(rows.end(), slice.begin(), slice.end());
            ends.emplace_back(rows.size(), closes);
        });
        QVERIFY(continued > 0);  // the group of empty files came in pieces
        QVERIFY(ends.size() < size_t(fill.rows.back().group));  // small groups share slices
        for (const auto& [end, closes] : ends)
            QCOMPARE(closes, end == rows.size() || rows[end].group != rows[end - 1].group);
        QCOMPARE(rows.size(), fill.rows.size());
        for (size_t i = 0; i < rows.size(); ++i) {
            const CResultRow& a = rows[i];
            const CResultRow& b = fill.rows[i];
            QVERIFY2(a.path == b.path && a.sizeKey == b.sizeKey && a.opened == b.opened && a.group == b.group
                         && a.modified == b.modified && a.hasModified == b.hasModified && a.dev == b.dev && a.ino == b.ino,
                     b.path);
        }
        const SelectionRules::CFigures expected = SelectionRules::Figures(fill.rows);
        QCOMPARE(figures.groups, expected.groups);
        QCOMPARE(figures.files, expected.files);
        QCOMPARE(figures.reclaimable, expected.reclaimable);

        // A visit that throws ends the hand-over: the rows' maker, two slices ahead, ends instead of waiting.
        CPathArray repeated;
        for (int i = 0; i < 3 * 4096; ++i)
            repeated.Add(listing.At(4));
        CSizeGroups thrown(repeated);
        thrown.Start(stop, 1);
        thrown.Listed(repeated.GetSize());
        QVERIFY(thrown.Finish());
        QVERIFY_THROWS_EXCEPTION(std::runtime_error, thrown.Drain([](const std::vector<CResultRow>&, size_t, bool, bool) {
            throw std::runtime_error("visit");
        }));

        // A stop while threads wait for more of the listing ends them.
        CSizeGroups stopped(listing);
        stopped.Start(stop, 2);
        stopped.Listed(kFillChunk + 1);
        stop = true;
        QVERIFY(!stopped.Finish());
    }

    // Every body runs once with its index; leaving the scope raises the stop flag and joins them all.
    // Groups wholly in reference folders are left out however the rows are sliced; the rest are
    // numbered again, and only copies outside the references count as reclaimable.
    void referenceFoldersLeaveTheirOwnGroupsOut_data()
    {
        QTest::addColumn<int>("slice");
        QTest::newRow("whole") << 100;
        QTest::newRow("row by row") << 1;
        QTest::newRow("groups cut") << 2;
    }
    void referenceFoldersLeaveTheirOwnGroupsOut()
    {
        QFETCH(int, slice);
        CProtectedFolders folders = CProtectedFolders::FromStored("/kept");
        folders.AddReference("/ref/");
        folders.AddReference("/ref");
        QCOMPARE(folders.References(), std::vector<std::string>{"/ref"});
        QCOMPARE(folders.Stored(), QByteArray("/kept"));  // a reference is never stored
        QVERIFY(folders.InReference("/ref") && folders.InReference("/ref/a/b") && !folders.InReference("/refx/a"));
        QVERIFY(folders.Guards("/ref/a") && folders.GuardsReference("/") && !folders.GuardsReference("/kept/a"));

        const char* paths[] = {"/ref/a", "/ref/b", "/home/c", "/ref/d", "/home/e", "/home/f", "/ref/g", "/ref/h"};
        const int groups[] = {0, 0, 1, 1, 2, 2, 3, 3};
        std::vector<CResultRow> rows;
        for (int i = 0; i < 8; ++i) {
            CResultRow r;
            r.path = paths[i];
            r.sizeKey = uint64_t(10 - groups[i]);
            r.opened = true;
            r.ino = uint64_t(i + 1);
            r.group = groups[i];
            rows.push_back(r);
        }
        CReferenceGroups kept(folders);
        QStringList seen;
        for (size_t first = 0; first < rows.size(); first += size_t(slice)) {
            const std::vector<CResultRow> part(rows.begin() + long(first), rows.begin() + long(std::min(rows.size(), first + size_t(slice))));
            const bool opens = first == 0 || rows[first].group != rows[first - 1].group;
            const bool closes = first + part.size() == rows.size() || rows[first + part.size()].group != part.back().group;
            kept.Feed(part, opens, closes, [&seen](const std::vector<CResultRow>& group, size_t sr) {
                for (size_t i = 0; i < group.size(); ++i)
                    seen << QStringLiteral("%1 %2 %3").arg(sr + i).arg(QLatin1String(group[i].path)).arg(group[i].group);
            });
        }
        QCOMPARE(seen, QStringList({"1 /home/c 0", "2 /ref/d 0", "3 /home/e 1", "4 /home/f 1"}));
        QCOMPARE(kept.GroupsLeftOut(), size_t(2));
        QCOMPARE(kept.Figures().groups, 2);
        QCOMPARE(kept.Figures().reclaimable, uint64_t(9 + 8));  // /home/c, and one of /home/e and /home/f

        CReferenceGroups::LeaveOut(rows, folders);
        QCOMPARE(rows.size(), size_t(4));
        QCOMPARE(QLatin1String(rows[1].path), QLatin1String("/ref/d"));
        QCOMPARE(rows[3].group, 1);
    }

    void threadGroupStopsAndJoins()
    {
        std::vector<int> runs(4, 0);
        std::atomic<int> ended{0};
        {
            CThreadGroup group;
            group.Start(4, [&](int index, const std::atomic<bool>& stop) {
                ++runs[size_t(index)];
                while (!stop.load())
                    std::this_thread::yield();
                ++ended;
            });
            QVERIFY(group.Running());
        }
        QCOMPARE(ended.load(), 4);
        QCOMPARE(runs, std::vector<int>(4, 1));
    }

    // A path array moved from starts afresh; the one moved to keeps every path.
    void pathArrayMovedFromIsEmpty()
    {
        CPathArray from;
        for (int i = 0; i < 3000; ++i)
            from.Add(std::to_string(i));
        CPathArray to(std::move(from));
        QCOMPARE(from.GetSize(), 0);
        from.Add("again");
        QCOMPARE(from.At(0), std::string_view("again"));
        QCOMPARE(to.GetSize(), 3000);
        QCOMPARE(to.At(2999), std::string_view("2999"));
    }

    void pathsLongerThanTheSystemLimit()
    {
        // Made one level at a time, as no call takes the whole path.
        QByteArray deep = QFile::encodeName(TestSupport::TempRoot()) + "/long";
        MakeDir(deep);
        const QByteArray level(200, 'L');
        int fd = ::open(deep.constData(), O_RDONLY | O_DIRECTORY);
        for (int i = 0; i < 25; ++i) {
            QCOMPARE(mkdirat(fd, level.constData(), 0755), 0);
            const int next = openat(fd, level.constData(), O_RDONLY | O_DIRECTORY);
            ::close(fd);
            fd = next;
            deep += "/" + level;
        }
        for (const char* name : {"same", "other", "empty"}) {
            const int f = openat(fd, name, O_CREAT | O_WRONLY, 0644);
            QCOMPARE(ftruncate(f, name[0] == 'e' ? 0 : 7), 0);
            ::close(f);
        }
        QCOMPARE(symlinkat("same", fd, "link"), 0);
        QCOMPARE(mkdirat(fd, "sub", 0755), 0);
        const int sub = openat(fd, "sub/x", O_CREAT | O_WRONLY, 0644);
        QCOMPARE(ftruncate(sub, 7), 0);
        ::close(sub);
        ::close(fd);
        QVERIFY(deep.size() > 5000);

        QByteArrayList paths = Files({7});
        paths << deep + "/same" << deep + "/gone" << deep + "/link" << deep + "/other" << deep + "/sub/x" << deep + "/empty";
        const CRun run = Fill(paths);
        // The link is there but not opened; the file that is gone leaves no row.
        QCOMPARE(Describe(run.result.rows), QStringLiteral("1:7:0 2:7:0 3:7:0 4:7:0 5::1 6:0:2"));
        QCOMPARE(QByteArray(run.result.rows[3].path), deep + "/sub/x");  // reached one step down from its parent
        QCOMPARE(QByteArray(run.result.rows[1].path), deep + "/same");
        QVERIFY(run.result.rows[1].hasModified);
        QCOMPARE(QByteArray(run.result.rows[4].path), deep + "/link");
        QVERIFY(QProcess::execute(QStringLiteral("rm"), {QStringLiteral("-rf"), TestSupport::TempRoot() + QStringLiteral("/long")}) == 0);
    }

    void commandLineRowsWithNulSeparators()
    {
        Files({});
        for (const QByteArray& name : {QByteArray("tab\there"), QByteArray("new\nline"), QByteArray("-dash")})
            MakeFile(m_dir + "/" + name, 4);
        MakeFile(m_dir + "/lone", 9);
        QProcess p;
        p.start(QStringLiteral(SORVANE_CLI), {QStringLiteral("--duplicates"), QStringLiteral("-0"), QFile::decodeName(m_dir)});
        QVERIFY(p.waitForFinished(30000));
        QCOMPARE(p.exitCode(), 0);
        const QByteArray out = p.readAllStandardOutput();
        // Six NUL-terminated fields, then one more NUL, per row.
        QByteArrayList fields = out.split('\0');
        QCOMPARE(fields.takeLast(), QByteArray());
        QCOMPARE(fields.size(), 3 * 7);
        QByteArrayList names;
        for (int row = 0; row < 3; ++row) {
            const QByteArrayList f = fields.mid(row * 7, 7);
            QCOMPARE(f[0], QByteArray::number(row + 1));
            names << f[1];
            QCOMPARE(f[2], m_dir + "/");
            QCOMPARE(f[3], QByteArray("4"));
            QVERIFY(!f[4].isEmpty());
            QCOMPARE(f[5], QByteArray("0"));
            QCOMPARE(f[6], QByteArray());
        }
        std::sort(names.begin(), names.end());
        QCOMPARE(names, QByteArrayList({"-dash", "new\nline", "tab\there"}));
    }

    // A group larger than the command line hands over at once still makes one JSON line.
    void commandLineJsonOfALargeGroup()
    {
        QList<qint64> sizes(5000, 3);
        sizes << 2 << 2;
        Files(sizes);
        QProcess p;
        p.start(QStringLiteral(SORVANE_CLI), {QStringLiteral("--duplicates"), QStringLiteral("--format=json"), QFile::decodeName(m_dir)});
        QVERIFY(p.waitForFinished(30000));
        QCOMPARE(p.exitCode(), 0);
        const QList<QByteArray> lines = p.readAllStandardOutput().split('\n');
        QCOMPARE(lines.size(), 3);
        const QJsonArray files = QJsonDocument::fromJson(lines[0]).object().value(QStringLiteral("files")).toArray();
        QCOMPARE(files.size(), 5000);
        QCOMPARE(files.last().toObject().value(QStringLiteral("sr")).toInt(), 5000);
        QCOMPARE(QJsonDocument::fromJson(lines[1]).object().value(QStringLiteral("group")).toInt(), 1);
    }

    void commandLinePrintsTheRows()
    {
        const QByteArrayList paths = Files({8, 8, 3});
        MakeFile(m_dir + "/odd\xff", 3);
        QProcess p;
        p.start(QStringLiteral(SORVANE_CLI), {QStringLiteral("--duplicates"), QFile::decodeName(m_dir)});
        QVERIFY(p.waitForFinished(30000));
        QCOMPARE(p.exitCode(), 0);
        const QList<QByteArray> lines = p.readAllStandardOutput().split('\n');
        QCOMPARE(lines.size(), 5);
        QVERIFY(lines[0].startsWith("1\tf0\t" + m_dir + "/\t8\t") || lines[0].startsWith("1\tf1\t" + m_dir + "/\t8\t"));
        QVERIFY(lines[0].endsWith("\t0"));
        QVERIFY(lines[3].endsWith("\t1"));
        QVERIFY(lines[2].contains("\todd\xff\t" + m_dir + "/\t3\t") || lines[3].contains("\todd\xff\t" + m_dir + "/\t3\t"));
        QVERIFY(p.readAllStandardError().contains("4 File(s) in File List."));
    }
};

SORVANE_TEST_MAIN(TestGrouping)
#include "tst_grouping.moc"

#include "TestSupport.h"

#include "ContentCheck.h"
#include "HeadPrefetch.h"
#include "ResultsFill.h"
#include "SelectionRules.h"

#include <QDir>

#include <dirent.h>
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <map>
#include <thread>
#include <unistd.h>

namespace {

void WriteAt(const QByteArray& path, qint64 offset, const QByteArray& bytes)
{
    const int fd = open(path.constData(), O_WRONLY | O_CLOEXEC);
    QVERIFY(fd >= 0);
    QCOMPARE(pwrite(fd, bytes.constData(), size_t(bytes.size()), offset), ssize_t(bytes.size()));
    close(fd);
}

// A file of size bytes, all 'a' unless sparse, then patched at offset.
void Make(const QByteArray& path, qint64 size, bool sparse = false, qint64 offset = -1, char patch = 'b')
{
    TestSupport::MakeFile(path, size);
    if (!sparse && size > 0) {
        const QByteArray fill(int(std::min<qint64>(size, 1 << 20)), 'a');
        for (qint64 at = 0; at < size; at += fill.size())
            WriteAt(path, at, fill.left(int(std::min<qint64>(fill.size(), size - at))));
    }
    if (offset >= 0)
        WriteAt(path, offset, QByteArray(1, patch));
}

// Lowers the process's descriptor limit, and can take every descriptor left
// under it, as another part of the program could.
struct CFewDescriptors {
    rlimit saved = {};
    std::vector<int> held;
    explicit CFewDescriptors(rlim_t limit)
    {
        getrlimit(RLIMIT_NOFILE, &saved);
        rlimit lowered = saved;
        lowered.rlim_cur = limit;
        setrlimit(RLIMIT_NOFILE, &lowered);
    }
    ~CFewDescriptors()
    {
        Release();
        setrlimit(RLIMIT_NOFILE, &saved);
    }
    void TakeAll()
    {
        for (int fd; (fd = open("/dev/null", O_RDONLY | O_CLOEXEC)) >= 0;)
            held.push_back(fd);
    }
    void Release()
    {
        for (int fd : held)
            close(fd);
        held.clear();
    }
};

}  // namespace

class TestContents : public QObject {
    Q_OBJECT

    QByteArray m_dir;

    CFillResult Fill(ContentCheck::CProgress* progress, const std::atomic<bool>& stop)
    {
        return Fill(Paths(), progress, stop);
    }
    QByteArrayList Paths() const
    {
        QByteArrayList paths;  // by bytes: QDir cannot name files that are not UTF-8
        if (DIR* d = opendir(m_dir.constData())) {
            while (const dirent* e = readdir(d)) {
                if (e->d_type == DT_REG)
                    paths << m_dir + "/" + e->d_name;
            }
            closedir(d);
        }
        std::sort(paths.begin(), paths.end());
        return paths;
    }
    static CFillResult Fill(const QByteArrayList& paths, ContentCheck::CProgress* progress, const std::atomic<bool>& stop)
    {
        auto input = CFillInput{[paths] { return int(paths.size()); },
                                [paths](int i) { return std::string_view(paths[i].constData(), size_t(paths[i].size())); }};
        CFillResult result;
        [[maybe_unused]] const bool done = RunResultsFill(input, result, stop, {}, 1) && (!progress || ContentCheck::Run(result.rows, stop, progress));
        return result;
    }
    static QString Groups(const std::vector<CResultRow>& rows)
    {
        QStringList out;
        for (const CResultRow& r : rows)
            out << QStringLiteral("%1:%2").arg(r.group).arg(EscapePath(r.Name()));
        return out.join(QLatin1Char(' '));
    }

private slots:
    void initTestCase() { m_dir = QFile::encodeName(TestSupport::TempRoot()) + "/c"; }
    void init()
    {
        QDir(QFile::decodeName(m_dir)).removeRecursively();
        TestSupport::MakeDir(m_dir);
    }

    // Only byte-identical files share a group, whatever part of them differs.
    void groupsAreExact()
    {
        const qint64 big = 10 << 20;
        Make(m_dir + "/big1", big);
        Make(m_dir + "/big2", big);
        Make(m_dir + "/big3", big, false, big / 2 + 12345);  // the middle
        Make(m_dir + "/big4", big, false, 0);                // the first byte
        Make(m_dir + "/big5", big, false, big - 1);          // the last byte
        Make(m_dir + "/big6", big, false, big - 1);
        Make(m_dir + "/odd\xff", 3000);
        Make(m_dir + "/plain", 3000);
        Make(m_dir + "/other", 3000, false, 2999);
        Make(m_dir + "/empty1", 0);
        Make(m_dir + "/empty2", 0);
        Make(m_dir + "/copy", 50);
        QCOMPARE(::link((m_dir + "/copy").constData(), (m_dir + "/link").constData()), 0);
        Make(m_dir + "/third", 50);
        Make(m_dir + "/alone", 77);
        // Differing only at a compare chunk's last byte, outside both end blocks.
        Make(m_dir + "/chunk1", 200000);
        Make(m_dir + "/chunk2", 200000, false, 131071);
        std::atomic<bool> stop{false};
        ContentCheck::CProgress progress;
        const CFillResult result = Fill(&progress, stop);
        QCOMPARE(Groups(result.rows), QStringLiteral("0:big1 0:big2 1:big5 1:big6 2:odd\\xFF 2:plain 3:copy 3:link 3:third "
                                                     "4:empty1 4:empty2"));
        QCOMPARE(progress.done.load(), progress.total.load());
        // Each inode counted once: the link frees nothing.
        QCOMPARE(SelectionRules::Figures(result.rows).reclaimable, quint64(big * 2 + 3000 + 50));

        // Taken where their data lies on the disk, as on one that spins: the same groups, in the same order.
        CFillResult sized = Fill(nullptr, stop);
        QVERIFY(ContentCheck::Run(sized.rows, stop, nullptr, 1, true));
        QCOMPARE(Groups(sized.rows), Groups(result.rows));
    }

    // Sparse files compare their data ranges; a difference deep in a hole is still found.
    void sparseFilesCompareTheirData()
    {
        const qint64 size = qint64(6) << 30;
        Make(m_dir + "/s1", size, true, qint64(3) << 30, 'x');
        Make(m_dir + "/s2", size, true, qint64(3) << 30, 'x');
        Make(m_dir + "/s3", size, true, (qint64(3) << 30) + 1, 'x');
        std::atomic<bool> stop{false};
        ContentCheck::CProgress progress;
        QCOMPARE(Groups(Fill(&progress, stop).rows), QStringLiteral("0:s1 0:s2"));
    }

    // Stop in the middle of a file leaves the rows as they were; a file that
    // changed since it was listed leaves its group with the reason.
    void stopAndChange()
    {
        Make(m_dir + "/a", 8 << 20);
        Make(m_dir + "/b", 8 << 20);
        Make(m_dir + "/c", 100);
        Make(m_dir + "/d", 100);
        std::atomic<bool> stop{false};
        ContentCheck::CProgress progress;
        std::atomic<int> chunks{0};  // the check runs on several threads
        progress.afterChunk = [&] {
            if (++chunks == 3)
                stop = true;
        };
        QCOMPARE(Fill(&progress, stop).rows.size(), size_t(4));  // the size groups, unsplit
        QVERIFY(chunks >= 3);  // another thread may finish the chunk it was reading
        QVERIFY(progress.done < progress.total);

        stop = false;
        CFillResult sized = Fill(nullptr, stop);
        QCOMPARE(sized.rows.size(), size_t(4));
        Make(m_dir + "/d", 100, false, 10);  // same size, other bytes: still compared exactly
        QCOMPARE(::truncate((m_dir + "/b").constData(), 5), 0);
        QVERIFY(ContentCheck::Run(sized.rows, stop));
        QCOMPARE(Groups(sized.rows), QStringLiteral("0:b"));  // a alone is no duplicate; b is named with why
        QVERIFY(!sized.rows[0].opened);
        QCOMPARE(sized.rows[0].failure, uint8_t(ContentCheck::kChanged));
    }

    // Sixteen readers share one budget of open files: groups larger than a reader's fair share,
    // and one larger than any may hold open, still come out exact, with every byte counted once.
    void readersShareTheirBudget()
    {
        for (int g = 0; g < 12; ++g) {
            const int members = g == 0 ? 90 : 20 + g;
            for (int i = 0; i < members; ++i)
                Make(m_dir + "/g" + QByteArray::number(g) + "-" + QByteArray::number(i), 5000 + g, false, i == 7 ? 2600 : -1);
        }
        std::atomic<bool> stop{false};
        CFillResult sized = Fill(nullptr, stop);
        ContentCheck::CProgress progress;
        QVERIFY(ContentCheck::Run(sized.rows, stop, &progress, 16));
        std::map<int, int> sizes;
        for (const CResultRow& r : sized.rows) {
            QVERIFY2(r.opened && r.failure == ContentCheck::kNone && !QByteArray(r.Name().data(), int(r.Name().size())).endsWith("-7"), r.path);
            ++sizes[r.group];
        }
        QCOMPARE(int(sizes.size()), 12);
        for (const auto& [group, count] : sizes)
            QVERIFY(count == 89 || (count >= 20 && count <= 31));
        QCOMPARE(progress.done.load(), progress.total.load());
    }

    // A file met while the process has no descriptor left is waited for, not
    // judged: a group far larger than the limit comes out whole. Stop still
    // ends the wait.
    void outOfDescriptorsDecidesNothing()
    {
        for (int i = 0; i < 300; ++i)
            Make(m_dir + "/same" + QByteArray::number(i), 1000);
        Make(m_dir + "/other", 1000, false, 500);
        const QByteArrayList paths = Paths();
        std::atomic<bool> stop{false};
        CFewDescriptors few(40);

        few.TakeAll();
        CFillResult result;
        ContentCheck::CProgress progress;
        std::thread fill([&] { result = Fill(paths, &progress, stop); });
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        few.Release();
        fill.join();
        QCOMPARE(result.rows.size(), size_t(300));
        for (const CResultRow& r : result.rows) {
            QVERIFY2(r.opened && r.group == 0 && r.failure == ContentCheck::kNone, r.path);
        }

        CFillResult sized = Fill(paths, nullptr, stop);
        few.TakeAll();
        bool completed = true;
        std::thread check([&] { completed = ContentCheck::Run(sized.rows, stop); });
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        QElapsedTimer sinceStop;
        sinceStop.start();
        stop = true;
        check.join();
        few.Release();
        QVERIFY(!completed);
        QVERIFY(sinceStop.elapsed() < 1000);
        QCOMPARE(sized.rows.size(), size_t(301));
        for (const CResultRow& r : sized.rows)
            QVERIFY(r.opened && r.failure == ContentCheck::kNone);
    }

    // Asking ahead for files that an accomplice swapped for pipes, a link or nothing never blocks:
    // the readers end when asked, and the files are left as they were.
    void prefetchNeverWaitsOnWhatIsPlanted()
    {
        Make(m_dir + "/a", 9000);
        Make(m_dir + "/b", 9000);
        QCOMPARE(mkfifo((m_dir + "/p1").constData(), 0600), 0);
        QCOMPARE(mkfifo((m_dir + "/p2").constData(), 0600), 0);
        QCOMPARE(symlink("p1", (m_dir + "/l").constData()), 0);
        CPathArray paths;
        for (const char* name : {"a", "p1", "p2", "l", "gone", "b"})
            paths.Add((m_dir + "/" + name).toStdString());
        CHeadPrefetch prefetch(paths);
        prefetch.Start(m_dir);
        for (int i = 0; i < paths.GetSize(); ++i)
            prefetch.Offer(i, 9000);
        std::atomic<bool> finished{false};
        std::thread ending([&] {
            std::this_thread::sleep_for(std::chrono::milliseconds(200));
            prefetch.Finish();
            finished = true;
        });
        QTRY_VERIFY_WITH_TIMEOUT(finished.load(), 5000);
        ending.join();
        struct stat st;
        QVERIFY(lstat((m_dir + "/p1").constData(), &st) == 0 && S_ISFIFO(st.st_mode));
        QVERIFY(lstat((m_dir + "/l").constData(), &st) == 0 && S_ISLNK(st.st_mode));
    }
};

SORVANE_TEST_MAIN(TestContents)
#include "tst_contents.moc"

#include "TestSupport.h"

#include "ContentCheck.h"
#include "DigestCache.h"
#include "FileComparer.h"
#include "HeadPrefetch.h"
#include "ResultsFill.h"
#include "SelectionRules.h"

#include <QDir>

#include <dirent.h>
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <map>
#include <sys/time.h>
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
    int64_t m_racyNs = -1'000'000'000;  // files made a moment ago count as old enough to record
    bool m_noted = false;

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
    // A check over the folder's files with the digest cache in folder: loaded before, saved after.
    CFillResult CachedFill(const QByteArray& folder, ContentCheck::CProgress* progress, QStringList* notices = nullptr)
    {
        QStringList said;
        CDigestCache::SetNoticeHandler([&said](const std::string& line) { said << QString::fromStdString(line); });
        std::atomic<bool> stop{false};
        auto paths = Paths();
        auto input = CFillInput{[paths] { return int(paths.size()); },
                                [paths](int i) { return std::string_view(paths[i].constData(), size_t(paths[i].size())); }};
        CFillResult result;
        CDigestCache cache(folder.toStdString());
        cache.racyNs = m_racyNs;
        cache.Load();
        // Noted by the fill's own stats, as the programs do, or looked up by a stat of each path.
        CHeadPrefetch unstarted;
        CRowWatch seen;
        if (m_noted) {
            cache.ExpectNotes();
            seen = [&](const CResultRow& row, const CExamined& found) { unstarted.OfferExamined(row.path, found, &cache); };
        }
        const bool done =
            RunResultsFill(input, result, stop, {}, 1, seen) && ContentCheck::Run(result.rows, stop, progress, 0, false, &cache);
        const bool saved = cache.Save();
        CDigestCache::SetNoticeHandler({});
        if (!done || !saved)
            qWarning("check %d, save %d", int(done), int(saved));
        if (notices)
            *notices = said;
        return result;
    }
    // Same size pairs: a1 and a2 alike, b unlike them from its first block, c and d alike at both
    // ends but not in the middle.
    void MakeCacheFiles()
    {
        Make(m_dir + "/a1", 10000);
        Make(m_dir + "/a2", 10000);
        Make(m_dir + "/b", 10000, false, 5);
        Make(m_dir + "/c", 300000, false, 200000, 'b');
        Make(m_dir + "/d", 300000, false, 200000, 'c');
    }
    static QByteArray ReadAll(const QByteArray& path)
    {
        QFile f(QFile::decodeName(path));
        return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
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
        m_noted = false;
        QDir(QFile::decodeName(m_dir)).removeRecursively();
        QDir(QFile::decodeName(m_dir + "-cache")).removeRecursively();
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

    // A rescan gives the first run's groups reading only the identical files; a file changed in
    // place whose size and mtime were put back is known by its ctime and read again.
    void cacheSparesOnlyWhatItProvedDifferent_data()
    {
        QTest::addColumn<bool>("noted");
        QTest::newRow("each file statted by the check") << false;
        QTest::newRow("noted by the fill") << true;
    }
    void cacheSparesOnlyWhatItProvedDifferent()
    {
        QFETCH(bool, noted);
        m_noted = noted;
        MakeCacheFiles();
        const QByteArray cache = m_dir + "-cache";
        ContentCheck::CProgress first, again, changed;
        const QString groups = Groups(CachedFill(cache, &first).rows);
        std::atomic<bool> stop{false};
        ContentCheck::CProgress plain;
        QCOMPARE(groups, Groups(Fill(&plain, stop).rows));
        QCOMPARE(groups, QStringLiteral("0:a1 0:a2"));
        QCOMPARE(first.settled.load(), 0u);
        QCOMPARE(first.read.load(), plain.read.load());  // learning costs no read
        QCOMPARE(Groups(CachedFill(cache, &again).rows), groups);
        QCOMPARE(again.read.load(), 2u * 10000);  // a1 and a2, once each
        QCOMPARE(again.settled.load(), 3u);         // b by its ends, c and d by where they split
        QCOMPARE(again.done.load(), again.total.load());

        struct stat st;
        QCOMPARE(stat((m_dir + "/b").constData(), &st), 0);
        WriteAt(m_dir + "/b", 5, "a");  // now a copy of a1
        const timespec times[2] = {st.st_atim, st.st_mtim};
        QCOMPARE(utimensat(AT_FDCWD, (m_dir + "/b").constData(), times, 0), 0);
        QCOMPARE(Groups(CachedFill(cache, &changed).rows), QStringLiteral("0:a1 0:a2 0:b"));
        QCOMPARE(changed.settled.load(), 2u);

        // Files changed within the file system's clock tick could change again unseen: none recorded.
        QDir(QFile::decodeName(cache)).removeRecursively();
        m_racyNs = CDigestCache().racyNs;
        ContentCheck::CProgress fresh, unlearned;
        CachedFill(cache, &fresh);
        QCOMPARE(Groups(CachedFill(cache, &unlearned).rows), QStringLiteral("0:a1 0:a2 0:b"));
        m_racyNs = -1'000'000'000;
        m_noted = false;
        QCOMPARE(unlearned.settled.load(), 0u);
        QCOMPARE(unlearned.read.load(), fresh.read.load());
    }

    // A cache file that is not the user's own, damaged, cut short or reached through a link is
    // ignored with one notice and rebuilt; entries of another file system are never used.
    void untrustedCacheIsIgnored_data()
    {
        QTest::addColumn<QString>("tamper");
        QTest::addColumn<bool>("notice");
        QTest::newRow("corrupt") << "corrupt" << true;
        QTest::newRow("truncated") << "truncated" << true;
        QTest::newRow("link") << "link" << true;
        QTest::newRow("group-writable") << "group-writable" << true;
        QTest::newRow("another user's") << "foreign" << true;
        QTest::newRow("another file system") << "other-fs" << false;
    }
    void untrustedCacheIsIgnored()
    {
        QFETCH(QString, tamper);
        QFETCH(bool, notice);
        if (tamper == QLatin1String("foreign") && geteuid() != 0)
            QSKIP("needs root to give the file away");
        MakeCacheFiles();
        const QByteArray cache = m_dir + "-cache";
        ContentCheck::CProgress first;
        const QString groups = Groups(CachedFill(cache, &first).rows);
        const QByteArray file = cache + "/contents";
        QByteArray bytes = ReadAll(file);
        QCOMPARE(qsizetype(bytes.size()), qsizetype(CDigestCache::kHeaderSize + 5 * CDigestCache::kRecordSize));
        if (tamper == QLatin1String("corrupt")) {
            bytes[int(CDigestCache::kHeaderSize) + 45] = char(bytes[int(CDigestCache::kHeaderSize) + 45] ^ 1);
        } else if (tamper == QLatin1String("truncated")) {
            bytes.chop(10);
        } else if (tamper == QLatin1String("other-fs")) {
            // Every key's file system changed, the file otherwise sound.
            for (size_t r = 0; r < 5; ++r)
                bytes[int(CDigestCache::kHeaderSize + r * CDigestCache::kRecordSize)] ^= 1;
            const uint64_t sum = CFileComparer::Hash(bytes.constData() + CDigestCache::kHeaderSize,
                                                     size_t(bytes.size()) - CDigestCache::kHeaderSize);
            std::memcpy(bytes.data() + CDigestCache::kHeaderSize - 8, &sum, 8);
        }
        QFile out(QFile::decodeName(file + ".tampered"));
        QVERIFY(out.open(QIODevice::WriteOnly) && out.write(bytes) == bytes.size());
        out.close();
        QCOMPARE(::rename((file + ".tampered").constData(), file.constData()), 0);
        if (tamper == QLatin1String("link")) {
            QCOMPARE(::rename(file.constData(), (m_dir + "-elsewhere").constData()), 0);
            QCOMPARE(::symlink((m_dir + "-elsewhere").constData(), file.constData()), 0);
        } else if (tamper == QLatin1String("group-writable")) {
            QCOMPARE(::chmod(file.constData(), 0660), 0);
        } else if (tamper == QLatin1String("foreign")) {
            QCOMPARE(::chown(file.constData(), TestSupport::kAccomplice, TestSupport::kAccomplice), 0);
        }

        ContentCheck::CProgress ignored, rebuilt;
        QStringList notices;
        QCOMPARE(Groups(CachedFill(cache, &ignored, &notices).rows), groups);
        QCOMPARE(notices.size(), notice ? 1 : 0);
        QCOMPARE(ignored.settled.load(), 0u);
        QCOMPARE(ignored.read.load(), first.read.load());
        // Replaced by a sound file of the user's own, which the next run trusts.
        struct stat st;
        QVERIFY(lstat(file.constData(), &st) == 0 && S_ISREG(st.st_mode) && st.st_uid == geteuid() && (st.st_mode & 077) == 0);
        QCOMPARE(Groups(CachedFill(cache, &rebuilt, &notices).rows), groups);
        QVERIFY(notices.isEmpty());
        QCOMPARE(rebuilt.settled.load(), 3u);
    }

    // Two programs saving at once: each save merges what the other saved, and the file stays sound.
    void writersAtOnceLoseNothing()
    {
        const QByteArray folder = m_dir + "-cache";
        constexpr uint64_t kFiles = 300;
        constexpr int kRounds = 15;
        auto writer = [&](uint64_t fs) {
            for (int round = 1; round <= kRounds; ++round) {
                CDigestCache cache(folder.toStdString());
                cache.Load();
                for (uint64_t i = 0; i < kFiles; ++i)
                    cache.PutHead(CDigestCache::CKey{fs, i, 1, 2, 3}, uint64_t(round));
                cache.Save();
            }
        };
        // Both loaded before either saved: the second save keeps what the first wrote.
        CDigestCache early(folder.toStdString()), late(folder.toStdString());
        early.Load();
        late.Load();
        early.PutHead(CDigestCache::CKey{3, 1, 1, 2, 3}, 7);
        late.PutHead(CDigestCache::CKey{4, 1, 1, 2, 3}, 8);
        QVERIFY(early.Save() && late.Save());
        QStringList notices;
        CDigestCache::SetNoticeHandler([&notices](const std::string& line) { notices << QString::fromStdString(line); });
        std::thread one(writer, 1), two(writer, 2);
        one.join();
        two.join();
        CDigestCache last(folder.toStdString());
        QVERIFY(last.Load());
        CDigestCache::SetNoticeHandler({});
        QVERIFY2(notices.isEmpty(), qPrintable(notices.join(QLatin1Char('\n'))));
        QCOMPARE(last.Size(), size_t(2 * kFiles + 2));
        CDigestCache::CDigests d;
        QVERIFY(last.Find(CDigestCache::CKey{3, 1, 1, 2, 3}, &d) && d.head == 7);
        for (uint64_t fs : {1, 2})
            QVERIFY(last.Find(CDigestCache::CKey{fs, kFiles - 1, 1, 2, 3}, &d) && d.head == uint64_t(kRounds));
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
        CHeadPrefetch prefetch;
        prefetch.Start(m_dir);
        for (int i = 0; i < paths.GetSize(); ++i)
            prefetch.Offer(paths.At(i).data(), 9000);
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

#include "WidgetTestSupport.h"

#include "ColorListCtrl.h"
#include "CommandIds.h"
#include "DlgDuplicateResults.h"
#include "ListingStatus.h"
#include "OptionsStore.h"
#include "PathArray.h"
#include "ResultsModel.h"
#include "SelectionRules.h"
#include "SpaceMap.h"
#include "AppLook.h"

#include <QElapsedTimer>
#include <QFile>
#include <QHelpEvent>
#include <QSignalSpy>
#include <QToolTip>

#include <deque>
#include <map>

#include <sys/time.h>

namespace {

// Rows over paths that stay where they are while the test runs.
struct CRows {
    std::deque<std::string> paths;
    std::vector<CResultRow> rows;

    // ino 0: a file of its own. Each row is newer than the one before.
    void Add(int32_t group, const std::string& path, uint64_t size, uint64_t ino = 0, bool opened = true)
    {
        paths.push_back(path);
        CResultRow r;
        r.path = paths.back().c_str();
        r.modified = int64_t(rows.size());
        r.hasModified = true;
        r.sizeKey = opened ? size : 0;
        r.group = group;
        r.opened = opened;
        r.dev = 1;
        r.ino = ino ? ino : 1000000 + rows.size();
        rows.push_back(r);
    }
    int Row(const std::string& path) const
    {
        for (size_t i = 0; i < rows.size(); ++i) {
            if (rows[i].Path() == path)
                return int(i);
        }
        return -1;
    }
};

// Unchecked ("kept": each group's first copy): /r/a/b 6000, /r/a/d 2000, /r/a 300 of its own, /r/c 1000,
// /r 5000 of its own: 14300 in all.
CRows Nested()
{
    CRows r;
    r.Add(1, "/r/a/b/x1", 1000);  // kept
    r.Add(1, "/r/c/x2", 1000);
    r.Add(1, "/r/a/b/x3", 1000);
    r.Add(2, "/r/a/b/y0", 300, 0, false);  // unopened: never kept, never counted
    r.Add(2, "/r/c/y1", 300);            // kept
    r.Add(2, "/r/a/y2", 300, 7);
    r.Add(2, "/r/c/y3", 300, 7);  // a hard link of y2: counted once, in y2's folder
    r.Add(3, "/r/a/z1", 5000);    // kept
    r.Add(3, "/r/z2", 5000);
    r.Add(3, "/r/a/b/z3", 5000);
    r.Add(4, "/r/c/w1", 2000);  // kept
    r.Add(4, "/r/a/d/w2", 2000);
    return r;
}

// Folders of many sizes and long names beside a folder of kept copies: /r/kept has no area.
CRows Wide()
{
    CRows r;
    const std::pair<const char*, uint64_t> folders[] = {
        {"/r/albums-of-the-summer-holidays/2019-beach-trip", 900000}, {"/r/albums-of-the-summer-holidays/2021-mountains", 500000},
        {"/r/caf\xe9-receipts-and-invoices", 700000}, {"/r/music-collection-lossless", 400000}, {"/r/documents", 250000},
        {"/r/a-folder-with-a-rather-long-name", 120000}, {"/r/videos/raw", 90000}, {"/r/videos/cut", 60000},
        {"/r/x", 30000}, {"/r/tiny", 9000}};
    int32_t group = 0;
    for (const auto& [folder, size] : folders) {
        ++group;
        r.Add(group, "/r/kept/f" + std::to_string(group), size);
        r.Add(group, std::string(folder) + "/f" + std::to_string(group), size);
    }
    return r;
}

double Area(const QRectF& r) { return r.width() * r.height(); }

double Contrast(const QColor& a, const QColor& b)
{
    auto luminance = [](const QColor& c) {
        auto channel = [](double v) { return v <= 0.03928 ? v / 12.92 : std::pow((v + 0.055) / 1.055, 2.4); };
        return 0.2126 * channel(c.redF()) + 0.7152 * channel(c.greenF()) + 0.0722 * channel(c.blueF());
    };
    const double la = luminance(a), lb = luminance(b);
    return (std::max(la, lb) + 0.05) / (std::min(la, lb) + 0.05);
}

}  // namespace

class TestSpaceMap : public QObject {
    Q_OBJECT

    std::unique_ptr<CSpaceMap> m_map;

    static std::map<QByteArray, QRectF> TileMap(const CSpaceMap& map)
    {
        std::map<QByteArray, QRectF> tiles;
        for (const auto& [path, rect] : map.Tiles())
            tiles[path] = rect;
        return tiles;
    }
    void Show(const CRows& r)
    {
        m_map->SetRows(r.rows, SelectionRules::SameFiles(r.rows), "/r/");
        QTRY_VERIFY_WITH_TIMEOUT(m_map->IsLaidOut(), 10000);
    }

private slots:
    void init()
    {
        m_map = std::make_unique<CSpaceMap>();
        m_map->resize(800, 500);
        m_map->show();
        QVERIFY(QTest::qWaitForWindowExposed(m_map.get()));
    }
    void cleanup() { m_map.reset(); }

    void areasFollowTheFiguresLine()
    {
        const CRows r = Nested();
        Show(r);
        QCOMPARE(m_map->accessibleName(), QStringLiteral("Space Map"));
        QCOMPARE(m_map->TotalArea(), SelectionRules::Figures(r.rows, SelectionRules::SameFiles(r.rows)).reclaimable);
        QCOMPARE(m_map->TotalArea(), uint64_t(14300));

        // Laid out again for each size; every tile inside its folder, siblings in proportion to their bytes.
        for (const QSize size : {QSize(800, 500), QSize(300, 420)}) {
            m_map->resize(size);
            QTRY_VERIFY_WITH_TIMEOUT(m_map->IsLaidOut(), 10000);
            const auto tiles = TileMap(*m_map);
            QCOMPARE(tiles.size(), size_t(4 + 1));
            const QRectF all(QPointF(0, 0), QSizeF(size));
            QVERIFY(all.contains(tiles.at("/r")));
            QVERIFY(tiles.at("/r").contains(tiles.at("/r/a")));
            QVERIFY(tiles.at("/r").contains(tiles.at("/r/c")));
            QVERIFY(tiles.at("/r/a").contains(tiles.at("/r/a/b")));
            QVERIFY(tiles.at("/r/a").contains(tiles.at("/r/a/d")));
            QVERIFY(!tiles.at("/r/a").intersects(tiles.at("/r/c")));
            QVERIFY(!tiles.at("/r/a/b").intersects(tiles.at("/r/a/d")));
            QVERIFY(qAbs(Area(tiles.at("/r/a")) / Area(tiles.at("/r/c")) / 8.3 - 1) < 0.01);
            QVERIFY(qAbs(Area(tiles.at("/r/a/b")) / Area(tiles.at("/r/a/d")) / 3.0 - 1) < 0.01);
        }

        QCOMPARE(m_map->Message(), QString());

        // While the results are not final it waits, saying for what; with nothing to reclaim it says so.
        m_map->SetWaiting(QStringLiteral("Comparing contents\u2026"));
        QCOMPARE(m_map->Message(), QStringLiteral("Comparing contents\u2026"));
        QVERIFY(m_map->Tiles().empty() && m_map->Labels().empty());
        CRows single;
        single.Add(1, "/r/a/one", 10);
        single.Add(1, "/r/a/link", 10, 1000000);
        m_map->SetRows(single.rows, {}, "/r");
        QTRY_VERIFY_WITH_TIMEOUT(m_map->IsLaidOut(), 10000);
        QCOMPARE(m_map->TotalArea(), uint64_t(0));
        QCOMPARE(m_map->Tiles().size(), size_t(1));
        QCOMPARE(m_map->Message(), QStringLiteral("No space to reclaim."));
    }

    // The checked figures are the figures line's for any checks: each group keeps the first copy the
    // checks leave, so every checked byte lies in a drawn tile and is hatched there.
    void checkedFiguresFollowTheChecks_data()
    {
        QTest::addColumn<QString>("rule");
        QTest::addColumn<QStringList>("hand");
        QTest::addColumn<QByteArray>("folder");
        QTest::addColumn<quint64>("checked");
        QTest::addColumn<bool>("everyCopy");  // a group with every copy checked frees more than its area
        QTest::newRow("all but the newest") << "newest" << QStringList() << QByteArray("/r/c") << quint64(3300) << false;
        QTest::newRow("all but the oldest") << "oldest" << QStringList() << QByteArray("/r/a") << quint64(8300) << true;
        QTest::newRow("a spare copy") << "" << QStringList{"/r/a/b/x3"} << QByteArray("/r/a/b") << quint64(1000) << false;
        QTest::newRow("the first copy") << "" << QStringList{"/r/a/b/x1"} << QByteArray("/r/a/b") << quint64(1000) << false;
        QTest::newRow("one name of a linked pair") << "" << QStringList{"/r/a/y2"} << QByteArray("/r") << quint64(0) << false;
        QTest::newRow("both names, in the first's folder") << "" << QStringList{"/r/a/y2", "/r/c/y3"} << QByteArray("/r/a") << quint64(300) << false;
        QTest::newRow("a linked pair and the other copy") << "" << QStringList{"/r/c/y1", "/r/a/y2", "/r/c/y3"} << QByteArray("/r/c") << quint64(300) << true;
        QTest::newRow("an unopened row") << "" << QStringList{"/r/a/b/y0"} << QByteArray("/r") << quint64(0) << false;
        QTest::newRow("every copy of a group") << "" << QStringList{"/r/a/b/x1", "/r/c/x2", "/r/a/b/x3"} << QByteArray("/r") << quint64(3000) << true;
    }
    void checkedFiguresFollowTheChecks()
    {
        QFETCH(QString, rule);
        QFETCH(QStringList, hand);
        QFETCH(QByteArray, folder);
        QFETCH(quint64, checked);
        QFETCH(bool, everyCopy);
        CRows r = Nested();
        const std::vector<int32_t> sameAs = SelectionRules::SameFiles(r.rows);
        Show(r);
        if (rule == QLatin1String("newest"))
            SelectionRules::CheckAllButNewest(r.rows, {});
        else if (rule == QLatin1String("oldest"))
            SelectionRules::CheckAllButOldest(r.rows, {});
        for (const QString& path : hand)
            r.rows[size_t(r.Row(path.toStdString()))].checked = true;
        m_map->UpdateChecks(r.rows, sameAs);
        QTRY_VERIFY_WITH_TIMEOUT(m_map->IsLaidOut(), 10000);

        const SelectionRules::CFigures figures = SelectionRules::Figures(r.rows, sameAs);
        QCOMPARE(m_map->TotalArea(), figures.reclaimable);
        QCOMPARE(m_map->BytesOf("/r").checked, figures.checkedReclaimable);
        QCOMPARE(m_map->BytesOf(folder).checked, checked);
        const QImage image = m_map->grab().toImage();
        const auto tiles = m_map->Tiles();
        for (const auto& [path, rect] : tiles) {
            const CSpaceMap::CFolderBytes bytes = m_map->BytesOf(path);
            QVERIFY2(everyCopy || bytes.checked <= bytes.area, path.constData());
            const bool leaf = std::none_of(tiles.begin(), tiles.end(), [&](const auto& t) { return t.first != path && rect.contains(t.second); });
            if (!leaf || rect.height() < 20)
                continue;
            // Hatched from the bottom up: the bottom differs from the tile's own colour.
            const bool hatched = image.pixelColor(int(rect.center().x()), int(rect.bottom()) - 3)
                                 != image.pixelColor(int(rect.left()) + 2, int(rect.top()) + 2);
            QVERIFY2(bytes.checked == 0 ? !hatched : bytes.checked * 4 < bytes.area || hatched, path.constData());
        }
    }

    void clickSelectAndTooltip()
    {
        CRows r = Nested();
        r.Add(5, "/r/c/\xff" "q/v1", 40000);  // kept
        r.Add(5, "/r/c/\xff" "q/v2", 40000);
        Show(r);
        auto tiles = TileMap(*m_map);
        QSignalSpy clicked(m_map.get(), &CSpaceMap::FolderClicked);
        QTest::mouseClick(m_map.get(), Qt::LeftButton, {}, tiles.at("/r/a/b").center().toPoint());
        QTest::mouseClick(m_map.get(), Qt::LeftButton, {}, tiles.at("/r/c/\xff" "q").center().toPoint());
        QCOMPARE(clicked.size(), 2);
        QCOMPARE(clicked[0][0].toByteArray(), QByteArray("/r/a/b"));
        QCOMPARE(clicked[1][0].toByteArray(), QByteArray("/r/c/\xff" "q"));

        // The frame goes round the folder's tile, or the drawn folder it lies in.
        const QColor highlight = m_map->palette().color(QPalette::Highlight);
        const auto framed = [&](const QRectF& tile) {
            const QImage image = m_map->grab().toImage();
            return image.pixelColor(int(tile.left()) + 2, int(tile.center().y())) == highlight;
        };
        m_map->SelectFolder("/r/a/d/");
        QVERIFY(framed(tiles.at("/r/a/d")));
        QVERIFY(!framed(tiles.at("/r/a/b")));
        m_map->SelectFolder("/r/a/b/deeper/still");
        QVERIFY(framed(tiles.at("/r/a/b")));
        QVERIFY(!framed(tiles.at("/r/a/d")));
        m_map->SelectFolder({});
        QVERIFY(!framed(tiles.at("/r/a/b")));

        const QString tip = m_map->ToolTipAt(tiles.at("/r/c/\xff" "q").center().toPoint());
        QVERIFY2(tip.startsWith(QStringLiteral("/r/c/\\xFFq\n")), qPrintable(tip));
        QVERIFY(tip.contains(ListingStatus::SizeText(40000)));
        QVERIFY(tip.contains(QStringLiteral("1 duplicate file(s)")));
        const QString outer = m_map->ToolTipAt(tiles.at("/r/a").topLeft().toPoint() + QPoint(1, 1));
        QVERIFY(outer.contains(ListingStatus::SizeText(8300)) && outer.contains(QStringLiteral("4 duplicate file(s)")));
        QVERIFY(outer.contains(QStringLiteral("Checked: ") + ListingStatus::SizeText(0)));
        QVERIFY(outer.contains(QStringLiteral("Colour:")));

        // Shown as a tooltip, never as markup the path could write.
        const QPoint at = tiles.at("/r/c/\xff" "q").center().toPoint();
        QHelpEvent help(QEvent::ToolTip, at, m_map->mapToGlobal(at));
        QApplication::sendEvent(m_map.get(), &help);
        QTRY_VERIFY(QToolTip::isVisible());
        QVERIFY(QToolTip::text().contains(QStringLiteral("\\xFFq")));
    }

    // An arrow goes to a tile wholly that way, or stays; Backspace to the folder holding it.
    void keys_data()
    {
        QTest::addColumn<int>("key");
        QTest::addColumn<QByteArray>("from");  // empty: from every tile
        QTest::addColumn<QByteArray>("to");
        const std::pair<const char*, Qt::Key> arrows[] = {{"left", Qt::Key_Left}, {"right", Qt::Key_Right}, {"up", Qt::Key_Up}, {"down", Qt::Key_Down}};
        for (const auto& [name, key] : arrows)
            QTest::newRow(name) << int(key) << QByteArray() << QByteArray();
        QTest::newRow("backspace to the parent") << int(Qt::Key_Backspace) << QByteArray("/r/videos/raw") << QByteArray("/r/videos");
        QTest::newRow("backspace from the root stays") << int(Qt::Key_Backspace) << QByteArray("/r") << QByteArray("/r");
    }
    void keys()
    {
        QFETCH(int, key);
        QFETCH(QByteArray, from);
        QFETCH(QByteArray, to);
        m_map->resize(640, 420);
        Show(Wide());
        const auto tiles = TileMap(*m_map);
        QSignalSpy clicked(m_map.get(), &CSpaceMap::FolderClicked);
        const auto press = [&](const QByteArray& start) {
            m_map->SelectFolder(start);
            QTest::keyClick(m_map.get(), Qt::Key(key));
            QTest::keyClick(m_map.get(), Qt::Key_Return);
            return clicked.last().at(0).toByteArray();
        };
        if (!from.isEmpty()) {
            QCOMPARE(press(from), to);
            return;
        }
        int moved = 0;
        for (const auto& [path, here] : tiles) {
            const QByteArray next = press(path);
            const QRectF there = tiles.at(next);
            const double gap = key == Qt::Key_Left    ? here.left() - there.right()
                               : key == Qt::Key_Right ? there.left() - here.right()
                               : key == Qt::Key_Up    ? here.top() - there.bottom()
                                                      : there.top() - here.bottom();
            QVERIFY2(next == path || gap >= -0.5, qPrintable(QString::fromUtf8(path + " -> " + next)));
            moved += next != path;
        }
        QVERIFY(moved > 0);
    }

    // In every look a label reads at 4.5:1 against its tile, and is "name  size" or the name
    // elided, never cut inside its number.
    void labels_data()
    {
        QTest::addColumn<int>("look");
        QTest::addColumn<QSize>("size");
        const QSize sizes[] = {{800, 500}, {330, 260}, {520, 340}};
        for (int look = Cmd::LookFirst; look <= Cmd::LookLast; ++look)
            QTest::addRow("look %d", look) << look << sizes[look % 3];
    }
    void labels()
    {
        QFETCH(int, look);
        QFETCH(QSize, size);
        AppLook::ApplyStyle(unsigned(look));
        m_map->resize(size);
        Show(Wide());
        const QImage image = m_map->grab().toImage();
        const auto labels = m_map->Labels();
        QVERIFY(labels.size() >= 3);
        for (const CSpaceMap::CLabel& label : labels) {
            const QByteArray name = label.folder == "/r" ? label.folder : label.folder.mid(label.folder.lastIndexOf('/') + 1);
            const QString text = EscapePath(std::string_view(name.constData(), size_t(name.size())));
            const QString whole = text + QStringLiteral("  ") + ListingStatus::SizeText(m_map->BytesOf(label.folder).area);
            const QString head = label.text.section(QChar(0x2026), 0, 0), tail = label.text.section(QChar(0x2026), 1);
            QVERIFY2(label.text == whole || label.text == text
                         || (label.text.contains(QChar(0x2026)) && text.startsWith(head) && text.endsWith(tail)),
                     qPrintable(label.text));
            QVERIFY(m_map->fontMetrics().horizontalAdvance(label.text) <= label.strip.width());

            const QRect strip = label.strip.toRect().adjusted(0, 0, -1, -2);
            const QColor tile = image.pixelColor(strip.left() - 2, strip.top());
            double strongest = 1;
            for (int y = strip.top(); y <= strip.bottom(); ++y)
                for (int x = strip.left(); x <= strip.right(); ++x)
                    strongest = std::max(strongest, Contrast(image.pixelColor(x, y), tile));
            QVERIFY2(strongest >= 4.5, qPrintable(QStringLiteral("%1: %2").arg(label.text).arg(strongest)));
        }
        AppLook::ApplyStyle(Cmd::LookOffice2007Blue);
    }

    // The window: waiting while contents are compared, then the checks of Check All But the Newest
    // are the figures line's.
    void theWindowFeedsThePicture()
    {
        const QByteArray dir = QFile::encodeName(TestSupport::TempRoot()) + "/window";
        QByteArrayList files;
        TestSupport::MakeDir(dir);
        for (const char* folder : {"/a", "/b", "/c"}) {
            TestSupport::MakeDir(dir + folder);
            for (const char* name : {"/big", "/small"}) {
                files << dir + folder + name;
                TestSupport::WriteFile(files.last(), QByteArray(name).repeated(name[1] == 'b' ? 9000 : 300));
                // The first copies listed are the oldest, so the checks leave another one.
                const timeval times[2] = {{1000000000 + files.size(), 0}, {1000000000 + files.size(), 0}};
                QVERIFY(utimes(files.last().constData(), times) == 0);
            }
        }
        COptionsStore().WriteInt(QLatin1String(Opt::CompareContents.name), 1);
        TestSupport::CBoxAnswerer caution(QMessageBox::Ok);
        caution.remaining = 1;
        auto input = std::make_shared<QByteArrayList>(files);
        CDlgDuplicateResults dialog({[input] { return int(input->size()); },
                                     [input](int i) { return std::string_view(input->at(i).constData(), size_t(input->at(i).size())); }},
                                    nullptr);
        dialog.show();
        auto* map = dialog.findChild<CSpaceMap*>(QStringLiteral("spaceMap"));
        QCOMPARE(map->Message(), QStringLiteral("Comparing contents\u2026"));
        QTRY_VERIFY_WITH_TIMEOUT(dialog.ResultsList()->isEnabled() && caution.remaining == 0 && map->IsLaidOut(), 20000);

        dialog.OnCheckAllButNewest();
        QTRY_VERIFY_WITH_TIMEOUT(map->IsLaidOut(), 10000);
        const auto figures = SelectionRules::Figures(dialog.Model()->Rows(), dialog.Model()->SameFiles());
        QCOMPARE(figures.checkedFiles, int64_t(4));
        QCOMPARE(map->BytesOf(dir).checked, figures.checkedReclaimable);
        QVERIFY(dialog.SummaryText().contains(ListingStatus::SizeText(figures.checkedReclaimable)));
        for (const auto& [folder, rect] : map->Tiles())
            QVERIFY2(map->BytesOf(folder).checked == map->BytesOf(folder).area, folder.constData());
        dialog.reject();
    }

    void millionRowsStayOffTheUiThread()
    {
        CRows big;
        big.rows.reserve(1000000);
        for (int i = 0; i < 1000000; ++i) {
            const int group = i / 4;
            char path[64];
            std::snprintf(path, sizeof path, "/big/d%03d/e%d/f%07d", i % 997, i % 13, i);
            big.Add(group, path, uint64_t(1000 + group % 50000) * 37, i % 4 == 3 && group % 50 == 0 ? uint64_t(i) : 0);
        }
        const std::vector<int32_t> sameAs = SelectionRules::SameFiles(big.rows);
        const uint64_t reclaimable = SelectionRules::Figures(big.rows, sameAs).reclaimable;

        // The UI thread copies flat data only; the event loop keeps turning while the worker adds up.
        QElapsedTimer gaps;
        qint64 longestGap = 0;
        QTimer ticker;
        connect(&ticker, &QTimer::timeout, this, [&] { longestGap = std::max(longestGap, gaps.restart()); });
        QElapsedTimer whole;
        whole.start();
        m_map->SetRows(big.rows, sameAs, "/big");
        const qint64 call = whole.elapsed();
        gaps.start();
        ticker.start(5);
        QTRY_VERIFY_WITH_TIMEOUT(m_map->IsLaidOut(), 60000);
        ticker.stop();
        qInfo("1M rows: SetRows %lld ms on the calling thread, laid out after %lld ms, longest event-loop gap %lld ms",
              call, whole.elapsed(), longestGap);
        QCOMPARE(m_map->TotalArea(), reclaimable);
        QVERIFY(m_map->Tiles().size() > 100);

        whole.restart();
        big.rows[5].checked = true;
        m_map->UpdateChecks(big.rows, sameAs);
        qInfo("1M rows: UpdateChecks %lld ms", whole.elapsed());
        QCOMPARE(m_map->BytesOf("/big").checked, SelectionRules::Figures(big.rows, sameAs).checkedReclaimable);
        // Checks that move every kept copy: added up again on the worker.
        SelectionRules::CheckAllButNewest(big.rows, {});
        whole.restart();
        m_map->UpdateChecks(big.rows, sameAs);
        const qint64 moved = whole.elapsed();
        QTRY_VERIFY_WITH_TIMEOUT(m_map->IsLaidOut(), 60000);
        qInfo("1M rows: UpdateChecks moving the kept copies %lld ms, laid out again after %lld ms", moved, whole.elapsed());
        QCOMPARE(m_map->BytesOf("/big").checked, SelectionRules::Figures(big.rows, sameAs).checkedReclaimable);

        // Newer rows win over a layout still under way, which stops without being waited for.
        QSignalSpy laidOut(m_map.get(), &CSpaceMap::LaidOut);
        const CRows small = Nested();
        m_map->SetRows(big.rows, sameAs, "/big");
        whole.restart();
        m_map->SetRows(small.rows, {}, "/r");
        qInfo("1M rows: SetRows of other rows while they were added up: %lld ms", whole.elapsed());
        QTRY_VERIFY_WITH_TIMEOUT(m_map->IsLaidOut(), 60000);
        QTest::qWait(300);
        QCOMPARE(laidOut.size(), 1);
        QCOMPARE(m_map->TotalArea(), uint64_t(14300));
    }
};

SORVANE_WIDGET_TEST_MAIN(TestSpaceMap)
#include "tst_spacemap.moc"

#include "WidgetTestSupport.h"

#include "ListingStatus.h"
#include "PathArray.h"
#include "SelectionRules.h"
#include "SpaceMap.h"

#include <QElapsedTimer>
#include <QHelpEvent>
#include <QSignalSpy>
#include <QToolTip>

#include <deque>
#include <map>

namespace {

// Rows over paths that stay where they are while the test runs.
struct CRows {
    std::deque<std::string> paths;
    std::vector<CResultRow> rows;

    // ino 0: a file of its own.
    void Add(int32_t group, const std::string& path, uint64_t size, uint64_t ino = 0, bool opened = true)
    {
        paths.push_back(path);
        CResultRow r;
        r.path = paths.back().c_str();
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

// /r/a/b 6000, /r/a/d 2000, /r/a 300 of its own, /r/c 1000, /r 5000 of its own: 14300 in all.
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

double Area(const QRectF& r) { return r.width() * r.height(); }

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

        // Nothing to reclaim: the root alone, nothing else.
        CRows single;
        single.Add(1, "/r/a/one", 10);
        single.Add(1, "/r/a/link", 10, 1000000);
        m_map->SetRows(single.rows, {}, "/r");
        QTRY_VERIFY_WITH_TIMEOUT(m_map->IsLaidOut(), 10000);
        QCOMPARE(m_map->TotalArea(), uint64_t(0));
        QCOMPARE(m_map->Tiles().size(), size_t(1));
    }

    void checkedBytesAsTheFiguresLine()
    {
        CRows r = Nested();
        const std::vector<int32_t> sameAs = SelectionRules::SameFiles(r.rows);
        Show(r);
        const QImage unchecked = m_map->grab().toImage();
        const auto check = [&](const char* path, bool on = true) {
            r.rows[size_t(r.Row(path))].checked = on;
            m_map->UpdateChecks(r.rows, sameAs);
        };
        check("/r/a/b/x3");
        QCOMPARE(m_map->CheckedBytes("/r/a/b"), uint64_t(1000));
        QCOMPARE(m_map->CheckedBytes("/r/a"), uint64_t(1000));
        QCOMPARE(m_map->CheckedBytes("/r/c"), uint64_t(0));
        QVERIFY(m_map->grab().toImage() != unchecked);

        // A file counts once all its names are checked, in the folder of its first name.
        check("/r/a/y2");
        QCOMPARE(m_map->CheckedBytes("/r/a"), uint64_t(1000));
        check("/r/c/y3");
        QCOMPARE(m_map->CheckedBytes("/r/a"), uint64_t(1300));
        QCOMPARE(m_map->CheckedBytes("/r/c"), uint64_t(0));
        check("/r/c/x2");
        check("/r/a/b/x1");  // the copy kept: the figures line counts it too
        check("/r/a/b/y0");  // unopened: never counted
        QCOMPARE(m_map->CheckedBytes("/r/c"), uint64_t(1000));
        QCOMPARE(m_map->CheckedBytes("/r"), SelectionRules::Figures(r.rows, sameAs).checkedReclaimable);
        QCOMPARE(m_map->CheckedBytes("/r"), uint64_t(3300));

        check("/r/a/b/x3", false);
        QCOMPARE(m_map->CheckedBytes("/r/a/b"), uint64_t(1000));
        QCOMPARE(m_map->CheckedBytes("/r"), SelectionRules::Figures(r.rows, sameAs).checkedReclaimable);
        // Rows other than those laid out are not taken for theirs.
        r.rows.pop_back();
        m_map->UpdateChecks(r.rows, {});
        QCOMPARE(m_map->CheckedBytes("/r"), uint64_t(2300));
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
        QVERIFY2(call < 1000, qPrintable(QString::number(call)));
        QVERIFY2(longestGap < 1000, qPrintable(QString::number(longestGap)));
        QCOMPARE(m_map->TotalArea(), reclaimable);
        QVERIFY(m_map->Tiles().size() > 100);

        whole.restart();
        big.rows[5].checked = true;
        m_map->UpdateChecks(big.rows, sameAs);
        qInfo("1M rows: UpdateChecks %lld ms", whole.elapsed());
        QCOMPARE(m_map->CheckedBytes("/big"), SelectionRules::Figures(big.rows, sameAs).checkedReclaimable);

        // Newer rows win over a layout still under way, which stops without being waited for.
        QSignalSpy laidOut(m_map.get(), &CSpaceMap::LaidOut);
        const CRows small = Nested();
        m_map->SetRows(big.rows, sameAs, "/big");
        whole.restart();
        m_map->SetRows(small.rows, {}, "/r");
        qInfo("1M rows: SetRows of other rows while they were added up: %lld ms", whole.elapsed());
        QVERIFY(whole.elapsed() < 1000);
        QTRY_VERIFY_WITH_TIMEOUT(m_map->IsLaidOut(), 60000);
        QTest::qWait(300);
        QCOMPARE(laidOut.size(), 1);
        QCOMPARE(m_map->TotalArea(), uint64_t(14300));
    }
};

SORVANE_WIDGET_TEST_MAIN(TestSpaceMap)
#include "tst_spacemap.moc"

#include "WidgetTestSupport.h"

#include "AppHelper.h"
#include "ListingHandOver.h"
#include "SorvaneView.h"

#include <QTableView>

#include <string>
#include <vector>

// The engine alone: every listed path in listing order.
class CEngineList : public CWalkSink, public CAppHelper {
public:
    CEngineList() : CAppHelper(static_cast<CWalkSink&>(*this)) {}
    void OnFileFound(const CFileFind& finder) override { paths.emplace_back(finder.FilePath()); }
    std::vector<std::string> paths;
};

class TestHandOver : public QObject {
    Q_OBJECT

    QByteArray m_root;

private slots:
    void initTestCase()
    {
        // More rows than one hand-over carries, in many folders, so batches merge.
        m_root = QFile::encodeName(TestSupport::TempRoot()) + "/tree";
        TestSupport::MakeDir(m_root);
        for (int d = 0; d < 40; ++d) {
            const QByteArray dir = m_root + "/d" + QByteArray::number(d);
            TestSupport::MakeDir(dir);
            for (int f = 0; f < 300; ++f)
                TestSupport::MakeFile(dir + "/f" + QByteArray::number(f));
        }
        COptionsStore store;
        store.WriteInt(QLatin1String(Opt::DisplayFileList.name), 1);
        store.WriteInt(QLatin1String(Opt::ViewFilesCount.name), 1);
    }

    // Batches the UI has not taken are merged: order kept, nothing lost, the last count wins.
    void mergesUntakenBatches()
    {
        CListingHandOver handOver;
        handOver.Reset();
        QVERIFY(handOver.Due());
        const int total = CListingHandOver::kMaxBatchRows * 2 + 5;
        for (int i = 0; i < total; ++i) {
            const std::string path = "/f/" + std::to_string(i);
            handOver.AddFile(path, 3);
            handOver.SetFolderCount("/f", i + 1);
            if (handOver.Due())
                handOver.HandOver();
        }
        handOver.HandOver();
        const CListingHandOver::CBatch batch = handOver.Take();
        QCOMPARE(batch.paths.GetSize(), total);
        for (int i = 0; i < total; ++i)
            QCOMPARE(batch.paths.At(i), std::string_view("/f/" + std::to_string(i)));
        QCOMPARE(int(batch.folderCounts.size()), 1);
        QCOMPARE(batch.folderCounts.front().second, total);
        QVERIFY(handOver.Due());
    }

    // The window's rows equal an engine-only walk of the same tree, in order.
    void windowRowsMatchEngine()
    {
        CEngineList engine;
        const std::atomic<bool> go{false};
        engine.PrepareListing(m_root);
        engine.StartListing(go);
        QVERIFY(int(engine.paths.size()) > CListingHandOver::kMaxBatchRows);

        QWidget host;
        CSorvaneView view([this] { return QFile::decodeName(m_root); }, &host);
        view.OnInitialUpdate();
        TestSupport::CBoxAnswerer no(QMessageBox::No);
        view.OnStartListing();
        QTRY_VERIFY_WITH_TIMEOUT(!view.IsListing(), 60000);
        CFileListModel* model = view.FileModel();
        QCOMPARE(model->rowCount(), int(engine.paths.size()));
        for (int r = 0; r < model->rowCount(); ++r)
            QCOMPARE(model->NativePath(r), std::string_view(engine.paths[size_t(r)]));
        QCOMPARE(view.FolderModel()->rowCount(), 40);
        for (int r = 0; r < 40; ++r)
            QCOMPARE(view.FolderModel()->index(r, 2).data().toInt(), 300);
    }

    // A Stop that comes before the walk's first folder is never overwritten by
    // the walk starting; one during the walk finishes the folder being read.
    void earlyStopIsHonoured()
    {
        CEngineList engine;
        const std::atomic<bool> stop{true};  // Stop, before the walk thread gets going
        engine.PrepareListing(m_root);
        engine.StartListing(stop);
        QVERIFY(engine.paths.empty());
        QVERIFY(!engine.IsListing());

        QWidget host;
        CSorvaneView view([this] { return QFile::decodeName(m_root); }, &host);
        view.OnInitialUpdate();
        TestSupport::CBoxAnswerer no(QMessageBox::No);
        view.OnStartListing();
        view.OnStopListing();
        QCOMPARE(view.RunState(), CSorvaneView::ERunState::Stopping);
        QTRY_VERIFY_WITH_TIMEOUT(!view.IsListing(), 60000);
        // Whole folders only, and not all 40 of them: an ignored Stop lists everything.
        const int rows = view.FileModel()->rowCount();
        QVERIFY2(rows % 300 == 0 && rows < 40 * 300, QByteArray::number(rows));
    }
};

SORVANE_WIDGET_TEST_MAIN(TestHandOver)
#include "tst_handover.moc"

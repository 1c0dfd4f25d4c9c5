#include "WidgetTestSupport.h"

#include "RecordingShell.h"

#include "ColorListCtrl.h"
#include "LinkOps.h"
#include "CommandIds.h"
#include "DlgDuplicateResults.h"
#include "ResultsModel.h"
#include "ShellOps.h"
#include "SpaceMap.h"
#include "SorvaneView.h"
#include "Trash.h"

#include <QAbstractItemModelTester>
#include <QHeaderView>
#include <QMenu>
#include <QTableView>

#include <QProgressBar>
#include <QLabel>
#include <QPushButton>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

using TestSupport::CBoxAnswerer;
using TestSupport::MakeDir;
using TestSupport::MakeFile;

namespace {

class CView : public CSorvaneView {
public:
    explicit CView(const QString& folder) : CSorvaneView([folder] { return folder; }) {}
};

}  // namespace

class TestResults : public QObject {
    Q_OBJECT

    QByteArray m_dir;
    int m_case = 0;
    CRecordingShell m_fake;

    QByteArray Tree(const QList<QPair<const char*, qint64>>& files)
    {
        m_dir = QFile::encodeName(TestSupport::TempRoot()) + "/r" + QByteArray::number(++m_case);
        MakeDir(m_dir);
        for (const auto& [name, size] : files) {
            const QByteArray path = m_dir + "/" + name;
            if (QByteArray(name).contains('/'))
                MakeDir(path.left(path.lastIndexOf('/')));
            MakeFile(path, size);
        }
        return m_dir;
    }
    // A listing by a real view, as the window runs it, with the display flag as given.
    std::unique_ptr<CView> Listed(const QByteArray& dir, bool display)
    {
        COptionsStore().WriteInt(QStringLiteral("DisplayFileList"), display ? 1 : 0);
        auto view = std::make_unique<CView>(QFile::decodeName(dir));
        view->OnInitialUpdate();
        CBoxAnswerer no(QMessageBox::No);
        view->OnStartListing();
        [&] { QTRY_VERIFY_WITH_TIMEOUT(!view->IsListing(), 20000); }();
        return view;
    }
    static CFillInput Input(const QByteArrayList& paths)
    {
        auto copy = std::make_shared<QByteArrayList>(paths);
        return {[copy] { return int(copy->size()); },
                [copy](int i) { const QByteArray& p = copy->at(i); return std::string_view(p.constData(), size_t(p.size())); }};
    }
    static void WaitForFill(CDlgDuplicateResults& dialog)
    {
        QTRY_VERIFY_WITH_TIMEOUT(dialog.ResultsList()->isEnabled(), 20000);
    }

private slots:
    void init() { SetShell(&m_fake); m_fake.calls.clear(); m_fake.accept = true; }
    void cleanup() { SetShell(nullptr); }

    void windowFillsChecksAndColours()
    {
        Tree({{"a", 7}, {"b", 7}, {"c", 3}, {"d", 3}, {"e", 1}});
        const QByteArrayList paths = {m_dir + "/a", m_dir + "/c", m_dir + "/b", m_dir + "/d", m_dir + "/e"};
        CBoxAnswerer ok(QMessageBox::Ok);
        ok.remaining = 1;
        CDlgDuplicateResults dialog(Input(paths), nullptr);
        QAbstractItemModelTester tester(dialog.Model());
        dialog.show();
        WaitForFill(dialog);
        QTRY_COMPARE(ok.texts.size(), 1);
        QVERIFY(ok.texts[0].startsWith(QStringLiteral("This Window Displays Possibly Duplicate Files Grouped by File Size.")));
        QCOMPARE(dialog.windowTitle(), QStringLiteral("Duplicate Search Results - Sorvane by Trellane"));
        CResultsModel* model = dialog.Model();
        QCOMPARE(model->rowCount(), 4);
        QCOMPARE(model->index(0, 3).data().toString(), QStringLiteral("7"));
        QCOMPARE(model->index(3, 0).data().toString(), QStringLiteral("4"));
        QCOMPARE(model->index(0, 2).data().toString(), QFile::decodeName(m_dir) + QLatin1Char('/'));
        const QPalette light;
        QCOMPARE(CColorListCtrl::GroupColor(model->index(1, 0).data(CResultsModel::GroupRole).toInt(), light), QColor(0, 0, 0));
        QCOMPARE(CColorListCtrl::GroupColor(model->index(2, 0).data(CResultsModel::GroupRole).toInt(), light), QColor(236, 0, 0));

        dialog.OnCheckAll();
        QCOMPARE(model->CheckedPaths().size(), size_t(4));
        dialog.OnUnCheckAll();
        QVERIFY(model->CheckedPaths().empty());
        CBoxAnswerer nothing(QMessageBox::Ok);
        dialog.OnSendToRecycleBin();
        QCOMPARE(nothing.texts, QStringList(QStringLiteral("Check the Files which you wish to Send to Recyle Bin and then try again.")));
        QVERIFY(m_fake.calls.isEmpty());

        // Reveal visits the selected rows in order; checked rows are not selected.
        dialog.ResultsList()->selectRow(2);
        dialog.ResultsList()->selectionModel()->select(model->index(0, 0), QItemSelectionModel::Select | QItemSelectionModel::Rows);
        dialog.OnDisplayInExplorer();
        QCOMPARE(m_fake.calls, QByteArrayList({"reveal " + m_dir + "/a", "reveal " + m_dir + "/c"}));

        // Every column lies inside the list, however wide the folder and the stored widths.
        QHeaderView* header = dialog.ResultsList()->horizontalHeader();
        header->resizeSection(1, 600);
        dialog.resize(1000, 460);  // as on a 1024x768 screen
        QTRY_VERIFY(header->sectionViewportPosition(4) + header->sectionSize(4) <= dialog.ResultsList()->viewport()->width());
        for (const int column : {3, 4})
            QVERIFY(header->sectionSize(column) > header->fontMetrics().horizontalAdvance(model->index(0, column).data().toString()));

        header->resizeSection(2, 333);
        const int sizeWidth = header->sectionSize(3);
        dialog.reject();
        CDlgDuplicateResults again(Input({}), nullptr);
        QCOMPARE(again.ResultsList()->horizontalHeader()->sectionSize(2), 333);
        QCOMPARE(again.ResultsList()->horizontalHeader()->sectionSize(3), sizeWidth);
    }

    // The folder compared with: listed on the fill's worker beside the listed one, or not twice when
    // one holds the other; as a reference its rows are never checked and its own groups left out.
    void compareWithFolder_data()
    {
        QTest::addColumn<QByteArray>("compare");    // under the case's folder
        QTest::addColumn<QByteArray>("reference");  // whose rows are never checked; empty: none
        QTest::addColumn<int>("rows");
        QTest::addColumn<QString>("notice");
        QTest::newRow("beside") << QByteArray("ref") << QByteArray("ref/") << 5 << QString("Compared with");
        QTest::newRow("inside the listed") << QByteArray("listed/sub/") << QByteArray("listed/sub/") << 2 << QString("lies inside the listed");
        QTest::newRow("the listed itself") << QByteArray("listed") << QByteArray() << 4 << QString("is the listed folder");
        QTest::newRow("holding the listed") << QByteArray("") << QByteArray() << 4 << QString("holds the listed folder");
        QTest::newRow("missing") << QByteArray("gone") << QByteArray() << 4 << QString("cannot be read: No such file");
    }
    void compareWithFolder()
    {
        QFETCH(QByteArray, compare);
        QFETCH(QByteArray, reference);
        QFETCH(int, rows);
        QFETCH(QString, notice);
        Tree({{"listed/a", 7}, {"listed/sub/a", 7}, {"listed/sub/s", 5}, {"listed/sub/t", 5},
              {"ref/a", 7}, {"ref/x", 3}, {"ref/y", 3}});
        const QByteArray listed = m_dir + "/listed";
        CCompareWith with{m_dir + "/" + compare, listed, true, {}};
        CBoxAnswerer ok(QMessageBox::Ok);
        CDlgDuplicateResults dialog(Input({listed + "/a", listed + "/sub/a", listed + "/sub/s", listed + "/sub/t"}), nullptr, nullptr, with);
        dialog.show();
        WaitForFill(dialog);
        QTRY_VERIFY(!ok.texts.isEmpty());
        CResultsModel* model = dialog.Model();
        QCOMPARE(model->rowCount(), rows);
        QVERIFY2(dialog.CompareNote().contains(notice), qPrintable(dialog.CompareNote()));
        QVERIFY(dialog.windowTitle().contains(QFile::decodeName(listed)));
        dialog.OnCheckAllButNewest();
        int inReference = 0;
        for (int i = 0; i < model->rowCount(); ++i) {
            const bool in = !reference.isEmpty() && QByteArray(model->Row(i).path).startsWith(m_dir + "/" + reference);
            inReference += in;
            QVERIFY2(!(in && model->Row(i).checked), model->Row(i).path);
            // Not even by hand.
            QCOMPARE(model->setData(model->index(i, 0), Qt::Checked, Qt::CheckStateRole), !in);
        }
        QCOMPARE(inReference > 0, !reference.isEmpty());
        dialog.reject();
    }

    void trashMovesCheckedFilesAndRefills()
    {
        SetShell(nullptr);  // the desktop's own trash, in the test's data folder
        Tree({{"keep1", 9}, {"keep2", 9}, {"gone", 4}, {"twin", 4}, {"bad\xff", 4}});
        const QByteArrayList paths = {m_dir + "/keep1", m_dir + "/keep2", m_dir + "/gone", m_dir + "/twin", m_dir + "/bad\xff"};
        CBoxAnswerer ok(QMessageBox::Ok);
        ok.remaining = 1;
        CDlgDuplicateResults dialog(Input(paths), nullptr);
        dialog.show();
        WaitForFill(dialog);
        QTRY_COMPARE(ok.texts.size(), 1);
        QCOMPARE(dialog.Model()->rowCount(), 5);
        for (int r = 2; r < 5; ++r)
            dialog.Model()->setData(dialog.Model()->index(r, 0), Qt::Checked, Qt::CheckStateRole);

        {   // Declined: nothing moves, nothing changes.
            CBoxAnswerer no(QMessageBox::No);
            dialog.OnSendToRecycleBin();
            QCOMPARE(no.texts.size(), 1);
            QVERIFY(no.texts[0].startsWith(QStringLiteral("All copies of 1 group(s) are checked")));
            QVERIFY(no.texts[0].endsWith(QStringLiteral("Files of equal size may differ: their contents were not "
                                                        "compared.\n\nMove 3 item(s) to the Trash?")));
        }
        QCOMPARE(dialog.Model()->CheckedPaths().size(), size_t(3));
        QVERIFY(QFile::exists(QFile::decodeName(m_dir + "/gone")));

        // Untick one; the other two (one not UTF-8) go; the size left with one file drops out.
        dialog.Model()->setData(dialog.Model()->index(3, 0), Qt::Unchecked, Qt::CheckStateRole);
        const QByteArray kept = dialog.Model()->Row(3).path;
        {
            CBoxAnswerer yes(QMessageBox::Yes);
            dialog.OnSendToRecycleBin();
        }
        WaitForFill(dialog);
        // Said where the user looks: first in the figures line, and in the status bar.
        const QString done = QStringLiteral("2 file(s) moved to the Trash; 8 bytes freed once it is emptied.");
        QCOMPARE(dialog.LastDone(), done);
        QVERIFY(dialog.findChild<QLabel*>(QStringLiteral("resultsSummary"))->text().startsWith(done + QLatin1Char('\n')));
        QCOMPARE(dialog.findChild<QLabel*>(QStringLiteral("resultsStatusText"))->text(), done);
        struct stat st;
        QVERIFY(::lstat(kept.constData(), &st) == 0);
        QCOMPARE(dialog.Model()->rowCount(), 2);
        QVERIFY(dialog.Model()->CheckedPaths().empty());
        const QByteArray trash = HomeTrashFolder();
        QVERIFY(trash.startsWith(QFile::encodeName(TestSupport::TempRoot())));
        int inTrash = 0;
        for (const QByteArray& name : {QByteArray("gone"), QByteArray("twin"), QByteArray("bad\xff")})
            inTrash += ::lstat(trash + "/files/" + name, &st) == 0;
        QCOMPARE(inTrash, 2);

        // Undo puts both back where they were, and the refill lists them again.
        {
            CBoxAnswerer done(QMessageBox::Ok);
            QApplication::setActiveWindow(&dialog);
            QTest::keySequence(&dialog, QKeySequence::Undo);
            QTRY_COMPARE(done.texts, QStringList(QStringLiteral("2 of 2 item(s) restored from the Trash.")));
        }
        WaitForFill(dialog);
        QCOMPARE(dialog.Model()->rowCount(), 5);
        dialog.reject();
    }

    void helpersActOnSelectedGroupsAndTheGuardNamesWholeGroups()
    {
        Tree({{"a/new", 9}, {"b/old", 9}, {"a/x", 4}, {"b/y", 4}, {"b/z", 4}});
        const QByteArrayList paths = {m_dir + "/a/new", m_dir + "/b/old", m_dir + "/a/x", m_dir + "/b/y", m_dir + "/b/z"};
        struct timespec times[2] = {{0, UTIME_OMIT}, {1000, 0}};
        ::utimensat(AT_FDCWD, (m_dir + "/b/old").constData(), times, 0);
        CBoxAnswerer ok(QMessageBox::Ok);
        ok.remaining = 1;
        CDlgDuplicateResults dialog(Input(paths), nullptr);
        dialog.show();
        WaitForFill(dialog);
        auto checks = [&dialog] {
            QString marks;
            for (const CResultRow& r : dialog.Model()->Rows())
                marks += r.checked ? QLatin1Char('x') : QLatin1Char('.');
            return marks;
        };
        QVERIFY(dialog.SummaryText().startsWith(QStringLiteral("2 group(s), 5 file(s): trashing all but one copy of "
                                                               "each would free up to 17 bytes")));
        dialog.ResultsList()->selectRow(0);
        dialog.OnCheckAllButNewest();  // every group, whatever is selected
        QCOMPARE(checks(), QStringLiteral(".x.xx"));
        dialog.OnUnCheckAll();
        dialog.OnCheckAllButNewest(true);  // only the first group's
        QCOMPARE(checks(), QStringLiteral(".x..."));
        dialog.OnCheckInFolderOf(1);  // b/ across groups, though a row is selected
        QCOMPARE(checks(), QStringLiteral(".x.xx"));
        QVERIFY(dialog.SummaryText().endsWith(QStringLiteral("The 3 checked file(s) would free 17 bytes.")));
        dialog.OnInvertChecks();
        QCOMPARE(checks(), QStringLiteral("x.x.."));
        dialog.OnCheckMatching(QStringLiteral("*/b/*"));
        QCOMPARE(checks(), QStringLiteral("xxxxx"));

        // Space toggles a row's check from any cell; Delete asks to trash the checked files, No by default
        // when every copy of a group would go.
        m_fake.accept = false;
        dialog.ResultsList()->setFocus();
        for (const int row : {0, 4}) {
            dialog.ResultsList()->setCurrentIndex(dialog.Model()->index(row, 2));
            QTest::keyClick(dialog.ResultsList(), Qt::Key_Space);
        }
        QCOMPARE(checks(), QStringLiteral(".xxx."));
        m_fake.calls.clear();
        QTest::keyClick(dialog.ResultsList(), Qt::Key_Delete);
        QCOMPARE(m_fake.calls.size(), 3);
        QVERIFY(!m_fake.lastNoByDefault);
        QTest::keyClick(dialog.ResultsList(), Qt::Key_Space);
        QTest::keyClick(dialog.ResultsList(), Qt::Key_Delete);
        QVERIFY(m_fake.lastNoByDefault);
        dialog.ResultsList()->setCurrentIndex(dialog.Model()->index(0, 2));
        QTest::keyClick(dialog.ResultsList(), Qt::Key_Space);
        dialog.OnSendToRecycleBin();
        QVERIFY(m_fake.lastCaution.startsWith(QStringLiteral("All copies of 2 group(s) are checked: nothing of them would remain.\ngroup 1: ")));
        QVERIFY(m_fake.lastCaution.contains(QStringLiteral("group 2: ") + QFile::decodeName(m_dir) + QStringLiteral("/b/z")));

        // No helper checks a protected row, whatever it matches.
        CProtectedFolders folders;
        folders.Toggle((m_dir + "/b").toStdString());
        dialog.Model()->SetProtected(folders);
        dialog.OnUnCheckAll();
        dialog.OnCheckMatching(QStringLiteral("*"));
        dialog.OnCheckInFolderOf(1);
        QCOMPARE(checks(), QStringLiteral("x.x.."));
        dialog.OnInvertChecks();
        QCOMPARE(checks(), QStringLiteral("....."));
        dialog.reject();
    }

    // With the content check on, only identical files are grouped and the figures say so.
    void contentModeGroupsIdenticalFiles()
    {
        COptionsStore().WriteInt(QLatin1String(Opt::CompareContents.name), 1);
        Tree({});
        for (const auto& [name, text] : {std::pair<const char*, const char*>{"a", "same bytes"}, {"b", "same bytes"}, {"c", "other byte"}})
            TestSupport::WriteFile(m_dir + "/" + name, text);
        // Names of one file, the first listed last: every one is marked, naming the others.
        QVERIFY(::link((m_dir + "/b").constData(), (m_dir + "/b2").constData()) == 0);
        QVERIFY(::link((m_dir + "/b").constData(), (m_dir + "/b3").constData()) == 0);
        // The caution that every byte was compared comes once that is true.
        CDlgDuplicateResults* shown = nullptr;
        bool fillingAtCaution = true;
        CBoxAnswerer ok(QMessageBox::Ok, [&] { fillingAtCaution = !shown || shown->IsFilling(); });
        ok.remaining = 1;
        CDlgDuplicateResults dialog(Input({m_dir + "/b2", m_dir + "/a", m_dir + "/b", m_dir + "/c", m_dir + "/b3"}), nullptr);
        shown = &dialog;
        dialog.show();
        WaitForFill(dialog);
        QTRY_COMPARE(ok.texts.size(), 1);
        COptionsStore().WriteInt(QLatin1String(Opt::CompareContents.name), 0);
        QVERIFY(ok.texts[0].contains(QStringLiteral("every byte")) && !fillingAtCaution);
        CResultsModel* model = dialog.Model();
        QCOMPARE(model->rowCount(), 4);
        QVERIFY(!dialog.findChild<QProgressBar*>(QStringLiteral("contentProgress"))->isVisible());
        QVERIFY(dialog.SummaryText().startsWith(QStringLiteral("1 group(s) of identical files, 4 file(s): trashing all "
                                                               "but one copy of each would free 10 bytes.")));
        // Its details say what each stage kept, as sorvane-cli --stats does.
        const QString details = dialog.findChild<QLabel*>(QStringLiteral("resultsSummary"))->toolTip();
        QVERIFY2(details.contains(QStringLiteral("\nlisted 5 files\n")) && details.contains(QStringLiteral("\nidentical 4 files in 1 groups, ")),
                 qPrintable(details));
        for (int r = 0; r < 4; ++r) {
            QStringList others;
            for (int o = 0; o < 4; ++o) {
                if (o != r && model->Row(o).ino == model->Row(r).ino)
                    others << QString::number(o + 1);
            }
            const QString number = model->index(r, 0).data().toString();
            const QString tip = model->index(r, 1).data(Qt::ToolTipRole).toString();
            QVERIFY2(number.endsWith(QChar(CResultsModel::kSameFileMark)) == !others.isEmpty(), qPrintable(number));
            if (!others.isEmpty())
                QVERIFY2(tip.startsWith(QStringLiteral("Same file as rows ") + others.join(QStringLiteral(", "))), qPrintable(tip));
        }
        dialog.reject();
    }

    void escapeDuringAFillStopsIt()
    {
        QByteArrayList paths;
        Tree({});
        for (int i = 0; i < 3000; ++i) {
            paths << m_dir + "/f" + QByteArray::number(i);
            MakeFile(paths.last(), i % 50);
        }
        CBoxAnswerer ok(QMessageBox::Ok);
        for (int i = 0; i < 20; ++i)
            paths += paths.mid(0, 3000);  // long enough to be still filling
        CDlgDuplicateResults dialog(Input(paths), nullptr);
        dialog.show();
        QTRY_COMPARE(ok.texts.size(), 1);
        QTest::keyClick(&dialog, Qt::Key_Escape);
        QVERIFY(!dialog.isVisible());
        QVERIFY(!dialog.IsFilling());

        // Comparing contents, Escape and the Stop button stop the work but keep the window, saying so.
        // The caution that every byte was compared is never shown: not while comparing, nor after.
        COptionsStore().WriteInt(QLatin1String(Opt::CompareContents.name), 1);
        for (const bool button : {false, true}) {
            CDlgDuplicateResults comparing(Input(paths), nullptr);
            comparing.show();
            auto* notice = comparing.findChild<QLabel*>(QStringLiteral("resultsNotice"));
            QTest::qWait(20);
            QVERIFY(comparing.IsFilling());
            QVERIFY2(notice->isVisible() && notice->text().contains(QStringLiteral("by size only")), qPrintable(notice->text()));
            if (button)
                comparing.findChild<QPushButton*>(QStringLiteral("stopComparing"))->click();
            else
                QTest::keyClick(&comparing, Qt::Key_Escape);
            QTRY_VERIFY(!comparing.IsFilling());
            QVERIFY(comparing.isVisible());
            QVERIFY(notice->text().contains(QStringLiteral("stopped")));
            // Nor does the picture still wait for work that ended.
            const QString map = comparing.findChild<CSpaceMap*>()->Message();
            QVERIFY2(!map.startsWith(QStringLiteral("Comparing")) && !map.startsWith(QStringLiteral("Grouping")), qPrintable(map));
            QTest::qWait(100);
            QCOMPARE(ok.texts.size(), 1);
            QCOMPARE(comparing.findChild<QLabel*>(QStringLiteral("resultsStatusText"))->text(), notice->text());
            comparing.reject();
        }
        COptionsStore().WriteInt(QLatin1String(Opt::CompareContents.name), 0);
    }

    void rowCommandsReachTheExactPaths()
    {
        Tree({{"sub/x", 1}, {"sub/y", 1}, {"Sub/z", 1}, {"top", 1}});
        COptionsStore().WriteInt(QStringLiteral("ViewFilesCount"), 1);
        std::unique_ptr<CView> view = Listed(m_dir, true);
        QCOMPARE(view->FileModel()->rowCount(), 4);
        QVERIFY(view->FileListMenu()->defaultAction()->text() == QStringLiteral("View Selected File"));
        QCOMPARE(view->FolderListMenu()->defaultAction()->text(), QStringLiteral("Open Selected Folder"));

        int rowOfY = -1;
        for (int r = 0; r < 4; ++r)
            rowOfY = view->FileModel()->FileName(r) == QStringLiteral("y") ? r : rowOfY;
        view->FileList()->selectRow(rowOfY);
        view->OnRowCommand(Cmd::ViewSelectedFile);
        view->OnRowCommand(Cmd::OpenFileFolder);
        view->OnRowCommand(Cmd::FileProperties);
        view->OnRowCommand(Cmd::LocateFileInExplorer);
        const QByteArray y = m_dir + "/sub/y";
        QCOMPARE(m_fake.calls, QByteArrayList({"open " + y, "open " + m_dir + "/sub", "properties " + y, "reveal " + y}));

        // A file that went keeps the other rows' numbers.
        auto numbers = [&view](int skip) {
            QStringList sr;
            for (int r = 0; r < view->FileModel()->rowCount(); ++r) {
                if (r != skip)
                    sr << view->FileModel()->index(r, 0).data().toString();
            }
            return sr;
        };
        const QStringList othersBefore = numbers(rowOfY);
        view->OnRowCommand(Cmd::SendFileToRecycleBin);
        QCOMPARE(view->FileModel()->rowCount(), 3);
        QCOMPARE(numbers(-1), othersBefore);

        // A folder that went takes only the rows directly in it, matched exactly.
        m_fake.calls.clear();
        int folderRow = -1;
        for (int r = 0; r < view->FolderModel()->rowCount(); ++r) {
            if (view->FolderModel()->index(r, 1).data().toString().endsWith(QStringLiteral("/sub")))
                folderRow = r;
        }
        view->FolderList()->selectRow(folderRow);
        QSignalSpy treeRefresh(view.get(), &CSorvaneView::FolderTreeChanged);
        CProtectedFolders folders;
        folders.Toggle((m_dir + "/sub/inner").toStdString());  // a folder that holds a protected one asks first
        QVERIFY(LinkOps::WriteProtected(folders));
        view->OnRowCommand(Cmd::SendFolderToRecycleBin);
        QVERIFY(LinkOps::WriteProtected({}));
        QVERIFY2(m_fake.lastCaution.contains(QStringLiteral("protected")) && m_fake.lastNoByDefault, qPrintable(m_fake.lastCaution));
        QCOMPARE(m_fake.calls, QByteArrayList({"trash " + m_dir + "/sub"}));
        QCOMPARE(treeRefresh.count(), 1);
        QStringList left;
        for (int r = 0; r < view->FileModel()->rowCount(); ++r)
            left << view->FileModel()->FileName(r);
        left.sort();
        QCOMPARE(left, QStringList({"top", "z"}));

        // A refused move changes nothing.
        m_fake.accept = false;
        view->FileList()->selectRow(0);
        view->OnRowCommand(Cmd::SendFileToRecycleBin);
        QCOMPARE(view->FileModel()->rowCount(), 2);
        COptionsStore().WriteInt(QStringLiteral("ViewFilesCount"), 0);
    }
};

SORVANE_WIDGET_TEST_MAIN(TestResults)
#include "tst_results.moc"

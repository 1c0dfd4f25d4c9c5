#include "WidgetTestSupport.h"

#include "CommandIds.h"
#include "DlgSplash.h"
#include "FiltersDlg.h"
#include "FolderTree.h"
#include "MainFrame.h"
#include "PathArray.h"
#include "OutlookBar.h"
#include "RibbonBar.h"
#include "SorvaneApp.h"
#include "SorvaneDoc.h"
#include "SorvaneView.h"

#include <sys/stat.h>

#include <QAbstractButton>
#include <QAbstractItemModelTester>
#include <QCheckBox>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QMenu>
#include <QTableView>
#include <QToolButton>

#include <QFile>
#include <QSplitter>

#include <csignal>

using TestSupport::CBoxAnswerer;

namespace {
// True when the process has a handler for SIGTERM (the SigCgt mask of /proc).
bool CatchesSigterm(pid_t pid)
{
    QFile status(QStringLiteral("/proc/%1/status").arg(pid));
    if (!status.open(QIODevice::ReadOnly))
        return false;
    for (const QByteArray& line : status.readAll().split('\n')) {
        if (line.startsWith("SigCgt:"))
            return (line.mid(7).trimmed().toULongLong(nullptr, 16) >> (SIGTERM - 1)) & 1;
    }
    return false;
}
}  // namespace
using TestSupport::MakeDir;
using TestSupport::MakeFile;

class TestMainFrame : public QObject {
    Q_OBJECT

    std::unique_ptr<CSorvaneApp> m_app;
    COptionsStore m_store;
    QString m_tree;  // holds "%" so every formatted text is checked with it

    CMainFrame* Frame() { return m_app->MainFrame(); }
    CSorvaneView* View() { return Frame()->View(); }

    void Launch()
    {
        m_app = std::make_unique<CSorvaneApp>();
        QVERIFY(m_app->InitInstance({}));
        QVERIFY(QTest::qWaitForWindowExposed(Frame()));
    }
    void SelectFolder(const QString& path)
    {
        QVERIFY(Frame()->FolderTree()->SelectPath(path));
        QTRY_COMPARE(m_app->Document()->SelectedFolder(), path);
    }
    // Starts a listing and waits for its whole run, question included.
    QStringList RunListing(QMessageBox::StandardButton answer = QMessageBox::No, std::function<void()> whileOpen = {})
    {
        CBoxAnswerer answerer(answer, std::move(whileOpen));
        Frame()->Command(Cmd::StartListing)->trigger();
        [&] { QTRY_VERIFY_WITH_TIMEOUT(!View()->IsListing(), 30000); }();
        return answerer.texts;
    }
    QString Cell(int row, int column)
    {
        return View()->FileModel()->index(row, column).data().toString();
    }

private slots:
    void initTestCase()
    {
        m_tree = TestSupport::TempRoot() + QStringLiteral("/100% tree");
        const QByteArray t = QFile::encodeName(m_tree);
        for (const char* d : {"", "/a", "/b", "/b/empty", "/.hid"})
            MakeDir(t + d);
        for (const char* f : {"/a/one", "/a/two", "/b/three", "/.hid/four"})
            MakeFile(t + f);
    }
    void cleanup()
    {
        m_app.reset();
        QFile::remove(TestSupport::TempRoot() + QStringLiteral("/xdg_config_home/Trellane/Sorvane by Trellane.conf"));
    }

    void startUpShowsDefaultsAndTogglesStore()
    {
        Launch();
        QCOMPARE(Frame()->windowTitle(), QStringLiteral("Sorvane by Trellane"));
        QCOMPARE(Frame()->Ribbon()->PanelLabels(),
                 QStringList({"Folders To Ignore", "Files to Ignore", "File Listing", "Launchers", "Exporters",
                              "Duplicate File Search", "View"}));
        QCOMPARE(Frame()->FolderPane()->text(),
                 QStringLiteral("Please Select a Folder from the Folder List to Search Duplicate Files"));
        QCOMPARE(Frame()->FileCountPane()->text(), QStringLiteral("Number of Files In List Will Appear Here"));
        QCOMPARE(Frame()->InfoBar()->Text(), QStringLiteral("Select Folder from the Left Hand Side to List Files."));
        QVERIFY(Frame()->Command(Cmd::StartListing)->isEnabled() && !Frame()->Command(Cmd::StopListing)->isEnabled());

        // A click on the ribbon's check box stores the flipped value and the mark follows it.
        auto* hiddenFiles = qobject_cast<QCheckBox*>(Frame()->Ribbon()->ElementFor(Cmd::IgnoreHiddenFiles));
        QVERIFY(hiddenFiles && hiddenFiles->isChecked());
        QTest::mouseClick(hiddenFiles, Qt::LeftButton);
        QCOMPARE(m_store.Read(Opt::IgnoreHiddenFiles), 0u);
        QTRY_VERIFY(!hiddenFiles->isChecked());
        m_store.WriteInt(QStringLiteral("IgnoreReadOnlyFiles"), 5);
        Frame()->UpdateCommandUI();
        QVERIFY(Frame()->Command(Cmd::IgnoreReadOnlyFiles)->isChecked());
        Frame()->Command(Cmd::IgnoreReadOnlyFiles)->trigger();
        QCOMPARE(m_store.Read(Opt::IgnoreReadOnlyFiles), 0u);

        // The application button steps the look and opens no menu.
        QTest::mouseClick(Frame()->Ribbon()->ApplicationButton(), Qt::LeftButton);
        QTRY_COMPARE(Frame()->CurrentLook(), 216u);
        QVERIFY(!Frame()->ApplicationMenu()->isVisible());
    }

    // The filters' dialog keeps what does not read open with the reason beside it, and stores what does.
    void filtersDialog_data()
    {
        for (const char* column : {"minimum", "maximum", "names", "problem", "stored", "summary"})
            QTest::addColumn<QString>(column);  // problem empty: OK closes; stored: MinimumFileSize after
        auto row = [](const char* name, std::initializer_list<const char*> texts) {
            QTestData& data = QTest::newRow(name);
            for (const char* text : texts)
                data << QString::fromUtf8(text);
        };
        row("bad size", {"12 parsecs", "", "", "12 parsecs", "1024", ""});
        row("minimum above maximum", {"2 MB", "1 MB", "", "below the minimum", "1024", ""});
        row("pattern with a slash", {"", "", "*.tmp\nsrc/.git", "Line 2 (src/.git)", "1024", ""});
        row("every field", {"1.5 KB", "2 GB", "*.tmp\n\n.git", "", "1536", "Filters: at least 1.5 KiB, at most 2.0 GiB, skipping *.tmp, .git."});
        row("all off", {"", "", "", "", "", ""});
    }
    void filtersDialog()
    {
        QFETCH(QString, minimum);
        QFETCH(QString, maximum);
        QFETCH(QString, names);
        QFETCH(QString, problem);
        QFETCH(QString, stored);
        QFETCH(QString, summary);
        m_store.WriteString(QStringLiteral("MinimumFileSize"), QStringLiteral("1024"));
        CFiltersDlg dialog;
        QCOMPARE(dialog.MinimumEdit()->text(), QStringLiteral("1 KB"));
        dialog.MinimumEdit()->setText(minimum);
        dialog.MaximumEdit()->setText(maximum);
        dialog.NamesEdit()->setPlainText(names);
        dialog.show();
        dialog.accept();
        QCOMPARE(dialog.isVisible(), !problem.isEmpty());
        QVERIFY2(dialog.Problems().join(QLatin1Char('|')).contains(problem), qPrintable(dialog.Problems().join(QLatin1Char('|'))));
        QString minimumStored;
        m_store.ReadString(QStringLiteral("MinimumFileSize"), QString(), minimumStored);
        QCOMPARE(minimumStored, stored);
        CFileFilters filters;
        QString error;
        QVERIFY(FileFilters::Load(COptionsStore().Values(), &filters, &error));
        if (problem.isEmpty())
            QCOMPARE(CFiltersDlg::Summary(filters), summary);
    }

    void selectionAndStartWithoutFolder()
    {
        Launch();
        CBoxAnswerer ok(QMessageBox::Ok);
        Frame()->Command(Cmd::StartListing)->trigger();
        QCOMPARE(ok.texts, QStringList(QStringLiteral(
            "Please Select a Folder from the List of Folders (from the Left Hand Side) & then Press the Start Button.")));
        QVERIFY(!View()->IsListing());

        SelectFolder(m_tree);
        QString stored;
        m_store.GetLastFolderSelected(stored);
        QCOMPARE(stored, m_tree);
        QCOMPARE(Frame()->FolderPane()->text(), m_tree);
        QCOMPARE(Frame()->FolderPane()->toolTip(), QStringLiteral("Folder %1 Selected to Search for Duplicate File(s).").arg(m_tree));
        QCOMPARE(Frame()->InfoBar()->Text(),
                 QStringLiteral("Press the Start Button to Start Listing Files from the Folder %1.").arg(m_tree));
    }

    void listingRunWithStatusRows()
    {
        m_store.WriteInt(QStringLiteral("ViewFilesCount"), 1);
        m_store.WriteInt(QStringLiteral("0 Column 1"), 90);  // too narrow for its texts
        Launch();
        QAbstractItemModelTester fileTester(View()->FileModel());
        QAbstractItemModelTester folderTester(View()->FolderModel());
        SelectFolder(m_tree);
        bool startWasDisabled = false;
        QString countWhileAsked;
        const QStringList asked = RunListing(QMessageBox::No, [&] {
            startWasDisabled = !Frame()->Command(Cmd::StartListing)->isEnabled() && View()->IsListing();
            QApplication::processEvents();
            countWhileAsked = Frame()->FileCountPane()->text();
        });
        QCOMPARE(countWhileAsked, QStringLiteral("3 File(s) in File List."));  // not "Loading File List" any more
        QCOMPARE(asked, QStringList(QStringLiteral("Do you Want to Search for Duplicate Files Grouped by File Size Now ?")));
        QVERIFY(startWasDisabled);
        QVERIFY(Frame()->Command(Cmd::StartListing)->isEnabled());

        QVERIFY(Cell(0, 1).startsWith(QStringLiteral("File Listing for Folder %1, Started At ").arg(m_tree)));
        QCOMPARE(Cell(0, 0), QStringLiteral("1"));
        QCOMPARE(Cell(0, 2), QString());
        QVERIFY(Cell(1, 1).startsWith(QStringLiteral("File Listing Stopped At ")));
        QCOMPARE(Cell(2, 1), QStringLiteral("4 Folder(s) Parsed. "));
        QCOMPARE(Cell(3, 1), QStringLiteral("1 Folder(s) Ignored. "));
        QCOMPARE(Cell(4, 1), QStringLiteral("2 Folder(s) Do Not Contain Files. "));
        QCOMPARE(Cell(5, 1), QStringLiteral("3 File(s) in File List."));
        // A status cell cut by its column still shows whole as a tooltip.
        QCOMPARE(View()->FileModel()->index(0, 1).data(Qt::ToolTipRole).toString(), Cell(0, 1));
        // ... but where the list has room to spare, the column takes it.
        QHeaderView* header = View()->FileList()->horizontalHeader();
        const int whole = static_cast<QAbstractItemView*>(View()->FileList())->sizeHintForColumn(1);
        QTRY_VERIFY2(header->sectionSize(1) >= whole || header->length() >= View()->FileList()->viewport()->width(),
                     qPrintable(QStringLiteral("%1 of %2").arg(header->sectionSize(1)).arg(whole)));
        QCOMPARE(View()->m_arrFiles.GetSize(), 3);
        QCOMPARE(View()->FileModel()->headerData(1, Qt::Horizontal, Qt::DisplayRole).toString(), QStringLiteral("Status"));
        QCOMPARE(View()->FileModel()->headerData(2, Qt::Horizontal, Qt::DisplayRole).toString(), QString());
        QTRY_COMPARE(Frame()->FileCountPane()->text(), QStringLiteral("3 File(s) in File List."));
        const QString info = Frame()->InfoBar()->Text();
        QVERIFY2(info.startsWith(QStringLiteral("File Listing Started At ")) && info.contains(QStringLiteral(" , Stopped At "))
                     && info.contains(QStringLiteral(". Parsed 4 Folder(s). 1 Folder(s) Ignored. 2 Folder(s) Do Not Contain Files. ")),
                 qPrintable(info));
        // The folder list: one row per folder with a listed file, exact paths.
        QCOMPARE(View()->FolderModel()->rowCount(), 2);
        QCOMPARE(View()->FolderModel()->index(0, 2).data().toString() + View()->FolderModel()->index(1, 2).data().toString(),
                 View()->FolderModel()->index(0, 1).data().toString().endsWith(QLatin1String("/a")) ? QStringLiteral("21")
                                                                                                  : QStringLiteral("12"));
    }

    void listingRunWithFileRows()
    {
        m_store.WriteInt(QStringLiteral("DisplayFileList"), 1);
        Launch();
        SelectFolder(m_tree + QStringLiteral("/a"));
        RunListing();
        QCOMPARE(View()->FileModel()->rowCount(), 2);
        QStringList names = {Cell(0, 1), Cell(1, 1)};
        names.sort();
        QCOMPARE(names, QStringList({"one", "two"}));
        QCOMPARE(Cell(1, 0), QStringLiteral("2"));
        QCOMPARE(Cell(0, 2), m_tree + QStringLiteral("/a"));
        QCOMPARE(View()->FileModel()->headerData(1, Qt::Horizontal, Qt::DisplayRole).toString(), QStringLiteral("File Name"));
        QCOMPARE(View()->FileModel()->headerData(2, Qt::Horizontal, Qt::DisplayRole).toString(), QStringLiteral("Folder"));

        // One file: no question.
        SelectFolder(m_tree + QStringLiteral("/b"));
        QVERIFY(RunListing().isEmpty());
        QCOMPARE(View()->FileModel()->rowCount(), 1);
    }

    void stopAndCloseDuringARun()
    {
        const QByteArray big = QFile::encodeName(TestSupport::TempRoot()) + "/big";
        MakeDir(big);
        for (int d = 0; d < 200; ++d) {
            MakeDir(big + "/d" + QByteArray::number(d));
            for (int f = 0; f < 50; ++f)
                MakeFile(big + "/d" + QByteArray::number(d) + "/f" + QByteArray::number(f));
        }
        Launch();
        SelectFolder(QFile::decodeName(big));
        CBoxAnswerer no(QMessageBox::No);
        Frame()->Command(Cmd::StartListing)->trigger();
        QVERIFY(View()->IsListing() && !Frame()->Command(Cmd::StartListing)->isEnabled());
        Frame()->Command(Cmd::StopListing)->trigger();
        QVERIFY(View()->IsListing() && !Frame()->Command(Cmd::StartListing)->isEnabled());
        QTRY_VERIFY(!View()->IsListing());
        // A stopped walk finishes the folder it reads: whole folders of 50, never all 200.
        const int listed = View()->m_arrFiles.GetSize();
        QVERIFY2(listed % 50 == 0 && listed < 10000, QByteArray::number(listed));
        // The summary is there; a run that crossed a second ends with how long it took.
        const int rows = View()->FileModel()->rowCount();
        QVERIFY(Cell(rows - 1, 1).contains(QStringLiteral("File(s) in File List."))
                || (Cell(rows - 2, 1).contains(QStringLiteral("File(s) in File List."))
                    && Cell(rows - 1, 1).startsWith(QStringLiteral("It Took Aound"))));

        // Closing mid-run stops the walk and joins its thread.
        Frame()->Command(Cmd::StartListing)->trigger();
        QVERIFY(View()->IsWalking());
        Frame()->close();
        QVERIFY(!View()->IsWalking());
    }

    void documentsAndKeys()
    {
        Launch();
        SelectFolder(m_tree);
        // Saving writes an empty file; opening reads nothing and keeps the folder.
        const QString doc = TestSupport::TempRoot() + QStringLiteral("/list.svd");
        QString error;
        QVERIFY(m_app->Document()->Save(doc, &error));
        QCOMPARE(QFileInfo(doc).size(), 0);
        QVERIFY(Frame()->OpenDocument(doc));
        QCOMPARE(m_app->Document()->SelectedFolder(), m_tree);
        QVERIFY(!Frame()->windowTitle().contains(QStringLiteral("list")));
        // F9 is Start.
        CBoxAnswerer no(QMessageBox::No);
        QTest::keyClick(Frame(), Qt::Key_F9);
        QVERIFY(View()->IsListing());
        QTRY_VERIFY_WITH_TIMEOUT(!View()->IsListing(), 20000);
    }

    void terminationSignalClosesLikeTheCloseBox()
    {
        m_store.WriteInt(QStringLiteral("0 Column 1"), 321);
        QProcess app;
        app.start(QStringLiteral(SORVANE_APP), {});
        QVERIFY(app.waitForStarted());
        // Once the handler is in place, even a signal during start-up closes the window.
        QTRY_VERIFY_WITH_TIMEOUT(CatchesSigterm(pid_t(app.processId())), 20000);
        ::kill(pid_t(app.processId()), SIGTERM);
        QVERIFY(app.waitForFinished(20000));
        QCOMPARE(app.exitStatus(), QProcess::NormalExit);
        QCOMPARE(app.exitCode(), 0);
        QCOMPARE(m_store.ReadInt(QStringLiteral("0 Column 1"), 150), 321u);  // widths written back on the way out
        QCOMPARE(m_store.ReadInt(QStringLiteral("1 Column 1"), -1), 500u);
    }

    // sorvane FOLDER selects the folder, whatever its bytes, and lists it; --version needs no display.
    void folderFromTheCommandLine()
    {
        const QByteArray odd = QFile::encodeName(TestSupport::TempRoot()) + "/cmd \xff line";
        TestSupport::MakeDir(odd);
        TestSupport::MakeFile(odd + "/a.txt", 5);
        // With another folder stored, the one on the command line still wins, and is stored by its bytes.
        m_store.SetLastFolderSelected(m_tree);
        CBoxAnswerer no(QMessageBox::No);
        m_app = std::make_unique<CSorvaneApp>();
        QVERIFY(m_app->InitInstance({QStringLiteral("-x"), DecodeNativeExact(odd.toStdString())}));
        QTRY_VERIFY(View()->IsListing());
        QTRY_VERIFY_WITH_TIMEOUT(!View()->IsListing(), 20000);
        QCOMPARE(View()->m_helper.RootFolder(), odd);
        QCOMPARE(View()->m_arrFiles.GetSize(), 1);
        QCOMPARE(View()->m_arrFiles.At(0), std::string_view((odd + "/a.txt").constData()));
        const QString shown = QString::fromUtf8(QFile::encodeName(TestSupport::TempRoot())) + QStringLiteral("/cmd \\xFF line");
        QCOMPARE(Frame()->FolderPane()->text(), shown);
        QVERIFY(Cell(0, 1).startsWith(QStringLiteral("File Listing for Folder %1,").arg(shown)));
        QCOMPARE(EncodeNativeExact(Frame()->FolderTree()->SelectedPath()), odd);
        m_app.reset();
        QString stored;
        m_store.GetLastFolderSelected(stored);
        QCOMPARE(EncodeNativeExact(stored), odd);
        Launch();
        QCOMPARE(Frame()->FolderPane()->text(), shown);
        m_app.reset();

        QProcess version;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.remove(QStringLiteral("QT_QPA_PLATFORM"));
        env.remove(QStringLiteral("DISPLAY"));
        version.setProcessEnvironment(env);
        version.start(QStringLiteral(SORVANE_APP), {QStringLiteral("--version")});
        QVERIFY(version.waitForFinished(10000));
        QCOMPARE(version.readAllStandardOutput(), QByteArray("sorvane " SORVANE_VERSION "\n"));
    }

    // A folder whose name is not UTF-8 is picked from the tree by its bytes; two that look alike are not guessed.
    void treeFoldersByTheirBytes()
    {
        const QByteArray base = QFile::encodeName(TestSupport::TempRoot()) + "/pick";
        TestSupport::MakeDir(base);
        TestSupport::MakeDir(base + "/one\xff");
        TestSupport::MakeFile(base + "/one\xff/f.txt", 3);
        const QString shown = QFile::decodeName(base + "/one\xff");
        QVERIFY(shown.contains(QChar(0xFFFD)));
        const QString exact = CFolderTree::ExactPath(shown);
        QCOMPARE(EncodeNativeExact(exact), base + "/one\xff");
        Launch();
        CBoxAnswerer no(QMessageBox::No);
        Frame()->SelectFolder(exact);
        Frame()->Command(Cmd::StartListing)->trigger();
        QTRY_VERIFY_WITH_TIMEOUT(!View()->IsListing(), 20000);
        QCOMPARE(View()->m_arrFiles.GetSize(), 1);
        QCOMPARE(View()->m_arrFiles.At(0), std::string_view((base + "/one\xff/f.txt").constData()));
        // The tree shows it among its siblings, escaped, and picks it by its bytes.
        QVERIFY(Frame()->FolderTree()->SelectPath(DecodeNativeExact(base.toStdString())));
        const QModelIndex parent = Frame()->FolderTree()->currentIndex();
        Frame()->FolderTree()->expand(parent);
        const QAbstractItemModel* model = Frame()->FolderTree()->model();
        QStringList names;
        for (int r = 0; r < model->rowCount(parent); ++r)
            names << model->index(r, 0, parent).data().toString();
        QVERIFY2(names.contains(QStringLiteral("one\\xFF")), qPrintable(names.join('|')));
        Frame()->FolderTree()->setCurrentIndex(model->index(int(names.indexOf(QStringLiteral("one\\xFF"))), 0, parent));
        QTRY_COMPARE(EncodeNativeExact(m_app->Document()->SelectedFolder()), base + "/one\xff");

        TestSupport::MakeDir(base + "/two\xfe");
        TestSupport::MakeDir(base + "/two\xfd");
        QCOMPARE(CFolderTree::ExactPath(QFile::decodeName(base + "/two\xfe")), QString());
    }

    // A folder that cannot be read is named in the list and counted in the summary.
    void unreadableFolderIsShown()
    {
        const QByteArray base = QFile::encodeName(TestSupport::TempRoot()) + "/locked";
        TestSupport::MakeDir(base);
        TestSupport::MakeDir(base + "/shut");
        TestSupport::MakeFile(base + "/a", 1);
        TestSupport::MakeFile(base + "/shut/b", 1);
        QCOMPARE(chmod((base + "/shut").constData(), 0), 0);
        Launch();
        SelectFolder(QFile::decodeName(base));
        {
            TestSupport::CFileModesObeyed obeyed;
            RunListing();
        }
        chmod((base + "/shut").constData(), 0755);
        QStringList rows;
        for (int i = 0; i < View()->FileModel()->rowCount(); ++i)
            rows << Cell(i, 1);
        QVERIFY2(rows.contains(QStringLiteral("1 Folder(s) Could Not Be Read. ")), qPrintable(rows.join('|')));
        QVERIFY2(rows.contains(QStringLiteral("Could Not Read Folder %1/shut: Permission denied").arg(QFile::decodeName(base))),
                 qPrintable(rows.join('|')));
        QTRY_VERIFY(Frame()->InfoBar()->Text().contains(QStringLiteral("1 Folder(s) Could Not Be Read. ")));
        QCOMPARE(View()->m_arrFiles.GetSize(), 1);
    }

    // A first start offers places to pick, says what a skip rule skips here, and the About box where things live.
    void firstStartOffersPlaces()
    {
        TestSupport::MakeDir(QFile::encodeName(TestSupport::TempRoot()) + "/Documents");
        Launch();
        QListWidget* shortcuts = Frame()->findChild<QListWidget*>(QStringLiteral("shortcuts"));
        QVERIFY(shortcuts && shortcuts->count() >= 1);
        QCOMPARE(shortcuts->item(0)->text(), QStringLiteral("Home"));
        QListWidgetItem* documents = nullptr;
        for (int i = 0; i < shortcuts->count(); ++i)
            documents = shortcuts->item(i)->text() == QStringLiteral("Documents") ? shortcuts->item(i) : documents;
        QVERIFY(documents);
        emit shortcuts->itemClicked(documents);
        QTRY_COMPARE(m_app->Document()->SelectedFolder(), TestSupport::TempRoot() + QStringLiteral("/Documents"));

        for (int id : {int(Cmd::IgnoreWindowsFolder), int(Cmd::IgnoreProgramsFolder)}) {
            QVERIFY(!Frame()->Command(id)->toolTip().contains(QStringLiteral("C:")));
            QVERIFY(Frame()->Command(id)->toolTip().contains(QStringLiteral("/")));
        }
        CAboutDlg about(Frame());
        const QString text = about.findChild<QLabel*>(QStringLiteral("aboutText"))->text();
        QVERIFY2(text.contains(AppSettingsPath()) && text.contains(QStringLiteral("last-trash-batch"))
                     && text.contains(QStringLiteral("Licence")),
                 qPrintable(text));
    }

    // Whatever can be pressed has a name a screen reader can say; an icon alone also says what it does.
    void everyControlHasAName()
    {
        Launch();
        for (QAbstractButton* button : Frame()->findChildren<QAbstractButton*>()) {
            QString name = button->accessibleName().isEmpty() ? button->text() : button->accessibleName();
            if (!button->isVisible() || button->objectName() == QLatin1String("qt_dockwidget_floatbutton")
                || button->objectName() == QLatin1String("qt_dockwidget_closebutton"))
                continue;
            QVERIFY2(!name.remove(QLatin1Char('&')).trimmed().isEmpty(), qPrintable(button->objectName() + button->toolTip()));
            if (button->text().isEmpty())
                QVERIFY2(!button->accessibleDescription().isEmpty() || !button->toolTip().isEmpty(), qPrintable(name));
        }
    }

    void layoutAndWidthsPersist()
    {
        Launch();
        View()->resize(800, 601);
        QCOMPARE(View()->FileList()->geometry(), QRect(0, 0, 800, 601));
        QVERIFY(!View()->FolderList()->isVisible());
        Frame()->Command(Cmd::ViewFilesCount)->trigger();
        QVERIFY(View()->FolderList()->isVisible());
        QVERIFY(qAbs(View()->FileList()->height() - View()->FolderList()->height()) < 10);  // halves by default
        auto* split = View()->findChild<QSplitter*>();
        split->setSizes({150, 450});  // the user drags the split

        // Size, place and split come back at the next start.
        Frame()->resize(900, 650);
        Frame()->move(40, 30);
        Frame()->close();

        View()->FileList()->horizontalHeader()->resizeSection(1, 222);
        View()->FolderList()->horizontalHeader()->resizeSection(0, 0);
        m_app.reset();
        Launch();
        QCOMPARE(View()->FileList()->horizontalHeader()->sectionSize(1), 222);
        QCOMPARE(View()->FileList()->horizontalHeader()->sectionSize(2), 250);
        QCOMPARE(View()->FolderList()->horizontalHeader()->sectionSize(0), 0);
        QCOMPARE(Frame()->size(), QSize(900, 650));
        QCOMPARE(Frame()->pos(), QPoint(40, 30));
        const QList<int> sizes = View()->findChild<QSplitter*>()->sizes();
        QVERIFY2(qAbs(sizes[0] * 4 - sizes[1] * 4 / 3) < 40, qPrintable(QStringLiteral("%1 %2").arg(sizes[0]).arg(sizes[1])));
        Frame()->Command(Cmd::ViewFilesCount)->trigger();
    }

    void restoredFolderAndAutoStart()
    {
        m_store.SetLastFolderSelected(m_tree + QStringLiteral("/gone"));
        Launch();
        QCOMPARE(Frame()->SelectedFolder(), QString());
        QString stored = QStringLiteral("x");
        m_store.GetLastFolderSelected(stored);
        QCOMPARE(stored, QString());
        QCOMPARE(Frame()->FolderPane()->text(),
                 QStringLiteral("Please Select a Folder from the Folder List to Search Duplicate Files"));
        m_app.reset();

        m_store.SetLastFolderSelected(m_tree);
        m_store.WriteInt(QStringLiteral("AutoListLastFolderAtStartup"), 1);
        CBoxAnswerer no(QMessageBox::No);
        Launch();
        QCOMPARE(Frame()->FolderPane()->text(), m_tree);
        QTRY_VERIFY(no.texts.size() == 1 && !View()->IsListing());
        QVERIFY(Cell(0, 1).startsWith(QStringLiteral("File Listing for Folder %1,").arg(m_tree)));
        QTRY_COMPARE(Frame()->InfoBar()->Text().left(24), QStringLiteral("File Listing Started At "));
    }
};

SORVANE_WIDGET_TEST_MAIN(TestMainFrame)
#include "tst_mainframe.moc"

#include "WidgetTestSupport.h"

#include "AppLook.h"
#include "ColorListCtrl.h"
#include "DlgDuplicateResults.h"
#include "CommandIds.h"
#include "DlgSplash.h"
#include "ExportWriter.h"
#include "FolderTree.h"
#include "LinkOps.h"
#include "MainFrame.h"
#include "OutlookBar.h"
#include "RecordingShell.h"
#include "PathArray.h"
#include "RibbonBar.h"
#include "SorvaneApp.h"
#include "SorvaneView.h"
#include "TrashBatch.h"

#include <QDir>
#include <QFont>
#include <QHeaderView>
#include <QScreen>
#include <QLabel>
#include <QMenu>
#include <QProgressDialog>
#include <QPushButton>
#include <QStatusBar>
#include <QToolButton>

#include <cmath>
#include <csignal>
#include <sys/resource.h>

using TestSupport::CBoxAnswerer;

class TestShell : public QObject {
    Q_OBJECT

    std::unique_ptr<CSorvaneApp> m_app;
    CRecordingShell m_fake;
    COptionsStore m_store;

    CMainFrame* Frame() { return m_app->MainFrame(); }
    void Launch()
    {
        m_app = std::make_unique<CSorvaneApp>();
        QVERIFY(m_app->InitInstance({}));
    }
    static QByteArray Utf16(const QString& s)
    {
        QByteArray out;
        for (QChar c : s)
            out.append(char(c.unicode() & 0xFF)).append(char(c.unicode() >> 8));
        return out;
    }
    QByteArray ExportedBytes()
    {
        const QByteArray before = m_fake.calls.isEmpty() ? QByteArray() : m_fake.calls.last();
        Frame()->Command(Cmd::ExportFileList)->trigger();
        if (m_fake.calls.isEmpty() || m_fake.calls.last() == before || !m_fake.calls.last().startsWith("text "))
            return "no export";
        QFile file(QFile::decodeName(m_fake.calls.last().mid(5)));
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("unreadable");
    }

private slots:
    void init() { SetShell(&m_fake); m_fake.calls.clear(); }
    void cleanup()
    {
        m_app.reset();
        SetShell(nullptr);
        QFile::remove(TestSupport::TempRoot() + QStringLiteral("/xdg_config_home/Trellane/Sorvane by Trellane.conf"));
    }

    // Enter at the question trashes only when nothing warns that every copy would go.
    void enterAtTheTrashQuestionIsSafe()
    {
        SetShell(nullptr);
        const QByteArray file = QFile::encodeName(TestSupport::TempRoot()) + "/last-copy";
        TestSupport::MakeFile(file, 3);
        QWidget parent;
        for (const bool warned : {true, false}) {
            CBoxAnswerer enter(QMessageBox::NoButton);
            enter.remaining = 1;
            const std::vector<QByteArray> moved = Shell().SendToRecycleBin(&parent, {file}, {}, QStringLiteral("All copies…"), warned);
            QCOMPARE(moved.size(), warned ? size_t(0) : size_t(1));
            QCOMPARE(QFile::exists(QFile::decodeName(file)), warned);
        }
        QVERIFY(TrashBatch::RestoreLast().outcomes.front().Restored());
    }

    // A large batch moves off the UI thread behind a progress dialog whose Stop ends it between items:
    // what moved is said, the rest stays, and Undo puts back exactly what moved.
    void trashBatchStopsHalfway()
    {
        SetShell(nullptr);
        const QByteArray dir = QFile::encodeName(TestSupport::TempRoot()) + "/batch";
        TestSupport::MakeDir(dir);
        std::vector<QByteArray> files;
        for (int i = 0; i < 20000; ++i) {
            files.push_back(dir + "/f" + QByteArray::number(i));
            TestSupport::MakeFile(files.back(), 1);
        }
        QWidget parent;
        CBoxAnswerer answers(QMessageBox::Yes);  // the question, then the report of the stop
        QTimer stopper;
        bool sawProgress = false;
        connect(&stopper, &QTimer::timeout, this, [&] {
            // Stop once the batch is moving files, as a user would press it.
            auto* progress = parent.findChild<QProgressDialog*>();
            if (progress && !sawProgress && !QFile::exists(QFile::decodeName(files[200]))) {
                sawProgress = true;
                progress->findChild<QPushButton*>()->click();
            }
        });
        stopper.start(5);
        const std::vector<QByteArray> moved = Shell().SendToRecycleBin(&parent, files, {}, {}, false);
        QVERIFY(sawProgress);
        QVERIFY2(moved.size() > 0 && moved.size() < files.size(), QByteArray::number(qulonglong(moved.size())).constData());
        QVERIFY2(answers.texts.value(1).contains(QStringLiteral("stopped")), qPrintable(answers.texts.value(1)));
        size_t left = 0;
        for (const QByteArray& f : files)
            left += QFile::exists(QFile::decodeName(f)) ? 1 : 0;
        QCOMPARE(left, files.size() - moved.size());
        const TrashBatch::CRestoreResult result = TrashBatch::RestoreLast();
        QCOMPARE(result.outcomes.size(), moved.size());
        for (const QByteArray& f : files)
            QVERIFY(QFile::exists(QFile::decodeName(f)));
    }

    // With no handler, an open says what failed and what was tried; a settings
    // write that cannot reach the file shows in the status bar.
    void failuresAreReported()
    {
        Launch();
        m_fake.opens = false;
        {
            CBoxAnswerer ok(QMessageBox::Ok);
            Frame()->Command(Cmd::OpenRecycleBin)->trigger();
            QTRY_COMPARE(ok.texts.size(), 1);
            QCOMPARE(ok.texts[0], QStringLiteral("The trash could not be opened."));
        }
        m_fake.opens = true;

        const QString folder = TestSupport::TempRoot() + QStringLiteral("/xdg_config_home/Trellane");
        QVERIFY(QDir(folder).removeRecursively());
        QFile blocker(folder);  // a file where the settings folder belongs
        QVERIFY(blocker.open(QIODevice::WriteOnly));
        blocker.close();
        Frame()->Command(Cmd::IgnoreHiddenFiles)->trigger();
        QTRY_VERIFY(Frame()->statusBar()->currentMessage().contains(QStringLiteral("IgnoreHiddenFiles could not be saved")));
        // The information bar shows what happened, though it cannot be stored.
        Frame()->SelectFolder(TestSupport::TempRoot());
        QVERIFY2(Frame()->InfoBar()->Text().startsWith(QStringLiteral("Press the Start Button")), qPrintable(Frame()->InfoBar()->Text()));
        QTRY_VERIFY(Frame()->statusBar()->currentMessage().contains(QStringLiteral("could not be saved")));
        QVERIFY(QFile::remove(folder));
    }

    // On a 1024×768 screen both windows fit as first shown and can be made that small; a short window
    // keeps the information bar whole.
    void windowsFitASmallScreen()
    {
        Launch();
        Frame()->show();
        const QRect screen = Frame()->screen()->availableGeometry();
        QVERIFY2(Frame()->width() <= screen.width() && Frame()->height() <= screen.height(),
                 qPrintable(QStringLiteral("%1x%2 on %3x%4").arg(Frame()->width()).arg(Frame()->height())
                                .arg(screen.width()).arg(screen.height())));
        QVERIFY(Frame()->minimumSize().width() <= 1024 && Frame()->minimumSize().height() <= 768);
        Frame()->resize(1000, 420);
        QApplication::processEvents();
        QWidget* info = Frame()->findChild<QWidget*>(QStringLiteral("infoBar"));
        QVERIFY2(info->height() >= info->sizeHint().height(), qPrintable(QString::number(info->height())));

        CDlgDuplicateResults results(CFillInput{[] { return 0; }, [](int) { return std::string_view(); }}, Frame());
        QVERIFY2(results.minimumSizeHint().width() <= 1024, qPrintable(QString::number(results.minimumSizeHint().width())));
        QVERIFY(results.width() <= screen.width() && results.height() <= screen.height());
        QVERIFY(results.ResultsList()->horizontalHeader()->stretchLastSection());
    }

    // However narrow the window, every ribbon command stays reachable with its whole name.
    void narrowWindowsFoldPanels()
    {
        Launch();
        Frame()->show();
        CRibbonBar* ribbon = Frame()->Ribbon();
        for (int width : {1600, 1000, 760, 400}) {
            Frame()->resize(width, 600);
            QApplication::processEvents();
            QVERIFY(Frame()->width() >= 720);  // a sensible minimum
            QList<QAction*> inMenus;
            int folded = 0;
            for (const QString& label : ribbon->PanelLabels()) {
                QToolButton* button = ribbon->FoldedPanel(label);
                if (button->isVisible()) {
                    ++folded;
                    QVERIFY(button->width() >= button->sizeHint().width());
                    inMenus += button->menu()->actions();
                }
            }
            for (QAction* action : Frame()->findChildren<QAction*>()) {
                QWidget* element = ribbon->ElementFor(action->data().toInt());
                if (!element)
                    continue;
                const QString where = QStringLiteral("%1 at %2 px").arg(action->text()).arg(width);
                QVERIFY2(element->isVisible() || inMenus.contains(action), qPrintable(where));
                QVERIFY2(!element->isVisible() || element->width() >= element->sizeHint().width(), qPrintable(where));
            }
            QCOMPARE(folded > 0, width <= 1000);
        }
    }

    // Tabbing into the folder tree chooses nothing: only the user's choice is stored.
    void focusAloneSelectsNoFolder()
    {
        Launch();
        Frame()->show();
        Frame()->FolderTree()->setFocus(Qt::TabFocusReason);
        QApplication::processEvents();
        QTest::qWait(50);
        QCOMPARE(Frame()->SelectedFolder(), QString());
        QString stored = QStringLiteral("x");
        m_store.GetLastFolderSelected(stored);
        QCOMPARE(stored, QString());
    }

    // The tree shows a protected folder, and those below it, in italics with a tooltip saying so, and
    // follows each change made by Protect This Folder in either window.
    void treeMarksProtectedFolders()
    {
        const QByteArray dir = QFile::encodeName(TestSupport::TempRoot()) + "/guarded";
        TestSupport::MakeDir(dir);
        TestSupport::MakeDir(dir + "/inner");
        CProtectedFolders folders;
        folders.Toggle(dir.toStdString());
        QVERIFY(LinkOps::WriteProtected(folders));
        CFolderTree tree;
        QVERIFY(tree.SelectPath(QFile::decodeName(dir + "/inner")));
        const QModelIndex inner = tree.currentIndex(), guarded = inner.parent(), above = guarded.parent();
        const auto italic = [](const QModelIndex& index) { return index.data(Qt::FontRole).value<QFont>().italic(); };
        QVERIFY(italic(guarded) && italic(inner) && !italic(above));
        QVERIFY2(guarded.data(Qt::ToolTipRole).toString().endsWith(QStringLiteral("\nProtected: a protected folder. The helpers never "
                                                                                 "check it, and trashing or linking it asks first.")),
                 qPrintable(guarded.data(Qt::ToolTipRole).toString()));
        QVERIFY(LinkOps::WriteProtected({}));
        QVERIFY(!italic(guarded) && !italic(inner));
        QVERIFY(LinkOps::WriteProtected(folders));
        QVERIFY(italic(guarded));
        QVERIFY(LinkOps::WriteProtected({}));
    }

    void launchersUseTheSelectedFolderElseDocuments()
    {
        const QString documents = TestSupport::TempRoot() + QStringLiteral("/Documents");
        QDir().mkpath(documents);
        Launch();
        Frame()->Command(Cmd::OpenExplorer)->trigger();
        Frame()->Command(Cmd::OpenRecycleBin)->trigger();
        const QString odd = TestSupport::TempRoot() + QStringLiteral("/it's a $(folder) \"x\"");
        QDir().mkpath(odd);
        QVERIFY(Frame()->FolderTree()->SelectPath(odd));
        QTRY_COMPARE(Frame()->SelectedFolder(), odd);
        Frame()->Command(Cmd::OpenTerminal)->trigger();
        QCOMPARE(m_fake.calls, QByteArrayList({"open " + QFile::encodeName(documents), "open trash",
                                               "terminal " + QFile::encodeName(odd)}));
        m_fake.terminalStarts = false;
        CBoxAnswerer ok(QMessageBox::Ok);
        Frame()->Command(Cmd::OpenTerminal)->trigger();
        QCOMPARE(ok.texts.size(), 1);
        QVERIFY(ok.texts[0].contains(QStringLiteral("Tried: x-terminal-emulator, xterm")));
        m_fake.terminalStarts = true;
        // The desktop's terminal list starts with $TERMINAL, split without a shell.
        qputenv("TERMINAL", "my-term --flag");
        QCOMPARE(TerminalCandidates().first(), QByteArrayList({"my-term", "--flag"}));
        qunsetenv("TERMINAL");
        QCOMPARE(DesktopExecArguments("gedit --new-window %U", "/tmp/a b"),
                 QByteArrayList({"gedit", "--new-window", "file:///tmp/a%20b"}));
        QCOMPARE(DesktopExecArguments("\"/opt/my editor/ed\" %f %i", "/t"), QByteArrayList({"/opt/my editor/ed", "/t"}));
    }

    // Save File List As: UTF-8 lines that read back as the exact bytes, or CSV with each file's size and time;
    // a target that cannot be written stays as it was.
    void savedListsAsTextAndCsv()
    {
        const QByteArray dir = QFile::encodeName(TestSupport::TempRoot()) + "/saved";
        TestSupport::MakeDir(dir);
        const QByteArrayList paths = {dir + "/plain", dir + "/odd\xff", dir + "/a,\"quoted\"\nname"};
        for (const QByteArray& p : paths)
            TestSupport::MakeFile(p, 7);
        const auto at = [&](int i) { return std::string_view(paths[i].constData(), size_t(paths[i].size())); };
        QString error;
        const QString text = TestSupport::TempRoot() + QStringLiteral("/list.txt");
        QVERIFY2(SaveFileList(text, int(paths.size()), at, EListFormat::Text, &error), qPrintable(error));
        QFile file(text);
        QVERIFY(file.open(QIODevice::ReadOnly));
        const QByteArrayList lines = file.readAll().split('\n');
        file.close();
        QCOMPARE(lines.size(), paths.size() + 1);
        for (int i = 0; i < paths.size(); ++i) {
            QVERIFY(QString::fromUtf8(lines[i]).toUtf8() == lines[i]);  // valid UTF-8
            QCOMPARE(UnescapePath(QString::fromUtf8(lines[i])), paths[i]);
        }

        const QString csv = TestSupport::TempRoot() + QStringLiteral("/list.csv");
        QVERIFY2(SaveFileList(csv, int(paths.size()), at, EListFormat::Csv, &error), qPrintable(error));
        file.setFileName(csv);
        QVERIFY(file.open(QIODevice::ReadOnly));
        const QByteArray bytes = file.readAll();
        file.close();
        QVERIFY(bytes.startsWith("path,size,modified\n" + dir + "/plain,7,"));
        QVERIFY2(bytes.contains("\"" + dir + "/a,\"\"quoted\"\"\\nname\",7,"), bytes.constData());

        QVERIFY(!SaveFileList(TestSupport::TempRoot() + QStringLiteral("/no/such/folder/list.txt"), 1, at, EListFormat::Text,
                              &error));
        QVERIFY(!error.isEmpty());
    }

    void exportWritesUtf16LinesToANewFile()
    {
        Launch();
        CSorvaneView* view = Frame()->View();
        QCOMPARE(ExportedBytes(), QByteArray());  // nothing listed: an empty file
        const QByteArray first = m_fake.calls.last();
        QVERIFY(QFileInfo(QFile::decodeName(first.mid(5))).fileName().contains(QRegularExpression(QStringLiteral("^Sor[0-9A-F]+\\.TMP$"))));

        view->m_arrFiles.Add("/rootfile");
        view->m_arrFiles.Add("/data/a b\xff.txt");
        QCOMPARE(ExportedBytes(), Utf16(QStringLiteral("/rootfile\r\n/data/a b\\xFF.txt")));

        // Every name reads back as its exact bytes, one line per path.
        const QByteArrayList odd = {"/new\nline", "/tab\there", "/back\\slash\\xFF", "/\xc3\xa9t\xc3\xa9 \xc2\x85 \x7f",
                                    "/cut\xe2\x82"};
        for (const QByteArray& p : odd)
            view->m_arrFiles.Add(std::string_view(p.constData(), size_t(p.size())));
        const QByteArray bytes = ExportedBytes();
        const QStringList lines = QString::fromUtf16(reinterpret_cast<const char16_t*>(bytes.constData()), bytes.size() / 2)
                                      .split(QStringLiteral("\r\n"));
        QCOMPARE(lines.size(), 2 + odd.size());
        for (int i = 0; i < odd.size(); ++i)
            QCOMPARE(UnescapePath(lines[2 + i]), odd[i]);
        QCOMPARE(lines[2], QStringLiteral("/new\\nline"));
        QVERIFY(m_fake.calls.last() != first);  // a new file each time
        QVERIFY(QFile::exists(QFile::decodeName(first.mid(5))));

        // A write that fails (here the file-size limit stands in for a full disk)
        // is reported and leaves no file behind.
        for (int i = 0; i < 200; ++i)
            view->m_arrFiles.Add("/some/long/enough/path/to/a/file/number/" + std::to_string(i));
        const int filesBefore = int(QDir(TestSupport::TempRoot()).entryList({QStringLiteral("Sor*.TMP")}).size());
        struct rlimit old;
        getrlimit(RLIMIT_FSIZE, &old);
        struct rlimit small = old;
        small.rlim_cur = 4096;
        m_app->CloseOnTerminationSignals();  // the program's own signal set-up, nothing of the test's
        setrlimit(RLIMIT_FSIZE, &small);
        CBoxAnswerer ok(QMessageBox::Ok);
        const int callsBefore = int(m_fake.calls.size());
        Frame()->Command(Cmd::ExportFileList)->trigger();
        setrlimit(RLIMIT_FSIZE, &old);
        QCOMPARE(int(m_fake.calls.size()), callsBefore);
        QCOMPARE(ok.texts.size(), 1);
        QVERIFY2(ok.texts[0].startsWith(QStringLiteral("The list of files could not be written")), qPrintable(ok.texts[0]));
        QCOMPARE(int(QDir(TestSupport::TempRoot()).entryList({QStringLiteral("Sor*.TMP")}).size()), filesBefore);
    }

    void looksStepAndMarkTheCurrentOne()
    {
        Launch();
        QCOMPARE(Frame()->CurrentLook(), 215u);
        QVERIFY(Frame()->Command(215)->isChecked());
        QList<unsigned> seen;
        for (int i = 0; i < 4; ++i) {
            QTest::mouseClick(Frame()->Ribbon()->ApplicationButton(), Qt::LeftButton);
            QTRY_VERIFY(seen.size() == i && Frame()->CurrentLook() != (i ? seen.last() : 215u));
            seen << Frame()->CurrentLook();
            QCOMPARE(AppLook::Stored(), seen.last());
        }
        QCOMPARE(seen, QList<unsigned>({216, 217, 218, 215}));

        // Every look has colours of its own.
        QSet<QRgb> windows;
        for (int id = 210; id <= 218; ++id) {
            Frame()->Command(id)->trigger();
            QVERIFY(Frame()->Command(id)->isChecked());
            windows << QApplication::palette().color(QPalette::Window).rgb();
        }
        QCOMPARE(windows.size(), 9);

        // Every look keeps text readable: 4.5:1 or better against its background, group colours included.
        auto luminance = [](const QColor& c) {
            auto channel = [](double v) { return v <= 0.03928 ? v / 12.92 : std::pow((v + 0.055) / 1.055, 2.4); };
            return 0.2126 * channel(c.redF()) + 0.7152 * channel(c.greenF()) + 0.0722 * channel(c.blueF());
        };
        auto contrast = [&](const QColor& a, const QColor& b) {
            const double la = luminance(a), lb = luminance(b);
            return (std::max(la, lb) + 0.05) / (std::min(la, lb) + 0.05);
        };
        for (int id = 210; id <= 218; ++id) {
            Frame()->Command(id)->trigger();
            const QPalette p = QApplication::palette();
            const QList<QPair<QPalette::ColorRole, QPalette::ColorRole>> pairs = {
                {QPalette::Text, QPalette::Base}, {QPalette::WindowText, QPalette::Window},
                {QPalette::ButtonText, QPalette::Button}, {QPalette::HighlightedText, QPalette::Highlight},
                {QPalette::ToolTipText, QPalette::ToolTipBase}, {QPalette::Text, QPalette::AlternateBase}};
            for (const auto& [fg, bg] : pairs)
                QVERIFY2(contrast(p.color(fg), p.color(bg)) >= 4.5, qPrintable(QStringLiteral("look %1 roles %2/%3").arg(id).arg(fg).arg(bg)));
            for (int group : {0, 1})
                QVERIFY2(contrast(CColorListCtrl::GroupColor(group, p), p.color(QPalette::Base)) >= 4.5,
                         qPrintable(QStringLiteral("look %1 group colour %2").arg(id).arg(group)));
        }

        // What is drawn, not only the palette: panel captions 4.5:1 and command icons 3:1 against the
        // ribbon's own pixels.
        Frame()->show();
        for (int id = 210; id <= 218; ++id) {
            Frame()->Command(id)->trigger();
            QApplication::processEvents();
            auto strongest = [&](QWidget* w, const QRect& area) {
                const QImage image = w->grab().toImage();
                const QColor background = image.pixelColor(area.topLeft().isNull() ? QPoint(1, 1) : area.topLeft());
                double best = 1;
                for (int y = area.top(); y <= area.bottom(); ++y)
                    for (int x = area.left(); x <= area.right(); ++x)
                        best = std::max(best, contrast(image.pixelColor(x, y), background));
                return best;
            };
            for (QLabel* caption : Frame()->Ribbon()->findChildren<QLabel*>(QStringLiteral("caption"))) {
                if (!caption->isVisible())
                    continue;
                const double c = strongest(caption, caption->rect().adjusted(0, 0, -1, -1));
                QVERIFY2(c >= 4.5, qPrintable(QStringLiteral("look %1 caption %2: %3").arg(id).arg(caption->text()).arg(c)));
            }
            for (int command : {int(Cmd::StartListing), int(Cmd::StopListing), int(Cmd::ExportFileList)}) {
                auto* button = qobject_cast<QToolButton*>(Frame()->Ribbon()->ElementFor(command));
                if (!button || !button->isVisible())
                    continue;
                const QRect icon((button->width() - 32) / 2, 3, 32, 32);
                const double c = strongest(button, icon);
                QVERIFY2(c >= (button->isEnabled() ? 3.0 : 1.0),
                         qPrintable(QStringLiteral("look %1 icon of %2: %3").arg(id).arg(button->text()).arg(c)));
            }
        }

        // An unknown stored look stays as it is, in the default style, with no mark.
        m_app.reset();
        AppLook::Store(100);
        Launch();
        QCOMPARE(Frame()->CurrentLook(), 100u);
        for (int id = 210; id <= 218; ++id)
            QVERIFY(!Frame()->Command(id)->isChecked());
        QTest::mouseClick(Frame()->Ribbon()->ApplicationButton(), Qt::LeftButton);
        QTRY_COMPARE(AppLook::Stored(), 101u);
    }

    void splashAndAbout()
    {
        CDlgSplash splash;
        QCOMPARE(splash.geometry().center(), QGuiApplication::primaryScreen()->availableGeometry().center());
        QCOMPARE(splash.windowTitle(), QStringLiteral("Sorvane by Trellane Loading..."));
        Launch();
        QVERIFY(!m_app->Splash());  // taken down by the view's first set-up
        Frame()->Command(Cmd::FileNew)->trigger();  // a second set-up finds none
        QVERIFY(!m_app->Splash());

        for (int i = 0; i < 2; ++i) {
            QString text;
            QTimer::singleShot(0, [&text] {
                auto* about = qobject_cast<CAboutDlg*>(QApplication::activeModalWidget());
                if (!about)
                    return;
                for (QLabel* l : about->findChildren<QLabel*>())
                    text += l->text();
                about->accept();
            });
            Frame()->Command(Cmd::AppAbout)->trigger();
            QVERIFY2(text.startsWith(QStringLiteral("Sorvane, Version %1\n").arg(QLatin1String(SORVANE_VERSION))), qPrintable(text));
        }
    }
};

int main(int argc, char** argv)
{
    TestSupport::IsolateEnvironment();
    qputenv("TMPDIR", QFile::encodeName(TestSupport::TempRoot()));
    QApplication app(argc, argv);
    TestShell tc;
    return QTest::qExec(&tc, argc, argv);
}
#include "tst_shell.moc"

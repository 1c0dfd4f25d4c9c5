#include "MainFrame.h"

#include "AppLook.h"
#include "AppTexts.h"
#include "CommandIds.h"
#include "CompareFolderDlg.h"
#include "FiltersDlg.h"
#include "DlgSplash.h"
#include "FolderTree.h"
#include "OutlookBar.h"
#include "PathArray.h"
#include "RibbonBar.h"
#include "SorvaneDoc.h"
#include "SorvaneView.h"
#include "Texts.h"
#include "ShellOps.h"
#include "WaitCursor.h"

#include <QAction>
#include <QActionGroup>
#include <QApplication>
#include <QCloseEvent>
#include <QFile>
#include <QFileDialog>
#include <QDir>
#include <QFileInfo>
#include <QLabel>
#include <QMenu>
#include <QMessageBox>
#include <QPointer>
#include <QSettings>
#include <QStandardPaths>
#include <QScreen>
#include <QStatusBar>
#include <QStyle>
#include <QToolButton>
#include <QVBoxLayout>

#include <sys/stat.h>

namespace {

// The command states follow stored values that another window or process may
// change, so they are also refreshed on a slow timer.
constexpr int kUpdateIntervalMs = 500;

struct CToggle {
    int id;
    const char* label;
    const COptionDef* option;
};

const CToggle kFrameToggles[] = {
    {Cmd::IgnoreWindowsFolder, "Windows", &Opt::IgnoreWindowsFolder},
    {Cmd::IgnoreProgramsFolder, "Programs", &Opt::IgnoreProgramsFolder},
    {Cmd::IgnoreRecycleBinFolder, "Recycle Bin", &Opt::IgnoreRecycleBinFolder},
    {Cmd::IgnoreLocalAppDataFolder, "AppData", &Opt::IgnoreLocalAppDataFolder},
    {Cmd::IgnoreHiddenFolders, "Hidden", &Opt::IgnoreHiddenFolders},
    {Cmd::IgnoreHiddenFiles, "Hidden Files", &Opt::IgnoreHiddenFiles},
    {Cmd::IgnoreReadOnlyFiles, "Read Only Files", &Opt::IgnoreReadOnlyFiles},
    {Cmd::SearchSubFolders, "Search SubFolder(s)", &Opt::SearchSubFolders},
    {Cmd::DisplayFileList, "Display File List", &Opt::DisplayFileList},
    {Cmd::CompareContents, "Compare Contents", &Opt::CompareContents},
};


}  // namespace

CMainFrame::CMainFrame(CSorvaneDoc* doc, QWidget* parent)
    : QMainWindow(parent)
    , m_doc(doc)
{
    setObjectName(QStringLiteral("mainFrame"));
    setWindowTitle(Res::AppTitle());
    m_look = AppLook::Stored();
    ApplyLook(m_look);

    BuildCommands();
    auto* top = new QWidget(this);
    auto* topLayout = new QVBoxLayout(top);
    topLayout->setContentsMargins(0, 0, 0, 0);
    topLayout->setSpacing(0);
    m_ribbon = new CRibbonBar(top);
    topLayout->addWidget(m_ribbon);
    BuildRibbon();
    BuildStatusBar();
    // Every settings write that does not reach the file is told here, whoever made it.
    COptionsStore::SetWriteFailureHandler([frame = QPointer<CMainFrame>(this)](const QString& name) {
        QMetaObject::invokeMethod(qApp, [frame, name] {
            if (frame)
                frame->statusBar()->showMessage(
                    QStringLiteral("The setting %1 could not be saved to %2.").arg(name, AppSettingsFile().fileName()));
        });
    });

    m_outlookBar = new COutlookBar(this);
    m_folderTree = m_outlookBar->FolderTree();
    addDockWidget(Qt::LeftDockWidgetArea, m_outlookBar);
    connect(m_folderTree, &CFolderTree::FolderSelected, this, &CMainFrame::OnFolderSelected);

    m_infoBar = new CInfoBar(top);
    topLayout->addWidget(m_infoBar);
    setMenuWidget(top);

    m_view = new CSorvaneView([this] { return m_doc->SelectedFolder(); }, this);
    setCentralWidget(m_view);
    connect(m_view, &CSorvaneView::ListingStatusChanged, this, &CMainFrame::OnListingStatusChanged,
            Qt::QueuedConnection);
    connect(m_view, &CSorvaneView::CommandStateChanged, this, &CMainFrame::UpdateCommandUI);
    connect(m_view, &CSorvaneView::FolderTreeChanged, this, &CMainFrame::OnRefreshFolderTree, Qt::QueuedConnection);

    RestoreSelectedFolder();
    ShowSelectedFolder(m_selectedFolder);

    m_updateTimer.setInterval(kUpdateIntervalMs);
    connect(&m_updateTimer, &QTimer::timeout, this, &CMainFrame::UpdateCommandUI);
    m_updateTimer.start();
    UpdateCommandUI();
    // Small enough for a narrow screen, large enough that every panel keeps a label.
    setMinimumSize(720, 420);
    // The first size fits the screen, leaving room for the window's own frame.
    const QRect screenRect = screen() ? screen()->availableGeometry() : QRect(0, 0, 1280, 800);
    resize(QSize(1280, 800).boundedTo(screenRect.size() - QSize(24, 64)).expandedTo(minimumSize()));
    restoreGeometry(m_options.ReadBytes(QLatin1String(Opt::WindowGeometry)));
    restoreState(m_options.ReadBytes(QLatin1String(Opt::WindowState)));
}

void CMainFrame::SaveWindowState()
{
    m_options.WriteBytes(QLatin1String(Opt::WindowGeometry), saveGeometry());
    m_options.WriteBytes(QLatin1String(Opt::WindowState), saveState());
}

CMainFrame::~CMainFrame()
{
    COptionsStore::SetWriteFailureHandler({});
}

QAction* CMainFrame::AddCommand(int id, const QString& text, bool checkable)
{
    auto* action = new QAction(text, this);
    action->setData(id);
    action->setCheckable(checkable);
    const QString tip = CommandToolTip(id);
    if (!tip.isEmpty())
        action->setToolTip(tip);
    addAction(action);
    m_actions.insert(id, action);
    // Any command may change what the others show.
    connect(action, &QAction::triggered, this, &CMainFrame::UpdateCommandUI, Qt::QueuedConnection);
    return action;
}

void CMainFrame::BuildCommands()
{
    for (const CToggle& t : kFrameToggles) {
        const COptionDef* option = t.option;
        connect(AddCommand(t.id, QString::fromUtf8(t.label), true), &QAction::triggered, this,
                [this, option] { m_options.Toggle(*option); });
    }
    QAction* start = AddCommand(Cmd::StartListing, QStringLiteral("Start"));
    start->setShortcut(Qt::Key_F9);
    start->setShortcutContext(Qt::WindowShortcut);
    connect(start, &QAction::triggered, this, [this] { m_view->OnStartListing(); });
    connect(AddCommand(Cmd::StopListing, QStringLiteral("Stop")), &QAction::triggered, this,
            [this] { m_view->OnStopListing(); });
    connect(AddCommand(Cmd::AutoListLastFolder, QStringLiteral("Auto List Last Folder"), true), &QAction::triggered,
            this, [this] { m_view->OnAutoListToggle(); });
    connect(AddCommand(Cmd::ViewFilesCount, QStringLiteral("Files Count"), true), &QAction::triggered, this,
            [this] { m_view->OnViewFilesCount(); });
    connect(AddCommand(Cmd::ViewStatusBar, QStringLiteral("Status Bar"), true), &QAction::triggered, this,
            [this] { statusBar()->setHidden(!statusBar()->isHidden()); });
    connect(AddCommand(Cmd::ToggleInfoBar, QStringLiteral("Caption Bar"), true), &QAction::triggered, this,
            [this] { m_infoBar->setHidden(!m_infoBar->isHidden()); });

    connect(AddCommand(Cmd::OpenExplorer, QStringLiteral("Explorer")), &QAction::triggered, this,
            [this] {
                QStringList tried;
                if (!Shell().OpenInShell(QFile::encodeName(LauncherFolder()), &tried))
                    ReportNotOpened(this, LauncherFolder(), tried);
            });
    connect(AddCommand(Cmd::OpenTerminal, QStringLiteral("Command Prompt")), &QAction::triggered, this,
            &CMainFrame::OnOpenTerminal);
    connect(AddCommand(Cmd::OpenRecycleBin, QStringLiteral("Recycle Bin")), &QAction::triggered, this,
            [this] {
                QStringList tried;
                if (!Shell().OpenTrash(&tried))
                    ReportNotOpened(this, QStringLiteral("The trash"), tried);
            });
    QAction* restore = AddCommand(Cmd::RestoreLastTrashed, QString::fromUtf8(MenuText(Cmd::RestoreLastTrashed).text));
    restore->setShortcut(QKeySequence::Undo);
    restore->setShortcutContext(Qt::WindowShortcut);
    connect(restore, &QAction::triggered, this, [this] {
        if (!m_view->IsListing() && RestoreLastTrashed(this))
            OnRefreshFolderTree();  // listed rows come back with the next listing
    });
    connect(AddCommand(Cmd::ExportFileList, QStringLiteral("Export File List")), &QAction::triggered, this,
            [this] { m_view->OnExportFileList(); });
    QAction* saveList = AddCommand(Cmd::SaveFileListAs, QStringLiteral("Save File List As…"));
    saveList->setShortcut(QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_E));
    connect(saveList, &QAction::triggered, this, [this] { m_view->OnSaveFileListAs(); });
    connect(AddCommand(Cmd::DuplicatesBySize, QStringLiteral("File Size")), &QAction::triggered, this,
            [this] { m_view->OnDuplicateSearch(); });
    connect(AddCommand(Cmd::DuplicateFolders, QStringLiteral("Folders")), &QAction::triggered, this,
            [this] { m_view->OnDuplicateFolderSearch(); });
    connect(AddCommand(Cmd::FileFilters, QStringLiteral("Filters…")), &QAction::triggered, this, [this] {
        CFiltersDlg filters(this);
        filters.exec();
    });
    connect(AddCommand(Cmd::CompareWithFolder, QStringLiteral("Compare With Folder…")), &QAction::triggered, this, [this] {
        CCompareFolderDlg compare(this);
        compare.exec();
    });

    // One radio mark among the looks, or none for a look the menus do not know.
    auto* looks = new QActionGroup(this);
    looks->setExclusionPolicy(QActionGroup::ExclusionPolicy::ExclusiveOptional);
    for (unsigned id = Cmd::LookFirst; id <= unsigned(Cmd::LookLast); ++id) {
        QAction* look = AddCommand(int(id), AppLook::MenuText(id), true);
        looks->addAction(look);
        connect(look, &QAction::triggered, this, [this, id] { ApplyLook(id); });
    }

    BuildDocumentCommands();
}

// The document's commands of the application menu, the About box and print entries kept disabled.
void CMainFrame::BuildDocumentCommands()
{
    connect(AddCommand(Cmd::FileNew, QStringLiteral("&New")), &QAction::triggered, this, &CMainFrame::OnFileNew);
    connect(AddCommand(Cmd::FileOpen, QStringLiteral("&Open...")), &QAction::triggered, this, &CMainFrame::OnFileOpen);
    connect(AddCommand(Cmd::FileSave, QStringLiteral("&Save")), &QAction::triggered, this, &CMainFrame::OnFileSave);
    connect(AddCommand(Cmd::FileSaveAs, QStringLiteral("Save &As...")), &QAction::triggered, this,
            &CMainFrame::OnFileSaveAs);
    connect(AddCommand(Cmd::FileClose, QStringLiteral("&Close")), &QAction::triggered, this, &CMainFrame::OnFileNew);
    connect(AddCommand(Cmd::AppExit, QStringLiteral("E&xit")), &QAction::triggered, this, &QWidget::close);
    connect(AddCommand(Cmd::AppAbout, QStringLiteral("About")), &QAction::triggered, this, [this] {
        CAboutDlg about(this);
        about.exec();
    });
    for (int id : {int(Cmd::FilePrint), int(Cmd::FilePrintDirect), int(Cmd::FilePrintPreview), int(Cmd::FilePrintSetup)})
        AddCommand(id, QString())->setEnabled(false);
    m_actions[Cmd::FilePrint]->setText(QStringLiteral("Print"));
    m_actions[Cmd::FilePrintDirect]->setText(QStringLiteral("&Quick Print"));
    m_actions[Cmd::FilePrintPreview]->setText(QStringLiteral("Print Pre&view"));
    m_actions[Cmd::FilePrintSetup]->setText(QStringLiteral("Print Set&up"));
    m_actions[Cmd::FileNew]->setShortcut(QKeySequence::New);
    m_actions[Cmd::FileOpen]->setShortcut(QKeySequence::Open);
    m_actions[Cmd::FileSave]->setShortcut(QKeySequence::Save);
    m_actions[Cmd::FileSaveAs]->setShortcut(QKeySequence::SaveAs);
    m_actions[Cmd::AppExit]->setShortcut(QKeySequence::Quit);
}

void CMainFrame::BuildRibbon()
{
    QStyle* st = style();
    connect(m_ribbon, &CRibbonBar::ApplicationButtonPressed, this, &CMainFrame::OnStepLook, Qt::QueuedConnection);
    BuildApplicationMenu();

    m_ribbon->AddCategory(QStringLiteral("&Home"));
    auto checks = [this](std::initializer_list<int> ids) {
        for (int id : ids)
            m_ribbon->AddCheckBox(m_actions[id]);
    };
    m_ribbon->AddPanel(QStringLiteral("Folders To Ignore"));
    checks({Cmd::IgnoreWindowsFolder, Cmd::IgnoreProgramsFolder, Cmd::IgnoreRecycleBinFolder,
            Cmd::IgnoreLocalAppDataFolder, Cmd::IgnoreHiddenFolders});
    m_ribbon->AddPanel(QStringLiteral("Files to Ignore"));
    checks({Cmd::IgnoreHiddenFiles, Cmd::IgnoreReadOnlyFiles});
    // Beside the other rules of what is left out, where it takes no column of its own.
    m_ribbon->AddSmallButton(m_actions[Cmd::FileFilters], st->standardIcon(QStyle::SP_FileDialogDetailedView));
    m_ribbon->AddPanel(QStringLiteral("File Listing"));
    m_ribbon->AddButton(m_actions[Cmd::StartListing], st->standardIcon(QStyle::SP_MediaPlay));
    m_ribbon->AddButton(m_actions[Cmd::StopListing], st->standardIcon(QStyle::SP_MediaStop));
    checks({Cmd::SearchSubFolders, Cmd::AutoListLastFolder, Cmd::DisplayFileList});
    m_ribbon->AddPanel(QStringLiteral("Launchers"));
    m_ribbon->AddButton(m_actions[Cmd::OpenExplorer], st->standardIcon(QStyle::SP_DirOpenIcon));
    m_ribbon->AddButton(m_actions[Cmd::OpenTerminal], st->standardIcon(QStyle::SP_ComputerIcon));
    m_ribbon->AddButton(m_actions[Cmd::OpenRecycleBin], st->standardIcon(QStyle::SP_TrashIcon));
    m_ribbon->AddButton(m_actions[Cmd::RestoreLastTrashed], st->standardIcon(QStyle::SP_ArrowBack));
    m_ribbon->AddPanel(QStringLiteral("Exporters"));
    m_ribbon->AddButton(m_actions[Cmd::ExportFileList], st->standardIcon(QStyle::SP_DialogSaveButton));
    m_ribbon->AddPanel(QStringLiteral("Duplicate File Search"));
    m_ribbon->AddButton(m_actions[Cmd::DuplicatesBySize], st->standardIcon(QStyle::SP_FileDialogContentsView));
    checks({Cmd::CompareContents});
    m_ribbon->AddSmallButton(m_actions[Cmd::DuplicateFolders], st->standardIcon(QStyle::SP_DirIcon));
    m_ribbon->AddSmallButton(m_actions[Cmd::CompareWithFolder], st->standardIcon(QStyle::SP_DirLinkIcon));
    m_ribbon->AddPanel(QStringLiteral("View"));
    checks({Cmd::ViewStatusBar, Cmd::ToggleInfoBar, Cmd::ViewFilesCount});

    auto* styleButton = new QToolButton(m_ribbon);
    styleButton->setObjectName(QStringLiteral("styleButton"));
    styleButton->setText(QStringLiteral("Style"));
    styleButton->setToolTip(QStringLiteral("<b>Modify Visual Style</b><br>Choose one of the Office 2007 themes"));
    styleButton->setPopupMode(QToolButton::InstantPopup);
    auto* styleMenu = new QMenu(styleButton);
    for (int id = Cmd::LookOffice2007Blue; id <= Cmd::LookLast; ++id)
        styleMenu->addAction(m_actions[id]);
    styleButton->setMenu(styleMenu);
    m_ribbon->AddTabRowButton(styleButton);

    auto* about = new QToolButton(m_ribbon);
    about->setObjectName(QStringLiteral("aboutButton"));
    about->setDefaultAction(m_actions[Cmd::AppAbout]);
    about->setIcon(st->standardIcon(QStyle::SP_MessageBoxQuestion));
    about->setToolButtonStyle(Qt::ToolButtonIconOnly);
    about->setAccessibleName(QStringLiteral("About"));
    about->setAccessibleDescription(QStringLiteral("The version, where the settings and the Undo record are kept, the licence"));
    m_ribbon->AddTabRowButton(about);
}

void CMainFrame::BuildStatusBar()
{
    QStatusBar* bar = statusBar();
    bar->setObjectName(QStringLiteral("statusBar"));
    const QFontMetrics fm(bar->font());
    m_folderPane = new QLabel(QString::fromUtf8(Txt::FolderPaneInitial), bar);
    m_folderPane->setObjectName(QStringLiteral("folderPane"));
    m_folderPane->setTextFormat(Qt::PlainText);
    m_folderPane->setFixedWidth(fm.horizontalAdvance(QString(80, QLatin1Char('X'))));
    m_folderPane->setAccessibleName(QString::fromUtf8(Txt::FolderPaneLabel));
    bar->addWidget(m_folderPane);
    m_fileCountPane = new QLabel(QString::fromUtf8(Txt::CountPaneInitial), bar);
    m_fileCountPane->setObjectName(QStringLiteral("fileCountPane"));
    m_fileCountPane->setTextFormat(Qt::PlainText);
    m_fileCountPane->setFixedWidth(fm.horizontalAdvance(QString(33, QLatin1Char('X'))));
    m_fileCountPane->setAccessibleName(QString::fromUtf8(Txt::CountPaneLabel));
    m_fileCountPane->setToolTip(QString::fromUtf8(Txt::CountPaneLabel));
    bar->addPermanentWidget(m_fileCountPane);
}

void CMainFrame::RestoreSelectedFolder()
{
    m_options.GetLastFolderSelected(m_selectedFolder);
    // The tree's own notice of this selection is queued before anything the
    // view posts at start-up, so an auto-started listing sees the folder.
    if (!m_folderTree->SelectPath(m_selectedFolder)) {
        m_selectedFolder.clear();
        m_options.SetLastFolderSelected(QString());
    }
}

void CMainFrame::ShowSelectedFolder(const QString& path)
{
    if (path.isEmpty()) {
        m_folderPane->setText(QString::fromUtf8(Txt::FolderPaneNone));
        m_folderPane->setToolTip(QString::fromUtf8(Txt::FolderPaneNoneTip));
    } else {
        const QString shown = ShownPath(path);
        m_folderPane->setText(shown);
        m_folderPane->setToolTip(QString::fromUtf8(Txt::FolderPaneTip).arg(shown));
        m_folderPane->setAccessibleDescription(shown);
    }
}

void CMainFrame::ShowInfoText(const QString& text)
{
    // Shown as written, not read back: a settings file that cannot be written must not hide it.
    m_options.SetInfoBarText(text);
    m_infoBar->SetText(text);
}

void CMainFrame::OnFolderSelected()
{
    SelectFolder(m_folderTree->SelectedPath());
}

void CMainFrame::SelectFolder(const QString& path)
{
    if (path.isEmpty())
        return;
    struct stat st;
    if (stat(EncodeNativeExact(path).constData(), &st) != 0 || !S_ISDIR(st.st_mode))
        return;
    if (m_folderTree->SelectedPath() != path) {
        const QSignalBlocker quiet(m_folderTree->selectionModel());
        m_folderTree->SelectPath(path);
    }
    m_selectedFolder = path;
    m_options.SetLastFolderSelected(path);
    ShowSelectedFolder(path);
    m_doc->SetSelectedFolder(path);
    ShowInfoText(QString::fromUtf8(Txt::StartPrompt).arg(ShownPath(path)));
}

void CMainFrame::OnListingStatusChanged()
{
    m_infoBar->SetText(m_view->m_strStatus);
    m_fileCountPane->setText(m_view->GetListingStatus());
    m_fileCountPane->setAccessibleDescription(m_view->GetListingStatus());  // the name says what the pane is
}

void CMainFrame::OnStepLook()
{
    ApplyLook(AppLook::Next(m_look));
}

void CMainFrame::OnRefreshFolderTree()
{
    m_folderTree->Refresh();
}

void CMainFrame::ApplyLook(unsigned id)
{
    CWaitCursor wait;
    m_look = id;
    AppLook::ApplyStyle(id);
    AppLook::Store(id);
    UpdateCommandUI();
}

QString CMainFrame::LauncherFolder() const
{
    if (!m_selectedFolder.isEmpty())
        return m_selectedFolder;
    const QString documents = QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation);
    return !documents.isEmpty() && QFileInfo(documents).isDir() ? documents : QDir::homePath();
}

void CMainFrame::OnOpenTerminal()
{
    QStringList tried;
    if (!Shell().OpenTerminal(QFile::encodeName(LauncherFolder()), &tried))
        QMessageBox::information(this, Res::AppTitle(),
                                 QStringLiteral("No terminal could be started. Tried: %1. Set the TERMINAL "
                                                "environment variable to the terminal you use.")
                                     .arg(tried.join(QStringLiteral(", "))));
}

void CMainFrame::UpdateCommandUI()
{
    if (!m_view)
        return;
    for (const CToggle& t : kFrameToggles)
        m_actions[t.id]->setChecked(m_options.IsOn(*t.option));
    m_actions[Cmd::ViewFilesCount]->setChecked(m_options.IsOn(Opt::ViewFilesCount));
    m_actions[Cmd::AutoListLastFolder]->setChecked(m_options.IsOn(Opt::AutoListLastFolderAtStartup));
    m_actions[Cmd::StartListing]->setEnabled(!m_view->IsListing());
    m_actions[Cmd::StopListing]->setEnabled(m_view->CanStop());
    m_actions[Cmd::DuplicatesBySize]->setEnabled(!m_view->IsListing());
    m_actions[Cmd::DuplicateFolders]->setEnabled(!m_view->IsListing());
    m_actions[Cmd::FileFilters]->setEnabled(!m_view->IsListing());
    m_actions[Cmd::CompareWithFolder]->setEnabled(!m_view->IsListing());
    m_actions[Cmd::ExportFileList]->setEnabled(!m_view->IsListing());
    m_actions[Cmd::SaveFileListAs]->setEnabled(!m_view->IsListing());
    m_actions[Cmd::RestoreLastTrashed]->setEnabled(!m_view->IsListing());
    m_actions[Cmd::ViewStatusBar]->setChecked(!statusBar()->isHidden());
    m_actions[Cmd::ToggleInfoBar]->setChecked(!m_infoBar->isHidden());
    for (int id = Cmd::LookFirst; id <= Cmd::LookLast; ++id)
        m_actions[id]->setChecked(unsigned(id) == m_look);
}

void CMainFrame::closeEvent(QCloseEvent* event)
{
    // A running walk stops and its thread is joined before the window goes.
    m_updateTimer.stop();
    m_view->StopAndJoin();
    m_view->SaveColumnWidths();
    SaveWindowState();
    QMainWindow::closeEvent(event);
}

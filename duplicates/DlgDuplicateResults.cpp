#include "DlgDuplicateResults.h"

#include "LinkOps.h"
#include "ListingStatus.h"

#include "AppTexts.h"
#include "ColorListCtrl.h"
#include "ContentCheck.h"
#include "CommandIds.h"
#include "FileOpening.h"
#include "OptionsStore.h"
#include "ReferenceGroups.h"
#include "ReportList.h"
#include "ResultsModel.h"
#include "Search.h"
#include "ShareProbe.h"
#include "ShellOps.h"
#include "SpaceMap.h"
#include "Texts.h"
#include "UniqueFd.h"
#include "WaitCursor.h"

#include <QApplication>
#include <QHBoxLayout>
#include <QLabel>
#include <QLocale>
#include <QProgressBar>
#include <QKeyEvent>
#include <QPushButton>
#include <QScreen>
#include <QSplitter>
#include <QStatusBar>
#include <QToolBar>
#include <QToolButton>
#include <QHeaderView>
#include <QMenu>
#include <QMessageBox>
#include <QVBoxLayout>

#include <map>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#ifdef __GLIBC__
#include <malloc.h>
#endif

namespace {

const char kCaution[] =
    "This Window Displays Possibly Duplicate Files Grouped by File Size.\n\nFiles of Same Size Might be Duplicate or "
    "Different.\n\nHave a Close Look before Deleting Any File(s).\n\nRight Click to View Available Commands.\n\nIn "
    "case the List of Files is Scrolling, Please Wait untill it Stops Scrolling.";
// With Compare Contents the groups are exact, and the caution says so.
const char kCautionFolders[] =
    "This Window Displays Groups of Copied Folders: the same names all the way down, and every file compared byte "
    "for byte. A folder inside a copy is not listed again.\n\nHave a Close Look before Deleting Any Folder(s).\n\n"
    "Right Click to View Available Commands.";

const char kCautionContents[] =
    "This Window Displays Groups of Identical Files: every byte of the files in a group was compared.\n\nHave a "
    "Close Look before Deleting Any File(s).\n\nRight Click to View Available Commands.";

using SelectionRules::ELink;

// Each file system is asked once whether it can share blocks. Files on one that can are asked which
// of their blocks are shared, so copies linked before count as one; on one that cannot, a copy with
// names outside the list is one a hard link cannot free.
CDlgDuplicateResults::CSpaceFacts SpaceFacts(const std::vector<CResultRow>& rows, bool links, bool files,
                                            const std::atomic<bool>& stop)
{
    CDlgDuplicateResults::CSpaceFacts facts;
    if (!links) {
        facts.sameAs = SelectionRules::SameFiles(rows);
        return facts;
    }
    std::map<uint64_t, bool> canShare;
    facts.links.assign(rows.size(), ELink::kShare);
    std::vector<uint64_t> shared(files ? rows.size() : 0, 0);
    std::vector<nlink_t> names(files ? rows.size() : 0, 0);
    for (size_t i = 0; i < rows.size() && !stop.load(std::memory_order_relaxed); ++i) {
        const CResultRow& r = rows[i];
        if (!r.opened)
            continue;
        auto [device, added] = canShare.emplace(r.dev, true);
        if (added)
            device->second = Link::CanShareBlocks(files ? r.FolderWithSlash() : r.Path());
        facts.links[i] = device->second ? ELink::kShare : ELink::kHard;
        if (!files)
            continue;
        struct stat st {};
        if (device->second) {
            CFd fd(OpenListedFile(r.Path(), kReadListedFlags));
            if (fd.fd >= 0 && fstat(fd.fd, &st) == 0 && uint64_t(st.st_dev) == r.dev && uint64_t(st.st_ino) == r.ino)
                shared[i] = Link::SharedExtentsKey(fd.fd);
        } else if (lstat(r.path, &st) == 0 && uint64_t(st.st_dev) == r.dev && uint64_t(st.st_ino) == r.ino) {
            names[i] = st.st_nlink;
        }
    }
    facts.sameAs = SelectionRules::SameFiles(rows, shared);
    if (files) {
        // Names of one file are neighbours in one group: a file with more names than rows is held.
        const std::vector<int32_t> sameFile = SelectionRules::SameFiles(rows);
        std::vector<uint32_t> listed(rows.size(), 0);
        for (size_t i = 0; i < rows.size(); ++i)
            ++listed[sameFile[i] >= 0 ? size_t(sameFile[i]) : i];
        for (size_t i = 0; i < rows.size(); ++i) {
            const size_t first = sameFile[i] >= 0 ? size_t(sameFile[i]) : i;
            if (facts.links[i] == ELink::kHard && names[i] > listed[first])
                facts.links[i] = ELink::kHardHeld;
        }
    }
    return facts;
}


// The walk's files into an array the window keeps, counted for the progress shown meanwhile.
class CArraySink : public CWalkSink {
public:
    CArraySink(CPathArray& files, std::atomic<int>& count) : m_files(files), m_count(count) {}
    void OnFileFound(const CFileFind& finder) override
    {
        m_files.Add(finder.FilePath());
        m_count.store(m_files.GetSize(), std::memory_order_relaxed);
    }

private:
    CPathArray& m_files;
    std::atomic<int>& m_count;
};

QString Shown(const QByteArray& path)
{
    return EscapePath(std::string_view(path.constData(), size_t(path.size())));
}

// The folder with links and dots resolved, or empty with errno set.
std::string RealPath(const QByteArray& path)
{
    char* real = realpath(path.constData(), nullptr);
    std::string resolved = real ? real : "";
    std::free(real);
    return resolved;
}

}  // namespace

CDlgDuplicateResults::CDlgDuplicateResults(CFillInput input, QWidget* parent, std::shared_ptr<const FolderGroups::CTree> folders,
                                           CCompareWith compare)
    : QDialog(parent)
    , m_input(std::move(input))
    , m_compare(std::move(compare))
    , m_folders(std::move(folders))
{
    setObjectName(QStringLiteral("duplicateResults"));
    PlanCompare();
    // Both folders named when the groups span them.
    if (m_compare.folder.isEmpty())
        setWindowTitle(QStringLiteral("Duplicate Search Results - %1").arg(Res::AppTitle()));
    else if (m_compare.listed.isEmpty())
        setWindowTitle(QStringLiteral("Duplicate Search Results with %1 - %2").arg(Shown(m_compare.folder), Res::AppTitle()));
    else
        setWindowTitle(QStringLiteral("Duplicate Search Results: %1 and %2 - %3")
                           .arg(Shown(m_compare.listed), Shown(m_compare.folder), Res::AppTitle()));
    setWindowIcon(QApplication::windowIcon());
    setWindowFlag(Qt::WindowMaximizeButtonHint, true);
    setSizeGripEnabled(true);
    const QRect screenRect = screen() ? screen()->availableGeometry() : QRect(0, 0, 1024, 768);
    resize(QSize(1000, 460).boundedTo(screenRect.size() - QSize(24, 64)));

    BuildList();
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    auto* split = new QSplitter(this);
    split->setChildrenCollapsible(true);
    split->addWidget(m_list);
    layout->addWidget(split, 1);

    BuildProgressRow(layout);
    m_summary = new QLabel(this);
    m_summary->setObjectName(QStringLiteral("resultsSummary"));
    m_summary->setTextFormat(Qt::PlainText);
    m_summary->setContentsMargins(6, 2, 6, 4);
    m_summary->setWordWrap(true);
    BuildCommands();
    BuildSpaceMap(split);
    m_split = split;
    // The figures, with the trash and Undo beside them as a dialog's own buttons.
    auto* bottom = new QHBoxLayout;
    bottom->setContentsMargins(0, 0, 6, 0);
    bottom->addWidget(m_summary, 1);
    bottom->addWidget(m_actionsBar, 0, Qt::AlignBottom);
    layout->addLayout(bottom);
    // What is going on, or what the last action did.
    auto* status = new QStatusBar(this);
    status->setObjectName(QStringLiteral("resultsStatus"));
    status->setSizeGripEnabled(false);  // the window's own grip is in the corner
    m_status = new QLabel(status);
    m_status->setObjectName(QStringLiteral("resultsStatusText"));
    m_status->setTextFormat(Qt::PlainText);
    status->addWidget(m_status, 1);
    layout->addWidget(status);
    connect(m_model, &QAbstractItemModel::dataChanged, this, &CDlgDuplicateResults::UpdateSummary);
    connect(m_model, &QAbstractItemModel::modelReset, this, &CDlgDuplicateResults::UpdateSummary);
}

void CDlgDuplicateResults::BuildCommands()
{
    m_menu = new QMenu(this);
    auto add = [this](int id, auto slot) {
        QAction* a = m_menu->addAction(QString::fromUtf8(MenuText(id).text), this, slot);
        a->setData(id);
        if (MenuText(id).tip)
            a->setToolTip(QString::fromUtf8(MenuText(id).tip));
        return a;
    };
    add(Cmd::DisplayInExplorer, &CDlgDuplicateResults::OnDisplayInExplorer);
    m_menu->addSeparator();
    m_trashAction = add(Cmd::SendCheckedToRecycleBin, &CDlgDuplicateResults::OnSendToRecycleBin);
    m_trashAction->setToolTip(QStringLiteral("Move the checked files to the trash, after you confirm (Delete)"));
    m_linkAction = add(Cmd::ReplaceCheckedWithLinks, &CDlgDuplicateResults::OnReplaceWithLinks);
    QAction* restore = add(Cmd::RestoreLastTrashed, &CDlgDuplicateResults::OnRestoreLastTrashed);
    restore->setShortcut(QKeySequence::Undo);
    restore->setShortcutContext(Qt::WindowShortcut);
    addAction(restore);
    m_menu->addSeparator();
    add(Cmd::CheckAll, &CDlgDuplicateResults::OnCheckAll);
    add(Cmd::UnCheckAll, &CDlgDuplicateResults::OnUnCheckAll);
    m_menu->addSeparator();
    const QList<QAction*> helpers = {
        add(Cmd::CheckAllButNewest, [this] { OnCheckAllButNewest(); }),
        add(Cmd::CheckAllButOldest, [this] { OnCheckAllButOldest(); }),
        add(Cmd::CheckInThisFolder, [this] { OnCheckInFolderOf(m_rowUnderMenu); }),
        add(Cmd::CheckMatching, [this] { AskForWildcard(false); }),
        add(Cmd::InvertChecks, [this] { OnInvertChecks(); }),
    };
    QAction* protect = add(Cmd::ProtectFolder, [this] { OnProtectFolderOf(m_rowUnderMenu); });
    protect->setCheckable(true);
    // The same helpers limited to the groups of the selected rows, under names that say so.
    QMenu* selected = m_menu->addMenu(QStringLiteral("In the Selected Groups Only"));
    selected->setObjectName(QStringLiteral("selectedGroupsMenu"));
    selected->addAction(QStringLiteral("Check All But the Newest in the Selected Groups"), this, [this] { OnCheckAllButNewest(true); });
    selected->addAction(QStringLiteral("Check All But the Oldest in the Selected Groups"), this, [this] { OnCheckAllButOldest(true); });
    QAction* folderInSelected = selected->addAction(QStringLiteral("Check Files in This Folder in the Selected Groups"), this,
                                                    [this] { OnCheckInFolderOf(m_rowUnderMenu, true); });
    folderInSelected->setData(Cmd::CheckInThisFolder);
    selected->addAction(QStringLiteral("Check Files Matching… in the Selected Groups"), this, [this] { AskForWildcard(true); });
    selected->addAction(QStringLiteral("Invert Checks in the Selected Groups"), this, [this] { OnInvertChecks(true); });
    ConnectContextMenu();
    BuildToolBars(helpers, restore);
}

void CDlgDuplicateResults::BuildProgressRow(QVBoxLayout* layout)
{
    // The content check's progress and Stop, and the notice of what the groups are meanwhile.
    m_progressBar = new QProgressBar(this);
    m_progressBar->setObjectName(QStringLiteral("contentProgress"));
    m_progressBar->setRange(0, 1000);
    m_progressBar->setFormat(QStringLiteral("Comparing contents: %p%"));
    m_progressRow = new QWidget(this);
    auto* progressLayout = new QHBoxLayout(m_progressRow);
    progressLayout->setContentsMargins(6, 0, 6, 0);
    progressLayout->addWidget(m_progressBar, 1);
    auto* stop = new QPushButton(QStringLiteral("Stop"), m_progressRow);
    stop->setObjectName(QStringLiteral("stopComparing"));
    stop->setToolTip(QStringLiteral("Stop comparing contents and keep the groups by size"));
    stop->setAutoDefault(false);
    connect(stop, &QPushButton::clicked, this, &CDlgDuplicateResults::OnStopComparing);
    progressLayout->addWidget(stop);
    m_progressRow->hide();
    layout->addWidget(m_progressRow);
    m_notice = new QLabel(this);
    m_notice->setObjectName(QStringLiteral("resultsNotice"));
    m_notice->setWordWrap(true);
    m_notice->setContentsMargins(6, 2, 6, 0);
    m_notice->hide();
    layout->addWidget(m_notice);
    m_progressTimer.setInterval(100);
    connect(&m_progressTimer, &QTimer::timeout, this, [this] {
        ShowCompareProgress();
        if (!m_progress)
            return;
        const uint64_t total = m_progress->total, done = std::min<uint64_t>(m_progress->done, total);
        m_progressBar->setValue(total ? int(done * 1000 / total) : 0);
        m_progressBar->setToolTip(QStringLiteral("%1 of %2 compared")
                                      .arg(ListingStatus::SizeText(done),
                                           ListingStatus::SizeText(total)));
    });
}

void CDlgDuplicateResults::BuildList()
{
    m_model = new CResultsModel(this);
    m_list = new CColorListCtrl(this);
    m_list->setObjectName(QStringLiteral("resultsList"));
    m_list->setAccessibleName(QStringLiteral("Duplicate Files"));
    m_list->setModel(m_model);
    m_list->installEventFilter(this);
    RestoreColumnWidths(m_list->horizontalHeader(), Opt::ResultsColumnWidthName, Opt::kResultsWidths);
    // Every column stays inside the list: the folder takes what the others leave (CColorListCtrl::FitColumns),
    // and Last Modified whatever is still over, so its time is never cut.
    m_list->horizontalHeader()->setStretchLastSection(true);
    // Room for a check box, a six-digit number and the same-file mark.
    const int srWidth = m_list->fontMetrics().horizontalAdvance(QStringLiteral("000000 ") + QChar(CResultsModel::kSameFileMark)) + 34;
    if (m_list->horizontalHeader()->sectionSize(0) < srWidth && m_list->horizontalHeader()->sectionSize(0) > 0)
        m_list->horizontalHeader()->resizeSection(0, srWidth);
}

void CDlgDuplicateResults::ConnectContextMenu()
{
    m_list->setContextMenuPolicy(Qt::CustomContextMenu);
    connect(m_list, &QWidget::customContextMenuRequested, this, [this](const QPoint& pos) {
        m_rowUnderMenu = m_list->indexAt(pos).row();
        QList<QAction*> actions = m_menu->actions();
        for (QAction* a : m_menu->findChild<QMenu*>(QStringLiteral("selectedGroupsMenu"))->actions())
            actions << a;
        for (QAction* a : actions) {
            if (a->data().toInt() == Cmd::CheckInThisFolder || a->data().toInt() == Cmd::ProtectFolder)
                a->setEnabled(m_rowUnderMenu >= 0);
            if (a->data().toInt() == Cmd::ProtectFolder)
                a->setChecked(m_rowUnderMenu >= 0 && m_model->Protected().Contains(FolderToProtect(m_rowUnderMenu)));
        }
        m_menu->findChild<QMenu*>(QStringLiteral("selectedGroupsMenu"))->setEnabled(m_list->selectionModel()->hasSelection());
        m_menu->popup(m_list->viewport()->mapToGlobal(pos));
    });
}

void CDlgDuplicateResults::BuildToolBars(const QList<QAction*>& helpers, QAction* restore)
{
    // The same helpers as buttons above the list, with the trash and Undo; "in this folder" follows
    // the current row there. A tool bar folds what does not fit behind its extension button.
    auto* bar = new QToolBar(this);
    bar->setObjectName(QStringLiteral("resultsCommands"));
    bar->setToolButtonStyle(Qt::ToolButtonTextOnly);
    bar->setContentsMargins(6, 2, 6, 0);
    for (QAction* a : helpers) {
        if (a->data().toInt() == Cmd::CheckInThisFolder) {
            auto* current = new QAction(a->text(), bar);
            current->setToolTip(QStringLiteral("Check every file in the folder of the current row and below it, in every group"));
            connect(current, &QAction::triggered, this, [this] { OnCheckInFolderOf(m_list->currentIndex().row()); });
            bar->addAction(current);
        } else {
            bar->addAction(a);
        }
    }
    // The trash and Undo in a bar of their own that never folds.
    auto* actions = new QToolBar(this);
    actions->setObjectName(QStringLiteral("resultsActions"));
    actions->setToolButtonStyle(Qt::ToolButtonTextOnly);
    actions->addAction(m_trashAction);
    actions->addAction(m_linkAction);
    actions->addAction(restore);
    static_cast<QVBoxLayout*>(layout())->insertWidget(0, bar);
    m_actionsBar = actions;
    // The folding bar's own overflow button says what it holds.
    for (QToolBar* b : {bar, actions}) {
        if (auto* more = b->findChild<QToolButton*>(QStringLiteral("qt_toolbar_ext_button"))) {
            more->setAccessibleName(QStringLiteral("More Commands"));
            more->setToolTip(QStringLiteral("More Commands"));
        }
    }
}

CDlgDuplicateResults::~CDlgDuplicateResults()
{
    StopFill();
}

void CDlgDuplicateResults::showEvent(QShowEvent* event)
{
    QDialog::showEvent(event);
    if (m_started)
        return;
    m_started = true;
    // The list first: two thirds of the width, so its columns show whole beside the picture.
    if (m_split->count() == 2 && m_split->width() > 0)
        m_split->setSizes({m_split->width() * 2 / 3, m_split->width() - m_split->width() * 2 / 3});
    StartFill();
    // Groups by size are what they are from the start: that caution is read while the list fills behind
    // it. Exact groups are said to be exact only once the check has finished.
    if (!m_folders && !m_contents)
        ShowCaution();
}

void CDlgDuplicateResults::ShowCaution()
{
    if (m_cautionShown || !isVisible())
        return;
    m_cautionShown = true;
    m_caution = new QMessageBox(QMessageBox::Information, Res::AppTitle(), QString::fromUtf8(m_folders ? kCautionFolders : m_contents ? kCautionContents : kCaution),
                                QMessageBox::Ok, this);
    m_caution->setAttribute(Qt::WA_DeleteOnClose);
    m_caution->setWindowModality(Qt::WindowModal);
    m_caution->open();
    // The box, not the list behind it, takes the keys: Escape meant for it must not reach the list.
    QTimer::singleShot(0, m_caution, [caution = m_caution] {
        if (caution) {
            caution->activateWindow();
            caution->raise();
        }
    });
}

void CDlgDuplicateResults::StartFill()
{
    StopFill();
    const unsigned generation = ++m_generation;
    m_fillDone = false;
    m_model->Clear(m_folders ? 0 : size_t(std::max(0, m_input.count())));
    UpdateSpaceMap();
    m_list->setEnabled(false);
    // Read at every fill, so a refill after the trash follows the option as it is now.
    m_contents = m_folders || COptionsStore().IsOn(Opt::CompareContents);  // copied folders are byte-exact
    m_model->SetProtected(ProtectedSet());
    // Listed once; a refill after the trash examines the same paths again.
    const bool listCompare = m_compareListing && !m_compareListed;
    if (listCompare)
        m_compareFiles = std::make_shared<CPathArray>();
    m_compareProgress->files.store(0);
    m_compareProgress->listing.store(listCompare);
    const CWalkOptions compareOptions = !listCompare ? CWalkOptions() : m_compare.options ? *m_compare.options : CAppHelper::LoadOptions();
    m_linkAction->setEnabled(false);  // until the contents of finished groups were compared
    m_progress = m_contents ? std::make_shared<ContentCheck::CProgress>() : nullptr;
    m_links.clear();
    m_progressRow->setVisible(m_contents || listCompare);
    m_progressBar->setRange(0, listCompare ? 0 : 1000);
    m_stopAsked = false;
    // Said while it is true: what is shown meanwhile are groups by size.
    m_notice->setText(m_folders ? QStringLiteral("Looking for copied folders: every file is compared byte for byte first.")
                                : QStringLiteral("Comparing contents: until the check ends, these groups are by size only."));
    m_notice->setVisible(m_contents);
    ShowStatus();
    m_progressBar->setValue(0);
    if (listCompare)
        ShowCompareProgress();
    if (m_contents || listCompare)
        m_progressTimer.start();
    Search::CRequest request;
    request.files = FillInput();
    request.contents = m_contents;
    request.useCache = COptionsStore().IsOn(Opt::UseCache);
    request.folders = m_folders.get();
    request.progress = m_progress.get();
    if (!m_folders) {
        request.onSizeBatch = [this, generation](const std::vector<CResultRow>& batch, const std::shared_ptr<const void>& arenas) {
            QMetaObject::invokeMethod(this, [this, generation, batch, arenas] { OnFillBatch(generation, batch, arenas); },
                                      Qt::QueuedConnection);
        };
    }
    m_worker.Start([this, generation, request = std::move(request), progress = m_progress, listCompare, compareOptions,
                    compareFiles = m_compareFiles, compareProgress = m_compareProgress, folder = m_compare.folder,
                    references = m_reference.isEmpty() ? CProtectedFolders() : m_model->Protected()](const std::atomic<bool>& stop) {
        bool compareListed = false;
        const QString compareNote =
            listCompare ? ListCompareFolder(folder, compareOptions, *compareFiles, *compareProgress, stop, &compareListed) : QString();
        // Stopped, a stage leaves what it had: the size groups stay as they were.
        Search::CResult found = Search::Run(request, stop);
        const bool files = !request.folders;
        CFillResult result = files ? std::move(found.rows) : FolderGroups::ToRows(found.folderRows);
        const bool sized = files ? found.sized : found.completed;
        // Groups wholly in the reference folder offer nothing to remove.
        if (sized && files && !references.References().empty()) {
            CReferenceGroups::LeaveOut(result.rows, references);
            found.stages.push_back({"outside reference folders", "files", result.rows.size(), Search::GroupCount(result.rows)});
        }
        // Worked out here, so the window takes the finished rows without a pause.
        CSpaceFacts facts = sized ? SpaceFacts(result.rows, found.completed && request.contents, files, stop) : CSpaceFacts();
        if (sized && files && !stop.load())
            facts.flat = SpaceMapLayout::Flatten(result.rows, facts.sameAs, SpaceMapLayout::CommonFolder(result.rows));
        facts.stages = std::move(found.stages);
        QMetaObject::invokeMethod(this, [this, generation, completed = found.completed, sized, r = std::move(result), f = std::move(facts),
                                         compareNote, compareListed]() mutable {
            OnFillFinished(generation, completed, sized, std::move(r), std::move(f), compareNote, compareListed);
        }, Qt::QueuedConnection);
    });
}

void CDlgDuplicateResults::StopFill()
{
    m_worker.StopAndJoin();
}

void CDlgDuplicateResults::OnFillBatch(unsigned generation, const std::vector<CResultRow>& batch,
                                       const std::shared_ptr<const void>& arenas)
{
    if (generation != m_generation)
        return;
    m_model->Append(batch, arenas);
    m_list->scrollToBottom();
}

void CDlgDuplicateResults::OnFillFinished(unsigned generation, bool completed, bool sized, CFillResult result,
                                          CSpaceFacts facts, const QString& compareNote, bool compareListed)
{
    if (generation != m_generation)
        return;
    m_worker.Join();
    m_fillDone = true;
    m_progressTimer.stop();
    m_progressRow->hide();
    m_notice->hide();
    if (compareListed) {
        m_compareListed = true;
        m_compareNote = compareNote;
    }
    QStringList notes;
    if (!m_compareNote.isEmpty())
        notes << m_compareNote;
    if (!completed && m_stopAsked)
        notes << (sized ? QStringLiteral("The content check was stopped: these groups are by size only, and files of "
                                         "equal size may differ.")
                        : QStringLiteral("The search was stopped before its groups were complete."));
    if (!notes.isEmpty()) {
        m_notice->setText(notes.join(QLatin1Char(' ')));
        m_notice->show();
    }
    if (!completed && !(sized && m_stopAsked)) {
        if (!m_folders)
            m_map->SetWaiting(QStringLiteral("Stopped before the groups were complete."));
        ShowStatus();
        return;  // stopped: the list stays disabled with what it had
    }
    if (!completed)
        m_contents = false;  // what is shown was grouped by size alone
    m_linkAction->setEnabled(m_contents);  // a size-only group is never linked
    m_links = facts.links.size() == result.rows.size() ? std::move(facts.links) : std::vector<ELink>();
    m_stages = {Search::Listed(uint64_t(std::max(0, m_input.count())) + uint64_t(m_compareListed ? m_compareFiles->GetSize() : 0))};
    m_stages.insert(m_stages.end(), facts.stages.begin(), facts.stages.end());
    m_model->Replace(std::move(result.rows), std::move(result.arenas), std::move(facts.sameAs));
#ifdef __GLIBC__
    // The rows shown while they were collected are gone: give their pages back.
    malloc_trim(0);
#endif
    m_list->setEnabled(true);
    m_list->FitColumns();  // the figures came with the model's reset
    UpdateSpaceMap(std::move(facts.flat));
    ShowStatus();
    if (m_model->rowCount() > 0)
        m_list->scrollToTop();
    if (completed && m_contents)
        ShowCaution();
}

void CDlgDuplicateResults::OnStopComparing()
{
    if (!IsFilling())
        return;
    m_stopAsked = true;
    m_worker.RequestStop();  // the fill's end comes back queued, with what it has
}

void CDlgDuplicateResults::keyPressEvent(QKeyEvent* event)
{
    // Escape while contents are compared stops the comparison; closing stays a separate act.
    if (event->key() == Qt::Key_Escape && (m_contents || m_compareProgress->listing.load()) && IsFilling()) {
        OnStopComparing();
        event->accept();
        return;
    }
    QDialog::keyPressEvent(event);
}

void CDlgDuplicateResults::done(int result)
{
    // Every way of closing stops the fill and waits for its worker first.
    StopFill();
    if (m_caution)
        m_caution->close();
    SaveColumnWidths();
    QDialog::done(result);
}

void CDlgDuplicateResults::SaveColumnWidths()
{
    ::SaveColumnWidths(m_list->horizontalHeader(), Opt::ResultsColumnWidthName);
}

void CDlgDuplicateResults::OnDisplayInExplorer()
{
    CWaitCursor wait;
    QModelIndexList rows = m_list->selectionModel()->selectedRows();
    std::sort(rows.begin(), rows.end(), [](const QModelIndex& a, const QModelIndex& b) { return a.row() < b.row(); });
    for (const QModelIndex& index : rows) {
        QStringList tried;
        const QByteArray path(m_model->Row(index.row()).path);
        if (!Shell().SelectInExplorer(path, &tried)) {
            ReportNotOpened(this, EscapePath(path.toStdString()), tried);
            break;
        }
    }
}

QString CDlgDuplicateResults::SummaryText() const
{
    return SummaryText(SelectionRules::Figures(m_model->Rows(), m_model->SameFiles(), m_links.empty() ? nullptr : &m_links));
}

void CDlgDuplicateResults::SetDone(const QString& text)
{
    m_lastDone = text;
    UpdateSummary();
    ShowStatus();
}

void CDlgDuplicateResults::ShowStatus()
{
    const QString again = QStringLiteral("Listing the groups again…");
    if (!m_fillDone)
        m_status->setText(!m_lastDone.isEmpty() ? m_lastDone + QLatin1Char(' ') + again
                          : m_folders           ? QStringLiteral("Looking for copied folders…")
                          : m_contents          ? QStringLiteral("Grouping the files by size, then comparing their contents…")
                                                : QStringLiteral("Grouping the files by size…"));
    else
        m_status->setText(!m_lastDone.isEmpty() ? m_lastDone
                          : !m_notice->isHidden() ? m_notice->text()
                                                  : QStringLiteral("%1 group(s) listed.").arg(m_groupsShown));
}

void CDlgDuplicateResults::UpdateSummary()
{
    if (!m_fillDone) {  // figures only for finished groups
        m_summary->setText(m_lastDone);
        return;
    }
    const SelectionRules::CFigures f = SelectionRules::Figures(m_model->Rows(), m_model->SameFiles(), m_links.empty() ? nullptr : &m_links);
    m_groupsShown = f.groups;
    m_summary->setText(m_lastDone.isEmpty() ? SummaryText(f) : m_lastDone + QLatin1Char('\n') + SummaryText(f));
    // What each stage kept: how the groups were proved.
    m_summary->setToolTip(QStringLiteral("%1 byte(s) reclaimable; %2 byte(s) by the checked files.\n\n%3")
                              .arg(QLocale().toString(qulonglong(f.reclaimable)), QLocale().toString(qulonglong(f.checkedReclaimable)),
                                   Search::StageLines(m_stages).join(QLatin1Char('\n'))));
}

void CDlgDuplicateResults::PlanCompare()
{
    if (m_compare.folder.isEmpty() || m_folders)
        return;
    QByteArray folder = m_compare.folder;
    while (folder.size() > 1 && folder.endsWith('/'))
        folder.chop(1);
    m_compare.folder = folder;
    const QString shown = Shown(folder);
    const std::string real = RealPath(folder);
    const int openError = real.empty() ? errno : 0;
    const int fd = real.empty() ? -1 : ::open(real.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    const int error = real.empty() ? openError : fd < 0 ? errno : 0;
    if (fd >= 0)
        ::close(fd);
    if (error != 0) {
        m_compareNote = QStringLiteral("The folder to compare with, %1, cannot be read: %2. These groups are of the listed folder alone.")
                            .arg(shown, CAppHelper::UnreadReason(error));
        return;
    }
    const std::string listed = m_compare.listed.isEmpty() ? std::string() : RealPath(m_compare.listed);
    QByteArray reference = folder;
    if (!listed.empty() && real == listed) {
        m_compareNote = QStringLiteral("The folder to compare with, %1, is the listed folder: it is not listed twice.").arg(shown);
        return;  // as a reference it would leave out every group
    }
    if (!listed.empty() && IsPathBelow(listed, real)) {
        m_compareNote = QStringLiteral("The folder to compare with, %1, holds the listed folder: it is not listed twice. List it "
                                       "itself to search it whole.").arg(shown);
        return;
    }
    if (!listed.empty() && IsPathBelow(real, listed)) {
        // Its files are in the listing already, under the listing's own spelling of the path.
        m_compareNote = QStringLiteral("The folder to compare with, %1, lies inside the listed folder: its files were listed "
                                       "once, with the listing.").arg(shown);
        reference = m_compare.listed + QByteArray::fromStdString(real.substr(listed.size()));
    } else {
        m_compareListing = true;
    }
    if (m_compare.reference)
        m_reference = reference;
}

CProtectedFolders CDlgDuplicateResults::ProtectedSet() const
{
    CProtectedFolders folders = LinkOps::ReadProtected();
    if (!m_reference.isEmpty())
        folders.AddReference(std::string_view(m_reference.constData(), size_t(m_reference.size())));
    return folders;
}

CFillInput CDlgDuplicateResults::FillInput() const
{
    if (!m_compareListing || !m_compareFiles)
        return m_input;
    // The array is filled on the worker before the search asks for its count.
    CFillInput input;
    input.count = [listing = m_input.count, files = m_compareFiles] { return listing() + files->GetSize(); };
    input.at = [listing = m_input, files = m_compareFiles](int i) {
        const int listed = listing.count();
        return i < listed ? listing.at(i) : files->At(i - listed);
    };
    input.stable = m_input.stable;
    return input;
}

QString CDlgDuplicateResults::ListCompareFolder(const QByteArray& folder, const CWalkOptions& options, CPathArray& files,
                                                CCompareProgress& progress, const std::atomic<bool>& stop, bool* whole)
{
    CArraySink sink(files, progress.files);
    CAppHelper walk(sink);
    walk.PrepareListing(folder, options);
    const CWalkResult result = walk.StartListing(stop);
    progress.listing.store(false);
    *whole = !stop.load();
    QString note = QStringLiteral("Compared with %1: %2 file(s) listed.").arg(Shown(folder)).arg(files.GetSize());
    if (result.m_bFiltered)
        note += QStringLiteral(" %1 File(s) Skipped by Filters.").arg(result.m_nFilesFiltered);
    if (!result.m_arrUnreadFolders.empty())
        note += QStringLiteral(" %1 folder(s) could not be read, the first %2: %3.")
                    .arg(result.m_arrUnreadFolders.size())
                    .arg(Shown(result.m_arrUnreadFolders.front().path), CAppHelper::UnreadReason(result.m_arrUnreadFolders.front().error));
    return note;
}

void CDlgDuplicateResults::ShowCompareProgress()
{
    if (m_compareProgress->listing.load()) {
        m_notice->setText(QStringLiteral("Listing the folder to compare with, %1: %2 file(s) so far…")
                              .arg(Shown(m_compare.folder))
                              .arg(m_compareProgress->files.load()));
        m_notice->show();
        m_progressBar->setFormat(QStringLiteral("Listing %1").arg(Shown(m_compare.folder)));
        return;
    }
    if (m_progressBar->maximum() != 0)
        return;
    // The listing ended: the bar goes on with the content check, or goes.
    m_progressBar->setRange(0, 1000);
    m_progressBar->setFormat(QStringLiteral("Comparing contents: %p%"));
    m_progressRow->setVisible(m_contents);
    m_notice->setText(QStringLiteral("Comparing contents: until the check ends, these groups are by size only."));
    m_notice->setVisible(m_contents);
    if (!m_contents)
        m_progressTimer.stop();
}

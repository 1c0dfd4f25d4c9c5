#include "DlgDuplicateResults.h"

#include "ListingStatus.h"

#include "AppTexts.h"
#include "ColorListCtrl.h"
#include "ContentCheck.h"
#include "CommandIds.h"
#include "OptionsStore.h"
#include "ReportList.h"
#include "ResultsModel.h"
#include "ShellOps.h"
#include "Texts.h"
#include "WaitCursor.h"

#include <QApplication>
#include <QHBoxLayout>
#include <QInputDialog>
#include <QLabel>
#include <QLocale>
#include <QProgressBar>
#include <QToolButton>
#include <QHeaderView>
#include <QMenu>
#include <QMessageBox>
#include <QVBoxLayout>

#ifdef __GLIBC__
#include <malloc.h>
#endif

namespace {

const char kCaution[] =
    "This Window Displays Possibly Duplicate Files Grouped by File Size.\n\nFiles of Same Size Might be Duplicate or "
    "Different.\n\nHave a Close Look before Deleting Any File(s).\n\nRight Click to View Available Commands.\n\nIn "
    "case the List of Files is Scrolling, Please Wait untill it Stops Scrolling.";
const char kNothingChecked[] = "Check the Files which you wish to Send to Recyle Bin and then try again.";


}  // namespace

CDlgDuplicateResults::CDlgDuplicateResults(CFillInput input, QWidget* parent)
    : QDialog(parent)
    , m_input(std::move(input))
{
    setObjectName(QStringLiteral("duplicateResults"));
    setWindowTitle(QStringLiteral("Duplicate Search Results - %1").arg(Res::AppTitle()));
    setWindowIcon(QApplication::windowIcon());
    setWindowFlag(Qt::WindowMaximizeButtonHint, true);
    setSizeGripEnabled(true);
    resize(840, 430);

    m_model = new CResultsModel(this);
    m_list = new CColorListCtrl(this);
    m_list->setObjectName(QStringLiteral("resultsList"));
    m_list->setModel(m_model);
    RestoreColumnWidths(m_list->horizontalHeader(), Opt::ResultsColumnWidthName, Opt::kResultsWidths);
    // Room for a check box, a six-digit number and the same-file mark.
    const int srWidth = m_list->fontMetrics().horizontalAdvance(QStringLiteral("000000 ") + QChar(CResultsModel::kSameFileMark)) + 34;
    if (m_list->horizontalHeader()->sectionSize(0) < srWidth && m_list->horizontalHeader()->sectionSize(0) > 0)
        m_list->horizontalHeader()->resizeSection(0, srWidth);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(m_list);

    m_progressBar = new QProgressBar(this);
    m_progressBar->setObjectName(QStringLiteral("contentProgress"));
    m_progressBar->setRange(0, 1000);
    m_progressBar->setFormat(QStringLiteral("Comparing contents: %p%"));
    m_progressBar->hide();
    layout->addWidget(m_progressBar);
    m_progressTimer.setInterval(100);
    connect(&m_progressTimer, &QTimer::timeout, this, [this] {
        if (!m_progress)
            return;
        const uint64_t total = m_progress->total, done = std::min<uint64_t>(m_progress->done, total);
        m_progressBar->setValue(total ? int(done * 1000 / total) : 0);
        m_progressBar->setToolTip(QStringLiteral("%1 of %2 compared")
                                      .arg(ListingStatus::SizeText(done),
                                           ListingStatus::SizeText(total)));
    });
    m_summary = new QLabel(this);
    m_summary->setObjectName(QStringLiteral("resultsSummary"));
    m_summary->setTextFormat(Qt::PlainText);
    m_summary->setContentsMargins(6, 2, 6, 4);
    BuildCommands();
    layout->addWidget(m_summary);
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
    add(Cmd::SendCheckedToRecycleBin, &CDlgDuplicateResults::OnSendToRecycleBin);
    QAction* restore = add(Cmd::RestoreLastTrashed, &CDlgDuplicateResults::OnRestoreLastTrashed);
    restore->setShortcut(QKeySequence::Undo);
    restore->setShortcutContext(Qt::WindowShortcut);
    addAction(restore);
    m_menu->addSeparator();
    add(Cmd::CheckAll, &CDlgDuplicateResults::OnCheckAll);
    add(Cmd::UnCheckAll, &CDlgDuplicateResults::OnUnCheckAll);
    m_menu->addSeparator();
    const QList<QAction*> helpers = {
        add(Cmd::CheckAllButNewest, &CDlgDuplicateResults::OnCheckAllButNewest),
        add(Cmd::CheckAllButOldest, &CDlgDuplicateResults::OnCheckAllButOldest),
        add(Cmd::CheckInThisFolder, [this] { OnCheckInFolderOf(m_rowUnderMenu); }),
        add(Cmd::CheckMatching, [this] {
            bool ok = false;
            const QString wildcard = QInputDialog::getText(this, Res::AppTitle(),
                                                           QStringLiteral("Check the files whose name or path matches (* ? [...]):"),
                                                           QLineEdit::Normal, QStringLiteral("*"), &ok);
            if (ok && !wildcard.isEmpty())
                OnCheckMatching(wildcard);
        }),
        add(Cmd::InvertChecks, &CDlgDuplicateResults::OnInvertChecks),
    };
    m_list->setContextMenuPolicy(Qt::CustomContextMenu);
    connect(m_list, &QWidget::customContextMenuRequested, this, [this](const QPoint& pos) {
        m_rowUnderMenu = m_list->indexAt(pos).row();
        for (QAction* a : m_menu->actions()) {
            if (a->data().toInt() == Cmd::CheckInThisFolder)
                a->setEnabled(m_rowUnderMenu >= 0);
        }
        m_menu->popup(m_list->viewport()->mapToGlobal(pos));
    });

    // The same helpers as buttons above the list; "in this folder" follows the current row there.
    auto* bar = new QHBoxLayout;
    bar->setContentsMargins(6, 4, 6, 2);
    for (QAction* a : helpers) {
        auto* button = new QToolButton(this);
        if (a->data().toInt() == Cmd::CheckInThisFolder) {
            auto* current = new QAction(a->text(), button);
            current->setToolTip(a->toolTip());
            connect(current, &QAction::triggered, this, [this] { OnCheckInFolderOf(m_list->currentIndex().row()); });
            button->setDefaultAction(current);
        } else {
            button->setDefaultAction(a);
        }
        bar->addWidget(button);
    }
    bar->addStretch();
    auto* undo = new QToolButton(this);
    undo->setDefaultAction(restore);
    bar->addWidget(undo);
    static_cast<QVBoxLayout*>(layout())->insertLayout(0, bar);
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
    StartFill();
    // The caution is read while the list fills behind it.
    m_caution = new QMessageBox(QMessageBox::Information, Res::AppTitle(), QString::fromUtf8(kCaution), QMessageBox::Ok, this);
    m_caution->setAttribute(Qt::WA_DeleteOnClose);
    m_caution->setWindowModality(Qt::WindowModal);
    m_caution->open();
}

void CDlgDuplicateResults::StartFill()
{
    StopFill();
    const unsigned generation = ++m_generation;
    m_fillDone = false;
    m_model->Clear();
    m_list->setEnabled(false);
    // Read at every fill, so a refill after the trash follows the option as it is now.
    m_contents = COptionsStore().IsOn(Opt::CompareContents);
    m_progress = m_contents ? std::make_shared<ContentCheck::CProgress>() : nullptr;
    m_progressBar->setVisible(m_contents);
    m_progressBar->setValue(0);
    if (m_contents)
        m_progressTimer.start();
    m_worker.Start([this, generation, progress = m_progress](const std::atomic<bool>& stop) {
        CFillResult result;
        bool completed = RunResultsFill(m_input, result, stop, [this, generation, &result](const std::vector<CResultRow>& batch) {
            std::shared_ptr<const void> arenas = result.arenas;
            QMetaObject::invokeMethod(this, [this, generation, batch, arenas] { OnFillBatch(generation, batch, arenas); },
                                      Qt::QueuedConnection);
        });
        // The next stage, over the size groups that survived the fill.
        if (completed && progress)
            completed = ContentCheck::Run(result.rows, stop, progress.get());
        // Worked out here, so the window takes the finished rows without a pause.
        std::vector<int32_t> sameAs = completed ? SelectionRules::SameFiles(result.rows) : std::vector<int32_t>();
        QMetaObject::invokeMethod(this, [this, generation, completed, r = std::move(result), s = std::move(sameAs)]() mutable {
            OnFillFinished(generation, completed, std::move(r), std::move(s));
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

void CDlgDuplicateResults::OnFillFinished(unsigned generation, bool completed, CFillResult result, std::vector<int32_t> sameAs)
{
    if (generation != m_generation)
        return;
    m_worker.Join();
    m_fillDone = true;
    m_progressTimer.stop();
    m_progressBar->hide();
    if (!completed)
        return;  // stopped: the list stays disabled with what it had
    m_model->Replace(std::move(result.rows), std::move(result.arenas), std::move(sameAs));
#ifdef __GLIBC__
    // The rows shown while they were collected are gone: give their pages back.
    malloc_trim(0);
#endif
    m_list->setEnabled(true);
    UpdateSummary();
    if (m_model->rowCount() > 0)
        m_list->scrollToTop();
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

void CDlgDuplicateResults::OnCheckAll()
{
    m_model->SetAllChecked(true);
}

void CDlgDuplicateResults::OnUnCheckAll()
{
    m_model->SetAllChecked(false);
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

void CDlgDuplicateResults::OnSendToRecycleBin()
{
    const std::vector<QByteArray> checked = m_model->CheckedPaths();
    if (checked.empty()) {
        QMessageBox::information(this, Res::AppTitle(), QString::fromUtf8(kNothingChecked));
        return;
    }
    // Said first: groups of which no copy would be left.
    QString caution;
    const std::vector<int32_t> whole = SelectionRules::FullyCheckedGroups(m_model->Rows());
    if (!whole.empty()) {
        QStringList named;
        for (const CResultRow& r : m_model->Rows()) {
            if (std::find(whole.begin(), whole.end(), r.group) != whole.end())
                named << QStringLiteral("group %1: %2").arg(r.group + 1).arg(EscapePath(r.Path()));
        }
        caution = QStringLiteral("All copies of %1 group(s) are checked: nothing of them would remain.\n%2\n\n")
                      .arg(whole.size())
                      .arg(named.mid(0, 12).join(QLatin1Char('\n')) + (named.size() > 12 ? QStringLiteral("\n…") : QString()));
    }
    if (!m_contents)
        caution += QStringLiteral("Files of equal size may differ: their contents were not compared.");
    const std::vector<QByteArray> moved = Shell().SendToRecycleBin(this, checked, m_model->CheckedIdentities(), caution);
    // What moved drops out with a new fill; after a refusal or a total failure nothing changes.
    if (!moved.empty())
        StartFill();
}

SelectionRules::GroupSet CDlgDuplicateResults::SelectedGroups() const
{
    SelectionRules::GroupSet groups;
    for (const QModelIndex& index : m_list->selectionModel()->selectedRows())
        groups.insert(m_model->Row(index.row()).group);
    return groups;
}

void CDlgDuplicateResults::OnCheckAllButNewest()
{
    const auto scope = SelectedGroups();
    m_model->ApplyRule([&scope](std::vector<CResultRow>& rows) { SelectionRules::CheckAllButNewest(rows, scope); });
}

void CDlgDuplicateResults::OnCheckAllButOldest()
{
    const auto scope = SelectedGroups();
    m_model->ApplyRule([&scope](std::vector<CResultRow>& rows) { SelectionRules::CheckAllButOldest(rows, scope); });
}

void CDlgDuplicateResults::OnCheckInFolderOf(int row)
{
    if (row < 0 || row >= m_model->rowCount())
        return;
    const std::string folder(m_model->Row(row).FolderWithSlash());
    const auto scope = SelectedGroups();
    m_model->ApplyRule([&](std::vector<CResultRow>& rows) { SelectionRules::CheckInFolder(rows, folder, scope); });
}

void CDlgDuplicateResults::OnCheckMatching(const QString& wildcard)
{
    const auto scope = SelectedGroups();
    m_model->ApplyRule([&](std::vector<CResultRow>& rows) { SelectionRules::CheckMatching(rows, wildcard, scope); });
}

void CDlgDuplicateResults::OnInvertChecks()
{
    const auto scope = SelectedGroups();
    m_model->ApplyRule([&scope](std::vector<CResultRow>& rows) { SelectionRules::InvertChecks(rows, scope); });
}

void CDlgDuplicateResults::OnRestoreLastTrashed()
{
    // Restored files are listed again by a new fill, as long as they were in this listing.
    if (RestoreLastTrashed(this))
        StartFill();
}

QString CDlgDuplicateResults::SummaryText() const
{
    return SummaryText(SelectionRules::Figures(m_model->Rows(), m_model->SameFiles()));
}

QString CDlgDuplicateResults::SummaryText(const SelectionRules::CFigures& f) const
{
    QString text = (m_contents ? QStringLiteral("%1 group(s) of identical files, %2 file(s): trashing all but one copy "
                                                "of each would free %3.")
                               : QStringLiteral("%1 group(s), %2 file(s): trashing all but one copy of each would free up "
                                                "to %3 if the files are identical."))
                       .arg(f.groups)
                       .arg(f.files)
                       .arg(ListingStatus::SizeText(f.reclaimable));
    if (f.checkedFiles > 0)
        text += QStringLiteral(" The %1 checked file(s) would free %2.")
                    .arg(f.checkedFiles)
                    .arg(ListingStatus::SizeText(f.checkedReclaimable));
    return text;
}

void CDlgDuplicateResults::UpdateSummary()
{
    if (!m_fillDone) {  // figures only for finished groups
        m_summary->clear();
        return;
    }
    const SelectionRules::CFigures f = SelectionRules::Figures(m_model->Rows(), m_model->SameFiles());
    m_summary->setText(SummaryText(f));
    m_summary->setToolTip(QStringLiteral("%1 byte(s) reclaimable; %2 byte(s) by the checked files.")
                              .arg(QLocale().toString(qulonglong(f.reclaimable)), QLocale().toString(qulonglong(f.checkedReclaimable))));
}

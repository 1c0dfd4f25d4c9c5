#include "DlgDuplicateResults.h"

#include "AppTexts.h"
#include "ColorListCtrl.h"
#include "CommandIds.h"
#include "OptionsStore.h"
#include "ReportList.h"
#include "ResultsModel.h"
#include "ShellOps.h"
#include "Texts.h"
#include "WaitCursor.h"

#include <QApplication>
#include <QHeaderView>
#include <QMenu>
#include <QMessageBox>
#include <QVBoxLayout>

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
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(m_list);

    m_menu = new QMenu(this);
    auto add = [this](int id, void (CDlgDuplicateResults::*slot)()) {
        QAction* a = m_menu->addAction(QString::fromUtf8(MenuText(id).text), this, slot);
        a->setData(id);
    };
    add(Cmd::DisplayInExplorer, &CDlgDuplicateResults::OnDisplayInExplorer);
    m_menu->addSeparator();
    add(Cmd::SendCheckedToRecycleBin, &CDlgDuplicateResults::OnSendToRecycleBin);
    m_menu->addSeparator();
    add(Cmd::CheckAll, &CDlgDuplicateResults::OnCheckAll);
    add(Cmd::UnCheckAll, &CDlgDuplicateResults::OnUnCheckAll);
    m_list->setContextMenuPolicy(Qt::CustomContextMenu);
    connect(m_list, &QWidget::customContextMenuRequested, this,
            [this](const QPoint& pos) { m_menu->popup(m_list->viewport()->mapToGlobal(pos)); });
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
    m_worker.Start([this, generation](const std::atomic<bool>& stop) {
        CFillResult result;
        const bool completed = RunResultsFill(m_input, result, stop, [this, generation, &result](const std::vector<CResultRow>& batch) {
            std::shared_ptr<const void> arenas = result.arenas;
            QMetaObject::invokeMethod(this, [this, generation, batch, arenas] { OnFillBatch(generation, batch, arenas); },
                                      Qt::QueuedConnection);
        });
        QMetaObject::invokeMethod(this, [this, generation, completed, r = std::move(result)]() mutable {
            OnFillFinished(generation, completed, std::move(r));
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

void CDlgDuplicateResults::OnFillFinished(unsigned generation, bool completed, CFillResult result)
{
    if (generation != m_generation)
        return;
    m_worker.Join();
    m_fillDone = true;
    if (!completed)
        return;  // stopped: the list stays disabled with what it had
    m_model->Replace(std::move(result.rows), std::move(result.arenas));
    m_list->setEnabled(true);
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
            ReportNotOpened(this, DecodePath(path.toStdString()), tried);
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
    const std::vector<QByteArray> moved = Shell().SendToRecycleBin(this, checked, m_model->CheckedIdentities());
    // What moved drops out with a new fill; after a refusal or a total failure nothing changes.
    if (!moved.empty())
        StartFill();
}

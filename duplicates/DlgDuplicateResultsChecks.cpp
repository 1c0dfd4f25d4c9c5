// Checking rows in the results window: all or none, the helpers on every group or on the selected
// rows' groups, and Space (and Delete) from the list.

#include "DlgDuplicateResults.h"

#include "AppTexts.h"
#include "ColorListCtrl.h"
#include "ResultsModel.h"

#include <QInputDialog>
#include <QItemSelectionModel>
#include <QKeyEvent>

bool CDlgDuplicateResults::eventFilter(QObject* watched, QEvent* event)
{
    // Space toggles the current row's check from any of its cells; Delete trashes the checked rows, asking first.
    if (watched == m_list && event->type() == QEvent::KeyPress
        && static_cast<QKeyEvent*>(event)->modifiers() == Qt::NoModifier) {
        const int key = static_cast<QKeyEvent*>(event)->key();
        if (key == Qt::Key_Space) {
            ToggleCurrentCheck();
            return true;
        }
        if (key == Qt::Key_Delete && m_list->isEnabled()) {
            OnSendToRecycleBin();
            return true;
        }
    }
    return QDialog::eventFilter(watched, event);
}

void CDlgDuplicateResults::ToggleCurrentCheck()
{
    const int row = m_list->currentIndex().row();
    if (row < 0 || !m_list->isEnabled())
        return;
    const QModelIndex check = m_model->index(row, 0);
    const bool on = check.data(Qt::CheckStateRole).toInt() == Qt::Checked;
    m_model->setData(check, on ? Qt::Unchecked : Qt::Checked, Qt::CheckStateRole);
}

void CDlgDuplicateResults::OnCheckAll()
{
    m_model->SetAllChecked(true);
}

void CDlgDuplicateResults::OnUnCheckAll()
{
    m_model->SetAllChecked(false);
}

SelectionRules::GroupSet CDlgDuplicateResults::Scope(bool selectedOnly) const
{
    SelectionRules::GroupSet groups;  // empty: every group
    if (selectedOnly) {
        for (const QModelIndex& index : m_list->selectionModel()->selectedRows())
            groups.insert(m_model->Row(index.row()).group);
        if (groups.empty())
            groups.insert(-1);  // nothing selected: no group
    }
    return groups;
}

void CDlgDuplicateResults::OnCheckAllButNewest(bool selectedOnly)
{
    const auto scope = Scope(selectedOnly);
    const CProtectedFolders& prefer = m_model->Protected();
    m_model->ApplyRule([&](std::vector<CResultRow>& rows) { SelectionRules::CheckAllButNewest(rows, scope, &prefer); });
}

void CDlgDuplicateResults::OnCheckAllButOldest(bool selectedOnly)
{
    const auto scope = Scope(selectedOnly);
    const CProtectedFolders& prefer = m_model->Protected();
    m_model->ApplyRule([&](std::vector<CResultRow>& rows) { SelectionRules::CheckAllButOldest(rows, scope, &prefer); });
}

void CDlgDuplicateResults::OnCheckInFolderOf(int row, bool selectedOnly)
{
    if (row < 0 || row >= m_model->rowCount())
        return;
    const std::string folder(m_model->Row(row).FolderWithSlash());
    const auto scope = Scope(selectedOnly);
    m_model->ApplyRule([&](std::vector<CResultRow>& rows) { SelectionRules::CheckInFolder(rows, folder, scope); });
}

void CDlgDuplicateResults::OnCheckMatching(const QString& wildcard, bool selectedOnly)
{
    const auto scope = Scope(selectedOnly);
    m_model->ApplyRule([&](std::vector<CResultRow>& rows) { SelectionRules::CheckMatching(rows, wildcard, scope); });
}

void CDlgDuplicateResults::AskForWildcard(bool selectedOnly)
{
    bool ok = false;
    const QString wildcard = QInputDialog::getText(this, Res::AppTitle(),
                                                   QStringLiteral("Check the files whose name or path matches (* ? [...]):"),
                                                   QLineEdit::Normal, QStringLiteral("*"), &ok);
    if (ok && !wildcard.isEmpty())
        OnCheckMatching(wildcard, selectedOnly);
}

void CDlgDuplicateResults::OnInvertChecks(bool selectedOnly)
{
    const auto scope = Scope(selectedOnly);
    m_model->ApplyRule([&scope](std::vector<CResultRow>& rows) { SelectionRules::InvertChecks(rows, scope); });
}

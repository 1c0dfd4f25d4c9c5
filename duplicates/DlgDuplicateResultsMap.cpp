// The picture beside the list of where the reclaimable space lives; a click on a folder selects its
// rows, and the current row frames its folder.
#include "DlgDuplicateResults.h"

#include "ColorListCtrl.h"
#include "OptionsStore.h"
#include "PathArray.h"
#include "ResultsModel.h"
#include "SpaceMap.h"

#include <QItemSelection>
#include <QSplitter>


void CDlgDuplicateResults::BuildSpaceMap(QSplitter* splitter)
{
    m_map = new CSpaceMap(splitter);
    m_map->setObjectName(QStringLiteral("spaceMap"));
    m_map->setToolTip(QStringLiteral("Where the space trashing all but one copy would free lies: each folder's area is its share"));
    splitter->addWidget(m_map);
    splitter->setStretchFactor(0, 3);
    splitter->setStretchFactor(1, 2);
    connect(m_map, &CSpaceMap::FolderClicked, this, &CDlgDuplicateResults::SelectRowsIn);
    connect(m_list->selectionModel(), &QItemSelectionModel::currentRowChanged, this, [this](const QModelIndex& current) {
        if (!current.isValid() || m_folders)
            return;
        std::string_view folder = m_model->Row(current.row()).FolderWithSlash();
        if (folder.size() > 1)
            folder.remove_suffix(1);
        m_map->SelectFolder(QByteArray(folder.data(), qsizetype(folder.size())));
    });
    connect(m_model, &QAbstractItemModel::dataChanged, this, [this](const QModelIndex&, const QModelIndex&, const QList<int>& roles) {
        if (m_fillDone && !m_folders && roles.contains(Qt::CheckStateRole))
            m_map->UpdateChecks(m_model->Rows(), m_model->SameFiles());
    });
}

void CDlgDuplicateResults::UpdateSpaceMap(SpaceMapLayout::CFlatRows flat)
{
    // Copied folders may lie inside one another: their bytes do not add up to a picture.
    m_map->setVisible(!m_folders);
    if (m_folders)
        return;
    if (!m_fillDone) {
        // Called as a fill starts, before it reads the option itself.
        m_map->SetWaiting(COptionsStore().IsOn(Opt::CompareContents) ? QStringLiteral("Comparing contents\u2026")
                                                                     : QStringLiteral("Grouping the files by size\u2026"));
        return;
    }
    if (flat.input)
        m_map->SetRows(m_model->Rows(), std::move(flat));
    else
        m_map->SetRows(m_model->Rows(), m_model->SameFiles(), SpaceMapLayout::CommonFolder(m_model->Rows()));
}

void CDlgDuplicateResults::SelectRowsIn(const QByteArray& folder)
{
    QItemSelection selection;
    const std::vector<CResultRow>& rows = m_model->Rows();
    int first = -1;
    for (int i = 0; i <= int(rows.size()); ++i) {
        const bool in = i < int(rows.size()) && IsPathBelow(rows[size_t(i)].Path(), std::string_view(folder.constData(), size_t(folder.size())));
        if (in && first < 0)
            first = i;
        if (!in && first >= 0) {
            selection.select(m_model->index(first, 0), m_model->index(i - 1, m_model->columnCount() - 1));
            first = -1;
        }
    }
    m_list->selectionModel()->select(selection, QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
    if (!selection.isEmpty())
        m_list->scrollTo(selection.first().topLeft());
}

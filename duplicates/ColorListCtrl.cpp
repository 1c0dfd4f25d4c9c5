#include "ColorListCtrl.h"

#include "ReportList.h"
#include "ResultsModel.h"

#include <QHeaderView>
#include <QStyledItemDelegate>

namespace {
class CGroupColorDelegate : public QStyledItemDelegate {
public:
    using QStyledItemDelegate::QStyledItemDelegate;

protected:
    void initStyleOption(QStyleOptionViewItem* option, const QModelIndex& index) const override
    {
        QStyledItemDelegate::initStyleOption(option, index);
        const QColor c = CColorListCtrl::GroupColor(index.data(CResultsModel::GroupRole).toInt(), option->palette);
        option->palette.setColor(QPalette::Text, c);
    }
};
}  // namespace

CColorListCtrl::CColorListCtrl(QWidget* parent)
    : QTableView(parent)
{
    setItemDelegate(new CGroupColorDelegate(this));
    SetUpReportList(this, QAbstractItemView::ExtendedSelection);
}

QColor CColorListCtrl::GroupColor(int group, const QPalette& palette)
{
    if (group & 1)
        return QColor(236, 0, 0);
    // Black, unless the look's base is dark: then the view's own text colour stays readable.
    return palette.color(QPalette::Base).lightness() < 128 ? palette.color(QPalette::Text) : QColor(0, 0, 0);
}

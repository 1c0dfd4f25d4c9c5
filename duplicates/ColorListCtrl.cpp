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
    // Red and black, unless the look's base is dark: then a light red and the
    // view's own text colour, so both stay readable (4.5:1 or better).
    const bool dark = palette.color(QPalette::Base).lightness() < 128;
    if (group & 1)
        return dark ? QColor(255, 110, 110) : QColor(236, 0, 0);
    return dark ? palette.color(QPalette::Text) : QColor(0, 0, 0);
}

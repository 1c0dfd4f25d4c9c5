#include "ColorListCtrl.h"

#include "ReportList.h"
#include "ResultsModel.h"

#include <QEvent>
#include <QHeaderView>
#include <QStyledItemDelegate>

#include <algorithm>
#include <utility>

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

constexpr int kName = 1, kFolder = 2;
constexpr int kLeastName = 60, kLeastFolder = 80;
}  // namespace

CColorListCtrl::CColorListCtrl(QWidget* parent)
    : QTableView(parent)
{
    setItemDelegate(new CGroupColorDelegate(this));
    SetUpReportList(this, QAbstractItemView::ExtendedSelection);
    // A long path keeps its start and its name's end.
    setTextElideMode(Qt::ElideMiddle);
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

bool CColorListCtrl::viewportEvent(QEvent* event)
{
    const bool handled = QTableView::viewportEvent(event);
    if (event->type() == QEvent::Resize)
        FitColumns(false);
    return handled;
}

void CColorListCtrl::FitColumns(bool measure)
{
    QHeaderView* header = horizontalHeader();
    // Texts are measured only once there are rows to measure.
    if (m_fitting || !model() || model()->rowCount() == 0 || header->count() != 5 || viewport()->width() <= 0)
        return;
    m_fitting = true;
    int widths[5];
    for (int c = 0; c < 5; ++c)
        widths[c] = header->sectionSize(c);
    if (measure || !m_measured) {
        for (int c : {0, 3, 4})
            m_wholeWidths[c] = std::max(header->sectionSizeHint(c), sizeHintForColumn(c));
        m_measured = true;
    }
    for (int c : {0, 3, 4})
        widths[c] = std::max(widths[c], m_wholeWidths[c]);
    // The last column is stretched over whatever is spare: the folder takes that instead.
    widths[4] = m_wholeWidths[4];
    // What is left once the folder has its least: short, Size gives up its spare room first, then the
    // name; the folder takes the rest. Sr keeps room for any row number.
    int spare = viewport()->width() - widths[0] - widths[kName] - widths[3] - widths[4] - kLeastFolder;
    for (const auto& [c, least] : {std::pair<int, int>{3, m_wholeWidths[3]}, {kName, kLeastName}}) {
        const int cut = std::max(0, std::min(-spare, widths[c] - least));
        widths[c] -= cut;
        spare += cut;
    }
    widths[kFolder] = kLeastFolder + std::max(0, spare);
    for (int c = 0; c < 5; ++c) {
        if (header->sectionSize(c) != widths[c])
            header->resizeSection(c, widths[c]);
    }
    m_fitting = false;
}

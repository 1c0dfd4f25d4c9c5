#include "ReportList.h"

#include "OptionsStore.h"

#include <QEvent>
#include <QHeaderView>
#include <QTableView>
#include <QTimer>

#include <algorithm>

void SetUpReportList(QTableView* list, QAbstractItemView::SelectionMode selection)
{
    list->setSelectionBehavior(QAbstractItemView::SelectRows);
    list->setSelectionMode(selection);
    list->setShowGrid(true);
    list->setWordWrap(false);
    list->verticalHeader()->hide();
    list->verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    list->verticalHeader()->setDefaultSectionSize(list->fontMetrics().height() + 6);
    list->horizontalHeader()->setMinimumSectionSize(0);
    list->horizontalHeader()->setDefaultAlignment(Qt::AlignLeft | Qt::AlignVCenter);
}

void RestoreColumnWidths(QHeaderView* header, const ColumnWidthNamer& name, const int* defaults, int count)
{
    const COptionsStore options;
    for (int i = 0; i < count; ++i)
        header->resizeSection(i, int(options.ReadInt(name(i), defaults[i])));
}

bool SaveColumnWidths(const QHeaderView* header, const ColumnWidthNamer& name)
{
    COptionsStore options;
    bool ok = true;
    // Each write rewrites the whole file: only what changed is written.
    for (int i = 0; i < header->count(); ++i) {
        if (int(options.ReadInt(name(i), -1)) != header->sectionSize(i))
            ok = options.WriteInt(name(i), header->sectionSize(i)).IsDone() && ok;
    }
    return ok;
}

namespace {

class CSpareWidth : public QObject {
public:
    explicit CSpareWidth(QTableView* list)
        : QObject(list), m_list(list)
    {
        m_later.setSingleShot(true);
        m_later.setInterval(150);  // rows arrive in bursts during a listing
        connect(&m_later, &QTimer::timeout, this, &CSpareWidth::Fit);
        list->viewport()->installEventFilter(this);
        Watch();
    }

    bool eventFilter(QObject* watched, QEvent* event) override
    {
        if (event->type() == QEvent::Resize) {
            Watch();
            Fit();
        }
        return QObject::eventFilter(watched, event);
    }

private:
    void Watch()
    {
        QAbstractItemModel* model = m_list->model();
        if (model == m_model)
            return;
        m_model = model;
        if (!model)
            return;
        const auto later = [this] {
            if (!m_later.isActive())
                m_later.start();
        };
        connect(model, &QAbstractItemModel::rowsInserted, this, later);
        connect(model, &QAbstractItemModel::modelReset, this, later);
        connect(model, &QAbstractItemModel::dataChanged, this, later);
        connect(model, &QAbstractItemModel::headerDataChanged, this, later);
    }

    void Fit()
    {
        QHeaderView* header = m_list->horizontalHeader();
        int spare = m_list->viewport()->width() - header->length();
        for (int c = 0; c < header->count() && spare > 0; ++c) {
            // A column dragged shut stays shut.
            if (header->isSectionHidden(c) || header->sectionSize(c) == 0)
                continue;
            const int want = static_cast<QAbstractItemView*>(m_list)->sizeHintForColumn(c);
            const int grow = std::min(spare, want - header->sectionSize(c));
            if (grow > 0) {
                header->resizeSection(c, header->sectionSize(c) + grow);
                spare -= grow;
            }
        }
    }

    QTableView* m_list;
    QAbstractItemModel* m_model = nullptr;
    QTimer m_later;
};

}  // namespace

void GiveSpareWidthToCutColumns(QTableView* list)
{
    new CSpareWidth(list);
}

#include "ReportList.h"

#include "OptionsStore.h"

#include <QHeaderView>
#include <QTableView>

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
            ok = options.WriteInt(name(i), header->sectionSize(i)) && ok;
    }
    return ok;
}

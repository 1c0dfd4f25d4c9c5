#pragma once

#include "OptionsStore.h"

#include <QHeaderView>
#include <QTableView>

#include <functional>

// The look shared by every list of rows: whole rows selected, grid lines,
// fixed row height, left-aligned titles, columns that may shrink to nothing.
inline void SetUpReportList(QTableView* list, QAbstractItemView::SelectionMode selection)
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

using ColumnWidthNamer = std::function<QString(int column)>;

// Column widths as stored under name(i), the defaults where none is stored.
inline void RestoreColumnWidths(QHeaderView* header, const ColumnWidthNamer& name, const int* defaults, int count)
{
    const COptionsStore options;
    for (int i = 0; i < count; ++i)
        header->resizeSection(i, int(options.ReadInt(name(i), defaults[i])));
}

// Every column the header has, written under name(i).
inline void SaveColumnWidths(const QHeaderView* header, const ColumnWidthNamer& name)
{
    COptionsStore options;
    for (int i = 0; i < header->count(); ++i)
        options.WriteInt(name(i), header->sectionSize(i));
}

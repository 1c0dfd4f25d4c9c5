#pragma once

#include <QAbstractItemView>
#include <QString>

#include <functional>

class QHeaderView;
class QTableView;

// The look shared by every list of rows: whole rows selected, grid lines,
// fixed row height, left-aligned titles, columns that may shrink to nothing.
void SetUpReportList(QTableView* list, QAbstractItemView::SelectionMode selection);

using ColumnWidthNamer = std::function<QString(int column)>;

// Column widths as stored under name(i), the defaults where none is stored.
void RestoreColumnWidths(QHeaderView* header, const ColumnWidthNamer& name, const int* defaults, int count);
template <size_t N>
void RestoreColumnWidths(QHeaderView* header, const ColumnWidthNamer& name, const int (&defaults)[N])
{
    RestoreColumnWidths(header, name, defaults, int(N));
}

// Every column the header has, written under name(i); false when the settings could not be written.
bool SaveColumnWidths(const QHeaderView* header, const ColumnWidthNamer& name);

// Width the list leaves empty goes to the columns whose texts it cuts, left first, as the window
// resizes and rows arrive. Stored widths stay the user's; only spare room is handed out.
void GiveSpareWidthToCutColumns(QTableView* list);

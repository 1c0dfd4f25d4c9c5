#pragma once

#include <QTableView>

// The results list: each row's text is black for an even size group and red
// for an odd one, decided from the row's group index alone. Check boxes,
// grid lines and selection are drawn as usual.
class CColorListCtrl : public QTableView {
    Q_OBJECT
public:
    explicit CColorListCtrl(QWidget* parent = nullptr);

    static QColor GroupColor(int group, const QPalette& palette);

    // Every column inside the list's width: Sr, Size and Last Modified at least as wide as their
    // texts, the folder (elided in the middle, like the name) taking what is left; when that is too
    // little, Size gives up its spare room, then the name. Done on each resize once there are rows;
    // measure again after new rows.
    void FitColumns(bool measure = true);

protected:
    bool viewportEvent(QEvent* event) override;

private:
    int m_wholeWidths[5] = {};  // the texts' widths of the columns shown whole, as last measured
    bool m_measured = false;  // m_wholeWidths come from rows
    bool m_fitting = false;
};

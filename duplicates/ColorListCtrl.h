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
};

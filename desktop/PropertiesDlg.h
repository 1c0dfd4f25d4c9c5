#pragma once

#include <QByteArray>
#include <QDialog>

// Our own properties window, used when the file manager offers none.
class CPropertiesDlg : public QDialog {
    Q_OBJECT
public:
    CPropertiesDlg(QWidget* parent, const QByteArray& path);
};

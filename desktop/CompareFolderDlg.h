#pragma once

#include <QDialog>

class QCheckBox;
class QLabel;
class QLineEdit;

// The folder the results compare the listed files with, and whether it is a reference whose files
// are never proposed. OK stores both; an empty folder compares with none.
class CCompareFolderDlg : public QDialog {
    Q_OBJECT
public:
    explicit CCompareFolderDlg(QWidget* parent = nullptr);

    QLineEdit* FolderEdit() const { return m_folder; }
    QCheckBox* ReferenceBox() const { return m_reference; }
    QString Problem() const;

public slots:
    void accept() override;

private:
    void Browse();

    QLineEdit* m_folder;
    QCheckBox* m_reference;
    QLabel* m_problem;
};

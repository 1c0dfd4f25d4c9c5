#pragma once

#include "FileFilters.h"

#include <QDialog>

class QCheckBox;
class QFormLayout;
class QLabel;
class QLineEdit;
class QPlainTextEdit;

// The listing's filters: the smallest and largest size, names to skip, empty files. OK stores them
// only when every field reads; what is wrong is said beside its field and the dialog stays open.
class CFiltersDlg : public QDialog {
    Q_OBJECT
public:
    explicit CFiltersDlg(QWidget* parent = nullptr);

    // Reads every field, saying beside each what is wrong; true when all of them read.
    bool Check(CFileFilters* filters = nullptr);
    // The problems shown beside the fields, for tests and screen readers.
    QStringList Problems() const;

    QLineEdit* MinimumEdit() const { return m_minimum; }
    QLineEdit* MaximumEdit() const { return m_maximum; }
    QPlainTextEdit* NamesEdit() const { return m_names; }
    QCheckBox* SkipEmptyBox() const { return m_skipEmpty; }

    // A size as the fields show it: "512 KB", "3 MB", or the bytes when no unit divides them; empty for 0.
    static QString SizeField(uint64_t bytes);
    // The filters that are on, for the information bar ("Filters: at least 1 KiB, skipping *.tmp, .git"),
    // or empty when none is.
    static QString Summary(const CFileFilters& filters);

public slots:
    void accept() override;

private:
    QLabel* ProblemLabel(const QString& name);
    // A size field with its label and the problem line beneath it.
    QLineEdit* AddSizeRow(QFormLayout* form, uint64_t bytes, const QString& objectName, const QString& name,
                          const QString& placeholder, const QString& label, QLabel** problem);

    QLineEdit* m_minimum;
    QLineEdit* m_maximum;
    QPlainTextEdit* m_names;
    QCheckBox* m_skipEmpty;
    QLabel* m_minimumProblem;
    QLabel* m_maximumProblem;
    QLabel* m_namesProblem;
};

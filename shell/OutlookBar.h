#pragma once

#include <QDockWidget>

class CFolderTree;

// The left navigation pane "Shortcuts" with its one page, "Folders".
class COutlookBar : public QDockWidget {
    Q_OBJECT
public:
    explicit COutlookBar(QWidget* parent = nullptr);
    CFolderTree* FolderTree() const { return m_tree; }

private:
    CFolderTree* m_tree;
};

// The information bar under the ribbon: an icon and one line of text.
class CInfoBar : public QWidget {
    Q_OBJECT
public:
    explicit CInfoBar(QWidget* parent = nullptr);
    void SetText(const QString& text);
    QString Text() const;

private:
    class QLabel* m_text;
};

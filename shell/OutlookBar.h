#pragma once

#include <QDockWidget>

class CFolderTree;
class QListWidget;

// The left navigation pane "Shortcuts": the home folder, the user's own folders
// (Documents, Pictures, …) and mounted volumes, each a click away in the tree
// of its one page, "Folders".
class COutlookBar : public QDockWidget {
    Q_OBJECT
public:
    explicit COutlookBar(QWidget* parent = nullptr);
    CFolderTree* FolderTree() const { return m_tree; }
    QListWidget* Shortcuts() const { return m_shortcuts; }
    // Reads the shortcuts again (volumes come and go).
    void FillShortcuts();

private:
    CFolderTree* m_tree;
    QListWidget* m_shortcuts;
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

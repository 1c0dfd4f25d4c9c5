#pragma once

#include <QTreeView>

class CFolderModel;

// A folders-only tree of the file system by the folders' bytes, hidden
// folders left out as a file manager does. Every selection is announced after the tree has finished
// handling it (queued), like a posted notice.
class CFolderTree : public QTreeView {
    Q_OBJECT
public:
    explicit CFolderTree(QWidget* parent = nullptr);

    // Selects and shows the folder; false when the tree cannot reach it.
    bool SelectPath(const QString& path);
    // The selected item's file-system path as exact text (see DecodeNativeExact), or empty.
    QString SelectedPath() const;
    // A path as the tree shows it, as exact text of its bytes; empty when ambiguous.
    static QString ExactPath(const QString& shown);
    // Re-reads the folder hierarchy so removed folders disappear.
    void Refresh();

signals:
    void FolderSelected();

protected:
    void focusInEvent(QFocusEvent* event) override;

private:
    CFolderModel* m_model;
};

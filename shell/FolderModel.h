#pragma once

#include "ProtectedFolders.h"

#include <QAbstractItemModel>
#include <QByteArray>
#include <QIcon>

#include <memory>
#include <vector>

// The folders of the file system by their bytes, read a level at a time as
// the tree opens them, so a name that is not UTF-8 is shown (escaped) and
// reached exactly. Hidden folders are left out, as a file manager does.
class CFolderModel : public QAbstractItemModel {
    Q_OBJECT
public:
    explicit CFolderModel(QObject* parent = nullptr);
    ~CFolderModel() override;

    QModelIndex index(int row, int column, const QModelIndex& parent = {}) const override;
    QModelIndex parent(const QModelIndex& child) const override;
    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    bool hasChildren(const QModelIndex& parent = {}) const override;
    bool canFetchMore(const QModelIndex& parent) const override;
    void fetchMore(const QModelIndex& parent) override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;

    // The folder's native path; "/" for the top.
    QByteArray NativePath(const QModelIndex& index) const;
    // The index of an absolute native path, reading the levels on the way; invalid when not shown.
    QModelIndex IndexOf(const QByteArray& path);
    // Forgets what was read, so the next look reads the folders again.
    void Reload();
    // Protected folders and those below them show in italics, their tooltip saying so.
    void SetProtected(CProtectedFolders folders);

private:
    struct CNode;
    CNode* NodeOf(const QModelIndex& index) const;
    void Load(CNode* node, const QModelIndex& index);
    void MarksChanged(const QModelIndex& parent);

    std::unique_ptr<CNode> m_top;  // "/"
    QIcon m_icon;
    CProtectedFolders m_protected;
};

#pragma once

#include "PathArray.h"

#include <QAbstractTableModel>
#include <QStringList>

#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

// The top file list: either one row per listed file or the run's status rows.
// File rows keep their native path, so actions reach exactly that file; the
// texts shown are decoded only when painted.
class CFileListModel : public QAbstractTableModel {
    Q_OBJECT
public:
    using QAbstractTableModel::QAbstractTableModel;

    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override;
    bool setHeaderData(int section, Qt::Orientation orientation, const QVariant& value,
                       int role = Qt::EditRole) override;

    void Clear();
    // Appends file rows: each path with the offset where its name starts.
    void AppendFiles(const CPathArray& paths, const std::vector<uint32_t>& nameStarts);
    void AppendStatus(const QString& text);
    void SetCurrentFile(const QString& path);  // column 2 of the first status row

    bool HoldsFiles() const { return !m_paths.IsEmpty(); }
    std::string_view NativePath(int row) const { return m_paths.At(EntryOf(row)); }
    // The folder without a trailing slash ("/" for a file in the root).
    std::string_view NativeFolder(int row) const;
    QString FileName(int row) const;
    QString Folder(int row) const;
    // Removes a file row; the others keep their numbers.
    void RemoveFileRow(int row);

private:
    int EntryOf(int row) const { return m_rowEntries.empty() && !m_removed ? row : int(m_rowEntries[size_t(row)]); }

    QString m_titles[3] = {QStringLiteral("Sr"), QStringLiteral("File Name"), QStringLiteral("Folder")};
    CPathArray m_paths;
    std::vector<uint32_t> m_nameStarts;
    // Once a row was removed: the entry each row shows (its number is the entry + 1).
    std::vector<uint32_t> m_rowEntries;
    bool m_removed = false;
    QStringList m_status;
    QString m_currentFile;
};

// The folder list: one row per folder with a listed file, and its count.
class CFolderListModel : public QAbstractTableModel {
    Q_OBJECT
public:
    using QAbstractTableModel::QAbstractTableModel;

    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override;

    void Clear();
    // Finds or adds the folder's row (exact match) and shows its count; returns the row.
    int UpdateFolder(std::string_view folder, int count);
    std::string_view NativeFolder(int row) const { return m_rows[size_t(row)].folder; }
    void RemoveFolderRow(int row);

private:
    struct CRow {
        std::string folder;
        int count;
        int sr;  // rows keep their number when another row goes
    };
    std::vector<CRow> m_rows;
    std::unordered_map<std::string, int> m_rowOf;
};

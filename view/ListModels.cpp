#include "ListModels.h"

#include <QFile>

int CFileListModel::rowCount(const QModelIndex& parent) const
{
    if (parent.isValid())
        return 0;
    if (!HoldsFiles())
        return int(m_status.size());
    return m_removed ? int(m_rowEntries.size()) : m_paths.GetSize();
}

int CFileListModel::columnCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : 3;
}

QString CFileListModel::FileName(int row) const
{
    const int entry = EntryOf(row);
    return EscapePath(m_paths.At(entry).substr(m_nameStarts[size_t(entry)]));
}

std::string_view CFileListModel::NativeFolder(int row) const
{
    // A file directly in "/" has the folder "/"; elsewhere the slash before the name goes.
    const int entry = EntryOf(row);
    const uint32_t nameStart = m_nameStarts[size_t(entry)];
    return m_paths.At(entry).substr(0, nameStart > 1 ? nameStart - 1 : 1);
}

QString CFileListModel::Folder(int row) const
{
    return EscapePath(NativeFolder(row));
}

void CFileListModel::RemoveFileRow(int row)
{
    if (!HoldsFiles() || row < 0 || row >= rowCount())
        return;
    if (!m_removed) {
        m_rowEntries.resize(size_t(m_paths.GetSize()));
        for (size_t i = 0; i < m_rowEntries.size(); ++i)
            m_rowEntries[i] = uint32_t(i);
        m_removed = true;
    }
    beginRemoveRows({}, row, row);
    m_rowEntries.erase(m_rowEntries.begin() + row);
    endRemoveRows();
}

QVariant CFileListModel::data(const QModelIndex& index, int role) const
{
    // A status cell's whole text, for when the column cuts it.
    if (role == Qt::ToolTipRole && index.isValid() && !HoldsFiles() && index.column() > 0)
        return data(index, Qt::DisplayRole);
    if (role != Qt::DisplayRole || !index.isValid())
        return {};
    const int row = index.row();
    if (index.column() == 0)
        return QString::number((HoldsFiles() ? EntryOf(row) : row) + 1);
    if (HoldsFiles())
        return index.column() == 1 ? FileName(row) : Folder(row);
    if (index.column() == 1)
        return m_status[row];
    return row == 0 ? m_currentFile : QString();
}

QVariant CFileListModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (orientation == Qt::Horizontal && role == Qt::DisplayRole && section >= 0 && section < 3)
        return m_titles[section];
    return QAbstractTableModel::headerData(section, orientation, role);
}

bool CFileListModel::setHeaderData(int section, Qt::Orientation orientation, const QVariant& value, int role)
{
    if (orientation != Qt::Horizontal || (role != Qt::DisplayRole && role != Qt::EditRole) || section < 0 || section >= 3)
        return false;
    m_titles[section] = value.toString();
    emit headerDataChanged(orientation, section, section);
    return true;
}

void CFileListModel::Clear()
{
    beginResetModel();
    m_paths.RemoveAll();
    std::vector<uint32_t>().swap(m_nameStarts);
    std::vector<uint32_t>().swap(m_rowEntries);
    m_removed = false;
    m_status.clear();
    m_currentFile.clear();
    endResetModel();
}

void CFileListModel::AppendFiles(const CPathArray& paths, const std::vector<uint32_t>& nameStarts)
{
    const int count = paths.GetSize();
    if (count <= 0 || !m_status.isEmpty())
        return;
    const int row = rowCount();
    beginInsertRows({}, row, row + count - 1);
    for (int i = 0; i < count; ++i) {
        if (m_removed)
            m_rowEntries.push_back(uint32_t(m_paths.GetSize()));
        m_paths.Add(paths.At(i));
        m_nameStarts.push_back(nameStarts[size_t(i)]);
    }
    endInsertRows();
}

void CFileListModel::AppendStatus(const QString& text)
{
    if (HoldsFiles())
        return;
    const int row = int(m_status.size());
    beginInsertRows({}, row, row);
    m_status << text;
    endInsertRows();
}

void CFileListModel::SetCurrentFile(const QString& path)
{
    if (m_status.isEmpty() || m_currentFile == path)
        return;
    m_currentFile = path;
    emit dataChanged(index(0, 2), index(0, 2), {Qt::DisplayRole});
}

int CFolderListModel::rowCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : int(m_rows.size());
}

int CFolderListModel::columnCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : 3;
}

QVariant CFolderListModel::data(const QModelIndex& index, int role) const
{
    if (role != Qt::DisplayRole || !index.isValid())
        return {};
    const CRow& r = m_rows[size_t(index.row())];
    switch (index.column()) {
    case 0: return QString::number(r.sr);
    case 1: return EscapePath(r.folder);
    default: return QString::number(r.count);
    }
}

QVariant CFolderListModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    static const QString titles[3] = {QStringLiteral("Sr"), QStringLiteral("Folder"), QStringLiteral("Files Count")};
    if (orientation == Qt::Horizontal && role == Qt::DisplayRole && section >= 0 && section < 3)
        return titles[section];
    return QAbstractTableModel::headerData(section, orientation, role);
}

void CFolderListModel::Clear()
{
    beginResetModel();
    std::vector<CRow>().swap(m_rows);
    m_rowOf.clear();
    endResetModel();
}

void CFolderListModel::RemoveFolderRow(int row)
{
    if (row < 0 || row >= int(m_rows.size()))
        return;
    beginRemoveRows({}, row, row);
    m_rowOf.erase(m_rows[size_t(row)].folder);
    m_rows.erase(m_rows.begin() + row);
    for (auto& [folder, index] : m_rowOf) {
        if (index > row)
            --index;
    }
    endRemoveRows();
}

int CFolderListModel::UpdateFolder(std::string_view folder, int count)
{
    // Linux names are case-sensitive: two folders differing in case are two rows.
    auto [it, added] = m_rowOf.try_emplace(std::string(folder), int(m_rows.size()));
    const int row = it->second;
    if (added) {
        beginInsertRows({}, row, row);
        m_rows.push_back({it->first, count, row + 1});
        endInsertRows();
    } else if (m_rows[size_t(row)].count != count) {
        m_rows[size_t(row)].count = count;
        emit dataChanged(index(row, 2), index(row, 2), {Qt::DisplayRole});
    }
    return row;
}

#include "ListModels.h"

#include <QFile>

namespace {
QString Decode(std::string_view bytes)
{
    return QFile::decodeName(QByteArray::fromRawData(bytes.data(), static_cast<qsizetype>(bytes.size())));
}
}  // namespace

int CFileListModel::rowCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : (HoldsFiles() ? m_paths.GetSize() : int(m_status.size()));
}

int CFileListModel::columnCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : 3;
}

QString CFileListModel::FileName(int row) const
{
    return Decode(m_paths.At(row).substr(m_nameStarts[size_t(row)]));
}

QString CFileListModel::Folder(int row) const
{
    // A file directly in "/" has the folder "/"; elsewhere the slash before the name goes.
    const uint32_t nameStart = m_nameStarts[size_t(row)];
    return Decode(m_paths.At(row).substr(0, nameStart > 1 ? nameStart - 1 : 1));
}

QVariant CFileListModel::data(const QModelIndex& index, int role) const
{
    if (role != Qt::DisplayRole || !index.isValid())
        return {};
    const int row = index.row();
    if (index.column() == 0)
        return QString::number(row + 1);
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
    m_status.clear();
    m_currentFile.clear();
    endResetModel();
}

void CFileListModel::AppendFiles(const CPathArray& paths, const std::vector<uint32_t>& nameStarts, int first)
{
    const int count = paths.GetSize() - first;
    if (count <= 0 || !m_status.isEmpty())
        return;
    const int row = m_paths.GetSize();
    beginInsertRows({}, row, row + count - 1);
    for (int i = first; i < paths.GetSize(); ++i) {
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
    case 0: return QString::number(index.row() + 1);
    case 1: return Decode(r.folder);
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

int CFolderListModel::UpdateFolder(std::string_view folder, int count)
{
    // Linux names are case-sensitive: two folders differing in case are two rows.
    auto [it, added] = m_rowOf.try_emplace(std::string(folder), int(m_rows.size()));
    const int row = it->second;
    if (added) {
        beginInsertRows({}, row, row);
        m_rows.push_back({it->first, count});
        endInsertRows();
    } else if (m_rows[size_t(row)].count != count) {
        m_rows[size_t(row)].count = count;
        emit dataChanged(index(row, 2), index(row, 2), {Qt::DisplayRole});
    }
    return row;
}

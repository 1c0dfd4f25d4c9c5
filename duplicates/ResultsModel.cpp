#include "ResultsModel.h"

#include "ContentCheck.h"
#include "LinkOps.h"
#include "SelectionRules.h"

#include "ListingStatus.h"

#include <QFont>

#include <map>
#include <utility>

namespace {

constexpr uint8_t kNamed = 1;    // another row is the same file
constexpr uint8_t kSharing = 2;  // another row's file shares all its blocks

QString RowNumbers(const std::vector<int>& rows)
{
    QStringList numbers;
    for (size_t i = 0; i < rows.size() && i < 12; ++i)
        numbers << QString::number(rows[i] + 1);
    return (rows.size() > 1 ? QStringLiteral("rows ") : QStringLiteral("row ")) + numbers.join(QStringLiteral(", "))
        + (rows.size() > 12 ? QStringLiteral(", …") : QString());
}

}  // namespace

int CResultsModel::rowCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : int(m_rows.size());
}

int CResultsModel::columnCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : 5;
}

QVariant CResultsModel::data(const QModelIndex& index, int role) const
{
    if (!index.isValid())
        return {};
    const CResultRow& r = m_rows[size_t(index.row())];
    if (role == GroupRole)
        return r.group;
    if (role == Qt::CheckStateRole && index.column() == 0)
        return r.checked ? Qt::Checked : Qt::Unchecked;
    if (role == Qt::FontRole && IsProtected(index.row())) {
        QFont font;
        font.setItalic(true);
        return font;
    }
    if (role == Qt::ToolTipRole && index.column() == 0 && IsProtected(index.row()))
        return LinkOps::ProtectedTip(m_protected, r.Path(), true);
    const uint8_t mark = m_marks.empty() ? 0 : m_marks[size_t(index.row())];
    if (role == Qt::ToolTipRole && mark)
        return MarkTip(index.row());
    if (role == Qt::ToolTipRole && r.failure)
        return QString::fromUtf8(ContentCheck::FailureText(r.failure));
    if (role == Qt::ToolTipRole && (index.column() == 1 || index.column() == 2))
        return EscapePath(r.Path());
    if (role == Qt::ToolTipRole && index.column() == 3 && r.opened)
        return ListingStatus::SizeText(r.sizeKey);
    if (role != Qt::DisplayRole)
        return {};
    switch (index.column()) {
    case 0: return mark ? QString::number(index.row() + 1) + QLatin1Char(' ') + QChar(mark & kNamed ? kSameFileMark : kSharedBlocksMark)
                        : QString::number(index.row() + 1);
    case 1: return EscapePath(r.Name());
    case 2: return EscapePath(r.FolderWithSlash());
    case 3: return r.SizeText();
    default: return r.ModifiedText();
    }
}

bool CResultsModel::setData(const QModelIndex& index, const QVariant& value, int role)
{
    if (!index.isValid() || index.column() != 0 || role != Qt::CheckStateRole)
        return false;
    const bool checked = value.toInt() == Qt::Checked;
    if (checked && IsReference(index.row()))
        return false;  // a reference folder's files are never proposed, not even by hand
    m_rows[size_t(index.row())].checked = checked;
    emit dataChanged(index, index, {Qt::CheckStateRole});
    return true;
}

Qt::ItemFlags CResultsModel::flags(const QModelIndex& index) const
{
    Qt::ItemFlags f = QAbstractTableModel::flags(index);
    if (index.isValid() && index.column() == 0)
        f |= Qt::ItemIsUserCheckable;
    return f;
}

QVariant CResultsModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    static const char* const titles[] = {"Sr", "File Name", "Folder", "Size", "Last Modified"};
    if (orientation == Qt::Horizontal && role == Qt::DisplayRole && section >= 0 && section < 5)
        return QString::fromLatin1(titles[section]);
    return QAbstractTableModel::headerData(section, orientation, role);
}

void CResultsModel::OtherNames(int row, std::vector<int>* sameFile, std::vector<int>* sharing) const
{
    sameFile->clear();
    sharing->clear();
    if (m_sameAs.empty())
        return;
    const auto root = [this](int i) { return m_sameAs[size_t(i)] >= 0 ? m_sameAs[size_t(i)] : i; };
    const CResultRow& r = m_rows[size_t(row)];
    int first = row;
    while (first > 0 && m_rows[size_t(first - 1)].group == r.group)
        --first;
    for (int i = first; i < int(m_rows.size()) && m_rows[size_t(i)].group == r.group; ++i) {
        if (i == row || root(i) != root(row))
            continue;
        const bool same = m_rows[size_t(i)].dev == r.dev && m_rows[size_t(i)].ino == r.ino;
        (same ? sameFile : sharing)->push_back(i);
    }
}

QString CResultsModel::MarkTip(int row) const
{
    std::vector<int> sameFile, sharing;
    OtherNames(row, &sameFile, &sharing);
    QStringList tips;
    if (!sameFile.empty())
        tips << QStringLiteral("Same file as %1 (hard links: trashing one name frees nothing while another stays)").arg(RowNumbers(sameFile));
    if (!sharing.empty())
        tips << QStringLiteral("Shares all its blocks with %1 (trashing one frees nothing while another stays)").arg(RowNumbers(sharing));
    return tips.join(QLatin1Char('\n'));
}

void CResultsModel::Mark()
{
    // Both ends of each pointer are marked, so the first name is marked as well as the later ones.
    m_marks.assign(m_sameAs.size(), 0);
    std::map<std::pair<uint64_t, uint64_t>, int32_t> firstOther;  // files sharing a set's blocks: their first row
    for (size_t i = 0; i < m_sameAs.size(); ++i) {
        const int32_t to = m_sameAs[i];
        if (to < 0)
            continue;
        const CResultRow& a = m_rows[i];
        const CResultRow& b = m_rows[size_t(to)];
        if (a.dev == b.dev && a.ino == b.ino) {
            m_marks[i] |= kNamed;
            m_marks[size_t(to)] |= kNamed;
            continue;
        }
        m_marks[i] |= kSharing;
        m_marks[size_t(to)] |= kSharing;
        // Two names of a file that shares another file's blocks.
        const auto [found, added] = firstOther.emplace(std::make_pair(a.dev, a.ino), int32_t(i));
        if (!added) {
            m_marks[i] |= kNamed;
            m_marks[size_t(found->second)] |= kNamed;
        }
    }
}

void CResultsModel::Clear(size_t rows)
{
    beginResetModel();
    std::vector<CResultRow>().swap(m_rows);
    m_rows.reserve(rows);
    std::vector<int32_t>().swap(m_sameAs);
    std::vector<uint8_t>().swap(m_marks);
    m_keepAlive.clear();
    endResetModel();
}

void CResultsModel::Append(const std::vector<CResultRow>& rows, const std::shared_ptr<const void>& keepAlive)
{
    if (rows.empty())
        return;
    if (m_keepAlive.empty() || m_keepAlive.back() != keepAlive)
        m_keepAlive.push_back(keepAlive);
    const int first = int(m_rows.size());
    beginInsertRows({}, first, first + int(rows.size()) - 1);
    m_rows.insert(m_rows.end(), rows.begin(), rows.end());
    endInsertRows();
}

void CResultsModel::Replace(std::vector<CResultRow> rows, std::shared_ptr<const void> keepAlive, std::vector<int32_t> sameAs)
{
    beginResetModel();
    m_rows = std::move(rows);
    m_keepAlive = {std::move(keepAlive)};
    m_sameAs = sameAs.size() == m_rows.size() ? std::move(sameAs) : SelectionRules::SameFiles(m_rows);
    Mark();
    endResetModel();
}

void CResultsModel::SetAllChecked(bool checked)
{
    for (CResultRow& r : m_rows)
        r.checked = checked && (m_protected.Empty() || !m_protected.Guards(r.Path()));
    if (!m_rows.empty())
        emit dataChanged(index(0, 0), index(int(m_rows.size()) - 1, 0), {Qt::CheckStateRole});
}

void CResultsModel::SetProtected(CProtectedFolders folders)
{
    m_protected = std::move(folders);
    if (!m_rows.empty())
        emit dataChanged(index(0, 0), index(int(m_rows.size()) - 1, columnCount() - 1), {Qt::FontRole, Qt::ToolTipRole});
}

std::vector<QByteArray> CResultsModel::CheckedPaths() const
{
    std::vector<QByteArray> paths;
    for (const CResultRow& r : m_rows) {
        if (r.checked)
            paths.emplace_back(r.path);
    }
    return paths;
}

std::vector<CFileIdentity> CResultsModel::CheckedIdentities() const
{
    std::vector<CFileIdentity> identities;
    for (const CResultRow& r : m_rows) {
        if (r.checked)
            identities.push_back({r.dev, r.ino, r.opened});
    }
    return identities;
}

void CResultsModel::ApplyRule(const std::function<void(std::vector<CResultRow>&)>& rule)
{
    // A rule never changes a protected row: what the user checked by hand there stays.
    std::vector<std::pair<size_t, bool>> kept;
    if (!m_protected.Empty()) {
        for (size_t i = 0; i < m_rows.size(); ++i) {
            if (IsProtected(int(i)))
                kept.emplace_back(i, m_rows[i].checked);
        }
    }
    rule(m_rows);
    for (const auto& [i, checked] : kept)
        m_rows[i].checked = checked;
    if (!m_rows.empty())
        emit dataChanged(index(0, 0), index(int(m_rows.size()) - 1, 0), {Qt::CheckStateRole});
}


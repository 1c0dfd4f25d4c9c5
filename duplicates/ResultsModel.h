#pragma once

#include "ProtectedFolders.h"
#include "ResultsFill.h"
#include "Trash.h"

#include <QAbstractTableModel>

#include <functional>

// The results list's rows over compact structs; texts are made when painted.
class CResultsModel : public QAbstractTableModel {
    Q_OBJECT
public:
    // Marks after the number: a name of a file listed under other names too, and a file whose
    // blocks are all shared with another row's file.
    static constexpr char16_t kSameFileMark = u'\u2261';
    static constexpr char16_t kSharedBlocksMark = u'\u2248';
    // The row's group index, for the list's colours.
    static constexpr int GroupRole = Qt::UserRole + 1;

    using QAbstractTableModel::QAbstractTableModel;

    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role) const override;
    bool setData(const QModelIndex& index, const QVariant& value, int role) override;
    Qt::ItemFlags flags(const QModelIndex& index) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override;

    // rows: how many rows appends may bring, at most. Kept as room, so a large fill never moves
    // what it has (a copy and fresh pages in one event).
    void Clear(size_t rows = 0);
    // keepAlive owns the texts the rows point into; it is held as long as they are.
    void Append(const std::vector<CResultRow>& rows, const std::shared_ptr<const void>& keepAlive);
    // sameAs: SelectionRules::SameFiles of rows when already known (worked out off the UI thread),
    // shared blocks included.
    void Replace(std::vector<CResultRow> rows, std::shared_ptr<const void> keepAlive, std::vector<int32_t> sameAs = {});
    const std::vector<int32_t>& SameFiles() const { return m_sameAs; }
    // Checks every row (but protected ones), or clears every check.
    void SetAllChecked(bool checked);
    // Changes the check marks of many rows at once (a selection rule); protected rows keep theirs.
    void ApplyRule(const std::function<void(std::vector<CResultRow>&)>& rule);
    const std::vector<CResultRow>& Rows() const { return m_rows; }
    // The first row (0-based) that is the same file as row, or shares its blocks, or -1.
    int SameFileAs(int row) const { return m_sameAs.empty() ? -1 : m_sameAs[size_t(row)]; }
    // The other rows (0-based) that are the same file as row (names of its inode), and those that
    // share all its blocks while being files of their own.
    void OtherNames(int row, std::vector<int>* sameFile, std::vector<int>* sharing) const;

    void SetProtected(CProtectedFolders folders);
    const CProtectedFolders& Protected() const { return m_protected; }
    // The row is a protected file, or a copied folder that is, lies in or holds a protected folder.
    bool IsProtected(int row) const { return !m_protected.Empty() && m_protected.Guards(m_rows[size_t(row)].Path()); }
    // The row lies in a reference folder (a copied folder: is, lies in or holds one): never checked.
    bool IsReference(int row) const
    {
        return !m_protected.References().empty() && m_protected.GuardsReference(m_rows[size_t(row)].Path());
    }

    const CResultRow& Row(int row) const { return m_rows[size_t(row)]; }
    std::vector<QByteArray> CheckedPaths() const;
    // What each checked row named when it was examined (unknown for a file that could not be opened).
    std::vector<CFileIdentity> CheckedIdentities() const;

private:
    std::vector<CResultRow> m_rows;
    void Mark();
    QString MarkTip(int row) const;

    std::vector<int32_t> m_sameAs;  // per row, once the rows are final
    std::vector<uint8_t> m_marks;   // per row: kNamed, kSharing
    CProtectedFolders m_protected;
    std::vector<std::shared_ptr<const void>> m_keepAlive;
};

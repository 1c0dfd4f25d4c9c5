#pragma once

#include "ProtectedFolders.h"
#include "ResultRow.h"

#include <set>
#include <string_view>
#include <vector>

// Rules that check rows of the size groups in bulk. Each acts on the groups
// in scope: every group when scope is empty, else the groups it names. Rows
// of one group are neighbours, as the fill leaves them.
namespace SelectionRules {

using GroupSet = std::set<int32_t>;

// In each group, checks every row but the newest (or oldest) one; among rows
// of equal time the one with the smallest path stays unchecked. With prefer, the
// row kept is taken from those it guards (a copied folder that holds one too) when the group has any.
void CheckAllButNewest(std::vector<CResultRow>& rows, const GroupSet& scope, const CProtectedFolders* prefer = nullptr);
void CheckAllButOldest(std::vector<CResultRow>& rows, const GroupSet& scope, const CProtectedFolders* prefer = nullptr);
// Checks the rows whose file lies in folder or below it.
void CheckInFolder(std::vector<CResultRow>& rows, std::string_view folder, const GroupSet& scope);
// Checks the rows whose name or whole path matches the wildcard (* ? [..]).
void CheckMatching(std::vector<CResultRow>& rows, const QString& wildcard, const GroupSet& scope);
void InvertChecks(std::vector<CResultRow>& rows, const GroupSet& scope);

// Groups whose every row is checked, in row order.
std::vector<int32_t> FullyCheckedGroups(const std::vector<CResultRow>& rows);

// What the groups add up to. Rows of files that could not be opened are not counted.
struct CFigures {
    int64_t groups = 0;
    int64_t files = 0;
    // Trashing all but one copy of each group: size x (distinct inodes - 1), summed.
    uint64_t reclaimable = 0;
    int64_t checkedFiles = 0;
    // Trashing the checked rows: each checked inode once, unless an unchecked row keeps it.
    uint64_t checkedReclaimable = 0;
    // Replacing the checked rows by links to an unchecked copy: the same, in groups that keep one,
    // but for files a hard link cannot free (ELink::kHardHeld).
    uint64_t linkReclaimable = 0;
    // The part of linkReclaimable only hard links can free: it comes back once their copies leave the trash.
    uint64_t hardLinkReclaimable = 0;
};

// What a link in a row's place can free, as its file system allows.
enum class ELink : uint8_t {
    kShare,     // blocks shared in place: the copy's own blocks go at once, whatever names it has
    kHard,      // hard links only: the copy goes to the trash, its blocks with it once emptied
    kHardHeld,  // hard links only, and names outside the list keep the copy: nothing is freed
};

// sameAs as SameFiles gives it for these rows; links, when given, one per row.
CFigures Figures(const std::vector<CResultRow>& rows, const std::vector<int32_t>& sameAs,
                 const std::vector<ELink>* links = nullptr);
CFigures Figures(const std::vector<CResultRow>& rows);

// For each row, the first earlier row that is the same file (device and
// inode), or -1.
std::vector<int32_t> SameFiles(const std::vector<CResultRow>& rows);
// The same, where rows of one device with equal nonzero shared[i] (their blocks all shared with each
// other) count as one file too: trashing one frees nothing while another stays.
std::vector<int32_t> SameFiles(const std::vector<CResultRow>& rows, const std::vector<uint64_t>& shared);

}  // namespace SelectionRules

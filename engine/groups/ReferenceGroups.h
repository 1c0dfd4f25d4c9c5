#pragma once

#include "ProtectedFolders.h"
#include "ResultRow.h"
#include "SelectionRules.h"

#include <functional>
#include <vector>

// Groups of a search against reference folders (CProtectedFolders::AddReference): a group whose
// every row lies in a reference folder offers nothing to remove and is left out; the groups kept
// are numbered again from 0 and their rows from 1, in the order they came.
class CReferenceGroups {
public:
    explicit CReferenceGroups(const CProtectedFolders& folders) : m_folders(folders) {}

    // Rows as a drain hands them over: opens tells whether rows[0] starts its group, closes whether
    // the last row ends its group. deliver is called once per whole group kept, with its first row's
    // number. A group is held until its last row comes.
    using CEmit = std::function<void(const std::vector<CResultRow>& rows, size_t firstSr)>;
    void Feed(const std::vector<CResultRow>& rows, bool opens, bool closes, const CEmit& deliver);
    // What the groups kept add up to; reclaimable is what trashing every copy outside the reference
    // folders frees (all but one in a group with none inside).
    const SelectionRules::CFigures& Figures() const { return m_figures; }
    size_t GroupsLeftOut() const { return m_leftOut; }

    // The same over a whole list, in place; returns the groups left out.
    static size_t LeaveOut(std::vector<CResultRow>& rows, const CProtectedFolders& folders);

private:
    void EndGroup(const CEmit& deliver);

    const CProtectedFolders& m_folders;
    std::vector<CResultRow> m_group;
    bool m_outside = false;  // a row of m_group lies outside every reference folder
    size_t m_nextSr = 1;
    int32_t m_nextGroup = 0;
    size_t m_leftOut = 0;
    SelectionRules::CFigures m_figures;
};

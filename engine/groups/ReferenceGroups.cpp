#include "ReferenceGroups.h"

void CReferenceGroups::Feed(const std::vector<CResultRow>& rows, bool opens, bool closes, const CEmit& deliver)
{
    for (size_t i = 0; i < rows.size(); ++i) {
        // A group ends where the number changes, or where a slice said it opens one.
        if (!m_group.empty() && ((i == 0 && opens) || (i > 0 && rows[i].group != rows[i - 1].group)))
            EndGroup(deliver);
        m_group.push_back(rows[i]);
        m_outside = m_outside || !m_folders.InReference(rows[i].Path());
    }
    if (closes && !m_group.empty())
        EndGroup(deliver);
}

void CReferenceGroups::EndGroup(const CEmit& deliver)
{
    if (!m_outside) {
        ++m_leftOut;
    } else {
        for (CResultRow& row : m_group)
            row.group = m_nextGroup;
        ++m_nextGroup;
        // Reclaimable: every copy outside the reference folders, or all but one where none is inside.
        std::vector<CResultRow> kept = m_group;
        bool anyInside = false;
        for (CResultRow& row : kept) {
            row.checked = !m_folders.InReference(row.Path());
            anyInside = anyInside || !row.checked;
        }
        for (size_t i = 0; !anyInside && i < kept.size(); ++i) {
            if (kept[i].opened) {
                kept[i].checked = false;
                anyInside = true;  // the copy kept stands in for one
            }
        }
        SelectionRules::CFigures f = SelectionRules::Figures(m_group);
        f.reclaimable = SelectionRules::Figures(kept).checkedReclaimable;
        m_figures.groups += f.groups;
        m_figures.files += f.files;
        m_figures.reclaimable += f.reclaimable;
        m_figures.checkedFiles += f.checkedFiles;
        m_figures.checkedReclaimable += f.checkedReclaimable;
        m_figures.linkReclaimable += f.linkReclaimable;
        m_figures.hardLinkReclaimable += f.hardLinkReclaimable;
        deliver(m_group, m_nextSr);
        m_nextSr += m_group.size();
    }
    m_group.clear();
    m_outside = false;
}

size_t CReferenceGroups::LeaveOut(std::vector<CResultRow>& rows, const CProtectedFolders& folders)
{
    if (folders.References().empty())
        return 0;
    CReferenceGroups groups(folders);
    std::vector<CResultRow> kept;
    groups.Feed(rows, true, true, [&kept](const std::vector<CResultRow>& group, size_t) {
        kept.insert(kept.end(), group.begin(), group.end());
    });
    rows.swap(kept);
    return groups.GroupsLeftOut();
}

#include "SelectionRules.h"

#include "PathArray.h"

#include <QRegularExpression>

#include <algorithm>
#include <tuple>
#include <utility>

namespace SelectionRules {
namespace {

bool InScope(const CResultRow& row, const GroupSet& scope)
{
    return scope.empty() || scope.count(row.group) != 0;
}

// Calls body(first, last) for each group in scope, [first, last) in rows.
template <typename Rows, typename Body>
void ForEachGroup(Rows& rows, const GroupSet& scope, Body body)
{
    for (size_t first = 0; first < rows.size();) {
        size_t last = first + 1;
        while (last < rows.size() && rows[last].group == rows[first].group)
            ++last;
        if (InScope(rows[first], scope))
            body(first, last);
        first = last;
    }
}

// prefer(a, b): a row of time a is kept rather than one of time b.
template <typename Prefer>
void CheckAllButOne(std::vector<CResultRow>& rows, const GroupSet& scope, Prefer prefer, const CProtectedFolders* folders)
{
    ForEachGroup(rows, scope, [&](size_t first, size_t last) {
        const auto favoured = [&](size_t i) { return folders && folders->Guards(rows[i].Path()); };
        size_t keep = first;
        for (size_t i = first + 1; i < last; ++i) {
            const CResultRow& a = rows[i];
            const CResultRow& b = rows[keep];
            if (favoured(i) != favoured(keep) ? favoured(i)
                : a.modified != b.modified    ? prefer(a.modified, b.modified)
                                              : a.Path() < b.Path())
                keep = i;
        }
        for (size_t i = first; i < last; ++i)
            rows[i].checked = i != keep;
    });
}

}  // namespace

void CheckAllButNewest(std::vector<CResultRow>& rows, const GroupSet& scope, const CProtectedFolders* prefer)
{
    CheckAllButOne(rows, scope, [](int64_t a, int64_t b) { return a > b; }, prefer);
}

void CheckAllButOldest(std::vector<CResultRow>& rows, const GroupSet& scope, const CProtectedFolders* prefer)
{
    CheckAllButOne(rows, scope, [](int64_t a, int64_t b) { return a < b; }, prefer);
}

void CheckInFolder(std::vector<CResultRow>& rows, std::string_view folder, const GroupSet& scope)
{
    while (folder.size() > 1 && folder.back() == '/')
        folder.remove_suffix(1);
    for (CResultRow& row : rows) {
        const std::string_view path = row.Path();
        const bool below = folder == "/" || (path.size() > folder.size() && path.substr(0, folder.size()) == folder
                                             && path[folder.size()] == '/');
        if (below && InScope(row, scope))
            row.checked = true;
    }
}

void CheckMatching(std::vector<CResultRow>& rows, const QString& wildcard, const GroupSet& scope)
{
    // '*' matches across slashes too, so "*/photos/*" means anything below a folder "photos".
    QString regex;
    for (qsizetype i = 0; i < wildcard.size(); ++i) {
        const QChar c = wildcard[i];
        if (c == QLatin1Char('*')) {
            regex += QLatin1String(".*");
        } else if (c == QLatin1Char('?')) {
            regex += QLatin1Char('.');
        } else if (c == QLatin1Char('[') && wildcard.indexOf(QLatin1Char(']'), i + 2) > 0) {
            const qsizetype close = wildcard.indexOf(QLatin1Char(']'), i + 2);
            QString set = wildcard.mid(i + 1, close - i - 1);
            if (set.startsWith(QLatin1Char('!')))
                set[0] = QLatin1Char('^');
            regex += QLatin1Char('[') + set.replace(QLatin1Char('\\'), QLatin1String("\\\\")) + QLatin1Char(']');
            i = close;
        } else {
            regex += QRegularExpression::escape(QString(c));
        }
    }
    const QRegularExpression anchored(QRegularExpression::anchoredPattern(regex), QRegularExpression::DotMatchesEverythingOption);
    for (CResultRow& row : rows) {
        if (!InScope(row, scope))
            continue;
        if (anchored.match(EscapePath(row.Name())).hasMatch() || anchored.match(EscapePath(row.Path())).hasMatch())
            row.checked = true;
    }
}

void InvertChecks(std::vector<CResultRow>& rows, const GroupSet& scope)
{
    for (CResultRow& row : rows) {
        if (InScope(row, scope))
            row.checked = !row.checked;
    }
}

std::vector<int32_t> FullyCheckedGroups(const std::vector<CResultRow>& rows)
{
    std::vector<int32_t> groups;
    ForEachGroup(rows, {}, [&](size_t first, size_t last) {
        bool every = true;
        for (size_t i = first; i < last && every; ++i)
            every = rows[i].checked;
        if (every)
            groups.push_back(rows[first].group);
    });
    return groups;
}

CFigures Figures(const std::vector<CResultRow>& rows, const std::vector<int32_t>& sameAs, const std::vector<ELink>* links)
{
    if (sameAs.size() != rows.size())
        return Figures(rows, SameFiles(rows), links);
    if (links && links->size() != rows.size())
        links = nullptr;
    // One pass: a file's first row stands for all its names; it is freed when every name is checked.
    CFigures f;
    std::vector<char> allChecked(rows.size(), 0);
    for (size_t i = 0; i < rows.size(); ++i) {
        if (sameAs[i] < 0)
            allChecked[i] = rows[i].checked;
        else
            allChecked[size_t(sameAs[i])] &= char(rows[i].checked);
    }
    int32_t group = -1;
    bool keepsACopy = false;  // the group has an unchecked row a link could point to
    for (size_t i = 0; i < rows.size(); ++i) {
        const CResultRow& r = rows[i];
        if (!r.opened)
            continue;
        const bool firstOfGroup = r.group != group;
        group = r.group;
        if (firstOfGroup) {
            keepsACopy = false;
            for (size_t k = i; k < rows.size() && rows[k].group == group && !keepsACopy; ++k)
                keepsACopy = rows[k].opened && !rows[k].checked;
        }
        f.groups += firstOfGroup ? 1 : 0;
        f.files += 1;
        f.checkedFiles += r.checked ? 1 : 0;
        if (sameAs[i] >= 0)
            continue;
        if (!firstOfGroup)
            f.reclaimable += r.sizeKey;
        if (allChecked[i])
            f.checkedReclaimable += r.sizeKey;
        const ELink kind = links ? (*links)[i] : ELink::kShare;
        if (allChecked[i] && keepsACopy && kind != ELink::kHardHeld) {
            f.linkReclaimable += r.sizeKey;
            f.hardLinkReclaimable += kind == ELink::kHard ? r.sizeKey : 0;
        }
    }
    return f;
}

CFigures Figures(const std::vector<CResultRow>& rows)
{
    return Figures(rows, SameFiles(rows));
}

std::vector<int32_t> SameFiles(const std::vector<CResultRow>& rows)
{
    // Names of one file have one size, so they share a group: each group's
    // files are sorted on their own, and memory stays that of the largest group.
    std::vector<int32_t> sameAs(rows.size(), -1);
    struct CName {
        uint64_t dev;
        uint64_t ino;
        int32_t row;
        bool operator<(const CName& o) const { return std::tie(dev, ino, row) < std::tie(o.dev, o.ino, o.row); }
    };
    std::vector<CName> names;
    ForEachGroup(rows, {}, [&](size_t first, size_t last) {
        names.clear();
        for (size_t i = first; i < last; ++i) {
            if (rows[i].opened)
                names.push_back({rows[i].dev, rows[i].ino, int32_t(i)});
        }
        std::sort(names.begin(), names.end());
        for (size_t k = 1; k < names.size(); ++k) {
            const CName& first = names[k - 1];
            if (names[k].dev == first.dev && names[k].ino == first.ino)
                sameAs[size_t(names[k].row)] = sameAs[size_t(first.row)] >= 0 ? sameAs[size_t(first.row)] : first.row;
        }
    });
    return sameAs;
}

std::vector<int32_t> SameFiles(const std::vector<CResultRow>& rows, const std::vector<uint64_t>& shared)
{
    std::vector<int32_t> sameAs = SameFiles(rows);
    if (shared.size() != rows.size())
        return sameAs;
    // Per group, a union of the files whose keys are equal; each set's lowest row stands for it, so
    // every row still points to an earlier one.
    std::vector<std::pair<std::pair<uint64_t, uint64_t>, size_t>> keyed;
    std::vector<size_t> parent;
    ForEachGroup(rows, {}, [&](size_t first, size_t last) {
        keyed.clear();
        for (size_t i = first; i < last; ++i) {
            if (rows[i].opened && shared[i])
                keyed.push_back({{rows[i].dev, shared[i]}, i - first});
        }
        if (keyed.size() < 2)
            return;
        std::sort(keyed.begin(), keyed.end());
        parent.resize(last - first);
        for (size_t i = first; i < last; ++i)
            parent[i - first] = sameAs[i] >= 0 ? size_t(sameAs[i]) - first : i - first;
        const auto find = [&parent](size_t j) {
            while (parent[j] != j)
                j = parent[j] = parent[parent[j]];
            return j;
        };
        for (size_t k = 1; k < keyed.size(); ++k) {
            if (keyed[k].first != keyed[k - 1].first)
                continue;
            const size_t a = find(keyed[k - 1].second), b = find(keyed[k].second);
            parent[std::max(a, b)] = std::min(a, b);
        }
        for (size_t j = 0; j < last - first; ++j) {
            const size_t r = find(j);
            sameAs[first + j] = r == j ? -1 : int32_t(first + r);
        }
    });
    return sameAs;
}

}  // namespace SelectionRules

#include "ProtectedFolders.h"

#include "PathArray.h"

#include <QByteArrayList>

#include <algorithm>

namespace {

std::string_view Trimmed(std::string_view folder)
{
    while (folder.size() > 1 && folder.back() == '/')
        folder.remove_suffix(1);
    return folder;
}

// path lies below one of folders.
bool CoveredBy(const std::vector<std::string>& folders, std::string_view path)
{
    return std::any_of(folders.begin(), folders.end(), [path](const std::string& f) { return IsPathBelow(path, f); });
}

// path lies below one of folders, is one, or holds one.
bool GuardedBy(const std::vector<std::string>& folders, std::string_view path)
{
    path = Trimmed(path);
    return CoveredBy(folders, path) || std::any_of(folders.begin(), folders.end(), [path](const std::string& f) {
        return path == "/" || (f.size() >= path.size() && f.compare(0, path.size(), path) == 0
                               && (f.size() == path.size() || f[path.size()] == '/'));
    });
}

}  // namespace

CProtectedFolders CProtectedFolders::FromStored(const QByteArray& stored)
{
    CProtectedFolders folders;
    for (const QByteArray& line : stored.split('\n')) {
        const QByteArray path = QByteArray::fromPercentEncoding(line);
        // Only absolute paths without a null byte: anything else in the file protects nothing.
        if (path.startsWith('/') && !path.contains('\0') && !folders.Contains(Trimmed(path.toStdString())))
            folders.m_folders.emplace_back(Trimmed(path.toStdString()));
    }
    return folders;
}

QByteArray CProtectedFolders::Stored() const
{
    QByteArrayList lines;
    for (const std::string& f : m_folders)
        lines << QByteArray::fromStdString(f).toPercentEncoding("/");
    return lines.join('\n');
}

bool CProtectedFolders::Covers(std::string_view path) const
{
    return CoveredBy(m_folders, path) || CoveredBy(m_references, path);
}

bool CProtectedFolders::Guards(std::string_view path) const
{
    return GuardedBy(m_folders, path) || GuardedBy(m_references, path);
}

bool CProtectedFolders::InReference(std::string_view path) const
{
    path = Trimmed(path);
    return CoveredBy(m_references, path) || std::find(m_references.begin(), m_references.end(), path) != m_references.end();
}

bool CProtectedFolders::GuardsReference(std::string_view path) const
{
    return GuardedBy(m_references, path);
}

void CProtectedFolders::AddReference(std::string_view folder)
{
    folder = Trimmed(folder);
    if (!folder.empty() && folder.front() == '/'
        && std::find(m_references.begin(), m_references.end(), folder) == m_references.end())
        m_references.emplace_back(folder);
}

std::vector<std::string>::const_iterator CProtectedFolders::Find(std::string_view folder) const
{
    folder = Trimmed(folder);
    return std::find(m_folders.begin(), m_folders.end(), folder);
}

void CProtectedFolders::Toggle(std::string_view folder)
{
    if (folder.empty() || folder.front() != '/')
        return;
    const auto at = Find(folder);
    if (at != m_folders.end())
        m_folders.erase(at);
    else
        m_folders.emplace_back(Trimmed(folder));
}

// The walk's skip rules for folders: by whole path (the configured folders),
// by name (hidden and trash folders) and by the folder's attributes.

#include "AppHelper.h"

#include <fcntl.h>
#include <strings.h>
#include <sys/stat.h>

namespace {

std::string_view LastComponent(std::string_view path)
{
    const size_t slash = path.rfind('/');
    return slash == std::string_view::npos ? path : path.substr(slash + 1);
}

bool EqualsIgnoringCase(std::string_view a, const std::string& b)
{
    return a.size() == b.size() && strncasecmp(a.data(), b.data(), a.size()) == 0;
}

bool EqualsAny(std::string_view path, const std::vector<std::string>& folders)
{
    for (const std::string& f : folders) {
        if (!f.empty() && path == f)
            return true;
    }
    return false;
}

// Whether folder could be the path of a folder below path: path, then '/', then more.
bool IsBelow(std::string_view path, std::string_view folder, bool ignoreCase)
{
    const size_t n = path == "/" ? 0 : path.size();  // "/" ends in its own slash
    if (folder.size() <= n + 1 || folder[n] != '/')
        return false;
    return ignoreCase ? strncasecmp(folder.data(), path.data(), n) == 0 : folder.compare(0, n, path) == 0;
}

bool AnyBelow(std::string_view path, const std::vector<std::string>& folders, bool ignoreCase)
{
    for (const std::string& f : folders) {
        if (IsBelow(path, f, ignoreCase))
            return true;
    }
    return false;
}


// The name of the folder holding path's last component; empty when there is none.
std::string_view ParentName(std::string_view path, std::string_view last)
{
    return path.size() > last.size() ? LastComponent(path.substr(0, path.size() - last.size() - 1))
                                     : std::string_view();
}

}  // namespace

bool CAppHelper::IsFolderIgnored(const QByteArray& path)
{
    const std::string p = path.toStdString();
    return IsFolderIgnoredAt(AT_FDCWD, p.c_str(), p);
}

bool CAppHelper::IsFolderIgnoredAt(int dirFd, const char* statName, std::string_view path) const
{
    return IsFolderIgnoredByPath(path) || HiddenAsUnreadable(dirFd, statName, path);
}

bool CAppHelper::HiddenAsUnreadable(int dirFd, const char* statName, std::string_view path) const
{
    // A folder whose attributes cannot be read counts as hidden.
    struct stat st;
    return m_bIgnoreHiddenFolders && path != "/" && fstatat(dirFd, statName, &st, AT_SYMLINK_NOFOLLOW) != 0;
}

bool CAppHelper::IsFolderIgnoredByPath(std::string_view path, bool listedFolder) const
{
    const CSystemFolders& sf = m_systemFolders;
    if (m_bIgnoreWindowsFolder) {
        for (const std::string& f : sf.osFolders) {
            if (!f.empty() && EqualsIgnoringCase(path, f))
                return true;
        }
    }
    if (m_bIgnoreProgramsFolder && EqualsAny(path, sf.programFolders))
        return true;
    if (m_bIgnoreRecycleBinFolder && !sf.homeTrash.empty() && path == sf.homeTrash)
        return true;
    if (m_bIgnoreLocalAppDataFolder && EqualsAny(path, sf.appDataFolders))
        return true;
    const std::string_view last = LastComponent(path);
    return IsFolderIgnoredByName(ParentName(path, last), last, listedFolder);
}

bool CAppHelper::IsFolderIgnoredByName(std::string_view parentName, std::string_view name, bool listedFolder) const
{
    if (m_bIgnoreRecycleBinFolder && IsVolumeTrashFolder(parentName, name))
        return true;
    // The folder given to list is listed whatever its name: the patterns are for what lies in it.
    if (!listedFolder && !m_filters.skipNames.empty() && m_filters.SkipsName(name))
        return true;
    // "." and ".." name a folder by where it is, not a hidden one.
    return m_bIgnoreHiddenFolders && name.substr(0, 1) == "." && name != "." && name != "..";
}

bool CAppHelper::SkipListsReachBelow(std::string_view path) const
{
    const CSystemFolders& sf = m_systemFolders;
    return (m_bIgnoreWindowsFolder && AnyBelow(path, sf.osFolders, true)) ||
           (m_bIgnoreProgramsFolder && AnyBelow(path, sf.programFolders, false)) ||
           (m_bIgnoreLocalAppDataFolder && AnyBelow(path, sf.appDataFolders, false)) ||
           (m_bIgnoreRecycleBinFolder && IsBelow(path, sf.homeTrash, false));
}

bool CAppHelper::IsRecycleBinFolder(std::string_view path) const
{
    if (!m_systemFolders.homeTrash.empty() && path == m_systemFolders.homeTrash)
        return true;
    const std::string_view last = LastComponent(path);
    return IsVolumeTrashFolder(ParentName(path, last), last);
}

#include "SystemFolders.h"

#include <algorithm>

#include <QMutex>

#include <cstdlib>
#include <vector>
#include <pwd.h>
#include <unistd.h>

namespace {

QMutex g_resolverLock;
SystemFoldersResolver& Resolver()
{
    static SystemFoldersResolver resolver;
    return resolver;
}

std::string HomeFolder()
{
    const char* home = std::getenv("HOME");
    if (home && *home == '/')
        return StripTrailingSlashes(home);
    // Reentrant: the walk thread and the UI thread may both ask.
    std::vector<char> buffer(16384);
    passwd entry {};
    passwd* found = nullptr;
    if (getpwuid_r(getuid(), &entry, buffer.data(), buffer.size(), &found) == 0 && found && found->pw_dir
        && *found->pw_dir == '/')
        return StripTrailingSlashes(found->pw_dir);
    return {};
}

// An XDG base folder: the variable when it holds an absolute path (relative ones
// are invalid by the base-directory rules), else the default below home.
std::string XdgFolder(const char* variable, const char* homeRelative, const std::string& home)
{
    const char* value = std::getenv(variable);
    if (value && *value == '/')
        return StripTrailingSlashes(value);
    return home.empty() ? std::string() : CXdgFolders::JoinPath(home, homeRelative);
}

}  // namespace

std::string StripTrailingSlashes(std::string path)
{
    while (path.size() > 1 && path.back() == '/')
        path.pop_back();
    return path;
}

std::string CXdgFolders::JoinPath(const std::string& folder, const char* name)
{
    return (folder == "/" ? std::string() : folder) + "/" + name;
}

CXdgFolders XdgFolders()
{
    CXdgFolders x;
    x.home = HomeFolder();
    x.cache = XdgFolder("XDG_CACHE_HOME", ".cache", x.home);
    x.state = XdgFolder("XDG_STATE_HOME", ".local/state", x.home);
    x.config = XdgFolder("XDG_CONFIG_HOME", ".config", x.home);
    x.data = XdgFolder("XDG_DATA_HOME", ".local/share", x.home);
    return x;
}

CSystemFolders DefaultSystemFolders()
{
    CSystemFolders f;
    f.osFolders = {"/bin", "/boot", "/dev",  "/etc", "/lib", "/lib32", "/lib64",
                       "/libx32", "/proc", "/run", "/sbin", "/sys", "/usr"};
    f.programFolders = {"/opt", "/usr/local", "/snap", "/var/lib/flatpak", "/var/lib/snapd"};
    const CXdgFolders xdg = XdgFolders();
    f.appDataFolders = {xdg.cache, xdg.state, xdg.config, xdg.data, "/var/lib"};
    f.homeTrash = xdg.Trash();
    return f;
}

CSystemFolders ResolveSystemFolders()
{
    SystemFoldersResolver resolver;
    {
        QMutexLocker lock(&g_resolverLock);
        resolver = Resolver();
    }
    return resolver ? resolver() : DefaultSystemFolders();
}

SystemFoldersResolver SetSystemFoldersResolver(SystemFoldersResolver resolver)
{
    QMutexLocker lock(&g_resolverLock);
    SystemFoldersResolver previous = std::move(Resolver());
    Resolver() = std::move(resolver);
    return previous;
}

bool IsVolumeTrashFolder(std::string_view parentName, std::string_view name)
{
    auto allDigits = [](std::string_view s) {
        return !s.empty() && std::all_of(s.begin(), s.end(), [](char c) { return c >= '0' && c <= '9'; });
    };
    return (name.substr(0, 7) == ".Trash-" && allDigits(name.substr(7))) || (parentName == ".Trash" && allDigits(name));
}

#include "SystemFolders.h"

#include <QMutex>

#include <cstdlib>
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
    if (const passwd* pw = getpwuid(getuid()); pw && pw->pw_dir && *pw->pw_dir == '/')
        return StripTrailingSlashes(pw->pw_dir);
    return {};
}

// An XDG base folder: the variable when it holds an absolute path (relative ones
// are invalid by the base-directory rules), else the default below home.
std::string XdgFolder(const char* variable, const char* homeRelative, const std::string& home)
{
    const char* value = std::getenv(variable);
    if (value && *value == '/')
        return StripTrailingSlashes(value);
    return home.empty() ? std::string() : home + "/" + homeRelative;
}

}  // namespace

std::string StripTrailingSlashes(std::string path)
{
    while (path.size() > 1 && path.back() == '/')
        path.pop_back();
    return path;
}

CSystemFolders DefaultSystemFolders()
{
    CSystemFolders f;
    f.osFolders = {"/bin", "/boot", "/dev",  "/etc", "/lib", "/lib32", "/lib64",
                       "/libx32", "/proc", "/run", "/sbin", "/sys", "/usr"};
    f.programFolders = {"/opt", "/usr/local", "/snap", "/var/lib/flatpak", "/var/lib/snapd"};
    const std::string home = HomeFolder();
    const std::string data = XdgFolder("XDG_DATA_HOME", ".local/share", home);
    f.appDataFolders = {XdgFolder("XDG_CACHE_HOME", ".cache", home), XdgFolder("XDG_STATE_HOME", ".local/state", home),
                        XdgFolder("XDG_CONFIG_HOME", ".config", home), data, "/var/lib"};
    if (!data.empty())
        f.homeTrash = data + "/Trash";
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

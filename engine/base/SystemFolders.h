#pragma once

#include <functional>
#include <string>
#include <string_view>
#include <vector>

// Folders the listing can be told to skip, as native paths without a trailing
// slash. An empty entry matches nothing.
struct CSystemFolders {
    std::vector<std::string> osFolders;       // the operating system's own; compared ignoring case
    std::vector<std::string> programFolders;  // third-party program trees
    std::vector<std::string> appDataFolders;  // cache, state, config, data, system state, in test order
    std::string homeTrash;                    // the desktop trash of the user's data folder
};

// The user's base folders by the XDG rules, derived in one place for the skip
// rules and the trash alike. Empty when no absolute home can be found.
struct CXdgFolders {
    std::string home;
    std::string cache;
    std::string state;
    std::string config;
    std::string data;
    std::string Trash() const { return data.empty() ? std::string() : JoinPath(data, "Trash"); }
    static std::string JoinPath(const std::string& folder, const char* name);
};
CXdgFolders XdgFolders();

using SystemFoldersResolver = std::function<CSystemFolders()>;

// This machine's folders, from the XDG variables and the home folder.
CSystemFolders DefaultSystemFolders();
// The folders the engine uses: DefaultSystemFolders unless a test installed its own.
CSystemFolders ResolveSystemFolders();
// Installs a replacement (an empty function restores the system's); returns the previous one.
SystemFoldersResolver SetSystemFoldersResolver(SystemFoldersResolver resolver);

// A volume's own trash folder by its name: ".Trash-$uid", or "$uid" inside the admin's ".Trash".
// The listing skips them and the trash refuses to move them.
bool IsVolumeTrashFolder(std::string_view parentName, std::string_view name);

// "/a/b/" -> "/a/b"; "/" stays "/".
std::string StripTrailingSlashes(std::string path);

#pragma once

#include <functional>
#include <string>
#include <vector>

// Folders the listing can be told to skip, as native paths without a trailing
// slash. An empty entry matches nothing.
struct CSpecialFolders {
    std::vector<std::string> systemFolders;   // the operating system's own; compared ignoring case
    std::vector<std::string> programFolders;  // third-party program trees
    std::vector<std::string> appDataFolders;  // cache, state, config, data, system state, in test order
    std::string homeTrash;                    // the desktop trash of the user's data folder
};

using SpecialFoldersResolver = std::function<CSpecialFolders()>;

// This machine's folders, from the XDG variables and the home folder.
CSpecialFolders SystemSpecialFolders();
// The folders the engine uses: SystemSpecialFolders unless a test installed its own.
CSpecialFolders ResolveSpecialFolders();
// Installs a replacement (an empty function restores the system's); returns the previous one.
SpecialFoldersResolver SetSpecialFoldersResolver(SpecialFoldersResolver resolver);

// "/a/b/" -> "/a/b"; "/" stays "/".
std::string StripTrailingSlashes(std::string path);

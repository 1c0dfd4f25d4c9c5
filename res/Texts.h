#pragma once

#include "CommandIds.h"

// The program's fixed texts, exactly as users and documentation know them.
namespace Txt {
inline constexpr char SelectFolderFirst[] =
    "Please Select a Folder from the List of Folders (from the Left Hand Side) & then Press the Start Button.";
inline constexpr char AskDuplicateSearch[] = "Do you Want to Search for Duplicate Files Grouped by File Size Now ?";
inline constexpr char LoadingFileList[] = "Loading File List";
inline constexpr char StartPrompt[] = "Press the Start Button to Start Listing Files from the Folder %1.";

inline constexpr char FolderPaneInitial[] = "Selected Folder Will Appear Here";
inline constexpr char FolderPaneNone[] = "Please Select a Folder from the Folder List to Search Duplicate Files";
inline constexpr char FolderPaneNoneTip[] = "Folder Name Selected from the Folder List will Appear Here.";
inline constexpr char FolderPaneTip[] = "Folder %1 Selected to Search for Duplicate File(s).";
inline constexpr char FolderPaneLabel[] = "Folder Selected";
inline constexpr char CountPaneInitial[] = "Number of Files In List Will Appear Here";
inline constexpr char CountPaneLabel[] = "File Count in List";
inline constexpr char InfoBarInitial[] = "Select Folder from the Left Hand Side to List Files.";
inline constexpr char InfoBarIconTitle[] = "Important";
inline constexpr char InfoBarIconTip[] = "Here is an informational message for the user.";

inline constexpr char PaneCaption[] = "Shortcuts";
inline constexpr char PaneName[] = "Outlook Bar";
inline constexpr char FoldersPage[] = "Folders";
inline constexpr char AppButtonTip[] = "Change Application Appearance";
inline constexpr char DocFilter[] = "Sorvane Files (*.svd)";
}  // namespace Txt

// Tooltip title and description of each ribbon command.
struct CCommandTip {
    int id;
    const char* title;
    const char* description;
};

inline constexpr CCommandTip kCommandTips[] = {
    {Cmd::IgnoreWindowsFolder, "Do Not List Files of Windows Folder",
     "Ignore the System's Own Folders ( /usr, /etc, /boot, /proc, /sys and the like ) While Listing Files."},
    {Cmd::IgnoreProgramsFolder, "Do Not List Files of Program Files Folder",
     "Ignore Program Folders ( /opt, /usr/local, /snap and Flatpak's ) While Listing Files."},
    {Cmd::IgnoreHiddenFiles, "Skip Hidden Files in File Listing", "When Listing Files, Ignore all Hidden Files."},
    {Cmd::IgnoreReadOnlyFiles, "Skip Read Only Files in List", "When Listing Files, Ignore all Read Only Files."},
    {Cmd::StartListing, "Start Listing of Files",
     "Start Listing of Files for the Selected Folder in the List Controls of this Software."},
    {Cmd::StopListing, "Stop Listing of Files", "Stop Listing of Files for the Selected Folder in the List Controls of this Software."},
    {Cmd::SearchSubFolders, "Search Files in Sub Folder(s)", "Find Files in Sub Folder(s) of the Selected Folder."},
    {Cmd::ViewFilesCount, "Display Files Count in Every Folder", "Display Number of Files Count in Every Folder when Loading Files."},
    {Cmd::OpenExplorer, "Open Selected Folder in Explorer",
     "Open Windows Explorer with Folder Selected in this Software's Folder Tree."},
    {Cmd::OpenTerminal, "Open Selected Folder in Command Prompt",
     "Open Command Prompt Window with Folder Selected in this Software's Folder Tree."},
    {Cmd::OpenRecycleBin, "Open Recycle Bin", "Open Recycle Bin"},
    {Cmd::ExportFileList, "Export List of Files to a Temporary File",
     "Export List of Files Visible in Top List Control to a Temporary file and Open It."},
    {Cmd::SaveFileListAs, "Save List of Files As",
     "Save the List of Files to a File you Choose: plain UTF-8 lines, or CSV with each file's size and modification time."},
    {Cmd::IgnoreRecycleBinFolder, "Do Not List Files in Recycle Bin", "Ignore Recycle Bin Folder(s) When Listing Files."},
    {Cmd::AutoListLastFolder, "AutoList Files at Startup",
     "Automatically List the Contents of the Last Folder Selected at Application Startup."},
    {Cmd::IgnoreLocalAppDataFolder, "Do Not Load Files from Application Data Folders",
     "Ignore App Data Folders when Listing Files for the Selected Folder."},
    {Cmd::IgnoreHiddenFolders, "Ignore Hidden Folders", "Do Not List Files from Hidden Folders."},
    {Cmd::DisplayFileList, "Display File List in Upper List",
     "Display List of Files as they are found. This will require extra time to parse the selected folder."},
    {Cmd::DuplicatesBySize, "Duplicate Files of Same Size", "Search Duplicate Files from the List by Comparing File Size"},
    {Cmd::RestoreLastTrashed, "Restore Last Trashed", "Put the items last sent to the trash back where they were."},
    {Cmd::DuplicateFolders, "Duplicate Folders",
     "Search Whole Copied Folders in the Listed Folder: the same names all the way down, every file compared byte for byte."},
    {Cmd::FileFilters, "Filters",
     "Leave Files Out of the Listing by Size or Name, and Folders by Name: set the Smallest and Largest Size, Names to Skip, Empty Files."},
    {Cmd::CompareWithFolder, "Compare With Folder",
     "Group the Listed Files Together with the Files of Another Folder; as a Reference, its Files are Never Proposed for Removal."},
    {Cmd::CompareContents, "Compare Contents",
     "Group only files whose contents are identical byte for byte. Takes longer: every candidate file is read."},
    {Cmd::ToggleInfoBar, "Toggle Caption Bar", "Show or hide the caption bar"},
    {Cmd::ViewStatusBar, "Toggle Status Bar", "Show or hide the status bar"},
};

// Menu texts of the list and results commands.
struct CMenuText {
    int id;
    const char* text;
    const char* tip;  // may be null
};

inline constexpr CMenuText kMenuTexts[] = {
    {Cmd::ViewSelectedFile, "View Selected File", nullptr},
    {Cmd::OpenFileFolder, "Open File's Folder", "Display Selected File's Folder in Windows Explorer"},
    {Cmd::LocateFileInExplorer, "Locate File in Explorer", nullptr},
    {Cmd::SendFileToRecycleBin, "Send File to Recycle Bin", nullptr},
    {Cmd::FileProperties, "File Properties", nullptr},
    {Cmd::FolderPropertiesTop, "Folder Properties", nullptr},
    {Cmd::OpenSelectedFolder, "Open Selected Folder", nullptr},
    {Cmd::SendFolderToRecycleBin, "Send Folder to Recycle Bin", nullptr},
    {Cmd::FolderPropertiesBottom, "Folder Properties", nullptr},
    {Cmd::DisplayInExplorer, "Display Selected File(s) in Explorer", nullptr},
    {Cmd::SendCheckedToRecycleBin, "Send Checked File(s) to Recycle Bin", nullptr},
    {Cmd::CheckAll, "Check All", nullptr},
    {Cmd::UnCheckAll, "UnCheck All", nullptr},
    {Cmd::CheckAllButNewest, "Check All But the Newest in Each Group", "Keep the newest file of each group unchecked"},
    {Cmd::CheckAllButOldest, "Check All But the Oldest in Each Group", "Keep the oldest file of each group unchecked"},
    {Cmd::CheckInThisFolder, "Check Files in This Folder",
     "Check every file in the folder of the row under the cursor and below it"},
    {Cmd::CheckMatching, "Check Files Matching…", "Check the files whose name or path matches a wildcard"},
    {Cmd::InvertChecks, "Invert Checks", nullptr},
    {Cmd::RestoreLastTrashed, "Restore Last Trashed", "Put the items last sent to the trash back where they were"},
    {Cmd::ReplaceCheckedWithLinks, "Replace Checked with Links",
     "Replace each checked file by a link to the copy its group keeps, after you confirm: its path stays, its space comes back"},
    {Cmd::ProtectFolder, "Protect This Folder",
     "The helpers never check files in a protected folder, and trashing or linking one asks first"},
};

// The entry of a list or results command; every such id has one.
inline constexpr const CMenuText& MenuText(int id)
{
    for (const CMenuText& t : kMenuTexts) {
        if (t.id == id)
            return t;
    }
    return kMenuTexts[0];
}

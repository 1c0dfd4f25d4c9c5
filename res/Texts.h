#pragma once

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
    {310, "Do Not List Files of Windows Folder", "Ignore Windows Folder ( e.g C:\\Windows ) While Listing Files."},
    {311, "Do Not List Files of Program Files Folder",
     "Ignore Programs Folder ( e.g C:\\Program Files ) While Listing Files."},
    {312, "Skip Hidden Files in File Listing", "When Listing Files, Ignore all Hidden Files."},
    {313, "Skip Read Only Files in List", "When Listing Files, Ignore all Read Only Files."},
    {314, "Start Listing of Files",
     "Start Listing of Files for the Selected Folder in the List Controls of this Software."},
    {315, "Stop Listing of Files", "Stop Listing of Files for the Selected Folder in the List Controls of this Software."},
    {316, "Search Files in Sub Folder(s)", "Find Files in Sub Folder(s) of the Selected Folder."},
    {317, "Display Files Count in Every Folder", "Display Number of Files Count in Every Folder when Loading Files."},
    {318, "Open Selected Folder in Explorer",
     "Open Windows Explorer with Folder Selected in this Software's Folder Tree."},
    {319, "Open Selected Folder in Command Prompt",
     "Open Command Prompt Window with Folder Selected in this Software's Folder Tree."},
    {320, "Open Recycle Bin", "Open Recycle Bin"},
    {321, "Export List of Files to a Temporary File",
     "Export List of Files Visible in Top List Control to a Temporary file and Open It."},
    {322, "Do Not List Files in Recycle Bin", "Ignore Recycle Bin Folder(s) When Listing Files."},
    {323, "AutoList Files at Startup",
     "Automatically List the Contents of the Last Folder Selected at Application Startup."},
    {324, "Do Not Load Files from Application Data Folders",
     "Ignore App Data Folders when Listing Files for the Selected Folder."},
    {325, "Ignore Hidden Folders", "Do Not List Files from Hidden Folders."},
    {326, "Display File List in Upper List",
     "Display List of Files as they are found. This will require extra time to parse the selected folder."},
    {327, "Duplicate Files of Same Size", "Search Duplicate Files from the List by Comparing File Size"},
    {221, "Toggle Caption Bar", "Show or hide the caption bar"},
    {59393, "Toggle Status Bar", "Show or hide the status bar"},
};

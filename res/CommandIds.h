#pragma once

// Command ids keep their historic numbers: settings, key bindings and
// scripts outside the program may name them.
namespace Cmd {
enum : int {
    LookFirst = 210,  // 210..218 application looks
    LookOffice2007Blue = 215,
    LookOffice2007Black = 216,
    LookOffice2007Silver = 217,
    LookOffice2007Aqua = 218,
    LookLast = 218,
    ToggleInfoBar = 221,

    IgnoreWindowsFolder = 310,
    IgnoreProgramsFolder = 311,
    IgnoreHiddenFiles = 312,
    IgnoreReadOnlyFiles = 313,
    StartListing = 314,
    StopListing = 315,
    SearchSubFolders = 316,
    ViewFilesCount = 317,
    OpenExplorer = 318,
    OpenTerminal = 319,
    OpenRecycleBin = 320,
    ExportFileList = 321,
    IgnoreRecycleBinFolder = 322,
    AutoListLastFolder = 323,
    IgnoreLocalAppDataFolder = 324,
    IgnoreHiddenFolders = 325,
    DisplayFileList = 326,
    DuplicatesBySize = 327,
    RestoreLastTrashed = 328,
    CompareContents = 329,
    SaveFileListAs = 330,
    DuplicateFolders = 331,
    FileFilters = 332,
    CompareWithFolder = 333,

    // Row commands of the main window's two lists.
    ViewSelectedFile = 32777,
    OpenFileFolder = 32779,
    OpenSelectedFolder = 32783,
    FileProperties = 32785,
    FolderPropertiesTop = 32787,
    FolderPropertiesBottom = 32789,
    SendFileToRecycleBin = 32792,
    SendFolderToRecycleBin = 32795,
    LocateFileInExplorer = 32797,

    // The results window's commands.
    CheckAll = 32799,
    UnCheckAll = 32801,
    DisplayInExplorer = 32803,
    SendCheckedToRecycleBin = 32806,
    CheckAllButNewest = 32807,
    CheckAllButOldest = 32808,
    CheckInThisFolder = 32809,
    CheckMatching = 32810,
    InvertChecks = 32811,
    ReplaceCheckedWithLinks = 32812,
    ProtectFolder = 32813,

    FileNew = 57600,
    FileOpen = 57601,
    FileClose = 57602,
    FileSave = 57603,
    FileSaveAs = 57604,
    FilePrintSetup = 57606,
    FilePrint = 57607,
    FilePrintDirect = 57608,
    FilePrintPreview = 57609,
    AppAbout = 57664,
    AppExit = 57665,
    ViewStatusBar = 59393,
};
}  // namespace Cmd

// The status-bar panes and the information bar's id.
namespace Pane {
enum : int { Folder = 120, FileCount = 121 };
}

#pragma once

#include "CliLister.h"
#include "FolderGroups.h"
#include "ResultsFill.h"
#include "SelectionRules.h"

#include <vector>

// Writes the groups of a results fill for scripts and people.
class CDuplicatesPrinter {
public:
    enum class EFormat {
        Tabs,   // one line per file: Sr, name, folder, size, last modified, group
        Nuls,   // the same fields each ended by a NUL, each row by one more
        Json,   // one JSON object per group and line
    };
    // firstSr is the row number of rows[0], counted from 1. Rows may begin
    // or end in the middle of a group: opens tells whether rows[0] starts
    // its group, closes whether the last row ends its group.
    static void Print(const std::vector<CResultRow>& rows, size_t firstSr, EFormat format, COutput& out,
                      bool opens = true, bool closes = true);
    // "G Group(s), F File(s), B Byte(s) Reclaimable.": B counts each file
    // (device and inode) of a group once, less one copy per group.
    static QString ReclaimableLine(const SelectionRules::CFigures& figures);

    // Copied folders: one line per folder (group, bytes, files, path), or one JSON object per group.
    static void PrintFolders(const std::vector<FolderGroups::CFolderRow>& rows, EFormat format, COutput& out);
    // "G Group(s) of Copied Folders, F Folder(s).": no byte figure, for a group may lie inside another.
    static QString FoldersLine(const std::vector<FolderGroups::CFolderRow>& rows);

private:
    static void PrintJson(const std::vector<CResultRow>& rows, size_t firstSr, COutput& out, bool opens, bool closes);
};

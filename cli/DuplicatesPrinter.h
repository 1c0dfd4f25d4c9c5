#pragma once

#include "CliLister.h"
#include "ResultsFill.h"

#include <vector>

// Writes the groups of a results fill for scripts and people.
class CDuplicatesPrinter {
public:
    enum class EFormat {
        Tabs,   // one line per file: Sr, name, folder, size, last modified, group
        Nuls,   // the same fields each ended by a NUL, each row by one more
        Json,   // one JSON object per group and line
    };
    static void Print(const std::vector<CResultRow>& rows, EFormat format, COutput& out);
    // "G Group(s), F File(s), B Byte(s) Reclaimable.": B counts each file
    // (device and inode) of a group once, less one copy per group.
    static QString ReclaimableLine(const std::vector<CResultRow>& rows);

private:
    static void PrintJson(const std::vector<CResultRow>& rows, COutput& out);
};

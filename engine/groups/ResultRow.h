#pragma once

#include <QString>

#include <cstdint>
#include <string>
#include <string_view>

// One row of the size groups: a listed file that still exists, with the
// length and last-write time read when the row was made.
struct CResultRow {
    const char* path = nullptr;  // native, NUL-terminated, in the fill's arena
    uint64_t sizeKey = 0;        // the length; 0 when the file could not be opened
    int64_t modified = 0;        // seconds since the epoch, when hasModified
    uint64_t dev = 0;            // the file's device and inode, when opened
    uint64_t ino = 0;
    int32_t group = 0;
    bool opened = false;         // false: Size and Last Modified stay empty
    bool hasModified = false;
    bool checked = false;
    uint8_t failure = 0;         // why the content check could not compare it (ContentCheck::EFailure)

    std::string_view Path() const { return path; }
    // A row's number (Sr) is its place in the list, counted from 1: it is not stored.
    std::string_view Name() const { return Path().substr(Path().rfind('/') + 1); }
    // The folder with its trailing slash ("/" for a file in the root).
    std::string_view FolderWithSlash() const { return Path().substr(0, Path().rfind('/') + 1); }
    QString SizeText() const { return opened ? QString::number(sizeKey) : QString(); }
    // strftime "%x %X" of the local time, in the C runtime's current locale.
    QString ModifiedText() const;
    // The same text as the C runtime's bytes.
    std::string ModifiedBytes() const;
};

// Rows that follow each other in one group show the same Size text: an
// unopened file (empty text) never joins a "0".
inline bool SameSizeText(bool openedA, uint64_t sizeA, bool openedB, uint64_t sizeB)
{
    return openedA == openedB && (!openedA || sizeA == sizeB);
}

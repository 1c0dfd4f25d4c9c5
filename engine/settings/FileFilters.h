#pragma once

#include "OptionsStore.h"

#include <QString>

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

// What a listing leaves out besides its skip rules: files by size, files and folders by name, empty
// files. The defaults leave out nothing, and then the walk looks at nothing more than before.
struct CFileFilters {
    uint64_t minimumSize = 0;  // 0: no lower limit
    uint64_t maximumSize = 0;  // 0: no upper limit
    bool skipEmptyFiles = false;
    std::vector<std::string> skipNames;  // patterns (* ? [...]) matched against a name's bytes
    // Set when the settings could not be read: the walk then lists nothing rather than too much.
    bool unusable = false;

    bool NeedsSize() const { return minimumSize > 0 || maximumSize > 0 || skipEmptyFiles; }
    bool AnyOn() const { return NeedsSize() || !skipNames.empty(); }
    bool SkipsName(std::string_view name) const;
    bool SkipsSize(uint64_t size) const
    {
        return (skipEmptyFiles && size == 0) || size < minimumSize || (maximumSize > 0 && size > maximumSize);
    }
};

namespace FileFilters {

// A size as people write it: "1048576", "512 KB", "1.5 MiB", "2GB"; units are 1024-based, as the
// lists show sizes, with or without the "i", in any case; an empty text is 0. False, with the
// reason in *error, for anything else or a size beyond 64 bits.
bool ParseSize(const QString& text, uint64_t* bytes, QString* error);
// One pattern as the user gives it: false, with the reason, when it is empty or holds a '/' (a name
// never does) or a line break (the stored value keeps one pattern per line).
bool CheckPattern(const QString& pattern, QString* error);
// The stored value: one pattern per line, blank lines ignored.
bool ParsePatterns(const QString& lines, std::vector<std::string>* patterns, QString* error);
// Whether name matches pattern: '*' any run of bytes, '?' one byte, "[...]" one of a set (ranges,
// '!' or '^' to negate), '\' takes the next byte as it is.
bool Matches(std::string_view pattern, std::string_view name);

// The four settings; false, with a message naming the setting, when one cannot be read or the
// minimum lies above the maximum. Then filters->unusable is set.
bool Load(const COptionsStore::CValues& values, CFileFilters* filters, QString* error);

}  // namespace FileFilters

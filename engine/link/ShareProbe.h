#pragma once

#include <cstdint>
#include <string_view>

// What a file system can do for links, asked before a user is asked to choose.
namespace Link {

// Whether the file system holding folder can share blocks between two files in place: two unnamed
// scratch files (O_TMPFILE) in folder, so no name ever appears there, are filled alike and shared;
// where that cannot be tried, its type decides (XFS, Btrfs, bcachefs, OCFS2 can). Tried at each
// call, so a file system mounted anew under an old device number is asked anew: callers keep the
// answer per device for as long as their listing stands.
bool CanShareBlocks(std::string_view folder);

// The extents of the open file fd as one number, when every one is shared with some other file;
// two files of equal number share all their blocks. 0: not shared, unknown, or too many extents.
uint64_t SharedExtentsKey(int fd);

}  // namespace Link

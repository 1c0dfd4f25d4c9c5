#include "ShareProbe.h"

#include "UniqueFd.h"

#include <cerrno>
#include <cstring>
#include <string>
#include <vector>

#include <fcntl.h>
#include <linux/fiemap.h>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <sys/vfs.h>
#include <unistd.h>

namespace Link {
namespace {

bool TypeCanShare(long type)
{
    switch (static_cast<unsigned long>(type)) {
    case 0x58465342:  // XFS (only when made with reflink, the default since xfsprogs 5.1)
    case 0x9123683E:  // Btrfs
    case 0xCA451A4E:  // bcachefs
    case 0x7461636F:  // OCFS2
        return true;
    default:
        return false;
    }
}

// 1: shared, 0: refused as not supported, -1: could not be tried.
int TryShare(int folder)
{
    CFd a(openat(folder, ".", O_TMPFILE | O_RDWR | O_CLOEXEC, 0600));
    CFd b(openat(folder, ".", O_TMPFILE | O_RDWR | O_CLOEXEC, 0600));
    if (a.fd < 0 || b.fd < 0)
        return -1;
    char block[4096];
    std::memset(block, 'S', sizeof block);
    if (pwrite(a.fd, block, sizeof block, 0) != ssize_t(sizeof block) || pwrite(b.fd, block, sizeof block, 0) != ssize_t(sizeof block))
        return -1;
    alignas(file_dedupe_range) char request[sizeof(file_dedupe_range) + sizeof(file_dedupe_range_info)] = {};
    auto* head = reinterpret_cast<file_dedupe_range*>(request);
    head->src_length = sizeof block;
    head->dest_count = 1;
    head->info[0].dest_fd = b.fd;
    if (ioctl(a.fd, FIDEDUPERANGE, head) != 0) {
        const int err = errno;
        return err == EOPNOTSUPP || err == ENOTTY || err == EINVAL || err == ENOSYS || err == EXDEV ? 0 : -1;
    }
    if (head->info[0].status == FILE_DEDUPE_RANGE_SAME && head->info[0].bytes_deduped == sizeof block)
        return 1;
    return head->info[0].status == -EOPNOTSUPP || head->info[0].status == -EINVAL ? 0 : -1;
}

}  // namespace

bool CanShareBlocks(std::string_view folder)
{
    CFd dir(open(std::string(folder.empty() ? std::string_view("/") : folder).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    struct statfs fs {};
    if (dir.fd < 0 || fstatfs(dir.fd, &fs) != 0)
        return true;  // unknown: the link itself will tell
    const int tried = TryShare(dir.fd);
    return tried < 0 ? TypeCanShare(long(fs.f_type)) : tried > 0;
}

uint64_t SharedExtentsKey(int fd)
{
    constexpr unsigned kBatch = 64;
    constexpr unsigned kMostExtents = 4096;
    constexpr uint32_t kUnsure = FIEMAP_EXTENT_UNKNOWN | FIEMAP_EXTENT_DELALLOC | FIEMAP_EXTENT_ENCODED
                                 | FIEMAP_EXTENT_DATA_INLINE | FIEMAP_EXTENT_DATA_TAIL | FIEMAP_EXTENT_NOT_ALIGNED;
    std::vector<char> buffer(sizeof(fiemap) + kBatch * sizeof(fiemap_extent));
    auto* map = reinterpret_cast<fiemap*>(buffer.data());
    // Neighbouring extents that continue each other count as one: one file may hold in pieces what
    // the other holds whole.
    uint64_t hash = 1469598103934665603ull, logical = 0, physical = 0, length = 0;
    const auto mix = [&hash](uint64_t value) {
        for (int i = 0; i < 8; ++i, value >>= 8)
            hash = (hash ^ (value & 0xff)) * 1099511628211ull;
    };
    unsigned seen = 0;
    for (uint64_t start = 0;;) {
        std::memset(buffer.data(), 0, buffer.size());
        map->fm_start = start;
        map->fm_length = FIEMAP_MAX_OFFSET - start;
        map->fm_extent_count = kBatch;
        if (ioctl(fd, FS_IOC_FIEMAP, map) != 0 || map->fm_mapped_extents == 0)
            return 0;
        bool last = false;
        for (unsigned i = 0; i < map->fm_mapped_extents; ++i) {
            const fiemap_extent& e = map->fm_extents[i];
            if (!(e.fe_flags & FIEMAP_EXTENT_SHARED) || (e.fe_flags & kUnsure) || ++seen > kMostExtents)
                return 0;
            if (length && e.fe_logical == logical + length && e.fe_physical == physical + length) {
                length += e.fe_length;
            } else {
                if (length) {
                    mix(logical);
                    mix(physical);
                    mix(length);
                }
                logical = e.fe_logical;
                physical = e.fe_physical;
                length = e.fe_length;
            }
            last = e.fe_flags & FIEMAP_EXTENT_LAST;
            start = e.fe_logical + e.fe_length;
        }
        if (last)
            break;
    }
    mix(logical);
    mix(physical);
    mix(length);
    return hash | 1;
}

}  // namespace Link

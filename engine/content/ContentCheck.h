#pragma once

#include "ResultRow.h"

#include <atomic>
#include <functional>
#include <cstdint>
#include <vector>

class CDigestCache;

// Splits groups of equal size into groups of byte-identical files. Exact: two
// files share a group only when every byte was compared equal (hashes only
// ever split candidates). Staged: size, then the first and last block, then
// the whole file, read in lockstep over the members of a candidate group so
// each byte is read once in the common case; holes of sparse files are
// skipped where every member has one. Hard links join their group unread.
namespace ContentCheck {

struct CProgress {
    std::atomic<uint64_t> total{0};  // bytes to compare
    std::atomic<uint64_t> done{0};   // bytes compared or found not to need it
    std::atomic<uint64_t> read{0};   // bytes actually read from the files
    std::atomic<uint64_t> settled{0};  // files the digest cache proved different, left unread
    // Called on the checking thread after each chunk read, if set.
    std::function<void()> afterChunk;
};

// Why a row left its group.
enum EFailure : uint8_t { kNone, kOpenFailed, kReadFailed, kChanged };
const char* FailureText(uint8_t failure);

// rows: as the size fill leaves them (largest size first, files of one size
// neighbours, groups by size). Afterwards: groups of identical files, largest
// size first, each in input order, numbered and grouped; files that match no
// other dropped; files that could not be compared last, unopened, with the
// reason in failure. False when stopped (rows are then left as they were).
// The groups are checked by several threads (threads 0: as many as the device suits); on a disk
// that spins, or when physicalOrder is set, the groups and their files are taken in the order their
// data lies on the disk. With a cache, files its entries prove different are not read, and
// what the check learns is recorded in it (the caller loads and saves it).
bool Run(std::vector<CResultRow>& rows, const std::atomic<bool>& stop, CProgress* progress = nullptr, int threads = 0,
         bool physicalOrder = false, CDigestCache* cache = nullptr);

}  // namespace ContentCheck

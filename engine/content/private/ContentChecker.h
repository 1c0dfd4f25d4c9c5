#pragma once

#include "ContentArrange.h"
#include "ContentCheck.h"
#include "ContentReaders.h"

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <utility>
#include <vector>

namespace ContentCheck {

// Files open at once while one candidate group is read in lockstep, fewer
// once the process has run out of descriptors.
constexpr size_t kMaxOpen = 64;

// What the checking threads share. Each group of rows is checked by one
// thread, which alone writes that group's entries of classOf and failure.
struct CShared {
    CShared(std::vector<CResultRow>& rows, const std::atomic<bool>& stop, CProgress* progress)
        : rows(rows), stop(stop), progress(progress), classOf(rows.size(), kDropped)
    {
    }

    std::vector<CResultRow>& rows;
    const std::atomic<bool>& stop;
    CProgress* progress;
    std::vector<int32_t> classOf;
    std::atomic<int32_t> nextClass{0};
    std::vector<std::pair<size_t, size_t>> groups;
    std::atomic<size_t> nextGroup{0};
    CBudget* budget = nullptr;  // files held open side by side, by all readers together
    std::vector<uint64_t> physical{};  // by row, where its data starts; empty unless in physical order
    CDigestCache* cache = nullptr;  // what earlier runs learned, and this one adds to
};

// Adds the bytes the groups will compare to the progress total.
void PlanProgress(CShared& shared);
// Takes groups until none is left, splitting each into classes of identical
// files, holding at most maxOpen files of one group open; false when stopped.
bool CheckGroups(CShared& shared, size_t maxOpen);

}  // namespace ContentCheck

#pragma once

#include "ResultRow.h"

#include <cstddef>
#include <vector>

namespace ContentCheck {

// How many groups are read at once, and how many files each reader may hold open.
struct CReaders {
    int count = 1;
    size_t maxOpen = 0;
};
// threads > 0 fixes the count (tests); else it follows the device of the first opened row. The
// readers share what two readers of maxOpenEach files used to hold, in descriptors and chunk buffers.
CReaders PlanReaders(const std::vector<CResultRow>& rows, int threads, size_t maxOpenEach);

}  // namespace ContentCheck

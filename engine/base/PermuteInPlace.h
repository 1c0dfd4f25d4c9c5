#pragma once

#include <cstdint>
#include <vector>

// Puts items[order[k]] at place k for every k, in place, so a million rows
// need no second copy of themselves; order, a permutation of the places, is
// used up.
template <class T>
void PermuteInPlace(std::vector<T>& items, std::vector<uint32_t>& order)
{
    // Each cycle is followed once and its places marked done.
    constexpr uint32_t kDone = UINT32_MAX;
    for (size_t i = 0; i < order.size(); ++i) {
        if (order[i] == kDone || order[i] == i) {
            order[i] = kDone;
            continue;
        }
        T first = items[i];
        size_t at = i;
        while (order[at] != i) {
            const size_t from = order[at];
            items[at] = items[from];
            order[at] = kDone;
            at = from;
        }
        items[at] = first;
        order[at] = kDone;
    }
}

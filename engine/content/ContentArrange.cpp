#include "ContentArrange.h"

#include "PermuteInPlace.h"

#include <algorithm>
#include <unordered_map>

namespace ContentCheck {

void Arrange(std::vector<CResultRow>& rows, const std::vector<int32_t>& classOf)
{
    const size_t n = rows.size();
    std::unordered_map<int32_t, uint32_t> firstRow;
    for (size_t i = 0; i < n; ++i) {
        if (classOf[i] >= 0)
            firstRow.try_emplace(classOf[i], uint32_t(i));
    }
    std::vector<uint32_t> order;
    order.reserve(n);
    for (size_t i = 0; i < n; ++i) {
        if (classOf[i] != kDropped)
            order.push_back(uint32_t(i));
    }
    auto key = [&](uint32_t i) -> uint64_t {
        return classOf[i] >= 0 ? firstRow[classOf[i]] : uint64_t(n) + i;
    };
    std::stable_sort(order.begin(), order.end(), [&](uint32_t a, uint32_t b) { return key(a) < key(b); });
    const size_t kept = order.size();
    int32_t group = -1;
    int32_t lastClass = kDropped - 10;
    for (size_t k = 0; k < kept; ++k) {
        CResultRow& r = rows[order[k]];
        const int32_t cls = classOf[order[k]] >= 0 ? classOf[order[k]] : kFailed;
        if (cls != lastClass)
            ++group;
        lastClass = cls;
        if (cls == kFailed)
            r.opened = false;
        r.group = group;
    }
    for (size_t i = 0; i < n; ++i) {
        if (classOf[i] == kDropped)
            order.push_back(uint32_t(i));  // to the end, to be cut off
    }
    PermuteInPlace(rows, order);
    rows.resize(kept);
}

}  // namespace ContentCheck

#pragma once

#include "ResultRow.h"

#include <cstdint>
#include <vector>

namespace ContentCheck {

// A row's class once the check is done: a group of identical files (0 and up), or one of these.
constexpr int32_t kDropped = -1;  // matches no other file
constexpr int32_t kFailed = -2;   // could not be compared

// Groups in order of size, then of their first row; what could not be
// compared last, unopened; files that match no other dropped. Rows being in
// size order already, a class's place is that of its first row. Done in
// place: the rows are never held twice.
void Arrange(std::vector<CResultRow>& rows, const std::vector<int32_t>& classOf);

}  // namespace ContentCheck

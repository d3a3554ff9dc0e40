// Subscripts of arrays: one per dimension (or one linear index), each a
// single index, a range start:end (end excluded), an array of indices or a
// mask (a comparison result: the array's shape alone, a dimension's length
// for one of several subscripts).
// Negative indices count from the end.
#pragma once

#include <cstdint>
#include <vector>

#include "zyl/value.h"

namespace zyl::lang {

struct SubscriptValue {
  enum class Kind { Single, Range, List, Mask } kind = Kind::Single;
  int64_t index = 0;                      // Single
  bool hasStart = false, hasEnd = false;  // Range
  int64_t start = 0, end = 0;
  std::vector<int64_t> list;      // List; Mask: the positions where it is 1
  std::vector<int64_t> maskDims;  // Mask: its shape
};

// Where the subscripts land: one element (single) or several, with the
// shape of the result (dimensions taken by single indices are dropped).
struct Selection {
  bool single = true;
  int64_t offset = 0;            // single
  std::vector<int64_t> offsets;  // otherwise, in result order
  std::vector<int64_t> resultDims;
};

// Throws ScriptError (line 0) for a wrong number of subscripts or an index
// out of range, saying which dimension and what range is valid.
Selection select(const Array& array, const std::vector<SubscriptValue>& subscripts);
// A new array (or a scalar when single) of the selected elements.
Variable gather(const Array& array, const Selection& selection);
// Stores value into the selected elements: one value for all, or as many
// values as elements; values are converted to the array's type.
void scatter(Array& array, const Selection& selection, const Variable& value);

}  // namespace zyl::lang

// Host numbers taken as whole numbers of a VR or a sample size: every value
// is checked against the range of what it is written as before anything is
// written, so that nothing wraps or is cut silently.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "zyl/host.h"

namespace orvo::file {

struct IntegerRange {
  int64_t minimum;
  int64_t maximum;
};
// "minimum..maximum", as messages name a range.
std::string rangeText(IntegerRange range);

// The elements of a numeric or string variable as whole numbers within
// `range`. The first element that is fractional, not finite or outside the
// range is named in `misfit` (its text), and `values` is then incomplete.
struct WholeNumbers {
  std::vector<int64_t> values;
  std::string misfit;
};
WholeNumbers wholeNumbersIn(HostVar* value, IntegerRange range);

// The elements of a numeric variable as samples of `unit` bytes (1, 2, 4 or 8,
// host byte order): the variable's memory when its elements are integers of
// that size, else each element converted when it is a whole number within
// `range`. A value that is not is named in `misfit` and `bytes` is empty.
struct Samples {
  std::span<const unsigned char> bytes;
  std::vector<unsigned char> converted;  // owns `bytes` when the elements were converted
  std::string misfit;
  int64_t count = 0;  // elements of the variable
};
Samples samplesOf(HostVar* value, size_t unit, IntegerRange range);

// The text a DS value of `value` has: the shortest text that reads back as
// the same number when it fits 16 characters, else the closest that fits.
std::string decimalStringOf(double value);
std::string decimalStringOf(float value);

}  // namespace orvo::file

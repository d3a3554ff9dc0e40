// How values look when printed: numbers, strings, arrays (larger ones with
// their type and dimensions, laid out by rows), structures and objects.
#pragma once

#include <string>

#include "zyl/value.h"

namespace zyl::lang {

// Arrays with more elements than the print limit (!print_limit, 20 unless
// set; 0 for none) print as a preview: the first and last kEdgeValues along
// every longer dimension, laid out as numpy lays out its arrays.
constexpr int64_t kDefaultPrintLimit = 20;
constexpr int64_t kEdgeValues = 3;
int64_t printLimit();
void setPrintLimit(int64_t limit);  // >= 0

// One numeric scalar as print shows it; floating values always show a point
// or an exponent ("2.0", "0.1", "1e+20") so that they read as floating.
std::string formatNumber(Type type, const Scalar& value);
// What print shows for a value; quoteStrings puts string scalars in double
// quotes (inside arrays and structures they always are).
std::string formatValue(const Variable& value, bool quoteStrings = false);
// A string scalar's text, or the value formatted as print shows it.
std::string textOf(const Variable& value);

}  // namespace zyl::lang

// How values look when printed: numbers, strings, arrays (large ones
// summarised by type, dimensions and first values), structures and objects.
#pragma once

#include <string>

#include "zyl/value.h"

namespace zyl::lang {

// Arrays with more elements than this print as a summary.
constexpr int64_t kPrintAllLimit = 20;
// How many leading values a summary shows.
constexpr int64_t kSummaryValues = 8;

// One numeric scalar as print shows it; floating values always show a point
// or an exponent ("2.0", "0.1", "1e+20") so that they read as floating.
std::string formatNumber(Type type, const Scalar& value);
// What print shows for a value; quoteStrings puts string scalars in double
// quotes (inside arrays and structures they always are).
std::string formatValue(const Variable& value, bool quoteStrings = false);
// A string scalar's text, or the value formatted as print shows it.
std::string textOf(const Variable& value);

}  // namespace zyl::lang

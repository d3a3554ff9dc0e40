// Arithmetic, comparison and conversion of values, whole arrays at a time:
// every elementwise operation is one C++ loop over the data, never a loop
// in the evaluator.
//
// Type promotion: the result of a binary operation has the higher of the two
// operand types in the order byte < int16 < uint16 < int32 < uint32 < int64
// < uint64 < float32 < float64; both operands are converted to it first.
// Integer arithmetic (powers included) wraps; bitwise operators and shifts
// take integers only (shifts as numpy's: counts past the width give 0 or -1,
// negative counts are refused); comparisons give byte 0/1
// arrays marked as masks, and compare signed with unsigned integers by value.
// Arrays combine when their shapes agree (trailing dimensions of one aside);
// a scalar or a one-element array combines with any array.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "ast.h"
#include "zyl/value.h"

namespace zyl::lang {

Type promote(Type a, Type b);

Variable binaryOperation(BinaryOp op, const Variable& left, const Variable& right);
Variable negate(const Variable& value);
Variable logicalNot(const Variable& value);
// ~: every bit of an integer flipped; a mask is negated as by 'not'.
Variable bitwiseNot(const Variable& value);
bool isTrue(const Variable& value);  // a condition: scalars (or one-element arrays) only

// Conversion by type name, scalars and arrays (strings are parsed, numbers
// are formatted as print shows them).
Variable convert(const Variable& value, Type to);

// Element i of an array as a value of its own (a structure element becomes a
// one-element structure array with its own copies of the strings).
Variable elementAt(const Array& array, int64_t index);
// Copies one element between arrays of the same element type and structure.
void copyElement(Array& dst, int64_t dstIndex, const Array& src, int64_t srcIndex);
// Stores a scalar (converted to the array's type) into element i.
void storeElement(Array& array, int64_t index, const Variable& scalar);

// Reductions over all elements of a numeric value.
Variable minimum(const Variable& value);
Variable maximum(const Variable& value);
Variable total(const Variable& value);  // int64 for integers, float64 for floating types
double mean(const Variable& value);
// Linear indices of the nonzero elements (an empty int64 array when none).
Variable nonzeroIndices(const Variable& value);
Variable absolute(const Variable& value);
Variable squareRoot(const Variable& value);  // float64 (float32 stays float32)

// An integer index from a scalar, or a message naming what was expected.
int64_t toIndex(const Variable& value, const char* what);
double toDouble(const Variable& value, const char* what);
// The elements of a numeric array as indices, each checked as toIndex does.
std::vector<int64_t> toIndexList(const Variable& values, const char* what);

// A numeric array of the given type with values 0, 1, 2, ... scaled: start + i * step.
Variable rangeArray(double start, double step, int64_t count, Type type);

// The field's value of structure element `index` (strings copied).
Variable fieldValue(const Array& structs, int64_t index, int field);
void storeField(Array& structs, int64_t index, int field, const Variable& scalar);

}  // namespace zyl::lang

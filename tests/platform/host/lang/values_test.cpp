// Value operations in C++: promotion, wrapping and saturation, elementwise
// results, indexing and printing.
#include <gtest/gtest.h>

#include "array_ops.h"
#include "error.h"
#include "indexing.h"
#include "printer.h"

namespace zyl::lang {
namespace {

Variable vector(Type type, std::initializer_list<double> values) {
  const int64_t n = static_cast<int64_t>(values.size());
  auto array = std::make_unique<Array>(type, std::span<const int64_t>(&n, 1), true);
  int64_t i = 0;
  for (double v : values) storeElement(*array, i++, Variable::ofFloat64(v));
  return Variable::ofArray(std::move(array));
}

TEST(Promotion, TakesTheHigherTypeOfTheOrder) {
  const Type order[] = {Type::Byte,  Type::Int16,  Type::UInt16,  Type::Int32,  Type::UInt32,
                        Type::Int64, Type::UInt64, Type::Float32, Type::Float64};
  for (size_t i = 0; i < std::size(order); ++i)
    for (size_t j = 0; j < std::size(order); ++j) {
      EXPECT_EQ(promote(order[i], order[j]), order[std::max(i, j)]);
      Variable scalarResult = binaryOperation(BinaryOp::Add, convert(Variable::ofInt32(1), order[i]),
                                              convert(Variable::ofInt32(2), order[j]));
      EXPECT_EQ(scalarResult.type(), order[std::max(i, j)]);
      Variable arrayResult =
          binaryOperation(BinaryOp::Multiply, vector(order[i], {1, 2}), convert(Variable::ofInt32(3), order[j]));
      EXPECT_EQ(arrayResult.type(), order[std::max(i, j)]);
      EXPECT_EQ(formatValue(arrayResult), isFloating(order[std::max(i, j)]) ? "[3.0, 6.0]" : "[3, 6]");
    }
}

TEST(Arithmetic, WrapsIntegersAndSaturatesConversions) {
  EXPECT_EQ(formatValue(binaryOperation(BinaryOp::Add, vector(Type::Byte, {255, 128}), vector(Type::Byte, {1, 128}))),
            "[0, 0]");
  EXPECT_EQ(
      formatValue(binaryOperation(BinaryOp::Multiply, vector(Type::UInt16, {65535}), vector(Type::UInt16, {65535}))),
      "[1]");
  EXPECT_EQ(formatValue(binaryOperation(BinaryOp::Subtract, Variable::ofInt64(INT64_MIN), Variable::ofInt64(1))),
            std::to_string(INT64_MAX));
  EXPECT_EQ(formatValue(binaryOperation(BinaryOp::Divide, Variable::ofInt32(INT32_MIN), Variable::ofInt32(-1))),
            std::to_string(INT32_MIN));
  EXPECT_EQ(formatValue(convert(vector(Type::Float64, {-1e300, 1e300, 2.9, -2.9}), Type::Int16)),
            "[-32768, 32767, 2, -2]");
  EXPECT_EQ(formatValue(convert(vector(Type::Int32, {-1, 256}), Type::Byte)), "[255, 0]");
  EXPECT_THROW(binaryOperation(BinaryOp::Modulo, vector(Type::Int16, {1, 2}), vector(Type::Int16, {1, 0})),
               ScriptError);
  EXPECT_EQ(formatValue(binaryOperation(BinaryOp::Divide, Variable::ofFloat64(1), Variable::ofFloat64(0))), "inf");
}

TEST(Arithmetic, KeepsTheShapeOfTheArrayOperand) {
  const int64_t dims[] = {2, 3};
  auto grid = std::make_unique<Array>(Type::Float32, std::span<const int64_t>(dims), true);
  Variable result = binaryOperation(BinaryOp::Less, Variable::ofFloat64(-1), Variable::ofArray(std::move(grid)));
  ASSERT_TRUE(result.isArray());
  EXPECT_EQ(result.type(), Type::Byte);
  EXPECT_EQ(result.array()->ndims(), 2);
  EXPECT_EQ(result.array()->dims()[1], 3);
  EXPECT_EQ(formatValue(result), "[[1, 1], [1, 1], [1, 1]]");
}

TEST(Arithmetic, ComparesStringsAndReferences) {
  EXPECT_EQ(formatValue(binaryOperation(BinaryOp::Less, Variable::ofString("abc"), Variable::ofString("abd"))), "1");
  EXPECT_EQ(formatValue(binaryOperation(BinaryOp::Equal, Variable::ofObject(0), Variable::null())), "1");
  EXPECT_EQ(formatValue(binaryOperation(BinaryOp::Equal, Variable::ofObject(3), Variable::null())), "0");
  EXPECT_EQ(formatValue(binaryOperation(BinaryOp::NotEqual, Variable::ofPointer(3), Variable::ofObject(3))), "1");
  EXPECT_THROW(binaryOperation(BinaryOp::Less, Variable::ofString("a"), Variable::ofInt32(1)), ScriptError);
  EXPECT_THROW(binaryOperation(BinaryOp::Add, Variable::ofObject(1), Variable::ofInt32(1)), ScriptError);
}

TEST(Reductions, WorkOnEveryNumericType) {
  Variable v = vector(Type::Int16, {-4, 9, 1});
  EXPECT_EQ(formatValue(minimum(v)), "-4");
  EXPECT_EQ(maximum(v).type(), Type::Int16);
  EXPECT_EQ(formatValue(total(v)), "6");
  EXPECT_DOUBLE_EQ(mean(v), 2.0);
  EXPECT_EQ(formatValue(nonzeroIndices(vector(Type::Float32, {0, 0.5, 0, -1}))), "[1, 3]");
  EXPECT_EQ(formatValue(absolute(v)), "[4, 9, 1]");
  EXPECT_EQ(formatValue(squareRoot(vector(Type::UInt16, {4, 9}))), "[2.0, 3.0]");
  EXPECT_THROW(minimum(vector(Type::Int32, {})), ScriptError);
  EXPECT_THROW(total(Variable::ofString("x")), ScriptError);
}

TEST(Indexing, SelectsAndStoresByDimension) {
  const int64_t dims[] = {4, 3};
  auto grid = std::make_unique<Array>(Type::Int32, std::span<const int64_t>(dims), false);
  for (int i = 0; i < 12; ++i) grid->as<int32_t>()[i] = i;
  SubscriptValue column{};
  column.kind = SubscriptValue::Kind::Range;
  SubscriptValue row{};
  row.index = -1;
  Selection lastRow = select(*grid, {column, row});
  EXPECT_EQ(formatValue(gather(*grid, lastRow)), "[8, 9, 10, 11]");
  SubscriptValue picks{};
  picks.kind = SubscriptValue::Kind::List;
  picks.list = {3, 0};
  SubscriptValue middle{};
  middle.index = 1;
  scatter(*grid, select(*grid, {picks, middle}), vector(Type::Float64, {-1.9, 70000}));
  EXPECT_EQ(grid->as<int32_t>()[7], -1);
  EXPECT_EQ(grid->as<int32_t>()[4], 70000);
  SubscriptValue tooFar{};
  tooFar.index = 4;
  EXPECT_THROW(select(*grid, {tooFar, middle}), ScriptError);
  EXPECT_THROW(select(*grid, {middle, middle, middle}), ScriptError);
  EXPECT_THROW(scatter(*grid, lastRow, vector(Type::Int32, {1, 2})), ScriptError);
}

TEST(Printing, ShowsTypesReadablyAndSummarisesLargeArrays) {
  EXPECT_EQ(formatValue(Variable::ofFloat64(2)), "2.0");
  EXPECT_EQ(formatValue(Variable::ofFloat64(0.1)), "0.1");
  EXPECT_EQ(formatValue(Variable::ofFloat32(0.1f)), "0.1");
  EXPECT_EQ(formatValue(Variable::ofFloat64(1e20)), "1e+20");
  EXPECT_EQ(formatValue(Variable::ofString("a\"b")), "a\"b");
  EXPECT_EQ(formatValue(Variable::ofString("a\"b"), true), "\"a\\\"b\"");
  EXPECT_EQ(formatValue(Variable::null()), "null");
  EXPECT_EQ(formatValue(Variable()), "undefined");
  Variable big = rangeArray(0, 1, kDefaultPrintLimit + 1, Type::UInt64);
  EXPECT_EQ(formatValue(big), "uint64[21] [0, 1, 2, ..., 18, 19, 20]");
  Variable all = rangeArray(0, 0.5, kDefaultPrintLimit, Type::Float64);
  EXPECT_EQ(formatValue(all).substr(0, 16), "[0.0, 0.5, 1.0, ");
}

}  // namespace
}  // namespace zyl::lang

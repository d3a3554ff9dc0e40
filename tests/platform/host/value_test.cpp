// Values without a module: structure layout, arrays, copies and conversions.
#include <cstring>
#include <stdexcept>
#include <vector>

#include "test_support.h"
#include "zyl/runtime.h"

namespace {

using zyl::Type;
using zyl::Variable;

TEST(StructLayout, FollowsNaturalAlignmentAndKeepsFieldOrder) {
  zyl::StructDef def("mixed", {{"flag", Type::Byte},
                               {"wide", Type::Float64},
                               {"text", Type::String},
                               {"half", Type::Int16},
                               {"ref", Type::Pointer},
                               {"small", Type::Float32}});
  EXPECT_EQ(def.name(), "MIXED");
  ASSERT_EQ(def.fields().size(), 6u);
  const size_t expected[] = {0, 8, 16, 32, 40, 48};
  const char* names[] = {"FLAG", "WIDE", "TEXT", "HALF", "REF", "SMALL"};
  for (size_t i = 0; i < 6; ++i) {
    EXPECT_EQ(def.fields()[i].name, names[i]);
    EXPECT_EQ(def.fields()[i].offset, expected[i]) << names[i];
  }
  EXPECT_EQ(def.size(), 56u);  // padded to the 8-byte alignment
  EXPECT_EQ(def.fieldIndex("Half"), 3);
  EXPECT_EQ(def.fieldIndex("HAL"), -1);

  zyl::StructDef bytes("b", {{"a", Type::Byte}, {"b", Type::Int16}, {"c", Type::Byte}});
  EXPECT_EQ(bytes.fields()[1].offset, 2u);
  EXPECT_EQ(bytes.size(), 6u);
}

TEST(Types, NamesRoundTripCaseInsensitively) {
  for (Type t : {Type::Byte, Type::Int16, Type::UInt16, Type::Int32, Type::UInt32, Type::Int64, Type::UInt64,
                 Type::Float32, Type::Float64, Type::String})
    EXPECT_EQ(zyl::typeFromName(zyl::typeName(t)), t);
  EXPECT_EQ(zyl::typeFromName("UINT16"), Type::UInt16);
  EXPECT_EQ(zyl::typeFromName("struct"), Type::Undefined);
  EXPECT_STREQ(zyl::typeName(Type::Null), "null");
}

TEST(Arrays, DeepCopiesOwnTheirStringsIncludingStructFields) {
  zyl::StructDef def("REC", {{"TAG", Type::String}, {"VALUE", Type::Int32}});
  const int64_t dims[] = {3};
  auto records = std::make_unique<zyl::Array>(Type::Struct, dims, true, &def);
  for (int i = 0; i < 3; ++i)
    zyl::hostStringAssign(*reinterpret_cast<zyl::HostString*>(records->element(i)), "tag" + std::to_string(i));
  Variable original = Variable::ofArray(std::move(records));
  Variable copy = original;
  auto* copied = reinterpret_cast<zyl::HostString*>(copy.array()->element(1));
  auto* kept = reinterpret_cast<zyl::HostString*>(original.array()->element(1));
  EXPECT_NE(copied->text, kept->text);
  zyl::hostStringAssign(*copied, "changed");
  EXPECT_STREQ(zyl::hostStringText(*kept), "tag1");
  EXPECT_TRUE(copy.isStruct());

  const int64_t grid[] = {2, 3};
  Variable strings = Variable::ofArray(std::make_unique<zyl::Array>(Type::String, grid, true));
  zyl::hostStringAssign(strings.array()->as<zyl::HostString>()[5], "last");
  Variable other = strings;
  zyl::hostStringRelease(strings.array()->as<zyl::HostString>()[5]);
  EXPECT_STREQ(zyl::hostStringText(other.array()->as<zyl::HostString>()[5]), "last");
  EXPECT_EQ(other.array()->ndims(), 2);
  EXPECT_EQ(other.array()->count(), 6);
}

TEST(Arrays, ShapesAreCheckedAndReshapeKeepsTheCount) {
  const int64_t nine[] = {1, 2, 3, 4, 5, 6, 7, 8, 9};
  EXPECT_THROW(zyl::Array(Type::Int32, std::span<const int64_t>(nine, 9), true), std::invalid_argument);
  EXPECT_THROW(zyl::Array(Type::Struct, std::span<const int64_t>(nine, 1), true), std::invalid_argument);
  zyl::Array a(Type::UInt16, std::span<const int64_t>(nine, 8), true);
  EXPECT_EQ(a.count(), 40320);
  EXPECT_EQ(a.byteSize(), 80640u);
  const int64_t flat[] = {40320};
  EXPECT_TRUE(a.reshape(flat));
  EXPECT_EQ(a.ndims(), 1);
  const int64_t wrong[] = {2, 2};
  EXPECT_FALSE(a.reshape(wrong));
}

TEST(Arrays, SizesThatOverflowAreRefusedBeforeAllocating) {
  struct Case {
    std::vector<int64_t> dims;
    Type type;
  };
  const Case refused[] = {
      {{4294967296, 4294967296}, Type::Byte},  // the count wraps to 0
      {{INT64_MAX, 2}, Type::Byte},            // the count overflows int64
      {{INT64_MAX}, Type::UInt16},             // the byte count overflows
      {{1, 0, INT64_MAX, 3}, Type::Byte},      // zero beside an overflow
      {{2, 2, 2, 2, 2, 2, 2, INT64_MAX / 64}, Type::Float64},
  };
  for (const Case& c : refused) {
    int64_t count = -1;
    EXPECT_FALSE(zyl::arrayElementCount(c.dims, zyl::typeSize(c.type), &count)) << c.dims[0];
    EXPECT_THROW(zyl::Array(c.type, c.dims, false), std::length_error) << c.dims[0];
  }
  int64_t count = -1;
  EXPECT_TRUE(zyl::arrayElementCount(std::vector<int64_t>{3, 0, 5}, 8, &count));
  EXPECT_EQ(count, 0);
  const int64_t empty[] = {0};
  zyl::Array a(Type::Byte, std::span<const int64_t>(empty, 1), true);
  const int64_t wraps[] = {4294967296, 4294967296};
  EXPECT_THROW(a.reshape(wraps), std::length_error);
  EXPECT_EQ(a.ndims(), 1);
  EXPECT_EQ(a.dims()[0], 0);
}

TEST(Variables, CopiesMovesAndSelfAssignmentKeepTextsIntact) {
  Variable s = Variable::ofString("hello");
  Variable t = s;
  EXPECT_NE(s.scalar().str.text, t.scalar().str.text);
  s.setString(s.text().substr(1));  // text taken from the variable itself
  EXPECT_EQ(s.text(), "ello");
  s.setScalar(Type::String, s.scalar());
  EXPECT_EQ(s.text(), "ello");
  s = s;
  EXPECT_EQ(s.text(), "ello");

  Variable moved = std::move(t);
  EXPECT_EQ(moved.text(), "hello");
  EXPECT_FALSE(t.isDefined());

  Variable temp;
  temp.markTemporary(true);
  temp = Variable::ofInt32(5);  // assignment keeps the variable's identity
  EXPECT_TRUE(temp.isTemporary());
  Variable fromTemp = temp;
  EXPECT_FALSE(fromTemp.isTemporary());

  Variable empty = Variable::ofString("");
  EXPECT_TRUE(empty.isScalarString());
  EXPECT_EQ(empty.text(), "");
  EXPECT_EQ(Variable::null().type(), Type::Null);
}

TEST(Conversions, ReadNumbersFromScalarsStringsAndFirstElements) {
  int64_t i = 0;
  double d = 0;
  EXPECT_TRUE(zyl::integerValue(Variable::ofString(" 12 "), &i));
  EXPECT_EQ(i, 12);
  EXPECT_TRUE(zyl::integerValue(Variable::ofString("-2.75"), &i));
  EXPECT_EQ(i, -2);
  EXPECT_TRUE(zyl::numericValue(Variable::ofString("2.5e1"), &d));
  EXPECT_DOUBLE_EQ(d, 25.0);
  EXPECT_FALSE(zyl::integerValue(Variable::ofString("12abc"), &i));
  EXPECT_FALSE(zyl::integerValue(Variable::ofString(""), &i));
  EXPECT_FALSE(zyl::integerValue(Variable(), &i));
  EXPECT_FALSE(zyl::integerValue(Variable::ofObject(3), &i));
  EXPECT_TRUE(zyl::integerValue(Variable::ofUInt64(UINT64_MAX), &i));
  EXPECT_EQ(static_cast<uint64_t>(i), UINT64_MAX);
  EXPECT_TRUE(zyl::integerValue(Variable::ofFloat64(1e300), &i));
  EXPECT_EQ(i, INT64_MAX);

  const int64_t three[] = {3};
  auto a = std::make_unique<zyl::Array>(Type::Int16, three, true);
  a->as<int16_t>()[0] = -7;
  Variable arr = Variable::ofArray(std::move(a));
  EXPECT_TRUE(zyl::integerValue(arr, &i));
  EXPECT_EQ(i, -7);

  std::string text;
  EXPECT_TRUE(zyl::scalarText(Variable::ofFloat64(2.5), &text));
  EXPECT_EQ(text, "2.5");
  EXPECT_TRUE(zyl::scalarText(Variable::ofFloat32(0.1f), &text));
  EXPECT_EQ(text, "0.1");
  EXPECT_TRUE(zyl::scalarText(Variable::ofByte(200), &text));
  EXPECT_EQ(text, "200");
  EXPECT_FALSE(zyl::scalarText(Variable::ofPointer(1), &text));
}

TEST(HostConversions, ConvertTypesOfScalarsAndArrays) {
  HostVar* n = HostConvertType(HostStringToVar("42"), Type::UInt16);
  EXPECT_EQ(n->type(), Type::UInt16);
  EXPECT_EQ(n->scalar().u16, 42);
  HostVar* s = HostConvertType(n, Type::String);
  EXPECT_EQ(s->text(), "42");

  void* data = nullptr;
  HostVar* strings = HostMakeTempVector(Type::String, 3, 1, &data);
  auto* texts = static_cast<zyl::HostString*>(data);
  HostStringStore(&texts[0], "1", -1);
  HostStringStore(&texts[1], "2.9", -1);
  HostStringStore(&texts[2], "-3", -1);
  HostVar* ints = HostConvertType(strings, Type::Int32);
  ASSERT_TRUE(ints->isArray());
  EXPECT_EQ(ints->array()->as<int32_t>()[0], 1);
  EXPECT_EQ(ints->array()->as<int32_t>()[1], 2);
  EXPECT_EQ(ints->array()->as<int32_t>()[2], -3);
  HostVar* back = HostConvertType(ints, Type::String);
  EXPECT_STREQ(zyl::hostStringText(back->array()->as<zyl::HostString>()[2]), "-3");
  EXPECT_EQ(HostULongScalarOf(ints, 1), 2u);

  HostStringStore(&texts[1], "x", -1);
  EXPECT_THROW(HostConvertType(strings, Type::Int32), zyl::HostError);
  EXPECT_THROW(HostToInt(HostStringToVar("seven")), zyl::HostError);
  EXPECT_EQ(HostToInt(HostStringToVar("7")), 7);
  EXPECT_DOUBLE_EQ(HostDoubleScalar(HostTempULong(9)), 9.0);
  EXPECT_EQ(HostToString(HostTempInt(-5))->text(), "-5");
  for (HostVar* v : {n, s, strings, ints, back}) HostFreeTemporary(v);
}

// Numeric arrays convert element by element as numpy's astype does within range:
// floating values truncate toward zero, integers wrap, uint64 keeps its magnitude.
TEST(HostConversions, NumericArraysConvertElementwise) {
  struct Case {
    Type from;
    std::vector<double> values;
    Type to;
    std::vector<double> expected;
  };
  const std::vector<Case> cases{
      {Type::Float64, {2.9, -3.7, 0.0}, Type::Int32, {2, -3, 0}},
      {Type::Float32, {1.5, -0.25}, Type::Float64, {1.5, -0.25}},
      {Type::Int16, {-1, 300}, Type::UInt16, {65535, 300}},
      {Type::Int32, {-7, 70000}, Type::Float32, {-7, 70000}},
      {Type::UInt16, {65535}, Type::Int64, {65535}},
      {Type::Int64, {5000000000, -5000000000}, Type::Int32, {705032704, -705032704}},
      {Type::UInt32, {4000000000}, Type::Int64, {4000000000}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(zyl::typeName(c.from) + std::string(" to ") + zyl::typeName(c.to));
    void* data = nullptr;
    HostVar* source = HostMakeTempVector(c.from, static_cast<int64_t>(c.values.size()), 1, &data);
    for (size_t k = 0; k < c.values.size(); ++k) {
      const double v = c.values[k];
      switch (c.from) {
        case Type::Float64:
          static_cast<double*>(data)[k] = v;
          break;
        case Type::Float32:
          static_cast<float*>(data)[k] = static_cast<float>(v);
          break;
        case Type::Int16:
          static_cast<int16_t*>(data)[k] = static_cast<int16_t>(v);
          break;
        case Type::Int32:
          static_cast<int32_t*>(data)[k] = static_cast<int32_t>(v);
          break;
        case Type::Int64:
          static_cast<int64_t*>(data)[k] = static_cast<int64_t>(v);
          break;
        case Type::UInt32:
          static_cast<uint32_t*>(data)[k] = static_cast<uint32_t>(v);
          break;
        default:
          static_cast<uint16_t*>(data)[k] = static_cast<uint16_t>(v);
          break;
      }
    }
    HostVar* converted = HostConvertType(source, c.to);
    ASSERT_TRUE(converted->isArray());
    ASSERT_EQ(converted->array()->elemType(), c.to);
    for (size_t k = 0; k < c.expected.size(); ++k) {
      double got = 0;
      switch (c.to) {
        case Type::Int32:
          got = converted->array()->as<int32_t>()[k];
          break;
        case Type::Float64:
          got = converted->array()->as<double>()[k];
          break;
        case Type::UInt16:
          got = converted->array()->as<uint16_t>()[k];
          break;
        case Type::Float32:
          got = converted->array()->as<float>()[k];
          break;
        default:
          got = static_cast<double>(converted->array()->as<int64_t>()[k]);
          break;
      }
      EXPECT_EQ(got, c.expected[k]) << "element " << k;
    }
    HostFreeTemporary(converted);
    HostFreeTemporary(source);
  }

  // The largest uint64 keeps its magnitude in a double instead of turning negative.
  void* data = nullptr;
  HostVar* big = HostMakeTempVector(Type::UInt64, 1, 1, &data);
  static_cast<uint64_t*>(data)[0] = UINT64_MAX;
  HostVar* asDouble = HostConvertType(big, Type::Float64);
  EXPECT_EQ(asDouble->array()->as<double>()[0], 18446744073709551615.0);
  HostFreeTemporary(asDouble);
  HostFreeTemporary(big);
}

TEST(HostStrings, BoundedCopiesReportTheFullLength) {
  char buf[8];
  EXPECT_EQ(HostStringCopy(buf, "abcdefghij", sizeof buf), 10u);
  EXPECT_STREQ(buf, "abcdefg");
  HostStringCopy(buf, "ab", sizeof buf);
  EXPECT_EQ(HostStringAppend(buf, "cdefgh", sizeof buf), 8u);
  EXPECT_STREQ(buf, "abcdefg");
  EXPECT_EQ(HostStringAppend(buf, "", sizeof buf), 7u);

  zyl::HostString s{0, nullptr};
  HostStringStore(&s, "abcdef", 3);
  EXPECT_EQ(s.length, 3);
  EXPECT_STREQ(s.text, "abc");
  zyl::HostString shared = s;
  HostStringDuplicate(&shared);
  EXPECT_NE(shared.text, s.text);
  HostStringDelete(&shared);
  HostStringDelete(&s);
  EXPECT_EQ(s.text, nullptr);
}

}  // namespace

// The host's one value model: typed scalars, arrays of up to eight dimensions,
// host strings, structures laid out as C lays them out, heap pointers and
// object references. The interpreter, the module and the tests all use it.
#pragma once

#include <array>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <limits>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <type_traits>
#include <vector>

namespace zyl {

enum class Type : uint8_t {
  Undefined,
  Byte,
  Int16,
  UInt16,
  Int32,
  UInt32,
  Int64,
  UInt64,
  Float32,
  Float64,
  String,
  Struct,
  Pointer,  // heap variable identifier (0: null pointer)
  Object,   // object identifier (0: null object)
  Null,     // the host's null value (a function result meaning "nothing")
};

constexpr int kMaxDims = 8;

// The element count of an array of these dimensions, or false when the count
// or its bytes (elemSize each) would not fit the address space. Dimensions
// must not be negative.
bool arrayElementCount(std::span<const int64_t> dims, size_t elemSize, int64_t* count);

// Bytes one element of this type occupies in an array or a structure.
size_t typeSize(Type type);
// Alignment of one element in a structure (natural C alignment).
size_t typeAlign(Type type);
// The name `typeof` reports: "byte", "int16", ..., "string", "struct",
// "pointer", "object", "undefined", "null".
const char* typeName(Type type);
// Case-insensitive inverse of typeName for the numeric types and "string";
// Type::Undefined when the name is none of them.
Type typeFromName(std::string_view name);
bool isNumeric(Type type);   // Byte .. Float64
bool isInteger(Type type);   // Byte .. UInt64
bool isFloating(Type type);  // Float32, Float64
bool isSigned(Type type);

// A host string: a length and a NUL-terminated text the host owns.
// text == nullptr is the empty string. Use hostStringText() to read it.
struct HostString {
  int32_t length;
  char* text;
};
static_assert(sizeof(HostString) == 16);
inline const char* hostStringText(const HostString& s) { return s.text ? s.text : ""; }

class ClassRecord;

// One field of a structure definition; offsets follow C's natural alignment.
struct StructField {
  std::string name;  // upper case
  Type type;
  size_t offset;
};

// A named structure definition. Definitions live as long as the runtime.
class StructDef {
 public:
  StructDef(std::string name, std::vector<std::pair<std::string, Type>> fields);
  const std::string& name() const { return name_; }
  const std::vector<StructField>& fields() const { return fields_; }
  size_t size() const { return size_; }
  size_t align() const { return align_; }
  // Index of the field (case-insensitive), -1 when absent.
  int fieldIndex(std::string_view name) const;
  ClassRecord* classRecord() const { return classRecord_; }
  void setClassRecord(ClassRecord* record) { classRecord_ = record; }

 private:
  std::string name_;
  std::vector<StructField> fields_;
  size_t size_ = 0;
  size_t align_ = 1;
  ClassRecord* classRecord_ = nullptr;
};

// Contiguous elements of one type (or one structure). Owns the texts of its
// strings, including string fields of structures.
class Array {
 public:
  // dims: one extent per dimension, first varies fastest; 1 to kMaxDims entries.
  // Throws std::length_error when the size does not fit the address space.
  Array(Type elemType, std::span<const int64_t> dims, bool zero, const StructDef* def = nullptr);
  Array(const Array& other);  // deep copy
  Array& operator=(const Array&) = delete;
  ~Array();

  Type elemType() const { return elemType_; }
  const StructDef* structDef() const { return structDef_; }
  int ndims() const { return ndims_; }
  const int64_t* dims() const { return dims_.data(); }
  int64_t count() const { return count_; }
  size_t elemSize() const { return elemSize_; }
  size_t byteSize() const { return elemSize_ * static_cast<size_t>(count_); }
  std::byte* data() { return storage_.get(); }
  const std::byte* data() const { return storage_.get(); }
  template <typename T>
  T* as() {
    return reinterpret_cast<T*>(storage_.get());
  }
  template <typename T>
  const T* as() const {
    return reinterpret_cast<const T*>(storage_.get());
  }
  // Element i of a structure array.
  std::byte* element(int64_t i) { return storage_.get() + elemSize_ * static_cast<size_t>(i); }
  // A mask is the 0/1 result of a comparison: as a subscript it selects the
  // elements where it is 1. Copies and reshapes keep the mark.
  bool isMask() const { return mask_; }
  void setMask(bool mask) { mask_ = mask; }
  // Changes the shape without changing the element count (false when the
  // count differs). Throws std::length_error when the dimensions overflow.
  bool reshape(std::span<const int64_t> dims);

 private:
  void releaseStrings();
  Type elemType_;
  const StructDef* structDef_;
  int ndims_ = 0;
  std::array<int64_t, kMaxDims> dims_{};
  int64_t count_ = 0;
  size_t elemSize_ = 0;
  bool mask_ = false;
  std::unique_ptr<std::byte[]> storage_;
};

union Scalar {
  uint8_t u8;
  int16_t i16;
  uint16_t u16;
  int32_t i32;
  uint32_t u32;
  int64_t i64;
  uint64_t u64;
  float f32;
  double f64;
  HostString str;
  uint64_t id;  // Pointer and Object
};

// The number types and their C types, both ways: the one place that pairs
// them. numberTypeOf<C>() is the number type of a C type; withNumberType calls
// f(std::type_identity<C>{}) with the C type of a number type and returns
// otherwise() for any other type (which must give f's result type).
template <typename C>
constexpr Type numberTypeOf() {
  if constexpr (std::is_same_v<C, uint8_t>)
    return Type::Byte;
  else if constexpr (std::is_same_v<C, int16_t>)
    return Type::Int16;
  else if constexpr (std::is_same_v<C, uint16_t>)
    return Type::UInt16;
  else if constexpr (std::is_same_v<C, int32_t>)
    return Type::Int32;
  else if constexpr (std::is_same_v<C, uint32_t>)
    return Type::UInt32;
  else if constexpr (std::is_same_v<C, int64_t>)
    return Type::Int64;
  else if constexpr (std::is_same_v<C, uint64_t>)
    return Type::UInt64;
  else if constexpr (std::is_same_v<C, float>)
    return Type::Float32;
  else if constexpr (std::is_same_v<C, double>)
    return Type::Float64;
  else
    return Type::Undefined;
}

template <typename F, typename G>
decltype(auto) withNumberType(Type type, F&& f, G&& otherwise) {
  switch (type) {
    case Type::Byte:
      return f(std::type_identity<uint8_t>{});
    case Type::Int16:
      return f(std::type_identity<int16_t>{});
    case Type::UInt16:
      return f(std::type_identity<uint16_t>{});
    case Type::Int32:
      return f(std::type_identity<int32_t>{});
    case Type::UInt32:
      return f(std::type_identity<uint32_t>{});
    case Type::Int64:
      return f(std::type_identity<int64_t>{});
    case Type::UInt64:
      return f(std::type_identity<uint64_t>{});
    case Type::Float32:
      return f(std::type_identity<float>{});
    case Type::Float64:
      return f(std::type_identity<double>{});
    default:
      return otherwise();
  }
}

// The scalar holding a number of C type C in the member of its type, and the
// number a scalar holds (every member starts at the union's first byte).
template <typename C>
Scalar scalarOf(C v) {
  static_assert(numberTypeOf<C>() != Type::Undefined, "a number type a scalar holds");
  Scalar s{};
  std::memcpy(&s, &v, sizeof v);
  return s;
}
template <typename C>
C numberOf(const Scalar& s) {
  static_assert(numberTypeOf<C>() != Type::Undefined, "a number type a scalar holds");
  C v;
  std::memcpy(&v, &s, sizeof v);
  return v;
}

// A number converted to another C type: integers wrap, floating values
// truncate toward zero and saturate at an integer type's bounds (NaN gives 0).
template <typename To, typename From>
To convertNumber(From v) {
  if constexpr (std::is_floating_point_v<From> && std::is_integral_v<To>) {
    if (std::isnan(v)) return 0;
    if (v <= static_cast<From>(std::numeric_limits<To>::min())) return std::numeric_limits<To>::min();
    if (v >= static_cast<From>(std::numeric_limits<To>::max())) return std::numeric_limits<To>::max();
    return static_cast<To>(v);
  } else {
    return static_cast<To>(v);
  }
}

// A number as a double and (exactly, for integers) as an int64; floating
// values truncate toward zero and saturate, a uint64 above INT64_MAX wraps in
// the int64 while the double keeps its magnitude.
template <typename C>
void numberParts(C v, double* d, int64_t* i) {
  *d = static_cast<double>(v);
  if constexpr (std::is_floating_point_v<C>)
    *i = convertNumber<int64_t>(static_cast<double>(v));
  else
    *i = static_cast<int64_t>(v);
}

// A host variable: undefined, a scalar, or an array. Structures are always
// arrays (one element for a single structure).
class Variable {
 public:
  Variable() {
    scalar_.u64 = 0;
    scalar_.str.text = nullptr;
  }
  Variable(const Variable& other);
  Variable(Variable&& other) noexcept;
  Variable& operator=(const Variable& other);
  Variable& operator=(Variable&& other) noexcept;
  ~Variable();

  // Constructors of scalars.
  static Variable ofByte(uint8_t v);
  static Variable ofInt16(int16_t v);
  static Variable ofUInt16(uint16_t v);
  static Variable ofInt32(int32_t v);
  static Variable ofUInt32(uint32_t v);
  static Variable ofInt64(int64_t v);
  static Variable ofUInt64(uint64_t v);
  static Variable ofFloat32(float v);
  static Variable ofFloat64(double v);
  static Variable ofString(std::string_view text);
  static Variable ofPointer(uint64_t heapId);
  static Variable ofObject(uint64_t objectId);
  static Variable null();
  static Variable ofArray(std::unique_ptr<Array> array);

  Type type() const { return type_; }
  bool isArray() const { return array_ != nullptr; }
  bool isDefined() const { return type_ != Type::Undefined; }
  bool isStruct() const { return type_ == Type::Struct; }
  bool isScalarString() const { return type_ == Type::String && !array_; }

  Scalar& scalar() { return scalar_; }
  const Scalar& scalar() const { return scalar_; }
  Array* array() { return array_.get(); }
  const Array* array() const { return array_.get(); }
  // Text of a scalar string ("" for other values).
  std::string_view text() const;

  // Release the value; the variable becomes undefined.
  void clear();
  // Scalar setters keep the variable's identity (output variables).
  void setScalar(Type type, const Scalar& value);  // strings are copied
  void setString(std::string_view text);
  void setArray(std::unique_ptr<Array> array);

  // Temporaries are variables the runtime made for a routine call; the
  // runtime frees them when the call ends unless they were handed over.
  bool isTemporary() const { return temporary_; }
  void markTemporary(bool temporary) { temporary_ = temporary; }

 private:
  Type type_ = Type::Undefined;
  bool temporary_ = false;
  Scalar scalar_;
  std::unique_ptr<Array> array_;
};

// Numeric conversions used throughout: value of a numeric scalar or of one
// element of a numeric array. Strings are parsed as numbers ("12" -> 12).
// Returns false when the value has no numeric reading.
bool numericValue(const Variable& v, double* out);
bool integerValue(const Variable& v, int64_t* out);

// One element of type at p as a double and (exactly, for integers) as an
// int64; floating values truncate toward zero and saturate. False for a type
// with no numeric reading or a string that is not a number.
bool elementNumber(Type type, const void* p, double* d, int64_t* i);

// Text of a scalar (or of the first element of an array) as print shows it:
// integers in decimal, floating values in their shortest exact form, strings
// as they are. False for undefined values, structures, pointers and objects.
bool scalarText(const Variable& v, std::string* out);

// Makes and frees host string texts (the host's allocator).
void hostStringAssign(HostString& s, std::string_view text);
void hostStringRelease(HostString& s);

}  // namespace zyl

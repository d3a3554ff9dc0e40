// Values: types, host strings, structure layout, arrays and variables.
#include "zyl/value.h"

#include <cctype>
#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <stdexcept>

#include "state.h"

namespace zyl {

std::string upperName(std::string_view name) {
  std::string out(name);
  for (char& c : out) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return out;
}

bool sameName(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i)
    if (std::toupper(static_cast<unsigned char>(a[i])) != std::toupper(static_cast<unsigned char>(b[i]))) return false;
  return true;
}

// ---------------------------------------------------------------- types

size_t typeSize(Type type) {
  return withNumberType(
      type, [](auto c) { return sizeof(typename decltype(c)::type); },
      [&]() -> size_t {
        if (type == Type::Pointer || type == Type::Object) return sizeof(uint64_t);
        return type == Type::String ? sizeof(HostString) : 0;
      });
}

size_t typeAlign(Type type) { return type == Type::String ? alignof(HostString) : typeSize(type); }

const char* typeName(Type type) {
  switch (type) {
    case Type::Undefined:
      return "undefined";
    case Type::Byte:
      return "byte";
    case Type::Int16:
      return "int16";
    case Type::UInt16:
      return "uint16";
    case Type::Int32:
      return "int32";
    case Type::UInt32:
      return "uint32";
    case Type::Int64:
      return "int64";
    case Type::UInt64:
      return "uint64";
    case Type::Float32:
      return "float32";
    case Type::Float64:
      return "float64";
    case Type::String:
      return "string";
    case Type::Struct:
      return "struct";
    case Type::Pointer:
      return "pointer";
    case Type::Object:
      return "object";
    case Type::Null:
      return "null";
  }
  return "undefined";
}

Type typeFromName(std::string_view name) {
  for (Type t : {Type::Byte, Type::Int16, Type::UInt16, Type::Int32, Type::UInt32, Type::Int64, Type::UInt64,
                 Type::Float32, Type::Float64, Type::String})
    if (sameName(name, typeName(t))) return t;
  return Type::Undefined;
}

bool isNumeric(Type type) { return type >= Type::Byte && type <= Type::Float64; }
bool isInteger(Type type) { return type >= Type::Byte && type <= Type::UInt64; }
bool isFloating(Type type) { return type == Type::Float32 || type == Type::Float64; }
bool isSigned(Type type) {
  return type == Type::Int16 || type == Type::Int32 || type == Type::Int64 || isFloating(type);
}

// ---------------------------------------------------------------- host strings

void hostStringAssign(HostString& s, std::string_view text) {
  // The length is 32 bits wide.
  if (text.size() > static_cast<size_t>(INT32_MAX))
    throw std::length_error("string too long: " + std::to_string(text.size()) + " bytes (at most 2147483647)");
  char* fresh = nullptr;
  if (!text.empty()) {
    fresh = static_cast<char*>(std::malloc(text.size() + 1));
    if (fresh == nullptr) throw std::bad_alloc();
    std::memcpy(fresh, text.data(), text.size());
    fresh[text.size()] = '\0';
  }
  std::free(s.text);  // after the copy: text may point into s
  s.text = fresh;
  s.length = static_cast<int32_t>(text.size());
}

void hostStringRelease(HostString& s) {
  std::free(s.text);
  s.text = nullptr;
  s.length = 0;
}

namespace {

std::string_view hostStringView(const HostString& s) {
  return s.text ? std::string_view(s.text, static_cast<size_t>(s.length)) : std::string_view();
}

// Gives s a private copy of the text it points at (after a byte copy).
void duplicateInPlace(HostString& s) {
  const HostString shared = s;
  s = HostString{0, nullptr};
  hostStringAssign(s, hostStringView(shared));
}

}  // namespace

// ---------------------------------------------------------------- structures

StructDef::StructDef(std::string name, std::vector<std::pair<std::string, Type>> fields) : name_(upperName(name)) {
  size_t offset = 0;
  for (auto& [fieldName, type] : fields) {
    const size_t align = typeAlign(type);
    if (align == 0) throw std::invalid_argument("structure field of type " + std::string(typeName(type)));
    offset = (offset + align - 1) / align * align;
    fields_.push_back(StructField{upperName(fieldName), type, offset});
    offset += typeSize(type);
    if (align > align_) align_ = align;
  }
  size_ = (offset + align_ - 1) / align_ * align_;
}

int StructDef::fieldIndex(std::string_view name) const {
  for (size_t i = 0; i < fields_.size(); ++i)
    if (sameName(fields_[i].name, name)) return static_cast<int>(i);
  return -1;
}

// ---------------------------------------------------------------- arrays

bool arrayElementCount(std::span<const int64_t> dims, size_t elemSize, int64_t* count) {
  // Every dimension counts, even beside a zero one: such a shape could not
  // be reshaped or concatenated into a non-empty one either.
  int64_t product = 1;
  bool empty = false;
  for (int64_t d : dims) {
    if (d == 0)
      empty = true;
    else if (__builtin_mul_overflow(product, d, &product))
      return false;
  }
  size_t bytes = 0;
  if (__builtin_mul_overflow(static_cast<size_t>(product), elemSize, &bytes) ||
      bytes > static_cast<size_t>(PTRDIFF_MAX))
    return false;
  *count = empty ? 0 : product;
  return true;
}

namespace {

[[noreturn]] void tooLarge(std::span<const int64_t> dims, size_t elemSize) {
  std::string shape;
  for (int64_t d : dims) shape += (shape.empty() ? "" : " x ") + std::to_string(d);
  throw std::length_error("array too large: " + shape + " elements of " + std::to_string(elemSize) +
                          (elemSize == 1 ? " byte" : " bytes") + " do not fit in memory");
}

}  // namespace

Array::Array(Type elemType, std::span<const int64_t> dims, bool zero, const StructDef* def)
    : elemType_(elemType), structDef_(def) {
  if (dims.empty() || dims.size() > static_cast<size_t>(kMaxDims))
    throw std::invalid_argument("an array has 1 to 8 dimensions");
  if (elemType == Type::Struct) {
    if (def == nullptr) throw std::invalid_argument("structure array without a definition");
    elemSize_ = def->size();
  } else {
    elemSize_ = typeSize(elemType);
    structDef_ = nullptr;
  }
  if (elemSize_ == 0) throw std::invalid_argument(std::string("array of ") + typeName(elemType));
  ndims_ = static_cast<int>(dims.size());
  for (size_t i = 0; i < dims.size(); ++i) {
    if (dims[i] < 0) throw std::invalid_argument("negative array dimension");
    dims_[i] = dims[i];
  }
  if (!arrayElementCount(dims, elemSize_, &count_)) tooLarge(dims, elemSize_);
  const bool holdsStrings = elemType == Type::String || elemType == Type::Struct;
  const size_t bytes = byteSize() == 0 ? 1 : byteSize();
  // String texts must start out null; other data is zeroed only when asked.
  if (zero || holdsStrings)
    storage_ = std::make_unique<std::byte[]>(bytes);
  else
    storage_ = std::make_unique_for_overwrite<std::byte[]>(bytes);
}

Array::Array(const Array& other)
    : elemType_(other.elemType_),
      structDef_(other.structDef_),
      ndims_(other.ndims_),
      dims_(other.dims_),
      count_(other.count_),
      elemSize_(other.elemSize_),
      mask_(other.mask_),
      storage_(std::make_unique_for_overwrite<std::byte[]>(other.byteSize() == 0 ? 1 : other.byteSize())) {
  std::memcpy(storage_.get(), other.storage_.get(), byteSize());
  if (elemType_ == Type::String) {
    HostString* s = as<HostString>();
    for (int64_t i = 0; i < count_; ++i) duplicateInPlace(s[i]);
  } else if (elemType_ == Type::Struct) {
    for (int64_t i = 0; i < count_; ++i)
      for (const StructField& f : structDef_->fields())
        if (f.type == Type::String) duplicateInPlace(*reinterpret_cast<HostString*>(element(i) + f.offset));
  }
}

Array::~Array() { releaseStrings(); }

void Array::releaseStrings() {
  if (!storage_) return;
  if (elemType_ == Type::String) {
    HostString* s = as<HostString>();
    for (int64_t i = 0; i < count_; ++i) hostStringRelease(s[i]);
  } else if (elemType_ == Type::Struct) {
    for (int64_t i = 0; i < count_; ++i)
      for (const StructField& f : structDef_->fields())
        if (f.type == Type::String) hostStringRelease(*reinterpret_cast<HostString*>(element(i) + f.offset));
  }
}

bool Array::reshape(std::span<const int64_t> dims) {
  if (dims.empty() || dims.size() > static_cast<size_t>(kMaxDims)) return false;
  for (int64_t d : dims)
    if (d < 0) return false;
  int64_t count = 0;
  if (!arrayElementCount(dims, elemSize_, &count)) tooLarge(dims, elemSize_);
  if (count != count_) return false;
  dims_.fill(0);
  for (size_t i = 0; i < dims.size(); ++i) dims_[i] = dims[i];
  ndims_ = static_cast<int>(dims.size());
  return true;
}

// ---------------------------------------------------------------- variables

Variable::Variable(const Variable& other) : type_(other.type_), scalar_(other.scalar_) {
  if (other.array_) array_ = std::make_unique<Array>(*other.array_);
  if (isScalarString()) duplicateInPlace(scalar_.str);
}

Variable::Variable(Variable&& other) noexcept
    : type_(other.type_), scalar_(other.scalar_), array_(std::move(other.array_)) {
  other.type_ = Type::Undefined;
  other.scalar_.u64 = 0;
  other.scalar_.str.text = nullptr;
}

Variable& Variable::operator=(const Variable& other) {
  if (this == &other) return *this;
  Variable copy(other);
  return *this = std::move(copy);
}

Variable& Variable::operator=(Variable&& other) noexcept {
  if (this == &other) return *this;
  clear();
  type_ = other.type_;
  scalar_ = other.scalar_;
  array_ = std::move(other.array_);
  other.type_ = Type::Undefined;
  other.scalar_.u64 = 0;
  other.scalar_.str.text = nullptr;
  return *this;  // temporary_ stays: it is the identity of this variable
}

Variable::~Variable() { clear(); }

void Variable::clear() {
  if (isScalarString()) hostStringRelease(scalar_.str);
  array_.reset();
  type_ = Type::Undefined;
  scalar_.u64 = 0;
  scalar_.str.text = nullptr;
}

#define ZYL_SCALAR_CTOR(fn, ctype, typ, member) \
  Variable Variable::fn(ctype v) {              \
    Variable r;                                 \
    r.type_ = Type::typ;                        \
    r.scalar_.member = v;                       \
    return r;                                   \
  }
ZYL_SCALAR_CTOR(ofByte, uint8_t, Byte, u8)
ZYL_SCALAR_CTOR(ofInt16, int16_t, Int16, i16)
ZYL_SCALAR_CTOR(ofUInt16, uint16_t, UInt16, u16)
ZYL_SCALAR_CTOR(ofInt32, int32_t, Int32, i32)
ZYL_SCALAR_CTOR(ofUInt32, uint32_t, UInt32, u32)
ZYL_SCALAR_CTOR(ofInt64, int64_t, Int64, i64)
ZYL_SCALAR_CTOR(ofUInt64, uint64_t, UInt64, u64)
ZYL_SCALAR_CTOR(ofFloat32, float, Float32, f32)
ZYL_SCALAR_CTOR(ofFloat64, double, Float64, f64)
ZYL_SCALAR_CTOR(ofPointer, uint64_t, Pointer, id)
ZYL_SCALAR_CTOR(ofObject, uint64_t, Object, id)
#undef ZYL_SCALAR_CTOR

Variable Variable::ofString(std::string_view text) {
  Variable r;
  r.setString(text);
  return r;
}

Variable Variable::null() {
  Variable r;
  r.type_ = Type::Null;
  return r;
}

Variable Variable::ofArray(std::unique_ptr<Array> array) {
  Variable r;
  r.setArray(std::move(array));
  return r;
}

std::string_view Variable::text() const { return isScalarString() ? hostStringView(scalar_.str) : std::string_view(); }

void Variable::setScalar(Type type, const Scalar& value) {
  if (type == Type::String) {
    setString(hostStringView(value.str));
    return;
  }
  const Scalar copy = value;  // value may live in this variable
  clear();
  type_ = type;
  scalar_ = copy;
}

void Variable::setString(std::string_view text) {
  HostString fresh{0, nullptr};
  hostStringAssign(fresh, text);  // before clear(): text may be this variable's own
  clear();
  type_ = Type::String;
  scalar_.str = fresh;
}

void Variable::setArray(std::unique_ptr<Array> array) {
  clear();
  if (!array) return;
  type_ = array->elemType();
  array_ = std::move(array);
}

// ---------------------------------------------------------------- conversions

namespace {

std::string_view trimmed(std::string_view s) {
  while (!s.empty() && std::isspace(static_cast<unsigned char>(s.front()))) s.remove_prefix(1);
  while (!s.empty() && std::isspace(static_cast<unsigned char>(s.back()))) s.remove_suffix(1);
  return s;
}

// A number read from text: integer when it reads as one, else floating.
struct ParsedNumber {
  bool ok = false;
  bool integral = false;
  int64_t i = 0;
  double d = 0;
};

ParsedNumber parseNumber(std::string_view text) {
  ParsedNumber r;
  std::string s(trimmed(text));
  if (s.empty()) return r;
  const char* begin = s.c_str();
  char* end = nullptr;
  errno = 0;
  const long long i = std::strtoll(begin, &end, 10);
  if (end && *end == '\0' && errno == 0) {
    r.ok = r.integral = true;
    r.i = i;
    r.d = static_cast<double>(i);
    return r;
  }
  end = nullptr;
  const double d = std::strtod(begin, &end);
  if (end && *end == '\0') {
    r.ok = true;
    r.d = d;
  }
  return r;
}

// Data of a scalar, or of the first element of an array.
const void* firstElement(const Variable& v, Type* type) {
  *type = v.type();
  if (v.isArray()) {
    if (v.array()->count() == 0 || v.isStruct()) return nullptr;
    return v.array()->data();
  }
  return &v.scalar();
}

template <typename T>
void appendChars(std::string* out, T value) {
  char buf[64];
  auto res = std::to_chars(buf, buf + sizeof buf, value);
  out->append(buf, res.ptr);
}

}  // namespace

bool elementNumber(Type type, const void* p, double* d, int64_t* i) {
  if (type == Type::String) {
    ParsedNumber n = parseNumber(hostStringView(*static_cast<const HostString*>(p)));
    if (!n.ok) return false;
    *d = n.d;
    *i = n.integral ? n.i : convertNumber<int64_t>(n.d);
    return true;
  }
  return withNumberType(
      type,
      [&](auto c) {
        numberParts(*static_cast<const typename decltype(c)::type*>(p), d, i);
        return true;
      },
      [] { return false; });
}

bool numericValue(const Variable& v, double* out) {
  Type type;
  const void* p = firstElement(v, &type);
  int64_t ignored = 0;
  return p != nullptr && elementNumber(type, p, out, &ignored);
}

bool integerValue(const Variable& v, int64_t* out) {
  Type type;
  const void* p = firstElement(v, &type);
  double ignored = 0;
  return p != nullptr && elementNumber(type, p, &ignored, out);
}

bool scalarText(const Variable& v, std::string* out) {
  Type type;
  const void* p = firstElement(v, &type);
  if (p == nullptr) return false;
  out->clear();
  return withNumberType(
      type,
      [&](auto c) {
        appendChars(out, *static_cast<const typename decltype(c)::type*>(p));
        return true;
      },
      [&] {
        if (type != Type::String) return false;
        out->assign(hostStringView(*static_cast<const HostString*>(p)));
        return true;
      });
}

}  // namespace zyl

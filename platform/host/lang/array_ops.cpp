#include "array_ops.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstring>
#include <limits>
#include <memory>
#include <type_traits>

#include "error.h"
#include "printer.h"

namespace zyl::lang {
namespace {

// ---------------------------------------------------------------- type plumbing

// Number types are declared in the order of promotion.
int rank(Type t) { return isNumeric(t) ? static_cast<int>(t) - static_cast<int>(Type::Byte) : -1; }

// Calls f with std::type_identity<C> for the C type of a numeric host type.
template <typename F>
decltype(auto) dispatch(Type t, F&& f) {
  using Result = decltype(f(std::type_identity<uint8_t>{}));
  return zyl::withNumberType(t, f,
                             [&]() -> Result { valueError(std::string("expected a number, got ") + typeName(t)); });
}

template <typename T>
Variable makeScalar(T v) {
  Variable out;
  out.setScalar(numberTypeOf<T>(), scalarOf(v));
  return out;
}

std::string_view trim(std::string_view s) {
  while (!s.empty() && std::isspace(static_cast<unsigned char>(s.front()))) s.remove_prefix(1);
  while (!s.empty() && std::isspace(static_cast<unsigned char>(s.back()))) s.remove_suffix(1);
  return s;
}

template <typename T>
T parseAs(std::string_view text) {
  std::string_view t = trim(text);
  if constexpr (std::is_integral_v<T>) {
    int64_t i = 0;
    auto [end, ec] = std::from_chars(t.data(), t.data() + t.size(), i);
    if (ec == std::errc() && end == t.data() + t.size() && !t.empty()) return static_cast<T>(i);
  }
  std::string copy(t);
  char* end = nullptr;
  double d = std::strtod(copy.c_str(), &end);
  if (copy.empty() || end != copy.c_str() + copy.size())
    valueError("cannot convert string \"" + std::string(text) + "\" to " + typeName(numberTypeOf<T>()));
  return convertNumber<T>(d);
}

template <typename T>
T scalarAs(const Variable& v) {
  return zyl::withNumberType(
      v.type(), [&](auto c) { return convertNumber<T>(zyl::numberOf<typename decltype(c)::type>(v.scalar())); },
      [&]() -> T {
        if (v.type() != Type::String) valueError(std::string("expected a number, got ") + typeName(v.type()));
        return parseAs<T>(v.text());
      });
}

// One operand of an elementwise operation, seen as type T: a scalar, the
// array's own data, or a converted copy of it.
template <typename T>
struct Operand {
  bool isArray = false;
  T scalar{};
  const T* data = nullptr;
  int64_t count = 1;
  std::unique_ptr<T[]> converted;
};

// asScalar: a one-element array combined with a larger one acts as a scalar.
template <typename T>
Operand<T> operandOf(const Variable& v, bool asScalar = false) {
  Operand<T> o;
  if (!v.isArray()) {
    o.scalar = scalarAs<T>(v);
    return o;
  }
  const Array& a = *v.array();
  if (asScalar) {
    o.scalar = scalarAs<T>(elementAt(a, 0));
    return o;
  }
  o.isArray = true;
  o.count = a.count();
  if (a.elemType() == numberTypeOf<T>()) {
    o.data = a.as<T>();
    return o;
  }
  o.converted = std::make_unique_for_overwrite<T[]>(static_cast<size_t>(std::max<int64_t>(o.count, 1)));
  T* out = o.converted.get();
  if (a.elemType() == Type::String) {
    const HostString* s = a.as<HostString>();
    for (int64_t i = 0; i < o.count; ++i) out[i] = parseAs<T>(hostStringText(s[i]));
  } else {
    dispatch(a.elemType(), [&]<typename S>(std::type_identity<S>) {
      const S* src = a.as<S>();
      for (int64_t i = 0; i < o.count; ++i) out[i] = convertNumber<T>(src[i]);
    });
  }
  o.data = out;
  return o;
}

// ---------------------------------------------------------------- operators

// Integer arithmetic is done unsigned and 64 bits wide so that it wraps
// instead of overflowing.
template <typename T>
T wrapAdd(T a, T b) {
  if constexpr (std::is_integral_v<T>)
    return static_cast<T>(static_cast<uint64_t>(a) + static_cast<uint64_t>(b));
  else
    return a + b;
}
template <typename T>
T wrapSub(T a, T b) {
  if constexpr (std::is_integral_v<T>)
    return static_cast<T>(static_cast<uint64_t>(a) - static_cast<uint64_t>(b));
  else
    return a - b;
}
template <typename T>
T wrapMul(T a, T b) {
  if constexpr (std::is_integral_v<T>)
    return static_cast<T>(static_cast<uint64_t>(a) * static_cast<uint64_t>(b));
  else
    return a * b;
}
template <typename T>
T divide(T a, T b) {
  if constexpr (std::is_integral_v<T>) {
    if constexpr (std::is_signed_v<T>) {
      if (b == -1) return wrapSub<T>(0, a);  // the one quotient that overflows
    }
    return static_cast<T>(a / b);
  } else {
    return a / b;
  }
}
template <typename T>
T modulo(T a, T b) {
  if constexpr (std::is_integral_v<T>) {
    if constexpr (std::is_signed_v<T>) {
      if (b == -1) return 0;
    }
    return static_cast<T>(a % b);
  } else {
    return std::fmod(a, b);
  }
}
// Integer powers are exact and wrap as * does (squaring, never through
// floating point); a negative exponent is refused before.
template <typename T>
T power(T a, T b) {
  if constexpr (std::is_integral_v<T>) {
    T result = 1;
    T base = a;
    for (uint64_t e = static_cast<uint64_t>(b); e != 0; e >>= 1) {
      if (e & 1) result = wrapMul(result, base);
      if (e > 1) base = wrapMul(base, base);
    }
    return result;
  } else {
    return convertNumber<T>(std::pow(static_cast<double>(a), static_cast<double>(b)));
  }
}

// Shifts as numpy does them: a count of the type's width or more gives 0
// (or -1 for a negative value shifted right); negative counts are refused before.
template <typename T>
T shiftLeft(T a, T b) {
  if constexpr (std::is_integral_v<T>) {
    using U = std::make_unsigned_t<T>;
    if (static_cast<uint64_t>(b) >= sizeof(T) * 8) return 0;
    return static_cast<T>(static_cast<U>(static_cast<U>(a) << b));
  } else {
    return a;
  }
}
template <typename T>
T shiftRight(T a, T b) {
  if constexpr (std::is_integral_v<T>) {
    if (static_cast<uint64_t>(b) >= sizeof(T) * 8) return a < 0 ? T(-1) : T(0);
    return static_cast<T>(a >> b);  // arithmetic for signed types
  } else {
    return a;
  }
}

[[noreturn]] void negativeIntegerPower() {
  valueError("integers to negative powers are not allowed (use a floating base, e.g. 2.0 ^ -1)");
}

const char* opSymbol(BinaryOp op) {
  switch (op) {
    case BinaryOp::Add:
      return "+";
    case BinaryOp::Subtract:
      return "-";
    case BinaryOp::Multiply:
      return "*";
    case BinaryOp::Divide:
      return "/";
    case BinaryOp::Modulo:
      return "%";
    case BinaryOp::Power:
      return "^";
    case BinaryOp::BitAnd:
      return "&";
    case BinaryOp::BitOr:
      return "|";
    case BinaryOp::BitXor:
      return "xor";
    case BinaryOp::ShiftLeft:
      return "<<";
    case BinaryOp::ShiftRight:
      return ">>";
    case BinaryOp::Equal:
      return "==";
    case BinaryOp::NotEqual:
      return "!=";
    case BinaryOp::Less:
      return "<";
    case BinaryOp::LessEqual:
      return "<=";
    case BinaryOp::Greater:
      return ">";
    case BinaryOp::GreaterEqual:
      return ">=";
  }
  return "?";
}

bool isBitwise(BinaryOp op) {
  return op == BinaryOp::BitAnd || op == BinaryOp::BitOr || op == BinaryOp::BitXor || op == BinaryOp::ShiftLeft ||
         op == BinaryOp::ShiftRight;
}

bool isShift(BinaryOp op) { return op == BinaryOp::ShiftLeft || op == BinaryOp::ShiftRight; }

[[noreturn]] void negativeShift() { valueError("shift counts must not be negative"); }

bool isComparison(BinaryOp op) {
  return op == BinaryOp::Equal || op == BinaryOp::NotEqual || op == BinaryOp::Less || op == BinaryOp::LessEqual ||
         op == BinaryOp::Greater || op == BinaryOp::GreaterEqual;
}

// Runs out[i] = fn(x[i], y[i]) with whichever operand is a scalar hoisted
// out of the loop, so that the compiler can vectorise each form.
template <typename T, typename R, typename Fn>
void elementwise(const Operand<T>& x, const Operand<T>& y, R* out, int64_t n, Fn fn) {
  if (x.isArray && y.isArray) {
    const T* a = x.data;
    const T* b = y.data;
    for (int64_t i = 0; i < n; ++i) out[i] = fn(a[i], b[i]);
  } else if (x.isArray) {
    const T* a = x.data;
    const T b = y.scalar;
    for (int64_t i = 0; i < n; ++i) out[i] = fn(a[i], b);
  } else {
    const T a = x.scalar;
    const T* b = y.data;
    for (int64_t i = 0; i < n; ++i) out[i] = fn(a, b[i]);
  }
}

template <typename T>
bool anyZero(const Operand<T>& y) {
  if (!y.isArray) return y.scalar == 0;
  for (int64_t i = 0; i < y.count; ++i)
    if (y.data[i] == 0) return true;
  return false;
}

template <typename T>
bool anyNegative(const Operand<T>& y) {
  if constexpr (std::is_signed_v<T>) {
    if (!y.isArray) return y.scalar < 0;
    for (int64_t i = 0; i < y.count; ++i)
      if (y.data[i] < 0) return true;
  }
  return false;
}

std::string shapeOf(const Array& a) {
  std::string out = "[";
  for (int d = 0; d < a.ndims(); ++d) out += (d ? ", " : "") + std::to_string(a.dims()[d]);
  return out + "]";
}

// Dimensions without the trailing extents of one ([3, 1] is [3]).
std::span<const int64_t> coreDims(const Array& a) {
  int n = a.ndims();
  while (n > 1 && a.dims()[n - 1] == 1) --n;
  return std::span<const int64_t>(a.dims(), static_cast<size_t>(n));
}

// How two operands combine: equal shapes (trailing dimensions of one aside)
// element by element, or a scalar or one-element array with anything.
struct Combination {
  const Array* shape;  // of the result
  bool leftScalar;     // a one-element array acting as a scalar
  bool rightScalar;
};

Combination combine(BinaryOp op, const Variable& left, const Variable& right) {
  const Array* a = left.isArray() ? left.array() : nullptr;
  const Array* b = right.isArray() ? right.array() : nullptr;
  if (a == nullptr) return {b, false, false};
  if (b == nullptr) return {a, false, false};
  const bool oneA = a->count() == 1, oneB = b->count() == 1;
  if (oneA && !oneB) return {b, true, false};
  if (oneB && !oneA) return {a, false, true};
  std::span<const int64_t> da = coreDims(*a), db = coreDims(*b);
  if (!std::equal(da.begin(), da.end(), db.begin(), db.end())) {
    if (a->count() != b->count())
      valueError("arrays differ in size (" + std::to_string(a->count()) + " and " + std::to_string(b->count()) +
                 " elements) for '" + opSymbol(op) + "'");
    valueError("arrays differ in shape (" + shapeOf(*a) + " and " + shapeOf(*b) + ") for '" + opSymbol(op) +
               "' (reshape one of them)");
  }
  return {b->ndims() > a->ndims() ? b : a, false, false};
}

template <typename T>
Variable numericArrayOperation(BinaryOp op, const Variable& left, const Variable& right) {
  const Combination how = combine(op, left, right);
  Operand<T> x = operandOf<T>(left, how.leftScalar);
  Operand<T> y = operandOf<T>(right, how.rightScalar);
  const Array& shape = *how.shape;
  const int64_t n = shape.count();
  std::span<const int64_t> dims(shape.dims(), static_cast<size_t>(shape.ndims()));
  if constexpr (std::is_integral_v<T>) {
    if ((op == BinaryOp::Divide || op == BinaryOp::Modulo) && anyZero(y)) valueError("integer division by zero");
    if (op == BinaryOp::Power && anyNegative(y)) negativeIntegerPower();
  }
  if (isComparison(op)) {
    auto result = std::make_unique<Array>(Type::Byte, dims, false);
    result->setMask(true);
    uint8_t* out = result->as<uint8_t>();
    switch (op) {
      case BinaryOp::Equal:
        elementwise(x, y, out, n, [](T a, T b) -> uint8_t { return a == b; });
        break;
      case BinaryOp::NotEqual:
        elementwise(x, y, out, n, [](T a, T b) -> uint8_t { return a != b; });
        break;
      case BinaryOp::Less:
        elementwise(x, y, out, n, [](T a, T b) -> uint8_t { return a < b; });
        break;
      case BinaryOp::LessEqual:
        elementwise(x, y, out, n, [](T a, T b) -> uint8_t { return a <= b; });
        break;
      case BinaryOp::Greater:
        elementwise(x, y, out, n, [](T a, T b) -> uint8_t { return a > b; });
        break;
      default:
        elementwise(x, y, out, n, [](T a, T b) -> uint8_t { return a >= b; });
        break;
    }
    return Variable::ofArray(std::move(result));
  }
  std::unique_ptr<Array> result = std::make_unique<Array>(numberTypeOf<T>(), dims, false);
  T* out = result->as<T>();
  switch (op) {
    // Lambdas rather than function pointers, so that the loops inline and vectorise.
    case BinaryOp::Add:
      elementwise(x, y, out, n, [](T a, T b) { return wrapAdd(a, b); });
      break;
    case BinaryOp::Subtract:
      elementwise(x, y, out, n, [](T a, T b) { return wrapSub(a, b); });
      break;
    case BinaryOp::Multiply:
      elementwise(x, y, out, n, [](T a, T b) { return wrapMul(a, b); });
      break;
    case BinaryOp::Divide:
      elementwise(x, y, out, n, [](T a, T b) { return divide(a, b); });
      break;
    case BinaryOp::Modulo:
      elementwise(x, y, out, n, [](T a, T b) { return modulo(a, b); });
      break;
    case BinaryOp::Power:
      elementwise(x, y, out, n, [](T a, T b) { return power(a, b); });
      break;
    default:
      if constexpr (std::is_integral_v<T>) {
        switch (op) {
          case BinaryOp::BitAnd:
            elementwise(x, y, out, n, [](T a, T b) { return static_cast<T>(a & b); });
            break;
          case BinaryOp::BitOr:
            elementwise(x, y, out, n, [](T a, T b) { return static_cast<T>(a | b); });
            break;
          case BinaryOp::BitXor:
            elementwise(x, y, out, n, [](T a, T b) { return static_cast<T>(a ^ b); });
            break;
          case BinaryOp::ShiftLeft:
            elementwise(x, y, out, n, [](T a, T b) { return shiftLeft(a, b); });
            break;
          default:
            elementwise(x, y, out, n, [](T a, T b) { return shiftRight(a, b); });
            break;
        }
      }
      break;
  }
  // mask * mask (and &, |, xor) is again a mask.
  const bool maskOperator =
      op == BinaryOp::Multiply || op == BinaryOp::BitAnd || op == BinaryOp::BitOr || op == BinaryOp::BitXor;
  if (maskOperator && left.isArray() && right.isArray() && left.array()->isMask() && right.array()->isMask())
    result->setMask(true);
  return Variable::ofArray(std::move(result));
}

template <typename T>
Variable numericScalarOperation(BinaryOp op, const Variable& left, const Variable& right) {
  const T a = scalarAs<T>(left);
  const T b = scalarAs<T>(right);
  switch (op) {
    case BinaryOp::Add:
      return makeScalar<T>(wrapAdd(a, b));
    case BinaryOp::Subtract:
      return makeScalar<T>(wrapSub(a, b));
    case BinaryOp::Multiply:
      return makeScalar<T>(wrapMul(a, b));
    case BinaryOp::Divide:
    case BinaryOp::Modulo:
      if constexpr (std::is_integral_v<T>) {
        if (b == 0) valueError("integer division by zero");
      }
      return makeScalar<T>(op == BinaryOp::Divide ? divide(a, b) : modulo(a, b));
    case BinaryOp::Power:
      if constexpr (std::is_signed_v<T> && std::is_integral_v<T>) {
        if (b < 0) negativeIntegerPower();
      }
      return makeScalar<T>(power(a, b));
    case BinaryOp::BitAnd:
    case BinaryOp::BitOr:
    case BinaryOp::BitXor:
    case BinaryOp::ShiftLeft:
    case BinaryOp::ShiftRight:
      if constexpr (std::is_integral_v<T>) {
        if constexpr (std::is_signed_v<T>) {
          if (isShift(op) && b < 0) negativeShift();  // the int32 path comes here unchecked
        }
        switch (op) {
          case BinaryOp::BitAnd:
            return makeScalar<T>(static_cast<T>(a & b));
          case BinaryOp::BitOr:
            return makeScalar<T>(static_cast<T>(a | b));
          case BinaryOp::BitXor:
            return makeScalar<T>(static_cast<T>(a ^ b));
          case BinaryOp::ShiftLeft:
            return makeScalar<T>(shiftLeft(a, b));
          default:
            return makeScalar<T>(shiftRight(a, b));
        }
      }
      break;
    case BinaryOp::Equal:
      return Variable::ofInt32(a == b);
    case BinaryOp::NotEqual:
      return Variable::ofInt32(a != b);
    case BinaryOp::Less:
      return Variable::ofInt32(a < b);
    case BinaryOp::LessEqual:
      return Variable::ofInt32(a <= b);
    case BinaryOp::Greater:
      return Variable::ofInt32(a > b);
    case BinaryOp::GreaterEqual:
      return Variable::ofInt32(a >= b);
  }
  return Variable::null();
}

std::string describeValue(const Variable& v) {
  std::string name = typeName(v.type());
  if (v.isStruct()) return "a structure";
  return v.isArray() ? name + " array" : name;
}

[[noreturn]] void unsupported(BinaryOp op, const Variable& left, const Variable& right) {
  valueError(std::string("cannot apply '") + opSymbol(op) + "' to " + describeValue(left) + " and " +
             describeValue(right) + " (expected numbers, or strings for + and comparisons)");
}

int compareText(std::string_view a, std::string_view b) { return a.compare(b); }

bool comparisonHolds(BinaryOp op, int order) {
  switch (op) {
    case BinaryOp::Equal:
      return order == 0;
    case BinaryOp::NotEqual:
      return order != 0;
    case BinaryOp::Less:
      return order < 0;
    case BinaryOp::LessEqual:
      return order <= 0;
    case BinaryOp::Greater:
      return order > 0;
    default:
      return order >= 0;
  }
}

std::string elementText(const Variable& v, int64_t i) {
  if (!v.isArray()) return textOf(v);
  return textOf(elementAt(*v.array(), i));
}

Variable stringOperation(BinaryOp op, const Variable& left, const Variable& right) {
  if (op != BinaryOp::Add && !isComparison(op)) unsupported(op, left, right);
  const bool bothStrings = left.type() == Type::String && right.type() == Type::String;
  if (op == BinaryOp::Add && !bothStrings && (isNumeric(left.type()) || isNumeric(right.type())))
    valueError(
        "cannot add " + describeValue(left) + " and " + describeValue(right) +
        ": text and numbers do not mix (join text with string(x) or format(), read a number with float64(text))");
  if (!bothStrings) unsupported(op, left, right);
  if (left.isStruct() || right.isStruct() ||
      !(left.isArray() || isNumeric(left.type()) || left.type() == Type::String) ||
      !(right.isArray() || isNumeric(right.type()) || right.type() == Type::String))
    unsupported(op, left, right);
  if (!left.isArray() && !right.isArray()) {
    if (op == BinaryOp::Add) return Variable::ofString(textOf(left) + textOf(right));
    return Variable::ofInt32(comparisonHolds(op, compareText(left.text(), right.text())));
  }
  const Combination how = combine(op, left, right);
  const Array& shape = *how.shape;
  const int64_t n = shape.count();
  std::span<const int64_t> dims(shape.dims(), static_cast<size_t>(shape.ndims()));
  auto result = std::make_unique<Array>(op == BinaryOp::Add ? Type::String : Type::Byte, dims, true);
  if (op != BinaryOp::Add) result->setMask(true);
  for (int64_t i = 0; i < n; ++i) {
    std::string a = elementText(left, how.leftScalar ? 0 : i);
    std::string b = elementText(right, how.rightScalar ? 0 : i);
    if (op == BinaryOp::Add)
      hostStringAssign(result->as<HostString>()[i], a + b);
    else
      result->as<uint8_t>()[i] = comparisonHolds(op, compareText(a, b));
  }
  return Variable::ofArray(std::move(result));
}

bool isReference(Type t) { return t == Type::Object || t == Type::Null || t == Type::Pointer; }

Variable referenceComparison(BinaryOp op, const Variable& left, const Variable& right) {
  if ((op != BinaryOp::Equal && op != BinaryOp::NotEqual) || left.isArray() || right.isArray())
    unsupported(op, left, right);
  auto idOf = [](const Variable& v) -> int64_t {
    if (v.type() == Type::Object || v.type() == Type::Pointer) return static_cast<int64_t>(v.scalar().id);
    if (v.type() == Type::Null) return 0;
    return -1;  // anything else differs from every reference
  };
  bool same = idOf(left) == idOf(right) &&
              (left.type() == right.type() || left.type() == Type::Null || right.type() == Type::Null);
  return Variable::ofInt32(op == BinaryOp::Equal ? same : !same);
}

void requireNumeric(const Variable& v, const char* what) {
  if (!isNumeric(v.type())) valueError(std::string(what) + " needs numbers, got " + describeValue(v));
}

template <typename T>
const T* numericData(const Variable& v, int64_t* count) {
  if (v.isArray()) {
    *count = v.array()->count();
    return v.array()->as<T>();
  }
  *count = 1;
  return reinterpret_cast<const T*>(&v.scalar());
}

// A comparison between a signed and an unsigned integer type compares the
// values (uint32(5) > -1 holds), not the signed value converted to unsigned.
Variable mixedComparison(BinaryOp op, const Variable& left, const Variable& right) {
  const bool leftSigned = isSigned(left.type());
  const Combination how = combine(op, left, right);
  const Operand<int64_t> s =
      operandOf<int64_t>(leftSigned ? left : right, leftSigned ? how.leftScalar : how.rightScalar);
  const Operand<uint64_t> u =
      operandOf<uint64_t>(leftSigned ? right : left, leftSigned ? how.rightScalar : how.leftScalar);
  auto order = [&](int64_t i) {
    const int64_t sv = s.isArray ? s.data[i] : s.scalar;
    const uint64_t uv = u.isArray ? u.data[i] : u.scalar;
    const int signedFirst = sv < 0 ? -1 : static_cast<uint64_t>(sv) < uv ? -1 : static_cast<uint64_t>(sv) > uv ? 1 : 0;
    return leftSigned ? signedFirst : -signedFirst;
  };
  if (!left.isArray() && !right.isArray()) return Variable::ofInt32(comparisonHolds(op, order(0)));
  const Array& shape = *how.shape;
  auto result = std::make_unique<Array>(Type::Byte, std::span<const int64_t>(shape.dims(), shape.ndims()), false);
  result->setMask(true);
  uint8_t* out = result->as<uint8_t>();
  for (int64_t i = 0; i < shape.count(); ++i) out[i] = comparisonHolds(op, order(i));
  return Variable::ofArray(std::move(result));
}

}  // namespace

// ---------------------------------------------------------------- public

Type promote(Type a, Type b) { return rank(a) >= rank(b) ? a : b; }

Variable binaryOperation(BinaryOp op, const Variable& left, const Variable& right) {
  if (left.type() == Type::Int32 && right.type() == Type::Int32 && !left.isArray() && !right.isArray())
    return numericScalarOperation<int32_t>(op, left, right);  // the common case of counting loops
  if (!left.isDefined() || !right.isDefined())
    valueError(std::string("operand of '") + opSymbol(op) + "' is undefined");
  if (isNumeric(left.type()) && isNumeric(right.type())) {
    Type t = promote(left.type(), right.type());
    if (isBitwise(op) && isFloating(t))
      valueError(std::string("'") + opSymbol(op) + "' needs integers, got " + describeValue(left) + " and " +
                 describeValue(right) + " (convert with int32(), uint16(), ...)");
    // Checked before the count is converted to the shifted value's type.
    if (isShift(op) && isSigned(right.type()) &&
        dispatch(right.type(), [&]<typename T>(std::type_identity<T>) { return anyNegative(operandOf<T>(right)); }))
      negativeShift();
    if (isComparison(op) && isInteger(t) && !isSigned(t) && (isSigned(left.type()) || isSigned(right.type())))
      return mixedComparison(op, left, right);
    if (!left.isArray() && !right.isArray())
      return dispatch(t, [&]<typename T>(std::type_identity<T>) { return numericScalarOperation<T>(op, left, right); });
    return dispatch(t, [&]<typename T>(std::type_identity<T>) { return numericArrayOperation<T>(op, left, right); });
  }
  if (left.type() == Type::String || right.type() == Type::String) return stringOperation(op, left, right);
  if (isReference(left.type()) || isReference(right.type())) return referenceComparison(op, left, right);
  unsupported(op, left, right);
}

Variable negate(const Variable& value) {
  requireNumeric(value, "'-'");
  return binaryOperation(BinaryOp::Subtract, convert(Variable::ofInt32(0), value.type()), value);
}

Variable logicalNot(const Variable& value) {
  if (value.isArray() && isNumeric(value.type()))
    return binaryOperation(BinaryOp::Equal, value, convert(Variable::ofInt32(0), value.type()));
  return Variable::ofInt32(!isTrue(value));
}

Variable bitwiseNot(const Variable& value) {
  if (value.isArray() && value.array()->isMask()) return logicalNot(value);
  if (!isNumeric(value.type()) || isFloating(value.type()))
    valueError("'~' needs integers, got " + describeValue(value) + " (use 'not' for a condition)");
  // ~x is x xor all ones, in x's own type.
  return dispatch(value.type(), [&]<typename T>(std::type_identity<T>) {
    if constexpr (std::is_integral_v<T>)
      return binaryOperation(BinaryOp::BitXor, value, makeScalar<T>(static_cast<T>(~T(0))));
    else
      return value;
  });
}

bool isTrue(const Variable& value) {
  if (value.isArray()) {
    if (value.array()->count() != 1 || value.isStruct())
      valueError("a condition must be a single value, got " + describeValue(value) + " of " +
                 std::to_string(value.array()->count()) + " elements");
    return isTrue(elementAt(*value.array(), 0));
  }
  switch (value.type()) {
    case Type::Undefined:
      valueError("condition is undefined");
    case Type::Null:
      return false;
    case Type::String:
      return !value.text().empty();
    case Type::Object:
    case Type::Pointer:
      return value.scalar().id != 0;
    default:
      return scalarAs<double>(value) != 0;
  }
}

Variable convert(const Variable& value, Type to) {
  if (!value.isDefined()) valueError(std::string("cannot convert an undefined value to ") + typeName(to));
  if (value.isStruct() || !(isNumeric(value.type()) || value.type() == Type::String))
    valueError(std::string("cannot convert ") + describeValue(value) + " to " + typeName(to));
  if (to == Type::String) {
    if (!value.isArray()) return Variable::ofString(textOf(value));
    const Array& src = *value.array();
    auto result = std::make_unique<Array>(Type::String, std::span<const int64_t>(src.dims(), src.ndims()), true);
    for (int64_t i = 0; i < src.count(); ++i) hostStringAssign(result->as<HostString>()[i], textOf(elementAt(src, i)));
    return Variable::ofArray(std::move(result));
  }
  return dispatch(to, [&]<typename T>(std::type_identity<T>) {
    if (!value.isArray()) return makeScalar<T>(scalarAs<T>(value));
    const Array& src = *value.array();
    Operand<T> o = operandOf<T>(value);
    auto result = std::make_unique<Array>(to, std::span<const int64_t>(src.dims(), src.ndims()), false);
    if (src.count() > 0) std::memcpy(result->data(), o.data, static_cast<size_t>(src.count()) * sizeof(T));
    return Variable::ofArray(std::move(result));
  });
}

Variable elementAt(const Array& array, int64_t index) {
  const Type t = array.elemType();
  if (t == Type::String) return Variable::ofString(hostStringText(array.as<HostString>()[index]));
  if (t == Type::Struct) {
    const int64_t one = 1;
    auto single = std::make_unique<Array>(Type::Struct, std::span<const int64_t>(&one, 1), true, array.structDef());
    copyElement(*single, 0, array, index);
    return Variable::ofArray(std::move(single));
  }
  if (t == Type::Object) return Variable::ofObject(array.as<uint64_t>()[index]);
  if (t == Type::Pointer) return Variable::ofPointer(array.as<uint64_t>()[index]);
  return dispatch(t, [&]<typename T>(std::type_identity<T>) { return makeScalar<T>(array.as<T>()[index]); });
}

void copyElement(Array& dst, int64_t dstIndex, const Array& src, int64_t srcIndex) {
  if (dst.elemType() == Type::String) {
    // Through a copy: src and dst may be the same array.
    std::string text = hostStringText(src.as<HostString>()[srcIndex]);
    hostStringAssign(dst.as<HostString>()[dstIndex], text);
    return;
  }
  if (dst.elemType() == Type::Struct) {
    if (&dst == &src && dstIndex == srcIndex) return;
    const StructDef& def = *dst.structDef();
    std::byte* to = dst.element(dstIndex);
    const std::byte* from = src.data() + src.elemSize() * static_cast<size_t>(srcIndex);
    for (const StructField& f : def.fields())
      if (f.type == Type::String) hostStringRelease(*reinterpret_cast<HostString*>(to + f.offset));
    std::memcpy(to, from, def.size());
    for (const StructField& f : def.fields())
      if (f.type == Type::String) {
        auto* s = reinterpret_cast<HostString*>(to + f.offset);
        const std::string text = hostStringText(*s);
        s->text = nullptr;  // it still points at the source's text
        s->length = 0;
        hostStringAssign(*s, text);
      }
    return;
  }
  std::memcpy(dst.data() + dst.elemSize() * static_cast<size_t>(dstIndex),
              src.data() + src.elemSize() * static_cast<size_t>(srcIndex), dst.elemSize());
}

void storeElement(Array& array, int64_t index, const Variable& scalar) {
  const Type t = array.elemType();
  if (t == Type::Struct) {
    if (!scalar.isStruct() || scalar.array()->structDef() != array.structDef() || scalar.array()->count() != 1)
      valueError("an element of a " + array.structDef()->name() + " structure array takes one structure of that kind");
    copyElement(array, index, *scalar.array(), 0);
    return;
  }
  if (scalar.isArray()) valueError("cannot store " + describeValue(scalar) + " in one element");
  if (t == Type::String) {
    hostStringAssign(array.as<HostString>()[index], textOf(scalar));
    return;
  }
  if (t == Type::Object || t == Type::Pointer) {
    if (scalar.type() != t && scalar.type() != Type::Null)
      valueError(std::string("an element of an ") + typeName(t) + " array takes an " + typeName(t));
    array.as<uint64_t>()[index] = scalar.type() == Type::Null ? 0 : scalar.scalar().id;
    return;
  }
  dispatch(t, [&]<typename T>(std::type_identity<T>) { array.as<T>()[index] = scalarAs<T>(scalar); });
}

Variable minimum(const Variable& value) {
  requireNumeric(value, "min");
  return dispatch(value.type(), [&]<typename T>(std::type_identity<T>) {
    int64_t n = 0;
    const T* d = numericData<T>(value, &n);
    if (n == 0) valueError("min of an empty array");
    if constexpr (std::is_floating_point_v<T>) {  // NaN wherever it is, as numpy
      for (int64_t i = 0; i < n; ++i)
        if (std::isnan(d[i])) return makeScalar<T>(d[i]);
    }
    return makeScalar<T>(*std::min_element(d, d + n));
  });
}

Variable maximum(const Variable& value) {
  requireNumeric(value, "max");
  return dispatch(value.type(), [&]<typename T>(std::type_identity<T>) {
    int64_t n = 0;
    const T* d = numericData<T>(value, &n);
    if (n == 0) valueError("max of an empty array");
    if constexpr (std::is_floating_point_v<T>) {  // NaN wherever it is, as numpy
      for (int64_t i = 0; i < n; ++i)
        if (std::isnan(d[i])) return makeScalar<T>(d[i]);
    }
    return makeScalar<T>(*std::max_element(d, d + n));
  });
}

Variable total(const Variable& value) {
  requireNumeric(value, "total");
  return dispatch(value.type(), [&]<typename T>(std::type_identity<T>) {
    int64_t n = 0;
    const T* d = numericData<T>(value, &n);
    if constexpr (std::is_integral_v<T>) {
      uint64_t sum = 0;  // wraps like every integer sum
      for (int64_t i = 0; i < n; ++i) sum += static_cast<uint64_t>(static_cast<int64_t>(d[i]));
      return Variable::ofInt64(static_cast<int64_t>(sum));
    } else {
      double sum = 0;
      for (int64_t i = 0; i < n; ++i) sum += d[i];
      return Variable::ofFloat64(sum);
    }
  });
}

double mean(const Variable& value) {
  requireNumeric(value, "mean");
  return dispatch(value.type(), [&]<typename T>(std::type_identity<T>) {
    int64_t n = 0;
    const T* d = numericData<T>(value, &n);
    if (n == 0) valueError("mean of an empty array");
    double sum = 0;
    for (int64_t i = 0; i < n; ++i) sum += static_cast<double>(d[i]);
    return sum / static_cast<double>(n);
  });
}

Variable nonzeroIndices(const Variable& value) {
  requireNumeric(value, "where");
  return dispatch(value.type(), [&]<typename T>(std::type_identity<T>) {
    int64_t n = 0;
    const T* d = numericData<T>(value, &n);
    std::vector<int64_t> hits;
    for (int64_t i = 0; i < n; ++i)
      if (d[i] != 0) hits.push_back(i);
    const int64_t count = static_cast<int64_t>(hits.size());
    auto result = std::make_unique<Array>(Type::Int64, std::span<const int64_t>(&count, 1), false);
    if (count > 0) std::memcpy(result->data(), hits.data(), hits.size() * sizeof(int64_t));
    return Variable::ofArray(std::move(result));
  });
}

Variable absolute(const Variable& value) {
  requireNumeric(value, "abs");
  return dispatch(value.type(), [&]<typename T>(std::type_identity<T>) {
    auto absOf = [](T v) -> T {
      if constexpr (std::is_signed_v<T>)
        return v < 0 ? wrapSub<T>(0, v) : v;
      else
        return v;
    };
    if (!value.isArray()) return makeScalar<T>(absOf(scalarAs<T>(value)));
    const Array& src = *value.array();
    auto result = std::make_unique<Array>(src.elemType(), std::span<const int64_t>(src.dims(), src.ndims()), false);
    const T* in = src.as<T>();
    T* out = result->as<T>();
    for (int64_t i = 0; i < src.count(); ++i) out[i] = absOf(in[i]);
    return Variable::ofArray(std::move(result));
  });
}

Variable squareRoot(const Variable& value) {
  requireNumeric(value, "sqrt");
  Variable floating = value.type() == Type::Float32 ? value : convert(value, Type::Float64);
  if (!floating.isArray()) {
    if (floating.type() == Type::Float32) return makeScalar<float>(std::sqrt(floating.scalar().f32));
    return Variable::ofFloat64(std::sqrt(floating.scalar().f64));
  }
  Array& a = *floating.array();
  if (a.elemType() == Type::Float32) {
    float* d = a.as<float>();
    for (int64_t i = 0; i < a.count(); ++i) d[i] = std::sqrt(d[i]);
  } else {
    double* d = a.as<double>();
    for (int64_t i = 0; i < a.count(); ++i) d[i] = std::sqrt(d[i]);
  }
  return floating;
}

int64_t toIndex(const Variable& value, const char* what) {
  if (value.isArray() || !(isNumeric(value.type())))
    valueError(std::string(what) + " must be an integer, got " + describeValue(value));
  // Values beyond int64 are never in range: refused, not saturated or wrapped.
  if (isFloating(value.type())) {
    double d = scalarAs<double>(value);
    if (d != std::floor(d)) valueError(std::string(what) + " must be a whole number, got " + textOf(value));
    if (d < -9223372036854775808.0 || d >= 9223372036854775808.0)
      valueError(std::string(what) + " " + textOf(value) + " is out of range");
  }
  if (value.type() == Type::UInt64 && value.scalar().u64 > static_cast<uint64_t>(INT64_MAX))
    valueError(std::string(what) + " " + textOf(value) + " is out of range");
  return scalarAs<int64_t>(value);
}

std::vector<int64_t> toIndexList(const Variable& values, const char* what) {
  if (!values.isArray() || !isNumeric(values.type())) valueError(std::string(what) + " must hold numbers");
  const Array& a = *values.array();
  std::vector<int64_t> list(static_cast<size_t>(a.count()));
  for (int64_t i = 0; i < a.count(); ++i) list[static_cast<size_t>(i)] = toIndex(elementAt(a, i), what);
  return list;
}

double toDouble(const Variable& value, const char* what) {
  if (value.isArray() || !isNumeric(value.type()))
    valueError(std::string(what) + " must be a number, got " + describeValue(value));
  return scalarAs<double>(value);
}

Variable rangeArray(double start, double step, int64_t count, Type type) {
  if (count < 0) count = 0;
  auto result = std::make_unique<Array>(type, std::span<const int64_t>(&count, 1), false);
  dispatch(type, [&]<typename T>(std::type_identity<T>) {
    T* out = result->as<T>();
    for (int64_t i = 0; i < count; ++i) out[i] = convertNumber<T>(start + static_cast<double>(i) * step);
  });
  return Variable::ofArray(std::move(result));
}

namespace {

// Whether the numeric scalar keeps its value as a T: integers in range,
// whole floating values in range; floating types take any floating value.
template <typename T>
bool representable(const Variable& scalar) {
  if constexpr (std::is_floating_point_v<T>) {
    return true;
  } else {
    constexpr double below = static_cast<double>(std::numeric_limits<T>::min());
    constexpr double above =
        std::is_signed_v<T> ? -below : 2.0 * (static_cast<double>(std::numeric_limits<T>::max() / 2) + 1);
    if (isFloating(scalar.type())) {
      const double d = scalarAs<double>(scalar);
      return d == std::trunc(d) && d >= below && d < above;
    }
    if (isSigned(scalar.type())) {
      const int64_t v = scalarAs<int64_t>(scalar);
      if constexpr (std::is_signed_v<T>)
        return v >= std::numeric_limits<T>::min() && v <= std::numeric_limits<T>::max();
      else
        return v >= 0 && static_cast<uint64_t>(v) <= std::numeric_limits<T>::max();
    }
    const uint64_t v = scalarAs<uint64_t>(scalar);
    return v <= static_cast<uint64_t>(std::numeric_limits<T>::max());
  }
}

}  // namespace

Variable fieldValue(const Array& structs, int64_t index, int field) {
  const StructField& f = structs.structDef()->fields()[static_cast<size_t>(field)];
  const std::byte* at = structs.data() + structs.elemSize() * static_cast<size_t>(index) + f.offset;
  switch (f.type) {
    case Type::String:
      return Variable::ofString(hostStringText(*reinterpret_cast<const HostString*>(at)));
    case Type::Object:
      return Variable::ofObject(*reinterpret_cast<const uint64_t*>(at));
    case Type::Pointer:
      return Variable::ofPointer(*reinterpret_cast<const uint64_t*>(at));
    default:
      return dispatch(f.type, [&]<typename T>(std::type_identity<T>) {
        T v;
        std::memcpy(&v, at, sizeof(T));
        return makeScalar<T>(v);
      });
  }
}

void storeField(Array& structs, int64_t index, int field, const Variable& scalar) {
  const StructField& f = structs.structDef()->fields()[static_cast<size_t>(field)];
  std::byte* at = structs.element(index) + f.offset;
  if (scalar.isArray()) valueError("field " + f.name + " takes a single value, got " + describeValue(scalar));
  switch (f.type) {
    case Type::String:
      if (scalar.type() != Type::String) valueError("field " + f.name + " holds strings, got " + describeValue(scalar));
      hostStringAssign(*reinterpret_cast<HostString*>(at), scalar.text());
      return;
    case Type::Object:
    case Type::Pointer: {
      if (scalar.type() != f.type && scalar.type() != Type::Null)
        valueError("field " + f.name + " takes an " + typeName(f.type) + ", got " + describeValue(scalar));
      uint64_t id = scalar.type() == Type::Null ? 0 : scalar.scalar().id;
      std::memcpy(at, &id, sizeof id);
      return;
    }
    default:
      if (!isNumeric(scalar.type()))
        valueError("field " + f.name + " holds " + typeName(f.type) + ", got " + describeValue(scalar));
      dispatch(f.type, [&]<typename T>(std::type_identity<T>) {
        T v = scalarAs<T>(scalar);
        if (!representable<T>(scalar))
          valueError("field " + f.name + " holds " + typeName(f.type) + ": " + textOf(scalar) + " would become " +
                     textOf(makeScalar<T>(v)) +
                     " (convert it explicitly, or give the field that type when making the structure)");
        std::memcpy(at, &v, sizeof(T));
      });
  }
}

}  // namespace zyl::lang

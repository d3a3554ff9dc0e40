// Reading arguments: object instances, scalar checks and conversions.
#include <cmath>
#include <cstring>

#include "state.h"
#include "zyl/host.h"

using zyl::Runtime;
using zyl::Type;
using zyl::Variable;

namespace {

std::string here() { return Runtime::instance().currentRoutine(); }

// Host errors name the routine they happen in, when there is one.
[[noreturn]] void failHere(const std::string& what) {
  const std::string routine = here();
  Runtime::instance().fail(routine.empty() ? what : what + ": " + routine);
}

const char* kindOf(const Variable& v) {
  if (!v.isDefined()) return "undefined";
  if (v.isStruct()) return "structure";
  if (v.isArray()) return "array";
  return zyl::typeName(v.type());
}

void requireDefined(const HostVar* v) {
  if (v == nullptr || !v->isDefined()) failHere("Variable is undefined");
}

int64_t integerOf(HostVar* v) {
  requireDefined(v);
  int64_t value = 0;
  if (!zyl::integerValue(*v, &value))
    failHere(std::string("Type conversion error: unable to convert ") + kindOf(*v) + " to a number");
  return value;
}

// Stores the number (integer when the source was one) as an element of type:
// integers wrap, floating sources truncate and saturate (uint64 keeps the
// magnitude of a large floating value); d is exact enough for floating targets.
void storeNumber(Type type, void* dst, int64_t i, double d, bool integral) {
  zyl::withNumberType(
      type,
      [&](auto c) {
        using C = typename decltype(c)::type;
        C v;
        if constexpr (std::is_floating_point_v<C>)
          v = static_cast<C>(d);
        else if constexpr (std::is_same_v<C, uint64_t>)
          v = integral                     ? static_cast<uint64_t>(i)
              : d >= 1.8446744073709552e19 ? UINT64_MAX
              : d > 0                      ? static_cast<uint64_t>(d)
                                           : static_cast<uint64_t>(zyl::convertNumber<int64_t>(d));
        else
          v = static_cast<C>(integral ? i : zyl::convertNumber<int64_t>(d));
        std::memcpy(dst, &v, sizeof v);
      },
      [] {});
}

// Converts one element (given as a one-element variable) into dst of type.
void convertElement(const Variable& element, Type type, void* dst) {
  if (type == Type::String) {
    std::string text;
    if (!zyl::scalarText(element, &text)) failHere("Type conversion error: value has no text");
    zyl::hostStringAssign(*static_cast<zyl::HostString*>(dst), text);
    return;
  }
  int64_t i = 0;
  double d = 0;
  if (!zyl::integerValue(element, &i) || !zyl::numericValue(element, &d))
    failHere("Type conversion error: unable to convert " + std::string(kindOf(element)) + " to " + zyl::typeName(type));
  const bool integral = zyl::isInteger(element.type()) ||
                        (element.type() == Type::String && static_cast<double>(i) == d && std::floor(d) == d);
  storeNumber(type, dst, i, d, integral);
}

// Element k of an array as a one-element scalar variable.
Variable elementAt(const zyl::Array& array, int64_t k) {
  Variable v;
  zyl::Scalar s{};
  std::memcpy(&s, array.data() + array.elemSize() * static_cast<size_t>(k), array.elemSize());
  v.setScalar(array.elemType(), s);  // strings are copied
  return v;
}

}  // namespace

void* HostObjectInstance(HostVar* object, const char* className) {
  Runtime& runtime = Runtime::instance();
  if (object == nullptr || object->type() != Type::Object || object->isArray())
    failHere("Object reference type required in this context");
  const zyl::ClassRecord* record = nullptr;
  void* data = runtime.objectInstance(object->scalar().id, &record);
  if (data == nullptr) failHere("Unable to invoke method on NULL or invalid object reference");
  if (className != nullptr && !zyl::sameName(record->name(), className))
    failHere("Object of class " + zyl::upperName(className) + " required (got " + record->name() + ") in this context");
  return data;
}

void HostEnsureSimple(HostVar* v) {
  if (v == nullptr) failHere("Variable is undefined");
  if (v->isStruct()) failHere("Expression must be a scalar, not a structure, in this context");
  if (v->isArray()) failHere("Expression must be a scalar, not an array, in this context");
}

const char* HostVarGetString(HostVar* v) {
  if (v == nullptr || !v->isScalarString()) failHere("String expression required in this context");
  return zyl::hostStringText(v->scalar().str);
}

zyl::HostString* HostArgStringDescriptor(HostVar* v) {
  if (v == nullptr || !v->isScalarString()) failHere("String expression required in this context");
  return &v->scalar().str;
}

HostVar* HostToString(HostVar* v) {
  requireDefined(v);
  std::string text;
  if (v->isArray() || !zyl::scalarText(*v, &text))
    failHere(std::string("Unable to convert ") + kindOf(*v) + " to a string");
  return HostStringToVar(text.c_str());
}

int16_t HostToInt(HostVar* v) { return static_cast<int16_t>(integerOf(v)); }
int32_t HostLongScalar(HostVar* v) { return static_cast<int32_t>(integerOf(v)); }
uint32_t HostULongScalar(HostVar* v) { return static_cast<uint32_t>(integerOf(v)); }

uint32_t HostULongScalarOf(HostVar* v, int64_t index) {
  requireDefined(v);
  if (!v->isArray()) {
    if (index != 0) failHere("Subscript out of range");
    return HostULongScalar(v);
  }
  if (index < 0 || index >= v->array()->count()) failHere("Subscript out of range");
  if (v->isStruct()) failHere("Type conversion error: unable to convert structure to a number");
  Variable element = elementAt(*v->array(), index);
  return static_cast<uint32_t>(integerOf(&element));
}

double HostDoubleScalar(HostVar* v) {
  requireDefined(v);
  double value = 0;
  if (!zyl::numericValue(*v, &value))
    failHere(std::string("Type conversion error: unable to convert ") + kindOf(*v) + " to a number");
  return value;
}

int64_t HostVarGetData(HostVar* v, void** data) {
  if (v == nullptr || !v->isDefined() || v->type() == Type::Null) {
    if (data) *data = nullptr;
    return 0;
  }
  if (v->isArray()) {
    if (data) *data = v->array()->data();
    return v->array()->count();
  }
  if (data) *data = &v->scalar();
  return 1;
}

HostVar* HostConvertType(HostVar* v, HostType type) {
  requireDefined(v);
  if (!zyl::isNumeric(type) && type != Type::String)
    failHere(std::string("Unable to convert to ") + zyl::typeName(type));
  if (v->isStruct()) failHere("Type conversion error: unable to convert structure");
  if (!v->isArray()) {
    if (!zyl::isNumeric(v->type()) && v->type() != Type::String)
      failHere(std::string("Type conversion error: unable to convert ") + kindOf(*v));
    zyl::Scalar out{};
    convertElement(*v, type, &out);
    Variable result;
    result.setScalar(type, out);
    if (type == Type::String) zyl::hostStringRelease(out.str);
    return zyl::newTemporary(std::move(result));
  }
  const zyl::Array& source = *v->array();
  if (!zyl::isNumeric(source.elemType()) && source.elemType() != Type::String)
    failHere(std::string("Type conversion error: unable to convert ") + kindOf(*v));
  void* data = nullptr;
  HostVar* result = HostMakeTempArray(type, source.ndims(), source.dims(), 1, &data);
  auto* out = static_cast<std::byte*>(data);
  const size_t outSize = zyl::typeSize(type);
  if (zyl::isNumeric(source.elemType()) && zyl::isNumeric(type)) {
    // Numbers to numbers without a variable per element, the source's type
    // chosen once (images are large).
    const bool integral = zyl::isInteger(source.elemType());
    zyl::withNumberType(
        source.elemType(),
        [&](auto c) {
          const auto* in = source.as<typename decltype(c)::type>();
          for (int64_t k = 0; k < source.count(); ++k) {
            int64_t i = 0;
            double d = 0;
            zyl::numberParts(in[k], &d, &i);
            storeNumber(type, out + outSize * static_cast<size_t>(k), i, d, integral);
          }
        },
        [] {});
    return result;
  }
  for (int64_t k = 0; k < source.count(); ++k)
    convertElement(elementAt(source, k), type, out + outSize * static_cast<size_t>(k));
  return result;
}

// Temporaries, output variables, heap variables and host strings.
#include <cstring>

#include "state.h"
#include "zyl/host.h"

using zyl::hostState;
using zyl::newTemporary;
using zyl::Variable;

namespace {

HostVar* tempArray(zyl::Type type, int ndims, const int64_t* dims, int zero, void** data,
                   const zyl::StructDef* def = nullptr) {
  zyl::Runtime& runtime = zyl::Runtime::instance();
  if (ndims < 1 || ndims > zyl::kMaxDims || dims == nullptr)
    runtime.fail("Arrays have 1 to 8 dimensions: " + runtime.currentRoutine());
  for (int i = 0; i < ndims; ++i)
    if (dims[i] < 0) runtime.fail("Array dimensions must not be negative: " + runtime.currentRoutine());
  if (type != zyl::Type::Struct && zyl::typeSize(type) == 0)
    runtime.fail(std::string("Arrays of type ") + zyl::typeName(type) +
                 " are not allowed: " + runtime.currentRoutine());
  int64_t count = 0;
  const size_t elemSize = type == zyl::Type::Struct ? (def ? def->size() : 0) : zyl::typeSize(type);
  if (!zyl::arrayElementCount(std::span<const int64_t>(dims, static_cast<size_t>(ndims)), elemSize, &count))
    runtime.fail("Array too large for memory: " + runtime.currentRoutine());
  auto array =
      std::make_unique<zyl::Array>(type, std::span<const int64_t>(dims, static_cast<size_t>(ndims)), zero != 0, def);
  if (data) *data = array->data();
  return newTemporary(Variable::ofArray(std::move(array)));
}

}  // namespace

HostVar* HostTempInt(int16_t v) { return newTemporary(Variable::ofInt16(v)); }
HostVar* HostTempLong(int32_t v) { return newTemporary(Variable::ofInt32(v)); }
HostVar* HostTempUInt(uint16_t v) { return newTemporary(Variable::ofUInt16(v)); }
HostVar* HostTempULong(uint32_t v) { return newTemporary(Variable::ofUInt32(v)); }
HostVar* HostTempNull() { return newTemporary(Variable::null()); }
HostVar* HostStringToVar(const char* text) { return newTemporary(Variable::ofString(text ? text : "")); }

HostVar* HostTempVar(HostType type) {
  Variable v;
  if (type == zyl::Type::Null) {
    v = Variable::null();
  } else if (type == zyl::Type::String) {
    v = Variable::ofString("");
  } else if (zyl::typeSize(type) != 0) {
    zyl::Scalar zero{};
    v.setScalar(type, zero);
  }
  return newTemporary(std::move(v));
}

HostVar* HostMakeTempVector(HostType type, int64_t count, int zero, void** data) {
  return tempArray(type, 1, &count, zero, data);
}

HostVar* HostMakeTempArray(HostType type, int ndims, const int64_t* dims, int zero, void** data) {
  return tempArray(type, ndims, dims, zero, data);
}

HostVar* HostMakeTempStructArray(const zyl::StructDef* def, int ndims, const int64_t* dims, int zero, void** data) {
  if (def == nullptr) zyl::Runtime::instance().fail("Structure array of an undefined structure");
  return tempArray(zyl::Type::Struct, ndims, dims, zero, data, def);
}

void HostFreeTemporary(HostVar* temp) { zyl::freeTemporary(temp); }

void HostVarCopy(HostVar* src, HostVar* dst) {
  if (src == nullptr || dst == nullptr || src == dst) return;
  if (zyl::isLiveTemporary(src)) {
    *dst = std::move(*src);
    zyl::freeTemporary(src);
  } else {
    *dst = *src;
  }
}

void HostStoreScalar(HostVar* dst, HostType type, const zyl::Scalar* value) {
  if (dst == nullptr || value == nullptr) return;
  dst->setScalar(type, *value);
}

void HostMakeUndefined(HostVar* v) {
  if (v) v->clear();
}

void HostReleaseOutput(HostVar* v) {
  if (v == nullptr) return;
  if (zyl::isLiveTemporary(v))
    zyl::freeTemporary(v);
  else
    v->clear();
}

// ---------------------------------------------------------------- host strings

void HostStringStore(zyl::HostString* s, const char* text, int32_t length) {
  if (s == nullptr) return;
  if (text == nullptr) {
    zyl::hostStringRelease(*s);
    return;
  }
  const size_t n = length < 0 ? std::strlen(text) : static_cast<size_t>(length);
  zyl::hostStringAssign(*s, std::string_view(text, n));
}

void HostStringDelete(zyl::HostString* s) {
  if (s) zyl::hostStringRelease(*s);
}

void HostStringDuplicate(zyl::HostString* s) {
  if (s == nullptr) return;
  const zyl::HostString shared = *s;
  *s = zyl::HostString{0, nullptr};
  if (shared.text) zyl::hostStringAssign(*s, std::string_view(shared.text, static_cast<size_t>(shared.length)));
}

size_t HostStringCopy(char* dst, const char* src, size_t size) {
  const size_t length = src ? std::strlen(src) : 0;
  if (dst && size > 0) {
    const size_t n = length < size - 1 ? length : size - 1;
    if (n) std::memcpy(dst, src, n);
    dst[n] = '\0';
  }
  return length;
}

size_t HostStringAppend(char* dst, const char* src, size_t size) {
  const size_t srcLength = src ? std::strlen(src) : 0;
  if (dst == nullptr || size == 0) return srcLength;
  const size_t used = strnlen(dst, size);
  if (used == size) return size + srcLength;  // no terminator within size: leave dst alone
  const size_t room = size - 1 - used;
  const size_t n = srcLength < room ? srcLength : room;
  if (n) std::memcpy(dst + used, src, n);
  dst[used + n] = '\0';
  return used + srcLength;
}

// ---------------------------------------------------------------- heap

uint64_t HostHeapNew(const HostVar* value) {
  if (value == nullptr || !value->isDefined()) return 0;
  auto& s = hostState();
  const uint64_t id = s.nextHeapId++;
  s.heap.emplace(id, std::make_unique<Variable>(*value));
  return id;
}

HostVar* HostHeapFind(uint64_t id) {
  auto& heap = hostState().heap;
  auto it = heap.find(id);
  return it == heap.end() ? nullptr : it->second.get();
}

void HostHeapFree(uint64_t id) { hostState().heap.erase(id); }

// Keyword processing against a routine's keyword table.
#include <cstring>

#include "state.h"
#include "zyl/host.h"

namespace {

using zyl::HostString;

template <typename T>
T& slot(void* result, size_t offset) {
  return *reinterpret_cast<T*>(static_cast<std::byte*>(result) + offset);
}

void clearEntry(const HostKeyword& k, void* result) {
  switch (k.kind) {
    case HOST_KW_INT:
      slot<int32_t>(result, k.valueOffset) = 0;
      break;
    case HOST_KW_DOUBLE:
      slot<double>(result, k.valueOffset) = 0;
      break;
    case HOST_KW_STRING:
      slot<HostString>(result, k.valueOffset) = HostString{0, nullptr};
      break;
    case HOST_KW_REF:
      slot<HostVar*>(result, k.valueOffset) = nullptr;
      break;
  }
  if (k.givenOffset != HOST_KW_NO_GIVEN) slot<int>(result, k.givenOffset) = 0;
}

const HostKeyword* findEntry(const HostKeyword* table, std::string_view name) {
  for (const HostKeyword* k = table; k->name != nullptr; ++k)
    if (zyl::sameName(k->name, name)) return k;  // full names only, never abbreviations
  return nullptr;
}

// Fills one entry from the caller's value; false when the value is undefined
// (an input keyword bound to an undefined variable counts as absent).
bool fillEntry(const HostKeyword& k, zyl::Variable& var, void* result, const std::string& routine) {
  zyl::Runtime& runtime = zyl::Runtime::instance();
  if (k.kind == HOST_KW_REF) {
    slot<HostVar*>(result, k.valueOffset) = &var;
    return true;
  }
  if (!var.isDefined()) return false;
  const std::string where = "keyword " + std::string(k.name) + " in call to: " + routine;
  if (var.isStruct()) runtime.fail("Structure not allowed for " + where);
  switch (k.kind) {
    case HOST_KW_INT: {
      int64_t value = 0;
      if (!zyl::integerValue(var, &value)) runtime.fail("Numeric value required for " + where);
      slot<int32_t>(result, k.valueOffset) = static_cast<int32_t>(value);
      break;
    }
    case HOST_KW_DOUBLE: {
      double value = 0;
      if (!zyl::numericValue(var, &value)) runtime.fail("Numeric value required for " + where);
      slot<double>(result, k.valueOffset) = value;
      break;
    }
    case HOST_KW_STRING: {
      std::string text;
      if (var.isArray() || !zyl::scalarText(var, &text)) runtime.fail("Scalar value required for " + where);
      zyl::hostStringAssign(slot<HostString>(result, k.valueOffset), text);
      break;
    }
    case HOST_KW_REF:
      break;
  }
  return true;
}

}  // namespace

int HostProcessKeywords(zyl::KeywordList* argk, const HostKeyword* table, void* result) {
  if (table == nullptr || result == nullptr) return 0;
  bool hasStrings = false;
  for (const HostKeyword* k = table; k->name != nullptr; ++k) {
    clearEntry(*k, result);
    hasStrings = hasStrings || k->kind == HOST_KW_STRING;
  }
  if (argk == nullptr) return 0;
  const std::string routine = argk->routine.empty() ? zyl::Runtime::instance().currentRoutine() : argk->routine;
  try {
    for (zyl::KeywordArg& arg : argk->items) {
      const HostKeyword* k = findEntry(table, arg.name);
      if (k == nullptr)
        zyl::Runtime::instance().fail("Keyword " + zyl::upperName(arg.name) + " not allowed in call to: " + routine);
      if (arg.var == nullptr) continue;
      if (fillEntry(*k, *arg.var, result, routine) && k->givenOffset != HOST_KW_NO_GIVEN)
        slot<int>(result, k->givenOffset) = 1;
    }
  } catch (...) {
    // The caller never gets to free what was copied before the error.
    HostFreeKeywords(table, result);
    throw;
  }
  return hasStrings ? 1 : 0;
}

void HostFreeKeywords(const HostKeyword* table, void* result) {
  if (table == nullptr || result == nullptr) return;
  for (const HostKeyword* k = table; k->name != nullptr; ++k)
    if (k->kind == HOST_KW_STRING) zyl::hostStringRelease(slot<HostString>(result, k->valueOffset));
}

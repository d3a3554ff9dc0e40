// Structure definitions and object classes.
#include <cstdint>

#include "state.h"
#include "zyl/host.h"

namespace zyl {

ClassRecord* Runtime::findClass(std::string_view name) const {
  auto it = state_->classes.find(upperName(name));
  return it == state_->classes.end() ? nullptr : it->second.get();
}

const StructDef* Runtime::structOfClass(const ClassRecord* record) const {
  if (record == nullptr) return nullptr;
  auto it = state_->structs.find(record->name());
  return it == state_->structs.end() ? nullptr : it->second.get();
}

}  // namespace zyl

using zyl::hostState;

zyl::StructDef* HostDefineStructure(const char* name, const HostStructTag* tags) {
  if (name == nullptr || *name == '\0' || tags == nullptr) return nullptr;
  std::vector<std::pair<std::string, zyl::Type>> fields;
  for (const HostStructTag* tag = tags; tag->name != nullptr; ++tag) {
    if (*tag->name == '\0' || zyl::typeAlign(tag->type) == 0) return nullptr;
    for (const auto& [seen, type] : fields)
      if (zyl::sameName(seen, tag->name)) return nullptr;  // a field name twice
    fields.emplace_back(zyl::upperName(tag->name), tag->type);
  }
  if (fields.empty()) return nullptr;

  auto& structs = hostState().structs;
  const std::string key = zyl::upperName(name);
  if (auto it = structs.find(key); it != structs.end()) {
    // A redefinition must repeat the fields exactly; it gets the existing definition.
    const auto& existing = it->second->fields();
    if (existing.size() != fields.size()) return nullptr;
    for (size_t i = 0; i < fields.size(); ++i)
      if (existing[i].name != fields[i].first || existing[i].type != fields[i].second) return nullptr;
    return it->second.get();
  }
  auto def = std::make_unique<zyl::StructDef>(key, std::move(fields));
  zyl::StructDef* handle = def.get();
  structs.emplace(key, std::move(def));
  return handle;
}

zyl::StructDef* HostFindStructure(const char* name) {
  if (name == nullptr) return nullptr;
  auto& structs = hostState().structs;
  auto it = structs.find(zyl::upperName(name));
  return it == structs.end() ? nullptr : it->second.get();
}

size_t HostStructFieldOffset(const zyl::StructDef* def, const char* field) {
  if (def == nullptr || field == nullptr) return SIZE_MAX;
  const int index = def->fieldIndex(field);
  return index < 0 ? SIZE_MAX : def->fields()[static_cast<size_t>(index)].offset;
}

HostClassRecord* HostClassRecordCreate(const char* className) {
  if (className == nullptr || *className == '\0') return nullptr;
  auto& s = hostState();
  const std::string key = zyl::upperName(className);
  auto it = s.classes.find(key);
  if (it == s.classes.end()) it = s.classes.emplace(key, std::make_unique<zyl::ClassRecord>(key)).first;
  return it->second.get();
}

void HostSetClassReleaseCallback(HostClassRecord* record, HostReleaseCallback callback) {
  if (record != nullptr) record->setReleaseCallback(callback);
}

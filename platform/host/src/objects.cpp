// Objects: instances of classes, with their INIT and CLEANUP methods.
#include "state.h"
#include "zyl/host.h"

namespace zyl {

namespace {

const RoutineInfo* methodOf(const Runtime& runtime, const ClassRecord& record, const char* method) {
  const std::string name = record.name() + "::" + method;
  const RoutineInfo* routine = runtime.findRoutine(name, true);
  return routine ? routine : runtime.findRoutine(name, false);
}

// Removes the object and runs its release callback (no CLEANUP).
void releaseObject(uint64_t id) {
  auto& objects = hostState().objects;
  auto node = objects.extract(id);
  if (node.empty()) return;
  ObjectEntry& entry = node.mapped();
  if (entry.record->releaseCallback() && entry.data) entry.record->releaseCallback()(entry.data->data());
}

}  // namespace

Variable Runtime::newObject(std::string_view className, std::vector<Variable*> args, std::vector<KeywordArg> keywords) {
  ClassRecord* record = findClass(className);
  if (record == nullptr) fail("Attempt to create an object of an undefined class: " + upperName(className));
  const StructDef* def = structOfClass(record);
  if (def == nullptr) fail("Class has no instance structure: " + record->name());

  const int64_t one = 1;
  ObjectEntry entry;
  entry.record = record;
  entry.data = std::make_unique<Array>(Type::Struct, std::span<const int64_t>(&one, 1), true, def);
  const uint64_t id = state_->nextObjectId++;
  state_->objects.emplace(id, std::move(entry));
  Variable object = Variable::ofObject(id);

  const RoutineInfo* init = methodOf(*this, *record, "INIT");
  if (init == nullptr) return object;
  Variable result;
  try {
    args.insert(args.begin(), &object);
    result = call(init->name, init->isFunction, std::move(args), std::move(keywords));
  } catch (...) {
    releaseObject(id);
    throw;
  }
  int64_t status = 1;
  if (init->isFunction && integerValue(result, &status) && status == 0) {
    releaseObject(id);
    return Variable::null();
  }
  return object;
}

void Runtime::destroyObject(const Variable& object) {
  if (object.type() == Type::Null || !object.isDefined()) return;
  if (object.type() != Type::Object || object.isArray()) fail("Object reference required in this context: DESTROY");
  const uint64_t id = object.scalar().id;
  if (id == 0) return;
  auto it = state_->objects.find(id);
  if (it == state_->objects.end()) fail("Invalid object reference in this context: DESTROY");
  if (const RoutineInfo* cleanup = methodOf(*this, *it->second.record, "CLEANUP")) {
    Variable self = Variable::ofObject(id);
    try {
      call(cleanup->name, cleanup->isFunction, {&self});
    } catch (...) {
      releaseObject(id);
      throw;
    }
  }
  releaseObject(id);
}

void* Runtime::objectInstance(uint64_t id, const ClassRecord** record) const {
  auto it = state_->objects.find(id);
  if (it == state_->objects.end()) return nullptr;
  if (record) *record = it->second.record;
  return it->second.data->data();
}

bool Runtime::objectValid(uint64_t id) const { return state_->objects.count(id) != 0; }

}  // namespace zyl

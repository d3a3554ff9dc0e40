// ZYLffOrvoStorScu's life and properties: the destination entity, the
// progress callback and its data.
#include <cstddef>
#include <string>

#include "callback.h"
#include "method.h"
#include "storscu_instance.h"
#include "storscu_methods.h"

namespace orvo::storscu {
namespace {

using Call = MethodCall<StorScuInstance, NoKeywords>;

void clearNames(StorScuInstance& self) {
  HostStringStore(&self.aenStorage, "", 0);
  HostStringStore(&self.callback, "", 0);
}

HostVar* initWorker(MethodCall<StorScuInstance, SystemKeywords>& call) {
  clearNames(call.self());
  return HostTempLong(1);
}

HostVar* cleanupWorker(Call& call) {
  StorScuInstance& self = call.self();
  if (self.callbackData != 0) setCallbackData(self.callbackData, nullptr);
  return nullptr;
}

HostVar* clearWorker(Call& call) {
  clearNames(call.self());
  return nullptr;
}

struct PropertyKeywords {
  HostVar* storageScp;
  int storageScpGiven;
  HostVar* callbackFunction;
  int callbackFunctionGiven;
  HostVar* callbackData;
  int callbackDataGiven;
  static const HostKeyword table[];
};
const HostKeyword PropertyKeywords::table[] = {
    {"CALLBACK_DATA", HOST_KW_REF, offsetof(PropertyKeywords, callbackData),
     offsetof(PropertyKeywords, callbackDataGiven)},
    {"CALLBACK_FUNCTION", HOST_KW_REF, offsetof(PropertyKeywords, callbackFunction),
     offsetof(PropertyKeywords, callbackFunctionGiven)},
    {"STORAGE_SCP", HOST_KW_REF, offsetof(PropertyKeywords, storageScp), offsetof(PropertyKeywords, storageScpGiven)},
    {nullptr, HOST_KW_INT, 0, 0}};

void storeText(HostVar* out, const zyl::HostString& text) {
  HostVar* value = HostStringToVar(std::string(zyl::hostStringText(text)).c_str());
  HostVarCopy(value, out);
}

HostVar* getWorker(MethodCall<StorScuInstance, PropertyKeywords>& call) {
  StorScuInstance& self = call.self();
  const PropertyKeywords& kw = call.keywords();
  if (kw.storageScpGiven) storeText(kw.storageScp, self.aenStorage);
  if (kw.callbackFunctionGiven) storeText(kw.callbackFunction, self.callback);
  if (kw.callbackDataGiven) getCallbackData(self.callbackData, kw.callbackData);
  return nullptr;
}

// The two names hold text only: another type is refused before anything changes.
std::string nameValue(HostVar* value, const char* keyword) {
  if (value == nullptr || !value->isScalarString())
    fail(kErrs2, "Error: The property value must be a string ", keyword);
  return std::string(value->text());
}

HostVar* setWorker(MethodCall<StorScuInstance, PropertyKeywords>& call) {
  StorScuInstance& self = call.self();
  const PropertyKeywords& kw = call.keywords();
  const std::string storage = kw.storageScpGiven ? nameValue(kw.storageScp, "STORAGE_SCP") : "";
  const std::string function = kw.callbackFunctionGiven ? nameValue(kw.callbackFunction, "CALLBACK_FUNCTION") : "";
  if (kw.storageScpGiven) HostStringStore(&self.aenStorage, storage.c_str(), static_cast<int32_t>(storage.size()));
  if (kw.callbackFunctionGiven)
    HostStringStore(&self.callback, function.c_str(), static_cast<int32_t>(function.size()));
  if (kw.callbackDataGiven) setCallbackData(self.callbackData, kw.callbackData);
  return nullptr;
}

}  // namespace

MethodRows storscuObjectMethods() {
  static const MethodRow kRows[] = {
      functionRow("ZYLFFORVOSTORSCU::INIT", methodEntry<StorScuInstance, SystemKeywords, initWorker>, 1, 1,
                  HOST_ROUTINE_KEYWORDS),
      procedureRow("ZYLFFORVOSTORSCU::CLEANUP", methodEntry<StorScuInstance, NoKeywords, cleanupWorker>, 1, 1, 0),
      procedureRow("ZYLFFORVOSTORSCU::CLEARPROPERTIES", methodEntry<StorScuInstance, NoKeywords, clearWorker>, 1, 1, 0),
      procedureRow("ZYLFFORVOSTORSCU::GETPROPERTY", methodEntry<StorScuInstance, PropertyKeywords, getWorker>, 1, 1,
                   HOST_ROUTINE_KEYWORDS),
      procedureRow("ZYLFFORVOSTORSCU::SETPROPERTY", methodEntry<StorScuInstance, PropertyKeywords, setWorker>, 1, 1,
                   HOST_ROUTINE_KEYWORDS),
  };
  return kRows;
}

}  // namespace orvo::storscu

// Init, Cleanup, Commit, IsDirty, the named parameters (GetValue, SetValue)
// and UpdateConfigurationFile of ZYLffOrvoCfg.
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cstddef>
#include <cstdlib>
#include <string>

#include "cfg_document.h"
#include "cfg_methods.h"
#include "method.h"
#include "startup.h"

namespace orvo::netconfig {
namespace {

namespace cfg = zyl::config;
using Call = MethodCall<CfgInstance, NoKeywords>;

// How a parameter may be set.
enum class Rule {
  EntityName,
  FileExtension,
  StorageDir,
  MaxResponses,
  AcceptAny,
  ControlPort,
  ConfigFile,
  SystemDir,
  Migrated
};

struct Parameter {
  const char* name;     // lower case, as given names are matched
  const char* element;  // the element in orvocfg.xml ("" for the object's path)
  Rule rule;
};
constexpr Parameter kParameters[] = {
    {"qrscuserviceae", "QRScuServiceAE", Rule::EntityName},
    {"storscpserviceae", "StorScpServiceAE", Rule::EntityName},
    {"storscuserviceae", "StorScuServiceAE", Rule::EntityName},
    {"echoscuserviceae", "EchoScuServiceAE", Rule::EntityName},
    {"fileextension", "FileExtension", Rule::FileExtension},
    {"storscpdir", "StorScpDir", Rule::StorageDir},
    {"maxqueryresponses", "MaxQueryResponses", Rule::MaxResponses},
    {"acceptany", "AcceptAny", Rule::AcceptAny},
    {"storscpctrlport", "StorScpCtrlPort", Rule::ControlPort},
    {"configfile", "", Rule::ConfigFile},
    {"systemdir", "SystemDir", Rule::SystemDir},
    {"migrated", "Migrated", Rule::Migrated},
};

const Parameter* parameterNamed(std::string_view given) {
  std::string lowered(given.substr(0, 50));
  std::transform(lowered.begin(), lowered.end(), lowered.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  for (const Parameter& p : kParameters)
    if (lowered == p.name) return &p;
  return nullptr;
}

// A count that must be a positive number: its text without leading blanks.
std::string positiveNumber(const std::string& value, size_t maxLength, const char* invalidText) {
  const std::string text(withoutLeadingBlanks(value));
  if (text.size() > maxLength) fail(kErrs1, "Error: Parameter is too long.");
  // Digits alone, above zero: "-5" is no count, and "1e3" would be read
  // back as 1.
  if (decimalValue(text) <= 0) fail(kErrs2, invalidText, value);
  return text;
}

HostVar* initWorker(MethodCall<CfgInstance, SystemKeywords>& call) {
  CfgInstance& self = call.self();
  self.xmlDirty = 0;
  AccessMessage message{};
  releaseDocument(self, message);  // a second Init keeps nothing of the first
  const std::string path = configFilePath(call.keywords().system != 0);
  HostStringStore(&self.xmlFile, path.c_str(), static_cast<int32_t>(path.size()));

  auto document = std::make_unique<cfg::ConfigDocument>();
  if (cfg::LoadConfig(path, *document, message) != 0) {
    report(kErrs1, HOST_MSG_INFO, std::string(message.data()));
    return HostTempInt(0);
  }
  std::array<char, 256> probe{};
  if (cfg::ReadParam(*document, "QRScuServiceAE", probe, path, message) != 0) {
    report(kErrs2, HOST_MSG_INFO, "Fatal Error reading parameters in cfg file (file)", path);
    return HostTempInt(0);
  }
  holdDocument(self, std::move(document));
  return HostTempInt(1);
}

HostVar* cleanupWorker(Call& call) {
  AccessMessage message{};
  if (releaseDocument(call.self(), message) != 0) failWith(message);
  return nullptr;
}

HostVar* commitWorker(Call& call) {
  CfgInstance& self = call.self();
  const std::string path = pathOf(self);
  if (!HostFileExists(path.c_str())) fail(kErrs2, "Commit Failed - file does exist", path);
  if (::access(path.c_str(), W_OK) != 0) fail(kErrs2, "Commit Failed - file does not have write permissions", path);
  AccessMessage message{};
  if (cfg::WriteConfig(documentOf(self), path, message) != 0) failWith(message);
  self.xmlDirty = 0;
  return nullptr;
}

HostVar* isDirtyWorker(Call& call) { return HostTempLong(call.self().xmlDirty); }

HostVar* getValueWorker(Call& call) {
  CfgInstance& self = call.self();
  HostVar* nameArg = call.arg(1);
  if (nameArg == nullptr || !nameArg->isScalarString()) fail(kErrs1, "Error: Argument must be a string");
  const std::string given(nameArg->text());
  const Parameter* parameter = parameterNamed(given);
  if (parameter == nullptr) fail(kErrs2, "Error: Invalid config parameter name", given);
  if (parameter->rule == Rule::ConfigFile) return HostStringToVar(pathOf(self).c_str());
  // Room for the longest value SetValue accepts (StorScpDir, 256 characters).
  std::array<char, 257> value{};
  AccessMessage message{};
  if (cfg::ReadParam(documentOf(self), parameter->element, value, pathOf(self), message) != 0) failWith(message);
  return HostStringToVar(value.data());
}

HostVar* setValueWorker(Call& call) {
  CfgInstance& self = call.self();
  HostVar* nameArg = call.arg(1);
  if (nameArg == nullptr || !nameArg->isScalarString()) fail(kErrs1, "Error: Argument 1 must be a string");
  const std::string given(nameArg->text());
  std::string value = argumentText(call.arg(2));
  const Parameter* parameter = parameterNamed(given);
  if (parameter == nullptr) fail(kErrs2, "Error: Invalid config parameter name", given);
  const std::string path = pathOf(self);
  cfg::ConfigDocument& document = documentOf(self);
  AccessMessage message{};

  switch (parameter->rule) {
    case Rule::EntityName: {
      bool found = false;
      if (cfg::ApplEntityExists(document, value, found, path, message) != 0) failWith(message);
      if (!found) fail(kErrs2, "Error: Value is a not a defined Appl Entity Name (val)", value);
      if (value.size() > 30) fail(kErrs1, "Error: Parameter is too long.");
      break;
    }
    case Rule::FileExtension:
      // It becomes part of a file name: 1 to 3 letters or digits, so that
      // "" and "../" cannot name another folder; the one message it has.
      if (value.empty() || value.size() > 3 ||
          !std::all_of(value.begin(), value.end(), [](unsigned char c) { return std::isalnum(c) != 0; }))
        fail(kErrs2, "Error: File Extension can not be greater than 3 characters (val)", value);
      break;
    case Rule::StorageDir:
      if (value.empty()) fail(kErrs1, "Error: Storage Scp dir can not be set to null");
      if (value.size() > 256) fail(kErrs1, "Error: Parameter is too long.");
      break;
    case Rule::MaxResponses:
      value = positiveNumber(value, 5, "Error: Max Query Responses value is not valid (it must be > 0) (val)");
      break;
    case Rule::ControlPort:
      value = positiveNumber(value, 6, "Error: Stor Scp Ctrl Port value is not valid (it must be > 0) (val)");
      break;
    case Rule::AcceptAny: {
      std::string head = value.substr(0, 3);
      std::transform(head.begin(), head.end(), head.begin(),
                     [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
      if (head != "yes" && head != "no") fail(kErrs2, "Error: Value must be a set Yes or No (val)", value);
      value = head;
      break;
    }
    case Rule::ConfigFile:
      fail(kErrs1, "Error: ConfigFile is a get only parameter.");
    case Rule::SystemDir:
      fail(kErrs1, "Error: SystemDir is a get only parameter.");
    case Rule::Migrated:
      fail(kErrs1, "Error: Migrated is a get only parameter.");
  }
  if (cfg::SetParam(document, parameter->element, value, path, message) != 0) failWith(message);
  self.xmlDirty = 1;
  return nullptr;
}

HostVar* updateWorker(Call& call) {
  CfgInstance& self = call.self();
  const std::string path = pathOf(self);
  // A refresh that fails leaves the object with the document it had.
  if (refreshUserConfig() == 0) fail(kErrs2, "Error: Failed to update configuration file", path);
  AccessMessage message{};
  auto document = std::make_unique<cfg::ConfigDocument>();
  if (cfg::LoadConfig(path, *document, message) != 0) failWith(message);
  if (releaseDocument(self, message) != 0) failWith(message);
  holdDocument(self, std::move(document));
  return nullptr;
}

}  // namespace

MethodRows cfgObjectMethods() {
  static const MethodRow kRows[] = {
      functionRow("ZYLFFORVOCFG::INIT", methodEntry<CfgInstance, SystemKeywords, initWorker>, 1, 1,
                  HOST_ROUTINE_KEYWORDS),
      procedureRow("ZYLFFORVOCFG::CLEANUP", methodEntry<CfgInstance, NoKeywords, cleanupWorker>, 1, 1, 0),
      procedureRow("ZYLFFORVOCFG::COMMIT", methodEntry<CfgInstance, NoKeywords, commitWorker>, 1, 1, 0),
      functionRow("ZYLFFORVOCFG::ISDIRTY", methodEntry<CfgInstance, NoKeywords, isDirtyWorker>, 1, 1, 0),
      functionRow("ZYLFFORVOCFG::GETVALUE", methodEntry<CfgInstance, NoKeywords, getValueWorker>, 2, 2, 0),
      procedureRow("ZYLFFORVOCFG::SETVALUE", methodEntry<CfgInstance, NoKeywords, setValueWorker>, 3, 3, 0),
      procedureRow("ZYLFFORVOCFG::UPDATECONFIGURATIONFILE", methodEntry<CfgInstance, NoKeywords, updateWorker>, 1, 1,
                   0),
  };
  return kRows;
}

}  // namespace orvo::netconfig

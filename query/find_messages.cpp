// The query client's node probe (QueryModelsSupported) and its low-level
// message methods, with which a host program runs a C-FIND step by step:
// OpenFindRq, SetValue, Send, Read, GetValue, FreeMessage, Close.
#include <array>
#include <cstddef>
#include <cstdio>
#include <optional>
#include <string>
#include <vector>

#include "fileobject/file_services.h"
#include "format_text.h"
#include "method.h"
#include "query_association.h"
#include "query_methods.h"
#include "toolkit/handles.h"

namespace orvo::query {
namespace {

namespace cfg = zyl::config;

struct ModelCode {
  const char* service;
  int16_t code;
};
constexpr ModelCode kModels[] = {
    {"PATIENT_ROOT_QR_FIND", 0},       {"PATIENT_ROOT_QR_GET", 1},       {"PATIENT_ROOT_QR_MOVE", 2},
    {"PATIENT_STUDY_ONLY_QR_FIND", 3}, {"PATIENT_STUDY_ONLY_QR_GET", 4}, {"PATIENT_STUDY_ONLY_QR_MOVE", 5},
    {"STUDY_ROOT_QR_FIND", 6},         {"STUDY_ROOT_QR_GET", 7},         {"STUDY_ROOT_QR_MOVE", 8},
};
constexpr size_t kReportedServices = 15;

HostVar* modelsWorker(MethodCall<QueryInstance, CountKeywords>& call) {
  QueryInstance& self = call.self();
  if (std::string_view(zyl::hostStringText(self.aenQuery)).empty())
    fail(kErrs1, "Error: Set the Query_SCP property before calling this method.");
  cfg::CfgApplEntity remote{};
  int association = -1;
  MC_STATUS status = openQueryAssociation(self, remote, association);
  const std::string name(remote.Name.view()), aet(remote.AET.view());
  if (status != MC_NORMAL_COMPLETION) {
    deliver(self, formatText("Failed to open an association with the remote query scp service.   AE Name (%s),   "
                             "AET (%s),   Err (%s)",
                             name.c_str(), aet.c_str(), errorText(status)));
    fail(kErrs4, "Error: Open Dicom Association failed (name/aet/err)", name, aet, std::string(errorText(status)));
  }
  zyl::toolkit::AssociationHandle open(association);  // aborted on a way out that did not close it
  // The first fifteen services the node accepted.
  std::vector<std::string> services;
  char service[256] = {};
  MC_TRANSFER_SYNTAX syntax{};
  for (status = MC_Get_First_Acceptable_Service(open.get(), service, sizeof service, &syntax);
       status == MC_NORMAL_COMPLETION;
       status = MC_Get_Next_Acceptable_Service(open.get(), service, sizeof service, &syntax))
    if (services.size() < kReportedServices) services.emplace_back(service);
  if (status != MC_END_OF_LIST) {
    open.abort();
    deliver(self, formatText("Error: Getting query service models from remote node failed.  AE Name (%s),   "
                             "AET (%s),   Err (%s)",
                             name.c_str(), aet.c_str(), errorText(status)));
    fail(kErrs4, "Error: Getting query service models from remote node failed (name/aet/err)", name, aet,
         std::string(errorText(status)));
  }
  open.close();

  std::vector<int16_t> codes;
  for (const std::string& s : services)
    for (const ModelCode& model : kModels)
      if (s == model.service) codes.push_back(model.code);
  if (call.keywords().countGiven) storeUInt32(call.keywords().count, static_cast<uint32_t>(services.size()));
  // Services that are no query model leave no element; an empty answer is a
  // single -1.
  if (codes.empty()) return HostTempInt(-1);
  void* data = nullptr;
  HostVar* result = HostMakeTempVector(zyl::Type::Int16, static_cast<int64_t>(codes.size()), 1, &data);
  std::copy(codes.begin(), codes.end(), static_cast<int16_t*>(data));
  return result;
}

// ---- the low-level message methods ----------------------------------------------

// STATUS given: the toolkit status goes there and failures raise nothing.
struct StatusKeywords {
  HostVar* status;
  int statusGiven;
  static const HostKeyword table[];
};
const HostKeyword StatusKeywords::table[] = {
    {"STATUS", HOST_KW_REF, offsetof(StatusKeywords, status), offsetof(StatusKeywords, statusGiven)},
    {nullptr, HOST_KW_INT, 0, 0}};

template <typename Keywords>
bool reportStatus(const Keywords& kw, MC_STATUS status) {
  if (!kw.statusGiven) return false;
  zyl::Scalar s{};
  s.i32 = static_cast<int32_t>(status);
  HostStoreScalar(kw.status, zyl::Type::Int32, &s);
  return true;
}

// A tag argument: a string as tag strings are read (without their length
// rule), any other scalar as the 32-bit tag number.
uint32_t tagArgument(HostVar* arg) {
  if (!arg->isScalarString()) return HostULongScalar(arg);
  const std::string given(arg->text());
  const std::optional<uint32_t> tag = file::tagDigits(given);
  if (!tag || *tag == 0) fail(kErrs2, "Error: Failed to interpret DicomTag arg ", given);
  return *tag;
}

struct OpenKeywords {
  int32_t cancel;
  HostVar* status;
  int statusGiven;
  static const HostKeyword table[];
};
const HostKeyword OpenKeywords::table[] = {
    {"CANCEL", HOST_KW_INT, offsetof(OpenKeywords, cancel), HOST_KW_NO_GIVEN},
    {"STATUS", HOST_KW_REF, offsetof(OpenKeywords, status), offsetof(OpenKeywords, statusGiven)},
    {nullptr, HOST_KW_INT, 0, 0}};

HostVar* openFindWorker(MethodCall<QueryInstance, OpenKeywords>& call) {
  HostVar* serviceArg = call.arg(1);
  const std::string service =
      serviceArg != nullptr && serviceArg->isScalarString() ? std::string(serviceArg->text()) : "";
  int message = 0;
  const MC_STATUS status =
      MC_Open_Message(&message, service.c_str(), call.keywords().cancel != 0 ? MC_CMD_C_CANCEL_RQ : MC_CMD_C_FIND_RQ);
  if (!reportStatus(call.keywords(), status) && status != MC_NORMAL_COMPLETION)
    fail(kErrs3, service, ": Failed to open message: ", std::string(errorText(status)));
  return HostTempLong(status == MC_NORMAL_COMPLETION ? message : 0);
}

MC_STATUS setFromHost(int message, uint32_t tag, HostVar* value) {
  if (value == nullptr || !value->isDefined()) return MC_Set_Value_To_NULL(message, tag);
  if (value->isArray()) {
    if (value->type() != zyl::Type::String) fail(kErrs1, "Unsupported data type");
    MC_STATUS status = MC_Set_Value_To_Empty(message, tag);
    const auto* strings = value->array()->as<zyl::HostString>();
    for (int64_t i = 0; i < value->array()->count() && status == MC_NORMAL_COMPLETION; ++i)
      status = MC_Set_Next_Value_From_String(message, tag, std::string(zyl::hostStringText(strings[i])).c_str());
    return status;
  }
  const zyl::Scalar& s = value->scalar();
  switch (value->type()) {
    case zyl::Type::Int16:
      return MC_Set_Value_From_ShortInt(message, tag, s.i16);
    case zyl::Type::UInt16:
      return MC_Set_Value_From_ShortInt(message, tag, static_cast<short>(s.u16));
    case zyl::Type::Int32:
      return MC_Set_Value_From_Int(message, tag, s.i32);
    case zyl::Type::UInt32:
      return MC_Set_Value_From_UInt(message, tag, s.u32);
    case zyl::Type::Float32:
      return MC_Set_Value_From_Float(message, tag, s.f32);
    case zyl::Type::Float64:
      return MC_Set_Value_From_Double(message, tag, s.f64);
    case zyl::Type::String:
      return MC_Set_Value_From_String(message, tag, std::string(value->text()).c_str());
    default:
      fail(kErrs1, "Unsupported data type");
  }
}

HostVar* setValueWorker(MethodCall<QueryInstance, StatusKeywords>& call) {
  const int message = HostLongScalar(call.arg(1));
  const uint32_t tag = tagArgument(call.arg(2));
  const MC_STATUS status = setFromHost(message, tag, call.arg(3));
  if (!reportStatus(call.keywords(), status) && status != MC_NORMAL_COMPLETION)
    fail(kErrs3, "!NULL", ": Failed to set value: ", std::string(errorText(status)));
  return nullptr;
}

struct SendKeywords {
  int32_t association;
  HostVar* status;
  int statusGiven;
  static const HostKeyword table[];
};
const HostKeyword SendKeywords::table[] = {
    {"ASSOCIATION", HOST_KW_INT, offsetof(SendKeywords, association), HOST_KW_NO_GIVEN},
    {"STATUS", HOST_KW_REF, offsetof(SendKeywords, status), offsetof(SendKeywords, statusGiven)},
    {nullptr, HOST_KW_INT, 0, 0}};

HostVar* sendWorker(MethodCall<QueryInstance, SendKeywords>& call) {
  const SendKeywords& kw = call.keywords();
  const int message = HostLongScalar(call.arg(1));
  int association = kw.association;
  if (association == 0) {
    cfg::CfgApplEntity remote{};
    const MC_STATUS opened = openQueryAssociation(call.self(), remote, association);
    if (opened != MC_NORMAL_COMPLETION) {
      if (reportStatus(kw, opened)) return HostTempLong(0);
      fail(kErrs3, std::string(remote.AET.view()), ": Failed to associate: ", std::string(errorText(opened)));
    }
  }
  const MC_STATUS status = MC_Send_Request_Message(association, message);
  if (!reportStatus(kw, status) && status != MC_NORMAL_COMPLETION)
    fail(kErrs2, "Failed to send", std::string(errorText(status)));
  return HostTempLong(association);
}

struct ReadKeywords {
  HostVar* command;
  int commandGiven;
  HostVar* serviceName;
  int serviceNameGiven;
  HostVar* status;
  int statusGiven;
  int32_t timeout;
  int timeoutGiven;
  static const HostKeyword table[];
};
const HostKeyword ReadKeywords::table[] = {
    {"COMMAND", HOST_KW_REF, offsetof(ReadKeywords, command), offsetof(ReadKeywords, commandGiven)},
    {"SERVICENAME", HOST_KW_REF, offsetof(ReadKeywords, serviceName), offsetof(ReadKeywords, serviceNameGiven)},
    {"STATUS", HOST_KW_REF, offsetof(ReadKeywords, status), offsetof(ReadKeywords, statusGiven)},
    {"TIMEOUT", HOST_KW_INT, offsetof(ReadKeywords, timeout), offsetof(ReadKeywords, timeoutGiven)},
    {nullptr, HOST_KW_INT, 0, 0}};

HostVar* readWorker(MethodCall<QueryInstance, ReadKeywords>& call) {
  const ReadKeywords& kw = call.keywords();
  const int association = HostLongScalar(call.arg(1));
  int message = 0;
  const char* service = nullptr;
  MC_COMMAND command{};
  const MC_STATUS status =
      MC_Read_Message(association, kw.timeoutGiven ? kw.timeout : 3000, &message, &service, &command);
  const bool quiet = reportStatus(kw, status);
  if (status == MC_TIMEOUT) return HostTempNull();
  if (status != MC_NORMAL_COMPLETION) {
    if (quiet) return HostTempNull();
    fail(kErrs2, "Failed to read message: ", std::string(errorText(status)));
  }
  if (kw.commandGiven) {
    zyl::Scalar s{};
    s.i32 = static_cast<int32_t>(command);
    HostStoreScalar(kw.command, zyl::Type::Int32, &s);
  }
  if (kw.serviceNameGiven) HostVarCopy(HostStringToVar(service != nullptr ? service : ""), kw.serviceName);
  return HostTempLong(message);
}

struct GetKeywords {
  int32_t asDouble, asFloat, asInt, asLong, asUInt, asULong;
  HostVar* status;
  int statusGiven;
  static const HostKeyword table[];
};
const HostKeyword GetKeywords::table[] = {
    {"DOUBLE", HOST_KW_INT, offsetof(GetKeywords, asDouble), HOST_KW_NO_GIVEN},
    {"FLOAT", HOST_KW_INT, offsetof(GetKeywords, asFloat), HOST_KW_NO_GIVEN},
    {"INT", HOST_KW_INT, offsetof(GetKeywords, asInt), HOST_KW_NO_GIVEN},
    {"LONG", HOST_KW_INT, offsetof(GetKeywords, asLong), HOST_KW_NO_GIVEN},
    {"UINT", HOST_KW_INT, offsetof(GetKeywords, asUInt), HOST_KW_NO_GIVEN},
    {"ULONG", HOST_KW_INT, offsetof(GetKeywords, asULong), HOST_KW_NO_GIVEN},
    {"STATUS", HOST_KW_REF, offsetof(GetKeywords, status), offsetof(GetKeywords, statusGiven)},
    {nullptr, HOST_KW_INT, 0, 0}};

// The value of a response attribute, typed by its VR as the file object
// reads values; the type keywords are accepted and the VR decides.
HostVar* getValueWorker(MethodCall<QueryInstance, GetKeywords>& call) {
  const GetKeywords& kw = call.keywords();
  const int message = HostLongScalar(call.arg(1));
  const uint32_t tag = tagArgument(call.arg(2));
  const std::string formatted = formatText("%4.4x,%4.4x", tag >> 16, tag & 0xFFFF);
  int count = 0;
  MC_STATUS status = MC_Get_Value_Count(message, tag, &count);
  if (status == MC_NORMAL_COMPLETION) {
    MC_VR vr{};
    status = MC_Get_Attribute_Info(message, tag, &vr, nullptr);
  }
  if (reportStatus(kw, status) && status != MC_NORMAL_COMPLETION) return HostTempNull();
  if (status != MC_NORMAL_COMPLETION)
    fail(kErrs3, formatted, ": Failed to get value count: ", std::string(errorText(status)));
  return file::readMessageAttribute(message, formatted);
}

HostVar* freeWorker(MethodCall<QueryInstance, StatusKeywords>& call) {
  const MC_STATUS status = MC_Free_Message(HostLongScalar(call.arg(1)));
  if (!reportStatus(call.keywords(), status) && status != MC_NORMAL_COMPLETION)
    fail(kErrs2, "Failed to free: ", std::string(errorText(status)));
  return nullptr;
}

HostVar* closeWorker(MethodCall<QueryInstance, StatusKeywords>& call) {
  const MC_STATUS status = MC_Close_Association(HostLongScalar(call.arg(1)));
  if (!reportStatus(call.keywords(), status) && status != MC_NORMAL_COMPLETION)
    fail(kErrs2, "Failed to close association: ", std::string(errorText(status)));
  return nullptr;
}

}  // namespace

MethodRows findMessagesMethods() {
  static const MethodRow kRows[] = {
      functionRow("ZYLFFORVOQUERY::QUERYMODELSSUPPORTED", methodEntry<QueryInstance, CountKeywords, modelsWorker>, 1, 1,
                  HOST_ROUTINE_KEYWORDS),
      functionRow("ZYLFFORVOQUERY::OPENFINDRQ", methodEntry<QueryInstance, OpenKeywords, openFindWorker>, 2, 2,
                  HOST_ROUTINE_KEYWORDS),
      procedureRow("ZYLFFORVOQUERY::SETVALUE", methodEntry<QueryInstance, StatusKeywords, setValueWorker>, 3, 4,
                   HOST_ROUTINE_KEYWORDS),
      functionRow("ZYLFFORVOQUERY::SEND", methodEntry<QueryInstance, SendKeywords, sendWorker>, 2, 2,
                  HOST_ROUTINE_KEYWORDS),
      functionRow("ZYLFFORVOQUERY::READ", methodEntry<QueryInstance, ReadKeywords, readWorker>, 2, 2,
                  HOST_ROUTINE_KEYWORDS),
      functionRow("ZYLFFORVOQUERY::GETVALUE", methodEntry<QueryInstance, GetKeywords, getValueWorker>, 3, 3,
                  HOST_ROUTINE_KEYWORDS),
      procedureRow("ZYLFFORVOQUERY::FREEMESSAGE", methodEntry<QueryInstance, StatusKeywords, freeWorker>, 2, 2,
                   HOST_ROUTINE_KEYWORDS),
      procedureRow("ZYLFFORVOQUERY::CLOSE", methodEntry<QueryInstance, StatusKeywords, closeWorker>, 2, 2,
                   HOST_ROUTINE_KEYWORDS),
  };
  return kRows;
}

}  // namespace orvo::query

// Send of ZYLffOrvoStorScu: each file opened, an association proposed for
// its SOP class in eight transfer syntaxes, and in its own when that is RLE or
// JPEG-LS (kept while the class and syntax stay the same), the file converted to an uncompressed syntax when the node
// does not take its own, stored with C-STORE, and every step reported to the
// progress callback.
#include <array>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "callback.h"
#include "fileobject/file_services.h"
#include "format_text.h"
#include "method.h"
#include "startup.h"
#include "storscu_instance.h"
#include "storscu_methods.h"
#include "toolkit/handles.h"
#include "toolkit/tags.h"

namespace orvo::storscu {
namespace {

namespace cfg = zyl::config;

constexpr const char* kFileAppName = "RVO_STOR_SCU_100";
constexpr const auto& kProposedSyntaxes = file::kWrittenSyntaxes;
constexpr int kImplicitLittleEndian = MC_TS_IMPLICIT_LITTLE_ENDIAN;
constexpr int kExplicitLittleEndian = MC_TS_EXPLICIT_LITTLE_ENDIAN;
constexpr size_t kUidSize = 66;

// The store statuses a send names, and what each makes of the file: 2 stored
// with a warning, 0 failed (the association is aborted). Success is 1.
struct StoreOutcome {
  unsigned status;
  const char* text;
  int result;
};
constexpr StoreOutcome kStoreOutcomes[] = {
    {0xB000, "Warning: Element Coersion... Continuing.", 2},
    {0xB006, "Warning: Elements Discarded... Continuing.", 2},
    {0xB007, "Warning: Invalid Dataset... Continuing.", 2},
    {0x0110, "ERROR: Processing failure... association aborting.", 0},
    {0xA700, "ERROR: Refused, no resources... association aborting.", 0},
    {0xA900, "ERROR: Invalid_dataset... association aborting.", 0},
    {0xC000, "ERROR: Cannot understand... association aborting.", 0},
};

// The run-time lists that propose one service: a syntax list and a service
// for each syntax, and the service list of them. Declared in the order they
// are made, they are freed in the order the toolkit needs.
struct ProposedServices {
  // The eight syntaxes, and the file's own when it is one the file object
  // only decodes (RLE, JPEG-LS): sent as it is when the node takes it.
  std::array<zyl::toolkit::SyntaxListHandle, kProposedSyntaxes.size() + 1> syntaxLists;
  std::array<zyl::toolkit::ServiceHandle, kProposedSyntaxes.size() + 1> services;
  zyl::toolkit::ServiceListHandle serviceList;
};

// What one Send works with: each Send has its own, so that a Send started
// from another's progress callback cannot take over its association. An
// error that unwinds the Send aborts the association; its end closes it.
struct SendState {
  zyl::toolkit::AssociationHandle association;
  zyl::toolkit::MessageHandle message;
  std::string associationService;
  int associationSyntax = 0;
  cfg::CfgApplEntity remote{};
  std::optional<ProposedServices> proposed;
};

bool deliver(StorScuInstance& self, const std::string& text) {
  return notifyCallback(zyl::hostStringText(self.callback), self.callbackData, text) != 0;
}

bool buildProposedServiceList(SendState& state, const std::string& service, int native) {
  state.proposed.reset();
  ProposedServices& lists = state.proposed.emplace();
  std::vector<MC_TRANSFER_SYNTAX> proposed(kProposedSyntaxes.begin(), kProposedSyntaxes.end());
  // A syntax read beyond the eight of the table goes as it is where taken.
  if (file::isReadBeyondTable(native)) proposed.push_back(static_cast<MC_TRANSFER_SYNTAX>(native));
  // The names need to be unique only while they live: no other Send running
  // in the process shares this one's state, whose lists went just above.
  const void* owner = &state;
  for (size_t i = 0; i < proposed.size(); ++i) {
    std::string name = formatText("SyntaxListName_%p_%zu", owner, i);
    if (MC_NewSyntaxList(name.c_str(), &proposed[i], 1) != MC_NORMAL_COMPLETION) return false;
    lists.syntaxLists[i].reset(std::move(name));
    name = formatText("ServiceFromName_%p_%zu", owner, i);
    if (MC_NewServiceFromName(name.c_str(), service.c_str(), lists.syntaxLists[i].get(), 1, 0) != MC_NORMAL_COMPLETION)
      return false;
    lists.services[i].reset(std::move(name));
  }
  std::vector<const char*> names;
  for (size_t i = 0; i < proposed.size(); ++i) names.push_back(lists.services[i].get());
  std::string name = formatText("ServiceListName_%p", owner);
  if (MC_NewProposedServiceList(name.c_str(), names.data(), static_cast<int>(names.size())) != MC_NORMAL_COMPLETION)
    return false;
  lists.serviceList.reset(std::move(name));
  return true;
}

// The syntax the file goes out in: its own when the node took it for the
// service, else implicit, else explicit little endian; its own when the node
// took none of these (the send then shows the refusal).
int chooseSyntax(SendState& state, const std::string& service, int native) {
  for (int wanted : {native, kImplicitLittleEndian, kExplicitLittleEndian}) {
    char name[kUidSize] = {};
    MC_TRANSFER_SYNTAX syntax{};
    for (MC_STATUS s = MC_Get_First_Acceptable_Service(state.association.get(), name, sizeof name, &syntax);
         s == MC_NORMAL_COMPLETION;
         s = MC_Get_Next_Acceptable_Service(state.association.get(), name, sizeof name, &syntax))
      if (service == name && static_cast<int>(syntax) == wanted) return wanted;
  }
  return native;
}

// Converts the current message to `target` through a temporary file in the
// user directory and opens the result in its place; 0 with a text in
// `buffer` when it cannot.
int convert(SendState& state, const std::string& path, int native, int target, std::string& buffer,
            StorScuInstance& self);

int prepareAssociation(SendState& state, const std::string& path, std::string& buffer, StorScuInstance& self) {
  char uid[kUidSize] = {};
  MC_STATUS status = MC_Get_Value_To_String(state.message.get(), zyl::tags::kTransferSyntaxUid, sizeof uid, uid);
  if (status != MC_NORMAL_COMPLETION)
    return buffer = formatText("Error: Failed to get xfer syntax. err(%s) file(%s)", errorText(status), path.c_str()),
           0;
  MC_TRANSFER_SYNTAX nativeSyntax{};
  status = MC_Get_Enum_From_Transfer_Syntax(uid, &nativeSyntax);
  if (status != MC_NORMAL_COMPLETION)
    return buffer =
               formatText("Error: Failed to get xfer syntax enum. err(%s) file(%s)", errorText(status), path.c_str()),
           0;
  const int native = static_cast<int>(nativeSyntax);
  char sopClass[kUidSize] = {};
  status = MC_Get_Value_To_String(state.message.get(), zyl::tags::kSopClassUid, sizeof sopClass, sopClass);
  if (status != MC_NORMAL_COMPLETION)
    return buffer = formatText("Error: Failed to get sop class uid. err(%s) file(%s)", errorText(status), path.c_str()),
           0;
  char serviceBuffer[kUidSize] = {};
  status = MC_Get_MergeCOM_Service(sopClass, serviceBuffer, sizeof serviceBuffer);
  if (status != MC_NORMAL_COMPLETION)
    return buffer = formatText("Error: Failed to get service name for sop class uid. err(%s) file(%s)",
                               errorText(status), path.c_str()),
           0;
  const std::string service = serviceBuffer;

  if (service == state.associationService && native == state.associationSyntax) return 1;
  if (!buildProposedServiceList(state, service, native))
    return buffer = formatText("Error: Failed to create service list. Service(%s), Syntax(%s) file(%s)",
                               service.c_str(), uid, path.c_str()),
           0;
  if (state.association.get() > 0) state.association.close();

  std::array<char, 32> localName{};
  if (readUserParam("StorScuServiceAE", localName) != 0)
    fail(kErrs1, "Error: Failed to get Application Entity Name for the local Stor SCU service (StorScuServiceAE).");
  cfg::CfgApplEntity local{};
  if (readUserApplEntity(localName.data(), local) != 0)
    fail(kErrs2, "Error: Failed to get local Stor SCU Application Entity (name) ", std::string(localName.data()));
  const int applicationId = applicationIdFor(std::string(local.AET.view()));

  status = MC_Open_Association(applicationId, state.association.out(), state.remote.AET.c_str(), state.remote.Port,
                               state.remote.Hostname.c_str(), state.proposed->serviceList.get());
  if (status != MC_NORMAL_COMPLETION) {
    state.association.gone();
    state.associationService.clear();
    state.associationSyntax = 0;
    return buffer =
               formatText("Error: Failed to open an association. err(%s), service name(%s), syntax(%s, %s), file(%s)",
                          errorText(status), service.c_str(), uid, file::transferSyntaxName(native), path.c_str()),
           0;
  }
  state.associationService = service.substr(0, 64);
  state.associationSyntax = native;
  MC_ASSOCIATION_INFO info{};
  MC_Get_Association_Info(state.association.get(), &info);

  const int target = chooseSyntax(state, service, native);
  if (target == native) return 1;
  return convert(state, path, native, target, buffer, self);
}

int convert(SendState& state, const std::string& path, int native, int target, std::string& buffer,
            StorScuInstance& self) {
  state.associationSyntax = target;
  // The notice's answer does not stop the send.
  deliver(self, formatText("Native file format (%s) is not supported on remote node converting to (%s) before sending "
                           "file (%s) ",
                           file::transferSyntaxName(native), file::transferSyntaxName(target), path.c_str()));
  if (file::isLossy(native))
    return buffer = formatText("Can not convert a lossy file to another format: %s ", path.c_str()), 0;
  const std::string temporary = userDirectory() + "/tmp.dcm";
  if (temporary.size() >= 1025)
    return buffer = formatText("Error: Failed to read file after format conversion %s ", path.c_str()), 0;

  char targetUid[kUidSize] = {};
  MC_Get_Transfer_Syntax_From_Enum(static_cast<MC_TRANSFER_SYNTAX>(target), targetUid, sizeof targetUid);
  try {
    file::convertFile(state.message.release(), path, temporary, targetUid, kFileAppName);
  } catch (const zyl::HostError& error) {
    // A file that cannot be converted fails alone; the batch goes on.
    return buffer = formatText("Error: Failed to convert file (%s) before sending: %s", path.c_str(), error.what()), 0;
  }
  const int converted = file::openFile(temporary, kFileAppName);
  if (converted == -1)
    return buffer = formatText("Error: Failed to read file after format conversion %s ", path.c_str()), 0;
  state.message.reset(converted);
  return 1;
}

// 1 stored; 2 this file failed, the association stays; 0 the association
// must be aborted. The text of a failure is left in `buffer`.
int storeOneFile(SendState& state, const std::string& path, std::string& buffer) {
  const char* file = path.c_str();
  const int message = state.message.get();
  MC_STATUS status = MC_File_To_Message(message);
  if (status == MC_NORMAL_COMPLETION)
    status = MC_Set_Service_Command(message, state.associationService.c_str(), MC_CMD_C_STORE_RQ);
  if (status != MC_NORMAL_COMPLETION)
    return buffer = formatText("Error: Failed to set dicom service name. err(%s), file(%s)", errorText(status), file),
           2;
  char instance[kUidSize] = {};
  status = MC_Get_Value_To_String(message, zyl::tags::kSopInstanceUid, sizeof instance, instance);
  if (status != MC_NORMAL_COMPLETION)
    return buffer = formatText("Error: Failed to get sop instance uid. err(%s), file(%s)", errorText(status), file), 2;
  status = MC_Set_Value_From_String(message, zyl::tags::kAffectedSopInstanceUid, instance);
  if (status != MC_NORMAL_COMPLETION)
    return buffer =
               formatText("Error: Failed to set affected sop instance uid. err(%s), file(%s)", errorText(status), file),
           2;
  status = MC_Set_Message_Transfer_Syntax(message, static_cast<MC_TRANSFER_SYNTAX>(state.associationSyntax));
  if (status != MC_NORMAL_COMPLETION)
    return buffer = formatText("Error: Failed to set xfer syntax err(%s), file(%s)", errorText(status), file), 2;

  status = MC_Send_Request_Message(state.association.get(), message);
  if (status == MC_ASSOCIATION_ABORTED)
    return buffer = formatText("Error: Failed to send file and association was aborted, err(%s), file(%s)",
                               errorText(status), file),
           0;
  if (status != MC_NORMAL_COMPLETION)
    return buffer = formatText("Error: Failed to send file, err(%s), file(%s)", errorText(status), file), 2;
  state.message.reset();

  zyl::toolkit::MessageHandle response;
  const char* service = nullptr;
  MC_COMMAND command{};
  status = MC_Read_Message(state.association.get(), 30, response.out(), &service, &command);
  if (status != MC_NORMAL_COMPLETION) {
    return buffer = formatText("Error: Failed to read move response err(%s), file(%s)", errorText(status), file), 0;
  }
  unsigned int storeStatus = 0;
  status = MC_Get_Value_To_UInt(response.get(), zyl::tags::kStatus, &storeStatus);
  response.reset();
  if (status != MC_NORMAL_COMPLETION)
    return buffer = formatText("Error: Failed to read send response. err(%s), file(%s)", errorText(status), file), 0;
  if (storeStatus == 0x0000) return 1;
  for (const StoreOutcome& outcome : kStoreOutcomes)
    if (outcome.status == storeStatus) return buffer = formatText("%s file(%s)", outcome.text, file), outcome.result;
  return buffer = formatText("Warning: Unknown status (0x%04x)... Continuing. file(%s)", storeStatus, file), 0;
}

HostVar* sendWorker(MethodCall<StorScuInstance, NoKeywords>& call) {
  StorScuInstance& self = call.self();
  HostVar* files = call.arg(1);
  if (files == nullptr || files->type() != zyl::Type::String)
    fail(kErrs1, "Error: Invalid argument. Argument must be a string or array of strings.");
  const std::string storage(zyl::hostStringText(self.aenStorage));
  if (storage.empty()) fail(kErrs1, "Error: Set the Storage_SCP property before calling this method.");

  cfg::CfgApplEntity remote{};
  if (readUserApplEntity(storage, remote) != 0)
    fail(kErrs2, "Error: The value in the Storage_SCP property is not a valid application entity (prop)", storage);
  deliver(self, formatText("Send Started. Pushing Dicom files to %s", remote.Name.c_str()));

  SendState state;
  state.remote = remote;
  // The paths are taken before any callback runs.
  void* data = nullptr;
  const int64_t count = HostVarGetData(files, &data);
  std::vector<std::string> paths;
  for (int64_t i = 0; i < count; ++i)
    paths.emplace_back(zyl::hostStringText(static_cast<const zyl::HostString*>(data)[i]));

  bool goOn = true;
  int16_t stored = 0;
  for (const std::string& path : paths) {
    if (!goOn) {
      deliver(self, "Send Canceled.");
      break;
    }
    state.message.reset();
    state.message.reset(file::openFile(path, kFileAppName));
    if (state.message.get() <= 0) {
      if (!deliver(self, formatText("Error: Skipping this file(%s). ", path.c_str()))) goOn = false;
      if (!deliver(self, "Error: File may not exist, or is an invalid dicom file, or is not a dicom file."))
        goOn = false;
      continue;
    }
    std::string buffer;
    if (!prepareAssociation(state, path, buffer, self)) {
      state.message.reset();
      if (!deliver(self, buffer)) goOn = false;
      continue;
    }
    switch (storeOneFile(state, path, buffer)) {
      case 1:
        ++stored;
        if (!deliver(self, formatText("File Sent:  %s ", path.c_str()))) goOn = false;
        break;
      case 2:
        state.message.reset();
        if (!deliver(self, buffer)) goOn = false;
        break;
      default:
        state.associationService.clear();
        state.associationSyntax = 0;
        if (state.association.get() > 0) state.association.abort();
        state.message.reset();
        if (!deliver(self, buffer)) goOn = false;
        break;
    }
  }
  deliver(self, formatText("Send Completed:  %d files successfully sent ", stored));
  state.proposed.reset();
  state.message.reset();
  if (state.association.get() > 0) state.association.close();
  return HostTempInt(stored);
}

}  // namespace

MethodRows sendMethods() {
  static const MethodRow kRows[] = {
      functionRow("ZYLFFORVOSTORSCU::SEND", methodEntry<StorScuInstance, NoKeywords, sendWorker>, 2, 2,
                  HOST_ROUTINE_KEYWORDS),
  };
  return kRows;
}

}  // namespace orvo::storscu

// One association thread: who is calling, whether to accept, then every
// request on the association stored and answered until the caller leaves.
#include <strings.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cstring>
#include <string>

#include "state.h"
#include "store.h"
#include "toolkit/handles.h"
#include "toolkit/mc.h"
#include "toolkit/received.h"
#include "toolkit/tags.h"

namespace zyl::storscp {

namespace {

constexpr int kReadTimeoutSeconds = 30;
constexpr unsigned int kStatusSuccess = 0x0000;
constexpr unsigned int kStatusOutOfResources = 0xA702;

// Counts the thread out on every path.
struct CountedThread {
  ~CountedThread() { --State().threadCount; }
};

bool Accepts(const ServiceState& s, const char* callingTitle) {
  if (::strcasecmp(s.acceptAny.c_str(), "yes") == 0) return true;
  for (const auto& entity : s.entities)
    if (::strcasecmp(entity.AET.c_str(), callingTitle) == 0) return true;
  return false;
}

// A text attribute as received, byte for byte (an embedded NUL, spaces and
// padding included), at most kUidReadSize bytes of it.
struct ReceivedText {
  MC_STATUS status = MC_NORMAL_COMPLETION;
  std::string text;
  bool overlong = false;
};

MC_STATUS CollectText(int, std::uint32_t, void* userInfo, int dataSize, void* dataBuffer, int, int) {
  auto* received = static_cast<ReceivedText*>(userInfo);
  if (dataSize < 0) return MC_CANNOT_COMPLY;
  const auto size = static_cast<std::size_t>(dataSize);
  if (received->text.size() + size > kUidReadSize) {
    received->overlong = true;
    return MC_CANNOT_COMPLY;
  }
  received->text.append(static_cast<const char*>(dataBuffer), size);
  return MC_NORMAL_COMPLETION;
}

ReceivedText ReadReceived(int messageId, std::uint32_t tag) {
  ReceivedText result;
  result.status = MC_Get_Value_To_Function(messageId, tag, &result, CollectText);
  if (result.overlong) result.status = MC_NORMAL_COMPLETION;  // present, and no UID
  return result;
}

enum class Outcome { Stored, Refused, Abort };

// Judges the request's UIDs; on success `fileName` is the name to store under.
Outcome JudgeRequest(int messageId, int tid, std::string& fileName) {
  const ServiceState& s = State();
  const ReceivedText instance = ReadReceived(messageId, zyl::tags::kSopInstanceUid);
  if (instance.status == MC_INVALID_TAG || instance.status == MC_INVALID_MESSAGE_ID) {
    LogLine("Thread(%d): Failed to read the sop instance uid from incoming file. err(%s).", tid,
            MC_Error_Message(instance.status));
    return Outcome::Abort;
  }
  // Only a valid UID, the same in the command and the data set, names a file.
  const auto uid =
      instance.status == MC_NORMAL_COMPLETION && !instance.overlong ? ValidUid(instance.text) : std::nullopt;
  const ReceivedText affected = ReadReceived(messageId, zyl::tags::kAffectedSopInstanceUid);
  const auto affectedUid =
      affected.status == MC_NORMAL_COMPLETION && !affected.overlong ? ValidUid(affected.text) : std::nullopt;
  const bool extensionSafe = s.fileExtension.find('/') == std::string::npos;
  if (!uid || !affectedUid || *uid != *affectedUid || !extensionSafe) {
    LogLine(
        "Thread(%d): Refusing object with sop instance uid(%s), affected sop instance uid(%s): not a valid "
        "uid for a file name.",
        tid, Printable(instance.text).c_str(), Printable(affected.text).c_str());
    return Outcome::Refused;
  }
  char name[kFileNameSize];
  std::snprintf(name, sizeof name, "%s.%s", uid->c_str(), s.fileExtension.c_str());
  fileName = name;
  return Outcome::Stored;
}

// One request as it arrives: judged on its head, then written as it comes.
struct Request {
  int tid = 0;
  bool headSeen = false;
  Outcome outcome = Outcome::Refused;
  PendingStorePtr store;  // while the object is being written
};

MC_STATUS WriteRequest(const char* fileName, void* userInfo, int dataSize, void* dataBuffer, int isFirst, int isLast) {
  auto* request = static_cast<Request*>(userInfo);
  if (!request->store) return MC_CANNOT_COMPLY;
  return WritePendingStore(fileName, request->store.get(), dataSize, dataBuffer, isFirst, isLast);
}

MC_STATUS OnHead(int messageId, void* userInfo) {
  auto* request = static_cast<Request*>(userInfo);
  request->headSeen = true;
  std::string fileName;
  request->outcome = JudgeRequest(messageId, request->tid, fileName);
  if (request->outcome == Outcome::Stored) {
    request->store = PrepareStore(fileName, messageId, request->tid);
    if (!request->store) request->outcome = Outcome::Refused;
  }
  return request->store ? MC_NORMAL_COMPLETION : MC_CANNOT_COMPLY;
}

}  // namespace

void AssociationThread(int associationId) {
  CountedThread counted;  // counted in by the listener
  const int tid = static_cast<int>(::syscall(SYS_gettid));
  const ServiceState& s = State();
  zyl::toolkit::AssociationHandle association(associationId);

  MC_ASSOCIATION_INFO info{};
  if (MC_Get_Association_Info(association.get(), &info) != MC_NORMAL_COMPLETION) {
    LogLine("Thread(%d): Failed to read association info...rejecting association.", tid);
    association.reject(MC_REJECT_NO_REASON_GIVEN);
    return;
  }
  const std::string calling = Printable(info.CallingApTitle, sizeof info.CallingApTitle);
  LogLine("Thread(%d): Association Details:  aet(%s), host(%s), ip(%s), ver(%s), uid(%s), local aet(%s).", tid,
          calling.c_str(), Printable(info.RemoteHostName).c_str(), Printable(info.RemoteIPAddress).c_str(),
          Printable(info.RemoteImplementationVersion).c_str(), Printable(info.RemoteImplementationClassUID).c_str(),
          Printable(info.CalledApTitle, sizeof info.CalledApTitle).c_str());
  if (!Accepts(s, info.CallingApTitle)) {
    LogLine(
        "Thread(%d): Accept Any is 'no' and calling the AET is not recognized...rejecting association "
        "from(%s).",
        tid, calling.c_str());
    LogLine(
        "Thread(%d): When Accept Any is 'no' you must add each dicom node to accept an association to the "
        "system orvo config file.",
        tid);
    association.reject(MC_REJECT_CALLING_AE_NOT_RECOGNIZED);
    return;
  }
  if (MC_Accept_Association(association.get()) != MC_NORMAL_COMPLETION) {
    LogLine("Thread(%d): Association Acceptenc failed.", tid);
    return;
  }

  while (true) {
    int messageId = 0;
    const char* service = nullptr;
    MC_COMMAND command = MC_CMD_NONE;
    Request request;
    request.tid = tid;
    MC_STATUS written = MC_CANNOT_COMPLY;
    const MC_STATUS status = ZYL_Read_Message_To_File(association.get(), kReadTimeoutSeconds, &messageId, &service,
                                                      &command, &request, OnHead, WriteRequest, &written);
    switch (status) {
      case MC_NORMAL_COMPLETION:
        break;
      case MC_ASSOCIATION_CLOSED:
        association.gone();
        return;
      case MC_ASSOCIATION_ABORTED:
      case MC_CONFIG_INFO_ERROR:
      case MC_INVALID_MESSAGE_RECEIVED:
      case MC_NETWORK_SHUT_DOWN:
      case MC_INACTIVITY_TIMEOUT:
        LogLine("Thread(%d): Unexpected MC_Read_Message failure. err(%s).", tid, MC_Error_Message(status));
        association.gone();
        return;
      default:
        LogLine("Thread(%d): MC_Read_Message failure. err(%s).", tid, MC_Error_Message(status));
        association.abort();
        return;
    }
    // The service name belongs to the message; keep a copy for the answer.
    const std::string serviceName = service != nullptr ? service : "";
    Outcome outcome = request.outcome;
    if (request.store) {
      // The message became the stored file.
      outcome = FinishStore(*request.store, messageId, written, serviceName) ? Outcome::Stored : Outcome::Refused;
    } else {
      zyl::toolkit::MessageHandle message(messageId);
      // A request without a data set is judged here: it has no UID to store under.
      std::string unused;
      if (!request.headSeen) outcome = JudgeRequest(message.get(), tid, unused);
      if (outcome == Outcome::Stored) outcome = Outcome::Refused;
    }
    request.store.reset();
    if (outcome == Outcome::Abort) {
      association.abort();
      return;
    }
    zyl::toolkit::MessageHandle response;
    {
      int responseId = 0;
      const MC_STATUS st = MC_Open_Message(&responseId, serviceName.c_str(), MC_CMD_C_STORE_RSP);
      if (st != MC_NORMAL_COMPLETION) {
        LogLine("Thread(%d): Failed to open a response msg. err(%s).", tid, MC_Error_Message(st));
        association.abort();
        return;
      }
      response.reset(responseId);
    }
    const unsigned int answer = outcome == Outcome::Stored ? kStatusSuccess : kStatusOutOfResources;
    if (const MC_STATUS st = MC_Send_Response_Message(association.get(), answer, response.get());
        st != MC_NORMAL_COMPLETION) {
      LogLine("Thread(%d): Failed to send a response msg. err(%s).", tid, MC_Error_Message(st));
      association.abort();
      return;
    }
  }
}

}  // namespace zyl::storscp

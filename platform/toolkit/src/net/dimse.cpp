// DIMSE messages on an association: requests, responses and reading. A
// message keeps its command fields as group 0000 attributes of its data set;
// they are taken out while the data set is encoded and put back afterwards.
#include "../settings.h"
#include "../limits.h"
#include "../scan.h"
#include "../tables.h"
#include "net.h"

#include <algorithm>
#include <cstring>
#include <limits>

#include "toolkit/received.h"

namespace zyl::toolkit::net {
namespace {

constexpr Uint16 kNoDataSet = 0x0101;

bool isPending(unsigned status) { return status == 0xFF00 || status == 0xFF01; }

void copyUid(char* target, std::size_t size, const std::string& uid) { OFStandard::strlcpy(target, uid.c_str(), size); }

// ---- The commands ------------------------------------------------------------

// The command elements a message may carry beside Command Field and Command
// Data Set Type, as bits of a set.
enum Element : unsigned {
  kMessageId = 1u << 0,         // (0000,0110)
  kRespondedTo = 1u << 1,       // (0000,0120)
  kAffectedClass = 1u << 2,     // (0000,0002)
  kAffectedInstance = 1u << 3,  // (0000,1000)
  kPriority = 1u << 4,          // (0000,0700)
  kStatus = 1u << 5,            // (0000,0900)
  kMoveDestination = 1u << 6,   // (0000,0600)
  kMoveOriginator = 1u << 7,    // (0000,1030) and (0000,1031), those the caller set
  kSubOperations = 1u << 8,     // (0000,1020) to (0000,1023), those the caller set
};

// How an element a command requires is named when a send lacks it.
constexpr std::pair<Element, const char*> kRequiredNames[] = {
    {kAffectedInstance, "a SOP Instance UID"},
    {kMoveDestination, "a Move Destination (0000,0600)"},
};

// The values a message's elements take; a command's descriptor picks those it carries.
struct CommandValues {
  DIC_US messageId = 0, respondedTo = 0, status = 0;
  std::string sopClass, sopInstance, moveDestination;
  T_DIMSE_Priority priority = DIMSE_PRIORITY_MEDIUM;
  std::optional<std::string> originatorTitle;
  std::optional<DIC_US> originatorMessageId;
  std::optional<DIC_US> subOperations[4];  // remaining, completed, failed, warning

  bool has(Element element) const {
    if (element == kAffectedInstance) return !sopInstance.empty();
    if (element == kMoveDestination) return !moveDestination.empty();
    return true;
  }
};

enum class Role { Request, Cancel, Response };
// When a data set follows the command.
enum class DataSet { Never, Always, WhenContent, WhenPendingWithContent };

struct Command;
using Fill = void (*)(T_DIMSE_Message&, const Command&, const CommandValues&, bool withData);

// One DIMSE command: what it carries, what a send of it needs, and how it
// goes into DCMTK's message structure.
struct Command {
  MC_COMMAND command;
  T_DIMSE_Command dimse;
  const char* name;
  Role role;
  unsigned elements;  // carried
  unsigned required;  // a send without them is refused
  DataSet dataSet;
  bool cancellable;  // a C-CANCEL may follow it while its responses are pending
  Fill fill;
};

// DCMTK marks the elements it treats as optional in `opts`, with the same bit
// for the same element in every command that has it.
static_assert(O_ECHO_AFFECTEDSOPCLASSUID == O_STORE_AFFECTEDSOPCLASSUID &&
              O_FIND_AFFECTEDSOPCLASSUID == O_STORE_AFFECTEDSOPCLASSUID &&
              O_MOVE_AFFECTEDSOPCLASSUID == O_STORE_AFFECTEDSOPCLASSUID &&
              O_GET_AFFECTEDSOPCLASSUID == O_STORE_AFFECTEDSOPCLASSUID);
static_assert(O_GET_NUMBEROFREMAININGSUBOPERATIONS == O_MOVE_NUMBEROFREMAININGSUBOPERATIONS &&
              O_GET_NUMBEROFCOMPLETEDSUBOPERATIONS == O_MOVE_NUMBEROFCOMPLETEDSUBOPERATIONS &&
              O_GET_NUMBEROFFAILEDSUBOPERATIONS == O_MOVE_NUMBEROFFAILEDSUBOPERATIONS &&
              O_GET_NUMBEROFWARNINGSUBOPERATIONS == O_MOVE_NUMBEROFWARNINGSUBOPERATIONS);

using Bodies = decltype(T_DIMSE_Message::msg);

// Writes the carried elements into the body `Member` of DCMTK's message.
template <auto Member>
void fillBody(T_DIMSE_Message& msg, const Command& command, const CommandValues& v, bool withData) {
  auto& body = msg.msg.*Member;
  using Body = std::remove_reference_t<decltype(body)>;
  const auto carried = [&](Element element) { return (command.elements & element) != 0; };
  // In a response the Affected SOP Class and Instance are optional to DCMTK.
  constexpr bool response = requires(Body & b) { b.DimseStatus; };
  msg.CommandField = command.dimse;
  body.DataSetType = withData ? DIMSE_DATASET_PRESENT : DIMSE_DATASET_NULL;
  if constexpr (requires(Body & b) { b.MessageID; })
    if (carried(kMessageId)) body.MessageID = v.messageId;
  if constexpr (requires(Body & b) { b.MessageIDBeingRespondedTo; })
    if (carried(kRespondedTo)) body.MessageIDBeingRespondedTo = v.respondedTo;
  if constexpr (requires(Body & b) { b.AffectedSOPClassUID; })
    if (carried(kAffectedClass)) {
      copyUid(body.AffectedSOPClassUID, sizeof body.AffectedSOPClassUID, v.sopClass);
      if constexpr (response) body.opts |= O_STORE_AFFECTEDSOPCLASSUID;
    }
  if constexpr (requires(Body & b) { b.AffectedSOPInstanceUID; })
    if (carried(kAffectedInstance)) {
      copyUid(body.AffectedSOPInstanceUID, sizeof body.AffectedSOPInstanceUID, v.sopInstance);
      if constexpr (response) body.opts |= O_STORE_AFFECTEDSOPINSTANCEUID;
    }
  if constexpr (requires(Body & b) { b.Priority; })
    if (carried(kPriority)) body.Priority = v.priority;
  if constexpr (response)
    if (carried(kStatus)) body.DimseStatus = v.status;
  if constexpr (requires(Body & b) { b.MoveDestination; })
    if (carried(kMoveDestination))
      OFStandard::strlcpy(body.MoveDestination, v.moveDestination.c_str(), sizeof body.MoveDestination);
  if constexpr (requires(Body & b) { b.MoveOriginatorApplicationEntityTitle; })
    if (carried(kMoveOriginator)) {
      if (v.originatorTitle) {
        OFStandard::strlcpy(body.MoveOriginatorApplicationEntityTitle, v.originatorTitle->c_str(),
                            sizeof body.MoveOriginatorApplicationEntityTitle);
        body.opts |= O_STORE_MOVEORIGINATORAETITLE;
      }
      if (v.originatorMessageId) {
        body.MoveOriginatorID = *v.originatorMessageId;
        body.opts |= O_STORE_MOVEORIGINATORID;
      }
    }
  if constexpr (requires(Body & b) { b.NumberOfRemainingSubOperations; })
    if (carried(kSubOperations)) {
      DIC_US* targets[] = {&body.NumberOfRemainingSubOperations, &body.NumberOfCompletedSubOperations,
                           &body.NumberOfFailedSubOperations, &body.NumberOfWarningSubOperations};
      constexpr unsigned flags[] = {O_MOVE_NUMBEROFREMAININGSUBOPERATIONS, O_MOVE_NUMBEROFCOMPLETEDSUBOPERATIONS,
                                    O_MOVE_NUMBEROFFAILEDSUBOPERATIONS, O_MOVE_NUMBEROFWARNINGSUBOPERATIONS};
      for (std::size_t i = 0; i < 4; ++i)
        if (v.subOperations[i]) {
          *targets[i] = *v.subOperations[i];
          body.opts |= flags[i];
        }
    }
}

constexpr unsigned kRequestHead = kMessageId | kAffectedClass;
constexpr unsigned kResponseHead = kRespondedTo | kAffectedClass | kStatus;

const Command kCommands[] = {
    {MC_CMD_C_STORE_RQ, DIMSE_C_STORE_RQ, "C-STORE", Role::Request,
     kRequestHead | kAffectedInstance | kPriority | kMoveOriginator, kAffectedInstance, DataSet::Always, false,
     fillBody<&Bodies::CStoreRQ>},
    {MC_CMD_C_FIND_RQ, DIMSE_C_FIND_RQ, "C-FIND", Role::Request, kRequestHead | kPriority, 0, DataSet::Always, true,
     fillBody<&Bodies::CFindRQ>},
    {MC_CMD_C_MOVE_RQ, DIMSE_C_MOVE_RQ, "C-MOVE", Role::Request, kRequestHead | kPriority | kMoveDestination,
     kMoveDestination, DataSet::Always, true, fillBody<&Bodies::CMoveRQ>},
    {MC_CMD_C_GET_RQ, DIMSE_C_GET_RQ, "C-GET", Role::Request, kRequestHead | kPriority, 0, DataSet::Always, true,
     fillBody<&Bodies::CGetRQ>},
    {MC_CMD_C_ECHO_RQ, DIMSE_C_ECHO_RQ, "C-ECHO", Role::Request, kRequestHead, 0, DataSet::Never, false,
     fillBody<&Bodies::CEchoRQ>},
    {MC_CMD_C_CANCEL_RQ, DIMSE_C_CANCEL_RQ, "C-CANCEL", Role::Cancel, kRespondedTo, 0, DataSet::Never, false,
     fillBody<&Bodies::CCancelRQ>},
    {MC_CMD_C_STORE_RSP, DIMSE_C_STORE_RSP, "C-STORE", Role::Response, kResponseHead | kAffectedInstance, 0,
     DataSet::Never, false, fillBody<&Bodies::CStoreRSP>},
    // A pending match carries its identifier; the final response none.
    {MC_CMD_C_FIND_RSP, DIMSE_C_FIND_RSP, "C-FIND", Role::Response, kResponseHead, 0, DataSet::WhenPendingWithContent,
     false, fillBody<&Bodies::CFindRSP>},
    // Any response may carry the list of failed instances.
    {MC_CMD_C_MOVE_RSP, DIMSE_C_MOVE_RSP, "C-MOVE", Role::Response, kResponseHead | kSubOperations, 0,
     DataSet::WhenContent, false, fillBody<&Bodies::CMoveRSP>},
    {MC_CMD_C_GET_RSP, DIMSE_C_GET_RSP, "C-GET", Role::Response, kResponseHead | kSubOperations, 0,
     DataSet::WhenContent, false, fillBody<&Bodies::CGetRSP>},
    {MC_CMD_C_ECHO_RSP, DIMSE_C_ECHO_RSP, "C-ECHO", Role::Response, kResponseHead, 0, DataSet::Never, false,
     fillBody<&Bodies::CEchoRSP>},
};

const Command* findCommand(MC_COMMAND command) {
  for (const auto& c : kCommands)
    if (c.command == command) return &c;
  return nullptr;
}

// The group 0000 attributes of a message, out of its data set for as long as
// this object lives.
class CommandFields {
 public:
  explicit CommandFields(DcmDataset& dataset) : dataset_(dataset) {
    std::vector<DcmTagKey> keys;
    for (DcmObject* o = dataset.nextInContainer(nullptr); o; o = dataset.nextInContainer(o))
      if (o->getTag().getGroup() == 0x0000) keys.push_back(o->getTag());
    for (const auto& key : keys) {
      DcmElement* removed = dataset.remove(key);
      if (removed) fields_.emplace_back(removed);
    }
  }
  ~CommandFields() {
    for (auto& field : fields_) dataset_.insert(field.release(), true);
  }
  CommandFields(const CommandFields&) = delete;
  CommandFields& operator=(const CommandFields&) = delete;

  DcmElement* find(const DcmTagKey& key) const {
    for (const auto& field : fields_)
      if (field->getTag() == key) return field.get();
    return nullptr;
  }
  std::optional<std::string> text(const DcmTagKey& key) const {
    OFString value;
    if (DcmElement* e = find(key); e && e->getOFString(value, 0).good()) return trimmed(value.c_str());
    return std::nullopt;
  }
  std::optional<Uint16> number(const DcmTagKey& key) const {
    Uint16 value = 0;
    if (DcmElement* e = find(key); e && e->getUint16(value).good()) return value;
    return std::nullopt;
  }

 private:
  DcmDataset& dataset_;
  std::vector<std::unique_ptr<DcmElement>> fields_;
};

bool hasContent(DcmDataset& dataset) {
  for (DcmObject* o = dataset.nextInContainer(nullptr); o; o = dataset.nextInContainer(o))
    if (o->getTag().getGroup() != 0x0000) return true;
  return false;
}

bool dataSetFollows(const Command& command, unsigned status, DcmDataset& dataset) {
  switch (command.dataSet) {
    case DataSet::Never:
      return false;
    case DataSet::Always:
      return true;
    case DataSet::WhenContent:
      return hasContent(dataset);
    case DataSet::WhenPendingWithContent:
      return isPending(status) && hasContent(dataset);
  }
  return false;
}

// Refuses a request that lacks an element its command requires.
void requireElements(const Command& command, const CommandValues& values) {
  for (const auto& [element, name] : kRequiredNames)
    if ((command.required & element) && !values.has(element))
      failWith(MC_REQUIRED_ATTRIBUTE_MISSING, std::string("a ") + command.name + " request needs " + name);
}

// The accepted context for a SOP class in which a message in `syntax` can go:
// one with that syntax, else (for an uncompressed message) any uncompressed one.
T_ASC_PresentationContextID chooseContext(Association& a, const Service& service, E_TransferSyntax syntax,
                                          E_TransferSyntax& contextSyntax) {
  T_ASC_Parameters* params = a.association->params;
  const int count = ASC_countPresentationContexts(params);
  T_ASC_PresentationContextID convertible = 0;
  E_TransferSyntax convertibleSyntax = EXS_Unknown;
  bool anyForService = false;
  for (int i = 0; i < count; ++i) {
    T_ASC_PresentationContext pc;
    if (ASC_getPresentationContext(params, i, &pc).bad() || pc.resultReason != ASC_P_ACCEPTANCE) continue;
    if (service.sopClassUid != pc.abstractSyntax) continue;
    anyForService = true;
    const DcmXfer accepted(pc.acceptedTransferSyntax);
    if (accepted.getXfer() == syntax) {
      contextSyntax = syntax;
      return pc.presentationContextID;
    }
    if (!convertible && !accepted.isEncapsulated() && accepted.getStreamCompression() == ESC_none &&
        accepted.getXfer() != EXS_Unknown) {
      convertible = pc.presentationContextID;
      convertibleSyntax = accepted.getXfer();
    }
  }
  if (!anyForService) failWith(MC_UNACCEPTABLE_SERVICE, "the peer accepted no context for " + service.name);
  const DcmXfer own(syntax);
  if (convertible && !own.isEncapsulated()) {
    contextSyntax = convertibleSyntax;
    return convertible;
  }
  failWith(MC_INVALID_TRANSFER_SYNTAX,
           "the peer did not accept " + service.name + " in " + std::string(own.getXferName()));
}

// The association is no longer usable: abort it and free its id.
[[noreturn]] void breakAssociation(Association& a, std::unique_lock<std::mutex>& lock, MC_STATUS status,
                                   const std::string& detail) {
  abortAssociation(a);
  const int id = a.id;
  lock.unlock();
  removeAssociation(id);
  failWith(status, detail);
}

// Sends a built message on `contextId`, its data set written in `contextSyntax`;
// a failed send leaves the association unusable. `what` names the message in
// the failure's text.
void sendMessage(Association& a, std::unique_lock<std::mutex>& lock, T_ASC_PresentationContextID contextId,
                 T_DIMSE_Message& msg, DcmDataset* dataset, E_TransferSyntax contextSyntax, E_TransferSyntax ownSyntax,
                 const char* what) {
  if (dataset && !dataset->canWriteXfer(contextSyntax, ownSyntax))
    failWith(MC_INVALID_TRANSFER_SYNTAX,
             "the data set cannot be written in " + std::string(DcmXfer(contextSyntax).getXferName()));
  const OFCondition cond =
      DIMSE_sendMessageUsingMemoryData(a.association, contextId, &msg, nullptr, dataset, nullptr, nullptr);
  if (cond.bad())
    breakAssociation(a, lock, MC_ASSOCIATION_ABORTED,
                     std::string("sending the ") + what + " failed (" + cond.text() + ")");
}

// The next PDV of the association, reading a PDU when none is left; the same
// time limit applies to each read.
OFCondition nextPdv(T_ASC_Association* association, int timeoutSeconds, DUL_PDV& pdv) {
  if (DUL_NextPDV(&association->DULassociation, &pdv).good()) return EC_Normal;
  const OFCondition cond = DUL_ReadPDVs(&association->DULassociation, nullptr, DUL_NOBLOCK, timeoutSeconds);
  // DCMTK reports a PDU of data with a condition of its own, not as success.
  if (cond != DUL_PDATAPDUARRIVED) {
    if (cond == DUL_READTIMEOUT) return DIMSE_NODATAAVAILABLE;
    return cond.bad() ? cond : OFCondition(DIMSE_READPDVFAILED);
  }
  return DUL_NextPDV(&association->DULassociation, &pdv);
}

// An unsigned little endian number of `size` bytes at `at` of `bytes`.
std::uint32_t littleEndian(const std::string& bytes, std::size_t at, int size) {
  std::uint32_t v = 0;
  for (int i = size - 1; i >= 0; --i) v = v << 8 | static_cast<Uint8>(bytes[at + static_cast<std::size_t>(i)]);
  return v;
}

// A command set holds a few short group 0000 attributes.
constexpr std::size_t kMaxCommandSize = 64 * 1024;

// Reads the command of the next message from its PDVs. DCMTK's own command
// reader parses whatever arrives without limits, so a command holding deeply
// nested sequences would exhaust the stack: a command is taken here only when
// it is at most kMaxCommandSize bytes of group 0000 attributes of defined
// length (nothing in it can nest), then parsed.
OFCondition receiveCommand(T_ASC_Association* association, int timeoutSeconds, T_ASC_PresentationContextID& contextId,
                           std::unique_ptr<DcmDataset>& command) {
  std::string bytes;
  for (bool first = true;; first = false) {
    DUL_PDV pdv;
    const OFCondition cond = nextPdv(association, timeoutSeconds, pdv);
    if (cond.bad()) return cond;
    if (pdv.pdvType != DUL_COMMANDPDV) return DIMSE_UNEXPECTEDPDVTYPE;
    if (first) contextId = pdv.presentationContextID;
    if (pdv.presentationContextID != contextId) return DIMSE_UNEXPECTEDPDVTYPE;
    if (pdv.fragmentLength > kMaxCommandSize - bytes.size()) return DIMSE_BADMESSAGE;
    bytes.append(static_cast<const char*>(pdv.data), pdv.fragmentLength);
    if (pdv.lastPDV) break;
  }
  for (std::size_t pos = 0; pos < bytes.size();) {
    if (bytes.size() - pos < 8 || littleEndian(bytes, pos, 2) != 0x0000) return DIMSE_BADMESSAGE;
    const std::uint32_t length = littleEndian(bytes, pos + 4, 4);
    if (length > bytes.size() - pos - 8) return DIMSE_BADMESSAGE;  // undefined length included
    pos += 8 + length;
  }
  command = std::make_unique<DcmDataset>();
  DcmInputBufferStream in;
  in.setBuffer(bytes.data(), static_cast<offile_off_t>(bytes.size()));
  in.setEos();
  command->transferInit();
  const OFCondition read = command->read(in, EXS_LittleEndianImplicit, EGL_noChange, kMaxCommandSize);
  command->transferEnd();
  in.releaseBuffer();
  return read.good() ? EC_Normal : OFCondition(DIMSE_PARSEFAILED);
}

// Hands the data set PDVs of one message to the parser as they arrive, so
// that the encoded bytes are never collected first: each fragment is parsed
// straight out of DCMTK's PDU buffer, valid until the next pull.
struct PdvFeed {
  T_ASC_Association* association = nullptr;
  int timeoutSeconds = 0;
  T_ASC_PresentationContextID contextId = 0;
  std::optional<DUL_PDV> first;  // read ahead to see whether there is content
  std::size_t total = 0;
  std::string head;                 // the data set's first bytes, as received
  bool ended = false;               // the last PDV has been taken
  bool tooLarge = false;            // more than the limit arrived
  OFCondition failure = EC_Normal;  // the association failed while reading

  // Takes the next PDV of the data set; false (and `failure` or `tooLarge`) when that fails.
  bool next(DUL_PDV& pdv) {
    if (first) {
      pdv = *first;
      first.reset();
    } else {
      failure = nextPdv(association, timeoutSeconds, pdv);
      if (failure.bad()) return false;
    }
    if (pdv.pdvType != DUL_DATASETPDV || pdv.presentationContextID != contextId) {
      failure = DIMSE_UNEXPECTEDPDVTYPE;
      return false;
    }
    total += pdv.fragmentLength;
    if (total > limits::kMaxReceivedDataSetSize) {
      tooLarge = true;
      return false;
    }
    ended = pdv.lastPDV != OFFalse;
    return true;
  }
  // Reads and discards what is left of the data set; false when the association failed.
  bool drain() {
    DUL_PDV pdv;
    while (!ended) {
      if (first) {
        ended = first->lastPDV != OFFalse;
        first.reset();
        continue;
      }
      failure = nextPdv(association, timeoutSeconds, pdv);
      if (failure.bad() || pdv.pdvType != DUL_DATASETPDV) return false;
      ended = pdv.lastPDV != OFFalse;
    }
    return true;
  }
};

// The SOP Class and Instance UIDs lie within the first bytes of a data set.
constexpr std::size_t kReceivedHeadSize = 8192;

// The values of the top-level UIDs (0008,0016) and (0008,0018) in the first
// bytes of a little endian data set, as received; stops at the first element
// past them or of undefined length.
std::vector<std::pair<DcmTagKey, std::string>> receivedUids(const std::string& head, bool explicitVr) {
  std::vector<std::pair<DcmTagKey, std::string>> found;
  auto le16 = [&](std::size_t at) { return littleEndian(head, at, 2); };
  std::size_t pos = 0;
  while (pos + 8 <= head.size()) {
    const DcmTagKey tag(static_cast<Uint16>(le16(pos)), static_cast<Uint16>(le16(pos + 2)));
    if (tag > DCM_SOPInstanceUID) break;
    std::size_t header = 8;
    std::uint32_t length = littleEndian(head, pos + 4, 4);
    if (explicitVr) {
      const DcmVR vr(std::string(head, pos + 4, 2).c_str());
      if (vr.usesExtendedLengthEncoding()) {
        if (pos + 12 > head.size()) break;
        header = 12;
        length = littleEndian(head, pos + 8, 4);
      } else {
        length = le16(pos + 6);
      }
    }
    if (length == DCM_UndefinedLength || length > head.size() - pos - header) break;
    if (tag == DCM_SOPClassUID || tag == DCM_SOPInstanceUID)
      found.emplace_back(tag, std::string(head, pos + header, length));
    pos += header + length;
  }
  return found;
}

// Remembers the received bytes of the UIDs that DCMTK's reader changed.
void keepReceivedUids(Root& root, const std::string& head, E_TransferSyntax syntax) {
  const DcmXfer xfer(syntax);
  if (xfer.getByteOrder() != EBO_LittleEndian || xfer.getStreamCompression() != ESC_none) return;
  for (const auto& [tag, received] : receivedUids(head, xfer.isExplicitVR())) {
    DcmElement* element = nullptr;
    if (root.dataset()->findAndGetElement(tag, element, OFFalse).bad() || !element) continue;
    const Uint32 length = element->getLength();
    std::vector<Uint8> asRead(length);
    if (length > 0 && element->getPartialValue(asRead.data(), 0, length).bad()) continue;
    if (std::string(asRead.begin(), asRead.end()) == received) continue;
    root.receivedUids.push_back({element, std::move(asRead), std::vector<Uint8>(received.begin(), received.end())});
  }
}

MC_STATUS feedPdv(int, void* userInfo, int, int* dataSize, void** dataBuffer, int* isLast) {
  auto* feed = static_cast<PdvFeed*>(userInfo);
  DUL_PDV pdv;
  if (!feed->next(pdv)) return MC_CANNOT_COMPLY;
  if (feed->head.size() < kReceivedHeadSize)
    feed->head.append(static_cast<const char*>(pdv.data),
                      std::min<std::size_t>(pdv.fragmentLength, kReceivedHeadSize - feed->head.size()));
  *dataSize = static_cast<int>(pdv.fragmentLength);
  *dataBuffer = pdv.data;
  *isLast = pdv.lastPDV ? 1 : 0;
  return MC_NORMAL_COMPLETION;
}

std::string commandName(T_DIMSE_Command command) {
  char text[16];
  std::snprintf(text, sizeof text, "0x%04x", static_cast<unsigned>(command));
  return text;
}

// Supplies the head of a data set, kept in a string, in one piece.
MC_STATUS supplyHead(int, void* userInfo, int, int* dataSize, void** dataBuffer, int* isLast) {
  auto* head = static_cast<std::string*>(userInfo);
  if (head->size() > static_cast<std::size_t>(std::numeric_limits<int>::max())) return MC_CANNOT_COMPLY;
  *dataSize = static_cast<int>(head->size());
  *dataBuffer = head->data();
  *isLast = 1;
  return MC_NORMAL_COMPLETION;
}

// What ZYL_Read_Message_To_File does with a data set: the caller's choice.
struct ToFile {
  void* userInfo;
  ZYL_Received_Head onHead;
  MC_File_Writer writer;
  MC_STATUS* written;
};

// The caller's writer, given the file of a received data set piece by piece
// straight from the received PDUs. The first block collects at least one
// write block's worth, so that a small data set is checked whole before any
// of it is written. After a failed write the writer is not called again; the
// data set is still read to its end.
class ReceivedFileSink {
 public:
  ReceivedFileSink(int fileId, MC_File_Writer writer, void* userInfo, bool taken)
      : fileId_(fileId),
        writer_(writer),
        userInfo_(userInfo),
        status_(taken ? MC_NORMAL_COMPLETION : MC_CANNOT_COMPLY) {}

  // Preamble, meta group and the head of the data set begin the first block.
  void start(E_TransferSyntax syntax, const std::vector<Uint8>& head, bool last) {
    fileName_ = fileNameOf(fileId_);
    const MC_STATUS encoded = guarded([&] {
      firstBlock_ = encodeReceivedFileHead(fileId_, syntax);
      return MC_NORMAL_COMPLETION;
    });
    if (encoded != MC_NORMAL_COMPLETION) {
      status_ = encoded;
      return;
    }
    firstBlock_.insert(firstBlock_.end(), head.begin(), head.end());
    if (last) write(firstBlock_.data(), firstBlock_.size(), true);
  }
  void deliver(const std::vector<DataSetScan::Piece>& pieces, bool last) {
    if (status_ != MC_NORMAL_COMPLETION) return;
    if (first_) {
      for (const auto& piece : pieces) firstBlock_.insert(firstBlock_.end(), piece.data, piece.data + piece.size);
      if (last || firstBlock_.size() >= limits::kWriteBlockSize) {
        write(firstBlock_.data(), firstBlock_.size(), last);
        firstBlock_ = {};
      }
      return;
    }
    for (std::size_t i = 0; i < pieces.size(); ++i)
      write(pieces[i].data, pieces[i].size, last && i + 1 == pieces.size());
    if (last && pieces.empty()) write(nullptr, 0, true);
  }
  MC_STATUS status() const { return status_; }

 private:
  static std::string fileNameOf(int fileId) {
    Target target = Target::open(fileId, true);
    return target.root().fileName;
  }
  void write(const Uint8* data, std::size_t size, bool last) {
    if (status_ != MC_NORMAL_COMPLETION) return;
    if (size > static_cast<std::size_t>(std::numeric_limits<int>::max())) {
      status_ = MC_LIMIT_EXCEEDED;
      return;
    }
    if (writer_(fileName_.c_str(), userInfo_, static_cast<int>(size), const_cast<Uint8*>(data), first_ ? 1 : 0,
                last ? 1 : 0) != MC_NORMAL_COMPLETION)
      status_ = MC_CALLBACK_CANNOT_COMPLY;
    first_ = false;
  }

  int fileId_;
  MC_File_Writer writer_;
  void* userInfo_;
  MC_STATUS status_;
  std::string fileName_;
  std::vector<Uint8> firstBlock_;
  bool first_ = true;
};

// MC_Read_Message, and with `toFile` ZYL_Read_Message_To_File.
MC_STATUS readMessage(int associationId, int timeoutSeconds, int* messageId, const char** serviceName,
                      MC_COMMAND* command, const ToFile* toFile) {
  {
    requireInitialized();
    auto a = findAssociation(associationId);
    if (!messageId || !serviceName || !command) return MC_NULL_POINTER_PARM;
    if (timeoutSeconds < 0) return MC_MUST_BE_POSITIVE;
    std::unique_lock lock(a->mutex);
    if (!a->acknowledged) return MC_STATE_VIOLATION;

    T_ASC_PresentationContextID contextId = 0;
    std::unique_ptr<DcmDataset> commandSet;
    Uint16 commandField = 0;
    OFCondition cond = receiveCommand(a->association, timeoutSeconds, contextId, commandSet);
    if (cond.good() && commandSet->findAndGetUint16(DCM_CommandField, commandField).bad()) cond = DIMSE_BADMESSAGE;
    if (cond == DIMSE_NODATAAVAILABLE) return MC_TIMEOUT;
    if (cond == DUL_PEERREQUESTEDRELEASE) {
      ASC_acknowledgeRelease(a->association);
      lock.unlock();
      removeAssociation(associationId);
      return MC_ASSOCIATION_CLOSED;
    }
    if (cond == DUL_PEERABORTEDASSOCIATION) {
      lock.unlock();
      removeAssociation(associationId);
      failWith(MC_ASSOCIATION_ABORTED, "the peer aborted the association or closed the connection");
    }
    if (cond.bad() || !commandSet)
      breakAssociation(*a, lock, MC_INVALID_MESSAGE_RECEIVED,
                       "an unreadable command arrived (" + std::string(cond.text()) + ")");

    const auto kind = static_cast<MC_COMMAND>(commandField);
    const Command* known = findCommand(kind);
    if (!known)
      breakAssociation(*a, lock, MC_INVALID_MESSAGE_RECEIVED,
                       "unsupported command " + commandName(static_cast<T_DIMSE_Command>(commandField)));
    T_ASC_PresentationContext pc;
    if (ASC_findAcceptedPresentationContext(a->association->params, contextId, &pc).bad())
      breakAssociation(*a, lock, MC_INVALID_MESSAGE_RECEIVED, "a command arrived on an unknown context");
    const Service* service = findServiceByUid(pc.abstractSyntax);
    const E_TransferSyntax syntax = DcmXfer(pc.acceptedTransferSyntax).getXfer();

    Uint16 dataSetType = kNoDataSet;
    commandSet->findAndGetUint16(DCM_CommandDataSetType, dataSetType);
    int id = 0;
    std::string receivedHead;
    // A data set stored as it arrives (not deflated): its head is parsed
    // here, the rest passes to the writer once the caller has seen the head.
    const bool streamed = toFile && DcmXfer(syntax).getStreamCompression() == ESC_none;
    std::optional<DataSetScan> scan;
    std::vector<Uint8> headOutput;  // what to write of the head
    std::optional<DUL_PDV> rest;    // the PDV the head ended in, from where it ended
    std::size_t restOffset = 0;
    PdvFeed feed;
    DUL_PDV pdv;
    // The feed is read with the association's lock held, as any read is.
    auto transportFailed = [&]() {
      if (feed.tooLarge) breakAssociation(*a, lock, MC_LIMIT_EXCEEDED, "a received data set exceeded the size limit");
      if (feed.failure == DIMSE_NODATAAVAILABLE)
        breakAssociation(*a, lock, MC_TIMEOUT, "the data set of a message did not arrive in time");
      if (feed.failure == DUL_PEERABORTEDASSOCIATION) {
        lock.unlock();
        removeAssociation(associationId);
        failWith(MC_ASSOCIATION_ABORTED, "the peer aborted the association during a data set");
      }
      breakAssociation(*a, lock, MC_INVALID_MESSAGE_RECEIVED,
                       "receiving a data set failed (" + std::string(feed.failure.text()) + ")");
    };
    if (dataSetType != kNoDataSet) {
      feed.association = a->association;
      feed.timeoutSeconds = timeoutSeconds;
      feed.contextId = contextId;
      if (!feed.next(pdv)) transportFailed();
      feed.first = pdv;
      feed.total = 0;
      feed.ended = false;
      const bool empty = pdv.lastPDV && pdv.fragmentLength == 0;
      if (MC_Open_Empty_Message(&id) != MC_NORMAL_COMPLETION) {
        if (!feed.drain()) transportFailed();
        return MC_NO_FREE_ID;
      }
      if (streamed) scan.emplace(syntax);
      if (empty && streamed) scan->finish();
      if (!empty && streamed) {
        std::vector<DataSetScan::Piece> pieces;
        while (!scan->headComplete()) {
          if (!feed.next(pdv)) {
            MC_Free_Message(id);
            transportFailed();
          }
          const auto* data = static_cast<const Uint8*>(pdv.data);
          std::size_t offset = 0;
          while (offset < pdv.fragmentLength && !scan->headComplete()) {
            const std::size_t taken = scan->consume(data + offset, pdv.fragmentLength - offset, pieces);
            if (taken == 0) break;
            receivedHead.append(reinterpret_cast<const char*>(data) + offset, taken);
            offset += taken;
          }
          for (const auto& piece : pieces) headOutput.insert(headOutput.end(), piece.data, piece.data + piece.size);
          pieces.clear();
          scan->clearOwned();
          if (scan->failure() == MC_NORMAL_COMPLETION && pdv.lastPDV && offset == pdv.fragmentLength) scan->finish();
          if (scan->failure() != MC_NORMAL_COMPLETION) {
            MC_Free_Message(id);
            breakAssociation(*a, lock,
                             scan->failure() == MC_INVALID_FILE ? MC_INVALID_MESSAGE_RECEIVED : scan->failure(),
                             "a received data set could not be read");
          }
          if (scan->headComplete() && !scan->finished()) {
            rest = pdv;
            restOffset = offset;
          }
        }
        receivedHead.resize(static_cast<std::size_t>(scan->headDataSetLength()));
      }
      if (!empty) {
        const MC_STATUS parsed =
            streamed ? MC_Stream_To_Message(id, 0x00000000u, 0xFFFFFFFFu,
                                            tables::syntaxFromDcmtk(syntax).value_or(MC_TS_INVALID), &receivedHead,
                                            supplyHead)
                     : MC_Stream_To_Message(id, 0x00000000u, 0xFFFFFFFFu,
                                            tables::syntaxFromDcmtk(syntax).value_or(MC_TS_INVALID), &feed, feedPdv);
        if (parsed != MC_NORMAL_COMPLETION) {
          MC_Free_Message(id);
          if (feed.tooLarge || feed.failure.bad()) transportFailed();
          // A data set that does not parse leaves the peer's state unknown: the
          // association ends here, aborted and freed, whatever the reason.
          breakAssociation(
              *a, lock,
              parsed == MC_LIMIT_EXCEEDED || parsed == MC_NESTING_TOO_DEEP ? parsed : MC_INVALID_MESSAGE_RECEIVED,
              std::string("a received data set could not be read (") + MC_Error_Message(parsed) + ")");
        }
        if (!streamed) {
          if (!feed.ended && !feed.drain()) transportFailed();
          receivedHead = std::move(feed.head);
        }
      }
    } else if (MC_Open_Empty_Message(&id) != MC_NORMAL_COMPLETION) {
      return MC_NO_FREE_ID;
    }
    {
      Target target = Target::open(id, true);
      Root& root = target.root();
      root.serviceName = service ? service->name : std::string();
      root.command = kind;
      root.transferSyntax = syntax;
      keepReceivedUids(root, receivedHead, syntax);
      DcmDataset& dataset = *root.dataset();
      for (DcmObject* o = commandSet->nextInContainer(nullptr); o; o = commandSet->nextInContainer(o)) {
        if (o->getTag() == DCM_CommandGroupLength) continue;
        dataset.insert(static_cast<DcmElement*>(o->clone()), true);
      }
    }

    // Remember what a response answers, and which request is still open.
    Uint16 number = 0;
    if (known->role == Role::Request) {
      commandSet->findAndGetUint16(DCM_MessageID, number);
      OFString instance;
      commandSet->findAndGetOFString(DCM_AffectedSOPInstanceUID, instance);
      a->lastRead = Association::Request{number, contextId, kind, pc.abstractSyntax, trimmed(instance.c_str())};
    } else if (known->role == Role::Response) {
      Uint16 status = 0;
      commandSet->findAndGetUint16(DCM_MessageIDBeingRespondedTo, number);
      commandSet->findAndGetUint16(DCM_Status, status);
      if (a->lastSent && a->lastSent->messageId == number && !isPending(status)) a->lastSent.reset();
    }
    if (toFile && dataSetType != kNoDataSet) {
      // The caller sees the head and decides where the data set goes.
      const bool take = toFile->onHead(id, toFile->userInfo) == MC_NORMAL_COMPLETION;
      if (!streamed) {
        if (take) *toFile->written = MC_Write_File(id, toFile->userInfo, toFile->writer);
      } else {
        ReceivedFileSink sink(id, toFile->writer, toFile->userInfo, take);
        if (take) sink.start(syntax, headOutput, scan->finished());
        std::vector<DataSetScan::Piece> pieces;
        // The rest of the PDV the head ended in, then the following ones.
        for (bool more = !scan->finished(); more;) {
          if (rest) {
            pdv = *rest;
            rest.reset();
          } else if (!feed.next(pdv)) {
            MC_Free_Message(id);
            transportFailed();
          }
          const auto* data = static_cast<const Uint8*>(pdv.data) + restOffset;
          const std::size_t size = pdv.fragmentLength - restOffset;
          restOffset = 0;
          const bool taken = size == 0 || scan->consume(data, size, pieces) == size;
          more = !pdv.lastPDV;
          if (taken && !more) scan->finish();
          if (scan->failure() != MC_NORMAL_COMPLETION) {
            MC_Free_Message(id);
            breakAssociation(*a, lock,
                             scan->failure() == MC_INVALID_FILE ? MC_INVALID_MESSAGE_RECEIVED : scan->failure(),
                             "a received data set could not be read");
          }
          sink.deliver(pieces, !more);
          pieces.clear();
          scan->clearOwned();
        }
        *toFile->written = sink.status();
      }
    }
    *messageId = id;
    *serviceName = service ? service->name.c_str() : "";
    *command = kind;
    return MC_NORMAL_COMPLETION;
  }
}

}  // namespace

bool isKnownCommand(MC_COMMAND command) { return findCommand(command) != nullptr; }

}  // namespace zyl::toolkit::net

using namespace zyl::toolkit;
using namespace zyl::toolkit::net;

extern "C" {

MC_STATUS MC_Send_Request_Message(int associationId, int messageId) {
  return guarded([&] {
    requireInitialized();
    auto a = findAssociation(associationId);
    std::unique_lock lock(a->mutex);
    if (!a->acknowledged) return MC_STATE_VIOLATION;
    Target target = Target::open(messageId, true);
    Root& root = target.root();
    const Service* service = findServiceByName(root.serviceName);
    if (!service) return MC_INVALID_SERVICE_NAME;
    const Command* command = findCommand(root.command);
    if (!command || command->role == Role::Response) return MC_INVALID_COMMAND;
    DcmDataset& dataset = *root.dataset();
    CommandFields fields(dataset);
    const auto carried = [&](Element element) { return (command->elements & element) != 0; };

    CommandValues values;
    T_ASC_PresentationContextID contextId = 0;
    E_TransferSyntax contextSyntax = EXS_Unknown;
    if (command->role == Role::Cancel) {
      const Command* pending = a->lastSent ? findCommand(a->lastSent->command) : nullptr;
      if (!pending || !pending->cancellable) return MC_NO_REQUEST_PENDING;
      contextId = a->lastSent->contextId;
      values.respondedTo = a->lastSent->messageId;
    } else {
      contextId = chooseContext(*a, *service, root.transferSyntax, contextSyntax);
      values.messageId = a->nextMessageId;
      a->nextMessageId = static_cast<DIC_US>(a->nextMessageId == 0xFFFF ? 1 : a->nextMessageId + 1);
      values.sopClass = service->sopClassUid;
      values.priority = static_cast<T_DIMSE_Priority>(fields.number(DCM_Priority).value_or(DIMSE_PRIORITY_MEDIUM));
      if (carried(kAffectedInstance)) {
        // Unless the caller set it, the instance is the data set's own.
        values.sopInstance = fields.text(DCM_AffectedSOPInstanceUID).value_or("");
        OFString uid;
        if (values.sopInstance.empty() && dataset.findAndGetOFString(DCM_SOPInstanceUID, uid).good())
          values.sopInstance = trimmed(uid.c_str());
      }
      if (carried(kMoveDestination)) values.moveDestination = fields.text(DCM_MoveDestination).value_or("");
      if (carried(kMoveOriginator)) {
        values.originatorTitle = fields.text(DCM_MoveOriginatorApplicationEntityTitle);
        values.originatorMessageId = fields.number(DCM_MoveOriginatorMessageID);
      }
      requireElements(*command, values);
    }
    const bool withData = dataSetFollows(*command, 0, dataset);
    T_DIMSE_Message msg;
    std::memset(&msg, 0, sizeof msg);
    command->fill(msg, *command, values, withData);
    sendMessage(*a, lock, contextId, msg, withData ? &dataset : nullptr, contextSyntax, root.transferSyntax, "request");
    if (command->role == Role::Request)
      a->lastSent = Association::Request{values.messageId, contextId, command->command, service->sopClassUid, {}};
    return MC_NORMAL_COMPLETION;
  });
}

MC_STATUS MC_Read_Message(int associationId, int timeoutSeconds, int* messageId, const char** serviceName,
                          MC_COMMAND* command) {
  return guarded([&] { return readMessage(associationId, timeoutSeconds, messageId, serviceName, command, nullptr); });
}

MC_STATUS ZYL_Read_Message_To_File(int associationId, int timeoutSeconds, int* messageId, const char** serviceName,
                                   MC_COMMAND* command, void* userInfo, ZYL_Received_Head onHead, MC_File_Writer writer,
                                   MC_STATUS* written) {
  return guarded([&] {
    if (!onHead || !writer) return MC_NO_CALLBACK;
    if (!written) return MC_NULL_POINTER_PARM;
    *written = MC_CANNOT_COMPLY;
    ToFile toFile{userInfo, onHead, writer, written};
    return readMessage(associationId, timeoutSeconds, messageId, serviceName, command, &toFile);
  });
}

MC_STATUS MC_Send_Response_Message(int associationId, unsigned int status, int messageId) {
  return guarded([&] {
    requireInitialized();
    auto a = findAssociation(associationId);
    std::unique_lock lock(a->mutex);
    if (!a->acknowledged) return MC_STATE_VIOLATION;
    if (status > 0xFFFF) return MC_VALUE_OUT_OF_RANGE;
    Target target = Target::open(messageId, true);
    Root& root = target.root();
    const Command* command = findCommand(root.command);
    if (!command || command->role != Role::Response) return MC_INVALID_COMMAND;
    if (!a->lastRead) return MC_NO_REQUEST_PENDING;
    const Association::Request& request = *a->lastRead;
    // A response's command field is its request's with the high bit set.
    if ((static_cast<unsigned>(request.command) | 0x8000u) != static_cast<unsigned>(command->command))
      return MC_INVALID_COMMAND;
    DcmDataset& dataset = *root.dataset();
    CommandFields fields(dataset);

    CommandValues values;
    values.respondedTo = fields.number(DCM_MessageIDBeingRespondedTo).value_or(request.messageId);
    values.sopClass = request.sopClassUid;
    values.status = static_cast<DIC_US>(status);
    if (command->elements & kAffectedInstance)
      values.sopInstance = fields.text(DCM_AffectedSOPInstanceUID).value_or(request.sopInstanceUid);
    if (command->elements & kSubOperations) {
      const DcmTagKey counts[] = {DCM_NumberOfRemainingSuboperations, DCM_NumberOfCompletedSuboperations,
                                  DCM_NumberOfFailedSuboperations, DCM_NumberOfWarningSuboperations};
      for (std::size_t i = 0; i < 4; ++i) values.subOperations[i] = fields.number(counts[i]);
    }
    const bool withData = dataSetFollows(*command, status, dataset);
    T_DIMSE_Message msg;
    std::memset(&msg, 0, sizeof msg);
    command->fill(msg, *command, values, withData);
    T_ASC_PresentationContext pc;
    if (ASC_findAcceptedPresentationContext(a->association->params, request.contextId, &pc).bad()) return MC_NO_CONTEXT;
    sendMessage(*a, lock, request.contextId, msg, withData ? &dataset : nullptr,
                DcmXfer(pc.acceptedTransferSyntax).getXfer(), root.transferSyntax, "response");
    return MC_NORMAL_COMPLETION;
  });
}

}  // extern "C"

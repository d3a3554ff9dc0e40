// The one id table of the toolkit and the data trees the ids point into.
#pragma once

#include "dcmtk.h"
#include "toolkit/mc.h"

#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <unordered_map>
#include <vector>

namespace zyl::toolkit {

// Frames being read or written by the encapsulated-value calls (encapsulated.cpp).
struct PixelSession;

// What the toolkit keeps per data set or item beside DCMTK's elements.
struct ContainerState {
  // Attributes present without a value: never written, read as MC_EMPTY_VALUE.
  std::map<DcmTagKey, DcmEVR> emptyAttributes;
  // Cursor of the Next getters: the tag and the next value number to read.
  std::optional<DcmTagKey> valueCursorTag;
  unsigned long valueCursorNext = 0;
  // Cursor of MC_Get_Next_Attribute: the last tag returned.
  std::optional<DcmTagKey> attributeCursor;
  bool attributeCursorInMeta = false;  // a message lists its meta group first
};

// A tree of DICOM data owned as one unit: a message or file (meta group and
// data set), or an item that no sequence holds yet. Its mutex guards the tree
// and every bookkeeping map below.
struct Root {
  std::mutex mutex;
  std::unique_ptr<DcmFileFormat> fileFormat;  // messages and files
  std::unique_ptr<DcmItem> standaloneItem;    // a free item
  bool isFile = false;
  std::string fileName;
  std::string serviceName;
  MC_COMMAND command = MC_CMD_NONE;
  E_TransferSyntax transferSyntax = EXS_LittleEndianImplicit;
  MC_Compression_Callback compressor = nullptr;
  MC_Compression_Callback decompressor = nullptr;
  std::shared_ptr<PixelSession> pixels;  // created on first use
  std::unordered_map<const DcmItem*, ContainerState> states;
  std::unordered_map<const DcmItem*, int> itemIds;  // ids given to items of this tree
  // UIDs of a received data set that DCMTK's reader changed (it deletes
  // spaces and line feeds inside a UID): the bytes as they arrived, kept
  // for as long as the element still holds the value DCMTK made of them.
  struct ReceivedUid {
    const DcmElement* element = nullptr;
    std::vector<Uint8> asRead, asReceived;
  };
  std::vector<ReceivedUid> receivedUids;

  DcmDataset* dataset() const { return fileFormat ? fileFormat->getDataset() : nullptr; }
  DcmMetaInfo* meta() const { return fileFormat ? fileFormat->getMetaInfo() : nullptr; }
  ContainerState& state(const DcmItem* container) { return states[container]; }
};

enum class IdKind { Application, Message, Item, Association };

struct IdEntry {
  IdKind kind = IdKind::Message;
  std::shared_ptr<Root> root;    // messages, files and items
  DcmItem* item = nullptr;       // the item an item id names
  std::string applicationTitle;  // applications
};

// Ids are the lowest free positive integers up to limits::kMaxId. The table
// is shared by all threads; its own mutex is never held while a Root mutex is
// taken (roots lock first), so the two cannot deadlock.
class IdTable {
 public:
  static IdTable& instance();

  std::optional<int> add(IdEntry entry);
  std::optional<IdEntry> find(int id) const;
  void remove(int id);
  void setRoot(int id, std::shared_ptr<Root> root);
  std::optional<int> findApplication(const std::string& title) const;
  int size() const;

 private:
  mutable std::mutex mutex_;
  std::vector<std::optional<IdEntry>> slots_{1};  // slot 0 unused
  std::set<int> freed_;
};

}  // namespace zyl::toolkit

// Locked access to the data an id names, attribute states and typed values.
#pragma once

#include "dcmtk.h"
#include "registry.h"
#include "toolkit/mc.h"

#include <cstdint>
#include <memory>
#include <mutex>
#include <new>
#include <string>
#include <variant>
#include <vector>
#include <optional>

namespace zyl::toolkit {

// The one error type inside the toolkit; the C boundary turns it into a status.
struct Failure {
  MC_STATUS status;
};
[[noreturn]] inline void fail(MC_STATUS status) { throw Failure{status}; }

bool libraryInitialized();
void requireInitialized();

// Runs an operation and keeps every exception inside the toolkit.
template <class Operation>
MC_STATUS guarded(Operation&& operation) noexcept {
  try {
    return operation();
  } catch (const Failure& failure) {
    return failure.status;
  } catch (const std::bad_alloc&) {
    return MC_SYSTEM_ERROR;
  } catch (...) {
    return MC_SYSTEM_ERROR;
  }
}

inline DcmTagKey tagKey(std::uint32_t tag) {
  return DcmTagKey(static_cast<Uint16>(tag >> 16), static_cast<Uint16>(tag & 0xFFFF));
}
inline std::uint32_t tagValue(const DcmTagKey& key) {
  return (static_cast<std::uint32_t>(key.getGroup()) << 16) | key.getElement();
}

// The data set or item an id names, locked for the duration of one call.
class Target {
 public:
  // Fails with MC_INVALID_MESSAGE_ID (or MC_INVALID_ITEM_ID) for unknown ids.
  static Target open(int id, bool messageOnly = false);

  int id() const { return id_; }
  Root& root() { return *root_; }
  const std::shared_ptr<Root>& rootPointer() const { return root_; }
  bool isMessage() const { return root_->fileFormat && item_ == root_->dataset(); }
  // The container holding `tag`: a message keeps group 0002 in its meta group.
  DcmItem& containerFor(const DcmTagKey& tag);
  DcmItem& item() { return *item_; }

 private:
  int id_ = 0;
  std::shared_ptr<Root> root_;
  std::unique_lock<std::mutex> lock_;
  DcmItem* item_ = nullptr;
};

enum class AttributeState { Absent, Empty, Null, Valued };

struct Attribute {
  DcmItem* container = nullptr;
  DcmTagKey tag;
  DcmElement* element = nullptr;  // null when absent or empty
  DcmEVR vr = EVR_UNKNOWN;
  AttributeState state = AttributeState::Absent;
  int count = 0;  // valueCount() when found, computed once
};

struct TagValue {
  std::uint32_t tag;
};
// One value, as read from or written to an attribute.
using Scalar = std::variant<std::int64_t, double, std::string, TagValue, float>;

// How a written value is to be taken.
struct WriteOptions {
  bool append = false;                   // after the last value, else replacing all
  bool sixteenBitPattern = false;        // a 16-bit value written to US or SS as its bit pattern
  const char* privateCreator = nullptr;  // for dictionary look-ups of private tags
};

Attribute findAttribute(Target& target, const DcmTagKey& tag);
// MC_INVALID_TAG, MC_EMPTY_VALUE or MC_NULL_VALUE for an attribute with no
// value to read, MC_NORMAL_COMPLETION for one with values.
MC_STATUS valuesStatus(const Attribute& attribute);
// Fails with valuesStatus() unless the attribute has values.
void requireValues(const Attribute& attribute);
int valueCount(const Attribute& attribute);
// Length in bytes of value `number` (1-based).
unsigned long valueLength(Attribute& attribute, int number);
// Reads value `number` (1-based) of an attribute findAttribute gave; item
// values become item ids.
Scalar readValue(Target& target, Attribute& attribute, unsigned long number);
// The value the getters' cursor points at: value 1, or (for the Next
// getters) the one after the value last read from the same attribute.
struct CursorValue {
  Attribute attribute;
  unsigned long number = 0;  // 1-based
};
// Finds the value the cursor points at. An attribute without it (absent,
// empty, null, no more values) is an ordinary outcome of a getter: its status
// comes back as the result, and nothing is thrown.
MC_STATUS locateCursorValue(Target& target, const DcmTagKey& tag, bool next, CursorValue& cursor);
// Moves the cursor past `cursor`, once its value has been read.
void advanceCursor(Target& target, const CursorValue& cursor);
// Reads value `number` (1-based, within the count) of a text attribute into
// `text`, as readValue would; false for attributes of other representations.
bool readTextValue(const Attribute& attribute, unsigned long number, OFString& text);

// Writes one value: replacing all values, or appended after the last.
void writeValue(Target& target, const DcmTagKey& tag, const Scalar& value, const WriteOptions& options);
void setNull(Target& target, const DcmTagKey& tag, const char* privateCreator = nullptr);
void setEmpty(Target& target, const DcmTagKey& tag, const char* privateCreator = nullptr);
void deleteAttribute(Target& target, const DcmTagKey& tag);
void addStandardAttribute(Target& target, const DcmTagKey& tag);
// Declares an attribute with a known representation in the empty state.
void declareAttribute(Target& target, const DcmTagKey& tag, DcmEVR vr);

// Raw bytes of a binary (or any) value, host byte order.
std::vector<Uint8> binaryValue(Attribute& attribute);
// True for a value of bytes, words or numbers of one size (OB, OW, OF, OD,
// OL, OV, UN, not fragments), which can be read a part at a time.
bool readsInParts(const Attribute& attribute);
// Copies `size` bytes from `offset` of such a value, host byte order: from
// memory, or from the file for a value left there (`cache` keeps the file
// open from one part to the next).
void readValuePart(Attribute& attribute, std::uint32_t offset, std::uint32_t size, Uint8* out, DcmFileCache& cache);
// The bytes a UID of a received message arrived with (less one trailing pad),
// when DCMTK's reader changed them and the value has not been set since.
std::optional<std::vector<Uint8>> receivedUidBytes(const Root& root, const Attribute& attribute);
void setBinaryValue(Target& target, const DcmTagKey& tag, const std::vector<Uint8>& bytes,
                    const char* privateCreator = nullptr);

// The preamble, "DICM" and the completed meta group of a file that holds a
// received data set, to be written in front of that data set's bytes as they
// arrived: the meta group must name the syntax the data set arrived in.
std::vector<Uint8> encodeReceivedFileHead(int fileId, E_TransferSyntax received);

// Conversions of a read value to the getters' result types.
std::int64_t toInteger(const Scalar& value, std::int64_t minimum, std::int64_t maximum);
std::uint64_t toUnsigned(const Scalar& value, std::uint64_t maximum);
double toDouble(const Scalar& value);
std::string toText(const Scalar& value);

// Private blocks.
std::optional<Uint8> findPrivateBlock(DcmItem& container, Uint16 group, const std::string& creator);
Uint8 reservePrivateBlock(Target& target, Uint16 group, const std::string& creator);
// The tag of (creator, group, offset); fails with MC_INVALID_GROUP when the
// creator holds no block in the group.
DcmTagKey privateTag(Target& target, const char* creator, unsigned short group, unsigned char offset);
void deletePrivateBlock(Target& target, Uint16 group, const std::string& creator);

// Bookkeeping when items leave a tree.
void forgetItemsUnder(Root& root, DcmObject* object);
void removeElement(Root& root, DcmItem& container, const DcmTagKey& tag);

// Resolves the representation a new attribute gets from the dictionary.
DcmEVR dictionaryVr(DcmItem& container, const DcmTagKey& tag, const char* privateCreator);

}  // namespace zyl::toolkit

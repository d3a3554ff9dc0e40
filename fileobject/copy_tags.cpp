// CopyTags: the attributes of one object within a range of tags copied into
// another, private blocks re-created by their creator codes and sequences
// copied item by item to any depth. Values pass through text, binary ones
// through one buffer.
#include <algorithm>
#include <cstdio>
#include <cstring>
#include <new>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "address.h"
#include "attribute_walk.h"
#include "file_method.h"
#include "file_methods.h"
#include "file_object.h"
#include "pixel_data.h"
#include "tags.h"
#include "toolkit/tags.h"

namespace orvo::file {
namespace {

bool isEmpty(MC_STATUS status) { return status == MC_EMPTY_VALUE || status == MC_NULL_VALUE; }

// Creator codes recorded per call; the walk holds at most this many.
constexpr size_t kCreatorLimit = 255;
// Text values are read into a buffer of at least this size.
constexpr size_t kValueBufferSize = 10240;

std::string tagText(uint32_t tag) {
  char text[16];
  std::snprintf(text, sizeof text, "%.4x,%.4x", tag >> 16, tag & 0xFFFF);
  return text;
}

std::string hexText(unsigned value, int digits) {
  char text[16];
  std::snprintf(text, sizeof text, "%.*x", digits, value);
  return text;
}

// The text value of creator element `tag`.
std::string creatorCode(int id, uint32_t tag) {
  std::vector<char> code(kValueBufferSize, '\0');
  const MC_STATUS status = MC_Get_Value_To_String(id, tag, static_cast<int>(code.size()), code.data());
  if (status != MC_NORMAL_COMPLETION)
    fail(kErrs3, "Error: Failed to get private code (tag/err) ", tagText(tag), errorText(status));
  std::string text(code.data());
  while (!text.empty() && text.back() == ' ') text.pop_back();
  return text;
}

class TagCopier {
 public:
  // Copies attribute `tag` of message or item `source` into `destination`.
  void copy(int source, int destination, uint32_t tag, MC_VR vr, int count) {
    if (vr == MC_VR_SQ) return copySequence(source, destination, tag);
    if (vr == MC_VR_UN) fail(kErrs2, "Error: Failed to copy tags, unsupported VR type ", "UN");
    copyAttribute(source, destination, tag, vr, count);
  }

  // Every attribute of item `source` into item `destination`. The item's
  // creators name its blocks only while it is copied.
  void copyItem(int source, int destination) {
    const size_t outerCreators = creators_.size();
    walkAttributes(source, std::nullopt, std::nullopt, true,
                   [&](uint32_t tag, MC_VR vr, int count) { copy(source, destination, tag, vr, count); });
    creators_.resize(outerCreators);
  }

 private:
  struct Creator {
    uint16_t group;
    uint8_t block;
    std::string code;
  };

  // The destination address of private data element `tag`, by the code of
  // the creator that holds its block in the source.
  Address privateDestination(int destination, uint32_t tag) const {
    const auto group = static_cast<uint16_t>(tag >> 16);
    const auto block = static_cast<uint8_t>((tag >> 8) & 0xFF);
    // The innermost item's creator first.
    for (auto it = creators_.rbegin(); it != creators_.rend(); ++it)
      if (const Creator& creator = *it; creator.group == group && creator.block == block) {
        const auto element = static_cast<unsigned char>(tag & 0xFF);
        return Address(destination, PrivateTag{creator.code, hexText(group, 4), hexText(element, 2), group, element});
      }
    fail(kErrs2, "Error: Failed to copy private tags...could not locate private blk code (tag) ", tagText(tag));
  }

  // A private creator element: its code recorded, its block reserved in the
  // destination (the toolkit writes the creator element itself).
  void copyCreator(int source, int destination, uint32_t tag) {
    const std::string text = tagText(tag);
    std::string code = creatorCode(source, tag);
    if (creators_.size() >= kCreatorLimit)
      fail(kErrs2, "Error: Failed to copy tags...ran out of private blk code memory (tag) ", text);
    const MC_STATUS status = MC_Add_Private_Block(destination, code.c_str(), static_cast<unsigned short>(tag >> 16));
    creators_.push_back({static_cast<uint16_t>(tag >> 16), static_cast<uint8_t>(tag & 0xFF), std::move(code)});
    if (status != MC_NORMAL_COMPLETION)
      fail(kErrs3, "Error: Failed to set private code (tag/err) ", text, errorText(status));
  }

  void copyAttribute(int source, int destination, uint32_t tag, MC_VR vr, int count) {
    const std::string text = tagText(tag);
    // The source is read by the tag it has; a private destination is
    // addressed by its creator's code.
    const Address from(source, tag, text);
    std::optional<Address> to;
    const uint32_t group = tag >> 16;
    const uint32_t element = tag & 0xFFFF;
    if (group % 2 == 1) {
      if (element == 0) {
        MC_Add_Standard_Attribute(destination, tag);
        return;
      }
      if (element < 0x10) fail(kErrs2, "Error: Failed to copy private tag (tag) ", text);
      if (element <= 0xFF) return copyCreator(source, destination, tag);
      to.emplace(privateDestination(destination, tag));
      const MC_STATUS status = to->addPrivateAttribute(vr);
      if (status != MC_NORMAL_COMPLETION)
        fail(kErrs3, "Error: Failed to set private tag (tag/err) ", text, errorText(status));
    } else {
      to.emplace(destination, tag, text);
    }
    if (vr == MC_VR_OB || vr == MC_VR_OW || vr == MC_VR_OF || vr == MC_VR_OD || vr == MC_VR_OL || vr == MC_VR_OV)
      return copyBinary(from, *to, vr, text);
    copyText(from, *to, vr, count, text);
  }

  static void copyBinary(const Address& from, const Address& to, MC_VR vr, const std::string& text) {
    const char* lengthText = "Error: Failed to get length of a OB OW OF tag (tag/err) ";
    unsigned long length = 0;
    MC_STATUS status = from.length(1, &length);
    if (status != MC_NORMAL_COMPLETION && !isEmpty(status)) fail(kErrs3, lengthText, text, errorText(status));
    if (isEmpty(status) || length == 0) {
      to.setNull();
      return;
    }
    if (length > static_cast<unsigned long>(INT32_MAX) - 1)
      fail(kErrs3, lengthText, text, errorText(MC_VALUE_TOO_LARGE));
    std::vector<unsigned char> bytes;
    try {
      bytes.resize(length);
    } catch (const std::bad_alloc&) {
      fail(kErrs3, lengthText, text, errorText(MC_SYSTEM_ERROR));
    }
    ValueCopy copy{bytes.data(), bytes.size(), 0};
    status = from.getToFunction(&copy, copyValuePiece);
    if (status != MC_NORMAL_COMPLETION)
      fail(kErrs3, "Error: Failed to get OB OW OF data (tag/err). ", text, errorText(status));
    ValueSupply supply{bytes.data(), bytes.size(), vr == MC_VR_OB};
    status = to.setFromFunction(&supply, supplyValue);
    if (status != MC_NORMAL_COMPLETION)
      fail(kErrs3, "Error: Failed to set OB OW OF data (tag/err). ", text, errorText(status));
  }

  // Each value read as text and written back as text. An empty value among
  // several is kept in its place as an empty string.
  void copyText(const Address& from, const Address& to, MC_VR vr, int count, const std::string& text) {
    for (int i = 1; i <= count; ++i) {
      unsigned long length = 0;
      if (from.length(i, &length) == MC_NORMAL_COMPLETION && length + 1 > buffer_.size()) buffer_.resize(length + 1);
      std::fill(buffer_.begin(), buffer_.end(), '\0');
      MC_STATUS status = from.getString(i > 1, static_cast<int>(buffer_.size()), buffer_.data());
      if (isEmpty(status)) {
        if (count > 1 || vr == MC_VR_PN) {
          status = to.set(i > 1, "");
          if (status != MC_NORMAL_COMPLETION)
            fail(kErrs3, "Error: Failed to set value for tag (tag/err) ", text, errorText(status));
          if (count > 1) continue;
        } else {
          to.setNull();
        }
        return;
      }
      if (status != MC_NORMAL_COMPLETION)
        fail(kErrs3, "Error: Failed to get value for tag (tag/err) ", text, errorText(status));
      status = to.set(i > 1, buffer_.data());
      if (status == MC_NORMAL_COMPLETION) continue;
      if (vr == MC_VR_PN && std::string_view(buffer_.data()).find_first_not_of(' ') == std::string_view::npos) {
        to.set(false, "");
        return;
      }
      fail(kErrs3, "Error: Failed to set value for tag (tag/err) ", text, errorText(status));
    }
  }

  void copySequence(int source, int destination, uint32_t tag) {
    const std::string text = tagText(tag);
    const bool isPrivate = (tag >> 16) % 2 == 1;
    const Address from(source, tag, text);
    const Address to = isPrivate ? privateDestination(destination, tag) : Address(destination, tag, text);
    int count = 0;
    MC_STATUS status = from.count(&count);
    if (count <= 0) return;
    if (status != MC_NORMAL_COMPLETION)
      fail(kErrs3, "Error: Failed to get sequence count (tag/err) ", text, errorText(status));

    // The item ids are read first: copying an item moves other cursors.
    std::vector<int> items(static_cast<size_t>(count));
    for (int i = 0; i < count; ++i) {
      status = from.get(i > 0, &items[static_cast<size_t>(i)]);
      if (status != MC_NORMAL_COMPLETION)
        fail(kErrs3,
             i == 0 ? "Error: Failed to get source sequence item id (tag/err) "
                    : "Error: Failed to get next group item id from source sequence (tag/err) ",
             text, errorText(status));
    }
    if (isPrivate) {
      status = to.addPrivateAttribute(MC_VR_SQ);
      if (status != MC_NORMAL_COMPLETION)
        fail(kErrs3, "Error: Failed to add private SQ attribute (tag/err) ", text, errorText(status));
    }
    for (int i = 0; i < count; ++i) {
      zyl::toolkit::ItemHandle item;
      status = MC_Open_Item(item.out(), "");
      if (status != MC_NORMAL_COMPLETION)
        fail(kErrs3, "Error: Failed to open item for sequence in destination (tag/err) ", text, errorText(status));
      status = to.set(i > 0, item.get());
      if (status != MC_NORMAL_COMPLETION)
        fail(kErrs3,
             i == 0 ? "Error: Failed to add new sequence Item (group) to destination sequence (tag/err) "
                    : "Error: Failed to set new group item id to destination sequence (tag/err) ",
             text, errorText(status));
      copyItem(items[static_cast<size_t>(i)], item.release());
    }
  }

  std::vector<Creator> creators_;
  std::vector<char> buffer_ = std::vector<char>(kValueBufferSize, '\0');
};

// The destination's blocks are reserved by creator code, so two blocks of
// one creator in one group of an item would merge into one: such a source
// is refused before anything is copied. Items are looked into at any depth.
void refuseSharedCreators(int id, std::optional<uint32_t> start, std::optional<uint32_t> stop) {
  std::vector<std::pair<uint16_t, std::string>> seen;
  walkAttributes(id, start, stop, true, [&](uint32_t tag, MC_VR vr, int count) {
    const auto group = static_cast<uint16_t>(tag >> 16);
    const uint32_t element = tag & 0xFFFF;
    if (group % 2 == 1 && element >= 0x10 && element <= 0xFF && vr != MC_VR_UN) {
      std::pair<uint16_t, std::string> creator{group, creatorCode(id, tag)};
      if (std::find(seen.begin(), seen.end(), creator) != seen.end())
        fail(kErrs3, "Error: Failed to copy tags, a private creator holds two blocks of one group (tag/code) ",
             tagText(tag), creator.second);
      seen.push_back(std::move(creator));
    }
    if (vr != MC_VR_SQ || count <= 0) return;
    std::vector<int> items(static_cast<size_t>(count));
    for (int i = 0; i < count; ++i) {
      const MC_STATUS status = i == 0 ? MC_Get_Value_To_Int(id, tag, &items[0])
                                      : MC_Get_Next_Value_To_Int(id, tag, &items[static_cast<size_t>(i)]);
      if (status != MC_NORMAL_COMPLETION)
        fail(kErrs3, "Error: Failed to get source sequence item id (tag/err) ", tagText(tag), errorText(status));
    }
    for (const int item : items) refuseSharedCreators(item, std::nullopt, std::nullopt);
  });
}

// The count and the destination object, checked before either data set is opened.
struct CopyTagsArgs {
  static void check(const MethodCall<FileInstance, NoKeywords>& call) {
    call.requireArgCount(4);
    HostObjectInstance(call.arg(1), "ZYLFFORVO");
  }
};

bool skippedAtTopLevel(uint32_t tag) {
  return tag == zyl::tags::kSopInstanceUid || tag == zyl::tags::kMediaSopInstanceUid;
}

HostVar* copyTagsWorker(MethodCall<FileInstance, NoKeywords>& call) {
  const FileInstance& self = call.self();
  auto& target = *static_cast<FileInstance*>(HostObjectInstance(call.arg(1), "ZYLFFORVO"));
  openFileOnDemand(target);
  const std::string start(call.stringArg(2, StringArg::Tag));
  const std::string stop(call.stringArg(3, StringArg::Tag));
  const std::optional<uint32_t> startTag = rangeBound(start, "Error: Failed to interpret StartTag keyword value. ");
  const std::optional<uint32_t> stopTag = rangeBound(stop, "Error: Failed to interpret StopTag keyword value. ");
  // Copying a data set into itself would replace the items being walked.
  if (target.msgFileId == self.msgFileId)
    fail(kErrs2, "Error: Failed to copy tags, source and destination are the same object. ", fileName(self));

  refuseSharedCreators(self.msgFileId, startTag, stopTag);
  TagCopier copier;
  walkAttributes(self.msgFileId, startTag, stopTag, true, [&](uint32_t tag, MC_VR vr, int count) {
    if (!skippedAtTopLevel(tag)) copier.copy(self.msgFileId, target.msgFileId, tag, vr, count);
  });
  return nullptr;
}

}  // namespace

MethodRows copyTagsMethods() {
  static const MethodRow kRows[] = {
      procedureRow("ZYLFFORVO::COPYTAGS", fileMethodEntry<NoKeywords, CopyTagsArgs, copyTagsWorker>, 4, 4,
                   HOST_ROUTINE_KEYWORDS),
  };
  return kRows;
}

}  // namespace orvo::file

// Where an attribute lives in a message or item: a standard attribute by its
// tag, or a private one by creator code, odd group and element offset inside
// the creator's block. The readers and writers take an Address, so that the
// standard and private methods share one path; the address picks the toolkit
// call of its kind and names itself in messages.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <type_traits>
#include <utility>

#include "messages.h"
#include "file_method.h"
#include "tags.h"
#include "toolkit/mc.h"

namespace orvo::file {

// The three host strings of a private attribute, as given, and the numbers
// read from them.
struct PrivateTag {
  std::string code;
  std::string groupText;
  std::string elementText;
  unsigned short group = 0;
  unsigned char element = 0;
};

// Checks a private triple (empty code; group of 4 and element of 2
// characters, each beginning with a hexadecimal digit after any blanks) and
// reads it; a failed check stops the call with its own message.
PrivateTag parsePrivateTag(std::string_view code, std::string_view groupText, std::string_view elementText);

// A message text of the standard form and, where the private form is not the
// rule's, its own private text.
struct MessageText {
  MessageText(const char* standard) : standard(standard) {}  // NOLINT: texts convert implicitly
  MessageText(const char* standard, const char* privateForm) : standard(standard), privateForm(privateForm) {}
  const char* standard;
  const char* privateForm = nullptr;
};

class Address {
 public:
  Address(int id, uint32_t tag, std::string tagString) : id_(id), tag_(tag), tagString_(std::move(tagString)) {}
  Address(int id, PrivateTag tag) : id_(id), private_(std::move(tag)), isPrivate_(true) {}

  int id() const { return id_; }
  bool isPrivate() const { return isPrivate_; }
  // The standard tag (0 for a private address).
  uint32_t tag() const { return tag_; }
  const PrivateTag& privateTag() const { return private_; }
  // The tag string of a standard address.
  const std::string& tagString() const { return tagString_; }
  // The group-length tag of the address's group.
  uint32_t groupLengthTag() const { return isPrivate_ ? uint32_t{private_.group} << 16 : tag_ & 0xFFFF0000u; }

  // ---- toolkit calls of the address's kind ----
  MC_STATUS info(MC_VR* vr, int* count) const {
    return isPrivate_ ? MC_Get_pAttribute_Info(id_, code(), private_.group, private_.element, vr, count)
                      : MC_Get_Attribute_Info(id_, tag_, vr, count);
  }
  MC_STATUS count(int* count) const {
    return isPrivate_ ? MC_Get_pValue_Count(id_, code(), private_.group, private_.element, count)
                      : MC_Get_Value_Count(id_, tag_, count);
  }
  MC_STATUS length(int index, unsigned long* length) const {
    return isPrivate_ ? MC_Get_pValue_Length(id_, code(), private_.group, private_.element, index, length)
                      : MC_Get_Value_Length(id_, tag_, index, length);
  }
  MC_STATUS getString(bool next, int size, char* buffer) const {
    if (isPrivate_)
      return next ? MC_Get_Next_pValue_To_String(id_, code(), private_.group, private_.element, size, buffer)
                  : MC_Get_pValue_To_String(id_, code(), private_.group, private_.element, size, buffer);
    return next ? MC_Get_Next_Value_To_String(id_, tag_, size, buffer)
                : MC_Get_Value_To_String(id_, tag_, size, buffer);
  }
  // Reads value 1 or the next value; sets value 1 (replacing every value) or
  // appends one. The toolkit names its four calls of a type (first or next
  // value, standard or private) after the type.
#define ORVO_VALUE_CALLS(CType, Name)                                                                        \
  MC_STATUS get(bool next, CType* v) const {                                                                 \
    return pick(next, v, MC_Get_Value_To_##Name, MC_Get_Next_Value_To_##Name, MC_Get_pValue_To_##Name,       \
                MC_Get_Next_pValue_To_##Name);                                                               \
  }                                                                                                          \
  MC_STATUS set(bool next, CType v) const {                                                                  \
    return pick(next, v, MC_Set_Value_From_##Name, MC_Set_Next_Value_From_##Name, MC_Set_pValue_From_##Name, \
                MC_Set_Next_pValue_From_##Name);                                                             \
  }
  ORVO_VALUE_CALLS(int, Int)
  ORVO_VALUE_CALLS(unsigned, UInt)
  ORVO_VALUE_CALLS(long, LongInt)
  ORVO_VALUE_CALLS(unsigned long, ULongInt)
  ORVO_VALUE_CALLS(float, Float)
  ORVO_VALUE_CALLS(double, Double)
#undef ORVO_VALUE_CALLS
  MC_STATUS set(bool next, const char* v) const {
    return pick(next, v, MC_Set_Value_From_String, MC_Set_Next_Value_From_String, MC_Set_pValue_From_String,
                MC_Set_Next_pValue_From_String);
  }
  MC_STATUS getBuffer(int size, void* buffer, int* returned) const {
    return isPrivate_ ? MC_Get_pValue_To_Buffer(id_, code(), private_.group, private_.element, size, buffer, returned)
                      : MC_Get_Value_To_Buffer(id_, tag_, size, buffer, returned);
  }
  MC_STATUS getToFunction(void* userInfo, MC_Value_Receiver receiver) const {
    return isPrivate_ ? MC_Get_pValue_To_Function(id_, code(), private_.group, private_.element, userInfo, receiver)
                      : MC_Get_Value_To_Function(id_, tag_, userInfo, receiver);
  }
  MC_STATUS setFromFunction(void* userInfo, MC_Value_Supplier supplier) const {
    return isPrivate_ ? MC_Set_pValue_From_Function(id_, code(), private_.group, private_.element, userInfo, supplier)
                      : MC_Set_Value_From_Function(id_, tag_, userInfo, supplier);
  }
  MC_STATUS setNull() const {
    return isPrivate_ ? MC_Set_pValue_To_NULL(id_, code(), private_.group, private_.element)
                      : MC_Set_Value_To_NULL(id_, tag_);
  }
  MC_STATUS setEmpty() const {
    return isPrivate_ ? MC_Set_pValue_To_Empty(id_, code(), private_.group, private_.element)
                      : MC_Set_Value_To_Empty(id_, tag_);
  }
  // Reserves the creator's block in the address's group.
  MC_STATUS addPrivateBlock() const { return MC_Add_Private_Block(id_, code(), private_.group); }
  // Declares the private attribute with `vr`; one that exists already
  // counts as declared.
  MC_STATUS addPrivateAttribute(MC_VR vr) const {
    const MC_STATUS status = MC_Add_Private_Attribute(id_, code(), private_.group, private_.element, vr);
    return status == MC_TAG_ALREADY_EXISTS ? MC_NORMAL_COMPLETION : status;
  }

  // ---- messages ----
  // Stops the call with `text`, the address's names (the tag string, or the
  // code, group and element texts) and `extra`. The private form of a
  // standard text names the triple in place of "(tag"; a text naming
  // neither gets "(code/grp/elem) " appended, with "/err" when an error text follows.
  template <typename... Extra>
  [[noreturn]] void fail(const MessageText& text, const Extra&... extra) const {
    constexpr int strings = 1 + static_cast<int>(sizeof...(Extra));
    if (!isPrivate_) orvo::fail(kErrs1 - strings, text.standard, tagString_, extra...);
    const std::string privateText = text.privateForm != nullptr ? std::string(text.privateForm)
                                                                : privateFormOf(text.standard, sizeof...(Extra) > 0);
    orvo::fail(kErrs1 - strings - 2, privateText, private_.code, private_.groupText, private_.elementText, extra...);
  }

 private:
  const char* code() const { return private_.code.c_str(); }

  static std::string privateFormOf(std::string_view text, bool withError) {
    if (text.find("(code") != std::string_view::npos) return std::string(text);
    const size_t at = text.find("(tag");
    if (at != std::string_view::npos)
      return std::string(text.substr(0, at)) + "(code/grp/elem" + std::string(text.substr(at + 4));
    return std::string(text) + (withError ? "(code/grp/elem/err) " : "(code/grp/elem) ");
  }

  template <typename T, typename S, typename P>
  MC_STATUS pick(bool next, T v, S first, S following, P privateFirst, P privateFollowing) const {
    if (isPrivate_) return (next ? privateFollowing : privateFirst)(id_, code(), private_.group, private_.element, v);
    return (next ? following : first)(id_, tag_, v);
  }

  int id_;
  uint32_t tag_ = 0;
  std::string tagString_;
  PrivateTag private_;
  bool isPrivate_ = false;
};

// How a method names its attribute: one tag string, or a private triple.
enum class AddressKind { Standard, Private };

template <AddressKind Kind>
using AddressArgs = std::conditional_t<Kind == AddressKind::Standard, FileArgs<-1, StringArg::Tag>,
                                       FileArgs<-1, StringArg::PrivateCode, StringArg::Group, StringArg::Element>>;

// The attribute a method's leading arguments name in item `seqId` (0: the
// file's message). A standard tag is refused for Pixel Data of an object
// opened without it.
template <AddressKind Kind, typename Keywords>
Address addressOf(const MethodCall<FileInstance, Keywords>& call, int32_t seqId) {
  if constexpr (Kind == AddressKind::Private) {
    PrivateTag tag = parsePrivateTag(call.stringArg(1, StringArg::PrivateCode), call.stringArg(2, StringArg::Group),
                                     call.stringArg(3, StringArg::Element));
    return Address(addressedId(call.self(), seqId), std::move(tag));
  } else {
    std::string tagString(call.stringArg(1, StringArg::Tag));
    const uint32_t tag = parseTag(tagString);
    guardPixelData(call.self(), tag);
    return Address(addressedId(call.self(), seqId), tag, std::move(tagString));
  }
}

}  // namespace orvo::file

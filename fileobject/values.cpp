// Reading single attributes: GetValue, GetValueCount, GetValueLength, GetVR,
// GetDescription and QueryValue, and the VR to host type mapping.
#include <array>
#include <algorithm>
#include <cctype>
#include <climits>
#include <cstddef>
#include <cstring>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "address.h"
#include "file_method.h"
#include "file_methods.h"
#include "file_object.h"
#include "pixel_data.h"
#include "properties.h"
#include "tags.h"
#include "toolkit/tags.h"
#include "transfer_syntax.h"

namespace orvo::file {
namespace {

using zyl::Type;

bool isEmpty(MC_STATUS status) { return status == MC_EMPTY_VALUE || status == MC_NULL_VALUE; }

// ---- keywords ----------------------------------------------------------------

struct ValueKeywords {
  HostVar* count;
  int countGiven;
  int32_t seqId;
  static const HostKeyword table[];
};
const HostKeyword ValueKeywords::table[] = {
    {"COUNT", HOST_KW_REF, offsetof(ValueKeywords, count), offsetof(ValueKeywords, countGiven)},
    {"SEQID", HOST_KW_INT, offsetof(ValueKeywords, seqId), HOST_KW_NO_GIVEN},
    {nullptr, HOST_KW_INT, 0, 0}};

struct SeqKeywords {
  int32_t seqId;
  static const HostKeyword table[];
};
const HostKeyword SeqKeywords::table[] = {{"SEQID", HOST_KW_INT, offsetof(SeqKeywords, seqId), HOST_KW_NO_GIVEN},
                                          {nullptr, HOST_KW_INT, 0, 0}};

struct LengthKeywords {
  int32_t seqId;
  int32_t valueIndex;
  static const HostKeyword table[];
};
const HostKeyword LengthKeywords::table[] = {
    {"SEQID", HOST_KW_INT, offsetof(LengthKeywords, seqId), HOST_KW_NO_GIVEN},
    {"VALUEINDEX", HOST_KW_INT, offsetof(LengthKeywords, valueIndex), HOST_KW_NO_GIVEN},
    {nullptr, HOST_KW_INT, 0, 0}};

using TagArg = AddressArgs<AddressKind::Standard>;
using PrivateArgs = AddressArgs<AddressKind::Private>;

// ---- typed readers -------------------------------------------------------------

// A scalar for one value, a vector for several.
template <typename T>
HostVar* numbersResult(Type type, const std::vector<T>& values) {
  if (values.size() == 1) {
    HostVar* v = HostTempVar(type);
    v->setScalar(type, zyl::scalarOf(values[0]));
    return v;
  }
  void* data = nullptr;
  HostVar* v = HostMakeTempVector(type, static_cast<int64_t>(values.size()), 0, &data);
  std::memcpy(data, values.data(), values.size() * sizeof(T));
  return v;
}

template <typename T, typename Got>
HostVar* readNumbers(const Address& at, int count, Type type, const char* failText) {
  std::vector<T> values(static_cast<size_t>(count));
  for (int i = 0; i < count; ++i) {
    Got got{};
    const MC_STATUS status = at.get(i > 0, &got);
    if (status != MC_NORMAL_COMPLETION) at.fail(failText, errorText(status));
    values[static_cast<size_t>(i)] = static_cast<T>(got);
  }
  return numbersResult(type, values);
}

HostVar* readStrings(const Address& at, int count) {
  if (count == 1) {
    // Most values fit a small buffer: read without asking for the length first.
    std::array<char, 256> small{};
    const MC_STATUS status = at.getString(false, static_cast<int>(small.size()), small.data());
    if (status == MC_NORMAL_COMPLETION) return HostStringToVar(small.data());
    if (isEmpty(status)) return HostStringToVar("");
    if (status != MC_BUFFER_TOO_SMALL) at.fail("Error: Failed to read attribute value from file ", errorText(status));
  }
  std::vector<std::string> values;
  values.reserve(static_cast<size_t>(count));
  for (int i = 1; i <= count; ++i) {
    unsigned long length = 0;
    MC_STATUS status = at.length(i, &length);
    if (status != MC_NORMAL_COMPLETION && !isEmpty(status))
      at.fail("Error: Failed to read attribute value length from file ", errorText(status));
    if (length >= static_cast<unsigned long>(INT_MAX))
      at.fail("Error: Failed to read attribute value length from file ", errorText(MC_VALUE_TOO_LARGE));
    std::string buffer(length + 1, '\0');
    status = at.getString(i > 1, static_cast<int>(buffer.size()), buffer.data());
    if (status != MC_NORMAL_COMPLETION && !isEmpty(status))
      at.fail("Error: Failed to read attribute value from file ", errorText(status));
    values.emplace_back(isEmpty(status) ? "" : buffer.c_str());
  }
  if (values.size() == 1) return HostStringToVar(values[0].c_str());
  void* data = nullptr;
  HostVar* v = HostMakeTempVector(Type::String, static_cast<int64_t>(values.size()), 1, &data);
  auto* strings = static_cast<zyl::HostString*>(data);
  for (size_t i = 0; i < values.size(); ++i) zyl::hostStringAssign(strings[i], values[i]);
  return v;
}

unsigned long binaryLength(const Address& at, const MessageText& failText) {
  unsigned long length = 0;
  const MC_STATUS status = at.length(1, &length);
  if (status != MC_NORMAL_COMPLETION) at.fail(failText, errorText(status));
  return length;
}

HostVar* readUnknown(const Address& at) {
  const unsigned long length = binaryLength(at, "Error: Failed to read attribute value length from file (tag/err) ");
  if (length > static_cast<unsigned long>(INT_MAX))
    at.fail("Error: Failed to read attribute value from file (tag/err) ", errorText(MC_VALUE_TOO_LARGE));
  void* data = nullptr;
  HostTemporary result(HostMakeTempVector(Type::Byte, static_cast<int64_t>(length), 1, &data));
  int returned = 0;
  const MC_STATUS status = at.getBuffer(static_cast<int>(length), data, &returned);
  if (status != MC_NORMAL_COMPLETION)
    at.fail("Error: Failed to read attribute value from file (tag/err) ", errorText(status));
  return result.release();
}

// The host type of one word of a binary VR.
Type binaryType(int vr) {
  switch (vr) {
    case MC_VR_OB:
      return Type::Byte;
    case MC_VR_OW:
      return Type::Int16;
    case MC_VR_OF:
      return Type::Float32;
    case MC_VR_OD:
      return Type::Float64;
    case MC_VR_OL:
      return Type::UInt32;
    default:
      return Type::UInt64;  // OV
  }
}

// OB, OW, OF, OD, OL and OV streamed into an array sized from the value's length.
HostVar* readBinary(const Address& at, int vr) {
  const unsigned long length =
      binaryLength(at, {"Error: Failed to read attribute value length from file (tag/err) ",
                        "Error: Failed to read attribute value from file (code/grp/elem/err) "});
  const Type type = binaryType(vr);
  const size_t elementSize = zyl::typeSize(type);
  const auto count = static_cast<int64_t>(length / elementSize);
  void* data = nullptr;
  HostTemporary result(HostMakeTempVector(type, count, 1, &data));
  ValueCopy copy{static_cast<unsigned char*>(data), static_cast<size_t>(count) * elementSize, 0};
  const MC_STATUS status = at.getToFunction(&copy, copyValuePiece);
  if (status != MC_NORMAL_COMPLETION)
    at.fail("Error: Failed to read binary data (OB/OW/OF) from file (tag/err) ", errorText(status));
  return result.release();
}

// A value typed by its VR. Private OB and OW values are always read raw.
HostVar* readValue(const FileInstance& file, const Address& at, int vr, int count) {
  switch (vr) {
    case MC_VR_SS:
      return readNumbers<int16_t, int>(at, count, Type::Int16, "Error: Failed to read int value from file ");
    case MC_VR_US:
      return readNumbers<uint16_t, unsigned>(at, count, Type::UInt16,
                                             "Error: Failed to read unsigned int value from file ");
    case MC_VR_AT:
    case MC_VR_UL:
      return readNumbers<uint32_t, unsigned long>(at, count, Type::UInt32,
                                                  "Error: Failed to read unsigned long value from file ");
    case MC_VR_SL:
    case MC_VR_SQ:
      return readNumbers<int32_t, long>(at, count, Type::Int32, "Error: Failed to read long value from file ");
    case MC_VR_FL:
      return readNumbers<float, float>(at, count, Type::Float32, "Error: Failed to read float value from file ");
    case MC_VR_FD:
      return readNumbers<double, double>(at, count, Type::Float64, "Error: Failed to read double value from file ");
    case MC_VR_SV:
      return readNumbers<int64_t, long>(at, count, Type::Int64, "Error: Failed to read long value from file ");
    case MC_VR_UV:
      return readNumbers<uint64_t, unsigned long>(at, count, Type::UInt64,
                                                  "Error: Failed to read unsigned long value from file ");
    case MC_VR_UN:
      return readUnknown(at);
    case MC_VR_OF:
    case MC_VR_OD:
    case MC_VR_OL:
    case MC_VR_OV:
      return readBinary(at, vr);
    case MC_VR_OB:
    case MC_VR_OW: {
      if (at.isPrivate() || at.tag() != zyl::tags::kPixelData) return readBinary(at, vr);
      const int syntax = currentSyntax(file);
      if (isDecodable(syntax)) return readCompressedPixelData(file, at.id(), at.tagString());
      if (isUnsupportedCompression(syntax))
        fail(kErrs4, "Error: Failed to read pixel data unsupported compression format (file/syntax/syntax) ",
             fileName(file), currentSyntaxUid(file), transferSyntaxName(syntax));
      return readBinary(at, vr);
    }
    default:
      return readStrings(at, count);
  }
}

int64_t elementsOf(const HostVar* v) { return v->isArray() ? v->array()->count() : 1; }

// ---- workers ---------------------------------------------------------------------

HostVar* getValueWorker(MethodCall<FileInstance, ValueKeywords>& call) {
  const std::string tagString(call.stringArg(1, StringArg::Tag));
  HostVar* result = readAttribute(call.self(), call.keywords().seqId, tagString);
  if (call.keywords().countGiven) storeUInt32(call.keywords().count, static_cast<uint32_t>(elementsOf(result)));
  return result;
}

template <AddressKind Kind>
HostVar* getValueCountWorker(MethodCall<FileInstance, SeqKeywords>& call) {
  const Address at = addressOf<Kind>(call, call.keywords().seqId);
  int count = 0;
  const MC_STATUS status = at.count(&count);
  if (isEmpty(status))
    count = 0;
  else if (status != MC_NORMAL_COMPLETION)
    at.fail("Error: Failed to get value count for ", errorText(status));
  return HostTempULong(static_cast<uint32_t>(count));
}

unsigned long valueLength(const Address& at, int index) {
  unsigned long length = 0;
  const MC_STATUS status = at.length(index, &length);
  if (status != MC_NORMAL_COMPLETION) at.fail("Error: Failed to get value length for ", errorText(status));
  return length;
}

// GetValueLength: the length of value `valueIndex`, or with 0 the sum over
// all values (a sequence: its first item); 0 for an attribute without values.
uint32_t lengthOf(const Address& at, int32_t valueIndex) {
  int count = 0;
  MC_STATUS status = at.count(&count);
  if (isEmpty(status)) return 0;
  if (status != MC_NORMAL_COMPLETION) at.fail("Error: Failed to get value count for ", errorText(status));
  MC_VR vr = MC_VR_UNKNOWN;
  status = at.info(&vr, nullptr);
  if (status != MC_NORMAL_COMPLETION) at.fail("Error: Failed to get value representation for ", errorText(status));

  int index = valueIndex;
  if (index == 0 && vr != MC_VR_SQ) {
    if (count == 1) return static_cast<uint32_t>(valueLength(at, 1));
    uint64_t total = 0;
    for (int i = 1; i <= count; ++i) total += valueLength(at, i);
    return static_cast<uint32_t>(std::min<uint64_t>(total, UINT32_MAX));
  }
  if (index == 0) index = 1;
  if (index > count) at.fail("Error: Failed - value index greater than value count in tag ");
  return static_cast<uint32_t>(valueLength(at, index));
}

template <AddressKind Kind>
HostVar* getValueLengthWorker(MethodCall<FileInstance, LengthKeywords>& call) {
  return HostTempULong(lengthOf(addressOf<Kind>(call, call.keywords().seqId), call.keywords().valueIndex));
}

template <AddressKind Kind>
HostVar* getVRWorker(MethodCall<FileInstance, SeqKeywords>& call) {
  const Address at = addressOf<Kind>(call, call.keywords().seqId);
  MC_VR vr = MC_VR_UNKNOWN;
  const MC_STATUS status = at.info(&vr, nullptr);
  if (status != MC_NORMAL_COMPLETION) at.fail("Error: Failed to get value count for ", errorText(status));
  return HostStringToVar(vrName(vr));
}

HostVar* getDescriptionWorker(MethodCall<FileInstance, NoKeywords>& call) {
  const std::string tagString(call.stringArg(1, StringArg::Tag));
  const uint32_t tag = parseTag(tagString);
  char description[256] = {};
  const MC_STATUS status = MC_Get_Tag_Info(tag, description, sizeof description);
  if (status != MC_NORMAL_COMPLETION)
    fail(kErrs3, "Error: Failed to get description for tag (tag/err) ", tagString, errorText(status));
  return HostStringToVar(description);
}

// ---- QueryValue -----------------------------------------------------------------

// A text of the tag string form: four hexadecimal digits, one character
// that is not one, four hexadecimal digits.
bool looksLikeTag(std::string_view text) {
  if (text.size() != 9 || std::isxdigit(static_cast<unsigned char>(text[4]))) return false;
  for (size_t i = 0; i < text.size(); ++i)
    if (i != 4 && !std::isxdigit(static_cast<unsigned char>(text[i]))) return false;
  return true;
}

int16_t presence(const Address& at) {
  unsigned long length = 0;
  const MC_STATUS status = at.length(1, &length);
  if (status == MC_NORMAL_COMPLETION) return 2;
  return isEmpty(status) ? 1 : 0;
}

HostVar* queryValueWorker(MethodCall<FileInstance, SeqKeywords>& call) {
  FileInstance& self = call.self();
  const std::string_view given = call.stringArg(1, StringArg::Tag);
  std::string lowered(given.substr(0, 50));
  std::transform(lowered.begin(), lowered.end(), lowered.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });

  // A name is a property; a tag whose group begins with a letter (A000 to
  // FFFF) is still a tag.
  if (!lowered.empty() && std::isalpha(static_cast<unsigned char>(lowered[0]))) {
    const std::optional<Property> property = propertyNamed(lowered);
    if (property && property->kind == PropertyKind::FileName) return HostTempInt(2);
    if (property && property->tag != nullptr)
      return HostTempInt(presence(Address(self.msgFileId, parseTag(property->tag), property->tag)));
    if (!looksLikeTag(lowered))
      fail(kErrs2, "Error: Invalid property name passed into QueryValue ", std::string(given));
  }
  const uint32_t tag = parseTag(lowered);
  guardPixelData(self, tag);
  return HostTempInt(presence(Address(addressedId(self, call.keywords().seqId), tag, lowered)));
}

HostVar* queryPrivateValueWorker(MethodCall<FileInstance, SeqKeywords>& call) {
  return HostTempInt(presence(addressOf<AddressKind::Private>(call, call.keywords().seqId)));
}

// GetPrivateValue: a private attribute read like GetValue reads, with the
// private messages for an attribute that cannot be found or has no value.
HostVar* readPrivateAttribute(const FileInstance& file, const Address& at) {
  unsigned long length = 0;
  const MC_STATUS lengthStatus = at.length(1, &length);
  if (lengthStatus == MC_INVALID_TAG || lengthStatus == MC_INVALID_GROUP)
    at.fail("Error: Unable to read private tag. Try using GetValue on this private tag. (code/grp/elem/verr) ",
            errorText(lengthStatus));
  int count = 0;
  const MC_STATUS countStatus = at.count(&count);
  if (isEmpty(countStatus))
    count = 0;
  else if (countStatus != MC_NORMAL_COMPLETION)
    at.fail("Error: Failed to get value count for ", errorText(countStatus));
  if (count <= 0)
    at.fail("Error: Private Tag is present but does not have a value (code/grp/elem/verr)", errorText(lengthStatus));
  MC_VR vr = MC_VR_UNKNOWN;
  const MC_STATUS status = at.info(&vr, nullptr);
  if (status != MC_NORMAL_COMPLETION) at.fail("Error: Failed to get value representation for ", errorText(status));
  if (!vrSupported(vr)) at.fail("Error: Failed to get value, unsupported VR type (tag/vr)", vrName(vr));
  return readValue(file, at, vr, count);
}

HostVar* getPrivateValueWorker(MethodCall<FileInstance, ValueKeywords>& call) {
  HostVar* result = readPrivateAttribute(call.self(), addressOf<AddressKind::Private>(call, call.keywords().seqId));
  if (call.keywords().countGiven) storeUInt32(call.keywords().count, static_cast<uint32_t>(elementsOf(result)));
  return result;
}

}  // namespace

HostVar* readAttribute(const FileInstance& file, int32_t seqId, const std::string& tagString) {
  const uint32_t tag = parseTag(tagString);
  guardPixelData(file, tag);
  const int id = addressedId(file, seqId);

  // One look-up gives presence, representation and count; the length status
  // is asked for only to name it in the no-value error.
  MC_VR vr = MC_VR_UNKNOWN;
  int count = 0;
  const MC_STATUS status = MC_Get_Attribute_Info(id, tag, &vr, &count);
  if (status == MC_INVALID_TAG)
    fail(kErrs3, "Error: Dicom Tag is not in dicom file (tag/err)", tagString, errorText(status));
  if (status != MC_NORMAL_COMPLETION)
    fail(kErrs3, "Error: Failed to get value count for ", tagString, errorText(status));
  if (count <= 0) {
    unsigned long length = 0;
    const MC_STATUS lengthStatus = MC_Get_Value_Length(id, tag, 1, &length);
    fail(kErrs3, "Error: Dicom Tag is present but does not have a value (tag/err)", tagString, errorText(lengthStatus));
  }
  if (!vrSupported(vr)) fail(kErrs3, "Error: Failed to get value, unsupported VR type (tag/vr)", tagString, vrName(vr));
  return readValue(file, Address(id, tag, tagString), vr, count);
}

uint32_t attributeLength(int id, uint32_t tag, int32_t valueIndex, const std::string& tagString) {
  return lengthOf(Address(id, tag, tagString), valueIndex);
}

MethodRows valuesMethods() {
  static const MethodRow kRows[] = {
      functionRow("ZYLFFORVO::GETVALUE", fileMethodEntry<ValueKeywords, TagArg, getValueWorker>, 2, 2,
                  HOST_ROUTINE_KEYWORDS),
      functionRow("ZYLFFORVO::GETVALUECOUNT",
                  fileMethodEntry<SeqKeywords, TagArg, getValueCountWorker<AddressKind::Standard>>, 2, 2,
                  HOST_ROUTINE_KEYWORDS),
      functionRow("ZYLFFORVO::GETVALUELENGTH",
                  fileMethodEntry<LengthKeywords, TagArg, getValueLengthWorker<AddressKind::Standard>>, 2, 2,
                  HOST_ROUTINE_KEYWORDS),
      functionRow("ZYLFFORVO::GETVR", fileMethodEntry<SeqKeywords, TagArg, getVRWorker<AddressKind::Standard>>, 2, 2,
                  HOST_ROUTINE_KEYWORDS),
      functionRow("ZYLFFORVO::GETDESCRIPTION",
                  fileMethodEntry<NoKeywords, FileArgs<2, StringArg::Tag>, getDescriptionWorker>, 2, 2,
                  HOST_ROUTINE_KEYWORDS),
      functionRow("ZYLFFORVO::QUERYVALUE", fileMethodEntry<SeqKeywords, TagArg, queryValueWorker>, 2, 2,
                  HOST_ROUTINE_KEYWORDS),
      functionRow("ZYLFFORVO::GETPRIVATEVALUE", fileMethodEntry<ValueKeywords, PrivateArgs, getPrivateValueWorker>, 4,
                  4, HOST_ROUTINE_KEYWORDS),
      functionRow("ZYLFFORVO::GETPRIVATEVALUECOUNT",
                  fileMethodEntry<SeqKeywords, PrivateArgs, getValueCountWorker<AddressKind::Private>>, 4, 4,
                  HOST_ROUTINE_KEYWORDS),
      functionRow("ZYLFFORVO::GETPRIVATEVALUELENGTH",
                  fileMethodEntry<LengthKeywords, PrivateArgs, getValueLengthWorker<AddressKind::Private>>, 4, 4,
                  HOST_ROUTINE_KEYWORDS),
      functionRow("ZYLFFORVO::GETPRIVATEVR",
                  fileMethodEntry<SeqKeywords, PrivateArgs, getVRWorker<AddressKind::Private>>, 4, 4,
                  HOST_ROUTINE_KEYWORDS),
      functionRow("ZYLFFORVO::QUERYPRIVATEVALUE", fileMethodEntry<SeqKeywords, PrivateArgs, queryPrivateValueWorker>, 4,
                  4, HOST_ROUTINE_KEYWORDS),
  };
  return kRows;
}

}  // namespace orvo::file

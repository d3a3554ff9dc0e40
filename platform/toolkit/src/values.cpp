// Attribute and value calls, standard and private, over access.h.
#include "access.h"
#include "limits.h"
#include "pixels.h"
#include "tables.h"
#include "toolkit/file_values.h"

#include <cmath>
#include <cstring>
#include <limits>

using namespace zyl::toolkit;

namespace {

// How a call addresses its attribute: by tag, or by (creator, group, offset).
struct Address {
  std::uint32_t tag = 0;
  const char* creator = nullptr;
  unsigned short group = 0;
  unsigned char offset = 0;
  bool isPrivate = false;

  DcmTagKey resolve(Target& target) const {
    return isPrivate ? privateTag(target, creator, group, offset) : tagKey(tag);
  }
};

Address standard(std::uint32_t tag) { return {tag, nullptr, 0, 0, false}; }
Address privateAddress(const char* creator, unsigned short group, unsigned char offset) {
  return {0, creator, group, offset, true};
}

MC_STATUS attributeInfo(int id, const Address& address, MC_VR* vr, int* count) {
  Target target = Target::open(id);
  Attribute attribute = findAttribute(target, address.resolve(target));
  if (attribute.state == AttributeState::Absent) return MC_INVALID_TAG;
  if (vr) *vr = tables::vrFromDcmtk(attribute.vr);
  if (count) *count = valueCount(attribute);
  return MC_NORMAL_COMPLETION;
}

MC_STATUS countOf(int id, const Address& address, int* count) {
  if (!count) return MC_NULL_POINTER_PARM;
  Target target = Target::open(id);
  Attribute attribute = findAttribute(target, address.resolve(target));
  *count = 0;
  if (const MC_STATUS status = valuesStatus(attribute); status != MC_NORMAL_COMPLETION) return status;
  *count = valueCount(attribute);
  return MC_NORMAL_COMPLETION;
}

MC_STATUS lengthOf(int id, const Address& address, int number, unsigned long* length) {
  if (!length) return MC_NULL_POINTER_PARM;
  Target target = Target::open(id);
  Attribute attribute = findAttribute(target, address.resolve(target));
  *length = 0;
  *length = valueLength(attribute, number);
  return MC_NORMAL_COMPLETION;
}

// Reads the value the cursor points at and hands it to `convert`. An attribute
// without that value is an ordinary outcome here, returned as its status.
template <class Convert>
MC_STATUS getValue(int id, const Address& address, bool next, Convert&& convert) {
  Target target = Target::open(id);
  CursorValue cursor;
  if (const MC_STATUS status = locateCursorValue(target, address.resolve(target), next, cursor);
      status != MC_NORMAL_COMPLETION)
    return status;
  const Scalar value = readValue(target, cursor.attribute, cursor.number);
  advanceCursor(target, cursor);
  convert(value);
  return MC_NORMAL_COMPLETION;
}

MC_STATUS copyText(const char* text, std::size_t size, int bufferSize, char* buffer) {
  if (bufferSize <= 0 || size + 1 > static_cast<std::size_t>(bufferSize)) return MC_BUFFER_TOO_SMALL;
  std::memcpy(buffer, text, size);
  buffer[size] = '\0';
  return MC_NORMAL_COMPLETION;
}

MC_STATUS getString(int id, const Address& address, bool next, int bufferSize, char* buffer) {
  if (!buffer) return MC_NULL_POINTER_PARM;
  Target target = Target::open(id);
  CursorValue cursor;
  if (const MC_STATUS status = locateCursorValue(target, address.resolve(target), next, cursor);
      status != MC_NORMAL_COMPLETION)
    return status;
  // After a decompressing read, Photometric Interpretation names the colour
  // space of the pixels handed out, as the decoder gave them.
  if (!address.isPrivate && address.tag == 0x00280004 && cursor.number == 1) {
    if (const auto decoded = pixels::decodedPhotometric(target)) {
      advanceCursor(target, cursor);
      return copyText(decoded->data(), decoded->size(), bufferSize, buffer);
    }
  }
  // Text goes from the element to the caller's buffer; other values are formatted.
  OFString text;
  if (readTextValue(cursor.attribute, cursor.number, text)) {
    advanceCursor(target, cursor);
    return copyText(text.data(), text.size(), bufferSize, buffer);
  }
  const Scalar value = readValue(target, cursor.attribute, cursor.number);
  advanceCursor(target, cursor);
  const std::string formatted = toText(value);
  return copyText(formatted.data(), formatted.size(), bufferSize, buffer);
}

template <class Integer>
MC_STATUS getInteger(int id, const Address& address, bool next, Integer* out) {
  if (!out) return MC_NULL_POINTER_PARM;
  return getValue(id, address, next, [&](const Scalar& value) {
    if constexpr (std::is_signed_v<Integer>)
      *out = static_cast<Integer>(
          toInteger(value, std::numeric_limits<Integer>::min(), std::numeric_limits<Integer>::max()));
    else
      *out = static_cast<Integer>(toUnsigned(value, std::numeric_limits<Integer>::max()));
  });
}

template <class Real>
MC_STATUS getReal(int id, const Address& address, bool next, Real* out) {
  if (!out) return MC_NULL_POINTER_PARM;
  return getValue(id, address, next, [&](const Scalar& value) {
    const double d = toDouble(value);
    if constexpr (std::is_same_v<Real, float>)
      if (std::isfinite(d) && std::fabs(d) > std::numeric_limits<float>::max()) fail(MC_VALUE_OUT_OF_RANGE);
    *out = static_cast<Real>(d);
  });
}

MC_STATUS setValue(int id, const Address& address, const Scalar& value, bool append, bool sixteenBitPattern = false) {
  Target target = Target::open(id);
  WriteOptions options;
  options.append = append;
  options.sixteenBitPattern = sixteenBitPattern;
  options.privateCreator = address.creator;
  writeValue(target, address.resolve(target), value, options);
  return MC_NORMAL_COMPLETION;
}

MC_STATUS getBuffer(int id, const Address& address, int bufferSize, void* buffer, int* returned) {
  if (!buffer || !returned) return MC_NULL_POINTER_PARM;
  // Encapsulated pixel data comes decompressed, all frames.
  if (!address.isPrivate && pixels::holdsEncapsulated(id, address.tag))
    return pixels::decodedValueToBuffer(id, address.tag, bufferSize, buffer, returned);
  Target target = Target::open(id);
  Attribute attribute = findAttribute(target, address.resolve(target));
  auto received = receivedUidBytes(target.root(), attribute);
  const std::vector<Uint8> bytes = received ? std::move(*received) : binaryValue(attribute);
  if (bufferSize < 0 || bytes.size() > static_cast<std::size_t>(bufferSize)) return MC_BUFFER_TOO_SMALL;
  std::memcpy(buffer, bytes.data(), bytes.size());
  *returned = static_cast<int>(bytes.size());
  return MC_NORMAL_COMPLETION;
}

// Bytes of a value from `offset`, at most `length` of them.
struct ValueRange {
  std::uint64_t offset = 0;
  std::uint64_t length = std::numeric_limits<std::uint64_t>::max();
};

// Hands the range of a value that the value holds to the receiver in pieces.
// A value that can be read in parts never comes whole into memory: a value
// left in its file is read from there one piece at a time.
MC_STATUS getToFunction(int id, const Address& address, void* userInfo, MC_Value_Receiver receiver,
                        const ValueRange& range = {}) {
  if (!receiver) return MC_NO_CALLBACK;
  const bool whole = range.offset == 0 && range.length == ValueRange{}.length;
  if (!address.isPrivate && pixels::holdsEncapsulated(id, address.tag)) {
    if (!whole) return MC_DECOMPRESSOR_REQUIRED;
    return pixels::decodedValueToFunction(id, address.tag, userInfo, receiver);
  }
  std::vector<Uint8> bytes;  // a value read whole
  std::uint64_t total = 0;
  bool inParts = false;
  std::uint32_t tag = 0;
  {
    Target target = Target::open(id);
    const DcmTagKey key = address.resolve(target);
    tag = tagValue(key);
    Attribute attribute = findAttribute(target, key);
    auto received = receivedUidBytes(target.root(), attribute);
    inParts = !received && readsInParts(attribute);
    if (inParts) {
      total = attribute.element->getLength();
    } else {
      bytes = received ? std::move(*received) : binaryValue(attribute);
      total = bytes.size();
    }
  }
  const std::uint64_t begin = std::min(range.offset, total);
  const std::uint64_t end = begin + std::min(range.length, total - begin);
  std::vector<Uint8> piece;
  DcmFileCache cache;
  // The receiver runs without the tree locked, so it may call the toolkit.
  std::uint64_t at = begin;
  do {
    const auto size = static_cast<std::uint32_t>(std::min<std::uint64_t>(limits::kValuePieceSize, end - at));
    const Uint8* data = bytes.data() + (inParts ? 0 : at);
    if (inParts) {
      Target target = Target::open(id);
      Attribute attribute = findAttribute(target, address.resolve(target));
      // A receiver that changed the value ends the reading.
      if (!readsInParts(attribute) || attribute.element->getLength() != total) return MC_CANNOT_COMPLY;
      piece.resize(size);
      readValuePart(attribute, static_cast<std::uint32_t>(at), size, piece.data(), cache);
      data = piece.data();
    }
    const bool last = at + size >= end;
    const MC_STATUS s =
        receiver(id, tag, userInfo, static_cast<int>(size), const_cast<Uint8*>(data), at == begin, last);
    if (s != MC_NORMAL_COMPLETION) return MC_CALLBACK_CANNOT_COMPLY;
    at += size;
  } while (at < end);
  return MC_NORMAL_COMPLETION;
}

MC_STATUS setFromFunction(int id, const Address& address, void* userInfo, MC_Value_Supplier supplier) {
  if (!supplier) return MC_NO_CALLBACK;
  std::uint32_t tag = 0;
  {
    Target target = Target::open(id);
    tag = tagValue(address.resolve(target));
  }
  std::vector<Uint8> bytes;
  for (bool first = true;; first = false) {
    int size = 0;
    void* data = nullptr;
    int last = 0;
    if (supplier(id, tag, userInfo, first, &size, &data, &last) != MC_NORMAL_COMPLETION)
      return MC_CALLBACK_CANNOT_COMPLY;
    if (size < 0) return MC_CALLBACK_DATA_SIZE_NEGATIVE;
    if (size > 0 && !data) return MC_CALLBACK_PARM_ERROR;
    if (bytes.size() + static_cast<std::size_t>(size) > limits::kMaxSuppliedValueLength) return MC_LIMIT_EXCEEDED;
    const auto* p = static_cast<const Uint8*>(data);
    bytes.insert(bytes.end(), p, p + size);
    if (last) break;
  }
  Target target = Target::open(id);
  const DcmTagKey key = address.resolve(target);
  if (!address.isPrivate) pixels::adoptDecodedFormat(target, key);
  setBinaryValue(target, key, bytes, address.creator);
  return MC_NORMAL_COMPLETION;
}

MC_STATUS setNullValue(int id, const Address& address) {
  Target target = Target::open(id);
  setNull(target, address.resolve(target), address.creator);
  return MC_NORMAL_COMPLETION;
}

MC_STATUS setEmptyValue(int id, const Address& address) {
  Target target = Target::open(id);
  setEmpty(target, address.resolve(target), address.creator);
  return MC_NORMAL_COMPLETION;
}

// The attribute after the cursor (or the first) in tag order: a message lists
// its meta group before its data set. Empty attributes are not listed.
DcmElement* nextElement(Target& target, ContainerState& state) {
  std::vector<std::pair<DcmItem*, bool>> containers;
  if (target.isMessage()) containers.emplace_back(target.root().meta(), true);
  containers.emplace_back(&target.item(), false);
  bool started = !state.attributeCursor;
  for (auto [container, isMeta] : containers) {
    if (!started && isMeta != state.attributeCursorInMeta) continue;
    for (DcmObject* o = container->nextInContainer(nullptr); o; o = container->nextInContainer(o)) {
      if (started || *state.attributeCursor < o->getTag()) {
        state.attributeCursor = o->getTag();
        state.attributeCursorInMeta = isMeta;
        return static_cast<DcmElement*>(o);
      }
    }
    started = true;  // the next container is listed from its start
  }
  return nullptr;
}

MC_STATUS walkAttributes(int id, bool first, uint32_t* tag, MC_VR* vr, int* count) {
  if (!tag) return MC_NULL_POINTER_PARM;
  Target target = Target::open(id);
  ContainerState& state = target.root().state(&target.item());
  if (first) state.attributeCursor.reset();
  DcmElement* element = nextElement(target, state);
  if (!element) return first ? MC_MESSAGE_EMPTY : MC_NO_MORE_ATTRIBUTES;
  const DcmTagKey key = element->getTag();
  Attribute attribute = findAttribute(target, key);
  if (attribute.element != element) {  // a data set tag shadowed by the meta group
    attribute.element = element;
    attribute.vr = element->ident() == EVR_SQ ? EVR_SQ : element->getVR();
  }
  *tag = tagValue(key);
  if (vr) *vr = tables::vrFromDcmtk(attribute.vr);
  if (count) *count = valueCount(attribute);
  return MC_NORMAL_COMPLETION;
}

}  // namespace

extern "C" {

MC_STATUS MC_Add_Standard_Attribute(int id, uint32_t tag) {
  return guarded([&] {
    Target target = Target::open(id);
    addStandardAttribute(target, tagKey(tag));
    return MC_NORMAL_COMPLETION;
  });
}

MC_STATUS MC_Delete_Attribute(int id, uint32_t tag) {
  return guarded([&] {
    Target target = Target::open(id);
    deleteAttribute(target, tagKey(tag));
    return MC_NORMAL_COMPLETION;
  });
}

MC_STATUS MC_Get_Attribute_Info(int id, uint32_t tag, MC_VR* vr, int* valueCount) {
  return guarded([&] { return attributeInfo(id, standard(tag), vr, valueCount); });
}
MC_STATUS MC_Get_Value_Count(int id, uint32_t tag, int* valueCount) {
  return guarded([&] { return countOf(id, standard(tag), valueCount); });
}
MC_STATUS MC_Get_Value_Length(int id, uint32_t tag, int valueNumber, unsigned long* length) {
  return guarded([&] { return lengthOf(id, standard(tag), valueNumber, length); });
}
MC_STATUS MC_Get_First_Attribute(int id, uint32_t* tag, MC_VR* vr, int* valueCount) {
  return guarded([&] { return walkAttributes(id, true, tag, vr, valueCount); });
}
MC_STATUS MC_Get_Next_Attribute(int id, uint32_t* tag, MC_VR* vr, int* valueCount) {
  return guarded([&] { return walkAttributes(id, false, tag, vr, valueCount); });
}

#define ZYL_STANDARD_GETTERS(Suffix, Type, Call)                                                                     \
  MC_STATUS MC_Get_Value_To_##Suffix(int id, uint32_t tag, Type* value) {                                            \
    return guarded([&] { return Call(id, standard(tag), false, value); });                                           \
  }                                                                                                                  \
  MC_STATUS MC_Get_Next_Value_To_##Suffix(int id, uint32_t tag, Type* value) {                                       \
    return guarded([&] { return Call(id, standard(tag), true, value); });                                            \
  }                                                                                                                  \
  MC_STATUS MC_Get_pValue_To_##Suffix(int id, const char* creator, unsigned short group, unsigned char element,      \
                                      Type* value) {                                                                 \
    return guarded([&] { return Call(id, privateAddress(creator, group, element), false, value); });                 \
  }                                                                                                                  \
  MC_STATUS MC_Get_Next_pValue_To_##Suffix(int id, const char* creator, unsigned short group, unsigned char element, \
                                           Type* value) {                                                            \
    return guarded([&] { return Call(id, privateAddress(creator, group, element), true, value); });                  \
  }

ZYL_STANDARD_GETTERS(Int, int, getInteger)
ZYL_STANDARD_GETTERS(UInt, unsigned int, getInteger)
ZYL_STANDARD_GETTERS(ShortInt, short, getInteger)
ZYL_STANDARD_GETTERS(LongInt, long, getInteger)
ZYL_STANDARD_GETTERS(ULongInt, unsigned long, getInteger)
ZYL_STANDARD_GETTERS(Float, float, getReal)
ZYL_STANDARD_GETTERS(Double, double, getReal)
#undef ZYL_STANDARD_GETTERS

MC_STATUS MC_Get_Value_To_String(int id, uint32_t tag, int bufferSize, char* buffer) {
  return guarded([&] { return getString(id, standard(tag), false, bufferSize, buffer); });
}
MC_STATUS MC_Get_Next_Value_To_String(int id, uint32_t tag, int bufferSize, char* buffer) {
  return guarded([&] { return getString(id, standard(tag), true, bufferSize, buffer); });
}
MC_STATUS MC_Get_pValue_To_String(int id, const char* creator, unsigned short group, unsigned char element,
                                  int bufferSize, char* buffer) {
  return guarded([&] { return getString(id, privateAddress(creator, group, element), false, bufferSize, buffer); });
}
MC_STATUS MC_Get_Next_pValue_To_String(int id, const char* creator, unsigned short group, unsigned char element,
                                       int bufferSize, char* buffer) {
  return guarded([&] { return getString(id, privateAddress(creator, group, element), true, bufferSize, buffer); });
}

#define ZYL_SETTERS(Suffix, Type, ToScalar, Pattern)                                                                   \
  MC_STATUS MC_Set_Value_From_##Suffix(int id, uint32_t tag, Type value) {                                             \
    return guarded([&] { return setValue(id, standard(tag), ToScalar(value), false, Pattern); });                      \
  }                                                                                                                    \
  MC_STATUS MC_Set_Next_Value_From_##Suffix(int id, uint32_t tag, Type value) {                                        \
    return guarded([&] { return setValue(id, standard(tag), ToScalar(value), true, Pattern); });                       \
  }                                                                                                                    \
  MC_STATUS MC_Set_pValue_From_##Suffix(int id, const char* creator, unsigned short group, unsigned char element,      \
                                        Type value) {                                                                  \
    return guarded(                                                                                                    \
        [&] { return setValue(id, privateAddress(creator, group, element), ToScalar(value), false, Pattern); });       \
  }                                                                                                                    \
  MC_STATUS MC_Set_Next_pValue_From_##Suffix(int id, const char* creator, unsigned short group, unsigned char element, \
                                             Type value) {                                                             \
    return guarded(                                                                                                    \
        [&] { return setValue(id, privateAddress(creator, group, element), ToScalar(value), true, Pattern); });        \
  }

inline Scalar integerScalar(long long v) { return Scalar{static_cast<std::int64_t>(v)}; }
inline Scalar unsignedScalar(unsigned long long v) {
  if (v > static_cast<unsigned long long>(std::numeric_limits<std::int64_t>::max())) fail(MC_VALUE_OUT_OF_RANGE);
  return Scalar{static_cast<std::int64_t>(v)};
}
inline Scalar floatScalar(float v) { return Scalar{v}; }
inline Scalar doubleScalar(double v) { return Scalar{v}; }
inline Scalar stringScalar(const char* v) {
  if (!v) fail(MC_NULL_POINTER_PARM);
  return Scalar{std::string(v)};
}

ZYL_SETTERS(Int, int, integerScalar, false)
ZYL_SETTERS(ShortInt, short, integerScalar, true)
ZYL_SETTERS(UInt, unsigned int, unsignedScalar, false)
ZYL_SETTERS(LongInt, long, integerScalar, false)
ZYL_SETTERS(ULongInt, unsigned long, unsignedScalar, false)
ZYL_SETTERS(Float, float, floatScalar, false)
ZYL_SETTERS(Double, double, doubleScalar, false)
ZYL_SETTERS(String, const char*, stringScalar, false)
#undef ZYL_SETTERS

MC_STATUS MC_Get_Value_To_Buffer(int id, uint32_t tag, int bufferSize, void* buffer, int* bytesReturned) {
  return guarded([&] { return getBuffer(id, standard(tag), bufferSize, buffer, bytesReturned); });
}
MC_STATUS MC_Get_pValue_To_Buffer(int id, const char* creator, unsigned short group, unsigned char element,
                                  int bufferSize, void* buffer, int* bytesReturned) {
  return guarded(
      [&] { return getBuffer(id, privateAddress(creator, group, element), bufferSize, buffer, bytesReturned); });
}
MC_STATUS MC_Get_Value_To_Function(int id, uint32_t tag, void* userInfo, MC_Value_Receiver receiver) {
  return guarded([&] { return getToFunction(id, standard(tag), userInfo, receiver); });
}
MC_STATUS ZYL_Get_Value_Range_To_Function(int id, uint32_t tag, uint64_t offset, uint64_t length, void* userInfo,
                                          MC_Value_Receiver receiver) {
  return guarded([&] { return getToFunction(id, standard(tag), userInfo, receiver, ValueRange{offset, length}); });
}
MC_STATUS MC_Get_pValue_To_Function(int id, const char* creator, unsigned short group, unsigned char element,
                                    void* userInfo, MC_Value_Receiver receiver) {
  return guarded([&] { return getToFunction(id, privateAddress(creator, group, element), userInfo, receiver); });
}
MC_STATUS MC_Set_Value_From_Function(int id, uint32_t tag, void* userInfo, MC_Value_Supplier supplier) {
  return guarded([&] { return setFromFunction(id, standard(tag), userInfo, supplier); });
}
MC_STATUS MC_Set_pValue_From_Function(int id, const char* creator, unsigned short group, unsigned char element,
                                      void* userInfo, MC_Value_Supplier supplier) {
  return guarded([&] { return setFromFunction(id, privateAddress(creator, group, element), userInfo, supplier); });
}
MC_STATUS MC_Set_Value_From_Buffer(int id, uint32_t tag, const void* buffer, int length) {
  return guarded([&] {
    if (length < 0) return MC_CALLBACK_DATA_SIZE_NEGATIVE;
    if (!buffer && length > 0) return MC_NULL_POINTER_PARM;
    Target target = Target::open(id);
    const auto* bytes = static_cast<const Uint8*>(buffer);
    setBinaryValue(target, tagKey(tag), std::vector<Uint8>(bytes, bytes + length));
    return MC_NORMAL_COMPLETION;
  });
}

MC_STATUS MC_Set_Value_To_NULL(int id, uint32_t tag) {
  return guarded([&] { return setNullValue(id, standard(tag)); });
}
MC_STATUS MC_Set_Value_To_Empty(int id, uint32_t tag) {
  return guarded([&] { return setEmptyValue(id, standard(tag)); });
}
MC_STATUS MC_Set_pValue_To_NULL(int id, const char* creator, unsigned short group, unsigned char element) {
  return guarded([&] { return setNullValue(id, privateAddress(creator, group, element)); });
}
MC_STATUS MC_Set_pValue_To_Empty(int id, const char* creator, unsigned short group, unsigned char element) {
  return guarded([&] { return setEmptyValue(id, privateAddress(creator, group, element)); });
}

MC_STATUS MC_Get_pAttribute_Info(int id, const char* creator, unsigned short group, unsigned char element, MC_VR* vr,
                                 int* valueCount) {
  return guarded([&] { return attributeInfo(id, privateAddress(creator, group, element), vr, valueCount); });
}
MC_STATUS MC_Get_pValue_Count(int id, const char* creator, unsigned short group, unsigned char element,
                              int* valueCount) {
  return guarded([&] { return countOf(id, privateAddress(creator, group, element), valueCount); });
}
MC_STATUS MC_Get_pValue_Length(int id, const char* creator, unsigned short group, unsigned char element,
                               int valueNumber, unsigned long* length) {
  return guarded([&] { return lengthOf(id, privateAddress(creator, group, element), valueNumber, length); });
}

MC_STATUS MC_Add_Private_Block(int id, const char* creator, unsigned short group) {
  return guarded([&] {
    if (!creator) return MC_NULL_POINTER_PARM;
    Target target = Target::open(id);
    std::string code = creator;
    while (!code.empty() && code.back() == ' ') code.pop_back();
    if (code.empty() || code.size() > 64 || code.find('\\') != std::string::npos) return MC_INVALID_PRIVATE_CODE;
    reservePrivateBlock(target, group, code);
    return MC_NORMAL_COMPLETION;
  });
}

MC_STATUS MC_Delete_Private_Block(int id, const char* creator, unsigned short group) {
  return guarded([&] {
    if (!creator) return MC_NULL_POINTER_PARM;
    Target target = Target::open(id);
    std::string code = creator;
    while (!code.empty() && code.back() == ' ') code.pop_back();
    if (code.empty()) return MC_INVALID_PRIVATE_CODE;
    deletePrivateBlock(target, group, code);
    return MC_NORMAL_COMPLETION;
  });
}

MC_STATUS MC_Add_Private_Attribute(int id, const char* creator, unsigned short group, unsigned char element, MC_VR vr) {
  return guarded([&] {
    if (!creator) return MC_NULL_POINTER_PARM;
    auto representation = tables::dcmtkFromVr(vr);
    if (!representation) return MC_INVALID_VR_CODE;
    Target target = Target::open(id);
    std::string code = creator;
    while (!code.empty() && code.back() == ' ') code.pop_back();
    if (code.empty() || code.size() > 64) return MC_INVALID_PRIVATE_CODE;
    const Uint8 block = reservePrivateBlock(target, group, code);
    declareAttribute(target, DcmTagKey(group, static_cast<Uint16>(block << 8 | element)), *representation);
    return MC_NORMAL_COMPLETION;
  });
}

}  // extern "C"

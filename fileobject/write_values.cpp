// Writing single attributes: SetValue (set, clear, remove), AddSequence and
// AddGroup, and the host type to VR conversions they use.
#include <algorithm>
#include <cctype>
#include <climits>
#include <cmath>
#include <cstdint>
#include <functional>
#include <memory>
#include <cstddef>
#include <cstring>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "address.h"
#include "file_method.h"
#include "file_methods.h"
#include "file_object.h"
#include "pixel_data.h"
#include "tags.h"
#include "toolkit/tags.h"
#include "transfer_syntax.h"
#include "whole_numbers.h"

namespace orvo::file {
namespace {

using zyl::Type;

struct SetKeywords {
  int32_t clear;
  int32_t remove;
  int32_t seqId;
  static const HostKeyword table[];
};
const HostKeyword SetKeywords::table[] = {{"CLEAR", HOST_KW_INT, offsetof(SetKeywords, clear), HOST_KW_NO_GIVEN},
                                          {"REMOVE", HOST_KW_INT, offsetof(SetKeywords, remove), HOST_KW_NO_GIVEN},
                                          {"SEQID", HOST_KW_INT, offsetof(SetKeywords, seqId), HOST_KW_NO_GIVEN},
                                          {nullptr, HOST_KW_INT, 0, 0}};

struct ParentKeywords {
  int32_t parentSeqId;
  static const HostKeyword table[];
};
const HostKeyword ParentKeywords::table[] = {
    {"PARENTSEQID", HOST_KW_INT, offsetof(ParentKeywords, parentSeqId), HOST_KW_NO_GIVEN},
    {nullptr, HOST_KW_INT, 0, 0}};

// The group length attribute that follows a write in the top-level message;
// whether the toolkit takes it is not looked at.
void addGroupLength(int id, uint32_t groupLengthTag) { MC_Add_Standard_Attribute(id, groupLengthTag); }

// ---- conversions -------------------------------------------------------------------

// A temporary made by a conversion, released after the write (an unwinding
// error releases it with the call's other temporaries).
class Converted {
 public:
  Converted(HostVar* value, Type type) : temporary_(HostConvertType(value, type)) {}
  template <typename T>
  std::span<const T> elements() const {
    void* data = nullptr;
    const int64_t count = HostVarGetData(temporary_.get(), &data);
    return {static_cast<const T*>(data), static_cast<size_t>(count)};
  }

 private:
  HostTemporary temporary_;
};

struct WriteTarget {
  const Address& at;
  const std::string& vrString;
};

[[noreturn]] void writeFailed(const WriteTarget& t, MC_STATUS status) {
  t.at.fail("Error: Failed to write attribute value (tag/vr/err). ", t.vrString, errorText(status));
}

// A write made ready: the value is converted and checked before the
// attribute is emptied, so that a refused value leaves it as it was.
using PreparedWrite = std::function<void()>;

// The range of values an integer VR holds. UV is limited to what the
// toolkit's signed 64-bit values carry.
IntegerRange integerRangeOf(int vr) {
  switch (vr) {
    case MC_VR_SS:
      return {INT16_MIN, INT16_MAX};
    case MC_VR_US:
      return {0, UINT16_MAX};
    case MC_VR_SL:
      return {INT32_MIN, INT32_MAX};
    case MC_VR_SV:
      return {INT64_MIN, INT64_MAX};
    case MC_VR_UV:
      return {0, INT64_MAX};
    default:
      return {0, UINT32_MAX};  // UL, AT
  }
}

[[noreturn]] void outOfRange(const WriteTarget& t, const std::string& misfit, IntegerRange range) {
  t.at.fail("Error: Value out of range for the VR (tag/vr/value) ", t.vrString, misfit + " not in " + rangeText(range));
}

PreparedWrite prepareNumbers(const WriteTarget& t, HostVar* value, int vr) {
  const IntegerRange range = integerRangeOf(vr);
  WholeNumbers numbers = wholeNumbersIn(value, range);
  if (!numbers.misfit.empty()) outOfRange(t, numbers.misfit, range);
  return [t, values = std::move(numbers.values), unsignedVr = range.minimum == 0] {
    for (const int64_t v : values) {
      const MC_STATUS status =
          unsignedVr ? t.at.set(true, static_cast<unsigned long>(v)) : t.at.set(true, static_cast<long>(v));
      if (status != MC_NORMAL_COMPLETION) writeFailed(t, status);
    }
  };
}

template <typename T>
PreparedWrite prepareReals(const WriteTarget& t, HostVar* value, Type type) {
  auto converted = std::make_shared<Converted>(value, type);
  return [t, converted] {
    for (const T element : converted->elements<T>()) {
      const MC_STATUS status = t.at.set(true, element);
      if (status != MC_NORMAL_COMPLETION) writeFailed(t, status);
    }
  };
}

// IS and DS from host numbers are formatted here, within their lengths (12
// and 16 characters); an IS value must be a whole number that fits 32 bits.
std::vector<std::string> numberTexts(const WriteTarget& t, HostVar* value, int vr) {
  std::vector<std::string> texts;
  if (vr == MC_VR_IS) {
    const IntegerRange range{INT32_MIN, INT32_MAX};
    WholeNumbers numbers = wholeNumbersIn(value, range);
    if (!numbers.misfit.empty()) outOfRange(t, numbers.misfit, range);
    for (const int64_t v : numbers.values) texts.push_back(std::to_string(v));
    return texts;
  }
  const bool single = value->type() == Type::Float32;
  const Converted converted(value, single ? Type::Float32 : Type::Float64);
  const auto add = [&](auto v) {
    // Infinities and NaN have no decimal string.
    if (!std::isfinite(v))
      t.at.fail("Error: Value out of range for the VR (tag/vr/value) ", t.vrString,
                decimalStringOf(v) + " is not finite");
    texts.push_back(decimalStringOf(v));
  };
  if (single) {
    for (const float v : converted.elements<float>()) add(v);
  } else {
    for (const double v : converted.elements<double>()) add(v);
  }
  return texts;
}

PreparedWrite prepareStrings(const WriteTarget& t, HostVar* value, int vr) {
  std::vector<std::string> texts;
  if ((vr == MC_VR_IS || vr == MC_VR_DS) && zyl::isNumeric(value->type())) {
    texts = numberTexts(t, value, vr);
  } else {
    const bool wasString = value->type() == Type::String;
    const Converted converted(value, Type::String);
    for (const zyl::HostString& element : converted.elements<zyl::HostString>()) {
      std::string_view text = zyl::hostStringText(element);
      // Numbers are converted with the host's leading blanks; those go, but
      // at least the last character stays.
      if (!wasString)
        while (text.size() > 1 && text.front() == ' ') text.remove_prefix(1);
      texts.emplace_back(text);
    }
  }
  return [t, texts = std::move(texts)] {
    for (const std::string& text : texts) {
      const MC_STATUS status = t.at.set(true, text.c_str());
      if (status != MC_NORMAL_COMPLETION) writeFailed(t, status);
    }
  };
}

// The elements of a numeric argument as `unit`-byte values: the argument's
// memory when its elements have that size, else converted one by one when
// every value fits; strings, structures and values that do not fit are
// refused.
std::shared_ptr<Samples> samplesFor(const WriteTarget& t, HostVar* value, size_t unit) {
  if (!zyl::isNumeric(value->type())) writeFailed(t, MC_INCOMPATIBLE_VR);
  // OB takes bytes; OW takes signed or unsigned 16-bit words.
  const IntegerRange range = unit == 1 ? IntegerRange{0, UINT8_MAX} : IntegerRange{INT16_MIN, UINT16_MAX};
  auto samples = std::make_shared<Samples>(samplesOf(value, unit, range));
  if (!samples->misfit.empty()) outOfRange(t, samples->misfit, range);
  if (samples->bytes.size() > static_cast<size_t>(INT_MAX) - 1) writeFailed(t, MC_VALUE_TOO_LARGE);
  return samples;
}

void writeBlock(const WriteTarget& t, std::span<const unsigned char> bytes, bool padOddOb) {
  ValueSupply supply{bytes.data(), bytes.size(), padOddOb};
  const MC_STATUS status = t.at.setFromFunction(&supply, supplyValue);
  if (status != MC_NORMAL_COMPLETION) writeFailed(t, status);
}

PreparedWrite prepareFloatBlock(const WriteTarget& t, HostVar* value) {
  auto converted = std::make_shared<Converted>(value, Type::Float32);
  const auto floats = converted->elements<float>();
  if (floats.size_bytes() > static_cast<size_t>(INT_MAX) - 1) writeFailed(t, MC_VALUE_TOO_LARGE);
  return [t, converted, floats] {
    writeBlock(t, {reinterpret_cast<const unsigned char*>(floats.data()), floats.size_bytes()}, false);
  };
}

PreparedWrite prepareDoubleBlock(const WriteTarget& t, HostVar* value) {
  if (!zyl::isNumeric(value->type())) writeFailed(t, MC_INCOMPATIBLE_VR);
  auto converted = std::make_shared<Converted>(value, Type::Float64);
  const auto doubles = converted->elements<double>();
  if (doubles.size_bytes() > static_cast<size_t>(INT_MAX) - 1) writeFailed(t, MC_VALUE_TOO_LARGE);
  return [t, converted, doubles] {
    writeBlock(t, {reinterpret_cast<const unsigned char*>(doubles.data()), doubles.size_bytes()}, false);
  };
}

// OL and OV: 32-bit and 64-bit words from whole numbers that fit them.
PreparedWrite prepareWordBlock(const WriteTarget& t, HostVar* value, size_t unit, IntegerRange range) {
  if (!zyl::isNumeric(value->type())) writeFailed(t, MC_INCOMPATIBLE_VR);
  auto samples = std::make_shared<Samples>(samplesOf(value, unit, range));
  if (!samples->misfit.empty()) outOfRange(t, samples->misfit, range);
  if (samples->bytes.size() > static_cast<size_t>(INT_MAX) - 1) writeFailed(t, MC_VALUE_TOO_LARGE);
  return [t, samples] { writeBlock(t, samples->bytes, false); };
}

// Pixel Data of a file in a compressed syntax: the toolkit compresses frame
// by frame, each frame an equal share of the argument's elements.
void writeCompressedPixelData(const WriteTarget& t, std::span<const unsigned char> bytes, bool ow) {
  const int id = t.at.id();
  const std::string& tagString = t.at.tagString();
  unsigned long framesValue = 1;
  unsigned long length = 0;
  const MC_STATUS lengthStatus = MC_Get_Value_Length(id, zyl::tags::kNumberOfFrames, 1, &length);
  if (lengthStatus != MC_EMPTY_VALUE && lengthStatus != MC_INVALID_TAG && lengthStatus != MC_NULL_VALUE) {
    const MC_STATUS status = MC_Get_Value_To_ULongInt(id, zyl::tags::kNumberOfFrames, &framesValue);
    if (status != MC_NORMAL_COMPLETION)
      fail(kErrs3, "Error: Failed to get number of frames for image (tag/err) ", tagString, errorText(status));
  }
  if (framesValue == 0)
    fail(kErrs3, "Error: Failed to get number of frames for image (tag/err) ", tagString, "Number of Frames is 0");
  const size_t elementsPerFrame = bytes.size() / (ow ? 2 : 1) / framesValue;
  const size_t frameLength = elementsPerFrame * (ow ? 2 : 1);
  if (frameLength == 0) writeFailed(t, MC_INVALID_LENGTH_FOR_VR);

  compressFrames(id, bytes.data(), frameLength, framesValue, [&](CompressStep step, MC_STATUS status) {
    switch (step) {
      case CompressStep::Register:
        fail(kErrs2, "Error: Failed to register compression callbacks ", errorText(status));
      case CompressStep::FirstFrame:
        fail(kErrs2, "Error: Failed to compress and set pixel data. ", errorText(status));
      case CompressStep::LaterFrame:
        fail(kErrs2, "Error: Failed to compress and set pixel data, where frame num > 1, ", errorText(status));
      case CompressStep::Close:
        fail(kErrs2, "Error: Failed to close pixel data tag when setting compressed pixel data, ", errorText(status));
    }
  });
}

// OB and OW from the argument's elements; Pixel Data of a compressed syntax
// is compressed. Private values are always written raw.
PreparedWrite prepareBinary(const FileInstance& file, const WriteTarget& t, HostVar* value, int vr) {
  const bool ow = vr == MC_VR_OW;
  bool compressed = false;
  if (!t.at.isPrivate() && t.at.tag() == zyl::tags::kPixelData) {
    const int syntax = currentSyntax(file);
    compressed = isStandardCompressed(syntax);
    if (isUnsupportedCompression(syntax) || isDecodeOnly(syntax))
      fail(kErrs4, "Error: Failed to read pixel data unsupported compression format (file/syntax/syntax) ",
           fileName(file), currentSyntaxUid(file), transferSyntaxName(syntax));
  }
  auto samples = samplesFor(t, value, ow ? 2 : 1);
  return [t, samples, compressed, ow] {
    if (compressed) return writeCompressedPixelData(t, samples->bytes, ow);
    writeBlock(t, samples->bytes, !ow);
  };
}

PreparedWrite prepareValue(const FileInstance& file, const WriteTarget& t, HostVar* value, int vr) {
  switch (vr) {
    case MC_VR_AE:
    case MC_VR_AS:
    case MC_VR_CS:
    case MC_VR_DA:
    case MC_VR_DS:
    case MC_VR_DT:
    case MC_VR_IS:
    case MC_VR_LO:
    case MC_VR_LT:
    case MC_VR_PN:
    case MC_VR_SH:
    case MC_VR_ST:
    case MC_VR_TM:
    case MC_VR_UT:
    case MC_VR_UI:
    case MC_VR_UC:
    case MC_VR_UR:
      return prepareStrings(t, value, vr);
    case MC_VR_SS:
    case MC_VR_US:
    case MC_VR_AT:
    case MC_VR_UL:
    case MC_VR_SL:
    case MC_VR_SV:
    case MC_VR_UV:
      return prepareNumbers(t, value, vr);
    case MC_VR_FL:
      return prepareReals<float>(t, value, Type::Float32);
    case MC_VR_FD:
      return prepareReals<double>(t, value, Type::Float64);
    case MC_VR_OF:
      return prepareFloatBlock(t, value);
    case MC_VR_OD:
      return prepareDoubleBlock(t, value);
    case MC_VR_OL:
      return prepareWordBlock(t, value, 4, {INT32_MIN, UINT32_MAX});
    case MC_VR_OV:
      return prepareWordBlock(t, value, 8, {INT64_MIN, INT64_MAX});
    case MC_VR_OB:
    case MC_VR_OW:
      return prepareBinary(file, t, value, vr);
    default:  // UN, every name not in the table, and "sq"
      t.at.fail("Error: Failed to set value, unsupported VR type (tag/vr)", t.vrString);
  }
}

// ---- shared steps ------------------------------------------------------------------------

// The VR code of a VR argument (upper-cased; names not in the table are UN).
int vrCodeOf(std::string_view vrString) {
  if (vrString.size() != 2) fail(kInvalidDicomVr);
  std::string upper(vrString);
  std::transform(upper.begin(), upper.end(), upper.begin(),
                 [](unsigned char c) { return static_cast<char>(std::toupper(c)); });
  return vrCode(upper);
}

void emptyValue(const Address& at) {
  const MC_STATUS status = at.setEmpty();
  if (status != MC_NORMAL_COMPLETION)
    at.fail({"Error: Failed to set value (tag/err) ", "Error: Failed to remove value (code/grp/elem/err) "},
            errorText(status));
}

void clearValue(const Address& at) {
  const MC_STATUS status = at.setNull();
  if (status != MC_NORMAL_COMPLETION) at.fail("Error: Failed to clear value (tag/err) ", errorText(status));
}

// Checks and converts `value` for the VR named (a sequence is refused); the
// write returned empties the attribute, writes the value and adds the group
// length in the top-level message.
PreparedWrite prepareAttributeWrite(const FileInstance& file, const WriteTarget& t, int32_t seqId, HostVar* value) {
  if (t.vrString == "SQ")
    t.at.fail(
        {"Error: You can only remove SQ tags with SetValue, call AddSequence or AddGroup to add a sequence.(tag) ",
         "Error: You can only remove SQ tags with SetPrivateValue, call AddPrivateSequence or AddPrivateGroup to "
         "add a private sequence.(code/grp/elem) "});
  const int code = vrCodeOf(t.vrString);
  // "sq" is refused as an unsupported VR, like "UN".
  PreparedWrite write = prepareValue(file, t, value, code == MC_VR_SQ ? MC_VR_UN : code);
  return [t, seqId, write = std::move(write)] {
    emptyValue(t.at);
    write();
    if (seqId == 0) addGroupLength(t.at.id(), t.at.groupLengthTag());
  };
}

// ---- workers ---------------------------------------------------------------------------

// Argument checks made before the data set is opened.
struct SetValueArgs {
  static void check(const MethodCall<FileInstance, SetKeywords>& call) {
    call.stringArg(1, StringArg::Tag);
    const SetKeywords& kw = call.keywords();
    if (kw.clear != 0 && kw.remove != 0) fail(kInvalidClearKeyword);
  }
};

HostVar* setValueWorker(MethodCall<FileInstance, SetKeywords>& call) {
  FileInstance& self = call.self();
  const SetKeywords& kw = call.keywords();
  const bool clear = kw.clear != 0;
  const bool remove = kw.remove != 0;
  if (!clear && !remove) {
    if (call.argc() != 4) fail(kErrs1, "Error: Failed to set value, arguments are missing.");
    if (!call.arg(2)->isScalarString()) fail(kInvalidDicomVr);
    setAttributeValue(self, kw.seqId, std::string(call.stringArg(1, StringArg::Tag)), std::string(call.arg(2)->text()),
                      call.arg(3));
    return nullptr;
  }
  const std::string tagString(call.stringArg(1, StringArg::Tag));
  const Address at(addressedId(self, kw.seqId), parseTag(tagString), tagString);
  if (self.nonConforming != 0) MC_Add_Standard_Attribute(at.id(), at.tag());
  clear ? clearValue(at) : emptyValue(at);
  return nullptr;
}

struct SetPrivateKeywords {
  int32_t blockRemove;
  int32_t clear;
  int32_t remove;
  int32_t seqId;
  static const HostKeyword table[];
};
const HostKeyword SetPrivateKeywords::table[] = {
    {"BLOCKREMOVE", HOST_KW_INT, offsetof(SetPrivateKeywords, blockRemove), HOST_KW_NO_GIVEN},
    {"CLEAR", HOST_KW_INT, offsetof(SetPrivateKeywords, clear), HOST_KW_NO_GIVEN},
    {"REMOVE", HOST_KW_INT, offsetof(SetPrivateKeywords, remove), HOST_KW_NO_GIVEN},
    {"SEQID", HOST_KW_INT, offsetof(SetPrivateKeywords, seqId), HOST_KW_NO_GIVEN},
    {nullptr, HOST_KW_INT, 0, 0}};

// Host types of the triple and the VR, the keyword combinations and the
// value's presence, checked before the data set is opened.
struct SetPrivateValueArgs {
  static void check(const MethodCall<FileInstance, SetPrivateKeywords>& call) {
    AddressArgs<AddressKind::Private>::check(call);
    if (call.arg(4) == nullptr || !call.arg(4)->isScalarString()) fail(kInvalidDicomVr);
    const SetPrivateKeywords& kw = call.keywords();
    if (kw.clear != 0 && (kw.remove != 0 || kw.blockRemove != 0)) fail(kInvalidClearKeyword);
    if (kw.remove != 0 && kw.blockRemove != 0) fail(kInvalidRemoveKeyword);
    if (kw.clear == 0 && kw.remove == 0 && kw.blockRemove == 0 && call.arg(5) == nullptr)
      fail(kErrs1, "Error: Failed to set value, arguments are missing.");
  }
};

HostVar* setPrivateValueWorker(MethodCall<FileInstance, SetPrivateKeywords>& call) {
  const FileInstance& self = call.self();
  const SetPrivateKeywords& kw = call.keywords();
  const Address at = addressOf<AddressKind::Private>(call, kw.seqId);
  const std::string vrString(call.arg(4)->text());
  const int vr = vrCodeOf(vrString);
  const PrivateTag& tag = at.privateTag();
  if (kw.blockRemove != 0) {
    if (vr != MC_VR_LO)
      at.fail("Error: BlockRemove can only be used on the first tag that starts a private block (code/grp/elem) ");
    const MC_STATUS status = MC_Delete_Private_Block(at.id(), tag.code.c_str(), tag.group);
    if (status != MC_NORMAL_COMPLETION)
      fail(kErrs4, "Error: Failed to delete private block (code/grp/err) ", tag.code, tag.groupText, errorText(status));
    return nullptr;
  }
  // A value that is refused adds no block.
  const WriteTarget target{at, vrString};
  const bool writes = kw.clear == 0 && kw.remove == 0;
  const PreparedWrite write = writes ? prepareAttributeWrite(self, target, kw.seqId, call.arg(5)) : PreparedWrite();
  MC_STATUS status = at.addPrivateBlock();
  if (status != MC_NORMAL_COMPLETION)
    at.fail("Error: Failed to add private block (code/grp/elem/err) ", errorText(status));
  status = at.addPrivateAttribute(static_cast<MC_VR>(vr));
  if (status != MC_NORMAL_COMPLETION)
    at.fail("Error: Failed to add private attribute (code/grp/elem/err) ", errorText(status));
  if (kw.clear != 0) {
    clearValue(at);
    return nullptr;
  }
  if (writes)
    write();
  else
    emptyValue(at);
  return nullptr;
}

enum class AddKind { Sequence, Group };

// AddSequence, AddGroup and their private twins: a new empty item made the
// first item of the sequence, or appended to it. The item is freed unless it
// was attached.
template <AddressKind Kind, AddKind Add>
HostVar* addItemWorker(MethodCall<FileInstance, ParentKeywords>& call) {
  const int32_t parent = call.keywords().parentSeqId;
  const Address at = addressOf<Kind>(call, parent);
  constexpr bool sequence = Add == AddKind::Sequence;

  zyl::toolkit::ItemHandle item;
  MC_STATUS status = MC_Open_Item(item.out(), "");
  if (status != MC_NORMAL_COMPLETION)
    at.fail(sequence ? "Error: Failed to create sequence(tag/err). " : "Error: Failed to create group (tag/err). ",
            errorText(status));
  if constexpr (Kind == AddressKind::Private) {
    status = at.addPrivateBlock();
    if (status != MC_NORMAL_COMPLETION)
      at.fail("Error: Failed to add private block (code/grp/elem/err) ", errorText(status));
    status = at.addPrivateAttribute(MC_VR_SQ);
    if (status != MC_NORMAL_COMPLETION)
      at.fail("Error: Failed to add private SQ attribute (code/grp/elem/err) ", errorText(status));
  }
  status = at.set(!sequence, item.get());
  if (status != MC_NORMAL_COMPLETION)
    at.fail(sequence ? "Error: Failed to add a new empty sequence(tag/err). "
                     : "Error: Failed to add a new group(tag/err). ",
            errorText(status));
  const int id = item.release();
  if (parent == 0) addGroupLength(at.id(), at.groupLengthTag());
  return HostTempInt(static_cast<int16_t>(id & 0xFFFF));
}

}  // namespace

void setAttributeValue(FileInstance& file, int32_t seqId, const std::string& tagString, const std::string& vrString,
                       HostVar* value) {
  const Address at(addressedId(file, seqId), parseTag(tagString), tagString);
  const WriteTarget target{at, vrString};
  const PreparedWrite write = prepareAttributeWrite(file, target, seqId, value);
  if (file.nonConforming != 0) MC_Add_Standard_Attribute(at.id(), at.tag());
  write();
}

void checkAttributeValue(const FileInstance& file, const std::string& tagString, const std::string& vrString,
                         HostVar* value) {
  const Address at(file.msgFileId, parseTag(tagString), tagString);
  prepareAttributeWrite(file, WriteTarget{at, vrString}, 0, value);
}

MethodRows writeValuesMethods() {
  static const MethodRow kRows[] = {
      procedureRow("ZYLFFORVO::SETVALUE", fileMethodEntry<SetKeywords, SetValueArgs, setValueWorker>, 2, 4,
                   HOST_ROUTINE_KEYWORDS),
      functionRow("ZYLFFORVO::ADDSEQUENCE",
                  fileMethodEntry<ParentKeywords, AddressArgs<AddressKind::Standard>,
                                  addItemWorker<AddressKind::Standard, AddKind::Sequence>>,
                  2, 2, HOST_ROUTINE_KEYWORDS),
      functionRow("ZYLFFORVO::ADDGROUP",
                  fileMethodEntry<ParentKeywords, AddressArgs<AddressKind::Standard>,
                                  addItemWorker<AddressKind::Standard, AddKind::Group>>,
                  2, 2, HOST_ROUTINE_KEYWORDS),
      procedureRow("ZYLFFORVO::SETPRIVATEVALUE",
                   fileMethodEntry<SetPrivateKeywords, SetPrivateValueArgs, setPrivateValueWorker>, 5, 6,
                   HOST_ROUTINE_KEYWORDS),
      functionRow("ZYLFFORVO::ADDPRIVATESEQUENCE",
                  fileMethodEntry<ParentKeywords, AddressArgs<AddressKind::Private>,
                                  addItemWorker<AddressKind::Private, AddKind::Sequence>>,
                  4, 4, HOST_ROUTINE_KEYWORDS),
      functionRow("ZYLFFORVO::ADDPRIVATEGROUP",
                  fileMethodEntry<ParentKeywords, AddressArgs<AddressKind::Private>,
                                  addItemWorker<AddressKind::Private, AddKind::Group>>,
                  4, 4, HOST_ROUTINE_KEYWORDS),
  };
  return kRows;
}

}  // namespace orvo::file

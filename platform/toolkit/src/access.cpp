#include "access.h"

#include "limits.h"
#include "scan.h"

#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <limits>

namespace zyl::toolkit {
namespace {

enum class VrClass { MultiText, SingleText, Integer, Float, Tag, Binary, Sequence };

VrClass classify(DcmEVR vr) {
  // LT, ST, UT and UR hold one text, backslashes included.
  if (isTextVr(vr))
    return vr == EVR_LT || vr == EVR_ST || vr == EVR_UT || vr == EVR_UR ? VrClass::SingleText : VrClass::MultiText;
  switch (vr) {
    case EVR_SS:
    case EVR_US:
    case EVR_SL:
    case EVR_UL:
    case EVR_SV:
    case EVR_UV:
    case EVR_xs:
    case EVR_up:
      return VrClass::Integer;
    case EVR_FL:
    case EVR_FD:
      return VrClass::Float;
    case EVR_AT:
      return VrClass::Tag;
    case EVR_SQ:
      return VrClass::Sequence;
    default:
      return VrClass::Binary;
  }
}

struct IntegerRange {
  std::int64_t minimum;
  std::int64_t maximum;
};

IntegerRange integerRange(DcmEVR vr) {
  switch (vr) {
    case EVR_SS:
      return {-32768, 32767};
    case EVR_US:
    case EVR_xs:
      return {0, 65535};
    case EVR_SL:
      return {std::numeric_limits<std::int32_t>::min(), std::numeric_limits<std::int32_t>::max()};
    case EVR_UL:
    case EVR_up:
      return {0, 0xFFFFFFFFll};
    case EVR_SV:
      return {std::numeric_limits<std::int64_t>::min(), std::numeric_limits<std::int64_t>::max()};
    default:
      return {0, std::numeric_limits<std::int64_t>::max()};  // UV
  }
}

std::string trimmed(std::string_view text) {
  const auto first = text.find_first_not_of(" \t\r\n");
  if (first == std::string_view::npos) return {};
  const auto last = text.find_last_not_of(" \t\r\n\0");
  return std::string(text.substr(first, last - first + 1));
}

std::optional<std::int64_t> parseInteger(std::string_view text) {
  const std::string t = trimmed(text);
  if (t.empty()) return std::nullopt;
  std::int64_t v = 0;
  const char* begin = t.data() + (t[0] == '+' ? 1 : 0);
  auto [end, ec] = std::from_chars(begin, t.data() + t.size(), v);
  if (ec != std::errc() || end != t.data() + t.size()) return std::nullopt;
  return v;
}

std::optional<double> parseDouble(std::string_view text) {
  const std::string t = trimmed(text);
  if (t.empty()) return std::nullopt;
  char* end = nullptr;
  const double v = std::strtod(t.c_str(), &end);
  if (end != t.c_str() + t.size() || !std::isfinite(v)) return std::nullopt;
  return v;
}

std::optional<std::uint32_t> parseTagText(std::string_view text) {
  std::uint32_t value = 0;
  int digits = 0;
  for (char c : text) {
    int d;
    if (c >= '0' && c <= '9')
      d = c - '0';
    else if (c >= 'a' && c <= 'f')
      d = c - 'a' + 10;
    else if (c >= 'A' && c <= 'F')
      d = c - 'A' + 10;
    else
      continue;
    if (++digits > 8) return std::nullopt;
    value = value << 4 | static_cast<std::uint32_t>(d);
  }
  if (digits != 8) return std::nullopt;
  return value;
}

template <class Number>
std::string shortest(Number value) {
  char buffer[64];
  auto [end, ec] = std::to_chars(buffer, buffer + sizeof buffer, value);
  return ec == std::errc() ? std::string(buffer, end) : std::string();
}

// A decimal string fits in 16 characters; keep as many digits as fit.
std::string decimalString(double value) {
  std::string text = shortest(value);
  for (int precision = 16; text.size() > 16 && precision > 0; --precision) {
    char buffer[64];
    std::snprintf(buffer, sizeof buffer, "%.*g", precision, value);
    text = buffer;
  }
  return text;
}

std::string tagText(std::uint32_t tag) {
  char buffer[16];
  std::snprintf(buffer, sizeof buffer, "(%04x,%04x)", tag >> 16, tag & 0xFFFF);
  return buffer;
}

std::unique_ptr<DcmElement> newElement(const DcmTagKey& tag, DcmEVR vr) {
  DcmElement* created = nullptr;
  if (DcmItem::newDicomElementWithVR(created, DcmTag(tag, vr)).bad() || !created) fail(MC_INVALID_TAG);
  return std::unique_ptr<DcmElement>(created);
}

bool isEncapsulatedPixelData(DcmElement* element) {
  if (element->ident() != EVR_PixelData) return false;
  auto* pixels = static_cast<DcmPixelData*>(element);
  E_TransferSyntax current = EXS_Unknown;
  const DcmRepresentationParameter* parameter = nullptr;
  pixels->getCurrentRepresentationKey(current, parameter);
  return DcmXfer(current).isEncapsulated();
}

Uint16 containerUint16(DcmItem& container, const DcmTagKey& tag, Uint16 fallback) {
  Uint16 value = fallback;
  if (container.findAndGetUint16(tag, value).bad()) return fallback;
  return value;
}

int assignItemId(Target& target, DcmItem* item) {
  auto& ids = target.root().itemIds;
  if (auto it = ids.find(item); it != ids.end()) return it->second;
  auto id = IdTable::instance().add({IdKind::Item, target.rootPointer(), item, {}});
  if (!id) fail(MC_NO_FREE_ID);
  ids[item] = *id;
  return *id;
}

void forgetItem(Root& root, DcmItem* item) {
  for (DcmObject* child = item->nextInContainer(nullptr); child; child = item->nextInContainer(child))
    if (child->ident() == EVR_SQ) forgetItemsUnder(root, child);
  if (auto it = root.itemIds.find(item); it != root.itemIds.end()) {
    IdTable::instance().remove(it->second);
    root.itemIds.erase(it);
  }
  root.states.erase(item);
}

// Moves a free item into a sequence of `target`, with its ids and states.
void attachItem(Target& target, DcmSequenceOfItems& sequence, int itemId) {
  auto entry = IdTable::instance().find(itemId);
  if (!entry || entry->kind != IdKind::Item || !entry->root) fail(MC_INVALID_ITEM_ID);
  if (entry->root == target.rootPointer()) fail(MC_INVALID_ITEM_ID);  // already in this tree
  Root& source = *entry->root;
  std::lock_guard sourceLock(source.mutex);
  if (source.standaloneItem.get() != entry->item) fail(MC_INVALID_ITEM_ID);  // held elsewhere
  if (sequence.insert(source.standaloneItem.get()).bad()) fail(MC_CANNOT_COMPLY);
  source.standaloneItem.release();  // the sequence owns it now
  Root& destination = target.root();
  for (auto& [item, id] : source.itemIds) {
    destination.itemIds[item] = id;
    IdTable::instance().setRoot(id, target.rootPointer());
  }
  for (auto& [item, state] : source.states) destination.states[item] = std::move(state);
  source.itemIds.clear();
  source.states.clear();
}

}  // namespace

MC_STATUS valuesStatus(const Attribute& attribute) {
  switch (attribute.state) {
    case AttributeState::Absent:
      return MC_INVALID_TAG;
    case AttributeState::Empty:
      return MC_EMPTY_VALUE;
    case AttributeState::Null:
      return MC_NULL_VALUE;
    case AttributeState::Valued:
      break;
  }
  return MC_NORMAL_COMPLETION;
}

void requireValues(const Attribute& attribute) {
  if (const MC_STATUS status = valuesStatus(attribute); status != MC_NORMAL_COMPLETION) fail(status);
}

// ---- Target -------------------------------------------------------------

Target Target::open(int id, bool messageOnly) {
  requireInitialized();
  for (int attempt = 0; attempt < 3; ++attempt) {
    auto entry = IdTable::instance().find(id);
    if (!entry || !entry->root) fail(MC_INVALID_MESSAGE_ID);
    if (entry->kind == IdKind::Item && messageOnly) fail(MC_INVALID_MESSAGE_ID);
    if (entry->kind != IdKind::Message && entry->kind != IdKind::Item) fail(MC_INVALID_MESSAGE_ID);
    Target target;
    target.id_ = id;
    target.root_ = entry->root;
    target.lock_ = std::unique_lock(target.root_->mutex);
    if (entry->kind == IdKind::Message) {
      target.item_ = target.root_->dataset();
      if (!target.item_) fail(MC_INVALID_MESSAGE_ID);  // freed meanwhile
      return target;
    }
    auto it = target.root_->itemIds.find(entry->item);
    if (it != target.root_->itemIds.end() && it->second == id) {
      target.item_ = entry->item;
      return target;
    }
    // The item moved to another tree between look-up and lock: look again.
  }
  fail(MC_INVALID_ITEM_ID);
}

DcmItem& Target::containerFor(const DcmTagKey& tag) {
  if (tag.getGroup() == 0x0002 && isMessage()) return *root_->meta();
  return *item_;
}

// ---- Attributes ---------------------------------------------------------

Attribute findAttribute(Target& target, const DcmTagKey& tag) {
  Attribute attribute;
  attribute.container = &target.containerFor(tag);
  attribute.tag = tag;
  DcmElement* element = nullptr;
  if (attribute.container->findAndGetElement(tag, element, OFFalse).good() && element) {
    attribute.element = element;
    attribute.vr = element->ident() == EVR_SQ ? EVR_SQ : element->getVR();
    attribute.count = valueCount(attribute);
    attribute.state = attribute.count == 0 ? AttributeState::Null : AttributeState::Valued;
    return attribute;
  }
  auto& empties = target.root().state(attribute.container).emptyAttributes;
  if (auto it = empties.find(tag); it != empties.end()) {
    attribute.vr = it->second;
    attribute.state = AttributeState::Empty;
  }
  return attribute;
}

int valueCount(const Attribute& attribute) {
  DcmElement* e = attribute.element;
  if (!e) return 0;
  switch (classify(attribute.vr)) {
    case VrClass::Sequence:
      return static_cast<int>(static_cast<DcmSequenceOfItems*>(e)->card());
    case VrClass::MultiText:
    case VrClass::Integer:
    case VrClass::Float:
    case VrClass::Tag:
      return e->getLength() == 0 ? 0 : static_cast<int>(e->getVM());
    case VrClass::SingleText:
    case VrClass::Binary:
      if (isEncapsulatedPixelData(e)) return 1;
      return e->getLength() > 0 ? 1 : 0;
  }
  return 0;
}

unsigned long valueLength(Attribute& attribute, int number) {
  requireValues(attribute);
  if (number < 1 || number > valueCount(attribute)) fail(MC_INVALID_VALUE_NUMBER);
  DcmElement* e = attribute.element;
  const auto index = static_cast<unsigned long>(number - 1);
  switch (classify(attribute.vr)) {
    case VrClass::MultiText:
    case VrClass::SingleText: {
      OFString text;
      if (classify(attribute.vr) == VrClass::SingleText)
        e->getOFStringArray(text, OFTrue);
      else
        e->getOFString(text, index, OFTrue);
      return text.size();
    }
    case VrClass::Integer:
      return attribute.vr == EVR_SS || attribute.vr == EVR_US || attribute.vr == EVR_xs ? 2
             : attribute.vr == EVR_SV || attribute.vr == EVR_UV                         ? 8
                                                                                        : 4;
    case VrClass::Float:
      return attribute.vr == EVR_FL ? 4 : 8;
    case VrClass::Tag:
      return 4;
    case VrClass::Binary:
      if (isEncapsulatedPixelData(e)) {
        // The fragments as stored, in the encapsulated syntax they are held in.
        E_TransferSyntax current = EXS_Unknown;
        const DcmRepresentationParameter* parameter = nullptr;
        static_cast<DcmPixelData*>(e)->getCurrentRepresentationKey(current, parameter);
        return e->getLength(current);
      }
      return e->getLength();
    case VrClass::Sequence: {
      DcmItem* item = static_cast<DcmSequenceOfItems*>(e)->getItem(index);
      return item ? item->getLength(EXS_LittleEndianExplicit, EET_ExplicitLength) : 0;
    }
  }
  return 0;
}

Scalar readValue(Target& target, Attribute& attribute, unsigned long number) {
  requireValues(attribute);
  if (number < 1 || number > static_cast<unsigned long>(attribute.count)) fail(MC_NO_MORE_VALUES);
  DcmElement* e = attribute.element;
  const unsigned long index = number - 1;
  switch (classify(attribute.vr)) {
    case VrClass::MultiText: {
      OFString text;
      if (e->getOFString(text, index, OFTrue).bad()) fail(MC_CANNOT_COMPLY);
      return std::string(text);
    }
    case VrClass::SingleText: {
      OFString text;
      if (e->getOFStringArray(text, OFTrue).bad()) fail(MC_CANNOT_COMPLY);
      return std::string(text);
    }
    case VrClass::Integer: {
      switch (attribute.vr) {
        case EVR_SS: {
          Sint16 v;
          if (e->getSint16(v, index).good()) return std::int64_t{v};
          break;
        }
        case EVR_SL: {
          Sint32 v;
          if (e->getSint32(v, index).good()) return std::int64_t{v};
          break;
        }
        case EVR_UL:
        case EVR_up: {
          Uint32 v;
          if (e->getUint32(v, index).good()) return std::int64_t{v};
          break;
        }
        case EVR_SV: {
          Sint64 v;
          if (e->getSint64(v, index).good()) return std::int64_t{v};
          break;
        }
        case EVR_UV: {
          Uint64 v;
          if (e->getUint64(v, index).good()) return static_cast<std::int64_t>(v);
          break;
        }
        default: {
          Uint16 v;
          if (e->getUint16(v, index).good()) return std::int64_t{v};
          break;
        }
      }
      fail(MC_CANNOT_COMPLY);
    }
    case VrClass::Float: {
      if (attribute.vr == EVR_FL) {
        Float32 v;
        if (e->getFloat32(v, index).good()) return float{v};
      } else {
        Float64 v;
        if (e->getFloat64(v, index).good()) return double{v};
      }
      fail(MC_CANNOT_COMPLY);
    }
    case VrClass::Tag: {
      DcmTagKey key;
      if (static_cast<DcmAttributeTag*>(e)->getTagVal(key, index).bad()) fail(MC_CANNOT_COMPLY);
      return TagValue{tagValue(key)};
    }
    case VrClass::Sequence: {
      DcmItem* item = static_cast<DcmSequenceOfItems*>(e)->getItem(index);
      if (!item) fail(MC_NO_MORE_VALUES);
      return std::int64_t{assignItemId(target, item)};
    }
    case VrClass::Binary:
      break;
  }
  fail(MC_INCOMPATIBLE_VR);
}

bool readTextValue(const Attribute& attribute, unsigned long number, OFString& text) {
  DcmElement* e = attribute.element;
  switch (classify(attribute.vr)) {
    case VrClass::MultiText:
      if (e->getOFString(text, number - 1, OFTrue).bad()) fail(MC_CANNOT_COMPLY);
      return true;
    case VrClass::SingleText:
      if (e->getOFStringArray(text, OFTrue).bad()) fail(MC_CANNOT_COMPLY);
      return true;
    default:
      return false;
  }
}

MC_STATUS locateCursorValue(Target& target, const DcmTagKey& tag, bool next, CursorValue& cursor) {
  cursor.attribute = findAttribute(target, tag);
  if (const MC_STATUS status = valuesStatus(cursor.attribute); status != MC_NORMAL_COMPLETION) return status;
  const ContainerState& state = target.root().state(cursor.attribute.container);
  cursor.number = 1;
  if (next) cursor.number = state.valueCursorTag == tag ? state.valueCursorNext : 2;
  if (cursor.number < 1 || cursor.number > static_cast<unsigned long>(cursor.attribute.count)) return MC_NO_MORE_VALUES;
  return MC_NORMAL_COMPLETION;
}

void advanceCursor(Target& target, const CursorValue& cursor) {
  ContainerState& state = target.root().state(cursor.attribute.container);
  state.valueCursorTag = cursor.attribute.tag;
  state.valueCursorNext = cursor.number + 1;
}

// ---- Conversions for the getters ---------------------------------------

std::int64_t toInteger(const Scalar& value, std::int64_t minimum, std::int64_t maximum) {
  std::int64_t result = 0;
  if (auto* i = std::get_if<std::int64_t>(&value)) {
    result = *i;
  } else if (auto* t = std::get_if<TagValue>(&value)) {
    result = t->tag;
  } else {
    double d;
    if (auto* s = std::get_if<std::string>(&value)) {
      if (auto parsed = parseInteger(*s)) {
        result = *parsed;
        if (result < minimum || result > maximum) fail(MC_VALUE_OUT_OF_RANGE);
        return result;
      }
      auto parsed = parseDouble(*s);
      if (!parsed) fail(MC_INVALID_VALUE_FOR_VR);
      d = *parsed;
    } else if (auto* f = std::get_if<float>(&value)) {
      d = *f;
    } else {
      d = std::get<double>(value);
    }
    if (d != std::floor(d)) fail(MC_INCOMPATIBLE_VALUE);
    if (d < static_cast<double>(minimum) || d > static_cast<double>(maximum)) fail(MC_VALUE_OUT_OF_RANGE);
    return static_cast<std::int64_t>(d);
  }
  if (result < minimum || result > maximum) fail(MC_VALUE_OUT_OF_RANGE);
  return result;
}

std::uint64_t toUnsigned(const Scalar& value, std::uint64_t maximum) {
  const auto limit = static_cast<std::int64_t>(
      std::min<std::uint64_t>(maximum, static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max())));
  return static_cast<std::uint64_t>(toInteger(value, 0, limit));
}

double toDouble(const Scalar& value) {
  if (auto* i = std::get_if<std::int64_t>(&value)) return static_cast<double>(*i);
  if (auto* d = std::get_if<double>(&value)) return *d;
  if (auto* f = std::get_if<float>(&value)) return *f;
  if (auto* s = std::get_if<std::string>(&value)) {
    auto parsed = parseDouble(*s);
    if (!parsed) fail(MC_INVALID_VALUE_FOR_VR);
    return *parsed;
  }
  fail(MC_INCOMPATIBLE_VR);
}

std::string toText(const Scalar& value) {
  if (auto* s = std::get_if<std::string>(&value)) return *s;
  if (auto* i = std::get_if<std::int64_t>(&value)) return std::to_string(*i);
  if (auto* f = std::get_if<float>(&value)) return shortest(*f);
  if (auto* d = std::get_if<double>(&value)) return shortest(*d);
  return tagText(std::get<TagValue>(value).tag);
}

// ---- Writing --------------------------------------------------------------

DcmEVR dictionaryVr(DcmItem& container, const DcmTagKey& tag, const char* privateCreator) {
  if (tag.getElement() == 0x0000) return EVR_UL;  // group length
  const DcmTag entry(tag, privateCreator);
  switch (entry.getEVR()) {
    case EVR_UNKNOWN:
    case EVR_UNKNOWN2B:
    case EVR_na:
    case EVR_item:
    case EVR_metainfo:
    case EVR_dataset:
    case EVR_fileFormat:
    case EVR_dicomDir:
    case EVR_dirRecord:
    case EVR_pixelSQ:
    case EVR_pixelItem:
      fail(MC_INVALID_TAG);
    case EVR_xs:
      return containerUint16(container, DCM_PixelRepresentation, 0) == 1 ? EVR_SS : EVR_US;
    case EVR_ox:
    case EVR_px:
      return containerUint16(container, DCM_BitsAllocated, 8) > 8 ? EVR_OW : EVR_OB;
    case EVR_lt:
      return EVR_OW;
    case EVR_up:
      return EVR_UL;
    default:
      return entry.getEVR();
  }
}

void forgetItemsUnder(Root& root, DcmObject* object) {
  if (!object) return;
  if (object->ident() == EVR_SQ) {
    auto* sequence = static_cast<DcmSequenceOfItems*>(object);
    for (unsigned long i = 0; i < sequence->card(); ++i) forgetItem(root, sequence->getItem(i));
  } else if (object->ident() == EVR_item || object->ident() == EVR_dataset || object->ident() == EVR_metainfo) {
    forgetItem(root, static_cast<DcmItem*>(object));
  }
}

void removeElement(Root& root, DcmItem& container, const DcmTagKey& tag) {
  std::unique_ptr<DcmElement> removed(container.remove(tag));
  if (removed) forgetItemsUnder(root, removed.get());
}

namespace {

// The representation a write uses: the attribute's own, else the dictionary's.
DcmEVR writeVr(const Attribute& attribute, const char* privateCreator) {
  if (attribute.state != AttributeState::Absent) return attribute.vr;
  return dictionaryVr(*attribute.container, attribute.tag, privateCreator);
}

std::string textFor(const Scalar& value, DcmEVR vr) {
  if (auto* s = std::get_if<std::string>(&value)) return *s;
  if (auto* i = std::get_if<std::int64_t>(&value)) {
    if (vr == EVR_IS &&
        (*i < std::numeric_limits<std::int32_t>::min() || *i > std::numeric_limits<std::int32_t>::max()))
      fail(MC_VALUE_OUT_OF_RANGE);
    return std::to_string(*i);
  }
  if (std::holds_alternative<TagValue>(value)) return tagText(std::get<TagValue>(value).tag);
  const double d = std::holds_alternative<float>(value) ? std::get<float>(value) : std::get<double>(value);
  if (vr == EVR_IS) {
    if (d != std::floor(d)) fail(MC_INVALID_VALUE_FOR_VR);
    return textFor(Scalar{static_cast<std::int64_t>(d)}, vr);
  }
  if (vr == EVR_DS) return decimalString(d);
  return std::holds_alternative<float>(value) ? shortest(std::get<float>(value)) : shortest(d);
}

std::int64_t integerFor(const Scalar& value, DcmEVR vr, bool sixteenBitPattern) {
  IntegerRange range = integerRange(vr);
  if (sixteenBitPattern && (vr == EVR_US || vr == EVR_SS || vr == EVR_xs)) {
    const std::int64_t v = toInteger(value, -32768, 65535);
    if (vr == EVR_SS) return v > 32767 ? v - 65536 : v;
    return v < 0 ? v + 65536 : v;
  }
  if (std::holds_alternative<TagValue>(value)) fail(MC_INCOMPATIBLE_VR);
  if (auto* s = std::get_if<std::string>(&value)) {
    auto parsed = parseInteger(*s);
    if (!parsed) fail(MC_INVALID_VALUE_FOR_VR);
    if (*parsed < range.minimum || *parsed > range.maximum) fail(MC_VALUE_OUT_OF_RANGE);
    return *parsed;
  }
  return toInteger(value, range.minimum, range.maximum);
}

}  // namespace

void writeValue(Target& target, const DcmTagKey& tag, const Scalar& value, const WriteOptions& options) {
  Attribute attribute = findAttribute(target, tag);
  DcmItem& container = *attribute.container;
  const DcmEVR vr = writeVr(attribute, options.privateCreator);
  const VrClass kind = classify(vr);
  const bool append = options.append && attribute.state == AttributeState::Valued;
  const int count = valueCount(attribute);

  if (kind == VrClass::Sequence) {
    auto* id = std::get_if<std::int64_t>(&value);
    if (!id) fail(MC_INCOMPATIBLE_VR);
    if (*id <= 0 || *id > limits::kMaxId) fail(MC_INVALID_ITEM_ID);
    DcmSequenceOfItems* sequence = nullptr;
    std::unique_ptr<DcmSequenceOfItems> created;
    if (attribute.element && append) {
      sequence = static_cast<DcmSequenceOfItems*>(attribute.element);
    } else {
      created = std::make_unique<DcmSequenceOfItems>(DcmTag(tag, EVR_SQ));
      sequence = created.get();
    }
    attachItem(target, *sequence, static_cast<int>(*id));
    if (created) {
      removeElement(target.root(), container, tag);
      if (container.insert(created.get(), OFTrue).bad()) fail(MC_CANNOT_COMPLY);
      created.release();
    }
    target.root().state(&container).emptyAttributes.erase(tag);
    return;
  }
  if (kind == VrClass::Binary) fail(MC_INCOMPATIBLE_VR);
  if (kind == VrClass::SingleText && append && count >= 1) fail(MC_TOO_MANY_VALUES);

  // Convert first, so that a refused value leaves the attribute unchanged.
  std::string text;
  std::int64_t integer = 0;
  double real = 0;
  std::uint32_t tagNumber = 0;
  switch (kind) {
    case VrClass::MultiText:
    case VrClass::SingleText:
      text = textFor(value, vr);
      break;
    case VrClass::Integer:
      integer = integerFor(value, vr, options.sixteenBitPattern);
      break;
    case VrClass::Float:
      if (std::holds_alternative<TagValue>(value)) fail(MC_INCOMPATIBLE_VR);
      real = toDouble(value);
      if (vr == EVR_FL && std::isfinite(real) && std::fabs(real) > std::numeric_limits<float>::max())
        fail(MC_VALUE_OUT_OF_RANGE);
      break;
    case VrClass::Tag:
      if (auto* s = std::get_if<std::string>(&value)) {
        auto parsed = parseTagText(*s);
        if (!parsed) fail(MC_INVALID_VALUE_FOR_VR);
        tagNumber = *parsed;
      } else if (auto* t = std::get_if<TagValue>(&value)) {
        tagNumber = t->tag;
      } else {
        tagNumber = static_cast<std::uint32_t>(toInteger(value, 0, 0xFFFFFFFFll));
      }
      break;
    default:
      break;
  }

  std::unique_ptr<DcmElement> created;
  DcmElement* element = attribute.element;
  if (!element || !append) {
    created = newElement(tag, vr);
    element = created.get();
  }
  const unsigned long position = append ? static_cast<unsigned long>(count) : 0;
  OFCondition result = EC_Normal;
  switch (kind) {
    case VrClass::MultiText:
    case VrClass::SingleText: {
      std::string combined = text;
      if (append) {
        OFString old;
        element->getOFStringArray(old, OFFalse);
        combined = std::string(old) + "\\" + text;
      }
      result = element->putString(combined.c_str(), static_cast<Uint32>(combined.size()));
      break;
    }
    case VrClass::Integer:
      switch (vr) {
        case EVR_SS:
          result = element->putSint16(static_cast<Sint16>(integer), position);
          break;
        case EVR_SL:
          result = element->putSint32(static_cast<Sint32>(integer), position);
          break;
        case EVR_UL:
        case EVR_up:
          result = element->putUint32(static_cast<Uint32>(integer), position);
          break;
        case EVR_SV:
          result = static_cast<DcmSigned64bitVeryLong*>(element)->putSint64(integer, position);
          break;
        case EVR_UV:
          result = static_cast<DcmUnsigned64bitVeryLong*>(element)->putUint64(static_cast<Uint64>(integer), position);
          break;
        default:
          result = element->putUint16(static_cast<Uint16>(integer), position);
          break;
      }
      break;
    case VrClass::Float:
      result = vr == EVR_FL ? element->putFloat32(static_cast<Float32>(real), position)
                            : element->putFloat64(real, position);
      break;
    case VrClass::Tag:
      result = element->putTagVal(
          DcmTagKey(static_cast<Uint16>(tagNumber >> 16), static_cast<Uint16>(tagNumber & 0xFFFF)), position);
      break;
    default:
      break;
  }
  if (result.bad()) fail(MC_INVALID_VALUE_FOR_VR);
  if (created) {
    removeElement(target.root(), container, tag);
    if (container.insert(created.get(), OFTrue).bad()) fail(MC_CANNOT_COMPLY);
    created.release();
  }
  target.root().state(&container).emptyAttributes.erase(tag);
}

void setNull(Target& target, const DcmTagKey& tag, const char* privateCreator) {
  Attribute attribute = findAttribute(target, tag);
  const DcmEVR vr = writeVr(attribute, privateCreator);
  std::unique_ptr<DcmElement> created =
      vr == EVR_SQ ? std::make_unique<DcmSequenceOfItems>(DcmTag(tag, EVR_SQ)) : newElement(tag, vr);
  removeElement(target.root(), *attribute.container, tag);
  if (attribute.container->insert(created.get(), OFTrue).bad()) fail(MC_CANNOT_COMPLY);
  created.release();
  target.root().state(attribute.container).emptyAttributes.erase(tag);
}

void setEmpty(Target& target, const DcmTagKey& tag, const char* privateCreator) {
  Attribute attribute = findAttribute(target, tag);
  const DcmEVR vr = writeVr(attribute, privateCreator);
  removeElement(target.root(), *attribute.container, tag);
  target.root().state(attribute.container).emptyAttributes[tag] = vr;
}

void deleteAttribute(Target& target, const DcmTagKey& tag) {
  Attribute attribute = findAttribute(target, tag);
  if (attribute.state == AttributeState::Absent) fail(MC_INVALID_TAG);
  removeElement(target.root(), *attribute.container, tag);
  target.root().state(attribute.container).emptyAttributes.erase(tag);
}

void addStandardAttribute(Target& target, const DcmTagKey& tag) {
  Attribute attribute = findAttribute(target, tag);
  if (attribute.state != AttributeState::Absent) fail(MC_TAG_ALREADY_EXISTS);
  target.root().state(attribute.container).emptyAttributes[tag] = dictionaryVr(*attribute.container, tag, nullptr);
}

void declareAttribute(Target& target, const DcmTagKey& tag, DcmEVR vr) {
  Attribute attribute = findAttribute(target, tag);
  if (attribute.state != AttributeState::Absent) fail(MC_TAG_ALREADY_EXISTS);
  target.root().state(attribute.container).emptyAttributes[tag] = vr;
}

// ---- Binary values ----------------------------------------------------------

std::optional<std::vector<Uint8>> receivedUidBytes(const Root& root, const Attribute& attribute) {
  if (!attribute.element || attribute.vr != EVR_UI) return std::nullopt;
  for (const Root::ReceivedUid& received : root.receivedUids) {
    if (received.element != attribute.element) continue;
    const Uint32 length = attribute.element->getLength();
    std::vector<Uint8> now(length);
    if (length > 0 && attribute.element->getPartialValue(now.data(), 0, length).bad()) return std::nullopt;
    if (now != received.asRead) return std::nullopt;  // set anew since it arrived
    std::vector<Uint8> bytes = received.asReceived;
    if (!bytes.empty() && (bytes.back() == '\0' || bytes.back() == ' ')) bytes.pop_back();
    return bytes;
  }
  return std::nullopt;
}

std::vector<Uint8> binaryValue(Attribute& attribute) {
  requireValues(attribute);
  DcmElement* e = attribute.element;
  if (isEncapsulatedPixelData(e)) fail(MC_DECOMPRESSOR_REQUIRED);
  const VrClass kind = classify(attribute.vr);
  if (kind == VrClass::Sequence) fail(MC_INCOMPATIBLE_VR);
  if (kind == VrClass::MultiText || kind == VrClass::SingleText) {
    OFString text;
    e->getOFStringArray(text, OFFalse);
    return std::vector<Uint8>(text.begin(), text.end());
  }
  const Uint32 length = e->getLength();
  const void* data = nullptr;
  OFCondition result = EC_IllegalCall;
  switch (attribute.vr) {
    case EVR_OW:
    case EVR_US:
    case EVR_SS:
    case EVR_xs:
    case EVR_lt: {
      Uint16* p = nullptr;
      result = e->getUint16Array(p);
      data = p;
      if (attribute.vr == EVR_SS) {
        Sint16* q = nullptr;
        result = e->getSint16Array(q);
        data = q;
      }
      break;
    }
    case EVR_OL:
    case EVR_UL:
    case EVR_up: {
      Uint32* p = nullptr;
      result = e->getUint32Array(p);
      data = p;
      break;
    }
    case EVR_SL: {
      Sint32* p = nullptr;
      result = e->getSint32Array(p);
      data = p;
      break;
    }
    case EVR_OF:
    case EVR_FL: {
      Float32* p = nullptr;
      result = e->getFloat32Array(p);
      data = p;
      break;
    }
    case EVR_OD:
    case EVR_FD: {
      Float64* p = nullptr;
      result = e->getFloat64Array(p);
      data = p;
      break;
    }
    case EVR_OV:
    case EVR_UV: {
      Uint64* p = nullptr;
      result = e->getUint64Array(p);
      data = p;
      break;
    }
    case EVR_SV: {
      Sint64* p = nullptr;
      result = e->getSint64Array(p);
      data = p;
      break;
    }
    case EVR_AT: {
      Uint16* p = nullptr;
      result = e->getUint16Array(p);
      data = p;
      break;
    }
    default: {
      Uint8* p = nullptr;
      result = e->getUint8Array(p);
      data = p;
      break;
    }
  }
  if (result.bad() || (!data && length > 0)) fail(MC_CANNOT_COMPLY);
  const auto* bytes = static_cast<const Uint8*>(data);
  return std::vector<Uint8>(bytes, bytes + length);
}

bool readsInParts(const Attribute& attribute) {
  if (attribute.state != AttributeState::Valued || !attribute.element) return false;
  if (isEncapsulatedPixelData(attribute.element)) return false;
  switch (attribute.vr) {
    case EVR_OB:
    case EVR_OW:
    case EVR_UN:
    case EVR_OF:
    case EVR_OD:
    case EVR_OL:
    case EVR_OV:
      return true;
    default:
      return false;
  }
}

void readValuePart(Attribute& attribute, std::uint32_t offset, std::uint32_t size, Uint8* out, DcmFileCache& cache) {
  if (!readsInParts(attribute)) fail(MC_INCOMPATIBLE_VR);
  if (size == 0) return;
  if (attribute.element->getPartialValue(out, offset, size, &cache, gLocalByteOrder).bad()) fail(MC_CANNOT_COMPLY);
}

void setBinaryValue(Target& target, const DcmTagKey& tag, const std::vector<Uint8>& bytes, const char* privateCreator) {
  Attribute attribute = findAttribute(target, tag);
  DcmEVR vr = writeVr(attribute, privateCreator);
  // Pixel data takes its word size from the image, whatever it held before.
  if (tag == DCM_PixelData || (attribute.element && isEncapsulatedPixelData(attribute.element)))
    vr = dictionaryVr(*attribute.container, tag, nullptr);
  if (classify(vr) != VrClass::Binary) fail(MC_INCOMPATIBLE_VR);
  std::size_t unit = 1;
  switch (vr) {
    case EVR_OW:
      unit = 2;
      break;
    case EVR_OF:
    case EVR_OL:
      unit = 4;
      break;
    case EVR_OD:
    case EVR_OV:
      unit = 8;
      break;
    default:
      break;
  }
  if (bytes.size() % unit != 0) fail(MC_CALLBACK_DATA_SIZE_UNEVEN);
  if (bytes.size() > limits::kMaxValueLength) fail(MC_LIMIT_EXCEEDED);
  std::unique_ptr<DcmElement> created = newElement(tag, vr);
  const auto count = static_cast<unsigned long>(bytes.size() / unit);
  OFCondition result = EC_Normal;
  switch (unit) {
    case 2: {
      std::vector<Uint16> words(count);
      std::memcpy(words.data(), bytes.data(), bytes.size());
      result = created->putUint16Array(words.data(), count);
      break;
    }
    case 4: {
      if (vr == EVR_OF) {
        std::vector<Float32> values(count);
        std::memcpy(values.data(), bytes.data(), bytes.size());
        result = created->putFloat32Array(values.data(), count);
      } else {
        std::vector<Uint32> values(count);
        std::memcpy(values.data(), bytes.data(), bytes.size());
        result = created->putUint32Array(values.data(), count);
      }
      break;
    }
    case 8: {
      if (vr == EVR_OD) {
        std::vector<Float64> values(count);
        std::memcpy(values.data(), bytes.data(), bytes.size());
        result = created->putFloat64Array(values.data(), count);
      } else {
        // OV: DCMTK offers no 64-bit array put on the base class.
        std::vector<Uint64> values(count);
        std::memcpy(values.data(), bytes.data(), bytes.size());
        result = static_cast<DcmUnsigned64bitVeryLong*>(created.get())->putUint64Array(values.data(), count);
      }
      break;
    }
    default:
      result = created->putUint8Array(bytes.data(), count);
      break;
  }
  if (result.bad()) fail(MC_INVALID_VALUE_FOR_VR);
  removeElement(target.root(), *attribute.container, tag);
  if (attribute.container->insert(created.get(), OFTrue).bad()) fail(MC_CANNOT_COMPLY);
  created.release();
  target.root().state(attribute.container).emptyAttributes.erase(tag);
}

// ---- Private blocks ---------------------------------------------------------

namespace {

std::string creatorText(const char* creator) {
  if (!creator) fail(MC_NULL_POINTER_PARM);
  std::string text = trimmed(creator);
  if (text.empty() || text.size() > 64 || text.find('\\') != std::string::npos) fail(MC_INVALID_PRIVATE_CODE);
  return text;
}

void requirePrivateGroup(Uint16 group) {
  if (group % 2 == 0 || group < 0x0009 || group == 0xFFFF) fail(MC_INVALID_GROUP);
}

}  // namespace

std::optional<Uint8> findPrivateBlock(DcmItem& container, Uint16 group, const std::string& creator) {
  for (DcmObject* o = container.nextInContainer(nullptr); o; o = container.nextInContainer(o)) {
    const DcmTag& tag = o->getTag();
    if (tag.getGroup() < group) continue;
    if (tag.getGroup() > group || tag.getElement() > 0x00FF) break;
    if (tag.getElement() < 0x0010) continue;
    OFString value;
    static_cast<DcmElement*>(o)->getOFString(value, 0, OFTrue);
    if (trimmed(std::string(value)) == creator) return static_cast<Uint8>(tag.getElement());
  }
  return std::nullopt;
}

Uint8 reservePrivateBlock(Target& target, Uint16 group, const std::string& creator) {
  requirePrivateGroup(group);
  DcmItem& container = target.containerFor(DcmTagKey(group, 0x0010));
  if (auto block = findPrivateBlock(container, group, creator)) return *block;
  auto& empties = target.root().state(&container).emptyAttributes;
  for (Uint16 slot = 0x10; slot <= 0xFF; ++slot) {
    const DcmTagKey key(group, slot);
    if (container.tagExists(key) || empties.count(key)) continue;
    auto element = std::make_unique<DcmLongString>(DcmTag(key, EVR_LO));
    if (element->putString(creator.c_str()).bad()) fail(MC_INVALID_PRIVATE_CODE);
    if (container.insert(element.get(), OFFalse).bad()) fail(MC_CANNOT_COMPLY);
    element.release();
    return static_cast<Uint8>(slot);
  }
  fail(MC_TOO_MANY_BLOCKS);
}

DcmTagKey privateTag(Target& target, const char* creator, unsigned short group, unsigned char offset) {
  const std::string code = creatorText(creator);
  requirePrivateGroup(group);
  DcmItem& container = target.containerFor(DcmTagKey(group, 0x0010));
  auto block = findPrivateBlock(container, group, code);
  if (!block) fail(MC_INVALID_GROUP);
  return DcmTagKey(group, static_cast<Uint16>(*block << 8 | offset));
}

void deletePrivateBlock(Target& target, Uint16 group, const std::string& creator) {
  requirePrivateGroup(group);
  DcmItem& container = target.containerFor(DcmTagKey(group, 0x0010));
  auto block = findPrivateBlock(container, group, creator);
  if (!block) fail(MC_INVALID_GROUP);
  const Uint16 first = static_cast<Uint16>(*block << 8);
  std::vector<DcmTagKey> doomed{DcmTagKey(group, *block)};
  for (DcmObject* o = container.nextInContainer(nullptr); o; o = container.nextInContainer(o)) {
    const DcmTag& tag = o->getTag();
    if (tag.getGroup() == group && tag.getElement() >= first && tag.getElement() <= (first | 0xFF))
      doomed.push_back(tag);
  }
  for (const auto& key : doomed) removeElement(target.root(), container, key);
  auto& empties = target.root().state(&container).emptyAttributes;
  std::erase_if(empties, [&](const auto& entry) {
    const DcmTagKey& key = entry.first;
    return key.getGroup() == group && key.getElement() >= first && key.getElement() <= (first | 0xFF);
  });
}

}  // namespace zyl::toolkit

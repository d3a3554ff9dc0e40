// GetProperty and SetProperty: the properties of the file object read into
// and written from the caller's variables, through GetValue's reader and
// SetValue's writer.
#include "properties.h"

#include <algorithm>
#include <cctype>
#include <cstddef>
#include <cstdint>
#include <string>

#include "file_method.h"
#include "file_methods.h"
#include "file_object.h"
#include "tags.h"
#include "toolkit/tags.h"
#include "transfer_syntax.h"
#include "whole_numbers.h"

namespace orvo::file {

std::optional<Property> propertyNamed(std::string_view name) {
  for (const Property& property : kProperties) {
    const std::string_view keyword = property.keyword;
    if (keyword.size() == name.size() && std::equal(keyword.begin(), keyword.end(), name.begin(), [](char k, char n) {
          return k == std::toupper(static_cast<unsigned char>(n));
        }))
      return property;
  }
  return std::nullopt;
}

namespace {

constexpr size_t kPropertyCount = kProperties.size();

// The caller's variables, one slot per property of the table (by reference).
struct PropertyVariables {
  HostVar* value[kPropertyCount];
  int given[kPropertyCount];
};

// One keyword per property; SetProperty has no NO_PIXEL_DATA.
template <bool Settable>
constexpr auto propertyKeywordTable() {
  constexpr size_t count = Settable ? kPropertyCount - 1 : kPropertyCount;
  std::array<HostKeyword, count + 1> table{};
  size_t n = 0;
  for (size_t i = 0; i < kPropertyCount; ++i) {
    if (Settable && kProperties[i].kind == PropertyKind::NoPixelData) continue;
    table[n++] = {kProperties[i].keyword, HOST_KW_REF, offsetof(PropertyVariables, value) + i * sizeof(HostVar*),
                  offsetof(PropertyVariables, given) + i * sizeof(int)};
  }
  table[n] = {nullptr, HOST_KW_INT, 0, 0};
  return table;
}
constexpr auto kGetTable = propertyKeywordTable<false>();
constexpr auto kSetTable = propertyKeywordTable<true>();

struct GetPropertyKeywords : PropertyVariables {
  static constexpr const HostKeyword* table = kGetTable.data();
};
struct SetPropertyKeywords : PropertyVariables {
  static constexpr const HostKeyword* table = kSetTable.data();
};

constexpr size_t indexOf(std::string_view keyword) {
  for (size_t i = 0; i < kPropertyCount; ++i)
    if (keyword == kProperties[i].keyword) return i;
  return kPropertyCount;
}
constexpr size_t kSopClassUid = indexOf("SOP_CLASS_UID");
constexpr size_t kSopInstanceUid = indexOf("SOP_INSTANCE_UID");
constexpr size_t kPixelMin = indexOf("PIXEL_MIN");
constexpr size_t kPixelMax = indexOf("PIXEL_MAX");
constexpr size_t kPixelRepresentation = indexOf("PIXEL_REPRESENTATION");
static_assert(kSopClassUid < kPropertyCount && kSopInstanceUid < kPropertyCount && kPixelMin < kPropertyCount &&
              kPixelMax < kPropertyCount && kPixelRepresentation < kPropertyCount);

// ---- GetProperty -------------------------------------------------------------

const char* withoutLeadingSpace(const char* name) { return name[0] == ' ' ? name + 1 : name; }

HostVar* propertyValue(const FileInstance& file, const Property& property) {
  switch (property.kind) {
    case PropertyKind::FileName:
      return HostStringToVar(fileName(file).c_str());
    case PropertyKind::NoPixelData:
      return HostTempInt(file.noPixelData != 0 ? 1 : 0);
    case PropertyKind::TransferSyntax: {
      const std::string uid = currentSyntaxUid(file);
      const char* name = withoutLeadingSpace(transferSyntaxName(currentSyntax(file)));
      void* data = nullptr;
      HostVar* pair = HostMakeTempVector(zyl::Type::String, 2, 1, &data);
      auto* texts = static_cast<zyl::HostString*>(data);
      zyl::hostStringAssign(texts[0], uid);
      zyl::hostStringAssign(texts[1], name);
      return pair;
    }
    case PropertyKind::Attribute:
      break;
  }
  return readAttribute(file, 0, property.tag);
}

HostVar* getPropertyWorker(MethodCall<FileInstance, GetPropertyKeywords>& call) {
  const FileInstance& self = call.self();
  const PropertyVariables& kw = call.keywords();
  // Each value reaches its variable as it is made: a later failure keeps it.
  for (size_t i = 0; i < kPropertyCount; ++i)
    if (kw.given[i]) HostVarCopy(propertyValue(self, kProperties[i]), kw.value[i]);
  return nullptr;
}

// ---- SetProperty -------------------------------------------------------------

// The text a UID variable stands for, as SetValue would write it.
std::string uidText(HostVar* value) {
  HostEnsureSimple(value);
  if (value->isScalarString()) return std::string(value->text());
  const HostTemporary converted(HostToString(value));
  std::string_view text = converted.get()->text();
  while (text.size() > 1 && text.front() == ' ') text.remove_prefix(1);
  return std::string(text);
}

// A SOP Class UID is accepted only when the toolkit knows a service for it.
void checkSopClass(const FileInstance& file, HostVar* value) {
  const std::string uid = uidText(value);
  char service[kUidBufferSize] = {};
  const MC_STATUS status = MC_Get_MergeCOM_Service(uid.c_str(), service, sizeof service);
  if (status != MC_NORMAL_COMPLETION)
    fail(kErrs4, "Warning: Unable to convert SOP Class UID to a service (file/SOPClassUID/err) ", fileName(file), uid,
         MC_Error_Message(status));
}

// Smallest and largest pixel values are signed in an image whose Pixel
// Representation is 1: the one this call sets, else the data set's.
bool signedPixels(const FileInstance& file, const PropertyVariables& kw) {
  if (kw.given[kPixelRepresentation]) {
    const WholeNumbers given = wholeNumbersIn(kw.value[kPixelRepresentation], {0, UINT16_MAX});
    return given.misfit.empty() && given.values.size() == 1 && given.values[0] == 1;
  }
  unsigned int representation = 0;
  return MC_Get_Value_To_UInt(file.msgFileId, zyl::tags::kPixelRepresentation, &representation) ==
             MC_NORMAL_COMPLETION &&
         representation == 1;
}

const char* propertyVr(size_t index, bool signedBounds) {
  const bool pixelBound = index == kPixelMin || index == kPixelMax;
  return pixelBound && signedBounds ? "SS" : kProperties[index].setVr;
}

void writeProperty(FileInstance& file, size_t index, HostVar* value, bool signedBounds) {
  const Property& property = kProperties[index];
  setAttributeValue(file, 0, property.tag, propertyVr(index, signedBounds), value);
  // The meta group names the same instance as the data set.
  if (index == kSopClassUid) setAttributeValue(file, 0, "0002,0002", "UI", value);
  if (index == kSopInstanceUid) setAttributeValue(file, 0, "0002,0003", "UI", value);
}

HostVar* setPropertyWorker(MethodCall<FileInstance, SetPropertyKeywords>& call) {
  FileInstance& self = call.self();
  const PropertyVariables& kw = call.keywords();
  const bool signedBounds = signedPixels(self, kw);
  // What is refused is refused before anything changes.
  for (size_t i = 0; i < kPropertyCount; ++i) {
    if (!kw.given[i]) continue;
    if (kProperties[i].kind == PropertyKind::FileName) fail(kErrs1, "Error: The Filename property is read only.");
    if (kProperties[i].kind == PropertyKind::TransferSyntax)
      fail(kErrs1,
           "Error: TransferSyntax is a get only property. To change the transfer syntax use the ChangeXferSyntax "
           "method.");
    if (i == kSopClassUid) checkSopClass(self, kw.value[i]);
    if (kProperties[i].setVr != nullptr)
      checkAttributeValue(self, kProperties[i].tag, propertyVr(i, signedBounds), kw.value[i]);
  }
  // Pixel Representation first: the pixel bounds are written for it.
  if (kw.given[kPixelRepresentation])
    writeProperty(self, kPixelRepresentation, kw.value[kPixelRepresentation], signedBounds);
  for (size_t i = 0; i < kPropertyCount; ++i)
    if (kw.given[i] && i != kPixelRepresentation) writeProperty(self, i, kw.value[i], signedBounds);
  return nullptr;
}

}  // namespace

MethodRows propertiesMethods() {
  static const MethodRow kRows[] = {
      procedureRow("ZYLFFORVO::GETPROPERTY", fileMethodEntry<GetPropertyKeywords, FileArgs<>, getPropertyWorker>, 1, 1,
                   HOST_ROUTINE_KEYWORDS),
      procedureRow("ZYLFFORVO::SETPROPERTY", fileMethodEntry<SetPropertyKeywords, FileArgs<>, setPropertyWorker>, 1, 1,
                   HOST_ROUTINE_KEYWORDS),
  };
  return kRows;
}

}  // namespace orvo::file

// ChangeTransferSyntax: a cloned or created file re-encoded into one of the
// eight syntaxes the object names, marked when it became lossy, and written.
#include <string>
#include <vector>

#include "file_method.h"
#include "file_methods.h"
#include "file_object.h"
#include "pixel_data.h"
#include "toolkit/tags.h"
#include "transfer_syntax.h"

namespace orvo::file {
namespace {

struct ChangeKeywords {
  int32_t lossy;
  static const HostKeyword table[];
};
const HostKeyword ChangeKeywords::table[] = {{"LOSSY", HOST_KW_INT, offsetof(ChangeKeywords, lossy), HOST_KW_NO_GIVEN},
                                             {nullptr, HOST_KW_INT, 0, 0}};

bool hasPixelData(const FileInstance& file) {
  unsigned long length = 0;
  return MC_Get_Value_Length(file.msgFileId, zyl::tags::kPixelData, 1, &length) != MC_INVALID_TAG;
}

// Image Type with its first value replaced by DERIVED, and Lossy Image
// Compression "01": what a lossy re-encoding must say about the image.
void markLossy(FileInstance& file) {
  const int id = file.msgFileId;
  // The flag is set whatever else the data set holds.
  MC_Add_Standard_Attribute(id, zyl::tags::kLossyImageCompression);
  zyl::Variable lossyFlag = zyl::Variable::ofString("01");
  setAttributeValue(file, 0, "0028,2110", "CS", &lossyFlag);
  int count = 0;
  if (MC_Get_Value_Count(id, zyl::tags::kImageType, &count) != MC_NORMAL_COMPLETION || count < 1) return;
  std::vector<std::string> values;
  for (int i = 0; i < count; ++i) {
    char value[256] = {};
    const MC_STATUS status = i == 0 ? MC_Get_Value_To_String(id, zyl::tags::kImageType, sizeof value, value)
                                    : MC_Get_Next_Value_To_String(id, zyl::tags::kImageType, sizeof value, value);
    values.emplace_back(status == MC_NORMAL_COMPLETION ? value : "");
  }
  values[0] = "DERIVED";
  MC_Set_Value_To_Empty(id, zyl::tags::kImageType);
  for (const std::string& v : values) MC_Set_Next_Value_From_String(id, zyl::tags::kImageType, v.c_str());
}

HostVar* changeWorker(MethodCall<FileInstance, ChangeKeywords>& call) {
  HostVar* uidArg = call.arg(1);
  const std::string uid = uidArg != nullptr && uidArg->isScalarString() ? std::string(uidArg->text()) : "";
  convertTransferSyntax(call.self(), uid, call.keywords().lossy != 0);
  return nullptr;
}

}  // namespace

void convertTransferSyntax(FileInstance& self, const std::string& uid, bool keepLossyMarks) {
  if (self.fileMode == kModeOpened)
    fail(kErrs2, "Error: Can not change the transfer syntax on file that was opened as a read only object ",
         fileName(self));
  const auto target = namedSyntax(uid);
  if (!target)
    fail(kErrs3, "Error: Failed unsupported or invalid transfer syntax uid. (syntax/file)", uid, fileName(self));
  MC_TRANSFER_SYNTAX number{};
  const MC_STATUS converted = MC_Get_Enum_From_Transfer_Syntax(uid.c_str(), &number);
  if (converted != MC_NORMAL_COMPLETION)
    fail(kErrs3, "Error: Invalid transfer syntax (file/err) ", fileName(self), errorText(converted));

  const int current = currentSyntax(self);
  const bool nativeToNative =
      !isDecodable(current) && !isUnsupportedCompression(current) && !isStandardCompressed(static_cast<int>(number));
  if (current != static_cast<int>(number) && (!hasPixelData(self) || nativeToNative)) {
    // Without pixels (a report, a plan), or between native syntaxes, only the
    // syntax the file is written in changes: the value keeps its bytes.
    zyl::Variable uidValue = zyl::Variable::ofString(uid);
    setAttributeValue(self, 0, "0002,0010", "UI", &uidValue);
  } else if (current != static_cast<int>(number)) {
    if (isLossy(current))
      fail(kErrs2,
           "Error: Existing format is lossy. Converting a lossy format to another format is prohibited. (file) ",
           fileName(self));
    const Packing sourcePacking = readImageDescription(self).packing;
    const PixelArray frames = readPixelData(self, false, 0, true);
    const HostTemporary owned(frames.array);
    // Should the re-encoding fail, the data set goes back to the syntax its
    // pixels are in, so that a later Commit cannot write a file whose meta
    // group names a syntax its Pixel Data is not in.
    struct RestoreSyntax {
      int id;
      std::string uid;
      bool armed = true;
      ~RestoreSyntax() {
        if (armed) MC_Set_Value_From_String(id, zyl::tags::kTransferSyntaxUid, uid.c_str());
      }
    } restore{self.msgFileId, currentSyntaxUid(self)};
    zyl::Variable uidValue = zyl::Variable::ofString(uid);
    setAttributeValue(self, 0, "0002,0010", "UI", &uidValue);
    ImageDescription image = readImageDescription(self);
    if (isDecodable(current)) {
      // Decoded pixels have every sample; the decoder names their colour space.
      image.packing = Packing::None;
      image.storedBytes = image.totalBytes;
    } else if (sourcePacking == Packing::Ybr422) {
      // The frames were read with every sample: full YCbCr from here on.
      zyl::Variable full = zyl::Variable::ofString("YBR_FULL");
      setAttributeValue(self, 0, "0028,0004", "CS", &full);
      image = readImageDescription(self);
    }
    storePixelData(self, image, reinterpret_cast<const unsigned char*>(frames.array->array()->data()));
    restore.armed = false;
    if (target->syntaxClass == SyntaxClass::Lossy && !keepLossyMarks) markLossy(self);
  }
  commitDataSet(self);
}

MethodRows syntaxChangeMethods() {
  static const MethodRow kRows[] = {
      procedureRow("ZYLFFORVO::CHANGETRANSFERSYNTAX", fileMethodEntry<ChangeKeywords, FileArgs<>, changeWorker>, 2, 2,
                   HOST_ROUTINE_KEYWORDS),
  };
  return kRows;
}

}  // namespace orvo::file

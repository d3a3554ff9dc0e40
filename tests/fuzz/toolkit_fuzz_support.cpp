#include "toolkit_fuzz_support.h"

#include "toolkit/file_values.h"

#include <cstdlib>
#include <string>

namespace zyl::fuzz {

int toolkitApplication() {
  static const int application = [] {
    MC_Set_MergeINI(ZYL_TOOLKIT_RESOURCES "/merge.ini");
    const MC_STATUS init = MC_Library_Initialization(nullptr, nullptr, nullptr);
    if (init != MC_NORMAL_COMPLETION && init != MC_LIBRARY_ALREADY_INITIALIZED) std::abort();
    int id = 0;
    if (MC_Register_Application(&id, "FUZZ") != MC_NORMAL_COMPLETION) std::abort();
    return id;
  }();
  return application;
}

namespace {

constexpr std::uint32_t kPixelData = 0x7FE00010;
constexpr unsigned kMaxFrames = 8;

MC_STATUS discard(int, std::uint32_t, void*, int, void*, int, int) { return MC_NORMAL_COMPLETION; }

void walkPixels(int id) {
  ZYL_Get_Value_Range_To_Function(id, kPixelData, 3, 1001, nullptr, discard);
  MC_Get_Value_To_Function(id, kPixelData, nullptr, discard);
  MC_Register_Compression_Callbacks(id, MC_Standard_Compressor, MC_Standard_Decompressor);
  MC_STATUS s = MC_Get_Encapsulated_Value_To_Function(id, kPixelData, nullptr, discard);
  for (unsigned frame = 1; frame < kMaxFrames && s == MC_END_OF_FRAME; ++frame)
    s = MC_Get_Next_Encapsulated_Value_To_Function(id, kPixelData, nullptr, discard);
}

}  // namespace

void walkObject(int id) {
  std::uint32_t tag = 0;
  MC_VR vr = MC_VR_UNKNOWN;
  int count = 0;
  std::vector<std::uint32_t> tags;
  std::vector<MC_VR> vrs;
  for (MC_STATUS s = MC_Get_First_Attribute(id, &tag, &vr, &count); s == MC_NORMAL_COMPLETION;
       s = MC_Get_Next_Attribute(id, &tag, &vr, &count)) {
    tags.push_back(tag);
    vrs.push_back(vr);
  }
  char text[1024];
  for (std::size_t i = 0; i < tags.size(); ++i) {
    if (tags[i] == kPixelData) {
      walkPixels(id);
      continue;
    }
    if (vrs[i] == MC_VR_SQ) {
      int item = 0;
      for (MC_STATUS s = MC_Get_Value_To_Int(id, tags[i], &item); s == MC_NORMAL_COMPLETION;
           s = MC_Get_Next_Value_To_Int(id, tags[i], &item))
        walkObject(item);
      continue;
    }
    unsigned long length = 0;
    MC_Get_Value_Length(id, tags[i], 1, &length);
    for (MC_STATUS s = MC_Get_Value_To_String(id, tags[i], sizeof text, text); s == MC_NORMAL_COMPLETION;
         s = MC_Get_Next_Value_To_String(id, tags[i], sizeof text, text)) {
    }
  }
}

static MC_STATUS nextPiece(PieceReader& r, int isFirst, int* size, void** data, int* isLast) {
  if (isFirst) r.offset = r.next = 0;
  const std::size_t wanted = r.sizes[r.next++ % r.sizes.size()];
  const std::size_t n = std::min(wanted, r.size - r.offset);
  *data = const_cast<std::uint8_t*>(r.bytes + r.offset);
  *size = static_cast<int>(n);
  r.offset += n;
  *isLast = r.offset >= r.size;
  return MC_NORMAL_COMPLETION;
}

MC_STATUS pieceFileReader(const char*, void* userInfo, int* size, void** data, int isFirst, int* isLast) {
  return nextPiece(*static_cast<PieceReader*>(userInfo), isFirst, size, data, isLast);
}

MC_STATUS pieceStreamReader(int, void* userInfo, int isFirst, int* size, void** data, int* isLast) {
  return nextPiece(*static_cast<PieceReader*>(userInfo), isFirst, size, data, isLast);
}

}  // namespace zyl::fuzz

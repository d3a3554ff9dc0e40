// libFuzzer target: bytes as the data set of a received message, assembled
// from PDV fragments as the storage service hands them to
// MC_Stream_To_Message; everything read is walked and the message is written
// as a file.
#include "toolkit_fuzz_support.h"

#include <cstdlib>
#include <vector>

namespace {

constexpr MC_TRANSFER_SYNTAX kSyntaxes[] = {MC_TS_IMPLICIT_LITTLE_ENDIAN, MC_TS_EXPLICIT_LITTLE_ENDIAN,
                                            MC_TS_EXPLICIT_BIG_ENDIAN,    MC_TS_DEFLATED_EXPLICIT_LITTLE_ENDIAN,
                                            MC_TS_JPEG_BASELINE,          MC_TS_JPEG_LOSSLESS_SV1,
                                            MC_TS_JPEG2000_LOSSLESS_ONLY, MC_TS_RLE};

MC_STATUS discard(const char*, void*, int, void*, int, int) { return MC_NORMAL_COMPLETION; }

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  zyl::fuzz::toolkitApplication();
  if (size < 2) return 0;
  // Byte 0: the syntax; byte 1: the fragment size in 2-byte units (PDVs
  // carry even lengths); a PDU of 64 KiB holds at most that much.
  const MC_TRANSFER_SYNTAX syntax = kSyntaxes[data[0] % (sizeof kSyntaxes / sizeof kSyntaxes[0])];
  const std::size_t fragment = data[1] == 0 ? 65534 : std::size_t{data[1]} * 2;
  data += 2;
  size -= 2;
  int id = 0;
  if (MC_Open_Empty_Message(&id) != MC_NORMAL_COMPLETION) std::abort();
  zyl::fuzz::PieceReader reader;
  reader.bytes = data;
  reader.size = size;
  reader.sizes = {fragment};
  if (MC_Stream_To_Message(id, 0, 0xFFFFFFFFu, syntax, &reader, zyl::fuzz::pieceStreamReader) == MC_NORMAL_COMPLETION) {
    zyl::fuzz::walkObject(id);
    int file = 0;
    if (MC_Message_To_File(id, "received.dcm") == MC_NORMAL_COMPLETION) {
      file = id;
      id = 0;
      MC_Write_File(file, nullptr, discard);
      MC_Free_File(file);
    }
  }
  if (id) MC_Free_Message(id);
  return 0;
}

// libFuzzer target: bytes as a DICOM file through MC_Open_File (or up to a
// tag), in pieces whose sizes the input's first bytes choose, or from a file
// by path with long values left in it; everything read is walked, and a file
// that opens is written back and must open again.
#include "toolkit_fuzz_support.h"

#include "toolkit/file_values.h"

#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

#include <unistd.h>

namespace {

MC_STATUS collect(const char*, void* userInfo, int size, void* data, int, int) {
  auto& out = *static_cast<std::vector<std::uint8_t>*>(userInfo);
  const auto* p = static_cast<const std::uint8_t*>(data);
  out.insert(out.end(), p, p + size);
  return MC_NORMAL_COMPLETION;
}

// The input as a file of this process's own, opened by path.
MC_STATUS openPath(int application, int fileId, const std::uint8_t* bytes, std::size_t size, std::uint32_t leaveAbove) {
  static const std::string path = "/tmp/fuzz_file_reader_" + std::to_string(getpid()) + ".dcm";
  {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes), static_cast<std::streamsize>(size));
    if (!out) std::abort();
  }
  return ZYL_Open_File_Leaving_Values(application, fileId, path.c_str(), leaveAbove);
}

MC_STATUS openBytes(int application, int fileId, const std::uint8_t* bytes, std::size_t size,
                    std::vector<std::size_t> pieces, bool uptoPixels) {
  zyl::fuzz::PieceReader reader;
  reader.bytes = bytes;
  reader.size = size;
  reader.sizes = std::move(pieces);
  return uptoPixels ? MC_Open_File_Upto_Tag(application, fileId, &reader, 0x7FE00000u, zyl::fuzz::pieceFileReader)
                    : MC_Open_File(application, fileId, &reader, zyl::fuzz::pieceFileReader);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const int application = zyl::fuzz::toolkitApplication();
  if (size < 3) return 0;
  // Byte 0: bit 0, read up to the pixels or not; bit 1, by path instead, with
  // values over 16 to 2048 bytes (bits 2-4) left in the file; bytes 1-2: two
  // piece sizes (1 to 256 and 1 to 65536).
  const bool uptoPixels = data[0] & 1;
  const bool byPath = data[0] & 2;
  const std::uint32_t leaveAbove = 16u << ((data[0] >> 2) & 7);
  const std::vector<std::size_t> pieces{std::size_t{data[1]} + 1, (std::size_t{data[2]} << 8) + 1};
  data += 3;
  size -= 3;
  int id = 0;
  if (MC_Create_Empty_File(&id, "fuzz.dcm") != MC_NORMAL_COMPLETION) std::abort();
  const MC_STATUS opened = byPath ? openPath(application, id, data, size, leaveAbove)
                                  : openBytes(application, id, data, size, pieces, uptoPixels);
  if (opened == MC_NORMAL_COMPLETION) {
    zyl::fuzz::walkObject(id);
    std::vector<std::uint8_t> written;
    if (MC_Write_File(id, &written, collect) == MC_NORMAL_COMPLETION) {
      // What the toolkit writes, it reads.
      int again = 0;
      if (MC_Create_Empty_File(&again, "again.dcm") != MC_NORMAL_COMPLETION) std::abort();
      if (openBytes(application, again, written.data(), written.size(), {4096}, false) != MC_NORMAL_COMPLETION)
        std::abort();
      MC_Free_File(again);
    }
  }
  MC_Free_File(id);
  return 0;
}

// libFuzzer target: the structural scan that lets the storage service write a
// received data set as it arrives. Bytes go to DataSetScan in PDV-like
// fragments, each in a buffer of its own that is gone once it has been
// handled (as a PDU's is). What the scan accepts must be a data set the
// toolkit reads back in that syntax: its output is what the depot file holds.
#include "toolkit_fuzz_support.h"

// Not through an include path: the folder's limits.h would hide the system's.
#include "../../platform/toolkit/src/scan.h"

#include <cstdio>
#include <cstdlib>
#include <memory>
#include <vector>

namespace {

struct Syntax {
  MC_TRANSFER_SYNTAX number;
  E_TransferSyntax dcmtk;
};
constexpr Syntax kSyntaxes[] = {{MC_TS_IMPLICIT_LITTLE_ENDIAN, EXS_LittleEndianImplicit},
                                {MC_TS_EXPLICIT_LITTLE_ENDIAN, EXS_LittleEndianExplicit},
                                {MC_TS_EXPLICIT_BIG_ENDIAN, EXS_BigEndianExplicit},
                                {MC_TS_JPEG_BASELINE, EXS_JPEGProcess1}};

[[noreturn]] void disagree(const char* what, MC_STATUS status) {
  std::fprintf(stderr, "fuzz_data_set_scan: %s (%s)\n", what, MC_Error_Message(status));
  std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  zyl::fuzz::toolkitApplication();
  if (size < 2) return 0;
  const Syntax syntax = kSyntaxes[data[0] % (sizeof kSyntaxes / sizeof kSyntaxes[0])];
  // Byte 1: the fragment size (0: a whole PDU's worth); every other fragment
  // is a short one, so that headers are often split.
  const std::size_t fragment = data[1] == 0 ? 65534 : data[1];
  const std::size_t sizes[] = {fragment, 1 + fragment % 7};
  data += 2;
  size -= 2;

  zyl::toolkit::DataSetScan scan(syntax.dcmtk);
  std::vector<std::uint8_t> written;
  std::vector<zyl::toolkit::DataSetScan::Piece> pieces;
  bool refused = false;
  for (std::size_t offset = 0, next = 0; offset < size && !refused; ++next) {
    const std::size_t length = std::min(sizes[next % 2], size - offset);
    const auto buffer = std::make_unique<std::uint8_t[]>(length);
    std::copy(data + offset, data + offset + length, buffer.get());
    offset += length;
    // The scan stops once at the end of the head; the caller goes on.
    for (std::size_t used = 0; used < length;) {
      const std::size_t taken = scan.consume(buffer.get() + used, length - used, pieces);
      if (taken > length - used) disagree("took more bytes than given", MC_NORMAL_COMPLETION);
      if (taken == 0) {
        if (scan.failure() == MC_NORMAL_COMPLETION) disagree("took nothing without a failure", MC_NORMAL_COMPLETION);
        refused = true;
        break;
      }
      used += taken;
    }
    for (const auto& piece : pieces) written.insert(written.end(), piece.data, piece.data + piece.size);
    pieces.clear();
    scan.clearOwned();
  }
  if (refused || !scan.finish()) return 0;
  if (!scan.headComplete() || scan.headDataSetLength() > size) disagree("head beyond the data", MC_NORMAL_COMPLETION);

  int id = 0;
  if (MC_Open_Empty_Message(&id) != MC_NORMAL_COMPLETION) std::abort();
  zyl::fuzz::PieceReader reader;
  reader.bytes = written.data();
  reader.size = written.size();
  reader.sizes = {65536};
  const MC_STATUS read = MC_Stream_To_Message(id, 0, 0xFFFFFFFFu, syntax.number, &reader, zyl::fuzz::pieceStreamReader);
  MC_Free_Message(id);
  if (read != MC_NORMAL_COMPLETION) disagree("the scan accepted what the toolkit cannot read back", read);
  return 0;
}

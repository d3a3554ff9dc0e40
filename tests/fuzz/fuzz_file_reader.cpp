// libFuzzer target: bytes as a Part 10 file through MC_Open_File (or up to a
// tag), in pieces whose sizes the input's first bytes choose; everything read
// is walked, and a file that opens is written back and must open again.
#include "toolkit_fuzz_support.h"

#include <cstdlib>
#include <vector>

namespace {

MC_STATUS collect(const char*, void* userInfo, int size, void* data, int, int) {
    auto& out = *static_cast<std::vector<std::uint8_t>*>(userInfo);
    const auto* p = static_cast<const std::uint8_t*>(data);
    out.insert(out.end(), p, p + size);
    return MC_NORMAL_COMPLETION;
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
    // Byte 0: read up to the pixels or not; bytes 1-2: two piece sizes (1 to 256 and 1 to 65536).
    const bool uptoPixels = data[0] & 1;
    const std::vector<std::size_t> pieces{std::size_t{data[1]} + 1, (std::size_t{data[2]} << 8) + 1};
    data += 3;
    size -= 3;
    int id = 0;
    if (MC_Create_Empty_File(&id, "fuzz.dcm") != MC_NORMAL_COMPLETION) std::abort();
    if (openBytes(application, id, data, size, pieces, uptoPixels) == MC_NORMAL_COMPLETION) {
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

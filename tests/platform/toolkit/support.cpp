#include "support.h"

#include "toolkit/file_values.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <fstream>
#include <iterator>

namespace zyl::toolkit::test {

void initToolkit() {
  static const int application = [] {
    const std::string ini = std::string(ZYL_TOOLKIT_RESOURCES) + "/merge.ini";
    const MC_STATUS set = MC_Set_MergeINI(ini.c_str());
    EXPECT_TRUE(set == MC_NORMAL_COMPLETION || set == MC_LIBRARY_ALREADY_INITIALIZED);
    const MC_STATUS init = MC_Library_Initialization(nullptr, nullptr, nullptr);
    EXPECT_TRUE(init == MC_NORMAL_COMPLETION || init == MC_LIBRARY_ALREADY_INITIALIZED);
    int id = 0;
    EXPECT_EQ(MC_Register_Application(&id, "TOOLKIT_TEST"), MC_NORMAL_COMPLETION);
    return id;
  }();
  (void)application;
}

int applicationId() {
  initToolkit();
  int id = 0;
  MC_Register_Application(&id, "TOOLKIT_TEST");  // already registered: gives the id
  return id;
}

std::vector<std::uint8_t> readBytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::vector<std::uint8_t>(std::istreambuf_iterator<char>(in), {});
}

static MC_STATUS nextChunk(MemoryReader& reader, int isFirst, int* size, void** data, int* isLast) {
  if (isFirst) reader.offset = 0;
  ++reader.calls;
  const std::size_t n = std::min(reader.chunkSize, reader.bytes->size() - reader.offset);
  // A fresh copy per call: the toolkit must not rely on earlier chunks.
  reader.chunk.assign(reader.bytes->begin() + static_cast<std::ptrdiff_t>(reader.offset),
                      reader.bytes->begin() + static_cast<std::ptrdiff_t>(reader.offset + n));
  reader.offset += n;
  *size = static_cast<int>(n);
  *data = reader.chunk.data();
  *isLast = reader.offset >= reader.bytes->size();
  return MC_NORMAL_COMPLETION;
}

MC_STATUS memoryFileReader(const char*, void* userInfo, int* size, void** data, int isFirst, int* isLast) {
  return nextChunk(*static_cast<MemoryReader*>(userInfo), isFirst, size, data, isLast);
}

MC_STATUS memoryStreamReader(int, void* userInfo, int isFirst, int* size, void** data, int* isLast) {
  return nextChunk(*static_cast<MemoryReader*>(userInfo), isFirst, size, data, isLast);
}

MC_STATUS memoryFileWriter(const char*, void* userInfo, int size, void* data, int isFirst, int isLast) {
  auto& writer = *static_cast<MemoryWriter*>(userInfo);
  if (isFirst) writer.sawFirst = true;
  if (writer.sawLast) return MC_CANNOT_COMPLY;  // nothing may follow the last block
  writer.sawLast = isLast != 0;
  ++writer.calls;
  const auto* p = static_cast<const std::uint8_t*>(data);
  writer.bytes.insert(writer.bytes.end(), p, p + size);
  return MC_NORMAL_COMPLETION;
}

MC_STATUS openFromBytes(const std::vector<std::uint8_t>& bytes, std::size_t chunkSize, int& fileId) {
  initToolkit();
  MC_STATUS s = MC_Create_Empty_File(&fileId, "memory.dcm");
  if (s != MC_NORMAL_COMPLETION) return s;
  MemoryReader reader;
  reader.bytes = &bytes;
  reader.chunkSize = chunkSize;
  s = MC_Open_File(applicationId(), fileId, &reader, memoryFileReader);
  if (s != MC_NORMAL_COMPLETION) {
    MC_Free_File(fileId);
    fileId = 0;
  }
  return s;
}

MC_STATUS openFromPath(const std::vector<std::uint8_t>& bytes, std::uint32_t leaveAbove, int& fileId) {
  initToolkit();
  static const zyl::test::TempDir folder("zyltoolkit");
  const std::string path = folder.file("open.dcm");
  {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    if (!out) return MC_CANNOT_COMPLY;
  }
  MC_STATUS s = MC_Create_Empty_File(&fileId, path.c_str());
  if (s != MC_NORMAL_COMPLETION) return s;
  s = ZYL_Open_File_Leaving_Values(applicationId(), fileId, path.c_str(), leaveAbove);
  if (s != MC_NORMAL_COMPLETION) {
    MC_Free_File(fileId);
    fileId = 0;
  }
  return s;
}

MC_STATUS writeToBytes(int fileId, std::vector<std::uint8_t>& bytes) {
  MemoryWriter writer;
  const MC_STATUS s = MC_Write_File(fileId, &writer, memoryFileWriter);
  if (s == MC_NORMAL_COMPLETION && (!writer.sawFirst || !writer.sawLast)) return MC_CANNOT_COMPLY;
  bytes = std::move(writer.bytes);
  return s;
}

}  // namespace zyl::toolkit::test

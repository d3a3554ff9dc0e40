// Files opened by path with their long values left on disk: read as a
// caller's reader reads them, and never from a file that changed since.
#include "support.h"

#include "toolkit/file_values.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include <unistd.h>

namespace zyl::toolkit::test {
namespace {

namespace fs = std::filesystem;
constexpr std::uint32_t kPixelData = 0x7FE00010;

std::vector<std::uint8_t> pixelBytes(int id, MC_STATUS& status) {
  unsigned long length = 0;
  status = MC_Get_Value_Length(id, kPixelData, 1, &length);
  std::vector<std::uint8_t> bytes(length);
  int returned = 0;
  if (status == MC_NORMAL_COMPLETION)
    status = MC_Get_Value_To_Buffer(id, kPixelData, static_cast<int>(bytes.size()), bytes.data(), &returned);
  bytes.resize(static_cast<std::size_t>(returned));
  return bytes;
}

// Byte for byte what the toolkit writes of a file read through a reader,
// whatever stays on disk: native, big endian, multi-frame, encapsulated
// fragments, and a deflated data set (whose values cannot stay on disk).
TEST(ToolkitFileValues, WrittenAsReadThroughAReader) {
  initToolkit();
  for (const char* name : {"CT_small.dcm", "MR_small_bigendian.dcm", "rtdose.dcm", "JPEG2000.dcm", "image_dfl.dcm",
                           "SC_rgb_rle_2frame.dcm"}) {
    SCOPED_TRACE(name);
    const auto bytes = readBytes(std::string(ZYL_PYDICOM_FILES) + "/" + name);
    ASSERT_FALSE(bytes.empty());
    int byReader = 0;
    ASSERT_EQ(openFromBytes(bytes, 4096, byReader), MC_NORMAL_COMPLETION);
    std::vector<std::uint8_t> expected;
    ASSERT_EQ(writeToBytes(byReader, expected), MC_NORMAL_COMPLETION);
    MC_Free_File(byReader);
    for (std::uint32_t leaveAbove : {0u, 64u, 1u << 20}) {
      int byPath = 0;
      ASSERT_EQ(openFromPath(bytes, leaveAbove, byPath), MC_NORMAL_COMPLETION) << leaveAbove;
      std::vector<std::uint8_t> written;
      ASSERT_EQ(writeToBytes(byPath, written), MC_NORMAL_COMPLETION);
      EXPECT_TRUE(written == expected) << leaveAbove;
      MC_Free_File(byPath);
    }
  }
}

// A value left in a file is read from that file only: once the file is
// replaced or rewritten in place, reading it fails. Written out first (as
// when the object replaces its own file), the values no longer need the file.
TEST(ToolkitFileValues, AChangedFileFailsRatherThanGivingOtherBytes) {
  initToolkit();
  const auto bytes = readBytes(std::string(ZYL_PYDICOM_FILES) + "/CT_small.dcm");
  const std::string path = ::testing::TempDir() + "/zyltoolkit_" + std::to_string(getpid()) + "_changed.dcm";
  auto writeFile = [&](const std::vector<std::uint8_t>& content) {
    const std::string temporary = path + ".new";
    std::ofstream(temporary, std::ios::binary)
        .write(reinterpret_cast<const char*>(content.data()), static_cast<std::streamsize>(content.size()));
    fs::rename(temporary, path);
  };
  auto open = [&](int& id) {
    ASSERT_EQ(MC_Create_Empty_File(&id, path.c_str()), MC_NORMAL_COMPLETION);
    ASSERT_EQ(ZYL_Open_File_Leaving_Values(applicationId(), id, path.c_str(), 64), MC_NORMAL_COMPLETION);
  };
  std::vector<std::uint8_t> changed = bytes;
  changed[changed.size() - 2] ^= 0xFF;  // a pixel

  writeFile(bytes);
  int id = 0;
  open(id);
  MC_STATUS status{};
  const auto original = pixelBytes(id, status);
  ASSERT_EQ(status, MC_NORMAL_COMPLETION);
  MC_Free_File(id);

  for (bool inPlace : {false, true}) {
    SCOPED_TRACE(inPlace);
    writeFile(bytes);
    open(id);
    if (inPlace) {
      std::fstream file(path, std::ios::in | std::ios::out | std::ios::binary);
      file.seekp(static_cast<std::streamoff>(changed.size() - 2));
      file.put(static_cast<char>(changed[changed.size() - 2]));
    } else {
      writeFile(changed);
    }
    const auto read = pixelBytes(id, status);
    EXPECT_NE(status, MC_NORMAL_COMPLETION);
    EXPECT_NE(read.size(), original.size());
    MC_Free_File(id);
  }

  writeFile(bytes);
  open(id);
  std::vector<std::uint8_t> written;
  ASSERT_EQ(writeToBytes(id, written), MC_NORMAL_COMPLETION);
  writeFile(changed);
  EXPECT_EQ(pixelBytes(id, status), original);
  EXPECT_EQ(status, MC_NORMAL_COMPLETION);
  MC_Free_File(id);
  fs::remove(path);
}

}  // namespace
}  // namespace zyl::toolkit::test

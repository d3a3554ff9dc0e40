// Complete files of odd total length, read through a reader that pads an odd
// last chunk with one zero byte (as the module's reader does), against
// pydicom's reading of the same bytes.
#include "support.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

namespace zyl::toolkit::test {
namespace {

std::string corpusFile(const std::string& name) { return std::string(ZYL_PYDICOM_FILES) + "/" + name; }

// Hands out chunks, the last one padded to an even size with a zero byte.
struct PaddingReader {
  const std::vector<std::uint8_t>* bytes = nullptr;
  std::size_t chunkSize = 4096;
  std::size_t offset = 0;
  std::vector<std::uint8_t> chunk;
};
MC_STATUS paddingReader(const char*, void* userInfo, int* size, void** data, int isFirst, int* isLast) {
  auto& r = *static_cast<PaddingReader*>(userInfo);
  if (isFirst) r.offset = 0;
  const std::size_t n = std::min(r.chunkSize, r.bytes->size() - r.offset);
  r.chunk.assign(r.bytes->begin() + static_cast<std::ptrdiff_t>(r.offset),
                 r.bytes->begin() + static_cast<std::ptrdiff_t>(r.offset + n));
  r.offset += n;
  *isLast = r.offset >= r.bytes->size();
  if (r.chunk.size() % 2) r.chunk.push_back(0);
  *size = static_cast<int>(r.chunk.size());
  *data = r.chunk.data();
  return MC_NORMAL_COMPLETION;
}

// Replaces the one occurrence of `from` by `to`.
std::vector<std::uint8_t> replaced(std::vector<std::uint8_t> bytes, const std::string& from, const std::string& to) {
  const std::string text(bytes.begin(), bytes.end());
  const std::size_t at = text.find(from);
  EXPECT_NE(at, std::string::npos);
  EXPECT_EQ(text.find(from, at + 1), std::string::npos);
  std::string result = text.substr(0, at) + to + text.substr(at + from.size());
  return std::vector<std::uint8_t>(result.begin(), result.end());
}

std::string le32(std::uint32_t x) {
  return std::string{static_cast<char>(x), static_cast<char>(x >> 8), static_cast<char>(x >> 16),
                     static_cast<char>(x >> 24)};
}

// What pydicom reads at `path` for a Python expression over `ds` (hex of bytes).
std::string pydicomValue(const std::string& path, const std::string& expression) {
  const std::string command =
      "/usr/bin/python3 -c \"import pydicom,sys; ds = pydicom.dcmread(sys.argv[1]); "
      "v = " +
      expression +
      "; v = v if isinstance(v, bytes) else str(v).encode(); "
      "print(v.hex())\" '" +
      path + "' 2>/dev/null";
  std::unique_ptr<FILE, decltype(&pclose)> pipe(popen(command.c_str(), "r"), pclose);
  if (!pipe) return "unreadable";
  std::string hex;
  char piece[4096];
  while (fgets(piece, sizeof piece, pipe.get())) hex += piece;
  while (!hex.empty() && (hex.back() == '\n' || hex.back() == '\r')) hex.pop_back();
  if (hex.empty()) return "unreadable";
  std::string bytes;
  for (std::size_t i = 0; i + 1 < hex.size(); i += 2)
    bytes.push_back(static_cast<char>(std::stoi(hex.substr(i, 2), nullptr, 16)));
  return bytes;
}

struct Path {
  std::vector<std::uint32_t> sequences;  // each sequence's first item, in turn
  std::uint32_t tag;
};

// The value at `path` as the toolkit gives it: text for text, bytes otherwise.
std::string toolkitValue(int id, const Path& path, bool text) {
  int container = id;
  for (std::uint32_t sequence : path.sequences)
    if (MC_Get_Value_To_Int(container, sequence, &container) != MC_NORMAL_COMPLETION) return "no item";
  std::vector<char> buffer(1 << 16);
  if (text) {
    if (MC_Get_Value_To_String(container, path.tag, static_cast<int>(buffer.size()), buffer.data()) !=
        MC_NORMAL_COMPLETION)
      return "no value";
    return buffer.data();
  }
  int length = 0;
  if (MC_Get_Value_To_Buffer(container, path.tag, static_cast<int>(buffer.size()), buffer.data(), &length) !=
      MC_NORMAL_COMPLETION)
    return "no value";
  return std::string(buffer.data(), static_cast<std::size_t>(length));
}

struct OddCase {
  const char* name;
  std::vector<std::uint8_t> bytes;
  Path path;
  std::string pydicomExpression;
  bool text;
};

TEST(ToolkitOddLength, CompleteOddLengthFilesReadAsPydicomReadsThem) {
  if (std::system("/usr/bin/python3 -c 'import pydicom' 2>/dev/null") != 0)
    GTEST_SKIP() << "/usr/bin/python3 with pydicom is not installed";
  initToolkit();
  const auto ct = readBytes(corpusFile("CT_small.dcm"));
  // Patient ID "1CT1" becomes "1CT": 39205 bytes.
  const auto oddPatientId = replaced(ct, std::string("\x10\x00\x20\x00LO\x04\x00", 8) + "1CT1",
                                     std::string("\x10\x00\x20\x00LO\x03\x00", 8) + "1CT");
  // In the item of (0010,1002), "ABCD1234" becomes "ABCD123"; item and sequence shrink by one.
  const std::string sequenceHeader = std::string("\x10\x00\x02\x10SQ\x00\x00", 8);
  const std::string itemTag = std::string("\xfe\xff\x00\xe0", 4);
  auto oddInSequence =
      replaced(ct, sequenceHeader + le32(72) + itemTag + le32(28), sequenceHeader + le32(71) + itemTag + le32(27));
  oddInSequence =
      replaced(oddInSequence, std::string("LO\x08\x00", 4) + "ABCD1234", std::string("LO\x07\x00", 4) + "ABCD123");
  const std::vector<OddCase> cases = {
      {"odd Patient ID", oddPatientId, {{}, 0x00100020}, "ds.PatientID", true},
      {"odd Pixel Data after it", oddPatientId, {{}, 0x7FE00010}, "ds.PixelData", false},
      {"odd value in a sequence item",
       oddInSequence,
       {{0x00101002}, 0x00100020},
       "ds[0x00101002][0][0x00100020].value",
       true},
      // A private sequence in a private sequence, "Nested SQ" (9 bytes) last in the outer item.
      {"private sequence nested in another",
       readBytes(corpusFile("nested_priv_SQ.dcm")),
       {{0x00010001, 0x00010001}, 0x00010001},
       "ds[0x00010001][0][0x00010001][0][0x00010001].value",
       false},
      {"odd private value after it",
       readBytes(corpusFile("nested_priv_SQ.dcm")),
       {{0x00010001}, 0x00010002},
       "ds[0x00010001][0][0x00010002].value",
       false},
  };
  const zyl::test::TempDir folder("zyl_odd");
  for (const OddCase& c : cases) {
    SCOPED_TRACE(c.name);
    ASSERT_EQ(c.bytes.size() % 2, 1u);
    const std::string path = folder.file("odd.dcm");
    std::ofstream(path, std::ios::binary)
        .write(reinterpret_cast<const char*>(c.bytes.data()), static_cast<std::streamsize>(c.bytes.size()));
    std::string expected = pydicomValue(path, c.pydicomExpression);
    ASSERT_NE(expected, "unreadable");
    // DCMTK (and dcmdump) keep an odd binary value with its zero pad byte.
    if (!c.text && expected.size() % 2) expected.push_back('\0');
    for (std::size_t chunk : {std::size_t{4096}, c.bytes.size()}) {
      SCOPED_TRACE(chunk);
      int id = 0;
      ASSERT_EQ(MC_Create_Empty_File(&id, path.c_str()), MC_NORMAL_COMPLETION);
      PaddingReader reader;
      reader.bytes = &c.bytes;
      reader.chunkSize = chunk;
      ASSERT_EQ(MC_Open_File(applicationId(), id, &reader, paddingReader), MC_NORMAL_COMPLETION);
      const std::string value = toolkitValue(id, c.path, c.text);
      const auto differ = std::mismatch(value.begin(), value.end(), expected.begin(), expected.end());
      EXPECT_TRUE(value == expected) << value.size() << " bytes against " << expected.size() << ", first difference at "
                                     << (differ.first - value.begin());
      MC_Free_File(id);
    }
  }
}

// The pad byte is forgiven only as one zero byte after complete data.
TEST(ToolkitOddLength, OnlyALoneZeroByteAfterCompleteDataIsForgiven) {
  auto bytes = readBytes(corpusFile("CT_small.dcm"));
  for (const std::vector<std::uint8_t>& tail : {std::vector<std::uint8_t>{0x01}, std::vector<std::uint8_t>{0, 0, 0}}) {
    auto withTail = bytes;
    withTail.insert(withTail.end(), tail.begin(), tail.end());
    int id = 0;
    EXPECT_EQ(openFromBytes(withTail, 4096, id), MC_INVALID_FILE) << tail.size();
  }
  bytes.push_back(0);
  int id = 0;
  ASSERT_EQ(openFromBytes(bytes, 4096, id), MC_NORMAL_COMPLETION);
  MC_Free_File(id);
}

}  // namespace
}  // namespace zyl::toolkit::test

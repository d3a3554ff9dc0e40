// A large object (300 MB of pixel data) sent to storescp and received from
// storescu, with the process's peak memory held to about one copy of it.
#include "../support.h"
#include "listener.h"
#include "peers.h"

#include <gtest/gtest.h>

#include <malloc.h>

#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>

namespace zyl::toolkit::test {
namespace {

using namespace std::chrono_literals;

constexpr std::uint16_t kRows = 10000, kColumns = 15000;
constexpr std::uint64_t kPixelBytes = std::uint64_t{kRows} * kColumns * 2;  // 300,000,000
constexpr const char* kInstanceUid = "1.2.826.0.1.3680043.10.511.7.300";

// ---- Writing the object without holding it in memory ---------------------------

void put16(std::string& out, std::uint16_t v) {
  out.push_back(static_cast<char>(v & 0xFF));
  out.push_back(static_cast<char>(v >> 8));
}
void put32(std::string& out, std::uint32_t v) {
  put16(out, static_cast<std::uint16_t>(v & 0xFFFF));
  put16(out, static_cast<std::uint16_t>(v >> 16));
}
// An explicit VR little endian element with a short length.
void element(std::string& out, std::uint16_t group, std::uint16_t tag, const char* vr, std::string value) {
  if (value.size() % 2) value.push_back(std::strcmp(vr, "UI") == 0 ? '\0' : ' ');
  put16(out, group);
  put16(out, tag);
  out.append(vr, 2);
  put16(out, static_cast<std::uint16_t>(value.size()));
  out += value;
}
std::string us(std::uint16_t v) {
  std::string s;
  put16(s, v);
  return s;
}

// A secondary capture image of 16-bit pixels, written block by block.
void writeLargeObject(const std::string& path) {
  const std::string sopClass = "1.2.840.10008.5.1.4.1.1.7";
  std::string meta;
  {
    std::string body;
    put16(body, 0x0002);
    put16(body, 0x0001);
    body += "OB";
    put16(body, 0);
    put32(body, 2);
    body.push_back('\0');
    body.push_back('\1');
    element(body, 0x0002, 0x0002, "UI", sopClass);
    element(body, 0x0002, 0x0003, "UI", kInstanceUid);
    element(body, 0x0002, 0x0010, "UI", "1.2.840.10008.1.2.1");
    element(body, 0x0002, 0x0012, "UI", "1.2.826.0.1.3680043.10.511.1");
    element(meta, 0x0002, 0x0000, "UL", [&] {
      std::string s;
      put32(s, static_cast<std::uint32_t>(body.size()));
      return s;
    }());
    meta += body;
  }
  std::string data;
  element(data, 0x0008, 0x0016, "UI", sopClass);
  element(data, 0x0008, 0x0018, "UI", kInstanceUid);
  element(data, 0x0008, 0x0060, "CS", "OT");
  element(data, 0x0010, 0x0010, "PN", "LARGE^OBJECT");
  element(data, 0x0020, 0x000D, "UI", "1.2.826.0.1.3680043.10.511.7.1");
  element(data, 0x0020, 0x000E, "UI", "1.2.826.0.1.3680043.10.511.7.2");
  element(data, 0x0028, 0x0002, "US", us(1));
  element(data, 0x0028, 0x0004, "CS", "MONOCHROME2");
  element(data, 0x0028, 0x0010, "US", us(kRows));
  element(data, 0x0028, 0x0011, "US", us(kColumns));
  element(data, 0x0028, 0x0100, "US", us(16));
  element(data, 0x0028, 0x0101, "US", us(16));
  element(data, 0x0028, 0x0102, "US", us(15));
  element(data, 0x0028, 0x0103, "US", us(0));
  put16(data, 0x7FE0);
  put16(data, 0x0010);
  data += "OW";
  put16(data, 0);
  put32(data, static_cast<std::uint32_t>(kPixelBytes));

  std::ofstream out(path, std::ios::binary);
  out << std::string(128, '\0') << "DICM" << meta << data;
  std::vector<char> block(1 << 20);
  std::uint64_t written = 0, value = 0;
  while (written < kPixelBytes) {
    const std::size_t n = static_cast<std::size_t>(std::min<std::uint64_t>(block.size(), kPixelBytes - written));
    for (std::size_t i = 0; i < n; ++i) block[i] = static_cast<char>((value++ * 7) >> 3);
    out.write(block.data(), static_cast<std::streamsize>(n));
    written += n;
  }
  ASSERT_TRUE(out.good());
}

// ---- Memory -----------------------------------------------------------------

// A value of /proc/self/status in bytes (VmRSS, VmHWM).
std::uint64_t statusBytes(const char* key) {
  std::ifstream in("/proc/self/status");
  std::string line;
  const std::string prefix = std::string(key) + ":";
  while (std::getline(in, line))
    if (line.rfind(prefix, 0) == 0) return std::stoull(line.substr(prefix.size())) * 1024;
  return 0;
}

// Starts a new peak at the present resident size; false where the kernel cannot.
bool resetPeak() {
  malloc_trim(0);
  {
    std::ofstream clear("/proc/self/clear_refs");
    clear << "5";
    if (!clear.good()) return false;
  }
  return statusBytes("VmHWM") <= statusBytes("VmRSS") + (8u << 20);
}

// One copy of the object plus room for buffers.
constexpr std::uint64_t kAllowed = kPixelBytes + kPixelBytes / 10 + (48u << 20);

// ---- Loading the object from disk in pieces -----------------------------------

struct FileSource {
  std::FILE* file = nullptr;
  std::vector<char> block = std::vector<char>(1 << 20);
};

MC_STATUS readFromDisk(const char*, void* userInfo, int* size, void** data, int, int* isLast) {
  auto* source = static_cast<FileSource*>(userInfo);
  const std::size_t n = std::fread(source->block.data(), 1, source->block.size(), source->file);
  *size = static_cast<int>(n);
  *data = source->block.data();
  *isLast = n < source->block.size() ? 1 : 0;
  return MC_NORMAL_COMPLETION;
}

int loadStoreMessage(const std::string& path) {
  int id = 0;
  EXPECT_EQ(MC_Create_Empty_File(&id, path.c_str()), MC_NORMAL_COMPLETION);
  FileSource source;
  source.file = std::fopen(path.c_str(), "rb");
  EXPECT_NE(source.file, nullptr);
  if (!source.file) return id;
  EXPECT_EQ(MC_Open_File(applicationId(), id, &source, readFromDisk), MC_NORMAL_COMPLETION);
  std::fclose(source.file);
  EXPECT_EQ(MC_File_To_Message(id), MC_NORMAL_COMPLETION);
  EXPECT_EQ(MC_Set_Service_Command(id, "STANDARD_SECONDARY_CAPTURE_IMAGE", MC_CMD_C_STORE_RQ), MC_NORMAL_COMPLETION);
  return id;
}

class NetLargeObject : public ::testing::Test {
 protected:
  void SetUp() override {
    initToolkit();
    scpApplication();
    listenPort();
    file_ = (dir_.path() / "large.dcm").string();
    writeLargeObject(file_);
    if (!resetPeak()) GTEST_SKIP() << "the kernel cannot reset the peak resident size";
  }
  TempDir dir_;
  std::string file_;
};

TEST_F(NetLargeObject, ReceivedWithOneCopyInMemory) {
  const std::string log = (dir_.path() / "storescu.log").string();
  ChildProcess peer({"storescu", "-aet", "STORESCU", "-aec", "NET_SCP", "-to", "120", "127.0.0.1",
                     std::to_string(listenPort()), file_},
                    log);
  int app = 0, association = 0;
  ASSERT_EQ(waitForCaller("Storage_SCP_Service_List", app, association, 30), MC_NORMAL_COMPLETION);
  ASSERT_EQ(MC_Accept_Association(association), MC_NORMAL_COMPLETION);
  ASSERT_TRUE(resetPeak());
  const std::uint64_t before = statusBytes("VmRSS");
  int message = 0;
  const char* service = nullptr;
  MC_COMMAND command{};
  ASSERT_EQ(MC_Read_Message(association, 120, &message, &service, &command), MC_NORMAL_COMPLETION)
      << MC_Error_Message(MC_INVALID_MESSAGE_RECEIVED) << "\n"
      << ReadText(log);
  const std::uint64_t peak = statusBytes("VmHWM") - before;
  EXPECT_EQ(command, MC_CMD_C_STORE_RQ);
  unsigned long length = 0;
  EXPECT_EQ(MC_Get_Value_Length(message, 0x7FE00010, 1, &length), MC_NORMAL_COMPLETION);
  EXPECT_EQ(length, kPixelBytes);
  char instance[65] = {};
  EXPECT_EQ(MC_Get_Value_To_String(message, 0x00080018, sizeof instance, instance), MC_NORMAL_COMPLETION);
  EXPECT_STREQ(instance, kInstanceUid);
  MC_Free_Message(message);
  int response = 0;
  ASSERT_EQ(MC_Open_Message(&response, service, MC_CMD_C_STORE_RSP), MC_NORMAL_COMPLETION);
  EXPECT_EQ(MC_Send_Response_Message(association, 0, response), MC_NORMAL_COMPLETION);
  MC_Free_Message(response);
  EXPECT_EQ(MC_Read_Message(association, 30, &message, &service, &command), MC_ASSOCIATION_CLOSED);
  EXPECT_EQ(peer.waitExit(30s), 0) << ReadText(log);
  std::printf("receiving %llu bytes of pixel data: peak %.1f MB above the start\n",
              static_cast<unsigned long long>(kPixelBytes), static_cast<double>(peak) / 1e6);
  EXPECT_LT(peak, kAllowed);
}

TEST_F(NetLargeObject, SentWithOneCopyInMemory) {
  const int port = FreePort();
  const std::string in = (dir_.path() / "in").string();
  std::filesystem::create_directories(in);
  ChildProcess scp({"storescp", "-aet", "STORESCP", "-od", in, "-td", "120", std::to_string(port)},
                   (dir_.path() / "storescp.log").string());
  ASSERT_TRUE(WaitListening(port));
  const std::uint64_t before = statusBytes("VmRSS");
  const int id = loadStoreMessage(file_);
  const std::uint64_t loaded = statusBytes("VmHWM") - before;
  // A list of the one service, in the object's own syntax.
  const MC_TRANSFER_SYNTAX syntax = MC_TS_EXPLICIT_LITTLE_ENDIAN;
  ASSERT_EQ(MC_NewSyntaxList("large_sc_syntax", &syntax, 1), MC_NORMAL_COMPLETION);
  ASSERT_EQ(MC_NewServiceFromName("large_sc", "STANDARD_SECONDARY_CAPTURE_IMAGE", "large_sc_syntax", 1, 0),
            MC_NORMAL_COMPLETION);
  const char* services[] = {"large_sc"};
  ASSERT_EQ(MC_NewProposedServiceList("large_sc_list", services, 1), MC_NORMAL_COMPLETION);
  int association = 0;
  const MC_STATUS opened =
      MC_Open_Association(applicationId(), &association, "STORESCP", port, "127.0.0.1", "large_sc_list");
  MC_FreeServiceList("large_sc_list");
  MC_FreeService("large_sc");
  MC_FreeSyntaxList("large_sc_syntax");
  ASSERT_EQ(opened, MC_NORMAL_COMPLETION);
  ASSERT_EQ(MC_Send_Request_Message(association, id), MC_NORMAL_COMPLETION);
  int response = 0;
  const char* service = nullptr;
  MC_COMMAND command{};
  ASSERT_EQ(MC_Read_Message(association, 120, &response, &service, &command), MC_NORMAL_COMPLETION);
  const std::uint64_t peak = statusBytes("VmHWM") - before;
  EXPECT_EQ(command, MC_CMD_C_STORE_RSP);
  unsigned status = 0xFFFFFFFF;
  EXPECT_EQ(MC_Get_Value_To_UInt(response, 0x00000900, &status), MC_NORMAL_COMPLETION);
  EXPECT_EQ(status, 0u);
  MC_Free_Message(response);
  EXPECT_EQ(MC_Close_Association(association), MC_NORMAL_COMPLETION);
  MC_Free_Message(id);
  std::printf("sending %llu bytes of pixel data: %.1f MB after loading, peak %.1f MB above the start\n",
              static_cast<unsigned long long>(kPixelBytes), static_cast<double>(loaded) / 1e6,
              static_cast<double>(peak) / 1e6);
  EXPECT_LT(peak, kAllowed);
  // What storescp wrote has the whole pixel data.
  std::uint64_t arrived = 0;
  for (const auto& entry : std::filesystem::directory_iterator(in))
    arrived = std::max<std::uint64_t>(arrived, entry.file_size());
  EXPECT_GT(arrived, kPixelBytes);
}

}  // namespace
}  // namespace zyl::toolkit::test

// Objects sent by DCMTK's storescu arrive intact, with the meta group the
// service writes, and replace earlier objects of the same UID atomically.
#include <gtest/gtest.h>

#include <atomic>
#include <fstream>
#include <set>
#include <sstream>
#include <thread>

#include "support.h"

using namespace storscp_test;
using namespace std::chrono_literals;

namespace {

// Sends a small data set on an association of its own; the status of the response.
std::optional<std::uint16_t> StoreSmall(int port, const std::string& uid, const std::string& patientName) {
  RawPeer peer(port);
  if (peer.associate("ANY").pduType != 2 || !peer.sendStore(uid, SmallDataSet(uid, patientName))) return std::nullopt;
  const std::optional<std::uint16_t> status = peer.readStatus();
  EXPECT_TRUE(peer.release());
  return status;
}

ToolResult Store(int port, const std::vector<std::string>& files, const std::vector<std::string>& options = {}) {
  std::vector<std::string> args = {"storescu", "-aet", "ZYL_STOR_SCU", "-aec", "ZYL_STOR_SCP"};
  args.insert(args.end(), options.begin(), options.end());
  args.push_back("127.0.0.1");
  args.push_back(std::to_string(port));
  args.insert(args.end(), files.begin(), files.end());
  return RunTool(args, std::chrono::seconds(120));
}

std::string Attribute(const fs::path& file, const std::string& tag) {
  const ToolResult r = RunTool({"dcmdump", "-q", "+P", tag, file.string()});
  return r.output;
}

std::string Uid(const fs::path& file) {
  const std::string line = Attribute(file, "0008,0018");
  const auto open = line.find('['), close = line.find(']');
  return open == std::string::npos ? std::string{} : line.substr(open + 1, close - open - 1);
}

}  // namespace

TEST(Storing, ManyObjectsOfSeveralClassesAndSyntaxesArriveIntact) {
  Installation inst(OnFreePort("yes"));
  ServiceProcess service(inst);
  ASSERT_TRUE(service.waitListening());

  // Samples of several SOP classes and transfer syntaxes, and copies of one
  // image under new UIDs.
  const std::vector<std::string> samples = {"CT_small.dcm",
                                            "MR_small.dcm",
                                            "MR_small_implicit.dcm",
                                            "MR_small_bigendian.dcm",
                                            "rtplan.dcm",
                                            "rtstruct.dcm",
                                            "rtdose.dcm",
                                            "waveform_ecg.dcm",
                                            "test-SR.dcm"};
  // Compressed samples, each offered in its own syntax.
  const std::vector<std::pair<std::string, std::string>> compressed = {{"MR_small_RLE.dcm", "-xr"},
                                                                       {"JPEG2000.dcm", "-xw"},
                                                                       {"JPEG-lossy.dcm", "-xx"},
                                                                       {"SC_rgb_jpeg_dcmtk.dcm", "-xy"},
                                                                       {"MR_small_jpeg_ls_lossless.dcm", "-xt"},
                                                                       {"MR_small.dcm", "-xd"}};
  // Several samples share a UID (one object in several encodings): every
  // copy gets a UID of its own, and thirty more copies of one image follow.
  TempDir copies;
  int serial = 0;
  auto copyWithNewUid = [&](const std::string& name) {
    const fs::path copy = copies.path() / ("copy" + std::to_string(serial) + "_" + name);
    fs::copy_file(SampleFiles() / name, copy);
    const ToolResult m = RunTool(
        {"dcmodify", "-nb", "-i", "(0008,0018)=1.2.826.0.1.3680043.10.999." + std::to_string(++serial), copy.string()});
    EXPECT_EQ(m.exitCode, 0) << m.output;
    return copy.string();
  };
  std::vector<std::string> sources;
  for (const auto& name : samples) sources.push_back(copyWithNewUid(name));
  for (int i = 0; i < 30; ++i) sources.push_back(copyWithNewUid("MR_small.dcm"));
  // The uncompressed ones over one association, then each compressed one.
  const ToolResult sent = Store(inst.settings().port, sources);
  EXPECT_EQ(sent.exitCode, 0) << sent.output;
  EXPECT_EQ(sent.output.find("E:"), std::string::npos) << sent.output;
  for (const auto& [name, option] : compressed) {
    const std::string file = copyWithNewUid(name);
    const ToolResult one = Store(inst.settings().port, {file}, {option});
    EXPECT_EQ(one.exitCode, 0) << name << one.output;
    EXPECT_EQ(one.output.find("E:"), std::string::npos) << one.output;
    sources.push_back(file);
  }

  std::set<std::string> expected;
  int deflatedObjects = 0;
  for (const auto& source : sources) {
    const std::string uid = Uid(source);
    ASSERT_FALSE(uid.empty()) << source;
    expected.insert(uid + ".dcm");
    const fs::path stored = inst.storageDir() / (uid + ".dcm");
    ASSERT_TRUE(fs::exists(stored)) << source;
    EXPECT_EQ(DataSetDump(stored), DataSetDump(source)) << source;

    const std::string meta = MetaDump(stored);
    EXPECT_NE(meta.find("(0002,0001) OB 00\\01 #"), std::string::npos) << meta;
    EXPECT_NE(meta.find("(0002,0003) UI [" + uid + "] #"), std::string::npos) << meta;
    EXPECT_NE(meta.find("(0002,0016) AE [ZYL_STOR_SCP] #"), std::string::npos) << meta;
    // Media storage SOP class is the object's own class.
    std::istringstream sopClass(Attribute(source, "0008,0016"));
    std::string tag, vr, classValue;
    sopClass >> tag >> vr >> classValue;
    EXPECT_NE(meta.find("(0002,0002) UI " + classValue + " #"), std::string::npos) << meta << classValue;
    // A compressed object keeps its syntax; others arrive uncompressed.
    const std::string sourceSyntax = MetaDump(source).substr(MetaDump(source).find("(0002,0010)"));
    const std::string syntaxLine = sourceSyntax.substr(0, sourceSyntax.find('\n'));
    const bool compressed = syntaxLine.find("JPEG") != std::string::npos || syntaxLine.find("RLE") != std::string::npos;
    const bool deflated = meta.find("(0002,0010) UI =DeflatedLittleEndianExplicit") != std::string::npos;
    if (compressed) {
      EXPECT_NE(meta.find(syntaxLine), std::string::npos) << meta << syntaxLine;
    } else if (deflated) {
      ++deflatedObjects;  // kept deflated, as it arrived
    } else {
      EXPECT_TRUE(meta.find("(0002,0010) UI =LittleEndian") != std::string::npos ||
                  meta.find("(0002,0010) UI =BigEndianExplicit") != std::string::npos)
          << meta;
    }
  }
  EXPECT_EQ(deflatedObjects, 1);
  const std::vector<std::string> names = FileNames(inst.storageDir());
  EXPECT_EQ(std::set<std::string>(names.begin(), names.end()), expected);
  EXPECT_TRUE(DepotFiles(inst.storageDir()).empty());
  const std::string log = inst.log();
  EXPECT_NE(log.find("Writing file(1.2.826.0.1.3680043.10.999.1.dcm), snytax( Explicit VR Little "
                     "Endian), type(STANDARD_CT_IMAGE)"),
            std::string::npos)
      << log;
  EXPECT_NE(log.find("snytax( JPEG 2000), type("), std::string::npos) << log;
  EXPECT_NE(log.find("snytax( RLE), type("), std::string::npos) << log;
  EXPECT_NE(log.find("snytax( JPEG-LS Lossless), type("), std::string::npos) << log;
}

TEST(Storing, TheSameUidStoredTwiceReplacesTheFile) {
  Installation inst(OnFreePort("yes"));
  ServiceProcess service(inst);
  ASSERT_TRUE(service.waitListening());
  TempDir dir;
  const fs::path first = dir.path() / "first.dcm", second = dir.path() / "second.dcm";
  fs::copy_file(SampleFiles() / "CT_small.dcm", first);
  fs::copy_file(SampleFiles() / "CT_small.dcm", second);
  ASSERT_EQ(RunTool({"dcmodify", "-nb", "-m", "(0010,0010)=FIRST^SENT", first.string()}).exitCode, 0);
  ASSERT_EQ(RunTool({"dcmodify", "-nb", "-m", "(0010,0010)=SECOND^SENT", second.string()}).exitCode, 0);

  ASSERT_EQ(Store(inst.settings().port, {first.string()}).exitCode, 0);
  const fs::path stored = inst.storageDir() / (Uid(first) + ".dcm");
  EXPECT_NE(Attribute(stored, "0010,0010").find("FIRST^SENT"), std::string::npos);
  ASSERT_EQ(Store(inst.settings().port, {second.string()}).exitCode, 0);
  EXPECT_NE(Attribute(stored, "0010,0010").find("SECOND^SENT"), std::string::npos);
  EXPECT_EQ(DataSetDump(stored), DataSetDump(second));
  EXPECT_EQ(FileNames(inst.storageDir()).size(), 1u);
}

TEST(Storing, ConcurrentStoresOfOneUidLeaveOneWholeObject) {
  Installation inst(OnFreePort("yes"));
  ServiceProcess service(inst);
  ASSERT_TRUE(service.waitListening());
  const std::string uid = "1.2.826.0.1.3680043.10.999.77";
  constexpr int kPeers = 6, kRounds = 4;
  constexpr std::size_t kPixels = 300000;
  std::atomic<int> stored{0};
  std::vector<std::thread> peers;
  for (int p = 0; p < kPeers; ++p)
    peers.emplace_back([&, p] {
      RawPeer peer(inst.settings().port);
      if (peer.associate("PEER" + std::to_string(p)).pduType != 2) return;
      for (int r = 0; r < kRounds; ++r) {
        const std::string name = "PEER" + std::to_string(p) + "^ROUND" + std::to_string(r);
        if (peer.sendStore(uid, SmallDataSet(uid, name, kPixels), static_cast<std::uint16_t>(r + 1)) &&
            peer.readStatus() == 0x0000)
          ++stored;
      }
      peer.release();
    });
  for (auto& t : peers) t.join();
  EXPECT_EQ(stored.load(), kPeers * kRounds);
  const fs::path file = inst.storageDir() / (uid + ".dcm");
  ASSERT_TRUE(fs::exists(file));
  // One whole object of one of the senders.
  const ToolResult dump = RunTool({"dcmdump", "-q", "+P", "0010,0010", "+P", "7fe0,0010", file.string()});
  EXPECT_EQ(dump.exitCode, 0) << dump.output;
  EXPECT_NE(dump.output.find("^ROUND"), std::string::npos) << dump.output;
  EXPECT_NE(dump.output.find("# 300000, 1 PixelData"), std::string::npos) << dump.output;
  EXPECT_EQ(FileNames(inst.storageDir()), std::vector<std::string>{uid + ".dcm"});
  EXPECT_TRUE(DepotFiles(inst.storageDir()).empty());
}

TEST(Storing, AStorageFolderWhoseParentIsMissingRefusesTheObject) {
  TempDir elsewhere;
  Settings settings = OnFreePort("yes");
  settings.storScpDir = (elsewhere.path() / "missing" / "storage").string();
  RunningService running(settings);
  ASSERT_TRUE(running.service.waitListening());
  EXPECT_EQ(StoreSmall(settings.port, "1.2.3.4", "NO^PLACE"), 0xA702);
  const std::string log = running.inst.log();
  EXPECT_NE(log.find("): Failed to create stor scp dir. dir(" + *settings.storScpDir + ")."), std::string::npos) << log;
  EXPECT_NE(log.find("): Failed to create depot dir. depot dir(" + *settings.storScpDir + "/depot)."),
            std::string::npos)
      << log;
  EXPECT_FALSE(fs::exists(elsewhere.path() / "missing"));
}

TEST(Storing, AnEmptyExtensionEndsTheNameWithAPoint) {
  Settings settings = OnFreePort("yes");
  settings.fileExtension = "";
  RunningService running(settings);
  ASSERT_TRUE(running.service.waitListening());
  EXPECT_EQ(StoreSmall(settings.port, "1.2.3.5", "POINT"), 0x0000);
  EXPECT_EQ(FileNames(running.inst.storageDir()), std::vector<std::string>{"1.2.3.5."});
}

namespace {

std::string FileBytes(const fs::path& file) {
  std::ifstream in(file, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// The data set of a DICOM file whose meta group starts with its group
// length: everything after preamble, "DICM" and the group.
std::string DataSetBytes(const std::string& file) {
  if (file.size() < 144 || file.compare(128, 4, "DICM") != 0) return {};
  const auto byte = [&](std::size_t i) { return static_cast<std::uint32_t>(static_cast<unsigned char>(file[i])); };
  const std::uint32_t groupLength = byte(140) | byte(141) << 8 | byte(142) << 16 | byte(143) << 24;
  return 144 + std::size_t{groupLength} <= file.size() ? file.substr(144 + groupLength) : std::string{};
}

}  // namespace

// The stored data set is the one sent, byte for byte: undefined-length
// sequences stay undefined, private and odd-length values stay as they are,
// element headers split between PDVs are put back together.
TEST(Storing, TheDataSetIsStoredByteForByteAsItWasSent) {
  Installation inst(OnFreePort("yes"));
  ServiceProcess service(inst);
  ASSERT_TRUE(service.waitListening());
  struct Sample {
    const char* file;  // explicit VR little endian
    const char* sopClass;
    std::size_t pdvSize;  // odd sizes split headers between PDVs
  };
  const std::vector<Sample> samples = {
      {"waveform_ecg.dcm", "1.2.840.10008.5.1.4.1.1.9.1.1", 16371},  // undefined-length sequences, private tags
      {"reportsi.dcm", "1.2.840.10008.5.1.4.1.1.88.11", 7},          // undefined-length sequences
      {"CT_small.dcm", "1.2.840.10008.5.1.4.1.1.2", 4099},           // private tags
      {"SC_rgb_small_odd.dcm", kSecondaryCapture, 1000},
  };
  for (const Sample& sample : samples) {
    SCOPED_TRACE(sample.file);
    const fs::path source = SampleFiles() / sample.file;
    const std::string sent = DataSetBytes(FileBytes(source));
    ASSERT_FALSE(sent.empty());
    const std::string uid = Uid(source);
    RawPeer peer(inst.settings().port);
    ASSERT_EQ(peer.associate("RAW", "ZYL_STOR_SCP", sample.sopClass, kExplicitLittleEndian).contextResult, 0);
    ASSERT_TRUE(peer.sendPdv(StoreCommand(sample.sopClass, uid, 1), true, true));
    for (std::size_t at = 0; at < sent.size(); at += sample.pdvSize)
      ASSERT_TRUE(peer.sendPdv(sent.substr(at, sample.pdvSize), false, at + sample.pdvSize >= sent.size()));
    EXPECT_EQ(peer.readStatus(), 0x0000) << inst.log();
    peer.release();
    const fs::path stored = inst.storageDir() / (uid + ".dcm");
    const std::string storedDataSet = DataSetBytes(FileBytes(stored));
    EXPECT_EQ(storedDataSet.size(), sent.size());
    EXPECT_TRUE(storedDataSet == sent);
    EXPECT_EQ(DataSetDump(stored), DataSetDump(source));
  }
}

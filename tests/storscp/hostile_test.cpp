// Hostile and broken input: nothing lands outside the storage folder or
// under a name that is not a valid UID, a refused object is answered 0xA702
// where an answer is possible, and the service keeps serving.
#include <gtest/gtest.h>
#include <sys/mount.h>

#include <thread>

#include "support.h"

using namespace storscp_test;
using namespace std::chrono_literals;

namespace {

class Hostile : public ::testing::Test {
 protected:
  void SetUp() override {
    settings_.port = FreePort();
    settings_.acceptAny = "yes";
    inst_ = std::make_unique<Installation>(settings_);
    service_ = std::make_unique<ServiceProcess>(*inst_);
    ASSERT_TRUE(service_->waitListening());
  }

  // Every file under the installation root, to see that nothing was added.
  std::vector<std::string> Tree() const {
    std::vector<std::string> files;
    for (const auto& e : fs::recursive_directory_iterator(inst_->root()))
      if (e.path().filename() != "storscp1.log" && e.path().filename() != "storscp2.log")
        files.push_back(e.path().string());
    std::sort(files.begin(), files.end());
    return files;
  }

  // The service still stores a good object on a new association.
  void ExpectStillServing() {
    RawPeer peer(settings_.port);
    ASSERT_EQ(peer.associate("GOOD").pduType, 2);
    ASSERT_TRUE(peer.sendStore("1.2.826.0.1.3680043.10.999.1", SmallDataSet("1.2.826.0.1.3680043.10.999.1", "OK")));
    EXPECT_EQ(peer.readStatus(), 0x0000);
    peer.release();
    EXPECT_TRUE(fs::exists(inst_->storageDir() / "1.2.826.0.1.3680043.10.999.1.dcm"));
  }

  Settings settings_;
  std::unique_ptr<Installation> inst_;
  std::unique_ptr<ServiceProcess> service_;
};

}  // namespace

TEST_F(Hostile, UidsThatAreNoValidUidNameNoFile) {
  const std::string storage = inst_->storageDir().string();
  const std::vector<std::string> uids = {"../x", "/tmp/x", "a/b", "..", "1..2", ".", std::string(200, '7'),
                                         std::string("1.2\0.3", 6), "1.2.3/../../4", "1\\2",
                                         "../../../../../../tmp/zyl_storscp_escape"};
  {
    // Make sure the folders exist, so that what is absent was never written.
    RawPeer peer(settings_.port);
    ASSERT_EQ(peer.associate("SETUP").pduType, 2);
    ASSERT_TRUE(peer.sendStore("9.9", SmallDataSet("9.9", "SETUP")));
    ASSERT_EQ(peer.readStatus(), 0x0000);
    peer.release();
  }
  const auto before = Tree();
  std::uint16_t id = 1;
  for (const auto& uid : uids) {
    RawPeer peer(settings_.port);
    ASSERT_EQ(peer.associate("EVIL/../TITLE").pduType, 2);
    ASSERT_TRUE(peer.sendStore(uid, SmallDataSet(uid, "EVIL"), id++)) << uid;
    const auto status = peer.readStatus();
    if (uid.size() > 64) {
      // Too long for a command: the toolkit cannot read the request, so the
      // association ends without an answer.
      EXPECT_TRUE(status == 0xA702 || !status) << uid;
    } else {
      EXPECT_EQ(status, 0xA702) << "uid [" << uid << "]" << inst_->log();
    }
  }
  RawPeer peer(settings_.port);
  ASSERT_EQ(peer.associate("EVIL").pduType, 2);
  // A command that names another instance than the data set, and an overlong
  // UID in the data set alone.
  ASSERT_TRUE(peer.sendStore("1.2.3.4", SmallDataSet("1.2.3.5", "MISMATCH"), id++, "1.2.3.4"));
  EXPECT_EQ(peer.readStatus(), 0xA702);
  const std::string overlong = "1." + std::string(198, '2');
  ASSERT_TRUE(peer.sendStore("1.2.3.4", SmallDataSet(overlong, "LONG"), id++, "1.2.3.4"));
  EXPECT_EQ(peer.readStatus(), 0xA702);
  // An empty UID: refused, or the association aborted as for a missing one.
  ASSERT_TRUE(peer.sendStore("", SmallDataSet("", "EMPTY"), id++));
  const auto empty = peer.readStatus();
  EXPECT_TRUE(empty == 0xA702 || (!empty && peer.lastPduType() == 7)) << (empty ? *empty : -1);
  EXPECT_EQ(Tree(), before);
  // The toolkit's decoder removes spaces inside a received UID before the
  // service sees it: such an object is stored under the corrected UID it
  // then holds, never under the name with the space.
  {
    RawPeer spaced(settings_.port);
    ASSERT_EQ(spaced.associate("SPACE").pduType, 2);
    ASSERT_TRUE(spaced.sendStore("1.2 3", SmallDataSet("1.2 3", "SPACE")));
    const auto status = spaced.readStatus();
    ASSERT_TRUE(status.has_value());
    EXPECT_FALSE(fs::exists(inst_->storageDir() / "1.2 3.dcm"));
    if (*status == 0x0000) {
      const ToolResult uid = RunTool({"dcmdump", "-q", "+P", "0008,0018", (inst_->storageDir() / "1.23.dcm").string()});
      EXPECT_NE(uid.output.find("[1.23]"), std::string::npos) << uid.output;
      fs::remove(inst_->storageDir() / "1.23.dcm");
    } else {
      EXPECT_EQ(*status, 0xA702);
    }
  }
  EXPECT_FALSE(fs::exists("/tmp/zyl_storscp_escape.dcm"));
  EXPECT_FALSE(fs::exists("/tmp/x.dcm"));
  EXPECT_NE(inst_->log().find("Refusing object with sop instance uid(1.2\\x00.3)"), std::string::npos) << inst_->log();
  ExpectStillServing();
}

TEST_F(Hostile, MalformedAndTruncatedDataSetsStoreNothing) {
  const std::string uid = "1.2.826.0.1.3680043.10.999.5";
  const std::string whole = SmallDataSet(uid, "BROKEN", 4096);
  // An element whose length runs past the end of the data set.
  std::string overlong = whole.substr(0, 40) + Element(0x0010, 0x0010, "AB");
  overlong[overlong.size() - 4] = '\xF0';
  overlong[overlong.size() - 3] = '\xFF';
  const std::string truncated = whole.substr(0, whole.size() - 1000);
  for (const std::string* data : std::vector<const std::string*>{&overlong, &truncated}) {
    RawPeer peer(settings_.port);
    ASSERT_EQ(peer.associate("BROKEN").pduType, 2);
    ASSERT_TRUE(peer.sendStore(uid, *data));
    const auto status = peer.readStatus();
    EXPECT_TRUE(!status || *status == 0xA702) << *status;
  }
  EXPECT_FALSE(fs::exists(inst_->storageDir() / (uid + ".dcm")));
  EXPECT_TRUE(FileNames(inst_->storageDir() / "depot").empty());
  ExpectStillServing();
}

TEST_F(Hostile, AnAbortedTransferStoresNothing) {
  const std::string uid = "1.2.826.0.1.3680043.10.999.6";
  const std::string data = SmallDataSet(uid, "HALF", 100000);
  {
    RawPeer peer(settings_.port);
    ASSERT_EQ(peer.associate("HALFWAY").pduType, 2);
    ASSERT_TRUE(peer.sendPdv(StoreCommand(kSecondaryCapture, uid, 1), true, true));
    ASSERT_TRUE(peer.sendPdv(data.substr(0, data.size() / 2), false, false));
    peer.abort();
  }
  {
    RawPeer peer(settings_.port);
    ASSERT_EQ(peer.associate("VANISH").pduType, 2);
    ASSERT_TRUE(peer.sendPdv(StoreCommand(kSecondaryCapture, uid, 1), true, true));
    ASSERT_TRUE(peer.sendPdv(data.substr(0, data.size() / 3), false, false));
  }  // the connection just closes
  ExpectStillServing();
  EXPECT_FALSE(fs::exists(inst_->storageDir() / (uid + ".dcm")));
  EXPECT_TRUE(FileNames(inst_->storageDir() / "depot").empty());
}

TEST_F(Hostile, AConnectionThatNeverAsksDoesNotStopTheService) {
  RawPeer silent(settings_.port);
  ASSERT_TRUE(silent.connected());
  std::this_thread::sleep_for(200ms);
  const ToolResult sent = RunTool({"storescu", "-aet", "ZYL_STOR_SCU", "-aec", "ZYL_STOR_SCP", "127.0.0.1",
                                   std::to_string(settings_.port), (SampleFiles() / "CT_small.dcm").string()},
                                  60);
  EXPECT_EQ(sent.exitCode, 0) << sent.output;
  ExpectStillServing();
}

namespace {
// A small file system for the storage folder; unmounted at the end.
class SmallFileSystem {
 public:
  explicit SmallFileSystem(const fs::path& where) : where_(where) {
    fs::create_directories(where_);
    mounted_ = ::mount("tmpfs", where_.c_str(), "tmpfs", 0, "size=256k") == 0;
  }
  ~SmallFileSystem() {
    if (mounted_) ::umount2(where_.c_str(), MNT_DETACH);
  }
  bool mounted() const { return mounted_; }

 private:
  fs::path where_;
  bool mounted_ = false;
};
}  // namespace

TEST(HostileDisk, AFullDiskRefusesTheObjectAndLeavesNothing) {
  TempDir dir;
  SmallFileSystem disk(dir.path() / "disk");
  if (!disk.mounted()) GTEST_SKIP() << "cannot mount a small file system here";
  Settings settings;
  settings.port = FreePort();
  settings.acceptAny = "yes";
  settings.storScpDir = (dir.path() / "disk" / "storage").string();
  Installation inst(settings);
  ServiceProcess service(inst);
  ASSERT_TRUE(service.waitListening());
  RawPeer peer(settings.port);
  ASSERT_EQ(peer.associate("FULL").pduType, 2);
  ASSERT_TRUE(peer.sendStore("1.2.3.100", SmallDataSet("1.2.3.100", "TOO^BIG", 400000)));
  EXPECT_EQ(peer.readStatus(), 0xA702);
  EXPECT_EQ(FileNames(inst.storageDir()), std::vector<std::string>{});
  EXPECT_EQ(FileNames(inst.storageDir() / "depot"), std::vector<std::string>{});
  EXPECT_NE(inst.log().find("): Failed to write file(1.2.3.100.dcm)."), std::string::npos) << inst.log();
  // Room for a small one: the service goes on.
  ASSERT_TRUE(peer.sendStore("1.2.3.101", SmallDataSet("1.2.3.101", "SMALL", 1000), 2));
  EXPECT_EQ(peer.readStatus(), 0x0000);
  peer.release();
  EXPECT_EQ(FileNames(inst.storageDir()), std::vector<std::string>{"1.2.3.101.dcm"});
}

// Who may associate: the accept-any switch, the entity table by AE title in
// any case, and the limit of six association threads.
#include <gtest/gtest.h>

#include <atomic>
#include <memory>
#include <thread>

#include "support.h"

using namespace storscp_test;
using namespace std::chrono_literals;

TEST(Acceptance, AcceptAnyYesInAnyCaseAcceptsEveryone) {
  for (const char* value : {"yes", "YeS"}) {
    RunningService running(OnFreePort(value));
    ASSERT_TRUE(running.service.waitListening());
    RawPeer peer(running.port());
    EXPECT_EQ(peer.associate("NOBODY_KNOWN").pduType, 2) << value;
    EXPECT_TRUE(peer.release());
  }
}

TEST(Acceptance, OtherwiseOnlyTitlesOfTheTableInAnyCase) {
  for (const char* value : {"no", "", "maybe"}) {
    RunningService running(OnFreePort(value));
    ASSERT_TRUE(running.service.waitListening());
    {
      RawPeer stranger(running.port());
      const AssociateResult r = stranger.associate("STRANGER");
      EXPECT_EQ(r.pduType, 3) << value;
      EXPECT_EQ(r.result, 1);  // permanent
      EXPECT_EQ(r.source, 1);  // service user
      EXPECT_EQ(r.reason, 3);  // calling AE title not recognised
    }
    {
      RawPeer known(running.port());
      EXPECT_EQ(known.associate("known_scu").pduType, 2) << value;
      EXPECT_TRUE(known.release());
    }
    const std::string log = running.inst.log();
    EXPECT_NE(log.find("): Accept Any is 'no' and calling the AET is not recognized...rejecting association "
                       "from(STRANGER)."),
              std::string::npos)
        << log;
    EXPECT_NE(log.find("): When Accept Any is 'no' you must add each dicom node to accept an association to the "
                       "system orvo config file."),
              std::string::npos);
    EXPECT_NE(log.find("Association Details:  aet(known_scu), host("), std::string::npos) << log;
  }
}

TEST(Acceptance, DcmtkCallersWithAKnownTitleStore) {
  RunningService running(OnFreePort());
  ASSERT_TRUE(running.service.waitListening());
  const std::string file = (SampleFiles() / "CT_small.dcm").string();
  const ToolResult ok = RunTool(
      {"storescu", "-aet", "zyl_stor_scu", "-aec", "ZYL_STOR_SCP", "127.0.0.1", std::to_string(running.port()), file});
  EXPECT_EQ(ok.exitCode, 0) << ok.output;
  const ToolResult refused = RunTool(
      {"storescu", "-aet", "STRANGER", "-aec", "ZYL_STOR_SCP", "127.0.0.1", std::to_string(running.port()), file});
  EXPECT_NE(refused.exitCode, 0);
  EXPECT_NE(refused.output.find("Calling AE Title Not Recognized"), std::string::npos) << refused.output;
  EXPECT_EQ(FileNames(running.inst.storageDir()).size(), 1u);
}

TEST(Acceptance, AVerificationRequestIsAnsweredByAnAbort) {
  RunningService running(OnFreePort("yes"));
  ASSERT_TRUE(running.service.waitListening());
  const ToolResult echo =
      RunTool({"echoscu", "-aet", "ECHO", "-aec", "ZYL_STOR_SCP", "127.0.0.1", std::to_string(running.port())});
  EXPECT_NE(echo.output.find("Peer aborted Association"), std::string::npos) << echo.output;
  EXPECT_TRUE(WaitFor(
      [&] {
        return running.inst.log().find("): Failed to read the sop instance uid from incoming file. err(") !=
               std::string::npos;
      },
      5s))
      << running.inst.log();
  // The service goes on.
  RawPeer peer(running.port());
  EXPECT_EQ(peer.associate("AFTER").pduType, 2);
}

TEST(Acceptance, ASeventhAssociationIsRefusedUntilOneEnds) {
  RunningService running(OnFreePort("yes"));
  ASSERT_TRUE(running.service.waitListening());
  std::vector<std::unique_ptr<RawPeer>> held;
  for (int i = 0; i < 6; ++i) {
    held.push_back(std::make_unique<RawPeer>(running.port()));
    ASSERT_EQ(held.back()->associate("HOLD" + std::to_string(i)).pduType, 2) << i;
  }
  {
    RawPeer seventh(running.port());
    const AssociateResult r = seventh.associate("SEVENTH");
    EXPECT_EQ(r.pduType, 3);
    EXPECT_EQ(r.result, 2);  // transient
    EXPECT_EQ(r.source, 3);  // service provider, presentation related
    EXPECT_EQ(r.reason, 2);  // local limit exceeded
  }
  EXPECT_NE(running.inst.log().find("Max Number of threads in service. Not accepting association...continuing."),
            std::string::npos);
  ASSERT_TRUE(held.front()->release());
  held.erase(held.begin());
  bool accepted = false;
  for (int attempt = 0; attempt < 20 && !accepted; ++attempt) {
    RawPeer next(running.port());
    accepted = next.associate("NEXT").pduType == 2;
    if (accepted) {
      next.release();
    } else {
      std::this_thread::sleep_for(100ms);
    }
  }
  EXPECT_TRUE(accepted);
}

TEST(Acceptance, ABurstOfCallersNeverStartsMoreThanSixThreads) {
  RunningService running(OnFreePort("yes"));
  ASSERT_TRUE(running.service.waitListening());
  constexpr int kCallers = 14;
  std::vector<std::unique_ptr<RawPeer>> peers;
  for (int i = 0; i < kCallers; ++i) peers.push_back(std::make_unique<RawPeer>(running.port()));
  std::atomic<int> accepted{0}, refused{0};
  std::vector<std::thread> threads;
  for (int i = 0; i < kCallers; ++i)
    threads.emplace_back([&, i] {
      const AssociateResult r = peers[static_cast<std::size_t>(i)]->associate("BURST" + std::to_string(i));
      if (r.pduType == 2) ++accepted;
      if (r.pduType == 3 && r.reason == 2) ++refused;
    });
  for (auto& t : threads) t.join();
  EXPECT_EQ(accepted.load(), 6);
  EXPECT_EQ(refused.load(), kCallers - 6);
}

// An association on which nothing comes for 30 seconds is aborted.
#include <gtest/gtest.h>

#include "support.h"

using namespace storscp_test;

TEST(Idle, AnIdleAssociationIsAbortedAfterThirtySeconds) {
  Settings settings;
  settings.port = FreePort();
  settings.acceptAny = "yes";
  Installation inst(settings);
  ServiceProcess service(inst);
  ASSERT_TRUE(service.waitListening());
  RawPeer peer(settings.port);
  ASSERT_EQ(peer.associate("IDLE").pduType, 2);
  const auto start = std::chrono::steady_clock::now();
  EXPECT_TRUE(peer.waitClosedByPeer(60));
  const auto waited = std::chrono::steady_clock::now() - start;
  EXPECT_GE(waited, std::chrono::seconds(29));
  EXPECT_LE(waited, std::chrono::seconds(50));
  EXPECT_NE(inst.log().find("): MC_Read_Message failure. err("), std::string::npos) << inst.log();
  // The service goes on.
  RawPeer next(settings.port);
  EXPECT_EQ(next.associate("NEXT").pduType, 2);
}

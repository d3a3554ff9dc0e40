// An association on which nothing comes for 30 seconds is aborted.
#include <gtest/gtest.h>

#include "support.h"

using namespace storscp_test;

TEST(Idle, AnIdleAssociationIsAbortedAfterThirtySeconds) {
  RunningService running(OnFreePort("yes"));
  ASSERT_TRUE(running.service.waitListening());
  RawPeer peer(running.port());
  ASSERT_EQ(peer.associate("IDLE").pduType, 2);
  const auto start = std::chrono::steady_clock::now();
  EXPECT_TRUE(peer.waitClosedByPeer(60));
  const auto waited = std::chrono::steady_clock::now() - start;
  EXPECT_GE(waited, std::chrono::seconds(29));
  EXPECT_LE(waited, std::chrono::seconds(50));
  EXPECT_NE(running.inst.log().find("): MC_Read_Message failure. err("), std::string::npos) << running.inst.log();
  // The service goes on.
  RawPeer next(running.port());
  EXPECT_EQ(next.associate("NEXT").pduType, 2);
}

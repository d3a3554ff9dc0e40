// The id table: lowest free ids, exhaustion, and use from several threads.
#include "support.h"

#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <thread>
#include <vector>

using namespace zyl::toolkit::test;

TEST(ToolkitIdTable, LowestFreeIdIsReused) {
  initToolkit();
  int a = 0, b = 0, c = 0;
  ASSERT_EQ(MC_Open_Empty_Message(&a), MC_NORMAL_COMPLETION);
  ASSERT_EQ(MC_Open_Item(&b, ""), MC_NORMAL_COMPLETION);
  ASSERT_EQ(MC_Free_Message(a), MC_NORMAL_COMPLETION);
  ASSERT_EQ(MC_Open_Empty_Message(&c), MC_NORMAL_COMPLETION);
  EXPECT_EQ(c, a);
  EXPECT_EQ(MC_Free_Item(b), MC_NORMAL_COMPLETION);
  EXPECT_EQ(MC_Free_Message(c), MC_NORMAL_COMPLETION);
}

TEST(ToolkitIdTable, IdsStaySixteenBitAndRunOutClearly) {
  initToolkit();
  std::vector<int> items;
  MC_STATUS s = MC_NORMAL_COMPLETION;
  while (s == MC_NORMAL_COMPLETION) {
    int id = 0;
    s = MC_Open_Item(&id, "");
    if (s == MC_NORMAL_COMPLETION) {
      ASSERT_GT(id, 0);
      ASSERT_LE(id, 32767);
      items.push_back(id);
    }
    ASSERT_LT(items.size(), 40000u);
  }
  EXPECT_EQ(s, MC_NO_FREE_ID);
  for (int id : items) ASSERT_EQ(MC_Free_Item(id), MC_NORMAL_COMPLETION);
}

TEST(ToolkitIdTable, ThreadsWorkOnTheirOwnMessagesAtOnce) {
  initToolkit();
  constexpr int kThreads = 7;
  constexpr int kRounds = 200;
  std::atomic<int> failures{0};
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([t, &failures] {
      for (int round = 0; round < kRounds; ++round) {
        int message = 0, item = 0;
        if (MC_Open_Empty_Message(&message) != MC_NORMAL_COMPLETION) {
          ++failures;
          continue;
        }
        const std::string name = "T" + std::to_string(t) + "^R" + std::to_string(round);
        bool ok = MC_Set_Value_From_String(message, tag(0x0010, 0x0010), name.c_str()) == MC_NORMAL_COMPLETION &&
                  MC_Open_Item(&item, "") == MC_NORMAL_COMPLETION &&
                  MC_Set_Value_From_Int(item, tag(0x0020, 0x0013), round) == MC_NORMAL_COMPLETION &&
                  MC_Set_Value_From_Int(message, tag(0x0008, 0x1140), item) == MC_NORMAL_COMPLETION;
        char text[64] = {};
        int read = -1, readItem = 0;
        ok = ok && MC_Get_Value_To_String(message, tag(0x0010, 0x0010), sizeof text, text) == MC_NORMAL_COMPLETION &&
             name == text && MC_Get_Value_To_Int(message, tag(0x0008, 0x1140), &readItem) == MC_NORMAL_COMPLETION &&
             readItem == item && MC_Get_Value_To_Int(readItem, tag(0x0020, 0x0013), &read) == MC_NORMAL_COMPLETION &&
             read == round;
        ok = MC_Free_Message(message) == MC_NORMAL_COMPLETION && ok;
        if (!ok) ++failures;
      }
    });
  }
  for (auto& thread : threads) thread.join();
  EXPECT_EQ(failures.load(), 0);
}

// Which received UIDs may become file names.
#include <gtest/gtest.h>

#include <string>

#include "store.h"

using zyl::storscp::ValidUid;

TEST(ValidUid, AcceptsUidsOfDigitComponents) {
  EXPECT_EQ(ValidUid("1.2.840.10008.5.1.4.1.1.7"), "1.2.840.10008.5.1.4.1.1.7");
  EXPECT_EQ(ValidUid("7"), "7");
  EXPECT_EQ(ValidUid("1.02.003"), "1.02.003");  // leading zeros, as some devices send them
  const std::string longest = "1." + std::string(62, '9');
  ASSERT_EQ(longest.size(), 64u);
  EXPECT_EQ(ValidUid(longest), longest);
}

TEST(ValidUid, StripsOneTrailingPadCharacter) {
  EXPECT_EQ(ValidUid(std::string("1.2.3\0", 6)), "1.2.3");
  EXPECT_EQ(ValidUid("1.2.3 "), "1.2.3");
  EXPECT_EQ(ValidUid(std::string("1.2.3\0\0", 7)), std::nullopt);
  EXPECT_EQ(ValidUid("1.2.3  "), std::nullopt);
  const std::string padded = "1." + std::string(62, '9') + '\0';
  EXPECT_TRUE(ValidUid(padded));
}

TEST(ValidUid, RefusesEverythingThatIsNotAUid) {
  const std::string refused[] = {"",
                                 std::string("\0", 1),
                                 ".",
                                 "..",
                                 "1..2",
                                 ".1",
                                 "1.",
                                 "../x",
                                 "/tmp/x",
                                 "/1.2",
                                 "a/b",
                                 "1.2/3",
                                 "1\\2",
                                 std::string("1.2\0.3", 6),
                                 "1.2 .3",
                                 " 1.2",
                                 "1.2.3a",
                                 "+1.2",
                                 "1." + std::string(63, '9'),
                                 std::string(200, '1')};
  for (const auto& uid : refused) EXPECT_EQ(ValidUid(uid), std::nullopt) << "[" << uid << "] size " << uid.size();
}

// The application id table: titles registered once, at most 64 of them.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <string>

#include "messages.h"
#include "startup.h"
#include "structures.h"
#include "zyl/runtime.h"

namespace {

namespace fs = std::filesystem;

TEST(ApplicationIds, TitlesAreRegisteredOnceAndTheSixtyFifthIsRefused) {
  const fs::path base = fs::temp_directory_path() / ("zyl_appid_" + std::to_string(getpid()));
  fs::create_directories(base);
  setenv("ZYL_DIR", ZYL_STAGE_DIR, 1);
  setenv("ZYL_USER_DIR", base.c_str(), 1);
  ASSERT_NE(orvo::defineMessageBlock(), nullptr);
  ASSERT_TRUE(orvo::startUp());
  ASSERT_NE(orvo::moduleApplicationId(), -1);

  const int first = orvo::applicationIdFor("TITLE_0");
  EXPECT_EQ(orvo::applicationIdFor("TITLE_0"), first);  // no second registration
  for (int i = 1; i < 64; ++i) orvo::applicationIdFor("TITLE_" + std::to_string(i));
  // Titles seen before still answer once the table is full.
  EXPECT_EQ(orvo::applicationIdFor("TITLE_0"), first);
  EXPECT_NE(orvo::applicationIdFor("TITLE_63"), first);
  try {
    orvo::applicationIdFor("TITLE_64");
    FAIL() << "a 65th title was accepted";
  } catch (const zyl::HostError& e) {
    EXPECT_EQ(std::string(e.what()), "Error: Ran out of App Id structures.");
  }
  // The module's own title is not in the table.
  EXPECT_NE(orvo::moduleApplicationId(), first);
  fs::remove_all(base);
}

}  // namespace

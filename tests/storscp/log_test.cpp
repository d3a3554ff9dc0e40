// The two alternating log files.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <regex>
#include <sstream>
#include <thread>
#include <vector>

#include "state.h"
#include "support/temp_dir.h"

namespace fs = std::filesystem;
using zyl::storscp::kLogSwitchBytes;
using zyl::storscp::ServiceLog;
using zyl::test::ReadText;

namespace {

class LogFiles : public ::testing::Test {
 protected:
  void SetUp() override {
    first_ = temp_.file("storscp1.log");
    second_ = temp_.file("storscp2.log");
  }

  static void Fill(const std::string& path, std::size_t bytes, char c = 'x') {
    std::ofstream(path, std::ios::binary | std::ios::trunc) << std::string(bytes, c);
  }
  static std::size_t Size(const std::string& path) {
    std::error_code ec;
    const auto size = fs::file_size(path, ec);
    return ec ? 0 : static_cast<std::size_t>(size);
  }

  zyl::test::TempDir temp_{"storscp_log"};
  const fs::path& dir_ = temp_.path();
  std::string first_, second_;
};

const std::size_t kFull = static_cast<std::size_t>(kLogSwitchBytes);

}  // namespace

TEST_F(LogFiles, AppendsToTheFirstFileWhileItHasRoom) {
  Fill(first_, 100);
  ServiceLog log;
  log.open(first_, second_);
  ASSERT_TRUE(log.isOpen());
  EXPECT_EQ(log.index(), 1);
  log.line("hello there");
  const std::string text = ReadText(first_);
  EXPECT_EQ(text.substr(0, 100), std::string(100, 'x'));
  EXPECT_TRUE(
      std::regex_match(text.substr(100),
                       std::regex("[A-Z][a-z]{2} [A-Z][a-z]{2} [ 0-9]\\d \\d\\d:\\d\\d:\\d\\d \\d{4}, hello there \n")))
      << text.substr(100);
  EXPECT_FALSE(fs::exists(second_));
}

TEST_F(LogFiles, AFullFirstFileSendsTheLogToTheSecond) {
  Fill(first_, kFull);
  Fill(second_, 10, 'y');
  ServiceLog log;
  log.open(first_, second_);
  EXPECT_EQ(log.index(), 2);
  log.line("to the second");
  EXPECT_EQ(Size(first_), kFull);
  EXPECT_EQ(ReadText(second_).substr(0, 10), std::string(10, 'y'));
  EXPECT_NE(ReadText(second_).find("to the second \n"), std::string::npos);
}

TEST_F(LogFiles, TwoFullFilesEmptyTheFirst) {
  Fill(first_, kFull + 5);
  Fill(second_, kFull);
  ServiceLog log;
  log.open(first_, second_);
  EXPECT_EQ(log.index(), 1);
  log.line("fresh start");
  EXPECT_EQ(Size(second_), kFull);
  const std::string text = ReadText(first_);
  EXPECT_LT(text.size(), 100u);
  EXPECT_NE(text.find("fresh start"), std::string::npos);
}

TEST_F(LogFiles, TheLinePastTheLimitIsTheLastOneInItsFile) {
  for (int round = 0; round < 2; ++round) {
    // Round 0 switches from the first file to the second, round 1 back.
    const std::string& from = round == 0 ? first_ : second_;
    const std::string& to = round == 0 ? second_ : first_;
    Fill(from, kFull - 10);
    // An old file, emptied when the log turns to it; in round 1 it is the
    // full first file, which sends the log to the second at opening.
    Fill(to, round == 0 ? 5000 : kFull, 'o');
    ServiceLog log;
    log.open(first_, second_);
    ASSERT_EQ(log.index(), round == 0 ? 1 : 2);
    log.line("crosses the limit");
    EXPECT_GT(Size(from), kFull);
    EXPECT_EQ(ReadText(from).rfind("crosses the limit \n"), Size(from) - std::string("crosses the limit \n").size());
    EXPECT_EQ(log.index(), round == 0 ? 2 : 1);
    EXPECT_EQ(Size(to), 0u);
    log.line("next line");
    const std::string next = ReadText(to);
    EXPECT_EQ(next.find('o'), std::string::npos);
    EXPECT_NE(next.find("next line \n"), std::string::npos);
  }
}

TEST_F(LogFiles, LinesAreCutAtTheirBufferSize) {
  ServiceLog log;
  log.open(first_, second_);
  log.line(std::string(2000, 'a'));
  const std::string text = ReadText(first_);
  EXPECT_EQ(text.size(), zyl::storscp::kLogLineSize - 1);
}

TEST_F(LogFiles, NoFileMeansNoLogAndNoFailure) {
  ServiceLog log;
  log.open((dir_ / "missing" / "a.log").string(), (dir_ / "missing" / "b.log").string());
  EXPECT_FALSE(log.isOpen());
  log.line("nowhere");
  EXPECT_FALSE(fs::exists(dir_ / "missing"));
}

TEST_F(LogFiles, ConcurrentLinesNeverInterleaveAndFilesStayBounded) {
  ServiceLog log;
  log.open(first_, second_);
  constexpr int kThreads = 4, kLines = 3000;
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t)
    threads.emplace_back([&log, t] {
      for (int i = 0; i < kLines; ++i)
        log.line("Thread(" + std::to_string(t) + "): line " + std::to_string(i) + " end");
    });
  for (auto& th : threads) th.join();
  const std::regex shape(".*, Thread\\(\\d\\): line \\d+ end ");
  std::size_t lines = 0;
  for (const auto& path : {first_, second_}) {
    EXPECT_LE(Size(path), kFull + zyl::storscp::kLogLineSize);
    std::istringstream in(ReadText(path));
    std::string line;
    while (std::getline(in, line)) {
      ++lines;
      EXPECT_TRUE(std::regex_match(line, shape)) << line;
    }
  }
  EXPECT_GT(lines, 1000u);
}

// The loader over many mutations of real configuration files.
#include <random>

#include "config_test_support.h"
#include "fuzz_config_loader.h"

namespace zyl::config::testing {
namespace {

std::string Mutate(std::string text, std::mt19937& random) {
  static constexpr std::string_view kTokens[] = {"<",
                                                 ">",
                                                 "</",
                                                 "/>",
                                                 "&",
                                                 "&amp;",
                                                 "&#65;",
                                                 "<!--",
                                                 "-->",
                                                 "<![CDATA[",
                                                 "]]>",
                                                 "\"",
                                                 "'",
                                                 "\r\n",
                                                 "\xEF\xBB\xBF",
                                                 "\xC3\xA9",
                                                 "\xFF",
                                                 "<?pi x?>",
                                                 "<QRScuServiceAE>",
                                                 "</Cfg>",
                                                 "=",
                                                 " "};
  if (!text.empty()) {
    const std::size_t at = random() % text.size();
    switch (random() % 4) {
      case 0:
        text[at] = static_cast<char>(random());
        break;
      case 1:
        text.erase(at, 1 + random() % 16);
        break;
      case 2:
        text.insert(at, kTokens[random() % std::size(kTokens)]);
        break;
      default:
        text.insert(at, text.substr(random() % text.size(), 1 + random() % 32));
        break;
    }
  }
  return text;
}

TEST(LoaderFuzz, MutatedConfigurationsNeverBreakTheLayer) {
  const std::string seeds[] = {
      std::string(kSampleConfig),
      ReadText(ZYL_SHIPPED_ORVOCFG),
      "\xEF\xBB\xBF<?xml version='1.0'?>\r\n<!-- a -->\r\n<Cfg x='1'>\r\n<QRScuServiceAE>A</QRScuServiceAE>"
      "<![CDATA[c]]></Cfg>\r\n<!-- b -->",
  };
  TempDir dir;
  std::mt19937 random(20240611);  // fixed, so that a failure repeats
  constexpr int kRounds = 400;
  int loaded = 0;
  for (int round = 0; round < kRounds; ++round) {
    const std::string input = Mutate(seeds[round % std::size(seeds)], random);
    const int failed = ExerciseConfigBytes(input, dir.path().string());
    ASSERT_EQ(failed, 0) << "round " << round << " input:\n" << input;
    std::array<char, 512> message{};
    ConfigDocument document;
    loaded += LoadConfig(dir.file("input.xml"), document, message) == 0;
  }
  // Both outcomes must have been exercised for the test to mean anything.
  RecordProperty("loaded", loaded);
  EXPECT_GT(loaded, kRounds / 10);
  EXPECT_LT(loaded, kRounds - kRounds / 10);
}

}  // namespace
}  // namespace zyl::config::testing

#include "fuzz_config_loader.h"

#include <unistd.h>

#include <array>
#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <vector>

#include "config/orvo_config.h"

namespace zyl::config::testing {

namespace {

void Store(const std::string& path, std::string_view bytes) {
  std::ofstream(path, std::ios::binary | std::ios::trunc)
      .write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

std::string Fetch(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

}  // namespace

int ExerciseConfigBytes(std::string_view bytes, const std::string& folder) {
  const std::string input = folder + "/input.xml";
  const std::string output = folder + "/output.xml";
  Store(input, bytes);

  ConfigDocument document;
  std::array<char, 512> message{};
  if (LoadConfig(input, document, message) != 0) {
    const std::string text = message.data();
    const bool known = text.starts_with("Error: Failed to load xml doc for cfg file (") ||
                       text.starts_with("Error: Failed to load xml cfg file (");
    return known && !document.isOpen() ? 0 : 1;
  }

  std::array<char, 256> value{};
  ReadParam(document, "QRScuServiceAE", value, input, message);
  int count = 0;
  if (CountApplEntities(document, count, input, message) != 0 || count < 0) return 2;
  std::vector<CfgApplEntity> entities(static_cast<std::size_t>(count));
  if (ReadApplEntities(document, entities, count, false, {}, input, message) != 0) return 3;
  if (CountServiceLists(document, count, input, message) == 0) {
    std::vector<CfgText> names(static_cast<std::size_t>(count));
    if (ReadServiceLists(document, names, input, message) != 0) return 4;
  }

  // Unchanged, the document is its own bytes.
  if (WriteConfig(document, output, message) != 0 || Fetch(output) != bytes) return 5;

  // Edited, it must still load, and show the edit.
  std::array<char, 256> before{};
  if (SetParam(document, "QRScuServiceAE", "FUZZ_VALUE", input, message) == 0 &&
      ReadParam(document, "QRScuServiceAE", before, input, message) == 0) {
    if (WriteConfig(document, output, message) != 0) return 6;
    ConfigDocument reloaded;
    if (LoadConfig(output, reloaded, message) != 0) return 7;
    std::array<char, 256> after{};
    if (ReadParam(reloaded, "QRScuServiceAE", after, output, message) != 0) return 8;
    if (std::string_view(after.data()) != before.data()) return 9;
  }
  return 0;
}

}  // namespace zyl::config::testing

#ifdef ZYL_LIBFUZZER_MAIN
extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static const std::string folder = [] {
    std::string pattern = "/tmp/zylcfg-fuzz-XXXXXX";
    if (::mkdtemp(pattern.data()) == nullptr) std::abort();
    return pattern;
  }();
  const int failed =
      zyl::config::testing::ExerciseConfigBytes(std::string_view(reinterpret_cast<const char*>(data), size), folder);
  if (failed != 0) std::abort();
  return 0;
}
#endif

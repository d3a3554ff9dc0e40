// orvocfg.xml with many application entities: load, look up the last entity,
// edit it, add and remove one, and write the file back. Every step should
// grow linearly with the number of entities.
#include <benchmark/benchmark.h>
#include <stdlib.h>

#include <array>
#include <filesystem>
#include <fstream>
#include <stdexcept>
#include <string>

#include "config/orvo_config.h"

namespace {

namespace cfg = zyl::config;
namespace fs = std::filesystem;

std::string EntityName(int index) { return "NODE_" + std::to_string(index); }

// A configuration in the shipped shape with `count` entities.
std::string ConfigText(int count) {
  std::string text =
      "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<OrvoConfiguration>\n"
      "  <QRScuServiceAE>NODE_0</QRScuServiceAE>\n  <StorScpDir>storage</StorScpDir>\n"
      "  <ApplicationEntities>\n";
  for (int i = 0; i < count; ++i) {
    text += "    <ApplicationEntity Name=\"" + EntityName(i) + "\">\n      <AET>AE_" + std::to_string(i) +
            "</AET>\n      <Hostname>10.0.0.1</Hostname>\n      <Port>104</Port>\n"
            "      <ServiceList>Storage_SCU_Service_List</ServiceList>\n"
            "      <ServiceType>Storage_SCP</ServiceType>\n    </ApplicationEntity>\n";
  }
  return text +
         "  </ApplicationEntities>\n  <ServiceLists>\n"
         "    <ServiceListName>Storage_SCU_Service_List</ServiceListName>\n  </ServiceLists>\n"
         "</OrvoConfiguration>\n";
}

class ConfigFile {
 public:
  explicit ConfigFile(int count) {
    std::string pattern = (fs::temp_directory_path() / "zylcfg-bench-XXXXXX").string();
    if (::mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
    folder_ = pattern;
    path_ = (folder_ / "orvocfg.xml").string();
    std::ofstream(path_, std::ios::binary) << ConfigText(count);
  }
  ~ConfigFile() {
    std::error_code ignored;
    fs::remove_all(folder_, ignored);
  }
  const std::string& path() const { return path_; }

 private:
  fs::path folder_;
  std::string path_;
};

void Check(int status, const std::array<char, 512>& message, benchmark::State& state) {
  if (status != 0) state.SkipWithError(message.data());
}

void BM_Load(benchmark::State& state) {
  const ConfigFile file(static_cast<int>(state.range(0)));
  std::array<char, 512> message{};
  for (auto _ : state) {
    cfg::ConfigDocument document;
    Check(cfg::LoadConfig(file.path(), document, message), message, state);
  }
}

// A configuration of state.range(0) entities, loaded before the timing starts.
struct LoadedConfig {
  explicit LoadedConfig(benchmark::State& state)
      : state(state), count(static_cast<int>(state.range(0))), file(count), last(EntityName(count - 1)) {
    check(cfg::LoadConfig(file.path(), document, message));
  }
  void check(int status) { Check(status, message, state); }

  benchmark::State& state;
  const int count;
  const ConfigFile file;
  const std::string last;  // the name of the last entity
  std::array<char, 512> message{};
  cfg::ConfigDocument document;
};

void BM_ReadLastEntity(benchmark::State& state) {
  LoadedConfig config(state);
  for (auto _ : state) {
    cfg::CfgApplEntity entity;
    config.check(cfg::ReadApplEntity(config.document, config.last, entity, config.file.path(), config.message));
    benchmark::DoNotOptimize(entity);
  }
}

// What SetApplicationEntity and RemoveApplicationEntity do: the existence
// check, the service-list check and the change itself.
void BM_EditAddRemove(benchmark::State& state) {
  LoadedConfig config(state);
  const std::string& path = config.file.path();
  for (auto _ : state) {
    bool found = false;
    config.check(cfg::ApplEntityExists(config.document, config.last, found, path, config.message));
    config.check(cfg::ServiceListExists(config.document, "Storage_SCU_Service_List", found, path, config.message));
    config.check(cfg::SetApplEntity(config.document, config.last, "CHANGED", "10.0.0.2", "105",
                                    "Storage_SCU_Service_List", "Storage_SCP", path, config.message));
    config.check(cfg::SetApplEntity(config.document, "NEW_NODE", "NEW", "10.0.0.3", "106", "Storage_SCU_Service_List",
                                    "Storage_SCP", path, config.message));
    config.check(cfg::RemoveApplEntity(config.document, "NEW_NODE", path, config.message));
  }
}

void BM_EditAndWrite(benchmark::State& state) {
  LoadedConfig config(state);
  for (auto _ : state) {
    config.check(cfg::SetParam(config.document, "StorScpDir", "elsewhere", config.file.path(), config.message));
    config.check(cfg::WriteConfig(config.document, config.file.path(), config.message));
  }
}

}  // namespace

BENCHMARK(BM_Load)->Arg(1000)->Arg(10000)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ReadLastEntity)->Arg(1000)->Arg(10000)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_EditAddRemove)->Arg(1000)->Arg(10000)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_EditAndWrite)->Arg(1000)->Arg(10000)->Unit(benchmark::kMillisecond);
BENCHMARK_MAIN();

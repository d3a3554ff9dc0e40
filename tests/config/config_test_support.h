// Shared helpers of the configuration access layer tests.
#pragma once

#include <gtest/gtest.h>
#include <stdlib.h>

#include <algorithm>
#include <array>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "config/orvo_config.h"

namespace zyl::config::testing {

// A fresh folder under the system's temporary directory, removed at the end.
class TempDir {
 public:
  TempDir() {
    std::string pattern = (std::filesystem::temp_directory_path() / "zylcfg-test-XXXXXX").string();
    if (::mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
    path_ = pattern;
  }
  ~TempDir() {
    std::error_code ignored;
    std::filesystem::permissions(path_, std::filesystem::perms::owner_all,
                                 std::filesystem::perm_options::add, ignored);
    std::filesystem::remove_all(path_, ignored);
  }
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;

  std::string file(std::string_view name) const { return (path_ / name).string(); }
  const std::filesystem::path& path() const { return path_; }
  // Names of everything in the folder, for checks that nothing was left over.
  std::vector<std::string> entries() const {
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(path_))
      names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
  }

 private:
  std::filesystem::path path_;
};

inline void WriteFile(const std::string& path, std::string_view bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  if (!out) throw std::runtime_error("cannot write " + path);
}

inline std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

inline std::string Replace(std::string text, std::string_view from, std::string_view to) {
  const auto at = text.find(from);
  if (at == std::string::npos) throw std::runtime_error("no '" + std::string(from) + "' in text");
  return text.replace(at, from.size(), to);
}

// A small configuration in the shape of the shipped one.
inline constexpr std::string_view kSampleConfig = R"(<?xml version="1.0" encoding="UTF-8"?>
<!-- sample -->
<Cfg>
  <QRScuServiceAE>AE_QUERY</QRScuServiceAE>
  <StorScpDir>/data/store</StorScpDir>
  <SystemDir/>
  <Empty></Empty>
  <ApplicationEntities>
    <ApplicationEntity Name="AE_QUERY">
      <AET>QUERY_SCU</AET>
      <Hostname>127.0.0.1</Hostname>
      <Port>11112</Port>
      <ServiceList>QR_List</ServiceList>
      <ServiceType>QR_SCU</ServiceType>
    </ApplicationEntity>
    <ApplicationEntity Name="REMOTE">
      <AET>PACS</AET>
      <Hostname>pacs.example</Hostname>
      <Port>104</Port>
      <ServiceList>Store_List</ServiceList>
      <ServiceType>QR_SCP</ServiceType>
    </ApplicationEntity>
  </ApplicationEntities>
  <ServiceLists>
    <L>QR_List</L>
    <L>Store_List</L>
  </ServiceLists>
  <ServiceTypes>
    <T>QR_SCU</T>
    <T>QR_SCP</T>
    <T>Storage_SCP</T>
  </ServiceTypes>
</Cfg>
)";

// Owns a loaded document of the given text and the buffers the calls need.
class ConfigFixture : public ::testing::Test {
 protected:
  void Load(std::string_view text) {
    path_ = dir_.file("orvocfg.xml");
    WriteFile(path_, text);
    ASSERT_EQ(LoadConfig(path_, document_, message_), 0) << message_.data();
  }
  std::string Message() const { return message_.data(); }
  // Writes the document back to its own path and returns the file.
  std::string WriteBack() {
    EXPECT_EQ(WriteConfig(document_, path_, message_), 0) << message_.data();
    return ReadFile(path_);
  }
  std::string Param(std::string_view name) {
    std::array<char, 256> value{};
    EXPECT_EQ(ReadParam(document_, name, value, path_, message_), 0) << message_.data();
    return value.data();
  }

  TempDir dir_;
  std::string path_;
  ConfigDocument document_;
  std::array<char, 512> message_{};
};

}  // namespace zyl::config::testing

// Shared helpers of the configuration access layer tests.
#pragma once

#include <gtest/gtest.h>

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
#include "support/temp_dir.h"

namespace zyl::config::testing {

using zyl::test::ReadText;
using zyl::test::TempDir;

inline void WriteFile(const std::string& path, std::string_view bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  if (!out) throw std::runtime_error("cannot write " + path);
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
    return ReadText(path_);
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

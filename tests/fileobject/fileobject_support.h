// The real module loaded into the real host, with helpers to make ZYLffOrvo
// objects, call their methods, capture messages and read files back with
// DCMTK's command-line tools.
#pragma once

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "support/process.h"
#include "support/temp_dir.h"
#include "zyl/runtime.h"

namespace fotest {

namespace fs = std::filesystem;

inline const fs::path kCorpus = "/usr/lib/python3/dist-packages/pydicom/data/test_files";
inline const fs::path kCt = kCorpus / "CT_small.dcm";
inline const fs::path kMr = kCorpus / "MR_small.dcm";

using zyl::Type;
using zyl::Variable;

inline zyl::Runtime& rt() { return zyl::Runtime::instance(); }

// Runs a shell command; its standard output, and its exit code in `status`.
inline std::string run(const std::string& command, int* status = nullptr) {
  zyl::test::ToolResult result = zyl::test::RunShell(command);
  if (status) *status = result.exitCode;
  return std::move(result.output);
}

inline std::string quote(const fs::path& p) { return zyl::test::ShellQuote(p.string()); }

inline std::vector<unsigned char> readBytes(const fs::path& p) {
  std::ifstream in(p, std::ios::binary);
  return std::vector<unsigned char>(std::istreambuf_iterator<char>(in), {});
}
inline void writeBytes(const fs::path& p, const std::vector<unsigned char>& bytes) {
  std::ofstream out(p, std::ios::binary);
  out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

// One keyword of a call, holding its value.
struct Kw {
  std::string name;
  zyl::Variable value;
};

class FileObjectTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    if (loaded_) return;
    // The module keeps using the per-user folder until the program ends.
    static const zyl::test::TempDir userBase("zyl_fileobject_user");
    setenv("ZYL_DIR", ZYL_STAGE_DIR, 1);
    setenv("ZYL_USER_DIR", userBase.path().c_str(), 1);
    std::string error;
    loaded_ = rt().loadModule(ZYL_ORVO_PATH, &error);
    ASSERT_TRUE(loaded_) << error;
  }

  void SetUp() override {
    ASSERT_TRUE(loaded_);
    dir_.emplace("zyl_fileobject");
    rt().setMessageSink([this](const zyl::Message& m) { messages.push_back(m); });
    rt().setQuiet(false);
  }
  void TearDown() override {
    for (zyl::Variable& o : objects_) rt().destroyObject(o);
    objects_.clear();
    rt().setMessageSink(nullptr);
    rt().setQuiet(false);
    EXPECT_EQ(rt().liveTemporaries(), 0u);
    dir_.reset();
  }

  fs::path tmp(const std::string& name) const { return dir_->path() / name; }

  // A DICOM file (explicit VR little endian) made by dump2dcm from dump lines.
  fs::path fromDump(const std::string& name, const std::string& lines) {
    const fs::path text = tmp(name + ".txt");
    const fs::path out = tmp(name);
    std::ofstream(text) << lines;
    EXPECT_EQ(std::system(("dump2dcm -q +E " + quote(text) + " " + quote(out)).c_str()), 0);
    return out;
  }

  // A corpus file relabelled (by pydicom) with a syntax nothing here
  // decodes, MPEG-2: its encapsulated pixel data stays as it is.
  fs::path relabelledAsMpeg2(const std::string& corpusName) {
    const fs::path out = tmp("mpeg2_" + corpusName);
    EXPECT_EQ(std::system(("/usr/bin/python3 -c 'import sys, pydicom; d = pydicom.dcmread(sys.argv[1]); "
                           "d.file_meta.TransferSyntaxUID = \"1.2.840.10008.1.2.4.100\"; d.save_as(sys.argv[2])' " +
                           quote(kCorpus / corpusName) + " " + quote(out))
                              .c_str()),
              0);
    return out;
  }

  static std::vector<zyl::KeywordArg> keywordArgs(std::vector<Kw>& kws) {
    std::vector<zyl::KeywordArg> out;
    for (Kw& k : kws) out.push_back({k.name, &k.value});
    return out;
  }

  // A new object (destroyed at the end of the test); throws HostError.
  zyl::Variable make(const std::string& file, std::vector<Kw> kws = {}) {
    zyl::Variable name = zyl::Variable::ofString(file);
    zyl::Variable object = rt().newObject("ZYLFFORVO", {&name}, keywordArgs(kws));
    objects_.push_back(object);
    return object;
  }

  // The error text of making an object, "" when it was made.
  std::string makeError(const std::string& file, std::vector<Kw> kws = {}) {
    try {
      make(file, std::move(kws));
      return "";
    } catch (const zyl::HostError& e) {
      return e.what();
    }
  }

  zyl::Variable call(zyl::Variable& object, const std::string& method, std::vector<zyl::Variable> args = {},
                     std::vector<Kw> kws = {}) {
    std::vector<zyl::Variable*> argp;
    for (zyl::Variable& a : args) argp.push_back(&a);
    return rt().callMethod(object, method, argp, keywordArgs(kws));
  }
  zyl::Variable call(zyl::Variable& object, const std::string& method, const std::string& tag,
                     std::vector<Kw> kws = {}) {
    return call(object, method, std::vector<zyl::Variable>{zyl::Variable::ofString(tag)}, std::move(kws));
  }

  // The error text of a call, "" when it succeeded.
  std::string callError(zyl::Variable& object, const std::string& method, const std::string& tag,
                        std::vector<Kw> kws = {}) {
    try {
      call(object, method, tag, std::move(kws));
      return "";
    } catch (const zyl::HostError& e) {
      return e.what();
    }
  }

  std::string getString(zyl::Variable& object, const std::string& tag, std::vector<Kw> kws = {}) {
    zyl::Variable v = call(object, "GetValue", tag, std::move(kws));
    EXPECT_TRUE(v.isScalarString()) << tag;
    return std::string(v.text());
  }

  bool sawMessage(const std::string& part) const {
    for (const zyl::Message& m : messages)
      if (m.text.find(part) != std::string::npos) return true;
    return false;
  }

  std::vector<zyl::Message> messages;

 private:
  static inline bool loaded_ = false;
  std::optional<zyl::test::TempDir> dir_;
  std::vector<zyl::Variable> objects_;
};

inline bool contains(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

inline Kw kw(const char* name, int32_t v) { return {name, zyl::Variable::ofInt32(v)}; }
inline Kw kw(const char* name, const std::string& v) { return {name, zyl::Variable::ofString(v)}; }

// A host array of strings.
inline zyl::Variable strings(const std::vector<std::string>& values) {
  auto array =
      std::make_unique<zyl::Array>(zyl::Type::String, std::vector<int64_t>{static_cast<int64_t>(values.size())}, true);
  for (size_t i = 0; i < values.size(); ++i) zyl::hostStringAssign(array->as<zyl::HostString>()[i], values[i]);
  return zyl::Variable::ofArray(std::move(array));
}

// Where field `name` of record `index` of a structure array lies.
inline const std::byte* recordField(const zyl::Variable& records, int64_t index, const char* name) {
  const zyl::Array& a = *records.array();
  const zyl::StructDef& def = *a.structDef();
  return a.data() + a.elemSize() * static_cast<size_t>(index) +
         def.fields()[static_cast<size_t>(def.fieldIndex(name))].offset;
}
// A string field of a record, and a number field.
inline std::string recordText(const zyl::Variable& records, int64_t index, const char* name) {
  return std::string(zyl::hostStringText(*reinterpret_cast<const zyl::HostString*>(recordField(records, index, name))));
}
template <typename T>
T recordNumber(const zyl::Variable& records, int64_t index, const char* name) {
  T value{};
  std::memcpy(&value, recordField(records, index, name), sizeof value);
  return value;
}

}  // namespace fotest

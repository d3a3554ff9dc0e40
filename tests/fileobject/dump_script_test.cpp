// examples/dump.zyl run by the zyl program: every attribute it prints, with
// the items of its sequences, equals what dcmdump shows for the same file,
// and it leaves out none of the attributes it looks for that the file holds.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cmath>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <regex>
#include <set>

#include "dump_tree.h"
#include "support/process.h"
#include "support/temp_dir.h"

namespace fotest {
namespace {

namespace fs = std::filesystem;

const fs::path kCorpus = "/usr/lib/python3/dist-packages/pydicom/data/test_files";
const fs::path kScript = fs::path(ZYL_EXAMPLES_DIR) / "dump.zyl";

using zyl::test::RunShell;
using zyl::test::ToolResult;

std::string quote(const fs::path& p) { return zyl::test::ShellQuote(p.string()); }

ToolResult dumpScript(const std::string& arguments) {
  static const zyl::test::TempDir user("zyl_dump_script");
  return RunShell("ZYL_USER_DIR=" + quote(user.path()) + " " + quote(ZYL_PROGRAM) + " " + quote(kScript) + " " +
                  arguments + " 2>&1");
}

// The tags the script looks for at the top level, read from the script.
std::set<std::string> scriptTopTags() {
  std::ifstream in(kScript);
  const std::string text{std::istreambuf_iterator<char>(in), {}};
  const size_t start = text.find("top_tags = [");
  const size_t end = text.find(']', start);
  std::set<std::string> tags;
  if (start == std::string::npos || end == std::string::npos) return tags;
  const std::string list = text.substr(start, end - start);
  const std::regex tag("\"([0-9a-fA-F]{4},[0-9a-fA-F]{4})\"");
  for (auto it = std::sregex_iterator(list.begin(), list.end(), tag); it != std::sregex_iterator(); ++it)
    tags.insert((*it)[1].str());
  return tags;
}

std::string lower(std::string s) {
  for (char& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return s;
}

class DumpScript : public ::testing::Test {
 protected:
  int compared = 0;

  // Each node we printed against dcmdump's node of the same tag at the same level.
  void compareLevel(const std::vector<std::unique_ptr<DumpNode>>& ours,
                    const std::vector<std::unique_ptr<DumpNode>>& theirs) {
    static const std::string kNumbers = "SS US UL SL FL FD";
    for (const auto& n : ours) {
      SCOPED_TRACE(n->tag + " " + n->vr + " " + n->value);
      const DumpNode* ref = nullptr;
      for (const auto& t : theirs)
        if (lower(t->tag) == lower(n->tag)) ref = t.get();
      ASSERT_NE(ref, nullptr) << "printed but not in the file";
      EXPECT_EQ(n->vr, ref->vr);
      EXPECT_EQ(n->vm, ref->vm);
      ++compared;
      if (n->vr == "SQ") {
        ASSERT_EQ(n->children.size(), ref->children.size());
        for (size_t i = 0; i < n->children.size(); ++i)
          compareLevel(n->children[i]->children, ref->children[i]->children);
        continue;
      }
      if (ref->vm == 0) {
        EXPECT_EQ(n->value, "(no value available)");
        continue;
      }
      if (n->value.rfind('[', 0) == 0) {
        const auto got = splitValues(n->value.substr(1, n->value.size() - 2));
        const auto want = splitValues(ref->value.substr(1, ref->value.size() - 2));
        ASSERT_EQ(got.size(), want.size());
        for (size_t i = 0; i < got.size(); ++i) EXPECT_EQ(trim(got[i]), trim(want[i]));
      } else if (kNumbers.find(n->vr) != std::string::npos) {
        const auto got = splitValues(n->value);
        const auto want = splitValues(ref->value);
        ASSERT_EQ(got.size(), want.size());
        for (size_t i = 0; i < got.size(); ++i) {
          const double w = std::stod(want[i]);
          EXPECT_NEAR(std::stod(got[i]), w, std::fabs(w) * 1e-5 + 1e-6);
        }
      } else {
        EXPECT_EQ(n->value, ref->value);
      }
    }
  }
};

TEST_F(DumpScript, PrintsWhatDcmdumpShowsForTheAttributesItLooksFor) {
  const std::set<std::string> looked = scriptTopTags();
  ASSERT_GT(looked.size(), 50u);
  for (const char* name : {"CT_small.dcm", "MR_small_bigendian.dcm", "rtplan.dcm", "test-SR.dcm", "JPEG2000.dcm",
                           "SC_rgb_jpeg_dcmtk.dcm"}) {
    SCOPED_TRACE(name);
    const fs::path file = kCorpus / name;
    const ToolResult ours = dumpScript(quote(file));
    ASSERT_EQ(ours.exitCode, 0) << ours.output;
    EXPECT_EQ(ours.output.rfind("# " + file.string() + "\n", 0), 0u) << ours.output;
    const ToolResult reference = RunShell("dcmdump -q -Un +L " + quote(file) + " 2>/dev/null");
    const auto ourTree = parseDump(ours.output);
    const auto theirTree = parseDump(reference.output);
    compared = 0;
    compareLevel(ourTree, theirTree);
    // Nothing the script looks for is missing from its output.
    std::set<std::string> printed;
    for (const auto& n : ourTree) printed.insert(lower(n->tag));
    for (const auto& t : theirTree) {
      if (looked.count(lower(t->tag))) {
        EXPECT_TRUE(printed.count(lower(t->tag))) << "left out: " << t->tag;
      }
    }
    EXPECT_GT(compared, 15) << ours.output;
  }
}

TEST_F(DumpScript, WithoutAFileItDumpsTheSampleAndAMissingFileFails) {
  const ToolResult sample = dumpScript("");
  ASSERT_EQ(sample.exitCode, 0) << sample.output;
  EXPECT_EQ(sample.output, dumpScript(quote(kCorpus / "CT_small.dcm")).output);
  const ToolResult missing = dumpScript("/nonexistent/file.dcm");
  EXPECT_NE(missing.exitCode, 0);
  EXPECT_NE(missing.output.find("Unable to locate file"), std::string::npos) << missing.output;
}

}  // namespace
}  // namespace fotest

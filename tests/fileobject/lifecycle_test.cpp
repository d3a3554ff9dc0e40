// Init, Cleanup and Commit: keyword rules, modes, create, clone and the files
// they write, read back by dcmdump.
#include <cstring>
#include <regex>
#include <sstream>
#include <set>

#include "fileobject_support.h"

namespace fotest {
namespace {

class Lifecycle : public FileObjectTest {
 protected:
  // dcmdump of a file: every attribute printed with its UID numbers.
  static std::string dump(const fs::path& p) { return run("dcmdump -q -Un +L " + quote(p) + " 2>&1"); }
  // The value dcmdump shows in brackets for a tag, "" when absent.
  static std::string dumped(const std::string& dumpText, const std::string& tag) {
    const std::regex line("\\(" + tag + "\\) .. \\[([^\\]]*)\\]");
    std::smatch m;
    return std::regex_search(dumpText, m, line) ? m[1].str() : "";
  }
  static bool validUid(const std::string& uid) {
    static const std::regex form("^(0|[1-9][0-9]*)(\\.(0|[1-9][0-9]*))+$");
    return uid.size() <= 64 && std::regex_match(uid, form);
  }
};

TEST_F(Lifecycle, KeywordCombinationsAreCheckedInOrder) {
  const std::string newName = tmp("new.dcm").string();
  EXPECT_TRUE(contains(makeError(newName, {kw("CREATE", 0), kw("CLONE", kMr.string())}),
                       "Error: the clone and create keywords are mutually exclusive."));
  // CREATE=0 alone opens read-only.
  make(kMr.string(), {kw("CREATE", 0)});
  // SOP_CLASS without CREATE fails even for an existing file.
  EXPECT_TRUE(contains(makeError(kMr.string(), {kw("SOP_CLASS", "STANDARD_MR_IMAGE")}),
                       "Error: When providing the SOP_CLASS keyword you must also supply the Create keyword."));
  EXPECT_TRUE(contains(makeError(kMr.string(), {kw("CREATE", 0), kw("SOP_CLASS", "STANDARD_MR_IMAGE")}),
                       "must also supply the Create keyword."));
  // CREATE=1 on an existing name without SOP_CLASS: the already-exists message first.
  const std::string exists = makeError(kMr.string(), {kw("CREATE", 1)});
  EXPECT_TRUE(contains(exists, "Error: File already exists (filename argument), " + kMr.string())) << exists;
  EXPECT_TRUE(contains(makeError(newName, {kw("CREATE", 1)}),
                       "Error: When creating a new file you must set the SOP_CLASS keyword."));
  // NO_PIXEL_DATA=0 with CREATE is accepted; NO_PIXEL_DATA=1 with CREATE=0 is not.
  make(newName, {kw("CREATE", 1), kw("SOP_CLASS", "STANDARD_MR_IMAGE"), kw("NO_PIXEL_DATA", 0)});
  EXPECT_TRUE(contains(makeError(kMr.string(), {kw("CREATE", 0), kw("NO_PIXEL_DATA", 1)}),
                       "Error: The Create and No_Pixel_Data keywords are exclusive."));
  EXPECT_TRUE(contains(makeError(tmp("c.dcm").string(), {kw("CLONE", kMr.string()), kw("NO_PIXEL_DATA", 1)}),
                       "Error: The Clone and No_Pixel_Data keywords are exclusive."));
  EXPECT_TRUE(contains(makeError(tmp("missing.dcm").string()),
                       "Error: Unable to locate file (filename argument) , " + tmp("missing.dcm").string()));
  EXPECT_TRUE(contains(makeError(tmp("c.dcm").string(), {kw("CLONE", tmp("nothere.dcm").string())}),
                       "Error: Unable to locate file (CLONE keyword) "));
  EXPECT_TRUE(
      contains(makeError(tmp("c.dcm").string(), {kw("CLONE", kMr.string()), kw("CREATE", 1)}), "mutually exclusive"));
}

TEST_F(Lifecycle, TheFileNameMustBeAScalarString) {
  Variable number = Variable::ofInt32(7);
  try {
    rt().newObject("ZYLFFORVO", {&number});
    FAIL() << "no error";
  } catch (const zyl::HostError& e) {
    EXPECT_TRUE(contains(e.what(), "Error: The filename argument must be a parameter.")) << e.what();
  }
  const int64_t two = 2;
  Variable array = Variable::ofArray(std::make_unique<zyl::Array>(zyl::Type::String, std::span(&two, 1), true));
  try {
    rt().newObject("ZYLFFORVO", {&array});
    FAIL() << "no error";
  } catch (const zyl::HostError& e) {
    EXPECT_EQ(e.block(), "ZYL_MBLK_HOST");  // the host's own scalar check
  }
}

TEST_F(Lifecycle, CommitRefusesOpenedFilesAndCleanupIsIdempotent) {
  Variable file = make(kMr.string());
  try {
    call(file, "Commit");
    FAIL() << "no error";
  } catch (const zyl::HostError& e) {
    EXPECT_EQ(std::string(e.what()),
              "ZYLFFORVO::COMMIT: Error: Can not overwrite the original input file., " + kMr.string());
  }
  messages.clear();
  call(file, "Cleanup");
  call(file, "Cleanup");
  EXPECT_TRUE(messages.empty());
  // The next method reopens the file on demand.
  EXPECT_EQ(getString(file, "0010,0010"), "CompressedSamples^MR1");
}

TEST_F(Lifecycle, CreatedFilesGetAMetaGroupAndValidUidsAndReadBack) {
  const fs::path out = tmp("created.dcm");
  Variable file = make(out.string(), {kw("CREATE", 1), kw("SOP_CLASS", "STANDARD_CT_IMAGE")});
  EXPECT_FALSE(fs::exists(out));  // nothing on disk until Commit
  const std::string sop = getString(file, "0008,0018");
  EXPECT_TRUE(validUid(sop)) << sop;
  EXPECT_EQ(getString(file, "0002,0003"), sop);
  EXPECT_EQ(getString(file, "0008,0016"), "1.2.840.10008.5.1.4.1.1.2");
  call(file, "Commit");
  ASSERT_TRUE(fs::exists(out));

  const std::string d = dump(out);
  EXPECT_EQ(dumped(d, "0002,0002"), "1.2.840.10008.5.1.4.1.1.2") << d;
  EXPECT_EQ(dumped(d, "0002,0003"), sop);
  EXPECT_EQ(dumped(d, "0002,0010"), "1.2.840.10008.1.2.1");
  EXPECT_EQ(dumped(d, "0002,0016"), "ZYL_ORVO");
  EXPECT_EQ(dumped(d, "0008,0016"), "1.2.840.10008.5.1.4.1.1.2");
  EXPECT_EQ(dumped(d, "0008,0018"), sop);
  EXPECT_TRUE(contains(d, "(0002,0001) OB 00\\01")) << d;

  // A second Commit finds no data set; a method in between reopens the file written.
  try {
    call(file, "Commit");
    FAIL() << "no error";
  } catch (const zyl::HostError& e) {
    EXPECT_TRUE(contains(e.what(), "Error: File Id is null. ")) << e.what();
  }
  EXPECT_EQ(getString(file, "0008,0018"), sop);
  call(file, "Commit");
  EXPECT_EQ(dumped(dump(out), "0008,0018"), sop);
}

TEST_F(Lifecycle, AnUnknownServiceNameFailsCreation) {
  const std::string error = makeError(tmp("x.dcm").string(), {kw("CREATE", 1), kw("SOP_CLASS", "NO_SUCH_SERVICE")});
  EXPECT_TRUE(contains(error, "Error: Failed to create file - , " + tmp("x.dcm").string())) << error;
}

TEST_F(Lifecycle, UidsDifferAcrossObjectsAndAreUuidsUnderTwoTwentyFive) {
  std::set<std::string> uids;
  for (int i = 0; i < 5; ++i) {
    Variable f =
        make(tmp("u" + std::to_string(i) + ".dcm").string(), {kw("CREATE", 1), kw("SOP_CLASS", "STANDARD_MR_IMAGE")});
    const std::string uid = getString(f, "0008,0018");
    EXPECT_TRUE(validUid(uid)) << uid;
    // "2.25." and the UUID's decimal digits, nothing appended.
    EXPECT_EQ(uid.rfind("2.25.", 0), 0u) << uid;
    EXPECT_EQ(uid.find('.', 5), std::string::npos) << uid;
    uids.insert(uid);
  }
  EXPECT_EQ(uids.size(), 5u);
}

TEST_F(Lifecycle, AClonesKeepsEverythingButTheInstanceUids) {
  const fs::path out = tmp("clone.dcm");
  Variable clone = make(out.string(), {kw("CLONE", kMr.string())});
  const std::string uid = getString(clone, "0008,0018");
  EXPECT_EQ(getString(clone, "0002,0003"), uid);
  EXPECT_NE(uid, "1.3.6.1.4.1.5962.1.1.4.1.1.20040826185059.5457");
  EXPECT_TRUE(validUid(uid)) << uid;
  call(clone, "Commit");

  // Every line of the source's data set but the instance UID is in the clone.
  const std::string source = run("dcmdump -q -Un +L " + quote(kMr) + " | sed -n '/Dicom-Data-Set/,$p'");
  const std::string copy = run("dcmdump -q -Un +L " + quote(out) + " | sed -n '/Dicom-Data-Set/,$p'");
  std::istringstream lines(source);
  std::string line;
  int compared = 0;
  while (std::getline(lines, line)) {
    if (line.rfind("(0008,0018)", 0) == 0 || line.rfind("(", 0) != 0) continue;
    EXPECT_TRUE(contains(copy, line)) << line;
    ++compared;
  }
  EXPECT_GT(compared, 50);
  const std::string meta = dump(out);
  EXPECT_EQ(dumped(meta, "0008,0018"), uid);
  EXPECT_EQ(dumped(meta, "0002,0003"), uid);
  EXPECT_EQ(dumped(meta, "0002,0016"), "ZYL_ORVO");
  EXPECT_EQ(dumped(meta, "0008,0016"), "1.2.840.10008.5.1.4.1.1.4");
  EXPECT_FALSE(dumped(meta, "0002,0012").empty());
  // The pixel data made it across byte for byte.
  EXPECT_EQ(run("dcmdump -q +L +P 7fe0,0010 " + quote(kMr)), run("dcmdump -q +L +P 7fe0,0010 " + quote(out)));
}

TEST_F(Lifecycle, NonConformingClonesAndCleanupBeforeCommitLeaveNothing) {
  const fs::path out = tmp("nc.dcm");
  Variable clone = make(out.string(), {kw("CLONE", kMr.string()), kw("NON_CONFORMING", 1)});
  EXPECT_EQ(getString(clone, "0010,0020"), "4MR1");
  call(clone, "Cleanup");
  EXPECT_FALSE(fs::exists(out));
  const std::string error = callError(clone, "GetValue", "0010,0020");
  EXPECT_TRUE(contains(error, "Error: Failed to open file ")) << error;
}

TEST_F(Lifecycle, CommitOfALargeDataSetWritesItWhole) {
  // A raw image of 4.5 MB pixel data, cloned and committed.
  const fs::path big = tmp("big.dcm");
  const fs::path dumpFile = tmp("big.txt");
  const fs::path raw = tmp("big.raw");
  std::vector<unsigned char> pixels(2048 * 1152 * 2);
  for (size_t i = 0; i < pixels.size(); ++i) pixels[i] = static_cast<unsigned char>(i * 7);
  writeBytes(raw, pixels);
  std::ofstream(dumpFile) << "(0008,0016) UI =CTImageStorage\n(0008,0018) UI [1.2.3.4]\n"
                          << "(0028,0002) US 1\n(0028,0010) US 1152\n(0028,0011) US 2048\n(0028,0100) US 16\n"
                          << "(7fe0,0010) OW =" << raw.string() << "\n";
  ASSERT_EQ(std::system(("dump2dcm -q +E " + quote(dumpFile) + " " + quote(big)).c_str()), 0);
  const fs::path out = tmp("bigclone.dcm");
  Variable clone = make(out.string(), {kw("CLONE", big.string())});
  call(clone, "Commit");
  EXPECT_GT(fs::file_size(out), 0x400000u);
  Variable again = make(out.string());
  Variable pixelData = call(again, "GetValue", "7fe0,0010");
  ASSERT_TRUE(pixelData.isArray());
  ASSERT_EQ(pixelData.array()->count(), 2048 * 1152);
  EXPECT_EQ(std::memcmp(pixelData.array()->data(), pixels.data(), pixels.size()), 0);
}

}  // namespace
}  // namespace fotest

// Opening files: DICOM files, data sets without preamble (with and without
// a meta group), the odd-length warning, and malformed input of every kind.
#include <cstring>
#include <algorithm>
#include <iterator>
#include <random>

#include "fileobject_support.h"

namespace fotest {
namespace {

class Open : public FileObjectTest {
 protected:
  // A copy of a corpus file without its preamble and "DICM" (meta group kept).
  fs::path withoutPreamble(const std::string& name, const fs::path& out) {
    std::vector<unsigned char> bytes = readBytes(kCorpus / name);
    bytes.erase(bytes.begin(), bytes.begin() + 132);
    writeBytes(out, bytes);
    return out;
  }
  // A corpus file written as a bare data set in a syntax (dcmconv option).
  fs::path bareDataSet(const std::string& name, const std::string& syntaxOption, const fs::path& out) {
    EXPECT_EQ(std::system(("dcmconv -q -F " + syntaxOption + " " + quote(kCorpus / name) + " " + quote(out)).c_str()),
              0);
    return out;
  }
  std::string syntaxOf(Variable& f) { return getString(f, "0002,0010"); }
};

TEST_F(Open, BareDataSetsAreFoundByTrialAndGetAMetaGroup) {
  Variable implicit = make(bareDataSet("CT_small.dcm", "+ti", tmp("implicit.raw")).string());
  EXPECT_EQ(syntaxOf(implicit), "1.2.840.10008.1.2");
  EXPECT_EQ(getString(implicit, "0010,0010"), "CompressedSamples^CT1");
  EXPECT_EQ(getString(implicit, "0002,0003"), getString(implicit, "0008,0018"));
  EXPECT_EQ(getString(implicit, "0002,0016"), "ZYL_ORVO");

  Variable explicitLe = make(bareDataSet("CT_small.dcm", "+te", tmp("explicit.raw")).string());
  EXPECT_EQ(syntaxOf(explicitLe), "1.2.840.10008.1.2.1");
  Variable bigEndian = make(bareDataSet("MR_small.dcm", "+tb", tmp("big.raw")).string());
  EXPECT_EQ(syntaxOf(bigEndian), "1.2.840.10008.1.2.2");
  EXPECT_EQ(call(bigEndian, "GetValue", "0028,0010").scalar().u16, 64);
  EXPECT_EQ(call(bigEndian, "GetValue", "7fe0,0010").array()->count(), 64 * 64);

  // An RT Plan is accepted by the first trial whatever its pixel attributes.
  Variable plan = make(bareDataSet("rtplan.dcm", "+ti", tmp("plan.raw")).string());
  EXPECT_EQ(syntaxOf(plan), "1.2.840.10008.1.2");
  EXPECT_EQ(getString(plan, "0008,0016"), "1.2.840.10008.5.1.4.1.1.481.5");

  // A bare data set without pixel attributes is taken when its SOP Class and
  // Instance UIDs read as UIDs; bytes that are no data set are refused.
  Variable structureSet = make((kCorpus / "rtstruct.dcm").string());
  EXPECT_EQ(getString(structureSet, "0008,0016"), "1.2.840.10008.5.1.4.1.1.481.3");
  writeBytes(tmp("noise.raw"), std::vector<unsigned char>(256, 0x41));
  const std::string error = makeError(tmp("noise.raw").string());
  EXPECT_TRUE(contains(error,
                       "Error: Failed to read file. The file is not a valid part 10 dicom file; it is missing "
                       "the preamble and metadata headers."))
      << error;
}

TEST_F(Open, MetaGroupsWithoutPreambleNameTheSyntax) {
  // A trailing space after the UID instead of the NUL pad.
  std::vector<unsigned char> bytes = readBytes(kCorpus / "MR_small.dcm");
  bytes.erase(bytes.begin(), bytes.begin() + 132);
  const std::string uid("1.2.840.10008.1.2.1");
  auto at = std::search(bytes.begin(), bytes.end(), uid.begin(), uid.end());
  ASSERT_NE(at, bytes.end());
  ASSERT_EQ(at[static_cast<long>(uid.size())], 0);
  at[static_cast<long>(uid.size())] = ' ';
  writeBytes(tmp("spaced.dcm"), bytes);
  Variable spaced = make(tmp("spaced.dcm").string());
  EXPECT_EQ(syntaxOf(spaced), "1.2.840.10008.1.2.1");
  EXPECT_EQ(getString(spaced, "0010,0020"), "4MR1");

  // The NUL pad is accepted as well; the data set starts after the meta group.
  Variable padded = make(withoutPreamble("MR_small.dcm", tmp("padded.dcm")).string());
  EXPECT_EQ(getString(padded, "0010,0020"), "4MR1");

  // RLE is outside the table.
  const fs::path rle = withoutPreamble("MR_small_RLE.dcm", tmp("rle.dcm"));
  EXPECT_TRUE(contains(makeError(rle.string()),
                       "Error: Failed unsupported transfer syntax while parsing file without preamble (syntax/file), "
                       "1.2.840.10008.1.2.5, " +
                           rle.string()));

  // A compressed syntax from the table is read with that syntax.
  Variable j2k = make(withoutPreamble("MR_small_jp2klossless.dcm", tmp("j2k.dcm")).string());
  Variable reference = make((kCorpus / "MR_small_jp2klossless.dcm").string());
  EXPECT_EQ(syntaxOf(j2k), "1.2.840.10008.1.2.4.90");
  const Variable a = call(j2k, "GetValue", "7fe0,0010");
  const Variable b = call(reference, "GetValue", "7fe0,0010");
  ASSERT_EQ(a.array()->byteSize(), b.array()->byteSize());
  EXPECT_EQ(std::memcmp(a.array()->data(), b.array()->data(), a.array()->byteSize()), 0);
}

TEST_F(Open, ACompressedBareDataSetWithoutMetaGroupIsRefused) {
  std::vector<unsigned char> bytes = readBytes(kCorpus / "JPEG2000.dcm");
  const uint32_t groupLength =
      bytes[140] | bytes[141] << 8 | bytes[142] << 16 | static_cast<uint32_t>(bytes[143]) << 24;
  bytes.erase(bytes.begin(), bytes.begin() + 144 + groupLength);
  writeBytes(tmp("j2k.raw"), bytes);
  const std::string error = makeError(tmp("j2k.raw").string());
  EXPECT_TRUE(contains(error, "it is missing the preamble and metadata headers.")) << error;
}

TEST_F(Open, OddLengthFilesAreReadWithAWarningThatQuietSuppresses) {
  std::vector<unsigned char> bytes = readBytes(kCorpus / "MR_small.dcm");
  const unsigned char lastByte = bytes[bytes.size() - 2];
  bytes.pop_back();
  writeBytes(tmp("odd.dcm"), bytes);
  Variable odd = make(tmp("odd.dcm").string());
  EXPECT_TRUE(sawMessage("Warning: Invalid file length. \n Odd length files are not valid dicom files."));
  // The last value of this file is its trailing padding (OB).
  const Variable pixels = call(odd, "GetValue", "fffc,fffc");
  ASSERT_TRUE(pixels.isArray());
  const auto* last = reinterpret_cast<const unsigned char*>(pixels.array()->data()) + pixels.array()->byteSize() - 2;
  EXPECT_EQ(last[0], lastByte);
  EXPECT_EQ(last[1], 0);  // the byte appended

  messages.clear();
  rt().setQuiet(true);
  make(tmp("odd.dcm").string());
  EXPECT_FALSE(sawMessage("Odd length"));
}

TEST_F(Open, ShortAndBrokenFilesEndInMessages) {
  writeBytes(tmp("short.dcm"), std::vector<unsigned char>(131, 'D'));
  EXPECT_TRUE(contains(makeError(tmp("short.dcm").string()), "Error: Failed to read 4 bytes from file , "));
  // The meta group lacks (0002,0010): the data set is read, its syntax is not.
  {
    std::vector<unsigned char> meta = readBytes(kCorpus / "MR_small.dcm");
    const std::vector<unsigned char> syntaxTag = {0x02, 0x00, 0x10, 0x00, 'U', 'I'};
    auto at = std::search(meta.begin(), meta.end(), syntaxTag.begin(), syntaxTag.end());
    ASSERT_NE(at, meta.end());
    const size_t length = 8u + (at[6] | at[7] << 8);
    meta.erase(at, at + static_cast<long>(length));
    const uint32_t groupLength = (meta[140] | meta[141] << 8) - static_cast<uint32_t>(length);
    meta[140] = static_cast<unsigned char>(groupLength);
    meta[141] = static_cast<unsigned char>(groupLength >> 8);
    writeBytes(tmp("nosyntax.dcm"), meta);
  }
  const std::string missing = makeError(tmp("nosyntax.dcm").string());
  EXPECT_TRUE(contains(missing, "Error: MC_Get_Value_To_String failed - failed to get transfer syntax from file"))
      << missing;
  EXPECT_FALSE(makeError((kCorpus / "meta_missing_tsyntax.dcm").string()).empty());
  for (const char* name : {"MR_truncated.dcm", "rtplan_truncated.dcm", "no_meta.dcm"}) {
    const std::string error = makeError((kCorpus / name).string());
    EXPECT_FALSE(error.empty()) << name;
  }
  // An absurd length inside the data set.
  std::vector<unsigned char> bytes = readBytes(kCorpus / "CT_small.dcm");
  const std::vector<unsigned char> pixelTag = {0xe0, 0x7f, 0x10, 0x00, 'O', 'W', 0, 0};
  auto at = std::search(bytes.begin(), bytes.end(), pixelTag.begin(), pixelTag.end());
  ASSERT_NE(at, bytes.end());
  at[8] = 0xf0;
  at[9] = 0xff;
  at[10] = 0xff;
  at[11] = 0x7f;
  writeBytes(tmp("absurd.dcm"), bytes);
  EXPECT_TRUE(contains(makeError(tmp("absurd.dcm").string()), "Error: MC_Open_File failed"));
}

TEST_F(Open, DeepNestingIsRefused) {
  // 200 sequences, each in the only item of the one before, undefined lengths.
  std::vector<unsigned char> bytes = readBytes(kCorpus / "MR_small.dcm");
  const std::vector<unsigned char> firstData = {0x08, 0x00, 0x08, 0x00, 'C', 'S'};
  auto at = std::search(bytes.begin(), bytes.end(), firstData.begin(), firstData.end());
  std::vector<unsigned char> nest;
  for (int i = 0; i < 200; ++i) {
    const unsigned char sequence[] = {0x08, 0x00, 0x40, 0x11, 'S', 'Q', 0, 0, 0xff, 0xff, 0xff, 0xff};
    const unsigned char item[] = {0xfe, 0xff, 0x00, 0xe0, 0xff, 0xff, 0xff, 0xff};
    nest.insert(nest.end(), std::begin(sequence), std::end(sequence));
    nest.insert(nest.end(), std::begin(item), std::end(item));
  }
  bytes.insert(at, nest.begin(), nest.end());
  writeBytes(tmp("deep.dcm"), bytes);
  EXPECT_TRUE(contains(makeError(tmp("deep.dcm").string()), "Error: MC_Open_File failed"));
}

TEST_F(Open, DamagedFilesNeverCrashAndNeverLeakFileUnits) {
  std::mt19937 random(20240131);
  int opened = 0, refused = 0;
  for (const char* name : {"CT_small.dcm", "rtplan.dcm", "MR_small_implicit.dcm", "ExplVR_BigEndNoMeta.dcm"}) {
    const std::vector<unsigned char> source = readBytes(kCorpus / name);
    for (int round = 0; round < 60; ++round) {
      std::vector<unsigned char> bytes = source;
      if (round % 3 == 0) {
        bytes.resize(std::uniform_int_distribution<size_t>(0, bytes.size())(random));
      } else {
        for (int flips = 0; flips < 8; ++flips)
          bytes[std::uniform_int_distribution<size_t>(0, bytes.size() - 1)(random)] =
              static_cast<unsigned char>(random());
      }
      const fs::path f = tmp("damaged.dcm");
      writeBytes(f, bytes);
      try {
        Variable o = make(f.string());
        ++opened;
        call(o, "QueryValue", "0010,0010");
        call(o, "Cleanup");
      } catch (const zyl::HostError& e) {
        EXPECT_EQ(e.block(), "ZYL_MBLK_ORVO") << e.what();
        ++refused;
      }
    }
  }
  EXPECT_GT(refused, 0);
  EXPECT_GT(opened, 0);
  // Every failed open closed its file units: a good file still opens.
  Variable good = make((kCorpus / "CT_small.dcm").string());
  EXPECT_EQ(getString(good, "0010,0010"), "CompressedSamples^CT1");
}

TEST_F(Open, EveryCorpusFileOpensOrIsRefusedWithAMessage) {
  for (const auto& entry : fs::directory_iterator(kCorpus)) {
    if (entry.path().extension() != ".dcm") continue;
    try {
      Variable o = make(entry.path().string());
      call(o, "QueryValue", "0008,0016");
    } catch (const zyl::HostError& e) {
      EXPECT_EQ(e.block(), "ZYL_MBLK_ORVO") << entry.path() << ": " << e.what();
    }
  }
}

}  // namespace
}  // namespace fotest

// CopyTags: ranges, the skipped instance UIDs, private blocks re-created by
// creator code, nested sequences, and the refusals.
#include <regex>

#include "fileobject_support.h"

namespace fotest {
namespace {

class CopyTags : public FileObjectTest {
 protected:
  Variable created(const std::string& name = "new.dcm") {
    return make(tmp(name).string(), {kw("CREATE", 1), kw("SOP_CLASS", "STANDARD_CT_IMAGE")});
  }
  std::string copyError(Variable& from, Variable& to, const std::string& start, const std::string& stop) {
    try {
      call(from, "CopyTags", {to, Variable::ofString(start), Variable::ofString(stop)});
      return "";
    } catch (const zyl::HostError& e) {
      return e.what();
    }
  }
  int16_t query(Variable& f, const std::string& tag) { return call(f, "QueryValue", tag).scalar().i16; }
  std::string privateValue(Variable& f, const std::string& code, const std::string& group, const std::string& element,
                           std::vector<Kw> kws = {}) {
    return std::string(call(f, "GetPrivateValue",
                            {Variable::ofString(code), Variable::ofString(group), Variable::ofString(element)},
                            std::move(kws))
                           .text());
  }
};

TEST_F(CopyTags, RangeStopsBeforeTheStopTagAndInstanceUidsStay) {
  Variable source = make(kCt.string());
  Variable dest = created();
  const std::string ownUid = getString(dest, "0008,0018");
  ASSERT_EQ(copyError(source, dest, "0010,0010", "0020,0000"), "");
  EXPECT_EQ(getString(dest, "0010,0010"), getString(source, "0010,0010"));
  EXPECT_EQ(getString(dest, "0018,0050"), getString(source, "0018,0050"));
  EXPECT_EQ(query(dest, "0020,000d"), 0);  // group 0020 is past the stop tag
  EXPECT_EQ(query(dest, "0028,0010"), 0);

  ASSERT_EQ(copyError(source, dest, "", ""), "");
  EXPECT_EQ(getString(dest, "0008,0018"), ownUid);
  EXPECT_NE(getString(dest, "0008,0018"), getString(source, "0008,0018"));
  // Numbers pass through their text; binary data is copied whole.
  EXPECT_EQ(call(dest, "GetValue", "0028,0010").scalar().u16, call(source, "GetValue", "0028,0010").scalar().u16);
  EXPECT_EQ(call(dest, "GetValueLength", "7fe0,0010").scalar().u32,
            call(source, "GetValueLength", "7fe0,0010").scalar().u32);
  // The private blocks arrive under their creator codes.
  EXPECT_EQ(privateValue(dest, "GEMS_IDEN_01", "0009", "02"), "CT01");
  EXPECT_EQ(call(dest, "GetPrivateValue",
                 {Variable::ofString("GEMS_ACQU_01"), Variable::ofString("0019"), Variable::ofString("11")})
                .scalar()
                .i16,
            2);

  call(dest, "Commit");
  const std::string dump = run("dcmdump -q " + quote(tmp("new.dcm")) + " 2>&1");
  EXPECT_TRUE(contains(dump, "(0009,1002) SH [CT01]")) << dump;
}

TEST_F(CopyTags, PrivateBlocksMoveToFreeBlockNumbersAndNestedSequencesFollow) {
  const fs::path p =
      fromDump("src.dcm",
               "(0008,0016) UI =CTImageStorage\n(0008,0018) UI 1.2.3.4\n"
               "(0008,1140) SQ (Sequence with explicit length #=3)\n"
               "(fffe,e000) na (Item with explicit length #=1)\n"
               "(0008,1150) UI 1.1\n(fffe,e00d) na (ItemDelimitationItem for re-encoding)\n"
               "(fffe,e000) na (Item with explicit length #=1)\n"
               "(0008,1150) UI 1.2\n(fffe,e00d) na (ItemDelimitationItem for re-encoding)\n"
               "(fffe,e000) na (Item with explicit length #=2)\n"
               "(0008,1150) UI 1.3\n(0008,1155) UI 9.9\n(fffe,e00d) na (ItemDelimitationItem for re-encoding)\n"
               "(fffe,e0dd) na (SequenceDelimitationItem for re-encoding)\n"
               "(0010,0010) PN [Doe^Jane]\n(0018,1020) LO [a\\\\b]\n"
               "(0029,0010) LO [THEIRS]\n(0029,1001) LO [one]\n(0029,1002) US 7\n"
               "(0029,10ff) DS [1.5\\2.5]\n");
  Variable source = make(p.string());
  Variable dest = created();
  // The destination's block 0029,0010 is taken by another creator already.
  call(dest, "SetPrivateValue",
       {Variable::ofString("ALREADY"), Variable::ofString("0029"), Variable::ofString("01"), Variable::ofString("LO"),
        Variable::ofString("x")});
  ASSERT_EQ(copyError(source, dest, "", ""), "");
  EXPECT_EQ(privateValue(dest, "THEIRS", "0029", "01"), "one");
  EXPECT_EQ(privateValue(dest, "ALREADY", "0029", "01"), "x");
  EXPECT_EQ(call(dest, "GetPrivateValueCount",
                 {Variable::ofString("THEIRS"), Variable::ofString("0029"), Variable::ofString("ff")})
                .scalar()
                .u32,
            2u);
  // An empty value among several keeps its place.
  EXPECT_EQ(call(dest, "GetValueCount", "0018,1020").scalar().u32, 3u);

  const Variable ids = call(dest, "GetValue", "0008,1140");
  ASSERT_TRUE(ids.isArray());
  ASSERT_EQ(ids.array()->count(), 3);
  const int32_t third = ids.array()->as<int32_t>()[2];
  EXPECT_EQ(getString(dest, "0008,1155", {kw("SEQID", third)}), "9.9");
  EXPECT_EQ(getString(dest, "0008,1150", {kw("SEQID", ids.array()->as<int32_t>()[1])}), "1.2");
}

TEST_F(CopyTags, RefusalsNameTheirCause) {
  Variable source = make(kCt.string());
  Variable dest = created();
  EXPECT_TRUE(
      contains(copyError(source, dest, "ffff,fff0", ""), "Error: End of File reached while looking for start tag. "));
  EXPECT_TRUE(contains(copyError(source, dest, "0009,1000", ""),
                       "Error: Failed to copy private tags...could not locate private blk code (tag) , 0009,1001"));
  EXPECT_TRUE(contains(copyError(source, dest, "xyz", ""), "Error: Failed to interpret StartTag keyword value. , xyz"));
  EXPECT_TRUE(contains(copyError(source, dest, "", "q"), "Error: Failed to interpret StopTag keyword value. "));
  EXPECT_TRUE(contains(copyError(source, source, "", ""), "source and destination are the same object"));
  try {
    call(source, "CopyTags", {dest, Variable::ofInt32(1), Variable::ofString("")});
    ADD_FAILURE();
  } catch (const zyl::HostError& e) {
    EXPECT_TRUE(contains(e.what(), "Invalid DicomTag param")) << e.what();
  }

  const fs::path un =
      fromDump("un.dcm", "(0008,0016) UI =CTImageStorage\n(0011,0010) LO [TEST]\n(0011,1010) UN 41\\42\n");
  Variable unknown = make(un.string());
  EXPECT_TRUE(contains(copyError(unknown, dest, "", ""), "Error: Failed to copy tags, unsupported VR type , UN"));
}

TEST_F(CopyTags, TheCreatorTableHolds255Codes) {
  std::string lines = "(0008,0016) UI =CTImageStorage\n";
  // 240 creators in 0029 and 16 in 0031: the 256th is refused.
  char line[64];
  for (int i = 0; i < 256; ++i) {
    std::snprintf(line, sizeof line, "(%04x,%04x) LO [C%d]\n", i < 240 ? 0x29 : 0x31, 0x10 + (i < 240 ? i : i - 240),
                  i);
    lines += line;
  }
  const fs::path p = fromDump("many.dcm", lines);
  Variable source = make(p.string());
  Variable dest = created();
  const std::string error = copyError(source, dest, "", "");
  EXPECT_TRUE(contains(error, "ran out of private blk code memory (tag) , 0031,001f")) << error;
  // The 255 before it reserved their blocks in the destination.
  EXPECT_EQ(getString(dest, "0031,001e"), "C254");
  EXPECT_EQ(getString(dest, "0029,00ff"), "C239");
}

}  // namespace
}  // namespace fotest

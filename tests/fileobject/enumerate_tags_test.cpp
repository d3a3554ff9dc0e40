// EnumerateTags: the records of the corpus against dcmdump's tree and the
// single-attribute readers, items with their markers, what gets no record,
// the range, and the report file.
#include <algorithm>
#include <cstdio>
#include <cstring>
#include <set>
#include <utility>

#include "dump_tree.h"
#include "fileobject_support.h"

namespace fotest {
namespace {

struct Record {
  std::string tag, description, vr, value;
  uint32_t length = 0;
  int32_t valueCount = 0, seqId = 0, groupNum = 0, level = 0;
};

std::vector<Record> recordsOf(const Variable& v) {
  std::vector<Record> out;
  for (int64_t i = 0; i < v.array()->count(); ++i) {
    auto text = [&](const char* name) { return recordText(v, i, name); };
    auto number = [&](const char* name, auto& out) { out = recordNumber<std::decay_t<decltype(out)>>(v, i, name); };
    Record r{text("TAG"), text("DESCRIPTION"), text("VR"), text("VALUE")};
    number("LENGTH", r.length);
    number("VALUECOUNT", r.valueCount);
    number("SEQID", r.seqId);
    number("GROUPNUM", r.groupNum);
    number("LEVEL", r.level);
    out.push_back(std::move(r));
  }
  return out;
}

const Record* find(const std::vector<Record>& rs, const std::string& tag) {
  for (const Record& r : rs)
    if (r.tag == tag) return &r;
  return nullptr;
}

// The records dcmdump's tree calls for: no UN, nothing without a value, no
// sequence without items; the first record of each of several items marked.
struct Expected {
  const DumpNode* node;
  int level, count, groupNum;
};
void expectRecords(const std::vector<std::unique_ptr<DumpNode>>& nodes, int level, int group,
                   std::vector<Expected>& out) {
  for (const auto& n : nodes) {
    const size_t before = out.size();
    const int items = static_cast<int>(n->children.size());
    if (n->vr == "SQ" && items > 0) {
      out.push_back({n.get(), level, items, 0});
      for (int i = 0; i < items; ++i)
        expectRecords(n->children[static_cast<size_t>(i)]->children, level + 1, items > 1 ? i + 1 : 0, out);
    } else if (n->vr != "SQ" && n->vr != "UN" && (n->vm > 0 || n->value.rfind("(PixelSequence", 0) == 0)) {
      out.push_back({n.get(), level, std::max(n->vm, 1), 0});
    }
    if (out.size() > before && group != 0) out[before].groupNum = std::exchange(group, 0);
  }
}

const std::set<std::string> kStrings = {"AE", "AS", "CS", "DA", "DS", "DT", "IS", "LO",
                                        "LT", "PN", "SH", "ST", "TM", "UT", "UI"};

const char* const kFixtureLines =
    "(0008,0008) CS [ORIGINAL\\PRIMARY\\AXIAL]\n"
    "(0008,0016) UI [1.2.840.10008.5.1.4.1.1.7]\n(0008,0018) UI [1.2.3.4.5]\n"
    "(0008,1140) SQ (Sequence with undefined length)\n"
    "(fffe,e000) na (Item)\n(0008,1150) UI [1.2.3.1]\n(0008,1155) UI [9.8.1]\n(fffe,e00d) na\n"
    "(fffe,e000) na (Item)\n(0008,1150) UI [1.2.3.2]\n(0008,1155) UI [9.8.2]\n(fffe,e00d) na\n(fffe,e0dd) na\n"
    "(0008,1250) SQ (Sequence with undefined length)\n"
    "(fffe,e000) na (Item)\n(0020,000d) UI [1.2.3.9]\n(fffe,e00d) na\n(fffe,e0dd) na\n"
    "(0008,2112) SQ (Sequence with undefined length)\n(fffe,e0dd) na\n"
    "(0010,0010) PN [Doe^Jane]\n(0010,0030) DA []\n"
    "(0011,0010) LO [ACME]\n(0011,1001) UN 0a\\0b\n(0011,1002) UN 01\\02\n"
    "(0018,0020) CS [SK\\\\SP]\n"
    "(0018,1030) LO [abcdefghijabcdefghijabcdefghijabcdefghijabcdefghijabcdefghij]\n"
    "(0040,0275) SQ (Sequence with undefined length)\n"
    "(fffe,e000) na (Item)\n(0040,0007) LO []\n(0040,0009) SH [SPS1]\n(fffe,e00d) na\n"
    "(fffe,e000) na (Item)\n(0040,0008) SQ (Sequence with undefined length)\n"
    "(fffe,e000) na (Item)\n(0008,0100) SH [CODE]\n(fffe,e00d) na\n(fffe,e0dd) na\n"
    "(0040,0009) SH [SPS2]\n(fffe,e00d) na\n(fffe,e0dd) na\n"
    "(0042,0011) OB (no value available)\n";

class EnumerateTags : public FileObjectTest {
 protected:
  fs::path fixture() {
    const fs::path raw = tmp("pixels.raw");
    writeBytes(raw, {1, 2, 3, 4});
    return fromDump("fixture.dcm", std::string(kFixtureLines) + "(7fe0,0010) OB =" + raw.string() + "\n");
  }
  std::vector<Record> records(Variable& f, std::vector<Kw> kws = {}) {
    return recordsOf(call(f, "EnumerateTags", std::vector<Variable>{}, std::move(kws)));
  }
  std::string enumerateError(Variable& f, std::vector<Kw> kws) {
    try {
      call(f, "EnumerateTags", std::vector<Variable>{}, std::move(kws));
      return "";
    } catch (const zyl::HostError& e) {
      return e.what();
    }
  }
};

TEST_F(EnumerateTags, CorpusRecordsFollowDcmdumpAndTheReaders) {
  for (const char* name : {"CT_small.dcm", "MR_small_implicit.dcm", "rtplan.dcm", "liver_1frame.dcm", "reportsi.dcm",
                           "waveform_ecg.dcm", "JPEG2000.dcm", "SC_rgb_jpeg_dcmtk.dcm", "J2K_pixelrep_mismatch.dcm"}) {
    SCOPED_TRACE(name);
    const fs::path path = kCorpus / name;
    Variable f = make(path.string());
    const auto tree = parseDump(run("dcmdump -q -Un +uc +L " + quote(path) + " 2>/dev/null"));
    std::vector<Expected> expected;
    expectRecords(tree, 0, 0, expected);
    const std::vector<Record> got = records(f, {kw("QUIET", 1)});
    ASSERT_EQ(got.size(), expected.size());
    for (size_t i = 0; i < got.size(); ++i) {
      const Record& r = got[i];
      const DumpNode& n = *expected[i].node;
      SCOPED_TRACE(r.tag);
      ASSERT_EQ(r.tag, n.tag);
      EXPECT_EQ(r.level, expected[i].level);
      EXPECT_EQ(r.valueCount, expected[i].count);
      EXPECT_EQ(r.groupNum, expected[i].groupNum);
      // The record's SEQID addresses it for the single-attribute readers.
      const std::vector<Kw> at{kw("SEQID", r.seqId)};
      EXPECT_EQ(call(f, "GetVR", r.tag, at).text(), r.vr);
      EXPECT_EQ(call(f, "GetValueCount", r.tag, at).scalar().u32, static_cast<uint32_t>(r.valueCount));
      EXPECT_EQ(call(f, "GetValueLength", r.tag, at).scalar().u32, r.length);
      const bool described = callError(f, "GetDescription", r.tag).empty();
      EXPECT_EQ(r.description, described ? std::string(call(f, "GetDescription", r.tag).text()) : "");
      if (!kStrings.contains(n.vr)) continue;
      const std::string shown = n.value.size() >= 2 ? n.value.substr(1, n.value.size() - 2) : n.value;
      const std::vector<std::string> want = splitValues(shown);
      const std::vector<std::string> values =
          splitValues(r.tag == "0002,0010" ? r.value.substr(0, r.value.find(" - ")) : r.value);
      ASSERT_EQ(values.size(), want.size());
      for (size_t v = 0; v < values.size(); ++v) EXPECT_EQ(trim(values[v]), trim(want[v]));
    }
  }
}

TEST_F(EnumerateTags, ItemsValuesAndWhatGetsNoRecord) {
  Variable f = make(fixture().string());
  const std::vector<Record> rs = records(f, {kw("QUIET", 1)});
  // Referenced Image Sequence: two items of two attributes, each item's first
  // record marked with its number and every record addressed by its item's id.
  const Record* sequence = find(rs, "0008,1140");
  ASSERT_NE(sequence, nullptr);
  EXPECT_EQ(sequence->valueCount, 2);
  EXPECT_EQ(sequence->value, "");
  const Variable ids = call(f, "GetValue", "0008,1140");
  const Record* item = sequence + 1;
  for (int k = 0; k < 4; ++k, ++item) {
    EXPECT_EQ(item->level, 1);
    EXPECT_EQ(item->seqId, ids.array()->as<int32_t>()[k / 2]);
    EXPECT_EQ(item->groupNum, k % 2 == 0 ? k / 2 + 1 : 0);
  }
  EXPECT_EQ(find(rs, "0020,000d")->groupNum, 0);  // one item: no marker
  // A marker goes to the first record an item has, whatever its VR.
  const Record* requests = find(rs, "0040,0275");
  ASSERT_NE(requests, nullptr);
  EXPECT_EQ(requests[1].tag + "/" + std::to_string(requests[1].groupNum), "0040,0009/1");
  EXPECT_EQ(requests[2].tag + "/" + std::to_string(requests[2].groupNum), "0040,0008/2");
  EXPECT_EQ(requests[3].value + "/" + std::to_string(requests[3].level), "CODE/2");

  const Record* imageType = find(rs, "0008,0008");
  EXPECT_EQ(imageType->value, "ORIGINAL\\PRIMARY\\AXIAL");
  EXPECT_EQ(imageType->length, 20u);                    // the values, separators not counted
  EXPECT_EQ(find(rs, "0018,0020")->value, "SK\\\\SP");  // the empty value keeps its place
  EXPECT_EQ(find(rs, "0018,1030")->value.size(), 60u);
  EXPECT_EQ(find(rs, "0002,0010")->value, "1.2.840.10008.1.2.1 - Explicit VR Little Endian");
  EXPECT_EQ(find(rs, "7fe0,0010")->length, 4u);
  EXPECT_EQ(find(rs, "7fe0,0010")->value, "");
  for (const char* absent : {"0010,0030", "0008,2112", "0011,1001", "0040,0007", "0042,0011"})
    EXPECT_EQ(find(rs, absent), nullptr) << absent;
  Variable withoutPixels = make(fixture().string(), {kw("NO_PIXEL_DATA", 1)});
  EXPECT_EQ(find(records(withoutPixels, {kw("QUIET", 1)}), "7fe0,0010"), nullptr);

  // A long text is cut at 10239 characters; its length stays whole.
  Variable big = make(tmp("big.dcm").string(), {kw("CLONE", fixture().string())});
  const std::string longText(12000, 'x');
  call(big, "SetValue", {Variable::ofString("0020,4000"), Variable::ofString("LT"), Variable::ofString(longText)});
  const std::vector<Record> bigRecords = records(big, {kw("QUIET", 1)});
  EXPECT_EQ(find(bigRecords, "0020,4000")->length, 12000u);
  EXPECT_TRUE(find(bigRecords, "0020,4000")->value == longText.substr(0, 10239));
}

TEST_F(EnumerateTags, UnknownVrAttributesAreSkippedWithOneWarningEachUnlessQuiet) {
  Variable f = make(fixture().string());
  messages.clear();
  const size_t loud = records(f).size();
  std::vector<std::string> warned;
  for (const zyl::Message& m : messages)
    if (contains(m.text, "Warning: Skipping tag, unsupported VR type (tag/vr), ") && m.action == 4)
      warned.push_back(m.text.substr(m.text.find("(tag/vr), ") + 10));
  EXPECT_EQ(warned, (std::vector<std::string>{"0011,1001, UN", "0011,1002, UN"}));
  messages.clear();
  EXPECT_EQ(records(f, {kw("QUIET", 1)}).size(), loud);
  EXPECT_FALSE(sawMessage("Skipping tag"));
}

TEST_F(EnumerateTags, TheRangeBoundsTheTopLevel) {
  const fs::path ct = kCorpus / "CT_small.dcm";
  Variable f = make(ct.string());
  std::vector<Kw> kws{kw("START_TAG", "0028,0000"), kw("STOP_TAG", "0028,0100"), {"COUNT", Variable{}}};
  const std::vector<Record> group = recordsOf(rt().callMethod(f, "EnumerateTags", {}, keywordArgs(kws)));
  EXPECT_EQ(kws[2].value.scalar().u32, group.size());
  std::vector<std::string> want, got;
  for (const auto& n : parseDump(run("dcmdump -q " + quote(ct))))
    if (n->tag >= "0028,0000" && n->tag < "0028,0100") want.push_back(n->tag);
  for (const Record& r : group) got.push_back(r.tag);
  EXPECT_EQ(got, want);
  // Upper-case digits, any separator; a sequence in the range is listed whole.
  EXPECT_EQ(records(f, {kw("START_TAG", "7FE0;0010")}).front().tag, "7fe0,0010");
  EXPECT_EQ(records(f, {kw("START_TAG", "0010,1002"), kw("STOP_TAG", "0010,1003")}).size(), 5u);
  EXPECT_EQ(records(f, {kw("START_TAG", ""), kw("STOP_TAG", "")}).size(), records(f).size());

  EXPECT_TRUE(contains(enumerateError(f, {kw("START_TAG", "fffe,0000")}),
                       "Error: End of File reached while looking for start tag. , "));
  Variable fx = make(fixture().string());
  EXPECT_TRUE(contains(enumerateError(fx, {kw("START_TAG", "0010,0030"), kw("STOP_TAG", "0010,0031")}),
                       "Error: Failed to find any tags between the start and stop tags. , 0010,0030, 0010,0031"));
  EXPECT_TRUE(contains(enumerateError(f, {kw("START_TAG", "0028,0010"), kw("STOP_TAG", "0028,0010")}),
                       "Error: Failed to find any tags between the start and stop tags. "));
  EXPECT_TRUE(contains(enumerateError(f, {kw("START_TAG", "rows")}),
                       "Error: Failed to interpret StartTag keyword value. , rows"));
  EXPECT_TRUE(contains(enumerateError(f, {kw("STOP_TAG", "0028,00100")}),
                       "Error: Failed to interpret StopTag keyword value. , 0028,00100"));
}

TEST_F(EnumerateTags, TheReportListsEveryRecordAndItsFailuresAreReported) {
  const fs::path file = fixture();
  Variable f = make(file.string());
  const fs::path report = tmp("report.txt");
  const std::vector<Record> rs = records(f, {kw("QUIET", 1), kw("FILENAME", report.string())});
  const auto bytes = readBytes(report);
  const std::string text(bytes.begin(), bytes.end());
  EXPECT_TRUE(contains(text, "\r\n\r\n ZYL Orvo Enumerate Tags \r\n Date: "));
  EXPECT_TRUE(contains(text, " \r\n Filename: " + report.string() + " \r\n Dicom File: " + file.string() +
                                 " \r\n Note: The description and values fields can be truncated. \r\n\r\n"));
  // One line per record in order, after its item's marker line; ">" per level;
  // the description cut at 25 characters and the value at 45.
  std::vector<std::string> lines;
  for (size_t start = 0, end; (end = text.find("\r\n", start)) != std::string::npos; start = end + 2)
    lines.push_back(text.substr(start, end - start));
  size_t j = 0;
  while (j < lines.size() && lines[j].rfind(" idx,lvl,", 0) != 0) ++j;
  j += 2;
  for (size_t i = 0; i < rs.size(); ++i, ++j) {
    SCOPED_TRACE(rs[i].tag);
    if (rs[i].groupNum != 0) {
      ASSERT_LT(j, lines.size());
      EXPECT_EQ(lines[j], "          Group, " + std::to_string(rs[i].groupNum));
      ++j;
    }
    ASSERT_LT(j, lines.size());
    char head[32];
    std::snprintf(head, sizeof head, " %3zu, %2d, ", i, rs[i].level);
    EXPECT_EQ(lines[j].rfind(head + std::string(static_cast<size_t>(rs[i].level), '>') + rs[i].tag, 0), 0u) << lines[j];
    EXPECT_TRUE(contains(lines[j], ",  " + rs[i].description.substr(0, 25))) << lines[j];
    std::string value = rs[i].value.substr(0, 45);
    value.resize(45, ' ');
    EXPECT_EQ(lines[j].substr(lines[j].size() - 48), "  " + value + " ");
  }
  EXPECT_EQ(j, lines.size());
  EXPECT_FALSE(contains(text, find(rs, "0018,1030")->value));  // 60 characters, cut in the report

  // A report that cannot be opened ends the call, the records with it; one
  // that cannot be written is said so, and the records still come back.
  const fs::path nowhere = tmp("missing") / "report.txt";
  EXPECT_TRUE(contains(enumerateError(f, {kw("FILENAME", nowhere.string())}),
                       "Error: Failed to open file , " + nowhere.string()));
  messages.clear();
  EXPECT_EQ(records(f, {kw("QUIET", 1), kw("FILENAME", "/dev/full")}).size(), rs.size());
  EXPECT_TRUE(sawMessage("Error: fwrite failed , /dev/full"));
}

}  // namespace
}  // namespace fotest

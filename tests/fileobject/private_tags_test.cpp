// Private attributes addressed by creator code, group and element offset:
// reading corpus blocks, writing values and sequences into blocks the toolkit
// places, the argument and keyword rules, and block removal.
#include <cstring>
#include <regex>

#include "fileobject_support.h"

namespace fotest {
namespace {

class PrivateTags : public FileObjectTest {
 protected:
  static std::vector<Variable> triple(const std::string& code, const std::string& group, const std::string& element) {
    return {Variable::ofString(code), Variable::ofString(group), Variable::ofString(element)};
  }
  Variable get(Variable& f, const std::string& method, const std::string& code, const std::string& group,
               const std::string& element, std::vector<Kw> kws = {}) {
    return call(f, method, triple(code, group, element), std::move(kws));
  }
  std::string error(Variable& f, const std::string& method, std::vector<Variable> args, std::vector<Kw> kws = {}) {
    try {
      call(f, method, std::move(args), std::move(kws));
      return "";
    } catch (const zyl::HostError& e) {
      return e.what();
    }
  }
  void set(Variable& f, const std::string& code, const std::string& group, const std::string& element,
           const std::string& vr, std::optional<Variable> value, std::vector<Kw> kws = {}) {
    std::vector<Variable> args = triple(code, group, element);
    args.push_back(Variable::ofString(vr));
    if (value) args.push_back(*value);
    call(f, "SetPrivateValue", std::move(args), std::move(kws));
  }
  Variable clone(const std::string& name = "clone.dcm") {
    return make(tmp(name).string(), {kw("CLONE", kCt.string())});
  }
};

TEST_F(PrivateTags, CorpusBlocksReadByCodeMatchDcmdump) {
  Variable f = make(kCt.string());
  // (0009,1002) SH [CT01], (0009,1027) SL 862399669, (0019,1011) SS 2, (0019,1003) DS.
  EXPECT_EQ(std::string(get(f, "GetPrivateValue", "GEMS_IDEN_01", "0009", "02").text()), "CT01");
  EXPECT_EQ(get(f, "GetPrivateValue", "GEMS_IDEN_01", "0009", "27").scalar().i32, 862399669);
  EXPECT_EQ(get(f, "GetPrivateValue", "GEMS_ACQU_01", "0019", "11").scalar().i16, 2);
  EXPECT_EQ(std::string(get(f, "GetPrivateValue", "GEMS_ACQU_01", "0019", "03").text()), "373.750000");
  EXPECT_EQ(std::string(get(f, "GetPrivateVR", "GEMS_IDEN_01", "0009", "e7").text()), "UL");
  EXPECT_EQ(get(f, "GetPrivateValueCount", "GEMS_IDEN_01", "0009", "02").scalar().u32, 1u);
  EXPECT_EQ(get(f, "GetPrivateValueLength", "GEMS_IDEN_01", "0009", "04").scalar().u32, 12u);
  // Present without a value, present with one, absent creator.
  EXPECT_EQ(get(f, "QueryPrivateValue", "GEMS_IDEN_01", "0009", "30").scalar().i16, 1);
  EXPECT_EQ(get(f, "QueryPrivateValue", "GEMS_IDEN_01", "0009", "02").scalar().i16, 2);
  EXPECT_EQ(get(f, "QueryPrivateValue", "NOBODY", "0009", "02").scalar().i16, 0);
  EXPECT_EQ(get(f, "GetPrivateValueCount", "GEMS_IDEN_01", "0009", "30").scalar().u32, 0u);

  const std::string absent = error(f, "GetPrivateValue", triple("NOBODY", "0009", "02"));
  EXPECT_TRUE(contains(absent, "Unable to read private tag. Try using GetValue on this private tag.")) << absent;
  EXPECT_TRUE(contains(absent, "NOBODY, 0009, 02")) << absent;
  const std::string noValue = error(f, "GetPrivateValue", triple("GEMS_IDEN_01", "0009", "30"));
  EXPECT_TRUE(contains(noValue, "Private Tag is present but does not have a value")) << noValue;
  const std::string index =
      error(f, "GetPrivateValueLength", triple("GEMS_IDEN_01", "0009", "02"), {kw("VALUEINDEX", 2)});
  EXPECT_TRUE(contains(index, "value index greater than value count in tag (code/grp/elem) ")) << index;
}

TEST_F(PrivateTags, ArgumentsAreCheckedInOrder) {
  Variable f = make(kCt.string());
  EXPECT_TRUE(contains(
      error(f, "GetPrivateValue", {Variable::ofInt32(1), Variable::ofString("0009"), Variable::ofString("02")}),
      "Invalid Private Code param"));
  EXPECT_TRUE(contains(error(f, "GetPrivateValue", triple("", "0009", "02")), "Invalid Private Code param"));
  EXPECT_TRUE(contains(error(f, "GetPrivateVR", triple("X", "09", "02")),
                       "Invalid Group param...must be a string with exactly 4 chars."));
  EXPECT_TRUE(contains(error(f, "GetPrivateVR", triple("X", "0009", "002")),
                       "Invalid Element param...must be a string with exactly 2 chars."));
  // Texts without a hexadecimal digit where the number starts are refused, not read as garbage.
  EXPECT_TRUE(contains(error(f, "QueryPrivateValue", triple("X", "zz09", "02")), "Invalid Group param"));
  EXPECT_TRUE(contains(error(f, "QueryPrivateValue", triple("X", "0009", "g2")), "Invalid Element param"));
  // A leading blank is skipped and reading stops at the first non-digit.
  EXPECT_EQ(std::string(get(f, "GetPrivateValue", "GEMS_IDEN_01", " 9x ", "2 ").text()), "CT01");

  std::vector<Variable> args = triple("C", "0029", "10");
  args.push_back(Variable::ofInt32(5));
  args.push_back(Variable::ofString("x"));
  EXPECT_TRUE(contains(error(f, "SetPrivateValue", args), "Invalid VR...must be a string with exactly 2 chars."));
  args = triple("C", "0029", "10");
  args.push_back(Variable::ofString("LO"));
  EXPECT_TRUE(contains(error(f, "SetPrivateValue", args), "Error: Failed to set value, arguments are missing."));
  EXPECT_TRUE(contains(error(f, "SetPrivateValue", args, {kw("CLEAR", 1), kw("BLOCKREMOVE", 1)}), "mutally exclusive"));
  EXPECT_TRUE(contains(error(f, "SetPrivateValue", args, {kw("REMOVE", 1), kw("BLOCKREMOVE", 1)}),
                       "blockremove and remove keywords are mutually exclusive."));
  args = triple("C", "0029", "10");
  args.push_back(Variable::ofString("LOX"));
  EXPECT_TRUE(contains(error(f, "SetPrivateValue", args, {kw("REMOVE", 1)}), "Invalid VR"));
  EXPECT_EQ(get(f, "QueryPrivateValue", "C", "0029", "10").scalar().i16, 0);  // nothing was created
}

TEST_F(PrivateTags, ValuesWrittenIntoANewBlockReadBackAndReachTheFile) {
  Variable f = clone();
  set(f, "ZYL TEST", "0029", "10", "LO", Variable::ofString("hello"));
  set(f, "ZYL TEST", "0029", "11", "US", Variable::ofInt32(513));
  set(f, "ZYL TEST", "0029", "12", "FD", Variable::ofFloat64(2.5));
  set(f, "ZYL TEST", "0029", "13", "PN", strings({"A^B", "C^D"}));
  auto bytes = std::make_unique<zyl::Array>(zyl::Type::Byte, std::vector<int64_t>{5}, true);
  std::memcpy(bytes->data(), "\x01\x02\x03\x04\x05", 5);
  set(f, "ZYL TEST", "0029", "14", "OB", Variable::ofArray(std::move(bytes)));
  EXPECT_EQ(std::string(get(f, "GetPrivateValue", "ZYL TEST", "0029", "10").text()), "hello");
  EXPECT_EQ(get(f, "GetPrivateValue", "ZYL TEST", "0029", "11").scalar().u16, 513);
  EXPECT_EQ(get(f, "GetPrivateValue", "ZYL TEST", "0029", "12").scalar().f64, 2.5);
  EXPECT_EQ(get(f, "GetPrivateValueCount", "ZYL TEST", "0029", "13").scalar().u32, 2u);
  EXPECT_EQ(get(f, "GetPrivateValueLength", "ZYL TEST", "0029", "14").scalar().u32, 6u);  // odd OB padded
  const Variable ob = get(f, "GetPrivateValue", "ZYL TEST", "0029", "14");
  ASSERT_TRUE(ob.isArray());
  EXPECT_EQ(ob.array()->as<uint8_t>()[4], 5);

  // REMOVE on an absent attribute leaves it present and empty; CLEAR makes it null.
  set(f, "ZYL TEST", "0029", "20", "LO", std::nullopt, {kw("REMOVE", 1)});
  EXPECT_EQ(get(f, "QueryPrivateValue", "ZYL TEST", "0029", "20").scalar().i16, 1);
  set(f, "ZYL TEST", "0029", "10", "LO", std::nullopt, {kw("CLEAR", 1)});
  EXPECT_EQ(get(f, "QueryPrivateValue", "ZYL TEST", "0029", "10").scalar().i16, 1);

  // SQ and unknown VRs are refused after the attribute was emptied.
  std::vector<Variable> args = triple("ZYL TEST", "0029", "11");
  args.push_back(Variable::ofString("SQ"));
  args.push_back(Variable::ofInt32(1));
  EXPECT_TRUE(contains(error(f, "SetPrivateValue", args), "call AddPrivateSequence or AddPrivateGroup"));
  args[3] = Variable::ofString("ZZ");
  EXPECT_TRUE(contains(error(f, "SetPrivateValue", args), "unsupported VR type (code/grp/elem/vr)"));

  call(f, "Commit");
  const std::string dump = run("dcmdump -q " + quote(tmp("clone.dcm")));
  EXPECT_TRUE(std::regex_search(dump, std::regex(R"(\(0029,00[1-9a-f][0-9a-f]\) LO \[ZYL TEST\])"))) << dump;
  EXPECT_TRUE(std::regex_search(dump, std::regex(R"(\(0029,[1-9a-f][0-9a-f]13\) PN \[A\^B\\C\^D\])"))) << dump;
}

TEST_F(PrivateTags, ElementOffsetsFollowTheCreatorsBlock) {
  // Creator at (0029,0011): its data elements are 0029,11xx.
  const fs::path p = fromDump("blocks.dcm",
                              "(0008,0016) UI =CTImageStorage\n(0008,0018) UI 1.2.3.4\n"
                              "(0029,0010) LO [OTHER]\n(0029,0011) LO [MINE]\n(0029,1010) LO [theirs]\n"
                              "(0029,1110) LO [ours]\n");
  Variable f = make(p.string());
  EXPECT_EQ(std::string(get(f, "GetPrivateValue", "MINE", "0029", "10").text()), "ours");
  EXPECT_EQ(std::string(get(f, "GetPrivateValue", "OTHER", "0029", "10").text()), "theirs");

  // BLOCKREMOVE wants VR LO and removes only that creator's block.
  std::vector<Variable> args = triple("MINE", "0029", "10");
  args.push_back(Variable::ofString("SH"));
  EXPECT_TRUE(contains(error(f, "SetPrivateValue", args, {kw("BLOCKREMOVE", 1)}),
                       "BlockRemove can only be used on the first tag that starts a private block"));
  set(f, "MINE", "0029", "10", "LO", std::nullopt, {kw("BLOCKREMOVE", 1)});
  EXPECT_EQ(get(f, "QueryPrivateValue", "MINE", "0029", "10").scalar().i16, 0);
  EXPECT_EQ(get(f, "QueryPrivateValue", "OTHER", "0029", "10").scalar().i16, 2);
  const std::string again = error(f, "SetPrivateValue",
                                  args =
                                      [&] {
                                        std::vector<Variable> a = triple("MINE", "0029", "10");
                                        a.push_back(Variable::ofString("LO"));
                                        return a;
                                      }(),
                                  {kw("BLOCKREMOVE", 1)});
  EXPECT_TRUE(contains(again, "Error: Failed to delete private block (code/grp/err) , MINE, 0029")) << again;
}

TEST_F(PrivateTags, PrivateSequencesHoldItems) {
  Variable f = clone();
  const int16_t first = get(f, "AddPrivateSequence", "ZYL SEQ", "0031", "01").scalar().i16;
  const int16_t second = get(f, "AddPrivateGroup", "ZYL SEQ", "0031", "01").scalar().i16;
  EXPECT_NE(first, second);
  EXPECT_EQ(get(f, "GetPrivateValueCount", "ZYL SEQ", "0031", "01").scalar().u32, 2u);
  EXPECT_EQ(std::string(get(f, "GetPrivateVR", "ZYL SEQ", "0031", "01").text()), "SQ");
  set(f, "ZYL SEQ", "0031", "02", "LO", Variable::ofString("inside"), {kw("SEQID", second)});
  EXPECT_EQ(std::string(get(f, "GetPrivateValue", "ZYL SEQ", "0031", "02", {kw("SEQID", second)}).text()), "inside");
  EXPECT_EQ(get(f, "QueryPrivateValue", "ZYL SEQ", "0031", "02", {kw("SEQID", first)}).scalar().i16, 0);
  const Variable ids = get(f, "GetPrivateValue", "ZYL SEQ", "0031", "01");
  ASSERT_TRUE(ids.isArray());
  EXPECT_EQ(ids.array()->as<int32_t>()[1], second);
  // An even group is no private group: the block cannot be added.
  const std::string even = error(f, "AddPrivateSequence", triple("ZYL SEQ", "0030", "01"));
  EXPECT_TRUE(contains(even, "Error: Failed to add private block (code/grp/elem/err) ")) << even;
}

}  // namespace
}  // namespace fotest

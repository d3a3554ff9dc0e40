// Writing values: strings and numbers of every VR read back as written, the
// argument and VR rules, CLEAR and REMOVE, sequences built item by item,
// odd-length OB, compressed Pixel Data frame by frame, and what reaches disk.
#include <cstring>
#include <regex>

#include "fileobject_support.h"

namespace fotest {
namespace {

const fs::path kMrJ2k = kCorpus / "MR_small_jp2klossless.dcm";

template <typename T>
Variable vectorOf(Type type, const std::vector<T>& values) {
  auto array = std::make_unique<zyl::Array>(type, std::vector<int64_t>{static_cast<int64_t>(values.size())}, true);
  std::memcpy(array->data(), values.data(), values.size() * sizeof(T));
  return Variable::ofArray(std::move(array));
}

template <typename T>
std::vector<T> elements(const Variable& v) {
  if (!v.isArray()) {
    T value{};
    std::memcpy(&value, &v.scalar(), sizeof(T));
    return {value};
  }
  const auto* data = v.array()->as<T>();
  return std::vector<T>(data, data + v.array()->count());
}

class WriteValues : public FileObjectTest {
 protected:
  // A clone of MR_small that may be changed and committed.
  Variable clone(const std::string& name = "clone.dcm", const fs::path& source = kMr) {
    return make(tmp(name).string(), {kw("CLONE", source.string())});
  }
  void set(Variable& f, const std::string& tag, const std::string& vr, Variable value, std::vector<Kw> kws = {}) {
    call(f, "SetValue", {Variable::ofString(tag), Variable::ofString(vr), std::move(value)}, std::move(kws));
  }
  std::string setError(Variable& f, std::vector<Variable> args, std::vector<Kw> kws = {}) {
    try {
      call(f, "SetValue", std::move(args), std::move(kws));
      return "";
    } catch (const zyl::HostError& e) {
      return e.what();
    }
  }
  uint32_t count(Variable& f, const std::string& tag, std::vector<Kw> kws = {}) {
    return call(f, "GetValueCount", tag, std::move(kws)).scalar().u32;
  }
  static std::string dump(const fs::path& p) { return run("dcmdump -q +L " + quote(p) + " 2>&1"); }
};

TEST_F(WriteValues, StringsAreReplacedAndHostNumbersLoseTheirLeadingBlanks) {
  Variable f = clone();
  set(f, "0010,0010", "PN", Variable::ofString("Doe^John"));
  EXPECT_EQ(count(f, "0010,0010"), 1u);
  EXPECT_EQ(getString(f, "0010,0010"), "Doe^John");
  set(f, "0010,0010", "PN", strings({"Doe^Jane", "Roe^Richard"}));
  EXPECT_EQ(count(f, "0010,0010"), 2u);
  const Variable names = call(f, "GetValue", "0010,0010");
  ASSERT_TRUE(names.isArray());
  EXPECT_EQ(std::string(zyl::hostStringText(names.array()->as<zyl::HostString>()[1])), "Roe^Richard");
  set(f, "0010,0010", "PN", Variable::ofString("Single^Again"));  // replaces both
  EXPECT_EQ(count(f, "0010,0010"), 1u);

  // A host integer is written as its digits; a string keeps its blanks
  // (reading drops the blanks that do not count in a LO; the file keeps them).
  set(f, "0020,0013", "IS", Variable::ofInt32(42));
  EXPECT_EQ(getString(f, "0020,0013"), "42");
  EXPECT_EQ(call(f, "GetValueLength", "0020,0013").scalar().u32, 2u);
  set(f, "0010,0020", "LO", Variable::ofString("  padded"));
  // Decimal strings from host floats, one value per element.
  set(f, "0028,0030", "DS", vectorOf<double>(Type::Float64, {0.5, 0.25}));
  EXPECT_EQ(count(f, "0028,0030"), 2u);
  const Variable spacingValue = call(f, "GetValue", "0028,0030");
  ASSERT_TRUE(spacingValue.isArray());
  const zyl::HostString* spacing = spacingValue.array()->as<zyl::HostString>();
  EXPECT_EQ(std::stod(std::string(zyl::hostStringText(spacing[0]))), 0.5);
  EXPECT_EQ(std::stod(std::string(zyl::hostStringText(spacing[1]))), 0.25);
  // The VR name may be written in any case.
  set(f, "0008,0060", "cs", Variable::ofString("OT"));
  EXPECT_EQ(getString(f, "0008,0060"), "OT");

  call(f, "Commit");
  const std::string d = dump(tmp("clone.dcm"));
  EXPECT_TRUE(contains(d, "(0010,0010) PN [Single^Again]")) << d;
  EXPECT_TRUE(contains(d, "(0020,0013) IS [42]")) << d;
  EXPECT_TRUE(contains(d, "(0010,0020) LO [  padded]")) << d;
  EXPECT_TRUE(contains(d, "(0008,0060) CS [OT]")) << d;
}

TEST_F(WriteValues, NumbersOfEveryBinaryVrReadBackAsWritten) {
  Variable f = clone();
  set(f, "0018,9219", "SS", vectorOf<int32_t>(Type::Int32, {-5, 300}));
  EXPECT_EQ(elements<int16_t>(call(f, "GetValue", "0018,9219")), (std::vector<int16_t>{-5, 300}));
  set(f, "0028,0010", "US", Variable::ofInt32(640));
  EXPECT_EQ(call(f, "GetValue", "0028,0010").scalar().u16, 640);
  set(f, "0008,1161", "UL", vectorOf<double>(Type::Float64, {7, 4000000000.0}));
  EXPECT_EQ(elements<uint32_t>(call(f, "GetValue", "0008,1161")), (std::vector<uint32_t>{7, 4000000000u}));
  set(f, "0018,6020", "SL", Variable::ofInt32(-70000));
  EXPECT_EQ(call(f, "GetValue", "0018,6020").scalar().i32, -70000);
  set(f, "0010,9431", "FL", Variable::ofFloat64(2.5));
  EXPECT_EQ(call(f, "GetValue", "0010,9431").scalar().f32, 2.5f);
  set(f, "0018,9089", "FD", vectorOf<float>(Type::Float32, {0.5f, -2.0f, 1.25f}));
  EXPECT_EQ(elements<double>(call(f, "GetValue", "0018,9089")), (std::vector<double>{0.5, -2.0, 1.25}));
  set(f, "0028,0009", "AT", Variable::ofUInt32(0x00181063));
  EXPECT_EQ(call(f, "GetValue", "0028,0009").scalar().u32, 0x00181063u);
  // OF: the whole array is one value of 4-byte floats.
  set(f, "0018,1638", "OF", vectorOf<int16_t>(Type::Int16, {3, -1}));
  EXPECT_EQ(count(f, "0018,1638"), 1u);
  EXPECT_EQ(elements<float>(call(f, "GetValue", "0018,1638")), (std::vector<float>{3.0f, -1.0f}));
  // OW: the elements as they lie in memory.
  set(f, "0028,1201", "OW", vectorOf<uint16_t>(Type::UInt16, {0x1234, 0xFFFF, 7}));
  EXPECT_EQ(call(f, "GetValueLength", "0028,1201").scalar().u32, 6u);
  EXPECT_EQ(elements<int16_t>(call(f, "GetValue", "0028,1201")), (std::vector<int16_t>{0x1234, -1, 7}));

  call(f, "Commit");
  const std::string d = dump(tmp("clone.dcm"));
  EXPECT_TRUE(contains(d, "(0018,9219) SS -5\\300")) << d;
  EXPECT_TRUE(contains(d, "(0008,1161) UL 7\\4000000000")) << d;
  EXPECT_TRUE(contains(d, "(0028,0009) AT (0018,1063)")) << d;
  EXPECT_TRUE(contains(d, "(0028,1201) OW 1234\\ffff\\0007")) << d;
}

TEST_F(WriteValues, OddLengthObIsPaddedWithOneZeroByte) {
  Variable f = clone();
  set(f, "0042,0011", "Ob", vectorOf<uint8_t>(Type::Byte, {1, 2, 3, 4, 5}));
  EXPECT_EQ(call(f, "GetValueLength", "0042,0011").scalar().u32, 6u);
  EXPECT_EQ(elements<uint8_t>(call(f, "GetValue", "0042,0011")), (std::vector<uint8_t>{1, 2, 3, 4, 5, 0}));
  // A single byte too; an even length is stored as it is.
  set(f, "0042,0011", "OB", Variable::ofByte(9));
  EXPECT_EQ(elements<uint8_t>(call(f, "GetValue", "0042,0011")), (std::vector<uint8_t>{9, 0}));
  set(f, "0042,0011", "OB", vectorOf<uint8_t>(Type::Byte, {1, 2, 3, 4}));
  EXPECT_EQ(call(f, "GetValueLength", "0042,0011").scalar().u32, 4u);
}

TEST_F(WriteValues, ArgumentAndVrRulesAndWhatTheyLeaveBehind) {
  Variable f = clone();
  const Variable tag = Variable::ofString("0010,0010");
  // Checked before anything changes: the tag's type, then the keyword combination.
  try {
    call(f, "SetValue", {Variable::ofInt32(0x00100010), Variable::ofString("PN"), Variable::ofString("x")});
    FAIL();
  } catch (const zyl::HostError& e) {
    EXPECT_EQ(e.code(), -6);
  }
  EXPECT_TRUE(contains(setError(f, {tag}, {kw("CLEAR", 1), kw("REMOVE", 1)}),
                       "Error: Invalid keyword combination, clear and remove keywords are mutally exclusive."));
  EXPECT_EQ(count(f, "0010,0010"), 1u);
  EXPECT_TRUE(contains(setError(f, {tag}), "Error: Failed to set value, arguments are missing."));
  EXPECT_TRUE(contains(setError(f, {tag, Variable::ofString("PN")}), "arguments are missing"));
  EXPECT_TRUE(contains(setError(f, {tag, Variable::ofInt32(7), Variable::ofString("x")}),
                       "Error: Invalid VR...must be a string with exactly 2 chars."));
  EXPECT_EQ(count(f, "0010,0010"), 1u);  // still untouched

  // Refusals after the attribute was emptied.
  struct Case {
    const char* vr;
    const char* message;
  };
  const Case cases[] = {
      {"PNN", "Error: Invalid VR...must be a string with exactly 2 chars."},
      {"UN", "Error: Failed to set value, unsupported VR type (tag/vr), 0010,0010, UN"},
      {"XX", "Error: Failed to set value, unsupported VR type (tag/vr), 0010,0010, XX"},
      {"sq", "Error: Failed to set value, unsupported VR type (tag/vr), 0010,0010, sq"},
      {"SQ",
       "Error: You can only remove SQ tags with SetValue, call AddSequence or AddGroup to add a sequence.(tag) , "
       "0010,0010"},
  };
  for (const Case& c : cases) {
    set(f, "0010,0010", "PN", Variable::ofString("Back^Again"));
    const std::string error = setError(f, {tag, Variable::ofString(c.vr), Variable::ofString("x")});
    EXPECT_TRUE(contains(error, c.message)) << c.vr << ": " << error;
    EXPECT_EQ(getString(f, "0010,0010"), "Back^Again") << c.vr;
  }
  // A value the VR cannot hold: the attribute keeps its value.
  set(f, "0028,0010", "US", Variable::ofInt32(64));
  const std::string error =
      setError(f, {Variable::ofString("0028,0010"), Variable::ofString("US"), Variable::ofString("not a number")});
  EXPECT_FALSE(error.empty());
  EXPECT_EQ(call(f, "GetValue", "0028,0010").scalar().u16, 64u);
}

TEST_F(WriteValues, BinaryValuesAreTakenFromNumbersThatFit) {
  Variable f = clone();
  const Variable tag = Variable::ofString("0028,1201");
  // Text is no memory image.
  EXPECT_TRUE(contains(setError(f, {tag, Variable::ofString("OB"), Variable::ofString("bytes")}),
                       "Error: Failed to write attribute value (tag/vr/err). , 0028,1201, OB"));
  // Elements of another size are converted one by one when they fit.
  set(f, "0042,0011", "OB", vectorOf<uint16_t>(Type::UInt16, {1, 2}));
  EXPECT_EQ(elements<uint8_t>(call(f, "GetValue", "0042,0011")), (std::vector<uint8_t>{1, 2}));
  set(f, "0028,1201", "OW", vectorOf<uint8_t>(Type::Byte, {1, 2, 3, 4, 5}));
  EXPECT_EQ(elements<int16_t>(call(f, "GetValue", "0028,1201")), (std::vector<int16_t>{1, 2, 3, 4, 5}));
  EXPECT_TRUE(contains(setError(f, {Variable::ofString("0042,0011"), Variable::ofString("OB"),
                                    vectorOf<uint16_t>(Type::UInt16, {0x0201})}),
                       "513 not in 0..255"));
  EXPECT_EQ(elements<uint8_t>(call(f, "GetValue", "0042,0011")), (std::vector<uint8_t>{1, 2}));
}

TEST_F(WriteValues, ClearSetsNullRemoveEmptiesNeitherAddsAGroupLength) {
  Variable f = clone();
  ASSERT_EQ(call(f, "QueryValue", "0010,0000").scalar().i16, 0);
  call(f, "SetValue", {Variable::ofString("0010,0010")}, {kw("CLEAR", 1)});
  EXPECT_EQ(count(f, "0010,0010"), 0u);
  EXPECT_EQ(call(f, "QueryValue", "0010,0010").scalar().i16, 1);
  call(f, "SetValue", {Variable::ofString("0010,0020")}, {kw("REMOVE", 1)});
  EXPECT_EQ(count(f, "0010,0020"), 0u);
  EXPECT_EQ(call(f, "QueryValue", "0010,0000").scalar().i16, 0);
  // A write in the top level adds the group's length attribute.
  set(f, "0010,0030", "DA", Variable::ofString("19700101"));
  EXPECT_NE(call(f, "QueryValue", "0010,0000").scalar().i16, 0);

  call(f, "Commit");
  const std::string d = dump(tmp("clone.dcm"));
  EXPECT_TRUE(contains(d, "(0010,0010) PN (no value available)")) << d;
  EXPECT_TRUE(contains(d, "(0010,0030) DA [19700101]")) << d;
  // The file stays readable by pydicom whatever became of the group length.
  int status = 0;
  run("/usr/bin/python3 -c \"import pydicom,sys; pydicom.dcmread(sys.argv[1])\" " + quote(tmp("clone.dcm")) + " 2>&1",
      &status);
  EXPECT_EQ(status, 0);
}

TEST_F(WriteValues, SequencesAreBuiltItemByItem) {
  Variable f = clone();
  const int16_t first = call(f, "AddSequence", "0008,1140").scalar().i16;
  EXPECT_NE(first, 0);
  set(f, "0008,1150", "UI", Variable::ofString("1.2.840.10008.5.1.4.1.1.4"), {kw("SEQID", first)});
  set(f, "0008,1155", "UI", Variable::ofString("1.2.3.1"), {kw("SEQID", first)});
  const int16_t second = call(f, "AddGroup", "0008,1140").scalar().i16;
  EXPECT_NE(second, first);
  set(f, "0008,1155", "UI", Variable::ofString("1.2.3.2"), {kw("SEQID", second)});
  // A sequence inside the second item.
  const int16_t nested = call(f, "AddSequence", "0040,a170", {kw("PARENTSEQID", second)}).scalar().i16;
  set(f, "0008,0100", "SH", Variable::ofString("CODE1"), {kw("SEQID", nested)});

  EXPECT_EQ(elements<int32_t>(call(f, "GetValue", "0008,1140")), (std::vector<int32_t>{first, second}));
  EXPECT_EQ(getString(f, "0008,1155", {kw("SEQID", second)}), "1.2.3.2");
  EXPECT_EQ(getString(f, "0008,0100", {kw("SEQID", nested)}), "CODE1");
  // AddSequence again starts the sequence over with one item.
  const int16_t restarted = call(f, "AddSequence", "0008,1140").scalar().i16;
  EXPECT_EQ(elements<int32_t>(call(f, "GetValue", "0008,1140")), (std::vector<int32_t>{restarted}));
  const int16_t again = call(f, "AddGroup", "0008,1140").scalar().i16;
  set(f, "0008,1155", "UI", Variable::ofString("1.2.3.9"), {kw("SEQID", again)});
  // The toolkit refuses items for an attribute it does not know.
  EXPECT_TRUE(
      contains(callError(f, "AddSequence", "0011,1001"), "Error: Failed to add a new empty sequence(tag/err). "));
  EXPECT_TRUE(contains(callError(f, "AddGroup", "0011,1001"), "Error: Failed to add a new group(tag/err). "));

  call(f, "Commit");
  const std::string d = dump(tmp("clone.dcm"));
  EXPECT_TRUE(contains(d, "(0008,1155) UI [1.2.3.9]")) << d;
  EXPECT_FALSE(contains(d, "1.2.3.2")) << d;
}

TEST_F(WriteValues, PixelDataOfACompressedFileIsCompressedFrameByFrame) {
  Variable f = clone("j2k.dcm", kMrJ2k);
  constexpr int kFrames = 3, kPixels = 64 * 64;
  std::vector<int16_t> pixels(kFrames * kPixels);
  for (size_t i = 0; i < pixels.size(); ++i)
    pixels[i] = static_cast<int16_t>((i % 64) * 37 - (i / 64) * 11 + static_cast<int>(i / kPixels) * 500 - 900);
  set(f, "0028,0008", "IS", Variable::ofInt32(kFrames));
  set(f, "7FE0,0010", "OW", vectorOf<int16_t>(Type::Int16, pixels));
  // Read back through the decompressor, every frame exact (lossless).
  EXPECT_EQ(elements<int16_t>(call(f, "GetValue", "7FE0,0010")), pixels);
  call(f, "Commit");

  const fs::path out = tmp("j2k.dcm");
  const std::string d = dump(out);
  EXPECT_TRUE(contains(d, "=JPEG2000LosslessOnly")) << d;
  // Three fragments after the offset table, each a JPEG 2000 codestream.
  const std::regex item("\\(fffe,e000\\) pi ff\\\\4f\\\\ff\\\\51");
  EXPECT_EQ(std::distance(std::sregex_iterator(d.begin(), d.end(), item), std::sregex_iterator()), kFrames) << d;
  // GDCM decodes the file to the same pixels.
  if (std::system("command -v gdcmconv > /dev/null") == 0) {
    const fs::path raw = tmp("raw.dcm");
    int status = 0;
    run("gdcmconv --raw " + quote(out) + " " + quote(raw) + " 2>&1", &status);
    ASSERT_EQ(status, 0);
    Variable decoded = make(raw.string());
    EXPECT_EQ(elements<int16_t>(call(decoded, "GetValue", "7FE0,0010")), pixels);
  }
}

TEST_F(WriteValues, AZeroFrameCountIsRefusedBeforeAnyFrame) {
  Variable f = clone("j2k.dcm", kMrJ2k);
  set(f, "0028,0008", "IS", Variable::ofInt32(0));
  const std::string error =
      setError(f, {Variable::ofString("7FE0,0010"), Variable::ofString("OW"), vectorOf<int16_t>(Type::Int16, {1, 2})});
  EXPECT_TRUE(contains(error, "Error: Failed to get number of frames for image (tag/err) , 7FE0,0010")) << error;
}

}  // namespace
}  // namespace fotest

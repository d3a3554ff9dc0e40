// Attribute states, typed values of every representation, sequences, items,
// private blocks and attribute enumeration.
#include "support.h"

#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <string>
#include <vector>

using namespace zyl::toolkit::test;

namespace {

class Message : public ::testing::Test {
 protected:
  void SetUp() override {
    initToolkit();
    ASSERT_EQ(MC_Open_Empty_Message(&id), MC_NORMAL_COMPLETION);
  }
  void TearDown() override { EXPECT_EQ(MC_Free_Message(id), MC_NORMAL_COMPLETION); }

  std::string text(std::uint32_t t, bool next = false) {
    char buffer[256] = {};
    const MC_STATUS s = next ? MC_Get_Next_Value_To_String(id, t, sizeof buffer, buffer)
                             : MC_Get_Value_To_String(id, t, sizeof buffer, buffer);
    return s == MC_NORMAL_COMPLETION ? std::string(buffer) : "status " + std::to_string(s);
  }

  int id = 0;
};

struct Supplied {
  std::vector<std::uint8_t> bytes;
  std::size_t piece;
  std::size_t offset = 0;
};

MC_STATUS supplyPieces(int, uint32_t, void* userInfo, int isFirst, int* size, void** data, int* isLast) {
  auto& s = *static_cast<Supplied*>(userInfo);
  if (isFirst) s.offset = 0;
  const std::size_t n = std::min(s.piece, s.bytes.size() - s.offset);
  *data = s.bytes.data() + s.offset;
  *size = static_cast<int>(n);
  s.offset += n;
  *isLast = s.offset >= s.bytes.size();
  return MC_NORMAL_COMPLETION;
}

struct Received {
  std::vector<std::uint8_t> bytes;
  int pieces = 0;
  bool last = false;
};

MC_STATUS receivePieces(int, uint32_t, void* userInfo, int size, void* data, int isFirst, int isLast) {
  auto& r = *static_cast<Received*>(userInfo);
  if (isFirst) r.bytes.clear();
  const auto* p = static_cast<const std::uint8_t*>(data);
  r.bytes.insert(r.bytes.end(), p, p + size);
  ++r.pieces;
  r.last = isLast != 0;
  return MC_NORMAL_COMPLETION;
}

}  // namespace

TEST_F(Message, AttributeStatesAbsentEmptyNullValued) {
  const std::uint32_t name = tag(0x0010, 0x0010);
  unsigned long length = 99;
  int count = 99;
  EXPECT_EQ(MC_Get_Value_Length(id, name, 1, &length), MC_INVALID_TAG);
  EXPECT_EQ(MC_Get_Value_Count(id, name, &count), MC_INVALID_TAG);

  ASSERT_EQ(MC_Add_Standard_Attribute(id, name), MC_NORMAL_COMPLETION);
  EXPECT_EQ(MC_Add_Standard_Attribute(id, name), MC_TAG_ALREADY_EXISTS);
  EXPECT_EQ(MC_Get_Value_Length(id, name, 1, &length), MC_EMPTY_VALUE);
  EXPECT_EQ(MC_Get_Value_Count(id, name, &count), MC_EMPTY_VALUE);
  EXPECT_EQ(count, 0);
  MC_VR vr;
  ASSERT_EQ(MC_Get_Attribute_Info(id, name, &vr, &count), MC_NORMAL_COMPLETION);
  EXPECT_EQ(vr, MC_VR_PN);

  ASSERT_EQ(MC_Set_Value_To_NULL(id, name), MC_NORMAL_COMPLETION);
  EXPECT_EQ(MC_Get_Value_Length(id, name, 1, &length), MC_NULL_VALUE);
  EXPECT_EQ(text(name), "status " + std::to_string(MC_NULL_VALUE));

  ASSERT_EQ(MC_Set_Value_From_String(id, name, "Doe^John"), MC_NORMAL_COMPLETION);
  ASSERT_EQ(MC_Get_Value_Length(id, name, 1, &length), MC_NORMAL_COMPLETION);
  EXPECT_EQ(length, 8u);
  ASSERT_EQ(MC_Set_Value_To_Empty(id, name), MC_NORMAL_COMPLETION);
  EXPECT_EQ(MC_Get_Value_Length(id, name, 1, &length), MC_EMPTY_VALUE);
  // An empty attribute is not listed and not written.
  std::uint32_t first = 0;
  EXPECT_EQ(MC_Get_First_Attribute(id, &first, &vr, &count), MC_MESSAGE_EMPTY);
  ASSERT_EQ(MC_Delete_Attribute(id, name), MC_NORMAL_COMPLETION);
  EXPECT_EQ(MC_Get_Value_Length(id, name, 1, &length), MC_INVALID_TAG);
  // A tag the dictionary does not know cannot be set without a representation.
  EXPECT_EQ(MC_Set_Value_From_String(id, tag(0x0011, 0x1001), "x"), MC_INVALID_TAG);
}

// Every typed getter tells an absent, an empty and a null attribute apart,
// the same way the length and count do; a valued one gives its value.
TEST_F(Message, EveryGetterTellsAbsentEmptyAndNullApart) {
  const std::uint32_t number = tag(0x0020, 0x0013);  // Instance Number, IS
  using Getter = std::function<MC_STATUS(bool next)>;
  char buffer[64];
  int i = 0;
  unsigned int u = 0;
  short sh = 0;
  long l = 0;
  unsigned long ul = 0;
  float f = 0;
  double d = 0;
  const std::vector<std::pair<const char*, Getter>> getters = {
      {"String",
       [&](bool n) {
         return (n ? MC_Get_Next_Value_To_String : MC_Get_Value_To_String)(id, number, sizeof buffer, buffer);
       }},
      {"Int", [&](bool n) { return (n ? MC_Get_Next_Value_To_Int : MC_Get_Value_To_Int)(id, number, &i); }},
      {"UInt", [&](bool n) { return (n ? MC_Get_Next_Value_To_UInt : MC_Get_Value_To_UInt)(id, number, &u); }},
      {"ShortInt",
       [&](bool n) { return (n ? MC_Get_Next_Value_To_ShortInt : MC_Get_Value_To_ShortInt)(id, number, &sh); }},
      {"LongInt", [&](bool n) { return (n ? MC_Get_Next_Value_To_LongInt : MC_Get_Value_To_LongInt)(id, number, &l); }},
      {"ULongInt",
       [&](bool n) { return (n ? MC_Get_Next_Value_To_ULongInt : MC_Get_Value_To_ULongInt)(id, number, &ul); }},
      {"Float", [&](bool n) { return (n ? MC_Get_Next_Value_To_Float : MC_Get_Value_To_Float)(id, number, &f); }},
      {"Double", [&](bool n) { return (n ? MC_Get_Next_Value_To_Double : MC_Get_Value_To_Double)(id, number, &d); }},
  };
  auto expectEvery = [&](const char* state, MC_STATUS first, MC_STATUS next) {
    for (const auto& [name, get] : getters) {
      EXPECT_EQ(get(false), first) << name << " of an attribute that is " << state;
      EXPECT_EQ(get(true), next) << "Next " << name << " of an attribute that is " << state;
    }
  };
  expectEvery("absent", MC_INVALID_TAG, MC_INVALID_TAG);
  ASSERT_EQ(MC_Add_Standard_Attribute(id, number), MC_NORMAL_COMPLETION);
  expectEvery("empty", MC_EMPTY_VALUE, MC_EMPTY_VALUE);
  ASSERT_EQ(MC_Set_Value_To_NULL(id, number), MC_NORMAL_COMPLETION);
  expectEvery("null", MC_NULL_VALUE, MC_NULL_VALUE);
  ASSERT_EQ(MC_Set_Value_From_String(id, number, "-7"), MC_NORMAL_COMPLETION);
  ASSERT_EQ(MC_Get_Value_To_String(id, number, sizeof buffer, buffer), MC_NORMAL_COMPLETION);
  EXPECT_STREQ(buffer, "-7");
  ASSERT_EQ(MC_Get_Value_To_Int(id, number, &i), MC_NORMAL_COMPLETION);
  EXPECT_EQ(i, -7);
  ASSERT_EQ(MC_Get_Value_To_ShortInt(id, number, &sh), MC_NORMAL_COMPLETION);
  EXPECT_EQ(sh, -7);
  ASSERT_EQ(MC_Get_Value_To_LongInt(id, number, &l), MC_NORMAL_COMPLETION);
  EXPECT_EQ(l, -7);
  ASSERT_EQ(MC_Get_Value_To_Double(id, number, &d), MC_NORMAL_COMPLETION);
  EXPECT_EQ(d, -7.0);
  EXPECT_EQ(MC_Get_Next_Value_To_Int(id, number, &i), MC_NO_MORE_VALUES);

  // Binary values take their VR's size (an SS value is 2 bytes, as dcmdump
  // counts it), and a next-value getter before any first one gives the
  // second value.
  const std::uint32_t smallest = tag(0x0028, 0x0106);  // Smallest Image Pixel Value, US or SS
  ASSERT_EQ(MC_Set_Value_From_Int(id, tag(0x0028, 0x0103), 1), MC_NORMAL_COMPLETION);
  ASSERT_EQ(MC_Set_Value_From_Int(id, smallest, -7), MC_NORMAL_COMPLETION);
  unsigned long length = 0;
  ASSERT_EQ(MC_Get_Value_Length(id, smallest, 1, &length), MC_NORMAL_COMPLETION);
  EXPECT_EQ(length, 2u);
  const std::uint32_t window = tag(0x0028, 0x1050);  // Window Center, DS, several values
  for (const char* value : {"10", "20", "30"})
    ASSERT_EQ(MC_Set_Next_Value_From_String(id, window, value), MC_NORMAL_COMPLETION);
  ASSERT_EQ(MC_Get_Next_Value_To_Int(id, window, &i), MC_NORMAL_COMPLETION);
  EXPECT_EQ(i, 20);
}

TEST_F(Message, EveryTextRepresentationRoundTripsWithNextValues) {
  struct Case {
    std::uint32_t tag;
    MC_VR vr;
    std::vector<std::string> values;
  };
  const std::vector<Case> cases = {
      {tag(0x0008, 0x0054), MC_VR_AE, {"STORE_SCP", "ARCHIVE"}},
      {tag(0x0010, 0x1010), MC_VR_AS, {"042Y"}},
      {tag(0x0008, 0x0008), MC_VR_CS, {"ORIGINAL", "PRIMARY", "AXIAL"}},
      {tag(0x0008, 0x0020), MC_VR_DA, {"20240131"}},
      {tag(0x0028, 0x0030), MC_VR_DS, {"0.5", "-1.25e-3"}},
      {tag(0x0008, 0x002A), MC_VR_DT, {"20240131120000.5"}},
      {tag(0x0020, 0x0013), MC_VR_IS, {"-17"}},
      {tag(0x0008, 0x1030), MC_VR_LO, {"Chest", "Abdomen"}},
      {tag(0x0010, 0x4000), MC_VR_LT, {"free text with \\ no split"}},
      {tag(0x0010, 0x0010), MC_VR_PN, {"Doe^John", "Roe^Jane"}},
      {tag(0x0008, 0x0050), MC_VR_SH, {"ACC123"}},
      {tag(0x0008, 0x0081), MC_VR_ST, {"Street 1"}},
      {tag(0x0008, 0x0030), MC_VR_TM, {"120000.123"}},
      {tag(0x0008, 0x0119), MC_VR_UC, {"a long code value"}},
      {tag(0x0008, 0x0018), MC_VR_UI, {"1.2.3.4.5"}},
      {tag(0x0008, 0x010E), MC_VR_UR, {"http://example.org/x"}},
      {tag(0x0040, 0xA160), MC_VR_UT, {"unlimited text"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.tag);
    for (std::size_t i = 0; i < c.values.size(); ++i)
      ASSERT_EQ(MC_Set_Next_Value_From_String(id, c.tag, c.values[i].c_str()), MC_NORMAL_COMPLETION);
    MC_VR vr;
    int count = 0;
    ASSERT_EQ(MC_Get_Attribute_Info(id, c.tag, &vr, &count), MC_NORMAL_COMPLETION);
    EXPECT_EQ(vr, c.vr);
    EXPECT_EQ(count, static_cast<int>(c.values.size()));
    EXPECT_EQ(text(c.tag), c.values[0]);
    for (std::size_t i = 1; i < c.values.size(); ++i) EXPECT_EQ(text(c.tag, true), c.values[i]);
    EXPECT_EQ(text(c.tag, true), "status " + std::to_string(MC_NO_MORE_VALUES));
    unsigned long length = 0;
    ASSERT_EQ(MC_Get_Value_Length(id, c.tag, 1, &length), MC_NORMAL_COMPLETION);
    EXPECT_EQ(length, c.values[0].size());
  }
  // Text representations of a single value refuse a second one.
  EXPECT_EQ(MC_Set_Next_Value_From_String(id, tag(0x0010, 0x4000), "more"), MC_TOO_MANY_VALUES);
  // Setting replaces every value.
  ASSERT_EQ(MC_Set_Value_From_String(id, tag(0x0008, 0x0008), "DERIVED"), MC_NORMAL_COMPLETION);
  int count = 0;
  ASSERT_EQ(MC_Get_Value_Count(id, tag(0x0008, 0x0008), &count), MC_NORMAL_COMPLETION);
  EXPECT_EQ(count, 1);
  char small[4];
  EXPECT_EQ(MC_Get_Value_To_String(id, tag(0x0008, 0x0008), sizeof small, small), MC_BUFFER_TOO_SMALL);
}

TEST_F(Message, NumericRepresentationsRoundTripWithRangeChecks) {
  const std::uint32_t ss = tag(0x0028, 0x9503), us = tag(0x0028, 0x0010), sl = tag(0x0018, 0x6020),
                      ul = tag(0x0008, 0x1161), fl = tag(0x0010, 0x9431), fd = tag(0x0018, 0x9089),
                      at = tag(0x0020, 0x9165), sv = tag(0x0072, 0x0082), uv = tag(0x0072, 0x0083);
  ASSERT_EQ(MC_Set_Value_From_Int(id, ss, -300), MC_NORMAL_COMPLETION);
  ASSERT_EQ(MC_Set_Next_Value_From_Int(id, ss, 300), MC_NORMAL_COMPLETION);
  int i = 0;
  ASSERT_EQ(MC_Get_Value_To_Int(id, ss, &i), MC_NORMAL_COMPLETION);
  EXPECT_EQ(i, -300);
  ASSERT_EQ(MC_Get_Next_Value_To_Int(id, ss, &i), MC_NORMAL_COMPLETION);
  EXPECT_EQ(i, 300);
  EXPECT_EQ(MC_Get_Next_Value_To_Int(id, ss, &i), MC_NO_MORE_VALUES);
  EXPECT_EQ(MC_Set_Value_From_Int(id, ss, 40000), MC_VALUE_OUT_OF_RANGE);

  ASSERT_EQ(MC_Set_Value_From_UInt(id, us, 512), MC_NORMAL_COMPLETION);
  unsigned int u = 0;
  ASSERT_EQ(MC_Get_Value_To_UInt(id, us, &u), MC_NORMAL_COMPLETION);
  EXPECT_EQ(u, 512u);
  EXPECT_EQ(MC_Set_Value_From_Int(id, us, -1), MC_VALUE_OUT_OF_RANGE);
  // A 16-bit value keeps its bit pattern on US.
  ASSERT_EQ(MC_Set_Value_From_ShortInt(id, us, static_cast<short>(-25536)), MC_NORMAL_COMPLETION);
  ASSERT_EQ(MC_Get_Value_To_UInt(id, us, &u), MC_NORMAL_COMPLETION);
  EXPECT_EQ(u, 40000u);
  // Text goes through the value representation: "64" sets Rows to 64.
  ASSERT_EQ(MC_Set_Value_From_String(id, us, "64"), MC_NORMAL_COMPLETION);
  EXPECT_EQ(text(us), "64");
  EXPECT_EQ(MC_Set_Value_From_String(id, us, "sixty"), MC_INVALID_VALUE_FOR_VR);
  unsigned long length = 0;
  ASSERT_EQ(MC_Get_Value_Length(id, us, 1, &length), MC_NORMAL_COMPLETION);
  EXPECT_EQ(length, 2u);

  ASSERT_EQ(MC_Set_Value_From_LongInt(id, sl, -70000), MC_NORMAL_COMPLETION);
  long l = 0;
  ASSERT_EQ(MC_Get_Value_To_LongInt(id, sl, &l), MC_NORMAL_COMPLETION);
  EXPECT_EQ(l, -70000);
  ASSERT_EQ(MC_Set_Value_From_ULongInt(id, ul, 4000000000ul), MC_NORMAL_COMPLETION);
  unsigned long ulv = 0;
  ASSERT_EQ(MC_Get_Value_To_ULongInt(id, ul, &ulv), MC_NORMAL_COMPLETION);
  EXPECT_EQ(ulv, 4000000000ul);
  EXPECT_EQ(MC_Get_Value_To_Int(id, ul, &i), MC_VALUE_OUT_OF_RANGE);

  ASSERT_EQ(MC_Set_Value_From_Float(id, fl, 0.1f), MC_NORMAL_COMPLETION);
  float f = 0;
  ASSERT_EQ(MC_Get_Value_To_Float(id, fl, &f), MC_NORMAL_COMPLETION);
  EXPECT_EQ(f, 0.1f);
  EXPECT_EQ(text(fl), "0.1");
  ASSERT_EQ(MC_Set_Value_From_Double(id, fd, 1.0 / 3), MC_NORMAL_COMPLETION);
  ASSERT_EQ(MC_Set_Next_Value_From_Double(id, fd, -2.5), MC_NORMAL_COMPLETION);
  double d = 0;
  ASSERT_EQ(MC_Get_Value_To_Double(id, fd, &d), MC_NORMAL_COMPLETION);
  EXPECT_EQ(d, 1.0 / 3);
  ASSERT_EQ(MC_Get_Next_Value_To_Double(id, fd, &d), MC_NORMAL_COMPLETION);
  EXPECT_EQ(d, -2.5);

  ASSERT_EQ(MC_Set_Value_From_ULongInt(id, at, 0x00181065ul), MC_NORMAL_COMPLETION);
  ASSERT_EQ(MC_Set_Next_Value_From_String(id, at, "(0028,0010)"), MC_NORMAL_COMPLETION);
  ASSERT_EQ(MC_Get_Value_To_ULongInt(id, at, &ulv), MC_NORMAL_COMPLETION);
  EXPECT_EQ(ulv, 0x00181065ul);
  EXPECT_EQ(text(at, true), "(0028,0010)");

  ASSERT_EQ(MC_Set_Value_From_LongInt(id, sv, -5000000000l), MC_NORMAL_COMPLETION);
  ASSERT_EQ(MC_Get_Value_To_LongInt(id, sv, &l), MC_NORMAL_COMPLETION);
  EXPECT_EQ(l, -5000000000l);
  ASSERT_EQ(MC_Set_Value_From_ULongInt(id, uv, 5000000000ul), MC_NORMAL_COMPLETION);
  ASSERT_EQ(MC_Get_Value_To_ULongInt(id, uv, &ulv), MC_NORMAL_COMPLETION);
  EXPECT_EQ(ulv, 5000000000ul);

  // Strings holding numbers read as numbers; IS and DS from numbers.
  ASSERT_EQ(MC_Set_Value_From_Int(id, tag(0x0028, 0x0008), 12), MC_NORMAL_COMPLETION);
  EXPECT_EQ(text(tag(0x0028, 0x0008)), "12");
  ASSERT_EQ(MC_Get_Value_To_UInt(id, tag(0x0028, 0x0008), &u), MC_NORMAL_COMPLETION);
  EXPECT_EQ(u, 12u);
  ASSERT_EQ(MC_Set_Value_From_Double(id, tag(0x0028, 0x0030), 0.1 + 0.2), MC_NORMAL_COMPLETION);
  EXPECT_LE(text(tag(0x0028, 0x0030)).size(), 16u);
  ASSERT_EQ(MC_Get_Value_To_Double(id, tag(0x0028, 0x0030), &d), MC_NORMAL_COMPLETION);
  EXPECT_NEAR(d, 0.3, 1e-12);
  EXPECT_EQ(MC_Set_Value_From_Double(id, tag(0x0020, 0x0013), 1.5), MC_INVALID_VALUE_FOR_VR);
  ASSERT_EQ(MC_Set_Value_From_String(id, tag(0x0010, 0x0020), "ID"), MC_NORMAL_COMPLETION);
  EXPECT_EQ(MC_Get_Value_To_Int(id, tag(0x0010, 0x0020), &i), MC_INVALID_VALUE_FOR_VR);
}

TEST_F(Message, BinaryValuesThroughCallbacksAndBuffers) {
  const std::uint32_t iconOb = tag(0x0042, 0x0011);  // Encapsulated Document, OB
  Supplied odd{{1, 2, 3, 4, 5}, 2};
  ASSERT_EQ(MC_Set_Value_From_Function(id, iconOb, &odd, supplyPieces), MC_NORMAL_COMPLETION);
  unsigned long length = 0;
  ASSERT_EQ(MC_Get_Value_Length(id, iconOb, 1, &length), MC_NORMAL_COMPLETION);
  EXPECT_EQ(length, 6u);  // odd OB values are padded with a zero byte
  Received received;
  ASSERT_EQ(MC_Get_Value_To_Function(id, iconOb, &received, receivePieces), MC_NORMAL_COMPLETION);
  EXPECT_EQ(received.bytes, (std::vector<std::uint8_t>{1, 2, 3, 4, 5, 0}));
  EXPECT_TRUE(received.last);

  // Pixel data of a 16-bit image is OW, in host byte order.
  ASSERT_EQ(MC_Set_Value_From_UInt(id, tag(0x0028, 0x0100), 16), MC_NORMAL_COMPLETION);
  std::vector<std::uint16_t> words(2 * 1024 * 1024);
  for (std::size_t k = 0; k < words.size(); ++k) words[k] = static_cast<std::uint16_t>(k * 7);
  ASSERT_EQ(MC_Set_Value_From_Buffer(id, tag(0x7FE0, 0x0010), words.data(), static_cast<int>(words.size() * 2)),
            MC_NORMAL_COMPLETION);
  MC_VR vr;
  int count = 0;
  ASSERT_EQ(MC_Get_Attribute_Info(id, tag(0x7FE0, 0x0010), &vr, &count), MC_NORMAL_COMPLETION);
  EXPECT_EQ(vr, MC_VR_OW);
  EXPECT_EQ(count, 1);
  ASSERT_EQ(MC_Get_Value_To_Function(id, tag(0x7FE0, 0x0010), &received, receivePieces), MC_NORMAL_COMPLETION);
  EXPECT_GT(received.pieces, 1);  // large values arrive in pieces
  ASSERT_EQ(received.bytes.size(), words.size() * 2);
  EXPECT_EQ(std::memcmp(received.bytes.data(), words.data(), received.bytes.size()), 0);
  Supplied unevenWords{{1, 2, 3}, 3};
  EXPECT_EQ(MC_Set_Value_From_Function(id, tag(0x7FE0, 0x0010), &unevenWords, supplyPieces),
            MC_CALLBACK_DATA_SIZE_UNEVEN);

  std::uint8_t buffer[4];
  int returned = 0;
  EXPECT_EQ(MC_Get_Value_To_Buffer(id, iconOb, sizeof buffer, buffer, &returned), MC_BUFFER_TOO_SMALL);
  int value = 0;
  EXPECT_EQ(MC_Get_Value_To_Int(id, iconOb, &value), MC_INCOMPATIBLE_VR);
  EXPECT_EQ(MC_Set_Value_From_String(id, iconOb, "x"), MC_INCOMPATIBLE_VR);
}

TEST_F(Message, SequencesHoldItemsWhoseIdsAddressTheirAttributes) {
  const std::uint32_t sequence = tag(0x0008, 0x1140);
  int first = 0, second = 0, nested = 0;
  ASSERT_EQ(MC_Open_Item(&first, ""), MC_NORMAL_COMPLETION);
  ASSERT_EQ(MC_Open_Item(&second, ""), MC_NORMAL_COMPLETION);
  ASSERT_EQ(MC_Open_Item(&nested, ""), MC_NORMAL_COMPLETION);
  ASSERT_EQ(MC_Set_Value_From_String(first, tag(0x0008, 0x1155), "1.2.3"), MC_NORMAL_COMPLETION);
  ASSERT_EQ(MC_Set_Value_From_Int(id, sequence, first), MC_NORMAL_COMPLETION);
  ASSERT_EQ(MC_Set_Next_Value_From_Int(id, sequence, second), MC_NORMAL_COMPLETION);
  // An item already in a sequence cannot be added again.
  EXPECT_EQ(MC_Set_Next_Value_From_Int(id, sequence, first), MC_INVALID_ITEM_ID);
  // Items nest: a sequence inside the second item.
  ASSERT_EQ(MC_Set_Value_From_String(nested, tag(0x0008, 0x0100), "CODE"), MC_NORMAL_COMPLETION);
  ASSERT_EQ(MC_Set_Value_From_Int(second, tag(0x0040, 0xA043), nested), MC_NORMAL_COMPLETION);

  int count = 0;
  ASSERT_EQ(MC_Get_Value_Count(id, sequence, &count), MC_NORMAL_COMPLETION);
  EXPECT_EQ(count, 2);
  int a = 0, b = 0;
  ASSERT_EQ(MC_Get_Value_To_Int(id, sequence, &a), MC_NORMAL_COMPLETION);
  ASSERT_EQ(MC_Get_Next_Value_To_Int(id, sequence, &b), MC_NORMAL_COMPLETION);
  EXPECT_EQ(a, first);
  EXPECT_EQ(b, second);
  EXPECT_EQ(MC_Get_Next_Value_To_Int(id, sequence, &b), MC_NO_MORE_VALUES);
  char text[64] = {};
  ASSERT_EQ(MC_Get_Value_To_String(a, tag(0x0008, 0x1155), sizeof text, text), MC_NORMAL_COMPLETION);
  EXPECT_EQ(std::string(text), "1.2.3");
  EXPECT_EQ(MC_Get_Value_To_LongInt(b, tag(0x0040, 0xA043), nullptr), MC_NULL_POINTER_PARM);
  long nestedId = 0;
  ASSERT_EQ(MC_Get_Value_To_LongInt(b, tag(0x0040, 0xA043), &nestedId), MC_NORMAL_COMPLETION);
  EXPECT_EQ(nestedId, nested);
  ASSERT_EQ(MC_Get_Value_To_String(static_cast<int>(nestedId), tag(0x0008, 0x0100), sizeof text, text),
            MC_NORMAL_COMPLETION);
  EXPECT_EQ(std::string(text), "CODE");
  unsigned long length = 0;
  ASSERT_EQ(MC_Get_Value_Length(id, sequence, 1, &length), MC_NORMAL_COMPLETION);
  EXPECT_GT(length, 0u);

  // Freeing an item takes it out of its sequence; setting the sequence anew
  // releases the ids of the items it held.
  ASSERT_EQ(MC_Free_Item(first), MC_NORMAL_COMPLETION);
  ASSERT_EQ(MC_Get_Value_Count(id, sequence, &count), MC_NORMAL_COMPLETION);
  EXPECT_EQ(count, 1);
  ASSERT_EQ(MC_Set_Value_To_NULL(id, sequence), MC_NORMAL_COMPLETION);
  EXPECT_EQ(MC_Get_Value_To_String(second, tag(0x0008, 0x0100), sizeof text, text), MC_INVALID_MESSAGE_ID);
  EXPECT_EQ(MC_Get_Value_To_String(static_cast<int>(nestedId), tag(0x0008, 0x0100), sizeof text, text),
            MC_INVALID_MESSAGE_ID);
  EXPECT_EQ(MC_Get_Value_Count(id, sequence, &count), MC_NULL_VALUE);
}

TEST_F(Message, PrivateBlocksAreFoundByCreatorWhateverTheirSlot) {
  // Another creator takes the first slot, so ours lands at 0x11.
  ASSERT_EQ(MC_Add_Private_Block(id, "OTHER CREATOR", 0x0029), MC_NORMAL_COMPLETION);
  ASSERT_EQ(MC_Add_Private_Block(id, "ZYL TEST", 0x0029), MC_NORMAL_COMPLETION);
  ASSERT_EQ(MC_Add_Private_Block(id, "ZYL TEST", 0x0029), MC_NORMAL_COMPLETION);  // idempotent
  ASSERT_EQ(MC_Add_Private_Attribute(id, "ZYL TEST", 0x0029, 0x10, MC_VR_LO), MC_NORMAL_COMPLETION);
  EXPECT_EQ(MC_Add_Private_Attribute(id, "ZYL TEST", 0x0029, 0x10, MC_VR_LO), MC_TAG_ALREADY_EXISTS);
  unsigned long length = 0;
  EXPECT_EQ(MC_Get_pValue_Length(id, "ZYL TEST", 0x0029, 0x10, 1, &length), MC_EMPTY_VALUE);
  ASSERT_EQ(MC_Set_pValue_From_String(id, "ZYL TEST", 0x0029, 0x10, "first"), MC_NORMAL_COMPLETION);
  ASSERT_EQ(MC_Set_Next_pValue_From_String(id, "ZYL TEST", 0x0029, 0x10, "second"), MC_NORMAL_COMPLETION);
  ASSERT_EQ(MC_Add_Private_Attribute(id, "ZYL TEST", 0x0029, 0x20, MC_VR_US), MC_NORMAL_COMPLETION);
  ASSERT_EQ(MC_Set_pValue_From_UInt(id, "ZYL TEST", 0x0029, 0x20, 7), MC_NORMAL_COMPLETION);

  char text[64] = {};
  ASSERT_EQ(MC_Get_Value_To_String(id, tag(0x0029, 0x0011), sizeof text, text), MC_NORMAL_COMPLETION);
  EXPECT_EQ(std::string(text), "ZYL TEST");
  ASSERT_EQ(MC_Get_Value_To_String(id, tag(0x0029, 0x1110), sizeof text, text), MC_NORMAL_COMPLETION);
  EXPECT_EQ(std::string(text), "first");
  ASSERT_EQ(MC_Get_Next_pValue_To_String(id, "ZYL TEST", 0x0029, 0x10, sizeof text, text), MC_NORMAL_COMPLETION);
  EXPECT_EQ(std::string(text), "second");
  unsigned int u = 0;
  ASSERT_EQ(MC_Get_pValue_To_UInt(id, "ZYL TEST", 0x0029, 0x20, &u), MC_NORMAL_COMPLETION);
  EXPECT_EQ(u, 7u);
  MC_VR vr;
  int count = 0;
  ASSERT_EQ(MC_Get_pAttribute_Info(id, "ZYL TEST", 0x0029, 0x20, &vr, &count), MC_NORMAL_COMPLETION);
  EXPECT_EQ(vr, MC_VR_US);

  EXPECT_EQ(MC_Get_pValue_Length(id, "NOT HERE", 0x0029, 0x10, 1, &length), MC_INVALID_GROUP);
  EXPECT_EQ(MC_Get_pValue_Length(id, "ZYL TEST", 0x0029, 0x30, 1, &length), MC_INVALID_TAG);
  EXPECT_EQ(MC_Add_Private_Block(id, "ZYL TEST", 0x0028), MC_INVALID_GROUP);
  EXPECT_EQ(MC_Add_Private_Block(id, "", 0x0029), MC_INVALID_PRIVATE_CODE);

  ASSERT_EQ(MC_Delete_Private_Block(id, "ZYL TEST", 0x0029), MC_NORMAL_COMPLETION);
  EXPECT_EQ(MC_Get_Value_Length(id, tag(0x0029, 0x1110), 1, &length), MC_INVALID_TAG);
  EXPECT_EQ(MC_Get_Value_Length(id, tag(0x0029, 0x0011), 1, &length), MC_INVALID_TAG);
  ASSERT_EQ(MC_Get_Value_Length(id, tag(0x0029, 0x0010), 1, &length), MC_NORMAL_COMPLETION);  // the other block stays
  EXPECT_EQ(MC_Delete_Private_Block(id, "ZYL TEST", 0x0029), MC_INVALID_GROUP);
}

TEST_F(Message, PrivateSequencesAndBlockExhaustion) {
  int item = 0;
  ASSERT_EQ(MC_Open_Item(&item, ""), MC_NORMAL_COMPLETION);
  ASSERT_EQ(MC_Add_Private_Attribute(id, "SEQ CREATOR", 0x0031, 0x01, MC_VR_SQ), MC_NORMAL_COMPLETION);
  ASSERT_EQ(MC_Set_pValue_From_Int(id, "SEQ CREATOR", 0x0031, 0x01, item), MC_NORMAL_COMPLETION);
  int read = 0;
  ASSERT_EQ(MC_Get_pValue_To_Int(id, "SEQ CREATOR", 0x0031, 0x01, &read), MC_NORMAL_COMPLETION);
  EXPECT_EQ(read, item);
  for (int k = 0; k < 0xF0; ++k)
    ASSERT_EQ(MC_Add_Private_Block(id, ("CREATOR " + std::to_string(k)).c_str(), 0x0033), MC_NORMAL_COMPLETION);
  EXPECT_EQ(MC_Add_Private_Block(id, "ONE TOO MANY", 0x0033), MC_TOO_MANY_BLOCKS);
}

TEST_F(Message, AttributesAreListedInTagOrderWithRepresentationAndCount) {
  ASSERT_EQ(MC_Set_Value_From_String(id, tag(0x0010, 0x0010), "Doe^John"), MC_NORMAL_COMPLETION);
  ASSERT_EQ(MC_Set_Value_From_String(id, tag(0x0008, 0x0008), "A\\B\\C"), MC_NORMAL_COMPLETION);
  ASSERT_EQ(MC_Set_Value_From_UInt(id, tag(0x0028, 0x0010), 2), MC_NORMAL_COMPLETION);
  ASSERT_EQ(MC_Set_Value_From_String(id, tag(0x0002, 0x0010), "1.2.840.10008.1.2.1"), MC_NORMAL_COMPLETION);
  std::vector<std::uint32_t> tags;
  std::vector<int> counts;
  std::uint32_t t = 0;
  MC_VR vr;
  int count = 0;
  for (MC_STATUS s = MC_Get_First_Attribute(id, &t, &vr, &count); s == MC_NORMAL_COMPLETION;
       s = MC_Get_Next_Attribute(id, &t, &vr, &count)) {
    tags.push_back(t);
    counts.push_back(count);
  }
  EXPECT_EQ(tags, (std::vector<std::uint32_t>{tag(0x0002, 0x0010), tag(0x0008, 0x0008), tag(0x0010, 0x0010),
                                              tag(0x0028, 0x0010)}));
  EXPECT_EQ(counts, (std::vector<int>{1, 3, 1, 1}));
  EXPECT_EQ(MC_Get_Next_Attribute(id, &t, &vr, &count), MC_NO_MORE_ATTRIBUTES);
}

TEST(ToolkitIds, UnknownAndFreedIdsAreRefused) {
  initToolkit();
  char text[8];
  EXPECT_EQ(MC_Get_Value_To_String(30000, tag(0x0010, 0x0010), sizeof text, text), MC_INVALID_MESSAGE_ID);
  int id = 0;
  ASSERT_EQ(MC_Open_Empty_Message(&id), MC_NORMAL_COMPLETION);
  ASSERT_EQ(MC_Free_Message(id), MC_NORMAL_COMPLETION);
  EXPECT_EQ(MC_Free_Message(id), MC_INVALID_MESSAGE_ID);
  EXPECT_EQ(MC_Free_File(id), MC_INVALID_FILE_ID);
  EXPECT_EQ(MC_Free_Item(id), MC_INVALID_ITEM_ID);
  EXPECT_EQ(MC_Open_Message(&id, "NO_SUCH_SERVICE", MC_CMD_C_FIND_RQ), MC_INVALID_SERVICE_NAME);
  EXPECT_EQ(MC_Open_Message(&id, "STANDARD_ECHO", static_cast<MC_COMMAND>(0x1234)), MC_INVALID_COMMAND);
  ASSERT_EQ(MC_Open_Message(&id, "STUDY_ROOT_QR_FIND", MC_CMD_C_FIND_RQ), MC_NORMAL_COMPLETION);
  char service[64];
  MC_COMMAND command;
  ASSERT_EQ(MC_Get_Service_Command(id, service, sizeof service, &command), MC_NORMAL_COMPLETION);
  EXPECT_EQ(std::string(service), "STUDY_ROOT_QR_FIND");
  EXPECT_EQ(command, MC_CMD_C_FIND_RQ);
  EXPECT_EQ(MC_Free_Message(id), MC_NORMAL_COMPLETION);
}

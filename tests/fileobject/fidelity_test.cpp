// What is written is what was asked, or it is refused; what is read is what
// is stored. Integer ranges of every integer VR through SetValue,
// SetPrivateValue and SetProperty; keyword order; OB/OW and pixel arrays of
// wider types; DS and IS lengths; the lossy flag; generated UIDs; CopyTags
// with a creator of two blocks; item ids of other objects; the VRs UC, UR,
// OD, OL, OV, SV and UV. Committed files are read back by pydicom and dcmdump.
#include <cstring>
#include <algorithm>
#include <regex>

#include "fileobject_support.h"

namespace fotest {
namespace {

const fs::path kMr = kCorpus / "MR_small.dcm";           // 64x64, 16 bits, no private blocks
const fs::path kRgb = kCorpus / "SC_rgb_small_odd.dcm";  // 8 bits, three samples, odd sizes

template <typename T>
Variable vectorOf(Type type, const std::vector<T>& values) {
  auto array = std::make_unique<zyl::Array>(type, std::vector<int64_t>{static_cast<int64_t>(values.size())}, true);
  std::memcpy(array->data(), values.data(), values.size() * sizeof(T));
  return Variable::ofArray(std::move(array));
}

// pydicom's reading of one attribute of a file: repr of its value.
std::string pydicomValue(const fs::path& file, const std::string& keywordOrTag) {
  const std::string script =
      "import sys, pydicom\n"
      "ds = pydicom.dcmread(sys.argv[1])\n"
      "k = sys.argv[2]\n"
      "e = ds[int(k.replace(chr(44), str()), 16)] if chr(44) in k else ds.data_element(k)\n"
      "v = e.value\n"
      "print(repr(list(v) if isinstance(v, (list, pydicom.multival.MultiValue)) else v))\n";
  return run("/usr/bin/python3 -c '" + script + "' " + quote(file) + " '" + keywordOrTag + "' 2>&1");
}

class Fidelity : public FileObjectTest {
 protected:
  Variable clone(const std::string& name = "clone.dcm", const fs::path& source = kMr) {
    return make(tmp(name).string(), {kw("CLONE", source.string())});
  }
  std::string attempt(const std::function<void()>& action) {
    try {
      action();
      return "";
    } catch (const zyl::HostError& e) {
      return e.what();
    }
  }
  std::string setValue(Variable& f, const std::string& tag, const std::string& vr, Variable value) {
    return attempt([&] { call(f, "SetValue", {Variable::ofString(tag), Variable::ofString(vr), std::move(value)}); });
  }
  static std::string dump(const fs::path& p) { return run("dcmdump -q +L " + quote(p) + " 2>&1"); }
};

// ---- item 9: integer ranges -------------------------------------------------

TEST_F(Fidelity, IntegersOutsideTheirVrAreRefusedAndLeaveTheAttributeAsItWas) {
  struct Case {
    const char* vr;
    Variable value;
    const char* shown;
    const char* range;
  };
  const std::vector<Case> refused = {
      {"US", Variable::ofInt32(70000), "70000", "0..65535"},
      {"US", Variable::ofInt32(-1), "-1", "0..65535"},
      {"SS", Variable::ofInt32(40000), "40000", "-32768..32767"},
      {"SS", Variable::ofFloat64(-32769), "-32769", "-32768..32767"},
      {"UL", Variable::ofInt64(-1), "-1", "0..4294967295"},
      {"UL", Variable::ofInt64(4294967296LL), "4294967296", "0..4294967295"},
      {"SL", Variable::ofInt64(2147483648LL), "2147483648", "-2147483648..2147483647"},
      {"US", Variable::ofFloat64(1.5), "1.5", "0..65535"},
      {"UV", Variable::ofInt64(-5), "-5", "0..9223372036854775807"},
  };
  Variable f = clone();
  const fs::path file = tmp("clone.dcm");
  for (const Case& c : refused) {
    // Each into an attribute that holds a value, which must survive the refusal.
    const std::string tag = "0019,1000";  // not in MR_small
    ASSERT_EQ(setValue(f, "0028,0010", "US", Variable::ofInt32(64)), "");
    const std::string error = setValue(f, "0028,0010", c.vr, c.value);
    EXPECT_TRUE(contains(error, "0028,0010") && contains(error, c.shown) && contains(error, c.range))
        << c.vr << " " << c.shown << ": " << error;
    EXPECT_EQ(call(f, "GetValue", "0028,0010").scalar().u16, 64u) << c.vr << " " << c.shown;
    (void)tag;
  }
  // The same rule in a private block.
  const std::string privateError = attempt([&] {
    call(f, "SetPrivateValue",
         {Variable::ofString("ACME"), Variable::ofString("0019"), Variable::ofString("01"), Variable::ofString("US"),
          Variable::ofInt32(70000)});
  });
  EXPECT_TRUE(contains(privateError, "70000") && contains(privateError, "0..65535")) << privateError;
  // The edges of each range are written exactly.
  ASSERT_EQ(setValue(f, "0018,9219", "SS", vectorOf<int32_t>(Type::Int32, {-32768, 32767})), "");
  ASSERT_EQ(setValue(f, "0028,0010", "US", Variable::ofUInt32(65535)), "");
  ASSERT_EQ(setValue(f, "0018,1310", "US", vectorOf<int64_t>(Type::Int64, {0, 65535, 1, 2})), "");
  ASSERT_EQ(setValue(f, "0018,6020", "SL", Variable::ofInt64(-2147483648LL)), "");
  ASSERT_EQ(setValue(f, "0028,9001", "UL", Variable::ofInt64(4294967295LL)), "");
  call(f, "Commit");
  EXPECT_EQ(pydicomValue(file, "0028,0010"), "65535\n");
  EXPECT_EQ(pydicomValue(file, "0018,9219"), "[-32768, 32767]\n");
  EXPECT_EQ(pydicomValue(file, "0018,1310"), "[0, 65535, 1, 2]\n");
  EXPECT_EQ(pydicomValue(file, "0018,6020"), "-2147483648\n");
  EXPECT_EQ(pydicomValue(file, "0028,9001"), "4294967295\n");
  EXPECT_FALSE(contains(dump(file), "(0019,"));
}

TEST_F(Fidelity, SetPropertyRefusesOutOfRangeValuesBeforeWritingAnyKeyword) {
  const fs::path file = tmp("clone.dcm");
  Variable f = clone();
  for (const auto& [keyword, value] :
       std::vector<std::pair<const char*, int32_t>>{{"ROWS", 70000}, {"COLUMNS", -1}, {"BITS_ALLOCATED", -16}}) {
    const std::string error = attempt([&] {
      call(f, "SetProperty", std::vector<Variable>{}, {kw(keyword, value), kw("MODALITY", std::string("OT"))});
    });
    EXPECT_TRUE(contains(error, std::to_string(value)) && contains(error, "0..65535")) << keyword << ": " << error;
  }
  call(f, "Commit");
  // pydicom sees the source's geometry and modality: nothing was written.
  EXPECT_EQ(pydicomValue(file, "Rows"), "64\n");
  EXPECT_EQ(pydicomValue(file, "Columns"), "64\n");
  EXPECT_EQ(pydicomValue(file, "BitsAllocated"), "16\n");
  EXPECT_EQ(pydicomValue(file, "Modality"), "'MR'\n");
}

// ---- item 10: Pixel Representation before the bounds -----------------------

TEST_F(Fidelity, PixelRepresentationGivenWithTheBoundsDecidesTheirVr) {
  const fs::path file = tmp("clone.dcm");
  Variable f = clone();
  call(f, "SetValue", {Variable::ofString("0028,0103"), Variable::ofString("US"), Variable::ofInt32(0)});
  call(f, "SetProperty", std::vector<Variable>{},
       {kw("PIXEL_MIN", -100), kw("PIXEL_MAX", 200), kw("PIXEL_REPRESENTATION", 1)});
  call(f, "Commit");
  const std::string d = dump(file);
  EXPECT_TRUE(contains(d, "(0028,0106) SS -100")) << d;
  EXPECT_TRUE(contains(d, "(0028,0107) SS 200")) << d;
  EXPECT_EQ(pydicomValue(file, "SmallestImagePixelValue"), "-100\n");
}

// ---- item 11: OB, OW and pixels from wider arrays ---------------------------

TEST_F(Fidelity, BinaryValuesFromWiderArraysAreConvertedElementByElementOrRefused) {
  const fs::path file = tmp("clone.dcm");
  Variable f = clone();
  ASSERT_EQ(setValue(f, "0029,0010", "LO", Variable::ofString("ACME")), "");
  ASSERT_EQ(setValue(f, "0009,0010", "LO", Variable::ofString("ACME")), "");
  EXPECT_EQ(setValue(f, "0028,1201", "OW", vectorOf<int32_t>(Type::Int32, {1, 2, 65535})), "");
  EXPECT_EQ(setValue(f, "0028,1202", "OW", vectorOf<uint8_t>(Type::Byte, {7, 8})), "");
  const std::string error = setValue(f, "0028,1203", "OW", vectorOf<int32_t>(Type::Int32, {1, 70000}));
  EXPECT_TRUE(contains(error, "70000") && contains(error, "0028,1203")) << error;
  EXPECT_TRUE(contains(setValue(f, "0028,1203", "OW", vectorOf<double>(Type::Float64, {0.5})), "0.5"));
  // OB from int32 [1, 2, 3] is the bytes 1, 2, 3 (pydicom reads the padded value).
  const std::string privateError = attempt([&] {
    call(f, "SetPrivateValue",
         {Variable::ofString("ACME"), Variable::ofString("0009"), Variable::ofString("01"), Variable::ofString("OB"),
          vectorOf<int32_t>(Type::Int32, {1, 2, 3})});
  });
  EXPECT_EQ(privateError, "");
  EXPECT_TRUE(contains(attempt([&] {
                         call(f, "SetPrivateValue",
                              {Variable::ofString("ACME"), Variable::ofString("0009"), Variable::ofString("02"),
                               Variable::ofString("OB"), vectorOf<int16_t>(Type::Int16, {-1})});
                       }),
                       "0..255"));
  call(f, "Commit");
  EXPECT_EQ(pydicomValue(file, "0028,1201"), "b'\\x01\\x00\\x02\\x00\\xff\\xff'\n");
  EXPECT_EQ(pydicomValue(file, "0028,1202"), "b'\\x07\\x00\\x08\\x00'\n");
  EXPECT_EQ(pydicomValue(file, "0009,1001"), "b'\\x01\\x02\\x03\\x00'\n");
}

TEST_F(Fidelity, PixelArraysOfAnotherTypeAreConvertedWhenEveryValueFits) {
  const fs::path file = tmp("rgb.dcm");
  Variable f = clone("rgb.dcm", kRgb);
  const Variable original = call(f, "GetPixelData", std::vector<Variable>{}, {kw("ORDER", 1)});
  ASSERT_EQ(original.array()->elemType(), Type::Byte);
  const int64_t n = original.array()->count();
  // 255 - p computed in 32 bits, as a script's arithmetic gives it.
  std::vector<int32_t> inverted(static_cast<size_t>(n));
  for (int64_t i = 0; i < n; ++i) inverted[static_cast<size_t>(i)] = 255 - original.array()->as<uint8_t>()[i];
  auto array = std::make_unique<zyl::Array>(
      Type::Int32, std::vector<int64_t>(original.array()->dims(), original.array()->dims() + original.array()->ndims()),
      true);
  std::memcpy(array->data(), inverted.data(), inverted.size() * 4);
  call(f, "SetPixelData", {Variable::ofArray(std::move(array))}, {kw("ORDER", 1)});
  call(f, "Commit");
  const std::string script =
      "import sys, pydicom, numpy\n"
      "a = pydicom.dcmread(sys.argv[1]).pixel_array.astype(int)\n"
      "b = pydicom.dcmread(sys.argv[2]).pixel_array.astype(int)\n"
      "print(bool((a == 255 - b).all()))\n";
  EXPECT_EQ(run("/usr/bin/python3 -c '" + script + "' " + quote(file) + " " + quote(kRgb) + " 2>&1"), "True\n");

  // A value no byte holds is refused.
  inverted[0] = 256;
  auto wide = std::make_unique<zyl::Array>(Type::Int32, std::vector<int64_t>{n}, true);
  std::memcpy(wide->data(), inverted.data(), inverted.size() * 4);
  const std::string error =
      attempt([&] { call(f, "SetPixelData", {Variable::ofArray(std::move(wide))}, {kw("ORDER", 1)}); });
  EXPECT_TRUE(contains(error, "256") && contains(error, "0..255")) << error;
}

// ---- item 12: DS and IS lengths ---------------------------------------------

TEST_F(Fidelity, DecimalAndIntegerStringsFromNumbersKeepTheirLengths) {
  const fs::path file = tmp("clone.dcm");
  Variable f = clone();
  ASSERT_EQ(setValue(f, "0028,0030", "DS", vectorOf<double>(Type::Float64, {1.0 / 3.0, 0.1})), "");
  ASSERT_EQ(setValue(f, "0018,0050", "DS", Variable::ofFloat32(0.1f)), "");
  ASSERT_EQ(setValue(f, "0018,0088", "DS", Variable::ofFloat64(-1.2345678901234567e-300)), "");
  ASSERT_EQ(setValue(f, "0020,0013", "IS", Variable::ofInt64(-2147483648LL)), "");
  EXPECT_TRUE(contains(setValue(f, "0020,0012", "IS", Variable::ofInt64(3000000000LL)), "3000000000"));
  EXPECT_TRUE(contains(setValue(f, "0020,0012", "IS", Variable::ofFloat64(2.5)), "2.5"));
  call(f, "Commit");
  // pydicom's strict DS/IS reading (enforce_valid_values) accepts every value.
  const std::string script =
      "import sys, pydicom\n"
      "pydicom.config.settings.reading_validation_mode = pydicom.config.RAISE\n"
      "ds = pydicom.dcmread(sys.argv[1])\n"
      "print(ds.PixelSpacing, ds.SliceThickness, ds.SpacingBetweenSlices, ds.InstanceNumber)\n"
      "print(abs(float(ds.PixelSpacing[0]) - 1/3) < 1e-14, repr(ds.SpacingBetweenSlices.original_string))\n";
  EXPECT_EQ(run("/usr/bin/python3 -c '" + script + "' " + quote(file) + " 2>&1"),
            "[0.33333333333333, 0.1] 0.1 -1.23456789e-300 -2147483648\nTrue '-1.23456789e-300'\n");
}

// ---- item 13: the lossy flag without Image Type -----------------------------

TEST_F(Fidelity, LossyCompressionSetsItsFlagAlsoWithoutImageType) {
  const fs::path file = tmp("rgb.dcm");
  Variable f = clone("rgb.dcm", kRgb);
  call(f, "SetValue", {Variable::ofString("0008,0008"), Variable::ofString("CS"), Variable::ofString("")},
       {kw("REMOVE", 1)});
  call(f, "ChangeTransferSyntax", {Variable::ofString("1.2.840.10008.1.2.4.50")});
  EXPECT_EQ(pydicomValue(file, "LossyImageCompression"), "'01'\n");
  EXPECT_EQ(pydicomValue(file, "LossyImageCompressionMethod"), "'ISO_10918_1'\n");
}

// ---- item 15: generated UIDs ------------------------------------------------

TEST_F(Fidelity, GeneratedUidsAreTheDecimalFormOfARandomUuid) {
  const fs::path created = tmp("new.dcm");
  Variable a = make(created.string(), {kw("CREATE", 1), kw("SOP_CLASS", std::string("STANDARD_CT_IMAGE"))});
  Variable b = clone("clone.dcm");
  call(a, "SetValue", {Variable::ofString("0010,0010"), Variable::ofString("PN"), Variable::ofString("A")});
  call(a, "Commit");
  call(b, "Commit");
  const std::string script =
      "import sys, uuid, pydicom\n"
      "for name in sys.argv[1:]:\n"
      "    ds = pydicom.dcmread(name)\n"
      "    uid = ds.SOPInstanceUID\n"
      "    assert uid == ds.file_meta.MediaStorageSOPInstanceUID, name\n"
      "    assert uid.startswith(\"2.25.\") and uid[5:].isdigit() and (uid[5] != \"0\" or len(uid) == 6), uid\n"
      "    u = uuid.UUID(int=int(uid[5:]))\n"
      "    print(u.version, u.variant == uuid.RFC_4122, len(uid) <= 64)\n";
  EXPECT_EQ(run("/usr/bin/python3 -c '" + script + "' " + quote(created) + " " + quote(tmp("clone.dcm")) + " 2>&1"),
            "4 True True\n4 True True\n");
}

// ---- item 14: CopyTags with one creator of two blocks -----------------------

TEST_F(Fidelity, CopyTagsRefusesACreatorOfTwoBlocksBeforeCopyingAnything) {
  const fs::path source = fromDump("two_blocks.dcm",
                                   "(0008,0016) UI 1.2.840.10008.5.1.4.1.1.7\n"
                                   "(0008,0018) UI 1.2.3.4\n"
                                   "(0009,0010) LO [ACME]\n"
                                   "(0009,0011) LO [ACME]\n"
                                   "(0009,1001) LO [first]\n"
                                   "(0009,1101) LO [second]\n"
                                   "(0010,0010) PN [Doe^John]\n");
  // Both blocks are there for the references.
  EXPECT_EQ(pydicomValue(source, "0009,1101"), "'second'\n");
  Variable from = make(source.string());
  Variable to = make(tmp("to.dcm").string(), {kw("CREATE", 1), kw("SOP_CLASS", std::string("STANDARD_CT_IMAGE"))});
  const std::string error = attempt([&] {
    call(from, "CopyTags", {to, Variable::ofString("0008,0000"), Variable::ofString("0011,0000")});
  });
  EXPECT_TRUE(contains(error, "0009,0011") && contains(error, "ACME")) << error;
  EXPECT_EQ(call(to, "QueryValue", "0009,0010").scalar().i16, 0);
  // A range that leaves the group out copies.
  call(from, "CopyTags", {to, Variable::ofString("0010,0000"), Variable::ofString("0011,0000")});
  EXPECT_EQ(getString(to, "0010,0010"), "Doe^John");
}

// ---- item 7: item ids of other objects ----------------------------------------

TEST_F(Fidelity, AnItemIdOfAnotherOrADestroyedObjectIsRefused) {
  const fs::path withSequence = kCorpus / "rtplan.dcm";
  // `a` is destroyed by the test itself.
  Variable name = Variable::ofString(withSequence.string());
  Variable a = rt().newObject("ZYLFFORVO", {&name}, {});
  Variable b = make(withSequence.string());
  const auto firstItem = [&](Variable& f) {
    const Variable items = call(f, "GetValue", "300A,00B0");  // Beam Sequence
    return items.isArray() ? items.array()->as<int32_t>()[0] : items.scalar().i32;
  };
  const int32_t itemOfA = firstItem(a);
  EXPECT_EQ(getString(a, "300A,00C2", {kw("SEQID", itemOfA)}), "Field 1");
  const std::string error = callError(b, "GetValue", "300A,00C2", {kw("SEQID", itemOfA)});
  EXPECT_TRUE(contains(error, "SEQID")) << error;
  EXPECT_TRUE(contains(attempt([&] {
                         call(b, "SetValue",
                              {Variable::ofString("300A,00C2"), Variable::ofString("LO"), Variable::ofString("x")},
                              {kw("SEQID", itemOfA)});
                       }),
                       "SEQID"));
  EXPECT_EQ(getString(a, "300A,00C2", {kw("SEQID", itemOfA)}), "Field 1");
  // b's own item ids work; once a is destroyed its ids are refused.
  const int32_t itemOfB = firstItem(b);
  EXPECT_EQ(getString(b, "300A,00C2", {kw("SEQID", itemOfB)}), "Field 1");
  rt().destroyObject(a);
  if (itemOfA != itemOfB) {
    EXPECT_TRUE(contains(callError(b, "GetValue", "300A,00C2", {kw("SEQID", itemOfA)}), "SEQID"));
  }
}

// ---- item 6: UC, UR, OD, OL, OV, SV and UV ------------------------------------

const char* const kNewerVrs =
    "(0008,0016) UI 1.2.840.10008.5.1.4.1.1.7\n"
    "(0008,0018) UI 1.2.3.4.5\n"
    "(0008,0119) UC [A long code value beyond sixty-four characters, as UC allows it to be]\n"
    "(0008,1190) UR [http://example.org/wado?a=1]\n"
    "(0009,0010) LO [ACME]\n"
    "(0009,1001) OD 1.5\\-2.25\n"
    "(0009,1002) OL 1\\4294967295\n"
    "(0009,1003) OV 1\\18446744073709551615\n"
    "(0009,1004) SV -9223372036854775808\\5\n"
    "(0009,1005) UV 0\\9223372036854775807\n";

TEST_F(Fidelity, NewerVrsAreReadAsPydicomReadsThem) {
  const fs::path file = fromDump("vrs.dcm", kNewerVrs);
  Variable f = make(file.string());
  EXPECT_EQ(call(f, "GetVR", "0008,0119").text(), std::string("UC"));
  EXPECT_EQ(getString(f, "0008,0119"), "A long code value beyond sixty-four characters, as UC allows it to be");
  EXPECT_EQ(call(f, "GetVR", "0008,1190").text(), std::string("UR"));
  EXPECT_EQ(getString(f, "0008,1190"), "http://example.org/wado?a=1");
  const auto privateValue = [&](const char* element) {
    return call(f, "GetPrivateValue",
                {Variable::ofString("ACME"), Variable::ofString("0009"), Variable::ofString(element)});
  };
  const auto privateVr = [&](const char* element) {
    return std::string(
        call(f, "GetPrivateVR", {Variable::ofString("ACME"), Variable::ofString("0009"), Variable::ofString(element)})
            .text());
  };
  const Variable od = privateValue("01");
  ASSERT_EQ(od.array()->elemType(), Type::Float64);
  EXPECT_EQ(od.array()->as<double>()[0], 1.5);
  EXPECT_EQ(od.array()->as<double>()[1], -2.25);
  const Variable ol = privateValue("02");
  ASSERT_EQ(ol.array()->elemType(), Type::UInt32);
  EXPECT_EQ(ol.array()->as<uint32_t>()[1], 4294967295u);
  const Variable ov = privateValue("03");
  ASSERT_EQ(ov.array()->elemType(), Type::UInt64);
  EXPECT_EQ(ov.array()->as<uint64_t>()[1], 18446744073709551615ull);
  const Variable sv = privateValue("04");
  ASSERT_EQ(sv.array()->elemType(), Type::Int64);
  EXPECT_EQ(sv.array()->as<int64_t>()[0], INT64_MIN);
  const Variable uv = privateValue("05");
  ASSERT_EQ(uv.array()->elemType(), Type::UInt64);
  EXPECT_EQ(uv.array()->as<uint64_t>()[1], 9223372036854775807ull);
  EXPECT_EQ(privateVr("01") + privateVr("02") + privateVr("03") + privateVr("04") + privateVr("05"), "ODOLOVSVUV");
  // The references agree with the values above.
  EXPECT_EQ(pydicomValue(file, "0009,1004"), "[-9223372036854775808, 5]\n");
  EXPECT_EQ(pydicomValue(file, "0009,1003"),
            "b'\\x01\\x00\\x00\\x00\\x00\\x00\\x00\\x00\\xff\\xff\\xff\\xff\\xff\\xff\\xff\\xff'\n");
}

TEST_F(Fidelity, NewerVrsAreWrittenAsPydicomReadsThem) {
  const fs::path file = tmp("clone.dcm");
  Variable f = clone();
  ASSERT_EQ(setValue(f, "0008,0119", "UC",
                     Variable::ofString("Code value of seventy characters, which no LO or SH could hold, UC")),
            "");
  ASSERT_EQ(setValue(f, "0008,1190", "UR", Variable::ofString("http://example.org/wado?a=1")), "");
  const auto setPrivate = [&](const char* element, const char* vr, Variable value) {
    call(f, "SetPrivateValue",
         {Variable::ofString("ACME"), Variable::ofString("0009"), Variable::ofString(element), Variable::ofString(vr),
          std::move(value)});
  };
  setPrivate("01", "OD", vectorOf<double>(Type::Float64, {1.5, -2.25}));
  setPrivate("02", "OL", vectorOf<uint32_t>(Type::UInt32, {1, 4294967295u}));
  setPrivate("03", "OV", vectorOf<int32_t>(Type::Int32, {1, -1}));
  setPrivate("04", "SV", vectorOf<int64_t>(Type::Int64, {INT64_MIN, 5}));
  setPrivate("05", "UV", vectorOf<uint64_t>(Type::UInt64, {0, 9223372036854775807ull}));
  call(f, "Commit");
  const std::string script =
      "import sys, struct, pydicom\n"
      "ds = pydicom.dcmread(sys.argv[1])\n"
      "p = lambda e: ds[0x00091000 | e]\n"
      "print(ds[0x00080119].VR, ds.LongCodeValue)\n"
      "print(ds[0x00081190].VR, ds.RetrieveURL)\n"
      "print(struct.unpack(\"<2d\", p(1).value), struct.unpack(\"<2I\", p(2).value), struct.unpack(\"<2q\", "
      "p(3).value))\n"
      "print(p(4).value, p(5).value)\n";
  EXPECT_EQ(run("/usr/bin/python3 -c '" + script + "' " + quote(file) + " 2>&1"),
            "UC Code value of seventy characters, which no LO or SH could hold, UC\n"
            "UR http://example.org/wado?a=1\n"
            "(1.5, -2.25) (1, 4294967295) (1, -1)\n"
            "[-9223372036854775808, 5] [0, 9223372036854775807]\n");
}

// ---- items 3, 4 and 8: packed, subsampled and 32-bit pixels --------------------

class PixelLayouts : public Fidelity {
 protected:
  // pydicom's pixel array of `file` as little endian bytes, frames in order.
  std::vector<unsigned char> pydicomPixels(const fs::path& file) {
    const fs::path out = tmp("reference.raw");
    const std::string script =
        "import sys, pydicom\n"
        "a = pydicom.dcmread(sys.argv[1]).pixel_array\n"
        "open(sys.argv[2], \"wb\").write(a.astype(a.dtype.newbyteorder(\"<\")).tobytes())\n";
    int status = 0;
    const std::string said =
        run("/usr/bin/python3 -c '" + script + "' " + quote(file) + " " + quote(out) + " 2>&1", &status);
    EXPECT_EQ(status, 0) << said;
    return readBytes(out);
  }
  static std::vector<unsigned char> bytesOf(const Variable& v) {
    const auto* data = reinterpret_cast<const unsigned char*>(v.array()->data());
    return std::vector<unsigned char>(data, data + v.array()->byteSize());
  }
  std::vector<unsigned char> ours(Variable& f, std::vector<Kw> kws = {}) {
    kws.push_back(kw("ORDER", 1));
    return bytesOf(call(f, "GetPixelData", std::vector<Variable>{}, std::move(kws)));
  }
  static unsigned long pixelLength(const fs::path& file) {
    const std::string d = run("dcmdump -q +P 7fe0,0010 " + quote(file) + " 2>&1");
    const size_t hash = d.find('#');
    return hash == std::string::npos ? 0 : std::stoul(d.substr(hash + 1));
  }
};

TEST_F(PixelLayouts, EachLayoutReadsAsPydicomReadsItAndKeepsItsBytesThroughSyntaxChanges) {
  struct Case {
    const char* file;
    Type type;
    const char* target;  // a native syntax to change to
  };
  const Case cases[] = {
      {"liver_1frame.dcm", Type::Byte, "1.2.840.10008.1.2"},                    // 1 bit, packed
      {"liver_expb_1frame.dcm", Type::Byte, "1.2.840.10008.1.2.1"},             // 1 bit, big endian
      {"SC_ybr_full_422_uncompressed.dcm", Type::Byte, "1.2.840.10008.1.2.2"},  // two samples a pixel
      {"rtdose_1frame.dcm", Type::UInt32, "1.2.840.10008.1.2.2"},               // 32 bits
      {"rtdose_expb.dcm", Type::UInt32, "1.2.840.10008.1.2.1"},                 // 32 bits, big endian, 15 frames
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.file);
    const fs::path source = kCorpus / c.file;
    Variable f = make(source.string());
    const Variable all = call(f, "GetPixelData", std::vector<Variable>{}, {kw("ORDER", 1)});
    EXPECT_EQ(all.array()->elemType(), c.type);
    const std::vector<unsigned char> reference = pydicomPixels(source);
    EXPECT_TRUE(bytesOf(all) == reference) << bytesOf(all).size() << " bytes, pydicom " << reference.size();
    // The last frame alone is the last part of the whole.
    const int32_t last =
        call(f, "QueryValue", "0028,0008").scalar().i16 == 2 ? std::stoi(getString(f, "0028,0008")) - 1 : 0;
    const std::vector<unsigned char> lastFrame = ours(f, {kw("FRAME", last)});
    ASSERT_LE(lastFrame.size(), reference.size());
    EXPECT_TRUE(std::equal(lastFrame.begin(), lastFrame.end(), reference.end() - static_cast<long>(lastFrame.size())));
    // A syntax change between native syntaxes keeps the value's length and every pixel.
    const fs::path changed = tmp(std::string("changed_") + c.file);
    Variable clone = make(changed.string(), {kw("CLONE", source.string())});
    call(clone, "ChangeTransferSyntax", {Variable::ofString(c.target)});
    EXPECT_EQ(pixelLength(changed), pixelLength(source));
    EXPECT_TRUE(pydicomPixels(changed) == reference);
  }
}

TEST_F(PixelLayouts, PackedAndSubsampledFramesAreWrittenBackPacked) {
  // A 1-bit image written back from its one-byte-per-pixel array.
  const fs::path liver = tmp("liver.dcm");
  Variable f = make(liver.string(), {kw("CLONE", (kCorpus / "liver_1frame.dcm").string())});
  const Variable pixels = call(f, "GetPixelData", std::vector<Variable>{}, {kw("ORDER", 1)});
  std::vector<unsigned char> inverted = PixelLayouts::bytesOf(pixels);
  for (unsigned char& p : inverted) p = static_cast<unsigned char>(1 - p);
  auto array =
      std::make_unique<zyl::Array>(Type::Byte, std::vector<int64_t>{static_cast<int64_t>(inverted.size())}, true);
  std::memcpy(array->data(), inverted.data(), inverted.size());
  call(f, "SetPixelData", {Variable::ofArray(std::move(array))}, {kw("ORDER", 1)});
  auto two =
      std::make_unique<zyl::Array>(Type::Byte, std::vector<int64_t>{static_cast<int64_t>(inverted.size())}, true);
  two->as<uint8_t>()[0] = 2;
  EXPECT_TRUE(contains(attempt([&] { call(f, "SetPixelData", {Variable::ofArray(std::move(two))}, {kw("ORDER", 1)}); }),
                       "a sample of a 1-bit image is 2"));
  call(f, "Commit");
  EXPECT_EQ(pixelLength(liver), pixelLength(kCorpus / "liver_1frame.dcm"));
  EXPECT_TRUE(pydicomPixels(liver) == inverted);

  // YBR_FULL_422 frames keep two samples a pixel; pixels of a pair share Cb and Cr.
  const fs::path ybr = tmp("ybr.dcm");
  Variable g = make(ybr.string(), {kw("CLONE", (kCorpus / "SC_ybr_full_422_uncompressed.dcm").string())});
  std::vector<unsigned char> samples = bytesOf(call(g, "GetPixelData", std::vector<Variable>{}, {kw("ORDER", 1)}));
  for (size_t i = 0; i < samples.size(); i += 3) samples[i] = static_cast<unsigned char>(255 - samples[i]);  // Y only
  auto ybrArray =
      std::make_unique<zyl::Array>(Type::Byte, std::vector<int64_t>{static_cast<int64_t>(samples.size())}, true);
  std::memcpy(ybrArray->data(), samples.data(), samples.size());
  call(g, "SetPixelData", {Variable::ofArray(std::move(ybrArray))}, {kw("ORDER", 1)});
  call(g, "Commit");
  EXPECT_EQ(pixelLength(ybr), pixelLength(kCorpus / "SC_ybr_full_422_uncompressed.dcm"));
  EXPECT_TRUE(pydicomPixels(ybr) == samples);
}

// ---- item 2: data sets without preamble and meta group ---------------------------

TEST_F(Fidelity, BareDataSetsOpenInTheFirstSyntaxThatGivesValidUids) {
  const std::string script =
      "import sys, pydicom\n"
      "ds = pydicom.dcmread(sys.argv[1], force=True)\n"
      "print(ds.SOPClassUID, ds.SOPInstanceUID, ds.is_little_endian, ds.is_implicit_VR)\n";
  struct Case {
    const char* file;
    const char* syntax;
  };
  for (const Case& c :
       {Case{"ExplVR_LitEndNoMeta.dcm", "1.2.840.10008.1.2.1"}, Case{"ExplVR_BigEndNoMeta.dcm", "1.2.840.10008.1.2.2"},
        Case{"rtstruct.dcm", "1.2.840.10008.1.2"}}) {
    const fs::path file = kCorpus / c.file;
    Variable f = make(file.string());
    const std::string theirs = run("/usr/bin/python3 -c '" + script + "' " + quote(file) + " 2>&1");
    const size_t second = theirs.find(' ', theirs.find(' ') + 1);
    EXPECT_EQ(getString(f, "0008,0016") + " " + getString(f, "0008,0018"), theirs.substr(0, second)) << c.file;
    EXPECT_EQ(getString(f, "0002,0010"), c.syntax) << c.file;
  }
}

// ---- item 5: the colour space of decoded YCbCr JPEG ------------------------------

TEST_F(PixelLayouts, DecodedYcbcrJpegReportsTheColourSpaceGetPixelDataGives) {
  const fs::path source = kCorpus / "SC_rgb_jpeg_dcmtk.dcm";  // YBR_FULL, baseline
  // DCMTK's decoder, the reference for the decoded pixels and their colour space.
  const fs::path decoded = tmp("decoded.dcm");
  ASSERT_EQ(std::system(("dcmdjpeg " + quote(source) + " " + quote(decoded)).c_str()), 0);
  EXPECT_EQ(pydicomValue(decoded, "PhotometricInterpretation"), "'RGB'\n");
  Variable f = make(source.string());
  EXPECT_EQ(getString(f, "0028,0004"), "YBR_FULL");
  EXPECT_TRUE(ours(f) == pydicomPixels(decoded));
  EXPECT_EQ(getString(f, "0028,0004"), "RGB");
  // The file keeps what its codestream is: a clone committed after the read says YBR_FULL.
  const fs::path copy = tmp("copy.dcm");
  Variable g = make(copy.string(), {kw("CLONE", source.string())});
  ours(g);
  EXPECT_EQ(getString(g, "0028,0004"), "RGB");
  call(g, "Commit");
  EXPECT_EQ(pydicomValue(copy, "PhotometricInterpretation"), "'YBR_FULL'\n");
}

}  // namespace
}  // namespace fotest

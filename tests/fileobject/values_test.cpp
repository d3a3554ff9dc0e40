// Reading values: tag strings, every VR into its host type, sequences through
// SEQID, lengths and counts, pixel data (raw, decompressed, refused), and the
// pydicom corpus compared with what dcmdump shows.
#include <cmath>
#include <cstring>
#include <map>
#include <memory>
#include <regex>
#include <sstream>

#include "dump_tree.h"
#include "fileobject_support.h"

namespace fotest {
namespace {

class Values : public FileObjectTest {
 protected:
  // An object over a file holding one attribute of every VR the table maps.
  Variable everyVr() {
    const fs::path raw = tmp("ow.raw");
    writeBytes(raw, {0x01, 0x00, 0xff, 0xff, 0x34, 0x12, 0x00, 0x80});
    const fs::path f =
        fromDump("vrs.dcm",
                 "(0008,0016) UI [1.2.840.10008.5.1.4.1.1.7]\n(0008,0018) UI [1.2.3.4.5]\n"
                 "(0008,0020) DA [20240131]\n(0008,002a) DT [20240131123456.5]\n(0008,0030) TM [123456]\n"
                 "(0008,0050) SH [ACC1]\n(0008,0054) AE [STORE_AE\\OTHER_AE]\n(0008,0060) CS [OT]\n"
                 "(0008,0081) ST [Street 1]\n(0008,030e) UT [free text value]\n"
                 "(0008,1140) SQ (Sequence with undefined length)\n"
                 "(fffe,e000) na (Item)\n(0008,1150) UI [1.2.3.1]\n(0008,1155) UI [9.8.1]\n(fffe,e00d) na\n"
                 "(fffe,e000) na (Item)\n(0008,1150) UI [1.2.3.2]\n(0008,1155) UI [9.8.2]\n"
                 "(0008,9215) SQ (Sequence with undefined length)\n(fffe,e000) na (Item)\n(0008,0100) SH [NESTED]\n"
                 "(fffe,e00d) na\n(fffe,e0dd) na\n(fffe,e00d) na\n"
                 "(fffe,e000) na (Item)\n(0008,1150) UI [1.2.3.3]\n(0008,1155) UI [9.8.3]\n(fffe,e00d) na\n"
                 "(fffe,e0dd) na\n"
                 "(0008,1161) UL 7\\4000000000\n(0010,0010) PN [Doe^Jane]\n(0010,0020) LO [ID42]\n"
                 "(0010,1010) AS [042Y]\n(0010,4000) LT [long text]\n(0010,9431) FL 2.5\n"
                 "(0011,0010) LO [ACME]\n(0011,1001) UN 0a\\0b\\0c\\0d\n"
                 "(0018,1638) OF 1.5\\-2\n(0018,6020) SL -70000\n(0018,9089) FD 0.5\\1.25\\-2\n"
                 "(0018,9219) SS -5\n(0020,0013) IS [7]\n(0028,0009) AT (0018,1063)\\(0018,1065)\n"
                 "(0028,0010) US 512\n(0028,0030) DS [0.5\\0.25]\n(0042,0011) OB 01\\02\\03\\04\n"
                 "(7fe0,0010) OW =" +
                     raw.string() + "\n");
    return make(f.string());
  }
};

TEST_F(Values, TagStringsAreNineCharactersOfWhichTheHexDigitsCount) {
  Variable f = make((kCorpus / "CT_small.dcm").string());
  const Variable rows = call(f, "GetValue", "0028,0010");
  EXPECT_EQ(call(f, "GetValue", "0028;0010").scalar().u16, rows.scalar().u16);
  EXPECT_EQ(call(f, "GetValue", "0028 0010").scalar().u16, rows.scalar().u16);
  for (const char* bad : {"00280010", "0028,001", "0028,00100", ""}) {
    try {
      call(f, "GetValue", bad);
      FAIL() << bad;
    } catch (const zyl::HostError& e) {
      EXPECT_EQ(e.code(), -6) << bad;
      EXPECT_TRUE(contains(e.what(), "Error: Invalid DicomTag param...must be a string with exactly 9 chars."));
    }
  }
  EXPECT_TRUE(contains(callError(f, "GetValue", "0000,0000"), "Error: Failed to interpret DicomTag arg , 0000,0000"));
  EXPECT_TRUE(contains(callError(f, "GetValue", "xxxx,xxxx"), "Error: Failed to interpret DicomTag arg "));
  // A hexadecimal digit in place of the comma would make nine digits: refused.
  EXPECT_TRUE(contains(callError(f, "GetValue", "0028a0010"), "Error: Failed to interpret DicomTag arg "));
  // A number where a tag belongs is refused before anything else, by every tag method.
  for (const char* method : {"GetValue", "GetValueCount", "GetValueLength", "GetVR", "GetDescription", "QueryValue"}) {
    try {
      call(f, method, std::vector<Variable>{Variable::ofInt32(0x00280010)});
      FAIL() << method;
    } catch (const zyl::HostError& e) {
      EXPECT_EQ(e.code(), -6) << method;
    }
  }
}

TEST_F(Values, AbsentAndNullAttributes) {
  Variable f = make((kCorpus / "MR_small.dcm").string());
  const std::string absent = "0010,2160";  // Ethnic Group is not in the file
  EXPECT_TRUE(
      contains(callError(f, "GetValue", absent), "Error: Dicom Tag is not in dicom file (tag/err), 0010,2160, "));
  EXPECT_TRUE(contains(callError(f, "GetValueCount", absent), "Error: Failed to get value count for , 0010,2160"));
  EXPECT_TRUE(contains(callError(f, "GetValueLength", absent), "Error: Failed to get value count for , 0010,2160"));
  EXPECT_EQ(call(f, "QueryValue", absent).scalar().i16, 0);
  // Series Date is present without a value.
  const std::string null = "0008,0021";
  EXPECT_EQ(call(f, "GetValueCount", null).scalar().u32, 0u);
  EXPECT_EQ(call(f, "GetValueLength", null).scalar().u32, 0u);
  EXPECT_EQ(call(f, "QueryValue", null).scalar().i16, 1);
  EXPECT_EQ(call(f, "QueryValue", "0010,0010").scalar().i16, 2);
  EXPECT_TRUE(contains(callError(f, "GetValue", null),
                       "Error: Dicom Tag is present but does not have a value (tag/err), 0008,0021"));
  // Names: any case; unknown names and the pixel-data switch are refused.
  EXPECT_EQ(call(f, "QueryValue", "ROWS").scalar().i16, 2);
  EXPECT_EQ(call(f, "QueryValue", "Rows").scalar().i16, 2);
  EXPECT_EQ(call(f, "QueryValue", "filename").scalar().i16, 2);
  EXPECT_EQ(call(f, "QueryValue", "0028,0010").scalar().i16, call(f, "QueryValue", "0028,0010").scalar().i16);
  EXPECT_EQ(call(f, "QueryValue", "7FE0,0010").scalar().i16, 2);
  EXPECT_TRUE(contains(callError(f, "QueryValue", "no_pixel_data"),
                       "Error: Invalid property name passed into QueryValue , no_pixel_data"));
  // A tag whose group begins with a letter is a tag, not a name.
  EXPECT_EQ(call(f, "QueryValue", "A000,0010").scalar().i16, 0);
}

TEST_F(Values, EveryVrComesBackAsItsHostType) {
  Variable f = everyVr();
  struct Expect {
    const char* tag;
    Type type;
    int64_t count;  // 1: scalar
  };
  for (const Expect& e : std::vector<Expect>{{"0008,0020", Type::String, 1},
                                             {"0008,0054", Type::String, 2},
                                             {"0028,0030", Type::String, 2},
                                             {"0018,9219", Type::Int16, 1},
                                             {"0028,0010", Type::UInt16, 1},
                                             {"0028,0009", Type::UInt32, 2},
                                             {"0008,1161", Type::UInt32, 2},
                                             {"0018,6020", Type::Int32, 1},
                                             {"0008,1140", Type::Int32, 3},
                                             {"0010,9431", Type::Float32, 1},
                                             {"0018,9089", Type::Float64, 3},
                                             {"0011,1001", Type::Byte, 4},
                                             {"0042,0011", Type::Byte, 4},
                                             {"7fe0,0010", Type::Int16, 4},
                                             {"0018,1638", Type::Float32, 2}}) {
    Variable count;
    Variable tag = Variable::ofString(e.tag);
    Variable v = rt().callMethod(f, "GetValue", {&tag}, {{"COUNT", &count}});
    EXPECT_EQ(v.type(), e.type) << e.tag;
    EXPECT_EQ(v.isArray(), e.count != 1 || e.type == Type::Byte) << e.tag;
    ASSERT_EQ(count.type(), Type::UInt32) << e.tag;
    EXPECT_EQ(count.scalar().u32, static_cast<uint32_t>(e.count)) << e.tag;
  }
  EXPECT_EQ(getString(f, "0008,002a"), "20240131123456.5");
  EXPECT_EQ(getString(f, "0008,030e"), "free text value");
  EXPECT_EQ(getString(f, "0010,1010"), "042Y");
  EXPECT_EQ(getString(f, "0010,4000"), "long text");
  EXPECT_EQ(call(f, "GetValue", "0018,9219").scalar().i16, -5);
  EXPECT_EQ(call(f, "GetValue", "0028,0010").scalar().u16, 512);
  EXPECT_EQ(call(f, "GetValue", "0018,6020").scalar().i32, -70000);
  EXPECT_FLOAT_EQ(call(f, "GetValue", "0010,9431").scalar().f32, 2.5f);
  const Variable at = call(f, "GetValue", "0028,0009");
  EXPECT_EQ(at.array()->as<uint32_t>()[0], 0x00181063u);
  EXPECT_EQ(at.array()->as<uint32_t>()[1], 0x00181065u);
  EXPECT_EQ(call(f, "GetValue", "0008,1161").array()->as<uint32_t>()[1], 4000000000u);
  const Variable fd = call(f, "GetValue", "0018,9089");
  EXPECT_DOUBLE_EQ(fd.array()->as<double>()[1], 1.25);
  EXPECT_DOUBLE_EQ(fd.array()->as<double>()[2], -2.0);
  const Variable ofv = call(f, "GetValue", "0018,1638");
  EXPECT_FLOAT_EQ(ofv.array()->as<float>()[1], -2.0f);
  const Variable un = call(f, "GetValue", "0011,1001");
  EXPECT_EQ(std::memcmp(un.array()->data(), "\x0a\x0b\x0c\x0d", 4), 0);
  const Variable ob = call(f, "GetValue", "0042,0011");
  EXPECT_EQ(std::memcmp(ob.array()->data(), "\x01\x02\x03\x04", 4), 0);
  const Variable ow = call(f, "GetValue", "7fe0,0010");
  EXPECT_EQ(ow.array()->as<int16_t>()[0], 1);
  EXPECT_EQ(ow.array()->as<int16_t>()[1], -1);
  EXPECT_EQ(ow.array()->as<int16_t>()[2], 0x1234);
  const Variable ds = call(f, "GetValue", "0028,0030");
  EXPECT_EQ(std::string(zyl::hostStringText(ds.array()->as<zyl::HostString>()[1])), "0.25");

  EXPECT_EQ(std::string(call(f, "GetVR", "0028,0009").text()), "AT");
  EXPECT_EQ(std::string(call(f, "GetVR", "0018,1638").text()), "OF");
  EXPECT_EQ(std::string(call(f, "GetVR", "0008,1140").text()), "SQ");
  EXPECT_TRUE(contains(callError(f, "GetVR", "0010,1030"), "Error: Failed to get value count for , 0010,1030"));
  EXPECT_EQ(std::string(call(f, "GetDescription", "0010,0010").text()),
            run("dcmdump -q +P 0010,0010 " + quote(tmp("vrs.dcm")) + " | sed 's/.* //' | tr -d '\\n'"));
}

TEST_F(Values, SequenceItemsAreAddressedThroughSeqId) {
  Variable f = everyVr();
  const Variable items = call(f, "GetValue", "0008,1140");
  ASSERT_EQ(items.array()->count(), 3);
  const int32_t* ids = items.array()->as<int32_t>();
  for (int i = 0; i < 3; ++i) {
    EXPECT_EQ(getString(f, "0008,1150", {kw("SEQID", ids[i])}), "1.2.3." + std::to_string(i + 1));
    EXPECT_EQ(call(f, "QueryValue", "0008,1155", {kw("SEQID", ids[i])}).scalar().i16, 2);
  }
  // An item's own sequence: nested items.
  const Variable nested = call(f, "GetValue", "0008,9215", {kw("SEQID", ids[1])});
  EXPECT_EQ(getString(f, "0008,0100", {kw("SEQID", nested.scalar().i32)}), "NESTED");
  EXPECT_EQ(call(f, "QueryValue", "0008,1150").scalar().i16, 0);  // not at the top level
  EXPECT_EQ(call(f, "GetValueLength", "0008,1140").scalar().u32,
            call(f, "GetValueLength", "0008,1140", {kw("VALUEINDEX", 1)}).scalar().u32);
}

TEST_F(Values, LengthsOfMultiValuedAttributes) {
  Variable f = everyVr();
  // "STORE_AE" and "OTHER_AE": the separator is not counted.
  EXPECT_EQ(call(f, "GetValueLength", "0008,0054").scalar().u32, 16u);
  EXPECT_EQ(call(f, "GetValueLength", "0008,0054", {kw("VALUEINDEX", 2)}).scalar().u32, 8u);
  EXPECT_EQ(call(f, "GetValueCount", "0008,0054").scalar().u32, 2u);
  EXPECT_TRUE(contains(callError(f, "GetValueLength", "0008,0054", {kw("VALUEINDEX", 3)}),
                       "Error: Failed - value index greater than value count in tag , 0008,0054"));
  EXPECT_EQ(call(f, "GetValueLength", "0042,0011").scalar().u32, 4u);
}

TEST_F(Values, NoPixelDataRefusesThePixelDataTagOnly) {
  Variable f = make((kCorpus / "CT_small.dcm").string(), {kw("NO_PIXEL_DATA", 1)});
  const std::string refused =
      "Error: File was opened with the NO_PIXEL_DATA keyword set so the pixel data is not accessible. (file), " +
      (kCorpus / "CT_small.dcm").string();
  for (const char* method : {"GetValue", "GetValueCount", "GetValueLength", "GetVR", "QueryValue"}) {
    EXPECT_TRUE(contains(callError(f, method, "7fe0,0010"), refused)) << method;
    EXPECT_TRUE(contains(callError(f, method, "7fe0,0010", {kw("SEQID", 12345)}), refused)) << method;
  }
  EXPECT_FALSE(std::string(call(f, "GetDescription", "7fe0,0010").text()).empty());
  EXPECT_EQ(call(f, "GetValue", "0028,0010").scalar().u16, 128);
}

// Pixel data as DCMTK or GDCM decode it, little endian.
std::vector<unsigned char> decoded(const fs::path& source, const fs::path& work) {
  const fs::path raw = work / "decoded.dcm";
  run("gdcmconv --raw " + quote(source) + " " + quote(raw) + " 2>&1");
  const fs::path bytes = work / "decoded.bin";
  run("dcmdump -q +W " + quote(work) + " " + quote(raw) + " > /dev/null 2>&1");
  // dcmdump +W writes the pixel data as <file>.0.raw
  for (const auto& entry : fs::directory_iterator(work))
    if (entry.path().extension() == ".raw" && contains(entry.path().filename().string(), "decoded"))
      return readBytes(entry.path());
  return {};
}

TEST_F(Values, PixelDataRawDecompressedOrRefused) {
  // Uncompressed 16-bit: one value per pixel, equal to the bytes in the file.
  Variable ct = make((kCorpus / "CT_small.dcm").string());
  const Variable pixels = call(ct, "GetValue", "7fe0,0010");
  ASSERT_EQ(pixels.type(), Type::Int16);
  ASSERT_EQ(pixels.array()->count(), 128 * 128);
  const std::vector<unsigned char> reference = decoded(kCorpus / "CT_small.dcm", tmp(""));
  ASSERT_EQ(reference.size(), pixels.array()->byteSize());
  EXPECT_EQ(std::memcmp(reference.data(), pixels.array()->data(), reference.size()), 0);

  for (const char* name : {"MR_small_jp2klossless.dcm", "JPEG2000.dcm", "SC_rgb_jpeg_dcmtk.dcm", "JPGExtended.dcm",
                           "MR_small_RLE.dcm", "SC_rgb_rle_2frame.dcm", "MR_small_jpeg_ls_lossless.dcm"}) {
    SCOPED_TRACE(name);
    const fs::path work = tmp(std::string(name) + ".d");
    fs::create_directories(work);
    Variable f = make((kCorpus / name).string());
    const Variable data = call(f, "GetValue", "7fe0,0010");
    const uint32_t rows = call(f, "GetValue", "0028,0010").scalar().u16;
    const uint32_t columns = call(f, "GetValue", "0028,0011").scalar().u16;
    const uint32_t samples = call(f, "GetValue", "0028,0002").scalar().u16;
    const uint32_t bits = call(f, "GetValue", "0028,0100").scalar().u16;
    EXPECT_EQ(data.type(), bits > 8 ? Type::Int16 : Type::Byte);
    const int64_t frames =
        call(f, "QueryValue", "0028,0008").scalar().i16 == 2 ? std::stoi(getString(f, "0028,0008")) : 1;
    // 32-bit samples come as two 16-bit words, as the native value reads.
    EXPECT_EQ(data.array()->count(), static_cast<int64_t>(rows) * columns * samples * frames * (bits > 16 ? 2 : 1));
    const std::vector<unsigned char> expected = decoded(kCorpus / name, work);
    if (contains(name, "jp2klossless") || contains(name, "rle") || contains(name, "RLE") || contains(name, "jpeg_ls")) {
      ASSERT_EQ(expected.size(), data.array()->byteSize());
      EXPECT_EQ(std::memcmp(expected.data(), data.array()->data(), expected.size()), 0);
    }
  }
  // The syntaxes without a decoder are refused with their names.
  const fs::path mpeg2 = relabelledAsMpeg2("MR_small_jp2klossless.dcm");
  Variable undecodable = make(mpeg2.string());
  EXPECT_TRUE(contains(callError(undecodable, "GetValue", "7fe0,0010"),
                       "Error: Failed to read pixel data unsupported compression format (file/syntax/syntax) , " +
                           mpeg2.string() + ", 1.2.840.10008.1.2.4.100,  Unknown Transfer Syntax"));
}

// ---- the corpus against dcmdump ----------------------------------------------------

class Corpus : public Values {
 protected:
  int compared = 0;

  void compareLevel(Variable& f, const std::vector<std::unique_ptr<DumpNode>>& nodes, int32_t seqId) {
    static const std::string kStrings = "AE AS CS DA DS DT IS LO LT PN SH ST TM UT UI";
    static const std::string kNumbers = "SS US UL SL FL FD";
    for (const auto& n : nodes) {
      const int group = std::stoi(n->tag.substr(0, 4), nullptr, 16);
      if (group % 2 == 1 || n->tag.rfind("fffe", 0) == 0) continue;
      std::string tag = n->tag;
      SCOPED_TRACE(tag + " " + n->vr + " " + n->value);
      if (n->vm == 0) {
        if (n->vr != "SQ") {
          EXPECT_EQ(call(f, "QueryValue", tag, {kw("SEQID", seqId)}).scalar().i16, 1);
        }
        continue;
      }
      if (n->vr == "SQ" && n->children.empty()) {
        EXPECT_EQ(call(f, "GetValueCount", tag, {kw("SEQID", seqId)}).scalar().u32, 0u);
        continue;
      }
      if (n->vr == "SQ") {
        Variable count;
        Variable t = Variable::ofString(tag);
        Variable seq = Variable::ofInt32(seqId);
        Variable ids = rt().callMethod(f, "GetValue", {&t}, {{"COUNT", &count}, {"SEQID", &seq}});
        ASSERT_EQ(count.scalar().u32, n->children.size());
        for (size_t i = 0; i < n->children.size(); ++i) {
          const int32_t id = ids.isArray() ? ids.array()->as<int32_t>()[i] : ids.scalar().i32;
          compareLevel(f, n->children[i]->children, id);
        }
        ++compared;
        continue;
      }
      const bool isString = contains(kStrings, n->vr);
      const bool isNumber = contains(kNumbers, n->vr);
      if (!isString && !isNumber) continue;
      EXPECT_EQ(std::string(call(f, "GetVR", tag, {kw("SEQID", seqId)}).text()), n->vr);
      Variable v = call(f, "GetValue", tag, {kw("SEQID", seqId)});
      std::vector<std::string> got;
      if (isString) {
        ASSERT_EQ(v.type(), Type::String);
        if (v.isArray()) {
          for (int64_t i = 0; i < v.array()->count(); ++i)
            got.push_back(zyl::hostStringText(v.array()->as<zyl::HostString>()[i]));
        } else {
          got.push_back(std::string(v.text()));
        }
        const std::string shown = n->value.size() >= 2 ? n->value.substr(1, n->value.size() - 2) : n->value;
        const std::vector<std::string> expected = splitValues(shown);
        ASSERT_EQ(got.size(), expected.size());
        for (size_t i = 0; i < got.size(); ++i) EXPECT_EQ(trim(got[i]), trim(expected[i]));
      } else {
        const std::vector<std::string> expected = splitValues(n->value);
        const int64_t count = v.isArray() ? v.array()->count() : 1;
        ASSERT_EQ(count, static_cast<int64_t>(expected.size()));
        for (int64_t i = 0; i < count; ++i) {
          double value = 0;
          Variable element;
          if (v.isArray()) {
            const std::byte* p = v.array()->data() + i * static_cast<int64_t>(v.array()->elemSize());
            zyl::Scalar s{};
            std::memcpy(&s, p, v.array()->elemSize());
            element.setScalar(v.type(), s);
          } else {
            element = v;
          }
          ASSERT_TRUE(zyl::numericValue(element, &value));
          const double want = std::stod(expected[static_cast<size_t>(i)]);
          EXPECT_NEAR(value, want, std::fabs(want) * 1e-5 + 1e-6);
        }
      }
      ++compared;
    }
  }
};

TEST_F(Corpus, ValuesEqualWhatDcmdumpShows) {
  for (const char* name :
       {"CT_small.dcm", "MR_small.dcm", "MR_small_implicit.dcm", "MR_small_bigendian.dcm", "ExplVR_BigEnd.dcm",
        "rtplan.dcm", "rtdose.dcm", "test-SR.dcm", "waveform_ecg.dcm", "JPEG2000.dcm", "liver_1frame.dcm",
        "SC_rgb_rle.dcm", "reportsi.dcm", "image_dfl.dcm", "priv_SQ.dcm", "SC_rgb_small_odd.dcm", "emri_small.dcm",
        "JPEG-lossy.dcm", "rtdose_expb.dcm"}) {
    const fs::path path = kCorpus / name;
    if (!fs::exists(path)) continue;
    SCOPED_TRACE(name);
    compared = 0;
    Variable f = make(path.string());
    const std::string dumpText = run("dcmdump -q -Un +L " + quote(path) + " 2>/dev/null");
    compareLevel(f, parseDump(dumpText), 0);
    EXPECT_GT(compared, 5);
  }
}

}  // namespace
}  // namespace fotest

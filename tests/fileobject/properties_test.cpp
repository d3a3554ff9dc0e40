// Properties: GetProperty against GetValue and the object's own fields,
// SetProperty through SetValue with each property's VR (and what reaches
// disk), the refused keywords, and QueryValue's names and tags.
#include <algorithm>
#include <cstring>
#include <string>
#include <utility>

#include "fileobject_support.h"

namespace fotest {
namespace {

// The attribute properties, each with its tag and the VR it is set with.
const struct {
  const char* keyword;
  const char* tag;
  const char* vr;
} kAttributes[] = {
    {"BITS_ALLOCATED", "0028,0100", "US"},
    {"BITS_STORED", "0028,0101", "US"},
    {"COLUMNS", "0028,0011", "US"},
    {"HIGH_BIT", "0028,0102", "US"},
    {"IMAGE_TYPE", "0008,0008", "CS"},
    {"INSTANCE_NUMBER", "0020,0013", "IS"},
    {"MODALITY", "0008,0060", "CS"},
    {"NUMBER_OF_FRAMES", "0028,0008", "IS"},
    {"PHOTOMETRIC_INTERPRETATION", "0028,0004", "CS"},
    {"PIXEL_ASPECT_RATIO", "0028,0034", "IS"},
    {"PIXEL_MAX", "0028,0107", "US"},
    {"PIXEL_MIN", "0028,0106", "US"},
    {"PIXEL_REPRESENTATION", "0028,0103", "US"},
    {"PIXEL_SPACING", "0028,0030", "DS"},
    {"PLANAR_CONFIGURATION", "0028,0006", "US"},
    {"ROWS", "0028,0010", "US"},
    {"SAMPLES_PER_PIXEL", "0028,0002", "US"},
    {"SOP_CLASS_UID", "0008,0016", "UI"},
    {"SOP_INSTANCE_UID", "0008,0018", "UI"},
};

std::vector<std::string> textsOf(const Variable& v) {
  if (!v.isArray()) return {std::string(v.text())};
  std::vector<std::string> out;
  for (int64_t i = 0; i < v.array()->count(); ++i)
    out.emplace_back(zyl::hostStringText(v.array()->as<zyl::HostString>()[i]));
  return out;
}

// Same type, shape and content.
bool sameValue(const Variable& a, const Variable& b) {
  if (a.type() != b.type() || a.isArray() != b.isArray()) return false;
  if (a.type() == Type::String) return textsOf(a) == textsOf(b);
  if (!a.isArray()) return std::memcmp(&a.scalar(), &b.scalar(), zyl::typeSize(a.type())) == 0;
  return a.array()->byteSize() == b.array()->byteSize() &&
         std::memcmp(a.array()->data(), b.array()->data(), a.array()->byteSize()) == 0;
}

class Properties : public FileObjectTest {
 protected:
  // A call whose keyword variables the caller keeps (outputs land in them);
  // the error text, "" on success.
  std::string callKeeping(Variable& f, const std::string& method, std::vector<Kw>& kws) {
    try {
      rt().callMethod(f, method, {}, keywordArgs(kws));
      return "";
    } catch (const zyl::HostError& e) {
      return e.what();
    }
  }
  Variable property(Variable& f, const std::string& keyword) {
    std::vector<Kw> kws{{keyword, Variable{}}};
    EXPECT_EQ(callKeeping(f, "GetProperty", kws), "");
    return kws[0].value;
  }
  std::string setProperties(Variable& f, std::vector<Kw> kws) { return callKeeping(f, "SetProperty", kws); }
  Variable clone(const fs::path& source, const std::string& name = "clone.dcm") {
    return make(tmp(name).string(), {kw("CLONE", source.string())});
  }
  int16_t query(Variable& f, const std::string& name, std::vector<Kw> kws = {}) {
    return call(f, "QueryValue", name, std::move(kws)).scalar().i16;
  }
};

TEST_F(Properties, GetPropertyGivesWhatGetValueGivesAndTheObjectsOwnFields) {
  for (const fs::path& path : {kCt, kMr, kCorpus / "JPEG2000.dcm"}) {
    SCOPED_TRACE(path.filename().string());
    Variable f = make(path.string());
    // Every property the file holds, in one call.
    std::vector<Kw> kws;
    std::vector<const char*> tags;
    for (const auto& p : kAttributes)
      if (query(f, p.keyword) == 2) kws.push_back({p.keyword, Variable{}}), tags.push_back(p.tag);
    ASSERT_GE(kws.size(), 10u);
    ASSERT_EQ(callKeeping(f, "GetProperty", kws), "");
    for (size_t i = 0; i < kws.size(); ++i)
      EXPECT_TRUE(sameValue(kws[i].value, call(f, "GetValue", tags[i]))) << kws[i].name;
  }
  Variable ct = make(kCt.string());
  EXPECT_EQ(property(ct, "FILENAME").text(), kCt.string());
  EXPECT_EQ(property(ct, "NO_PIXEL_DATA").type(), Type::Int16);
  EXPECT_EQ(property(ct, "NO_PIXEL_DATA").scalar().i16, 0);
  Variable withoutPixels = make(kCt.string(), {kw("NO_PIXEL_DATA", 1)});
  EXPECT_EQ(property(withoutPixels, "NO_PIXEL_DATA").scalar().i16, 1);

  // The UID as stored (dcmdump agrees) and the syntax's name without its leading space.
  for (const auto& [file, name] :
       {std::pair{"MR_small_implicit.dcm", "Implicit VR Little Endian"},
        std::pair{"CT_small.dcm", "Explicit VR Little Endian"}, std::pair{"JPEG2000.dcm", "JPEG 2000"},
        std::pair{"MR_small_RLE.dcm", "RLE"}, std::pair{"MR_small_jpeg_ls_lossless.dcm", "JPEG-LS Lossless"}}) {
    SCOPED_TRACE(file);
    Variable f = make((kCorpus / file).string());
    const std::vector<std::string> syntax = textsOf(property(f, "TRANSFER_SYNTAX"));
    ASSERT_EQ(syntax.size(), 2u);
    EXPECT_EQ(syntax[1], name);
    EXPECT_TRUE(contains(run("dcmdump -q -Un " + quote(kCorpus / file)), "(0002,0010) UI [" + syntax[0] + "]"));
  }
}

TEST_F(Properties, KeywordsGoInNameOrderAndAFailureKeepsTheValuesBeforeIt) {
  Variable f = make(kCt.string());  // no Pixel Aspect Ratio
  std::vector<Kw> kws{{"ROWS", Variable{}}, {"PIXEL_ASPECT_RATIO", Variable{}}, {"COLUMNS", Variable{}}};
  EXPECT_TRUE(
      contains(callKeeping(f, "GetProperty", kws), "Error: Dicom Tag is not in dicom file (tag/err), 0028,0034"));
  EXPECT_TRUE(sameValue(kws[2].value, call(f, "GetValue", "0028,0011")));
  EXPECT_FALSE(kws[0].value.isDefined());
}

TEST_F(Properties, SetPropertyWritesEachAttributeWithItsVr) {
  Variable f = clone(kMr);
  std::vector<Kw> kws{kw("BITS_ALLOCATED", 16),
                      kw("BITS_STORED", "12"),
                      {"COLUMNS", Variable::ofFloat64(48)},
                      kw("HIGH_BIT", 11),
                      {"IMAGE_TYPE", strings({"DERIVED", "SECONDARY"})},
                      kw("INSTANCE_NUMBER", 7),
                      kw("MODALITY", "OT"),
                      kw("NUMBER_OF_FRAMES", 1),
                      kw("PHOTOMETRIC_INTERPRETATION", "MONOCHROME1"),
                      {"PIXEL_ASPECT_RATIO", strings({"1", "2"})},
                      kw("PIXEL_MAX", 900),
                      kw("PIXEL_MIN", 3),
                      kw("PIXEL_REPRESENTATION", 1),
                      {"PIXEL_SPACING", Variable::ofFloat64(0.5)},
                      kw("PLANAR_CONFIGURATION", 0),
                      kw("ROWS", 32),
                      kw("SAMPLES_PER_PIXEL", 1),
                      kw("SOP_INSTANCE_UID", "1.2.826.0.1.3680043.2.1125.42")};
  ASSERT_EQ(setProperties(f, kws), "");
  for (const auto& p : kAttributes) {
    const auto given = std::find_if(kws.begin(), kws.end(), [&](const Kw& k) { return k.name == p.keyword; });
    if (given == kws.end()) continue;
    SCOPED_TRACE(p.keyword);
    // MR_small's pixels are signed: its pixel bounds are SS.
    EXPECT_EQ(call(f, "GetVR", p.tag).text(), std::strncmp(p.keyword, "PIXEL_M", 7) == 0 ? "SS" : p.vr);
    // Texts read back as given, numbers as their value in either form.
    const Variable got = property(f, p.keyword);
    if (given->value.type() == Type::String && got.type() == Type::String) {
      EXPECT_EQ(textsOf(got), textsOf(given->value));
      continue;
    }
    double want = 0, have = 0;
    ASSERT_TRUE(zyl::numericValue(given->value, &want));
    if (got.type() == Type::String)
      have = std::stod(std::string(got.text()));
    else
      ASSERT_TRUE(zyl::numericValue(got, &have));
    EXPECT_EQ(have, want);
  }
  EXPECT_EQ(getString(f, "0020,0013"), "7");  // no blanks from the number's text

  call(f, "Commit", std::vector<Variable>{});
  const std::string d = run("dcmdump -q " + quote(tmp("clone.dcm")));
  for (const char* line : {"(0028,0010) US 32", "(0028,0101) US 12", "(0008,0008) CS [DERIVED\\SECONDARY]",
                           "(0020,0013) IS [7]", "(0028,0034) IS [1\\2]", "(0028,0107) SS 900"})
    EXPECT_TRUE(contains(d, line)) << line << "\n" << d;
}

TEST_F(Properties, RefusedKeywordsChangeNothing) {
  Variable f = clone(kMr);
  const uint16_t rows = call(f, "GetValue", "0028,0010").scalar().u16;
  EXPECT_TRUE(contains(setProperties(f, {kw("ROWS", 8), kw("FILENAME", "x.dcm")}),
                       "Error: The Filename property is read only."));
  EXPECT_TRUE(contains(setProperties(f, {kw("ROWS", 8), kw("TRANSFER_SYNTAX", "1.2.840.10008.1.2")}),
                       "Error: TransferSyntax is a get only property. To change the transfer syntax use the "
                       "ChangeXferSyntax method."));
  const std::string sopError = setProperties(f, {kw("ROWS", 8), kw("SOP_CLASS_UID", "1.2.3.4")});
  EXPECT_TRUE(contains(sopError, "Warning: Unable to convert SOP Class UID to a service (file/SOPClassUID/err) , " +
                                     tmp("clone.dcm").string() + ", 1.2.3.4, "))
      << sopError;
  EXPECT_EQ(call(f, "GetValue", "0028,0010").scalar().u16, rows);
  EXPECT_NE(getString(f, "0008,0016"), "1.2.3.4");
  EXPECT_FALSE(setProperties(f, {kw("NO_PIXEL_DATA", 1)}).empty());  // no keyword of SetProperty
  // A value SetValue refuses is refused before any keyword is written.
  const uint16_t columns = call(f, "GetValue", "0028,0011").scalar().u16;
  EXPECT_FALSE(setProperties(f, {kw("COLUMNS", 8), kw("ROWS", "many")}).empty());
  EXPECT_EQ(call(f, "GetValue", "0028,0011").scalar().u16, columns);
}

TEST_F(Properties, SopUidsReachTheMetaGroupAndPixelBoundsFollowTheRepresentation) {
  Variable f = clone(kMr);
  const std::string sopClass = "1.2.840.10008.5.1.4.1.1.7";
  const std::string instance = "1.2.826.0.1.3680043.2.1125.7.1";
  ASSERT_EQ(setProperties(f, {kw("SOP_CLASS_UID", sopClass), kw("SOP_INSTANCE_UID", instance), kw("PIXEL_MIN", -100)}),
            "");
  EXPECT_EQ(call(f, "GetValue", "0028,0106").scalar().i16, -100);
  call(f, "Commit", std::vector<Variable>{});
  const std::string check =
      run("/usr/bin/python3 -c \"import pydicom,sys; d=pydicom.dcmread(sys.argv[1]); "
          "print(d.file_meta.MediaStorageSOPClassUID, d.SOPClassUID, "
          "d.file_meta.MediaStorageSOPInstanceUID, d.SOPInstanceUID, d.SmallestImagePixelValue)\" " +
          quote(tmp("clone.dcm")));
  EXPECT_EQ(check, sopClass + " " + sopClass + " " + instance + " " + instance + " -100\n");

  const fs::path unsignedFile = fromDump("unsigned.dcm",
                                         "(0008,0016) UI [1.2.840.10008.5.1.4.1.1.7]\n"
                                         "(0008,0018) UI [1.2.3.4.9]\n(0028,0103) US 0\n");
  Variable u = clone(unsignedFile, "unsigned_clone.dcm");
  ASSERT_EQ(setProperties(u, {kw("PIXEL_MAX", 60000)}), "");
  EXPECT_EQ(call(u, "GetValue", "0028,0107").type(), Type::UInt16);
  EXPECT_EQ(call(u, "GetValue", "0028,0107").scalar().u16, 60000);
}

TEST_F(Properties, QueryValueTakesPropertyNamesInAnyCaseAndEveryTag) {
  Variable f = make(kMr.string());
  for (const char* name : {"ROWS", "Rows", "rows", "filename", "transfer_syntax", "sop_instance_uid"})
    EXPECT_EQ(query(f, name), 2) << name;
  EXPECT_EQ(query(f, "pixel_aspect_ratio"), 0);        // absent
  EXPECT_EQ(query(f, "rows", {kw("SEQID", 999)}), 2);  // always the top level
  for (const char* name : {"no_pixel_data", "rowz"})
    EXPECT_TRUE(contains(callError(f, "QueryValue", name),
                         std::string("Error: Invalid property name passed into QueryValue , ") + name));
  // Tags in either case; a group that begins with a letter is still a tag.
  EXPECT_EQ(query(f, "0008,103E"), query(f, "0008,103e"));
  EXPECT_EQ(query(f, "FFFC,FFFC"), 2);  // MR_small's Data Set Trailing Padding
  EXPECT_EQ(query(f, "fffa,fffa"), 0);
}

}  // namespace
}  // namespace fotest

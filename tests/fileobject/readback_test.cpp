// Created and cloned files, committed, read back by pydicom: the attributes we
// set are there, and a clone holds every attribute of its source (sequences
// item by item, pixel values included) but the two instance UIDs.
#include <map>
#include <sstream>

#include "fileobject_support.h"

namespace fotest {
namespace {

// Lists "tag|VR|value" for the meta group and the top level of a file, as
// pydicom reads it (strict: a file pydicom cannot parse fails).
constexpr const char* kListScript = R"(
import sys, pydicom
ds = pydicom.dcmread(sys.argv[1])
print("preamble|" + str(len(ds.preamble or b"")))
for elem in list(ds.file_meta) + list(ds):
    value = elem.value
    if elem.VR == "SQ":
        value = len(value)
    elif isinstance(value, bytes):
        value = len(value)
    elif isinstance(value, (list, pydicom.multival.MultiValue)):
        value = "\\".join(str(v) for v in value)
    print("%04x,%04x|%s|%s" % (elem.tag.group, elem.tag.elem, elem.VR, value))
)";

// Compares a clone with its source; prints one line per difference, then "done".
constexpr const char* kCompareScript = R"(
import sys, pydicom
src = pydicom.dcmread(sys.argv[1])
cl = pydicom.dcmread(sys.argv[2])
uid = sys.argv[3]
same_syntax = src.file_meta.TransferSyntaxUID == cl.file_meta.TransferSyntaxUID
def walk(a, b, where, top):
    for elem in a:
        if top and elem.tag == 0x00080018:
            continue
        if elem.tag not in b:
            print("missing", where, elem.tag); continue
        other = b[elem.tag]
        if elem.VR == "SQ":
            if len(elem.value) != len(other.value):
                print("items", where, elem.tag, len(elem.value), len(other.value)); continue
            for i, (x, y) in enumerate(zip(elem.value, other.value)):
                walk(x, y, "%s%s[%d]." % (where, elem.tag, i), False)
        elif elem.tag == 0x7FE00010 and not same_syntax:
            if (a.pixel_array != b.pixel_array).any():
                print("pixels differ")
        elif elem.value != other.value:
            print("value", where, elem.tag, repr(elem.value)[:60], repr(other.value)[:60])
    for elem in b:
        if elem.tag not in a and not (top and elem.tag == 0x00080018):
            print("extra", where, elem.tag)
walk(src, cl, "", True)
if cl.SOPInstanceUID != uid: print("sop instance uid", cl.SOPInstanceUID)
if cl.file_meta.MediaStorageSOPInstanceUID != uid: print("meta instance uid", cl.file_meta.MediaStorageSOPInstanceUID)
if uid == src.SOPInstanceUID: print("uid not changed")
if cl.file_meta.MediaStorageSOPClassUID != src.SOPClassUID: print("meta class uid")
print("done")
)";

class Readback : public FileObjectTest {
 protected:
  std::string python(const char* script, const std::string& arguments) {
    const fs::path file = tmp("script.py");
    std::ofstream(file) << script;
    int status = 0;
    const std::string out = run("/usr/bin/python3 " + quote(file) + " " + arguments + " 2>&1", &status);
    EXPECT_EQ(status, 0) << out;
    return out;
  }
};

TEST_F(Readback, CreatedFilesHoldTheAttributesWeSet) {
  for (const auto& [service, sopClass] : std::vector<std::pair<std::string, std::string>>{
           {"STANDARD_CT_IMAGE", "1.2.840.10008.5.1.4.1.1.2"}, {"STANDARD_MR_IMAGE", "1.2.840.10008.5.1.4.1.1.4"}}) {
    SCOPED_TRACE(service);
    const fs::path out = tmp(service + ".dcm");
    Variable f = make(out.string(), {kw("CREATE", 1), kw("SOP_CLASS", service)});
    const std::string uid = getString(f, "0008,0018");
    call(f, "Commit");
    std::istringstream lines(python(kListScript, quote(out)));
    std::map<std::string, std::pair<std::string, std::string>> read;  // tag -> VR, value
    std::string line;
    while (std::getline(lines, line)) {
      const size_t a = line.find('|');
      const size_t b = line.find('|', a + 1);
      if (a == std::string::npos) continue;
      read[line.substr(0, a)] = {b == std::string::npos ? "" : line.substr(a + 1, b - a - 1),
                                 b == std::string::npos ? line.substr(a + 1) : line.substr(b + 1)};
    }
    EXPECT_EQ(read["preamble"].second, "128");
    EXPECT_EQ(read["0002,0002"].second, sopClass);
    EXPECT_EQ(read["0002,0003"].second, uid);
    EXPECT_EQ(read["0002,0010"].second, "1.2.840.10008.1.2.1");
    EXPECT_EQ(read["0008,0016"].second, sopClass);
    EXPECT_EQ(read["0008,0018"].second, uid);
    // Every string attribute pydicom reads is what our object showed before Commit.
    Variable again = make(out.string());
    int strings = 0;
    for (const auto& [tag, vrValue] : read) {
      if (tag == "preamble" || vrValue.first.size() != 2) continue;
      EXPECT_EQ(std::string(call(again, "GetVR", tag).text()), vrValue.first) << tag;
      if (std::string("AE CS DA LO PN SH TM UI").find(vrValue.first) == std::string::npos) continue;
      EXPECT_EQ(getString(again, tag), vrValue.second) << tag;
      ++strings;
    }
    EXPECT_GE(strings, 5);
  }
}

TEST_F(Readback, ClonesKeepEveryAttributeButTheTwoInstanceUids) {
  for (const char* name : {"MR_small.dcm", "CT_small.dcm", "rtplan.dcm", "MR_small_bigendian.dcm", "test-SR.dcm",
                           "JPEG2000.dcm", "SC_rgb_jpeg_dcmtk.dcm"}) {
    SCOPED_TRACE(name);
    const fs::path out = tmp(std::string("clone_") + name);
    Variable clone = make(out.string(), {kw("CLONE", (kCorpus / name).string())});
    const std::string uid = getString(clone, "0008,0018");
    call(clone, "Commit");
    const std::string differences = python(kCompareScript, quote(kCorpus / name) + " " + quote(out) + " " + uid);
    EXPECT_EQ(differences, "done\n");
  }
}

}  // namespace
}  // namespace fotest

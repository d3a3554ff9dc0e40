// Interoperability over the pydicom test files, against independent readers.
//
// Corpus: every file under the pydicom test directory (recursively) that DCMTK
// loads as a DICOM file. For each one:
//  * every attribute our layer lists (MC_Get_First/Next_Attribute, items of
//    sequences included) equals what `dcmdump +L -q -Un +Qn +uc` prints for it
//    (+uc: an attribute sent as UN is read by its dictionary VR, as ours are):
//    same position, tag, VR and value;
//  * the file written by MC_Write_File reads back through our layer to the
//    same attributes, dcmdump prints the same data set for it as for the
//    original, and pydicom reads the same values for a set of attributes.
//
// Normalisations (the only ones applied):
//  * dcmdump's internal VR names: "up" (offsets) is UL, "xs" is US, "ox" and
//    "lt" are OW, "??" (unknown VR) is UN.
//  * dcmdump quotes non-ASCII and control characters, <, >, &, " and ' as XML
//    markup (+Qn, which keeps every value on one line); it is decoded.
//  * Binary values (OB, UN, OW) are compared as dcmdump prints them: bytes
//    (OB, UN) or 16-bit words in host order (OW), two/four hex digits, "\"
//    between them. Our side formats the bytes MC_Get_Value_To_Buffer gives.
//  * Numbers: integers (US, SS, UL, SL) read with MC_Get_Value_To_LongInt and
//    printed in decimal; FL and FD read with MC_Get_Value_To_Float/Double and
//    compared numerically with dcmdump's text (relative 1e-6 for FL, whose
//    text dcmdump prints with 8 significant digits, 1e-15 for FD).
//  * Text values are joined with "\" (LT, ST, UT, UR are single values).
//    dcmdump prints padding inside multi-valued text ("DERIVED \PRIMARY") and
//    NUL padding ("WIN32\0"); trailing spaces and NULs of each value are
//    dropped from its text, as our getters drop them.
//  * Sequences compare by their number of items, then item by item; dcmdump's
//    item and delimitation lines carry no value. Encapsulated Pixel Data
//    compares by tag and VR (its fragments are not attributes).
//  * A zero-length value is dcmdump's "(no value available)" and our
//    MC_NULL_VALUE.
//  * After writing: group lengths (gggg,0000) are recomputed by the writer and
//    compare by presence; the meta group may gain the elements a DICOM file
//    needs (filled in by MC_Write_File); the original's meta elements stay.
#include "support.h"
#include "support/process.h"

#include <dcmtk/config/osconfig.h>
#include <dcmtk/dcmdata/dctk.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <sstream>
#include <string>
#include <unistd.h>
#include <vector>

using namespace zyl::toolkit::test;
namespace fs = std::filesystem;

namespace {

// One attribute: where it is ("(0010,1002)[1](0010,0020)"), its VR and its value.
struct Entry {
  std::string path;
  std::string vr;
  std::string value;
};
using Listing = std::vector<Entry>;

constexpr const char* kNull = "(no value available)";
constexpr const char* kEncapsulated = "(encapsulated)";

bool toolAvailable(const std::string& probe) { return std::system((probe + " >/dev/null 2>&1").c_str()) == 0; }

// A file in the process's own temporary folder, removed at exit.
std::string tempPath(const std::string& name) {
  static const zyl::test::TempDir folder("zyltoolkit_interop");
  return folder.file(name);
}

void writeFile(const std::string& path, const std::vector<std::uint8_t>& bytes) {
  std::ofstream(path, std::ios::binary)
      .write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

std::string tagText(std::uint32_t t) {
  char buffer[16];
  std::snprintf(buffer, sizeof buffer, "(%04x,%04x)", t >> 16, t & 0xFFFF);
  return buffer;
}

std::uint32_t pathTag(const std::string& path) {
  const auto open = path.rfind('(');
  unsigned group = 0, element = 0;
  std::sscanf(path.c_str() + open, "(%4x,%4x)", &group, &element);
  return group << 16 | element;
}

// ---- dcmdump ----------------------------------------------------------------

std::string decodeMarkup(const std::string& text) {
  std::string out;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] != '&') {
      out += text[i];
      continue;
    }
    const auto end = text.find(';', i);
    if (end == std::string::npos) {
      out += text[i];
      continue;
    }
    const std::string entity = text.substr(i + 1, end - i - 1);
    if (entity == "lt")
      out += '<';
    else if (entity == "gt")
      out += '>';
    else if (entity == "amp")
      out += '&';
    else if (entity == "quot")
      out += '"';
    else if (entity == "apos")
      out += '\'';
    else if (entity.size() > 1 && entity[0] == '#')
      out += static_cast<char>(entity[1] == 'x' ? std::strtol(entity.c_str() + 2, nullptr, 16)
                                                : std::strtol(entity.c_str() + 1, nullptr, 10));
    else {
      out += text[i];
      continue;
    }
    i = end;
  }
  return out;
}

// Drops the padding (spaces, NULs) at the end of each value of a text.
std::string trimValues(const std::string& text, bool multiValued) {
  std::string out, value;
  auto flush = [&] {
    while (!value.empty() && (value.back() == ' ' || value.back() == '\0')) value.pop_back();
    out += value;
    value.clear();
  };
  for (char c : text) {
    if (multiValued && c == '\\') {
      flush();
      out += c;
    } else {
      value += c;
    }
  }
  flush();
  return out;
}

std::string normalisedVr(const std::string& vr) {
  if (vr == "up") return "UL";
  if (vr == "xs") return "US";
  if (vr == "ox" || vr == "lt") return "OW";
  if (vr == "??") return "UN";
  return vr;
}

// Parses what dcmdump prints for a file into entries in print order.
Listing parseDump(const std::string& dump) {
  Listing listing;
  std::vector<std::string> sequencePath(1), itemPrefix(1);
  std::vector<int> itemCount(1);
  std::istringstream lines(dump);
  std::string line;
  while (std::getline(lines, line)) {
    const auto first = line.find_first_not_of(' ');
    if (first == std::string::npos || line[first] != '(') continue;
    const std::size_t depth = first / 2;
    unsigned group = 0, element = 0;
    if (std::sscanf(line.c_str() + first, "(%4x,%4x)", &group, &element) != 2) continue;
    const std::string vr = line.substr(first + 12, 2);
    std::string rest = line.substr(first + 15);
    // The comment "#  length, multiplicity name" ends every line.
    const auto hash = rest.rfind(" #");
    if (hash != std::string::npos) rest.erase(hash);
    while (!rest.empty() && rest.back() == ' ') rest.pop_back();
    for (auto* v : {&sequencePath, &itemPrefix}) v->resize(std::max(v->size(), depth + 2));
    itemCount.resize(std::max(itemCount.size(), depth + 2));
    if (group == 0xFFFE) {
      if (element == 0xE000 && vr == "na" && depth > 0) {  // an item of the sequence one level up
        itemPrefix[depth + 1] = sequencePath[depth - 1] + "[" + std::to_string(itemCount[depth - 1]++) + "]";
      }
      continue;  // pixel fragments and delimiters carry no attribute
    }
    Entry entry;
    entry.path = (depth == 0 ? std::string() : itemPrefix[depth]) + tagText(group << 16 | element);
    entry.vr = normalisedVr(vr);
    if (vr == "SQ") {
      const auto count = rest.find("#=");
      entry.value =
          "#=" + (count == std::string::npos ? std::string("?") : rest.substr(count + 2, rest.size() - count - 3));
      sequencePath[depth] = entry.path;
      itemCount[depth] = 0;
    } else if (rest.rfind("(PixelSequence", 0) == 0) {
      entry.value = kEncapsulated;
    } else if (rest == kNull) {
      entry.value = kNull;
    } else if (rest.size() >= 2 && rest.front() == '[' && rest.back() == ']') {
      entry.value = trimValues(decodeMarkup(rest.substr(1, rest.size() - 2)),
                               vr != "LT" && vr != "ST" && vr != "UT" && vr != "UR");
    } else {
      entry.value = rest;
    }
    listing.push_back(std::move(entry));
  }
  return listing;
}

Listing dumpListing(const std::string& path) {
  return parseDump(zyl::test::RunShell("dcmdump +L -q -Un +Qn +uc '" + path + "' 2>/dev/null").output);
}

// ---- Our layer --------------------------------------------------------------------

// The toolkit's name of a VR; what it prints is compared with dcmdump's.
const char* vrName(MC_VR vr) {
  const char* name = MC_VR_Name(vr);
  return name ? name : "??";
}

// Values read as text: DCMTK's string VRs, and AT, which our getters give as text.
bool isTextVr(MC_VR vr) { return vr == MC_VR_AT || DcmVR(vrName(vr)).isaString(); }

std::string statusText(MC_STATUS s) { return "<status " + std::to_string(s) + " " + MC_Error_Message(s) + ">"; }

std::string join(const std::vector<std::string>& parts) {
  std::string out;
  for (std::size_t i = 0; i < parts.size(); ++i) out += (i ? "\\" : "") + parts[i];
  return out;
}

std::string hexBytes(const std::vector<std::uint8_t>& bytes, MC_VR vr) {
  std::string out;
  char buffer[8];
  if (vr == MC_VR_OW) {
    for (std::size_t i = 0; i + 1 < bytes.size(); i += 2) {
      std::uint16_t word;
      std::memcpy(&word, bytes.data() + i, 2);
      std::snprintf(buffer, sizeof buffer, "%s%04x", i ? "\\" : "", word);
      out += buffer;
    }
  } else {
    for (std::size_t i = 0; i < bytes.size(); ++i) {
      std::snprintf(buffer, sizeof buffer, "%s%02x", i ? "\\" : "", bytes[i]);
      out += buffer;
    }
  }
  return out;
}

std::string printed(const char* format, double v) {
  char buffer[32];
  std::snprintf(buffer, sizeof buffer, format, v);
  return buffer;
}

// The `count` values of a numeric attribute, read with the getter pair of
// their type and each printed by `print`, joined.
template <typename T, typename Print>
std::string allValues(int id, std::uint32_t t, int count, MC_STATUS (*first)(int, uint32_t, T*),
                      MC_STATUS (*next)(int, uint32_t, T*), Print print) {
  std::vector<std::string> parts;
  for (int k = 0; k < count; ++k) {
    T v = 0;
    const MC_STATUS s = k == 0 ? first(id, t, &v) : next(id, t, &v);
    parts.push_back(s == MC_NORMAL_COMPLETION ? print(v) : statusText(s));
  }
  return join(parts);
}

// The value of one attribute as our getters give it, in dcmdump's form.
std::string ourValue(int id, std::uint32_t t, MC_VR vr, int count) {
  unsigned long length = 0;
  const MC_STATUS lengthStatus = MC_Get_Value_Length(id, t, 1, &length);
  if (lengthStatus == MC_NULL_VALUE) return kNull;
  if (lengthStatus != MC_NORMAL_COMPLETION) return statusText(lengthStatus);
  std::vector<std::string> parts;
  if (isTextVr(vr)) {
    const bool single = vr == MC_VR_LT || vr == MC_VR_ST || vr == MC_VR_UT || vr == MC_VR_UR;
    for (int k = 0; k < (single ? 1 : count); ++k) {
      unsigned long n = 0;
      MC_Get_Value_Length(id, t, k + 1, &n);
      std::vector<char> buffer(n + 64);
      const MC_STATUS s = k == 0 ? MC_Get_Value_To_String(id, t, static_cast<int>(buffer.size()), buffer.data())
                                 : MC_Get_Next_Value_To_String(id, t, static_cast<int>(buffer.size()), buffer.data());
      parts.push_back(s == MC_NORMAL_COMPLETION ? std::string(buffer.data()) : statusText(s));
    }
    return join(parts);
  }
  switch (vr) {
    case MC_VR_US:
    case MC_VR_SS:
    case MC_VR_UL:
    case MC_VR_SL:
      return allValues(id, t, count, MC_Get_Value_To_LongInt, MC_Get_Next_Value_To_LongInt,
                       [](long v) { return std::to_string(v); });
    case MC_VR_FL:
      return allValues(id, t, count, MC_Get_Value_To_Float, MC_Get_Next_Value_To_Float,
                       [](float v) { return printed("%.9g", static_cast<double>(v)); });
    case MC_VR_FD:
      return allValues(id, t, count, MC_Get_Value_To_Double, MC_Get_Next_Value_To_Double,
                       [](double v) { return printed("%.17g", v); });
    case MC_VR_OB:
    case MC_VR_OW:
    case MC_VR_UN: {
      std::vector<std::uint8_t> bytes(length);
      int returned = 0;
      const MC_STATUS s = MC_Get_Value_To_Buffer(id, t, static_cast<int>(bytes.size()), bytes.data(), &returned);
      if (s != MC_NORMAL_COMPLETION) return statusText(s);
      bytes.resize(static_cast<std::size_t>(returned));
      return hexBytes(bytes, vr);
    }
    default:
      return std::string("<VR ") + vrName(vr) + " not compared>";
  }
}

bool encapsulatedSyntax(int fileId) {
  MC_TRANSFER_SYNTAX syntax = MC_TS_INVALID;
  if (MC_Get_Message_Transfer_Syntax(fileId, &syntax) != MC_NORMAL_COMPLETION) return false;
  return syntax >= MC_TS_RLE && syntax != MC_TS_PRIVATE_IMPLICIT_LE_BIG_ENDIAN_PIXELS;
}

void listAttributes(int id, const std::string& prefix, bool encapsulated, Listing& out) {
  struct Found {
    std::uint32_t tag;
    MC_VR vr;
    int count;
  };
  std::vector<Found> found;
  std::uint32_t t = 0;
  MC_VR vr = MC_VR_UNKNOWN;
  int count = 0;
  for (MC_STATUS s = MC_Get_First_Attribute(id, &t, &vr, &count); s == MC_NORMAL_COMPLETION;
       s = MC_Get_Next_Attribute(id, &t, &vr, &count))
    found.push_back({t, vr, count});
  for (const auto& f : found) {
    Entry entry{prefix + tagText(f.tag), vrName(f.vr), {}};
    if (f.vr == MC_VR_SQ) {
      std::vector<int> items;
      int item = 0;
      for (MC_STATUS s = MC_Get_Value_To_Int(id, f.tag, &item); s == MC_NORMAL_COMPLETION;
           s = MC_Get_Next_Value_To_Int(id, f.tag, &item))
        items.push_back(item);
      entry.value = "#=" + std::to_string(items.size());
      out.push_back(entry);
      for (std::size_t k = 0; k < items.size(); ++k)
        listAttributes(items[k], entry.path + "[" + std::to_string(k) + "]", false, out);
      continue;
    }
    entry.value =
        encapsulated && f.tag == 0x7FE00010 && prefix.empty() ? kEncapsulated : ourValue(id, f.tag, f.vr, f.count);
    out.push_back(std::move(entry));
  }
}

Listing ourListing(int fileId) {
  Listing listing;
  listAttributes(fileId, "", encapsulatedSyntax(fileId), listing);
  return listing;
}

// ---- Comparison ---------------------------------------------------------------

std::vector<std::string> split(const std::string& text) {
  std::vector<std::string> parts;
  std::size_t start = 0;
  for (std::size_t i = 0; i <= text.size(); ++i)
    if (i == text.size() || text[i] == '\\') {
      parts.push_back(text.substr(start, i - start));
      start = i + 1;
    }
  return parts;
}

bool sameValue(const std::string& vr, const std::string& a, const std::string& b) {
  if (a == b) return true;
  if (vr != "FL" && vr != "FD") return false;
  const auto x = split(a), y = split(b);
  if (x.size() != y.size()) return false;
  const double tolerance = vr == "FL" ? 1e-6 : 1e-15;
  for (std::size_t i = 0; i < x.size(); ++i) {
    char* endX = nullptr;
    char* endY = nullptr;
    const double u = std::strtod(x[i].c_str(), &endX), v = std::strtod(y[i].c_str(), &endY);
    if (*endX || *endY || endX == x[i].c_str() || endY == y[i].c_str()) return false;
    if (u == v) continue;
    if (std::isnan(u) && std::isnan(v)) continue;
    if (std::fabs(u - v) > tolerance * std::max(std::fabs(u), std::fabs(v))) return false;
  }
  return true;
}

std::string shorten(const std::string& text) { return text.size() > 120 ? text.substr(0, 120) + "..." : text; }

// Differences between two listings; group lengths compare by presence when asked.
std::vector<std::string> differences(const Listing& expected, const Listing& actual, bool groupLengthsByPresence) {
  std::vector<std::string> found;
  std::size_t i = 0, j = 0;
  while (i < expected.size() || j < actual.size()) {
    if (i >= expected.size()) {
      found.push_back("extra " + actual[j++].path);
      continue;
    }
    if (j >= actual.size()) {
      found.push_back("missing " + expected[i++].path);
      continue;
    }
    const Entry& e = expected[i++];
    const Entry& a = actual[j++];
    if (e.path != a.path) {
      found.push_back("at " + e.path + ": found " + a.path + " instead");
      break;  // the lists are out of step from here on
    }
    // A UN that dcmdump +uc reads as a sequence stays UN in ours (its
    // content is not trusted to be the dictionary's): dcmdump's items are
    // not compared.
    if (e.vr == "SQ" && a.vr == "UN") {
      while (i < expected.size() && expected[i].path.rfind(e.path + "[", 0) == 0) ++i;
      continue;
    }
    if (e.vr != a.vr) found.push_back(e.path + " VR " + e.vr + " vs " + a.vr);
    const bool groupLength = (pathTag(e.path) & 0xFFFF) == 0;
    if (groupLength && groupLengthsByPresence) continue;
    if (!sameValue(e.vr, e.value, a.value))
      found.push_back(e.path + " " + e.vr + " [" + shorten(e.value) + "] vs [" + shorten(a.value) + "]");
  }
  return found;
}

void expectNoDifferences(const std::vector<std::string>& found, const std::string& what) {
  std::string text;
  for (std::size_t i = 0; i < found.size() && i < 10; ++i) text += "\n  " + found[i];
  if (found.size() > 10) text += "\n  ... " + std::to_string(found.size() - 10) + " more";
  EXPECT_TRUE(found.empty()) << what << ":" << text;
}

// The data set entries of a listing, and its meta group entries.
Listing part(const Listing& listing, bool meta) {
  Listing out;
  for (const auto& e : listing)
    if (((pathTag(e.path) >> 16) == 0x0002) == meta) out.push_back(e);
  return out;
}

// Every meta element of `original` but (0002,0000) appears unchanged in `written`.
std::vector<std::string> metaKept(const Listing& original, const Listing& written) {
  std::vector<std::string> found;
  for (const auto& e : part(original, true)) {
    if (pathTag(e.path) == 0x00020000) continue;
    const auto it = std::find_if(written.begin(), written.end(), [&](const Entry& w) { return w.path == e.path; });
    if (it == written.end())
      found.push_back("meta " + e.path + " dropped");
    else if (it->vr != e.vr || it->value != e.value)
      found.push_back("meta " + e.path + " [" + shorten(e.value) + "] became [" + shorten(it->value) + "]");
  }
  return found;
}

// ---- Corpus ---------------------------------------------------------------------------

struct CorpusFile {
  std::string path;
  std::vector<std::uint8_t> bytes;
};

const std::vector<CorpusFile>& corpus() {
  static const std::vector<CorpusFile> files = [] {
    OFLog::configure(OFLogger::FATAL_LOG_LEVEL);  // the corpus has damaged files on purpose
    std::vector<fs::path> paths;
    std::error_code error;
    for (const auto& entry : fs::recursive_directory_iterator(ZYL_PYDICOM_FILES, error))
      if (entry.is_regular_file()) paths.push_back(entry.path());
    std::sort(paths.begin(), paths.end());
    std::vector<CorpusFile> loaded;
    for (const auto& path : paths) {
      DcmFileFormat reference;
      if (reference.loadFile(path.c_str(), EXS_Unknown, EGL_noChange, DCM_MaxReadLength, ERM_fileOnly).bad() ||
          reference.loadAllDataIntoMemory().bad())
        continue;
      loaded.push_back({path.string(), readBytes(path.string())});
    }
    return loaded;
  }();
  return files;
}

bool haveDcmdump() { return toolAvailable("dcmdump --version"); }

}  // namespace

TEST(ToolkitInterop, EveryAttributeReadsAsDcmdumpPrintsIt) {
  if (!haveDcmdump()) GTEST_SKIP() << "dcmdump is not installed";
  ASSERT_GT(corpus().size(), 60u);
  int compared = 0;
  std::size_t attributes = 0;
  for (const auto& file : corpus()) {
    SCOPED_TRACE(file.path);
    int id = 0;
    const MC_STATUS s = openFromBytes(file.bytes, 8192, id);
    EXPECT_EQ(s, MC_NORMAL_COMPLETION) << MC_Error_Message(s);
    if (s != MC_NORMAL_COMPLETION) continue;
    const Listing ours = ourListing(id);
    const Listing dumped = dumpListing(file.path);
    ASSERT_FALSE(dumped.empty());
    expectNoDifferences(differences(dumped, ours, false), "dcmdump vs our layer");
    attributes += ours.size();
    ++compared;
    MC_Free_File(id);
  }
  std::printf("compared %d files, %zu attributes\n", compared, attributes);
  EXPECT_EQ(compared, static_cast<int>(corpus().size()));
  EXPECT_GT(attributes, 5000u);
}

namespace {

// What pydicom reads from each file, as "path\tname\tvalue" lines.
constexpr const char* kPydicomScript = R"(
import sys
import pydicom
names = ["PatientName", "PatientID", "StudyInstanceUID", "SeriesInstanceUID", "SOPInstanceUID",
         "SOPClassUID", "Modality", "StudyDate", "Rows", "Columns", "BitsAllocated", "InstanceNumber"]
def text(element):
    value = element.value
    if element.VR == "PN":
        values = value if element.VM > 1 else [value]
        raw = [v.original_string if getattr(v, "original_string", None) is not None else str(v).encode() for v in values]
        return b"\\".join(raw).hex()
    if element.VM > 1:
        return "\\".join(str(v) for v in value).encode().hex()
    if element.VR in ("IS", "US", "SS", "UL", "SL"):
        return str(int(value)).encode().hex()
    return str(value).encode().hex()
for path in sys.argv[1:]:
    ds = pydicom.dcmread(path)
    out = [("TransferSyntaxUID", str(ds.file_meta.TransferSyntaxUID).encode().hex()), ("count", str(len(ds)))]
    for name in names:
        if name in ds and ds[name].VM > 0:
            out.append((name, text(ds[name])))
    if "PixelData" in ds and not ds.file_meta.TransferSyntaxUID.is_compressed:
        out.append(("PixelDataLength", str(len(ds.PixelData))))
    for name, value in out:
        print(path + "\t" + name + "\t" + value)
)";

const std::pair<const char*, std::uint32_t> kPydicomAttributes[] = {
    {"PatientName", 0x00100010},       {"PatientID", 0x00100020},      {"StudyInstanceUID", 0x0020000D},
    {"SeriesInstanceUID", 0x0020000E}, {"SOPInstanceUID", 0x00080018}, {"SOPClassUID", 0x00080016},
    {"Modality", 0x00080060},          {"StudyDate", 0x00080020},      {"Rows", 0x00280010},
    {"Columns", 0x00280011},           {"BitsAllocated", 0x00280100},  {"InstanceNumber", 0x00200013}};

std::string hex(const std::string& text) {
  std::string out;
  char buffer[4];
  for (unsigned char c : text) {
    std::snprintf(buffer, sizeof buffer, "%02x", c);
    out += buffer;
  }
  return out;
}

// What pydicom should see, from our layer's reading of the original file.
std::map<std::string, std::string> expectedForPydicom(int id, const Listing& ours) {
  std::map<std::string, std::string> expected;
  std::size_t topLevel = 0;
  for (const auto& e : ours)
    if (e.path.find('[') == std::string::npos && (pathTag(e.path) >> 16) != 0x0002) ++topLevel;
  expected["count"] = std::to_string(topLevel);
  char uid[80] = {};
  if (MC_Get_Value_To_String(id, 0x00020010, sizeof uid, uid) == MC_NORMAL_COMPLETION)
    expected["TransferSyntaxUID"] = hex(uid);
  for (const auto& [name, t] : kPydicomAttributes) {
    const auto it = std::find_if(ours.begin(), ours.end(), [&](const Entry& e) { return e.path == tagText(t); });
    if (it == ours.end() || it->value == kNull) continue;
    std::string value = it->value;
    if (it->vr == "UN") {  // pydicom gives a known tag read as UN its dictionary VR
      unsigned long length = 0;
      MC_Get_Value_Length(id, t, 1, &length);
      std::vector<char> bytes(length);
      int returned = 0;
      if (MC_Get_Value_To_Buffer(id, t, static_cast<int>(length), bytes.data(), &returned) != MC_NORMAL_COMPLETION)
        continue;
      value.assign(bytes.data(), static_cast<std::size_t>(returned));
      while (!value.empty() && (value.back() == ' ' || value.back() == '\0')) value.pop_back();
      if (std::string(name) == "InstanceNumber") value = std::to_string(std::atoi(value.c_str()));
    } else if (std::string(name) == "InstanceNumber") {
      int number = 0;
      if (MC_Get_Value_To_Int(id, t, &number) == MC_NORMAL_COMPLETION) value = std::to_string(number);
    }
    expected[name] = hex(value);
  }
  unsigned long length = 0;
  if (!encapsulatedSyntax(id) && MC_Get_Value_Length(id, 0x7FE00010, 1, &length) == MC_NORMAL_COMPLETION)
    expected["PixelDataLength"] = std::to_string(length);
  return expected;
}

}  // namespace

TEST(ToolkitInterop, WrittenFilesReadBackIdenticalAndOtherReadersAgree) {
  if (!haveDcmdump()) GTEST_SKIP() << "dcmdump is not installed";
  const bool havePydicom = toolAvailable("/usr/bin/python3 -c 'import pydicom'");
  ASSERT_GT(corpus().size(), 60u);
  std::map<std::string, std::map<std::string, std::string>> pydicomExpected;  // by written path
  std::vector<std::string> written;
  for (const auto& file : corpus()) {
    SCOPED_TRACE(file.path);
    int id = 0;
    ASSERT_EQ(openFromBytes(file.bytes, 65536, id), MC_NORMAL_COMPLETION);
    const Listing original = ourListing(id);
    std::vector<std::uint8_t> bytes;
    const MC_STATUS s = writeToBytes(id, bytes);
    EXPECT_EQ(s, MC_NORMAL_COMPLETION) << MC_Error_Message(s);
    if (s != MC_NORMAL_COMPLETION) {
      MC_Free_File(id);
      continue;
    }
    // Read back through our layer: the same data set, the meta group kept.
    int again = 0;
    ASSERT_EQ(openFromBytes(bytes, 4093, again), MC_NORMAL_COMPLETION);
    const Listing reread = ourListing(again);
    expectNoDifferences(differences(part(original, false), part(reread, false), true), "data set read back");
    expectNoDifferences(metaKept(original, reread), "meta group read back");
    MC_Free_File(again);

    // dcmdump: the written file prints as the original does.
    const std::string path = tempPath(std::to_string(written.size()) + ".dcm");
    writeFile(path, bytes);
    written.push_back(path);
    const Listing dumpedOriginal = dumpListing(file.path);
    const Listing dumpedWritten = dumpListing(path);
    ASSERT_FALSE(dumpedWritten.empty()) << "dcmdump cannot read the written file";
    expectNoDifferences(differences(part(dumpedOriginal, false), part(dumpedWritten, false), true),
                        "dcmdump of the original vs of the written file");
    expectNoDifferences(metaKept(dumpedOriginal, dumpedWritten), "dcmdump: meta group of the written file");
    pydicomExpected[path] = expectedForPydicom(id, original);
    MC_Free_File(id);
  }

  if (havePydicom) {
    const std::string script = tempPath("read.py");
    std::ofstream(script) << kPydicomScript;
    std::string command = "/usr/bin/python3 '" + script + "'";
    for (const auto& path : written) command += " '" + path + "'";
    std::map<std::string, std::map<std::string, std::string>> seen;
    std::istringstream lines(zyl::test::RunShell(command + " 2>/dev/null").output);
    for (std::string line; std::getline(lines, line);) {
      const auto a = line.find('\t'), b = line.rfind('\t');
      if (a == std::string::npos || a == b) continue;
      seen[line.substr(0, a)][line.substr(a + 1, b - a - 1)] = line.substr(b + 1);
    }
    fs::remove(script);
    EXPECT_EQ(seen.size(), written.size()) << "pydicom did not read every written file";
    int checked = 0;
    for (const auto& [path, expected] : pydicomExpected) {
      SCOPED_TRACE(path);
      const auto it = seen.find(path);
      if (it == seen.end()) continue;
      EXPECT_EQ(it->second, expected);
      checked += static_cast<int>(expected.size());
    }
    EXPECT_GT(checked, 500);
  }
  for (const auto& path : written) fs::remove(path);
  if (!havePydicom) GTEST_SKIP() << "/usr/bin/python3 with pydicom is not installed; the pydicom part did not run";
}

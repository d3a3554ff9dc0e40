// Reading files through reader callbacks, writing through a writer callback,
// raw data sets, and malformed input. DCMTK's own loader and dcmdump are the
// independent references.
#include "support.h"

#include <dcmtk/config/osconfig.h>
#include <dcmtk/dcmdata/dctk.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <iterator>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <string>
#include <vector>

using namespace zyl::toolkit::test;
namespace fs = std::filesystem;

namespace {

std::string corpus(const char* name) { return std::string(ZYL_PYDICOM_FILES) + "/" + name; }

std::vector<std::uint32_t> ourTags(int id) {
  std::vector<std::uint32_t> tags;
  std::uint32_t t = 0;
  MC_VR vr;
  int count = 0;
  for (MC_STATUS s = MC_Get_First_Attribute(id, &t, &vr, &count); s == MC_NORMAL_COMPLETION;
       s = MC_Get_Next_Attribute(id, &t, &vr, &count))
    tags.push_back(t);
  return tags;
}

std::vector<std::uint32_t> referenceTags(DcmFileFormat& file) {
  std::vector<std::uint32_t> tags;
  for (DcmItem* item : {static_cast<DcmItem*>(file.getMetaInfo()), static_cast<DcmItem*>(file.getDataset())})
    for (DcmObject* o = item->nextInContainer(nullptr); o; o = item->nextInContainer(o))
      tags.push_back(static_cast<std::uint32_t>(o->getTag().getGroup()) << 16 | o->getTag().getElement());
  return tags;
}

// Compares every top-level text and binary value with DCMTK's reading.
void expectSameValues(int id, DcmFileFormat& reference) {
  for (DcmItem* item :
       {static_cast<DcmItem*>(reference.getMetaInfo()), static_cast<DcmItem*>(reference.getDataset())}) {
    for (DcmObject* o = item->nextInContainer(nullptr); o; o = item->nextInContainer(o)) {
      auto* e = static_cast<DcmElement*>(o);
      const std::uint32_t t = static_cast<std::uint32_t>(e->getTag().getGroup()) << 16 | e->getTag().getElement();
      SCOPED_TRACE(e->getTag().toString().c_str());
      if (e->getLength() == 0 && e->ident() != EVR_PixelData) {  // encapsulated data reports 0
        unsigned long length = 0;
        EXPECT_EQ(MC_Get_Value_Length(id, t, 1, &length), MC_NULL_VALUE);
        continue;
      }
      if (DcmVR(e->getVR()).isaString()) {
        for (unsigned long k = 0; k < e->getVM(); ++k) {
          OFString expected;
          e->getOFString(expected, k, OFTrue);
          while (!expected.empty() && expected.back() == '\0') expected.pop_back();
          std::vector<char> buffer(expected.size() + 2);
          const MC_STATUS s = k == 0
                                  ? MC_Get_Value_To_String(id, t, static_cast<int>(buffer.size()), buffer.data())
                                  : MC_Get_Next_Value_To_String(id, t, static_cast<int>(buffer.size()), buffer.data());
          ASSERT_EQ(s, MC_NORMAL_COMPLETION);
          EXPECT_EQ(std::string(buffer.data()), std::string(expected));
          if (e->getVR() == EVR_LT || e->getVR() == EVR_ST || e->getVR() == EVR_UT || e->getVR() == EVR_UR) break;
        }
      } else if (e->getVR() == EVR_OB && e->ident() != EVR_PixelData) {
        Uint8* expected = nullptr;
        if (e->getUint8Array(expected).bad() || !expected) continue;
        std::vector<std::uint8_t> buffer(e->getLength());
        int returned = 0;
        ASSERT_EQ(MC_Get_Value_To_Buffer(id, t, static_cast<int>(buffer.size()), buffer.data(), &returned),
                  MC_NORMAL_COMPLETION);
        ASSERT_EQ(static_cast<Uint32>(returned), e->getLength());
        EXPECT_EQ(std::memcmp(buffer.data(), expected, buffer.size()), 0);
      } else if (e->getVR() == EVR_US) {
        for (unsigned long k = 0; k < e->getVM(); ++k) {
          Uint16 expected = 0;
          e->getUint16(expected, k);
          unsigned int value = 0;
          ASSERT_EQ(k == 0 ? MC_Get_Value_To_UInt(id, t, &value) : MC_Get_Next_Value_To_UInt(id, t, &value),
                    MC_NORMAL_COMPLETION);
          EXPECT_EQ(value, expected);
        }
      }
    }
  }
}

// Top-level tags as dcmdump prints them for a file.
std::vector<std::uint32_t> dcmdumpTags(const std::string& path) {
  const std::string command = "dcmdump -q +L " + path + " 2>&1";
  std::unique_ptr<FILE, decltype(&pclose)> pipe(popen(command.c_str(), "r"), pclose);
  std::vector<std::uint32_t> tags;
  char line[4096];
  while (pipe && fgets(line, sizeof line, pipe.get())) {
    unsigned group = 0, element = 0;
    if (line[0] == '(' && std::sscanf(line, "(%4x,%4x)", &group, &element) == 2 && group != 0xFFFE)
      tags.push_back(group << 16 | element);
  }
  std::sort(tags.begin(), tags.end());
  return tags;
}

// A file in the process's own temporary folder, removed at exit.
std::string tempPath(const std::string& name) {
  static const zyl::test::TempDir folder("zyltoolkit");
  return folder.file(name);
}

}  // namespace

TEST(ToolkitFiles, CorpusReadsAsDcmtkReadsItInOddChunks) {
  int files = 0, opened = 0;
  for (const auto& entry : fs::directory_iterator(ZYL_PYDICOM_FILES)) {
    if (entry.path().extension() != ".dcm") continue;
    ++files;
    const std::string path = entry.path().string();
    SCOPED_TRACE(path);
    DcmFileFormat reference;
    const bool readable =
        reference.loadFile(path.c_str(), EXS_Unknown, EGL_noChange, DCM_MaxReadLength, ERM_fileOnly).good() &&
        reference.loadAllDataIntoMemory().good();
    const auto bytes = readBytes(path);
    int id = 0;
    const MC_STATUS s = openFromBytes(bytes, 997, id);
    if (!readable) {  // only a status is asked of us here
      if (s == MC_NORMAL_COMPLETION) MC_Free_File(id);
      continue;
    }
    ASSERT_EQ(s, MC_NORMAL_COMPLETION) << s << " " << MC_Error_Message(s);
    ++opened;
    EXPECT_EQ(ourTags(id), referenceTags(reference));
    expectSameValues(id, reference);
    EXPECT_EQ(MC_Free_File(id), MC_NORMAL_COMPLETION);
  }
  EXPECT_GT(files, 40);
  EXPECT_GT(opened, 35);
}

TEST(ToolkitFiles, MetaGroupWithoutTransferSyntaxStillLoadsTheDataSet) {
  int id = 0;
  ASSERT_EQ(openFromBytes(readBytes(corpus("meta_missing_tsyntax.dcm")), 100, id), MC_NORMAL_COMPLETION);
  unsigned long length = 0;
  EXPECT_EQ(MC_Get_Value_Length(id, tag(0x0002, 0x0010), 1, &length), MC_INVALID_TAG);
  EXPECT_EQ(MC_Get_Value_Length(id, tag(0x0002, 0x0002), 1, &length), MC_NULL_VALUE);
  ASSERT_EQ(MC_Get_Value_Length(id, tag(0x7FE0, 0x0010), 1, &length), MC_NORMAL_COMPLETION);
  EXPECT_EQ(length, 2u);
  MC_Free_File(id);
}

// The stored length of encapsulated Pixel Data: its fragment items with
// their 8-byte headers, as dcmdump lists them.
TEST(ToolkitFiles, EncapsulatedPixelDataHasTheLengthOfItsFragments) {
  for (const char* name : {"JPEG2000.dcm", "SC_rgb_jpeg_dcmtk.dcm", "MR_small_jp2klossless.dcm", "SC_rgb_rle.dcm"}) {
    SCOPED_TRACE(name);
    const std::string command = "dcmdump -q " + corpus(name) + " 2>&1";
    std::unique_ptr<FILE, decltype(&pclose)> pipe(popen(command.c_str(), "r"), pclose);
    unsigned long expected = 0;
    bool inPixels = false;
    char line[8192];
    while (pipe && fgets(line, sizeof line, pipe.get())) {
      const std::string text = line;
      if (text.rfind("(7fe0,0010)", 0) == 0) inPixels = true;
      const size_t hash = text.rfind('#');
      if (inPixels && text.find("(fffe,e000)") != std::string::npos && hash != std::string::npos)
        expected += std::strtoul(text.c_str() + hash + 1, nullptr, 10) + 8;
    }
    ASSERT_GT(expected, 16u);
    int id = 0;
    ASSERT_EQ(openFromBytes(readBytes(corpus(name)), 4096, id), MC_NORMAL_COMPLETION);
    unsigned long length = 0;
    EXPECT_EQ(MC_Get_Value_Length(id, tag(0x7FE0, 0x0010), 1, &length), MC_NORMAL_COMPLETION);
    EXPECT_EQ(length, expected);
    MC_Free_File(id);
  }
}

TEST(ToolkitFiles, ChunkBoundariesAnywhereGiveTheSameData) {
  const auto bytes = readBytes(corpus("CT_small.dcm"));
  int whole = 0;
  ASSERT_EQ(openFromBytes(bytes, bytes.size(), whole), MC_NORMAL_COMPLETION);
  const auto expected = ourTags(whole);
  for (std::size_t chunk : {1u, 2u, 7u, 131u, 132u, 133u, 4099u}) {
    SCOPED_TRACE(chunk);
    int id = 0;
    ASSERT_EQ(openFromBytes(bytes, chunk, id), MC_NORMAL_COMPLETION);
    EXPECT_EQ(ourTags(id), expected);
    std::vector<std::uint8_t> a, b;
    ASSERT_EQ(writeToBytes(id, a), MC_NORMAL_COMPLETION);
    ASSERT_EQ(writeToBytes(whole, b), MC_NORMAL_COMPLETION);
    EXPECT_EQ(a, b);
    MC_Free_File(id);
  }
  MC_Free_File(whole);
}

TEST(ToolkitFiles, ReadingUpToATagStopsBeforeIt) {
  const auto bytes = readBytes(corpus("CT_small.dcm"));
  initToolkit();
  int id = 0;
  ASSERT_EQ(MC_Create_Empty_File(&id, "ct.dcm"), MC_NORMAL_COMPLETION);
  MemoryReader reader;
  reader.bytes = &bytes;
  reader.chunkSize = 512;
  ASSERT_EQ(MC_Open_File_Upto_Tag(applicationId(), id, &reader, tag(0x7FE0, 0x0000), memoryFileReader),
            MC_NORMAL_COMPLETION);
  unsigned long length = 0;
  EXPECT_EQ(MC_Get_Value_Length(id, tag(0x7FE0, 0x0010), 1, &length), MC_INVALID_TAG);
  unsigned int rows = 0;
  ASSERT_EQ(MC_Get_Value_To_UInt(id, tag(0x0028, 0x0010), &rows), MC_NORMAL_COMPLETION);
  EXPECT_EQ(rows, 128u);
  EXPECT_LT(reader.offset, bytes.size());  // the pixel data was never pulled
  MC_Free_File(id);
}

TEST(ToolkitFiles, WrittenFilesAreReadByDcmdumpAndReadBackEqualInEverySyntax) {
  const auto bytes = readBytes(corpus("CT_small.dcm"));
  for (const char* syntax : {"1.2.840.10008.1.2.1", "1.2.840.10008.1.2", "1.2.840.10008.1.2.2"}) {
    SCOPED_TRACE(syntax);
    int id = 0;
    ASSERT_EQ(openFromBytes(bytes, 4096, id), MC_NORMAL_COMPLETION);
    ASSERT_EQ(MC_Set_Value_From_String(id, tag(0x0002, 0x0010), syntax), MC_NORMAL_COMPLETION);
    ASSERT_EQ(MC_Set_Value_From_String(id, tag(0x0010, 0x0010), "Round^Trip"), MC_NORMAL_COMPLETION);
    std::vector<std::uint8_t> written;
    ASSERT_EQ(writeToBytes(id, written), MC_NORMAL_COMPLETION);

    const std::string path = tempPath("written.dcm");
    std::ofstream(path, std::ios::binary)
        .write(reinterpret_cast<const char*>(written.data()), static_cast<std::streamsize>(written.size()));
    DcmFileFormat reference;
    ASSERT_TRUE(reference.loadFile(path.c_str()).good());
    OFString name, ts;
    reference.getDataset()->findAndGetOFString(DCM_PatientName, name);
    reference.getMetaInfo()->findAndGetOFString(DCM_TransferSyntaxUID, ts);
    EXPECT_EQ(std::string(name), "Round^Trip");
    EXPECT_EQ(std::string(ts), syntax);
    int again = 0;
    ASSERT_EQ(openFromBytes(written, 333, again), MC_NORMAL_COMPLETION);
    {
      const auto dumped = dcmdumpTags(path);
      auto ours = ourTags(again);
      std::sort(ours.begin(), ours.end());
      std::vector<std::uint32_t> onlyDumped, onlyOurs;
      std::set_difference(dumped.begin(), dumped.end(), ours.begin(), ours.end(), std::back_inserter(onlyDumped));
      std::set_difference(ours.begin(), ours.end(), dumped.begin(), dumped.end(), std::back_inserter(onlyOurs));
      EXPECT_TRUE(onlyDumped.empty()) << std::hex << (onlyDumped.empty() ? 0 : onlyDumped[0]);
      EXPECT_TRUE(onlyOurs.empty()) << std::hex << (onlyOurs.empty() ? 0 : onlyOurs[0]);
    }
    expectSameValues(again, reference);
    MC_TRANSFER_SYNTAX number;
    ASSERT_EQ(MC_Get_Message_Transfer_Syntax(again, &number), MC_NORMAL_COMPLETION);
    char uid[66];
    ASSERT_EQ(MC_Get_Transfer_Syntax_From_Enum(number, uid, sizeof uid), MC_NORMAL_COMPLETION);
    EXPECT_EQ(std::string(uid), syntax);
    std::vector<std::uint8_t> pixelsA(32768), pixelsB(32768);
    int na = 0, nb = 0;
    ASSERT_EQ(MC_Get_Value_To_Buffer(id, tag(0x7FE0, 0x0010), 32768, pixelsA.data(), &na), MC_NORMAL_COMPLETION);
    ASSERT_EQ(MC_Get_Value_To_Buffer(again, tag(0x7FE0, 0x0010), 32768, pixelsB.data(), &nb), MC_NORMAL_COMPLETION);
    EXPECT_EQ(na, nb);
    EXPECT_EQ(pixelsA, pixelsB);
    fs::remove(path);
    MC_Free_File(again);
    MC_Free_File(id);
  }
}

TEST(ToolkitFiles, NewFileGetsAValidMetaGroup) {
  initToolkit();
  int id = 0;
  ASSERT_EQ(MC_Create_File(&id, "new.dcm", "STANDARD_SECONDARY_CAPTURE_IMAGE", MC_CMD_C_STORE_RQ),
            MC_NORMAL_COMPLETION);
  ASSERT_EQ(MC_Set_Value_From_String(id, tag(0x0008, 0x0016), "1.2.840.10008.5.1.4.1.1.7"), MC_NORMAL_COMPLETION);
  ASSERT_EQ(MC_Set_Value_From_String(id, tag(0x0008, 0x0018), "1.2.3.4.5.6"), MC_NORMAL_COMPLETION);
  ASSERT_EQ(MC_Set_Value_From_String(id, tag(0x0002, 0x0010), "1.2.840.10008.1.2.1"), MC_NORMAL_COMPLETION);
  ASSERT_EQ(MC_Set_Value_From_String(id, tag(0x0002, 0x0016), "ZYL_ORVO"), MC_NORMAL_COMPLETION);
  ASSERT_EQ(MC_Set_Value_From_UInt(id, tag(0x0028, 0x0100), 8), MC_NORMAL_COMPLETION);
  const std::uint8_t odd[5] = {9, 8, 7, 6, 5};
  ASSERT_EQ(MC_Set_Value_From_Buffer(id, tag(0x7FE0, 0x0010), odd, 5), MC_NORMAL_COMPLETION);
  ASSERT_EQ(MC_Add_Standard_Attribute(id, tag(0x0010, 0x0020)), MC_NORMAL_COMPLETION);  // empty: not written
  ASSERT_EQ(MC_Set_Value_To_NULL(id, tag(0x0010, 0x0030)), MC_NORMAL_COMPLETION);       // null: written
  // A command field (what a received message carries) stays out of the file.
  ASSERT_EQ(MC_Set_Value_From_UInt(id, tag(0x0000, 0x0900), 0xA700), MC_NORMAL_COMPLETION);
  std::vector<std::uint8_t> written;
  ASSERT_EQ(writeToBytes(id, written), MC_NORMAL_COMPLETION);
  const std::string path = tempPath("new.dcm");
  std::ofstream(path, std::ios::binary)
      .write(reinterpret_cast<const char*>(written.data()), static_cast<std::streamsize>(written.size()));
  DcmFileFormat reference;
  ASSERT_TRUE(reference.loadFile(path.c_str()).good());
  DcmMetaInfo& meta = *reference.getMetaInfo();
  Uint32 groupLength = 0;
  ASSERT_TRUE(meta.findAndGetUint32(DCM_FileMetaInformationGroupLength, groupLength).good());
  Uint32 sum = 0;
  for (DcmObject* o = meta.nextInContainer(nullptr); o; o = meta.nextInContainer(o))
    if (o->getTag() != DCM_FileMetaInformationGroupLength)
      sum += static_cast<DcmElement*>(o)->calcElementLength(EXS_LittleEndianExplicit, EET_ExplicitLength);
  EXPECT_EQ(groupLength, sum);
  for (const DcmTagKey& key :
       {DCM_FileMetaInformationVersion, DCM_MediaStorageSOPClassUID, DCM_MediaStorageSOPInstanceUID,
        DCM_ImplementationClassUID, DCM_ImplementationVersionName, DCM_SourceApplicationEntityTitle})
    EXPECT_TRUE(meta.tagExists(key)) << key.toString();
  OFString instance;
  meta.findAndGetOFString(DCM_MediaStorageSOPInstanceUID, instance);
  EXPECT_EQ(std::string(instance), "1.2.3.4.5.6");
  DcmDataset& data = *reference.getDataset();
  EXPECT_FALSE(data.tagExists(DCM_PatientID));
  EXPECT_TRUE(data.tagExists(DCM_PatientBirthDate));
  DcmElement* pixels = nullptr;
  ASSERT_TRUE(data.findAndGetElement(DCM_PixelData, pixels).good());
  EXPECT_EQ(pixels->getLength(), 6u);
  EXPECT_FALSE(dcmdumpTags(path).empty());
  EXPECT_FALSE(data.tagExists(DcmTagKey(0x0000, 0x0900)));
  unsigned int status = 0;
  EXPECT_EQ(MC_Get_Value_To_UInt(id, tag(0x0000, 0x0900), &status), MC_NORMAL_COMPLETION);
  EXPECT_EQ(status, 0xA700u);
  fs::remove(path);
  MC_Free_File(id);
}

TEST(ToolkitFiles, RawDataSetsStreamIntoMessagesWithinATagRange) {
  initToolkit();
  const auto bytes = readBytes(corpus("ExplVR_LitEndNoMeta.dcm"));
  int id = 0;
  ASSERT_EQ(MC_Open_Empty_Message(&id), MC_NORMAL_COMPLETION);
  MemoryReader reader;
  reader.bytes = &bytes;
  reader.chunkSize = 1001;
  ASSERT_EQ(MC_Stream_To_Message(id, tag(0x0008, 0x0000), 0xFFFFFFFF, MC_TS_EXPLICIT_LITTLE_ENDIAN, &reader,
                                 memoryStreamReader),
            MC_NORMAL_COMPLETION);
  DcmFileFormat reference;
  ASSERT_TRUE(reference
                  .loadFile(corpus("ExplVR_LitEndNoMeta.dcm").c_str(), EXS_LittleEndianExplicit, EGL_noChange,
                            DCM_MaxReadLength, ERM_dataset)
                  .good());
  expectSameValues(id, reference);
  MC_TRANSFER_SYNTAX syntax;
  ASSERT_EQ(MC_Get_Message_Transfer_Syntax(id, &syntax), MC_NORMAL_COMPLETION);
  EXPECT_EQ(syntax, MC_TS_EXPLICIT_LITTLE_ENDIAN);

  MemoryReader again;
  again.bytes = &bytes;
  again.chunkSize = 4096;
  ASSERT_EQ(MC_Stream_To_Message(id, tag(0x0018, 0x0000), tag(0x0018, 0xFFFF), MC_TS_EXPLICIT_LITTLE_ENDIAN, &again,
                                 memoryStreamReader),
            MC_NORMAL_COMPLETION);
  for (std::uint32_t t : ourTags(id)) EXPECT_EQ(t >> 16, 0x0018u);
  EXPECT_FALSE(ourTags(id).empty());
  // A message becomes a file and is written as one.
  ASSERT_EQ(MC_Message_To_File(id, "streamed.dcm"), MC_NORMAL_COMPLETION);
  std::vector<std::uint8_t> written;
  ASSERT_EQ(writeToBytes(id, written), MC_NORMAL_COMPLETION);
  int reopened = 0;
  ASSERT_EQ(openFromBytes(written, 50, reopened), MC_NORMAL_COMPLETION);
  MC_Free_File(reopened);
  MC_Free_Message(id);
}

namespace {

// A minimal DICOM file written by the toolkit, with `tail` appended to its data set.
std::vector<std::uint8_t> fileWithTail(const std::vector<std::uint8_t>& tail) {
  int id = 0;
  EXPECT_EQ(MC_Create_Empty_File(&id, "x.dcm"), MC_NORMAL_COMPLETION);
  MC_Set_Value_From_String(id, tag(0x0002, 0x0010), "1.2.840.10008.1.2.1");
  MC_Set_Value_From_String(id, tag(0x0008, 0x0016), "1.2.840.10008.5.1.4.1.1.7");
  std::vector<std::uint8_t> bytes;
  EXPECT_EQ(writeToBytes(id, bytes), MC_NORMAL_COMPLETION);
  MC_Free_File(id);
  bytes.insert(bytes.end(), tail.begin(), tail.end());
  return bytes;
}

void append16(std::vector<std::uint8_t>& v, std::uint16_t x) { v.push_back(x & 0xFF), v.push_back(x >> 8); }
void append32(std::vector<std::uint8_t>& v, std::uint32_t x) { append16(v, x & 0xFFFF), append16(v, x >> 16); }

}  // namespace

TEST(ToolkitFiles, MalformedInputGivesStatusesNotCrashes) {
  initToolkit();
  int id = 0;
  // Not a DICOM file, and a file too short for the preamble.
  std::vector<std::uint8_t> garbage(300, 0x41);
  EXPECT_EQ(openFromBytes(garbage, 64, id), MC_INVALID_FILE);
  std::vector<std::uint8_t> tiny(50, 0);
  EXPECT_EQ(openFromBytes(tiny, 64, id), MC_INVALID_FILE);

  // A declared length of almost 4 GiB is refused before anything is reserved.
  std::vector<std::uint8_t> huge;
  append16(huge, 0x0011), append16(huge, 0x1001), huge.push_back('O'), huge.push_back('B'), append16(huge, 0);
  append32(huge, 0xFFFFFFF0u);
  huge.resize(huge.size() + 100, 0);
  EXPECT_EQ(openFromBytes(fileWithTail(huge), 4096, id), MC_LIMIT_EXCEEDED);

  // Sequences nested beyond the limit.
  std::vector<std::uint8_t> deep;
  for (int level = 0; level < 200; ++level) {
    append16(deep, 0x0011), append16(deep, 0x1001), deep.push_back('S'), deep.push_back('Q'), append16(deep, 0);
    append32(deep, 0xFFFFFFFFu);
    append16(deep, 0xFFFE), append16(deep, 0xE000), append32(deep, 0xFFFFFFFFu);
  }
  EXPECT_EQ(openFromBytes(fileWithTail(deep), 4096, id), MC_NESTING_TOO_DEEP);

  // Every cut of a real file either fails with a status or reads a prefix.
  const auto bytes = readBytes(corpus("CT_small.dcm"));
  int failures = 0;
  for (std::size_t cut = 0; cut < bytes.size(); cut += 37) {
    std::vector<std::uint8_t> part(bytes.begin(), bytes.begin() + static_cast<std::ptrdiff_t>(cut));
    const MC_STATUS s = openFromBytes(part, 1000, id);
    if (s == MC_NORMAL_COMPLETION)
      MC_Free_File(id);
    else
      ++failures;
  }
  EXPECT_GT(failures, 0);

  // A reader that fails, or hands back a negative size.
  ASSERT_EQ(MC_Create_Empty_File(&id, "x.dcm"), MC_NORMAL_COMPLETION);
  auto failing = [](const char*, void*, int*, void**, int, int*) -> MC_STATUS { return MC_CANNOT_COMPLY; };
  EXPECT_EQ(MC_Open_File(applicationId(), id, nullptr, failing), MC_CALLBACK_CANNOT_COMPLY);
  auto negative = [](const char*, void*, int* size, void**, int, int* last) -> MC_STATUS {
    *size = -5;
    *last = 1;
    return MC_NORMAL_COMPLETION;
  };
  EXPECT_EQ(MC_Open_File(applicationId(), id, nullptr, negative), MC_CALLBACK_DATA_SIZE_NEGATIVE);
  EXPECT_EQ(MC_Open_File(9999, id, nullptr, negative), MC_INVALID_APPLICATION_ID);
  MC_Free_File(id);
}

// Compressed pixel data through the C interface: every frame of the sample
// files against dcmdjpeg / GDCM, frames written and read back, changes of
// syntax, files written compressed and read by other tools, refusals and
// malformed encapsulated data.
#include "codec_test_support.h"
#include "support.h"

#include <dcmtk/config/osconfig.h>
#include <dcmtk/dcmdata/dcistrmb.h>
#include <dcmtk/dcmdata/dctk.h>
#include <dcmtk/oflog/oflog.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

using namespace zyl::toolkit::test;
namespace codec = zyl::codec;
namespace ct = zyl::codec::test;
namespace fs = std::filesystem;

namespace {

constexpr std::uint32_t kPixelData = tag(0x7FE0, 0x0010);
constexpr std::uint32_t kPhotometric = tag(0x0028, 0x0004);
constexpr std::uint32_t kPlanar = tag(0x0028, 0x0006);
constexpr std::uint32_t kLossy = tag(0x0028, 0x2110);
constexpr std::uint32_t kLossyRatio = tag(0x0028, 0x2112);
constexpr std::uint32_t kLossyMethod = tag(0x0028, 0x2114);

// Each frame a receiver is handed, checking the first/last flags pair up.
struct Frames {
  std::vector<ct::Bytes> frames;
  bool open = false;
  int flagErrors = 0;
};
MC_STATUS collect(int, uint32_t, void* user, int size, void* data, int first, int last) {
  auto& c = *static_cast<Frames*>(user);
  if (first) {
    c.flagErrors += c.open ? 1 : 0;
    c.frames.emplace_back();
    c.open = true;
  } else if (!c.open) {
    ++c.flagErrors;
    c.frames.emplace_back();
  }
  const auto* p = static_cast<const std::uint8_t*>(data);
  c.frames.back().insert(c.frames.back().end(), p, p + size);
  if (last) c.open = false;
  return MC_NORMAL_COMPLETION;
}

// Reads all frames with Get, then Next while frames follow; returns the statuses.
std::vector<MC_STATUS> readFrames(int id, Frames& out) {
  std::vector<MC_STATUS> statuses{MC_Get_Encapsulated_Value_To_Function(id, kPixelData, &out, collect)};
  while (statuses.back() == MC_END_OF_FRAME)
    statuses.push_back(MC_Get_Next_Encapsulated_Value_To_Function(id, kPixelData, &out, collect));
  return statuses;
}

// Hands one buffer to the toolkit as the file object does: whole, or for an
// odd length all but the last byte, then the last byte and a zero.
struct Supply {
  const std::uint8_t* data = nullptr;
  std::size_t size = 0;
  std::uint8_t tail[2] = {0, 0};
  int calls = 0;
};
MC_STATUS supply(int, uint32_t, void* user, int first, int* size, void** data, int* last) {
  auto& s = *static_cast<Supply*>(user);
  ++s.calls;
  const bool odd = s.size % 2 == 1;
  if (first) {
    *data = const_cast<std::uint8_t*>(s.data);
    *size = static_cast<int>(odd ? s.size - 1 : s.size);
    *last = !odd;
  } else {
    s.tail[0] = s.data[s.size - 1];
    *data = s.tail;
    *size = 2;
    *last = 1;
  }
  return MC_NORMAL_COMPLETION;
}

MC_STATUS registerStandard(int id) {
  return MC_Register_Compression_Callbacks(id, MC_Standard_Compressor, MC_Standard_Decompressor);
}

std::string text(int id, std::uint32_t t) {
  char buffer[256] = {};
  return MC_Get_Value_To_String(id, t, sizeof buffer, buffer) == MC_NORMAL_COMPLETION ? buffer : "<none>";
}

void putImage(int id, const codec::ImageDescription& image) {
  ASSERT_EQ(MC_Set_Value_From_Int(id, tag(0x0028, 0x0010), image.rows), MC_NORMAL_COMPLETION);
  MC_Set_Value_From_Int(id, tag(0x0028, 0x0011), image.columns);
  MC_Set_Value_From_Int(id, tag(0x0028, 0x0002), image.samplesPerPixel);
  MC_Set_Value_From_Int(id, tag(0x0028, 0x0100), image.bitsAllocated);
  MC_Set_Value_From_Int(id, tag(0x0028, 0x0101), image.bitsStored);
  MC_Set_Value_From_Int(id, tag(0x0028, 0x0102), image.highBit);
  MC_Set_Value_From_Int(id, tag(0x0028, 0x0103), image.pixelRepresentation);
  MC_Set_Value_From_String(id, kPhotometric, image.photometric.c_str());
  if (image.samplesPerPixel > 1) MC_Set_Value_From_Int(id, kPlanar, image.planarConfiguration);
  if (image.frames > 1) MC_Set_Value_From_Int(id, tag(0x0028, 0x0008), static_cast<int>(image.frames));
}

// A message holding the image attributes, in `syntax`, without pixel data.
int imageMessage(const codec::ImageDescription& image, MC_TRANSFER_SYNTAX syntax) {
  initToolkit();
  int id = 0;
  EXPECT_EQ(MC_Open_Empty_Message(&id), MC_NORMAL_COMPLETION);
  putImage(id, image);
  EXPECT_EQ(MC_Set_Message_Transfer_Syntax(id, syntax), MC_NORMAL_COMPLETION);
  return id;
}

// Hands all frames to the encapsulated-value calls, then closes the value.
MC_STATUS writeFrames(int id, const codec::ImageDescription& image, const ct::Bytes& frames) {
  const std::size_t frameBytes = image.frameBytes();
  for (std::uint32_t f = 0; f < image.frames; ++f) {
    Supply s{frames.data() + f * frameBytes, frameBytes};
    const MC_STATUS status = f == 0 ? MC_Set_Encapsulated_Value_From_Function(id, kPixelData, &s, supply)
                                    : MC_Set_Next_Encapsulated_Value_From_Function(id, kPixelData, &s, supply);
    if (status != MC_NORMAL_COMPLETION) return status;
  }
  return MC_Close_Encapsulated_Value(id, kPixelData);
}

ct::Bytes allFrames(const codec::ImageDescription& image) {
  ct::Bytes frames;
  for (std::uint32_t f = 0; f < image.frames; ++f) {
    const ct::Bytes frame = ct::syntheticFrame(image, 11 + f);
    frames.insert(frames.end(), frame.begin(), frame.end());
  }
  return frames;
}

ct::Bytes joined(const Frames& frames) {
  ct::Bytes all;
  for (const auto& f : frames.frames) all.insert(all.end(), f.begin(), f.end());
  return all;
}

// Lossless: equal samples. Lossy: the codec library's tolerances (a fraction
// of the sample range, mean and maximum).
void expectClose(const codec::ImageDescription& image, const ct::Bytes& expected, const ct::Bytes& actual,
                 bool lossless) {
  ASSERT_EQ(expected.size(), actual.size());
  const ct::Difference d = ct::compare(image, expected, actual);
  const double range = static_cast<double>(1L << image.bitsStored);
  if (lossless) {
    EXPECT_EQ(d.maxAbs, 0);
  } else {
    EXPECT_LE(d.meanAbs, 0.01 * range);
    EXPECT_LE(static_cast<double>(d.maxAbs), 0.10 * range);
  }
}

// ---- Sample files against the reference tools ---------------------------------

struct SampleFile {
  fs::path path;
  codec::Syntax syntax;
};

std::vector<SampleFile> sampleFiles() {
  OFLog::configure(OFLogger::FATAL_LOG_LEVEL);
  std::vector<SampleFile> files;
  std::error_code error;
  for (const auto& entry : fs::directory_iterator(ZYL_PYDICOM_FILES, error)) {
    if (entry.path().extension() != ".dcm") continue;
    DcmFileFormat file;
    if (file.loadFile(entry.path().c_str()).bad()) continue;
    OFString uid;
    file.getMetaInfo()->findAndGetOFString(DCM_TransferSyntaxUID, uid);
    const auto syntax = codec::syntaxFromUid(uid.c_str());
    if (syntax && file.getDataset()->tagExists(DCM_PixelData)) files.push_back({entry.path(), *syntax});
  }
  std::sort(files.begin(), files.end(), [](const auto& a, const auto& b) { return a.path < b.path; });
  return files;
}

class SampleFrames : public testing::TestWithParam<SampleFile> {};

TEST_P(SampleFrames, EveryFrameEqualsTheReferenceInAnyOrder) {
  const SampleFile& sample = GetParam();
  const auto [tool, options] = ct::referenceTool(sample.syntax);
  if (!ct::toolAvailable(tool)) GTEST_SKIP() << "reference tool missing: " << tool;
  ct::TempDir temp;
  const fs::path reference = temp.path() / "reference.dcm";
  const int toolStatus =
      ct::run(std::string(tool) + options + "'" + sample.path.string() + "' '" + reference.string() + "'",
              temp.path() / "tool.log");

  int id = 0;
  ASSERT_EQ(openFromBytes(readBytes(sample.path.string()), 16384, id), MC_NORMAL_COMPLETION);
  Frames unregistered;
  EXPECT_EQ(MC_Get_Encapsulated_Value_To_Function(id, kPixelData, &unregistered, collect), MC_DECOMPRESSOR_REQUIRED);
  ASSERT_EQ(registerStandard(id), MC_NORMAL_COMPLETION);
  Frames inOrder;
  const std::vector<MC_STATUS> statuses = readFrames(id, inOrder);
  if (toolStatus != 0 || !fs::exists(reference)) {
    // What the reference tool refuses we refuse too, with a status.
    EXPECT_NE(statuses.back(), MC_NORMAL_COMPLETION);
    MC_Free_File(id);
    return;
  }

  DcmFileFormat original;
  ASSERT_TRUE(original.loadFile(sample.path.c_str()).good());
  const codec::ImageDescription image = codec::describeImage(*original.getDataset());
  const ct::NativePixels expected = ct::readNativeFile(reference);
  const ct::Bytes expectedBytes = ct::toColourByPixel(expected.image, expected.bytes);
  ASSERT_EQ(statuses.back(), MC_NORMAL_COMPLETION);
  ASSERT_EQ(statuses.size(), image.frames);
  EXPECT_EQ(MC_Get_Next_Encapsulated_Value_To_Function(id, kPixelData, &inOrder, collect), MC_NO_MORE_VALUES);
  EXPECT_EQ(inOrder.flagErrors, 0);
  ASSERT_EQ(inOrder.frames.size(), image.frames);

  const std::size_t frameBytes = image.frameBytes();
  for (std::uint32_t f = 0; f < image.frames; ++f) {
    const ct::Bytes want(expectedBytes.begin() + static_cast<std::ptrdiff_t>(f * frameBytes),
                         expectedBytes.begin() + static_cast<std::ptrdiff_t>((f + 1) * frameBytes));
    ASSERT_EQ(inOrder.frames[f].size(), frameBytes) << "frame " << f;
    EXPECT_EQ(ct::compare(image, want, inOrder.frames[f]).maxAbs, 0) << "frame " << f;
  }
  // Last to first, each frame on its own.
  for (std::uint32_t f = image.frames; f-- > 0;) {
    Frames one;
    EXPECT_EQ(MC_Get_Encapsulated_Frame_To_Function(id, kPixelData, f, &one, collect),
              f + 1 < image.frames ? MC_END_OF_FRAME : MC_NORMAL_COMPLETION);
    ASSERT_EQ(one.frames.size(), 1u);
    EXPECT_EQ(one.frames[0], inOrder.frames[f]) << "frame " << f;
  }
  Frames none;
  EXPECT_EQ(MC_Get_Encapsulated_Frame_To_Function(id, kPixelData, image.frames, &none, collect),
            MC_INVALID_VALUE_NUMBER);
  // The whole value, as the typed getters give it: all frames, one value.
  Frames whole;
  EXPECT_EQ(MC_Get_Value_To_Function(id, kPixelData, &whole, collect), MC_NORMAL_COMPLETION);
  ASSERT_EQ(whole.frames.size(), 1u);
  EXPECT_EQ(whole.frames[0], joined(inOrder));
  MC_Free_File(id);
}

std::string sampleName(const testing::TestParamInfo<SampleFile>& info) {
  std::string name = info.param.path.stem().string();
  for (char& c : name)
    if (!std::isalnum(static_cast<unsigned char>(c))) c = '_';
  return name;
}

INSTANTIATE_TEST_SUITE_P(PydicomFiles, SampleFrames, testing::ValuesIn(sampleFiles()), sampleName);
GTEST_ALLOW_UNINSTANTIATED_PARAMETERIZED_TEST(SampleFrames);

// ---- Round trips ------------------------------------------------------------------

struct RoundTrip {
  const char* name;
  MC_TRANSFER_SYNTAX syntax;
  codec::ImageDescription image;
  const char* encodedPhotometric;
};

bool lossless(MC_TRANSFER_SYNTAX s) { return s == MC_TS_JPEG_LOSSLESS_SV1 || s == MC_TS_JPEG2000_LOSSLESS_ONLY; }

std::vector<RoundTrip> roundTrips() {
  return {
      {"BaselineGrey8", MC_TS_JPEG_BASELINE, ct::describe(64, 48, 1, 8, 8, 0, 2), "MONOCHROME2"},
      {"BaselineRgb8", MC_TS_JPEG_BASELINE, ct::describe(32, 40, 3, 8, 8, 0), "YBR_FULL_422"},
      {"ExtendedGrey12", MC_TS_JPEG_EXTENDED_2_4, ct::describe(40, 40, 1, 16, 12, 0), "MONOCHROME2"},
      {"LosslessGrey8", MC_TS_JPEG_LOSSLESS_SV1, ct::describe(33, 17, 1, 8, 8, 0, 3), "MONOCHROME2"},
      {"LosslessGrey12", MC_TS_JPEG_LOSSLESS_SV1, ct::describe(40, 30, 1, 16, 12, 0), "MONOCHROME2"},
      {"LosslessSigned16", MC_TS_JPEG_LOSSLESS_SV1, ct::describe(32, 32, 1, 16, 16, 1, 2), "MONOCHROME2"},
      {"LosslessUnsigned16", MC_TS_JPEG_LOSSLESS_SV1, ct::describe(32, 32, 1, 16, 16, 0), "MONOCHROME2"},
      {"LosslessRgb8", MC_TS_JPEG_LOSSLESS_SV1, ct::describe(24, 20, 3, 8, 8, 0), "RGB"},
      {"J2kLosslessGrey8", MC_TS_JPEG2000_LOSSLESS_ONLY, ct::describe(3, 3, 1, 8, 8, 0), "MONOCHROME2"},
      {"J2kLosslessGrey12", MC_TS_JPEG2000_LOSSLESS_ONLY, ct::describe(48, 32, 1, 16, 12, 0, 2), "MONOCHROME2"},
      {"J2kLosslessSigned16", MC_TS_JPEG2000_LOSSLESS_ONLY, ct::describe(32, 32, 1, 16, 16, 1), "MONOCHROME2"},
      {"J2kLosslessUnsigned16", MC_TS_JPEG2000_LOSSLESS_ONLY, ct::describe(32, 16, 1, 16, 16, 0), "MONOCHROME2"},
      {"J2kLosslessRgb8", MC_TS_JPEG2000_LOSSLESS_ONLY, ct::describe(24, 24, 3, 8, 8, 0, 2), "YBR_RCT"},
      {"J2kSigned16", MC_TS_JPEG2000, ct::describe(64, 64, 1, 16, 16, 1), "MONOCHROME2"},
      {"J2kRgb8", MC_TS_JPEG2000, ct::describe(96, 96, 3, 8, 8, 0), "YBR_ICT"},
  };
}

class RoundTrips : public testing::TestWithParam<RoundTrip> {};

TEST_P(RoundTrips, EncapsulatedValueCallsEncodeAndDecodeEveryFrame) {
  const RoundTrip& c = GetParam();
  const int id = imageMessage(c.image, c.syntax);
  const ct::Bytes frames = allFrames(c.image);
  EXPECT_EQ(writeFrames(id, c.image, frames), MC_COMPRESSOR_REQUIRED);
  ASSERT_EQ(registerStandard(id), MC_NORMAL_COMPLETION);
  ASSERT_EQ(writeFrames(id, c.image, frames), MC_NORMAL_COMPLETION);

  // What encoding changed, and what stays the caller's business.
  EXPECT_EQ(text(id, kPhotometric), c.encodedPhotometric);
  if (c.image.samplesPerPixel == 3) {
    EXPECT_EQ(text(id, kPlanar), "0");
  }
  EXPECT_EQ(text(id, kLossy), "<none>");
  EXPECT_EQ(text(id, kLossyRatio) != "<none>", !lossless(c.syntax));
  EXPECT_EQ(text(id, kLossyMethod), lossless(c.syntax)           ? "<none>"
                                    : c.syntax == MC_TS_JPEG2000 ? "ISO_15444_1"
                                                                 : "ISO_10918_1");

  Frames read;
  const auto statuses = readFrames(id, read);
  EXPECT_EQ(statuses.back(), MC_NORMAL_COMPLETION);
  EXPECT_EQ(statuses.size(), c.image.frames);
  expectClose(c.image, frames, joined(read), lossless(c.syntax));
  Frames whole;
  EXPECT_EQ(MC_Get_Value_To_Function(id, kPixelData, &whole, collect), MC_NORMAL_COMPLETION);
  ASSERT_EQ(whole.frames.size(), 1u);
  EXPECT_EQ(whole.frames[0], joined(read));
  for (std::uint32_t f = c.image.frames; f-- > 0;) {
    Frames one;
    MC_Get_Encapsulated_Frame_To_Function(id, kPixelData, f, &one, collect);
    ASSERT_EQ(one.frames.size(), 1u);
    EXPECT_EQ(one.frames[0], read.frames[f]) << "frame " << f;
  }
  MC_Free_Message(id);
}

TEST_P(RoundTrips, SyntaxChangeCompressesAndDecompressesThePixelData) {
  const RoundTrip& c = GetParam();
  const int id = imageMessage(c.image, MC_TS_EXPLICIT_LITTLE_ENDIAN);
  const ct::Bytes frames = allFrames(c.image);
  ASSERT_EQ(MC_Set_Value_From_Buffer(id, kPixelData, frames.data(), static_cast<int>(frames.size())),
            MC_NORMAL_COMPLETION);
  // Native pixel data is handed out frame by frame as it is, without codecs.
  Frames native;
  EXPECT_EQ(readFrames(id, native).back(), MC_NORMAL_COMPLETION);
  EXPECT_EQ(native.frames.size(), c.image.frames);
  EXPECT_EQ(joined(native), frames);
  EXPECT_EQ(MC_Set_Message_Transfer_Syntax(id, c.syntax), MC_COMPRESSOR_REQUIRED);
  ASSERT_EQ(registerStandard(id), MC_NORMAL_COMPLETION);
  ASSERT_EQ(MC_Set_Message_Transfer_Syntax(id, c.syntax), MC_NORMAL_COMPLETION);
  MC_TRANSFER_SYNTAX now = MC_TS_INVALID;
  EXPECT_EQ(MC_Get_Message_Transfer_Syntax(id, &now), MC_NORMAL_COMPLETION);
  EXPECT_EQ(now, c.syntax);
  EXPECT_EQ(text(id, kPhotometric), c.encodedPhotometric);
  // A whole-message change marks a lossy copy itself.
  EXPECT_EQ(text(id, kLossy), lossless(c.syntax) ? "<none>" : "01");
  Frames compressed;
  EXPECT_EQ(readFrames(id, compressed).back(), MC_NORMAL_COMPLETION);

  ASSERT_EQ(MC_Set_Message_Transfer_Syntax(id, MC_TS_EXPLICIT_LITTLE_ENDIAN), MC_NORMAL_COMPLETION);
  std::vector<std::uint8_t> back(frames.size() + 16);
  int returned = 0;
  ASSERT_EQ(MC_Get_Value_To_Buffer(id, kPixelData, static_cast<int>(back.size()), back.data(), &returned),
            MC_NORMAL_COMPLETION);
  // An odd-length value is stored padded with one zero byte.
  ASSERT_EQ(static_cast<std::size_t>(returned), frames.size() + frames.size() % 2);
  if (frames.size() % 2 == 1) {
    EXPECT_EQ(back[frames.size()], 0);
  }
  back.resize(frames.size());
  EXPECT_EQ(back, joined(compressed));
  expectClose(c.image, frames, back, lossless(c.syntax));
  // Reported as decoded: colour comes back as RGB by pixel.
  EXPECT_EQ(text(id, kPhotometric), c.image.photometric);
  MC_Free_Message(id);
}

INSTANTIATE_TEST_SUITE_P(Syntaxes, RoundTrips, testing::ValuesIn(roundTrips()),
                         [](const auto& info) { return std::string(info.param.name); });

// The file object changes syntax by reading all frames, setting (0002,0010)
// and writing the frames again: the image attributes follow the decoded form.
TEST(SyntaxChangeThroughValues, DecodedColourIsReEncodedAndWrittenAsRgb) {
  initToolkit();
  const codec::ImageDescription image = ct::describe(16, 24, 3, 8, 8, 0, 2);
  const ct::Bytes frames = allFrames(image);
  int id = 0;
  ASSERT_EQ(MC_Create_Empty_File(&id, "colour.dcm"), MC_NORMAL_COMPLETION);
  MC_Set_Value_From_String(id, tag(0x0002, 0x0010), "1.2.840.10008.1.2.4.90");
  MC_Set_Value_From_String(id, tag(0x0008, 0x0016), "1.2.840.10008.5.1.4.1.1.7.4");
  MC_Set_Value_From_String(id, tag(0x0008, 0x0018), "1.2.826.0.1.3680043.9.7133.1.3");
  putImage(id, image);
  registerStandard(id);
  // JPEG 2000, then the decoded frames as JPEG lossless, then JPEG 2000
  // again: each write reads back as the frames written.
  struct Step {
    const char* syntax;
    const char* photometric;
  };
  ct::Bytes all = frames;
  for (const Step& step : {Step{"1.2.840.10008.1.2.4.90", "YBR_RCT"}, Step{"1.2.840.10008.1.2.4.70", "RGB"},
                           Step{"1.2.840.10008.1.2.4.90", "YBR_RCT"}}) {
    SCOPED_TRACE(step.syntax);
    MC_Set_Value_From_String(id, tag(0x0002, 0x0010), step.syntax);
    ASSERT_EQ(writeFrames(id, image, all), MC_NORMAL_COMPLETION);
    EXPECT_EQ(text(id, kPhotometric), step.photometric);
    Frames decoded;
    ASSERT_EQ(readFrames(id, decoded).back(), MC_NORMAL_COMPLETION);
    all = joined(decoded);
    ASSERT_EQ(all, frames);
  }

  MC_Set_Value_From_String(id, tag(0x0002, 0x0010), "1.2.840.10008.1.2.1");
  Supply s{all.data(), all.size()};
  ASSERT_EQ(MC_Set_Value_From_Function(id, kPixelData, &s, supply), MC_NORMAL_COMPLETION);
  std::vector<std::uint8_t> bytes;
  ASSERT_EQ(writeToBytes(id, bytes), MC_NORMAL_COMPLETION);
  MC_Free_File(id);
  DcmInputBufferStream in;
  in.setBuffer(bytes.data(), static_cast<offile_off_t>(bytes.size()));
  in.setEos();
  DcmFileFormat file;
  file.transferInit();
  ASSERT_TRUE(file.read(in).good());
  file.transferEnd();
  OFString photometric;
  file.getDataset()->findAndGetOFString(DCM_PhotometricInterpretation, photometric);
  EXPECT_EQ(photometric, "RGB");
  const Uint8* pixels = nullptr;
  unsigned long count = 0;
  ASSERT_TRUE(file.getDataset()->findAndGetUint8Array(DCM_PixelData, pixels, &count).good());
  EXPECT_EQ(ct::Bytes(pixels, pixels + count), frames);
}

// An application may run the standard callbacks itself: they take the
// image and syntax from the message.
TEST(StandardCallbacks, WorkOnTheirOwnFromTheMessage) {
  const codec::ImageDescription image = ct::describe(20, 20, 1, 16, 16, 1);
  const ct::Bytes frame = ct::syntheticFrame(image, 5);
  const int id = imageMessage(image, MC_TS_JPEG2000_LOSSLESS_ONLY);
  void* compressorContext = nullptr;
  void* decompressorContext = nullptr;
  unsigned long length = 0;
  void* output = nullptr;
  ASSERT_EQ(MC_Standard_Compressor(id, &compressorContext, frame.size(), const_cast<std::uint8_t*>(frame.data()),
                                   &length, &output, 1, 1, 0),
            MC_NORMAL_COMPLETION);
  const ct::Bytes codestream(static_cast<std::uint8_t*>(output), static_cast<std::uint8_t*>(output) + length);
  EXPECT_LT(codestream.size(), frame.size());
  ASSERT_EQ(MC_Standard_Decompressor(id, &decompressorContext, codestream.size(),
                                     const_cast<std::uint8_t*>(codestream.data()), &length, &output, 1, 1, 0),
            MC_NORMAL_COMPLETION);
  EXPECT_EQ(ct::Bytes(static_cast<std::uint8_t*>(output), static_cast<std::uint8_t*>(output) + length), frame);
  // Damaged input gives a status; release frees the contexts.
  EXPECT_EQ(MC_Standard_Decompressor(id, &decompressorContext, codestream.size() / 8,
                                     const_cast<std::uint8_t*>(codestream.data()), &length, &output, 1, 1, 0),
            MC_DECOMPRESSION_FAILURE);
  EXPECT_EQ(MC_Standard_Compressor(id, &compressorContext, 0, nullptr, nullptr, nullptr, 0, 0, 1),
            MC_NORMAL_COMPLETION);
  EXPECT_EQ(MC_Standard_Decompressor(id, &decompressorContext, 0, nullptr, nullptr, nullptr, 0, 0, 1),
            MC_NORMAL_COMPLETION);
  EXPECT_EQ(compressorContext, nullptr);
  EXPECT_EQ(decompressorContext, nullptr);
  MC_Free_Message(id);
}

// ---- Files written compressed, read by other tools ---------------------------------

struct WrittenFile {
  const char* name;
  MC_TRANSFER_SYNTAX syntax;
  codec::ImageDescription image;
  bool viaWriteFile;  // native pixel data compressed by MC_Write_File
};

class WrittenFiles : public testing::TestWithParam<WrittenFile> {};

TEST_P(WrittenFiles, OtherToolsDecodeWhatWeWrite) {
  const WrittenFile& c = GetParam();
  const bool jpeg = c.syntax != MC_TS_JPEG2000 && c.syntax != MC_TS_JPEG2000_LOSSLESS_ONLY;
  const char* tool = jpeg ? ZYL_DCMDJPEG : ZYL_GDCMCONV;
  if (!ct::toolAvailable(tool)) GTEST_SKIP() << "reference tool missing";
  initToolkit();
  ct::TempDir temp;
  const fs::path written = temp.path() / "written.dcm";
  int id = 0;
  ASSERT_EQ(MC_Create_Empty_File(&id, written.c_str()), MC_NORMAL_COMPLETION);
  char uid[66] = {};
  ASSERT_EQ(MC_Get_Transfer_Syntax_From_Enum(c.syntax, uid, sizeof uid), MC_NORMAL_COMPLETION);
  MC_Set_Value_From_String(id, tag(0x0002, 0x0010), uid);
  MC_Set_Value_From_String(id, tag(0x0008, 0x0016),
                           c.image.frames > 1 ? "1.2.840.10008.5.1.4.1.1.7.3" : "1.2.840.10008.5.1.4.1.1.7");
  MC_Set_Value_From_String(id, tag(0x0008, 0x0018), "1.2.826.0.1.3680043.9.7133.1.1");
  MC_Set_Value_From_String(id, tag(0x0008, 0x0060), "OT");
  putImage(id, c.image);
  const ct::Bytes frames = allFrames(c.image);
  std::vector<std::uint8_t> bytes;
  if (c.viaWriteFile) {
    MC_Set_Value_From_Buffer(id, kPixelData, frames.data(), static_cast<int>(frames.size()));
    EXPECT_EQ(writeToBytes(id, bytes), MC_COMPRESSOR_REQUIRED);
    ASSERT_EQ(registerStandard(id), MC_NORMAL_COMPLETION);
  } else {
    ASSERT_EQ(registerStandard(id), MC_NORMAL_COMPLETION);
    ASSERT_EQ(writeFrames(id, c.image, frames), MC_NORMAL_COMPLETION);
  }
  ASSERT_EQ(writeToBytes(id, bytes), MC_NORMAL_COMPLETION);
  MC_Free_File(id);
  std::ofstream(written, std::ios::binary)
      .write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));

  const fs::path decoded = temp.path() / "decoded.dcm";
  ASSERT_EQ(ct::run(std::string(tool) + (jpeg ? " '" : " --raw '") + written.string() + "' '" + decoded.string() + "'",
                    temp.path() / "tool.log"),
            0);
  const ct::NativePixels theirs = ct::readNativeFile(decoded);
  EXPECT_EQ(theirs.image.frames, c.image.frames);
  expectClose(c.image, frames, ct::toColourByPixel(theirs.image, theirs.bytes), lossless(c.syntax));
}

INSTANTIATE_TEST_SUITE_P(
    Syntaxes, WrittenFiles,
    testing::Values(WrittenFile{"Baseline", MC_TS_JPEG_BASELINE, ct::describe(64, 64, 1, 8, 8, 0), false},
                    WrittenFile{"Extended", MC_TS_JPEG_EXTENDED_2_4, ct::describe(64, 32, 1, 16, 12, 0), false},
                    WrittenFile{"Lossless", MC_TS_JPEG_LOSSLESS_SV1, ct::describe(32, 32, 1, 16, 16, 1, 3), false},
                    WrittenFile{"LosslessRgb", MC_TS_JPEG_LOSSLESS_SV1, ct::describe(32, 24, 3, 8, 8, 0), true},
                    WrittenFile{"J2kLossless", MC_TS_JPEG2000_LOSSLESS_ONLY, ct::describe(32, 32, 1, 16, 16, 1), false},
                    WrittenFile{"J2kLosslessRgb", MC_TS_JPEG2000_LOSSLESS_ONLY, ct::describe(32, 32, 3, 8, 8, 0), true},
                    WrittenFile{"J2k", MC_TS_JPEG2000, ct::describe(64, 64, 1, 16, 12, 0, 2), false}),
    [](const auto& info) { return std::string(info.param.name); });

// ---- Refusals and the order of calls -------------------------------------------------

TEST(EncapsulatedRefusals, SyntaxesThatWouldDamageTheDataAreRefusedBeforeAnyFrame) {
  struct Refusal {
    MC_TRANSFER_SYNTAX syntax;
    codec::ImageDescription image;
  };
  for (const Refusal& r : {Refusal{MC_TS_JPEG_BASELINE, ct::describe(16, 16, 1, 16, 12, 0)},
                           Refusal{MC_TS_JPEG_EXTENDED_2_4, ct::describe(16, 16, 1, 16, 16, 0)},
                           Refusal{MC_TS_JPEG_BASELINE, ct::describe(16, 16, 1, 8, 8, 1)}}) {
    SCOPED_TRACE(r.syntax);
    const ct::Bytes frames = allFrames(r.image);
    const int encapsulated = imageMessage(r.image, r.syntax);
    registerStandard(encapsulated);
    Supply s{frames.data(), frames.size()};
    EXPECT_EQ(MC_Set_Encapsulated_Value_From_Function(encapsulated, kPixelData, &s, supply),
              MC_INCOMPATIBLE_PIXEL_DATA);
    EXPECT_EQ(s.calls, 0);
    MC_Free_Message(encapsulated);

    // A syntax change leaves the message as it was.
    const int native = imageMessage(r.image, MC_TS_EXPLICIT_LITTLE_ENDIAN);
    registerStandard(native);
    MC_Set_Value_From_Buffer(native, kPixelData, frames.data(), static_cast<int>(frames.size()));
    EXPECT_EQ(MC_Set_Message_Transfer_Syntax(native, r.syntax), MC_INCOMPATIBLE_PIXEL_DATA);
    MC_TRANSFER_SYNTAX now = MC_TS_INVALID;
    MC_Get_Message_Transfer_Syntax(native, &now);
    EXPECT_EQ(now, MC_TS_EXPLICIT_LITTLE_ENDIAN);
    std::vector<std::uint8_t> back(frames.size());
    int returned = 0;
    EXPECT_EQ(MC_Get_Value_To_Buffer(native, kPixelData, static_cast<int>(back.size()), back.data(), &returned),
              MC_NORMAL_COMPLETION);
    EXPECT_EQ(back, frames);
    MC_Free_Message(native);
  }
  // No frame at all: refused before the supplier is asked.
  const int empty = imageMessage(ct::describe(8, 8, 1, 8, 8, 0), MC_TS_JPEG2000_LOSSLESS_ONLY);
  registerStandard(empty);
  MC_Set_Value_From_Int(empty, tag(0x0028, 0x0008), 0);
  const ct::Bytes frame(64, 1);
  Supply none{frame.data(), frame.size()};
  EXPECT_EQ(MC_Set_Encapsulated_Value_From_Function(empty, kPixelData, &none, supply), MC_INCOMPATIBLE_VALUE);
  EXPECT_EQ(none.calls, 0);
  MC_Free_Message(empty);
  EXPECT_STRNE(MC_Error_Message(MC_INCOMPATIBLE_PIXEL_DATA), "Unknown status");
  EXPECT_STRNE(MC_Error_Message(MC_DECOMPRESSION_FAILURE), "Unknown status");
}

TEST(EncapsulatedRefusals, CallsOutOfOrderOrWithWrongFramesGiveStatuses) {
  const codec::ImageDescription image = ct::describe(3, 3, 1, 8, 8, 0, 2);  // odd frames: 9 bytes
  const ct::Bytes frames = allFrames(image);
  const int id = imageMessage(image, MC_TS_JPEG_LOSSLESS_SV1);
  registerStandard(id);
  Supply first{frames.data(), 9};
  EXPECT_EQ(MC_Set_Next_Encapsulated_Value_From_Function(id, kPixelData, &first, supply), MC_STATE_VIOLATION);
  EXPECT_EQ(MC_Close_Encapsulated_Value(id, kPixelData), MC_STATE_VIOLATION);
  Supply shortFrame{frames.data(), 7};
  EXPECT_EQ(MC_Set_Encapsulated_Value_From_Function(id, kPixelData, &shortFrame, supply), MC_CALLBACK_DATA_SIZE_UNEVEN);
  EXPECT_EQ(MC_Set_Encapsulated_Value_From_Function(id, kPixelData, &first, supply), MC_NORMAL_COMPLETION);
  EXPECT_EQ(MC_Close_Encapsulated_Value(id, kPixelData), MC_TOO_FEW_VALUES);
  int count = 0;
  EXPECT_EQ(MC_Get_Value_Count(id, kPixelData, &count), MC_INVALID_TAG);  // nothing installed

  // Odd frames padded by the supplier survive exactly; a third frame is one too many.
  ASSERT_EQ(writeFrames(id, image, frames), MC_NORMAL_COMPLETION);
  Frames read;
  EXPECT_EQ(readFrames(id, read).back(), MC_NORMAL_COMPLETION);
  EXPECT_EQ(joined(read), frames);
  EXPECT_EQ(MC_Set_Encapsulated_Value_From_Function(id, kPixelData, &first, supply), MC_NORMAL_COMPLETION);
  Supply second{frames.data() + 9, 9};
  EXPECT_EQ(MC_Set_Next_Encapsulated_Value_From_Function(id, kPixelData, &second, supply), MC_NORMAL_COMPLETION);
  EXPECT_EQ(MC_Set_Next_Encapsulated_Value_From_Function(id, kPixelData, &second, supply), MC_TOO_MANY_VALUES);

  // Reading: the pixel data must be there, and Next needs a Get first.
  const int fresh = imageMessage(image, MC_TS_JPEG_LOSSLESS_SV1);
  registerStandard(fresh);
  Frames none;
  EXPECT_EQ(MC_Get_Encapsulated_Value_To_Function(fresh, kPixelData, &none, collect), MC_INVALID_TAG);
  ASSERT_EQ(writeFrames(fresh, image, frames), MC_NORMAL_COMPLETION);
  EXPECT_EQ(MC_Get_Next_Encapsulated_Value_To_Function(fresh, kPixelData, &none, collect), MC_STATE_VIOLATION);
  EXPECT_TRUE(none.frames.empty());
  MC_Free_Message(fresh);
  MC_Free_Message(id);
}

// ---- Malformed encapsulated data -------------------------------------------------------

// A DICOM file (written by DCMTK) whose encapsulated frames are `fragments`.
std::vector<std::uint8_t> fileWithFragments(codec::Syntax syntax, const codec::ImageDescription& image,
                                            const std::vector<ct::Bytes>& fragments, const fs::path& path) {
  DcmFileFormat file;
  DcmDataset& dataset = *file.getDataset();
  dataset.putAndInsertString(DCM_SOPClassUID, UID_SecondaryCaptureImageStorage);
  dataset.putAndInsertString(DCM_SOPInstanceUID, "1.2.826.0.1.3680043.9.7133.1.2");
  ct::putImageAttributes(dataset, image);
  codec::EncapsulatedWriter writer(false);
  for (const auto& fragment : fragments) writer.addFrame(fragment);
  writer.install(dataset, syntax);
  const E_TransferSyntax xfer = DcmXfer(std::string(codec::uidOf(syntax)).c_str()).getXfer();
  EXPECT_TRUE(file.saveFile(path.c_str(), xfer).good());
  return readBytes(path.string());
}

TEST(MalformedEncapsulatedData, GivesStatusesNeverCrashes) {
  initToolkit();
  ct::TempDir temp;
  const codec::ImageDescription image = ct::describe(32, 32, 1, 8, 8, 0, 2);
  const ct::Bytes frame = ct::syntheticFrame(image, 3);
  for (const codec::Syntax syntax :
       {codec::Syntax::jpeg_baseline, codec::Syntax::jpeg_lossless, codec::Syntax::j2k_lossless, codec::Syntax::j2k}) {
    SCOPED_TRACE(std::string(codec::uidOf(syntax)));
    const ct::Bytes good = codec::encodeFrame(syntax, image, frame).codestream;
    // OpenJPEG decodes what a truncated tile holds, so cut deep.
    ct::Bytes truncated(good.begin(), good.begin() + static_cast<std::ptrdiff_t>(good.size() / 8));
    ct::Bytes garbage(good.size());
    for (std::size_t i = 0; i < garbage.size(); ++i) garbage[i] = static_cast<std::uint8_t>(i * 37 + 11);
    struct Case {
      std::vector<ct::Bytes> fragments;
      std::size_t goodFrames;  // frames that decode before the bad one
    };
    for (const Case& c : {Case{{good, truncated}, 1}, Case{{garbage, good}, 0}, Case{{good}, 0},
                          Case{{ct::Bytes{0xFF, 0xD8}, ct::Bytes{0xFF, 0xD9}}, 0}}) {
      const auto bytes = fileWithFragments(syntax, image, c.fragments, temp.path() / "bad.dcm");
      int id = 0;
      ASSERT_EQ(openFromBytes(bytes, 4096, id), MC_NORMAL_COMPLETION);
      registerStandard(id);
      Frames read;
      const auto statuses = readFrames(id, read);
      EXPECT_EQ(statuses.size(), c.goodFrames + 1);
      EXPECT_NE(statuses.back(), MC_NORMAL_COMPLETION);
      EXPECT_NE(statuses.back(), MC_END_OF_FRAME);
      EXPECT_EQ(read.frames.size(), c.goodFrames);
      // The whole-value getter and a syntax change fail the same way.
      Frames whole;
      EXPECT_NE(MC_Get_Value_To_Function(id, kPixelData, &whole, collect), MC_NORMAL_COMPLETION);
      EXPECT_NE(MC_Set_Message_Transfer_Syntax(id, MC_TS_EXPLICIT_LITTLE_ENDIAN), MC_NORMAL_COMPLETION);
      MC_Free_File(id);
    }
  }
}

}  // namespace

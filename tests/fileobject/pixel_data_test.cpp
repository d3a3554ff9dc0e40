// Reading pixel data: array shapes and element types for grey and colour,
// both planar configurations, every frame or one, row order, compressed
// files frame by frame against their uncompressed source, and refusals.
#include <cstring>

#include "fileobject_support.h"

namespace fotest {
namespace {

struct Geometry {
  uint32_t columns, rows, samples, frames, bits;
  int planar = 0;
  int pixelRepresentation = 0;
  bool framesAttribute = true;
  bool representationAttribute = true;
};

class PixelData : public FileObjectTest {
 protected:
  // Stored sample value of (frame, plane/sample, row, column), distinct enough
  // to tell rows, columns, samples and frames apart.
  static uint16_t sampleAt(uint32_t f, uint32_t s, uint32_t r, uint32_t c) {
    return static_cast<uint16_t>(f * 97 + s * 31 + r * 7 + c * 3 + 1);
  }

  // The stored bytes of an image in its planar configuration.
  static std::vector<unsigned char> storedBytes(const Geometry& g) {
    std::vector<unsigned char> bytes;
    const uint32_t bytesPerSample = g.bits > 8 ? 2 : 1;
    auto put = [&](uint16_t v) {
      bytes.push_back(static_cast<unsigned char>(v & 0xFF));
      if (bytesPerSample == 2) bytes.push_back(static_cast<unsigned char>(v >> 8));
    };
    for (uint32_t f = 0; f < g.frames; ++f) {
      if (g.planar == 0) {
        for (uint32_t r = 0; r < g.rows; ++r)
          for (uint32_t c = 0; c < g.columns; ++c)
            for (uint32_t s = 0; s < g.samples; ++s) put(sampleAt(f, s, r, c) & (bytesPerSample == 1 ? 0xFF : 0xFFFF));
      } else {
        for (uint32_t s = 0; s < g.samples; ++s)
          for (uint32_t r = 0; r < g.rows; ++r)
            for (uint32_t c = 0; c < g.columns; ++c) put(sampleAt(f, s, r, c) & (bytesPerSample == 1 ? 0xFF : 0xFFFF));
      }
    }
    return bytes;
  }

  // A DICOM file (explicit VR little endian) of that image, made by dump2dcm.
  fs::path image(const std::string& name, const Geometry& g) {
    const fs::path raw = tmp(name + ".raw");
    writeBytes(raw, storedBytes(g));
    std::string lines =
        "(0008,0016) UI [1.2.840.10008.5.1.4.1.1.7]\n(0008,0018) UI [1.2.3.4." + std::to_string(g.frames) + "]\n";
    lines += "(0028,0002) US " + std::to_string(g.samples) + "\n";
    lines += std::string("(0028,0004) CS [") + (g.samples == 1 ? "MONOCHROME2" : "RGB") + "]\n";
    if (g.samples > 1) lines += "(0028,0006) US " + std::to_string(g.planar) + "\n";
    if (g.framesAttribute) lines += "(0028,0008) IS [" + std::to_string(g.frames) + "]\n";
    lines += "(0028,0010) US " + std::to_string(g.rows) + "\n(0028,0011) US " + std::to_string(g.columns) + "\n";
    lines += "(0028,0100) US " + std::to_string(g.bits) + "\n(0028,0101) US " + std::to_string(g.bits) + "\n";
    lines += "(0028,0102) US " + std::to_string(g.bits - 1) + "\n";
    if (g.representationAttribute) lines += "(0028,0103) US " + std::to_string(g.pixelRepresentation) + "\n";
    lines += std::string("(7fe0,0010) ") + (g.bits > 8 ? "OW" : "OB") + " =" + raw.string() + "\n";
    const fs::path text = tmp(name + ".txt");
    const fs::path out = tmp(name);
    std::ofstream(text) << lines;
    EXPECT_EQ(std::system(("dump2dcm -q +E " + quote(text) + " " + quote(out)).c_str()), 0);
    return out;
  }

  Variable pixels(Variable& f, std::vector<Kw> kws = {}) {
    return call(f, "GetPixelData", std::vector<Variable>{}, std::move(kws));
  }

  std::string pixelError(Variable& f, std::vector<Kw> kws = {}) {
    try {
      pixels(f, std::move(kws));
      return "";
    } catch (const zyl::HostError& e) {
      return e.what();
    }
  }

  static std::vector<int64_t> dims(const Variable& v) {
    if (!v.isArray()) return {};
    return std::vector<int64_t>(v.array()->dims(), v.array()->dims() + v.array()->ndims());
  }

  // Element (sample s, column c, row r, frame f) of a returned array, as the
  // array's layout for the geometry places it.
  static uint16_t at(const Variable& v, const Geometry& g, uint32_t f, uint32_t s, uint32_t r, uint32_t c) {
    size_t index = 0;
    const size_t frameElements = size_t{g.columns} * g.rows * g.samples;
    if (g.samples == 1)
      index = size_t{r} * g.columns + c;
    else if (g.planar == 0)
      index = (size_t{r} * g.columns + c) * g.samples + s;
    else
      index = (size_t{s} * g.rows + r) * g.columns + c;
    index += f * frameElements;
    const auto* data = v.array()->data();
    if (v.array()->elemSize() == 1) return static_cast<uint16_t>(std::to_integer<unsigned>(data[index]));
    uint16_t value = 0;
    std::memcpy(&value, data + index * 2, 2);
    return value;
  }

  // Every element against the stored image: frames `first`.. of it, rows
  // flipped or not.
  static void expectImage(const Variable& v, const Geometry& g, uint32_t first, uint32_t count, bool flipped) {
    const uint16_t mask = g.bits > 8 ? 0xFFFF : 0xFF;
    int wrong = 0;
    for (uint32_t f = 0; f < count; ++f)
      for (uint32_t s = 0; s < g.samples; ++s)
        for (uint32_t r = 0; r < g.rows; ++r)
          for (uint32_t c = 0; c < g.columns; ++c) {
            const uint32_t storedRow = flipped ? g.rows - 1 - r : r;
            if (at(v, g, f, s, r, c) != (sampleAt(first + f, s, storedRow, c) & mask) && ++wrong < 5)
              ADD_FAILURE() << "frame " << first + f << " sample " << s << " row " << r << " column " << c;
          }
    EXPECT_EQ(wrong, 0);
  }
};

TEST_F(PixelData, GreyRowsComeLastStoredFirstUnlessStoredOrderIsAsked) {
  const Geometry g{7, 5, 1, 1, 8, 0, 0, false};
  Variable f = make(image("grey8.dcm", g).string());
  const Variable flipped = call(f, "GetPixelData", std::vector<Variable>{}, {{"COUNT", Variable::null()}});
  EXPECT_EQ(flipped.type(), Type::Byte);
  EXPECT_EQ(dims(flipped), (std::vector<int64_t>{7, 5}));
  expectImage(flipped, g, 0, 1, true);
  const Variable stored = pixels(f, {kw("ORDER", 1)});
  expectImage(stored, g, 0, 1, false);
  // Without Number of Frames the image is one frame; FRAME 0 is that frame.
  expectImage(pixels(f, {kw("FRAME", 0), kw("ORDER", 1)}), g, 0, 1, false);
  EXPECT_TRUE(contains(pixelError(f, {kw("FRAME", 1)}), "Error: Failed requested frame is out of range."));
}

TEST_F(PixelData, ColourFramesInBothPlanarConfigurations) {
  for (int planar : {0, 1}) {
    SCOPED_TRACE(planar);
    const Geometry g{6, 4, 3, 3, 8, planar};
    Variable f = make(image("rgb" + std::to_string(planar) + ".dcm", g).string());
    std::vector<Kw> withCount{{"COUNT", Variable::null()}};
    const Variable all = call(f, "GetPixelData", std::vector<Variable>{}, withCount);
    EXPECT_EQ(dims(all), planar == 0 ? (std::vector<int64_t>{3, 6, 4, 3}) : (std::vector<int64_t>{6, 4, 3, 3}));
    expectImage(all, g, 0, 3, true);
    const Variable one = pixels(f, {kw("FRAME", 2)});
    EXPECT_EQ(dims(one), planar == 0 ? (std::vector<int64_t>{3, 6, 4}) : (std::vector<int64_t>{6, 4, 3}));
    expectImage(one, g, 2, 1, true);
    expectImage(pixels(f, {kw("FRAME", 1), kw("ORDER", 1)}), g, 1, 1, false);
    EXPECT_TRUE(contains(pixelError(f, {kw("FRAME", 3)}), "Error: Failed requested frame is out of range."));
  }
}

TEST_F(PixelData, CountReportsTheFramesReturned) {
  const Geometry g{4, 4, 1, 3, 16};
  Variable f = make(image("count.dcm", g).string());
  zyl::Variable counted = zyl::Variable::null();
  std::vector<zyl::KeywordArg> kws{{"COUNT", &counted}};
  rt().callMethod(f, "GetPixelData", {}, kws);
  EXPECT_EQ(counted.scalar().u32, 3u);
  zyl::Variable frame = zyl::Variable::ofInt32(1);
  std::vector<zyl::KeywordArg> one{{"COUNT", &counted}, {"FRAME", &frame}};
  rt().callMethod(f, "GetPixelData", {}, one);
  EXPECT_EQ(counted.scalar().u32, 1u);
}

TEST_F(PixelData, SixteenBitElementTypesFollowPixelRepresentation) {
  Geometry g{5, 3, 1, 2, 16, 0, 1};
  Variable signedImage = make(image("signed.dcm", g).string());
  const Variable s = pixels(signedImage);
  EXPECT_EQ(s.type(), Type::Int16);
  expectImage(s, g, 0, 2, true);
  g.representationAttribute = false;
  Variable unsignedImage = make(image("unsigned.dcm", g).string());
  EXPECT_EQ(pixels(unsignedImage).type(), Type::UInt16);
  // A real CT image: signed 16-bit, 128 x 128.
  Variable ct = make((kCorpus / "CT_small.dcm").string());
  const Variable v = pixels(ct);
  EXPECT_EQ(v.type(), Type::Int16);
  EXPECT_EQ(dims(v), (std::vector<int64_t>{128, 128}));
}

TEST_F(PixelData, CompressedFramesEqualTheirUncompressedSource) {
  const Geometry g{16, 12, 1, 4, 16};
  const fs::path raw = image("multi.dcm", g);
  struct Coder {
    const char* name;
    std::string command;
  };
  const fs::path jpeg = tmp("multi_jpegll.dcm"), j2k = tmp("multi_j2k.dcm");
  const Coder coders[] = {{"dcmcjpeg", "dcmcjpeg +e1 " + quote(raw) + " " + quote(jpeg)},
                          {"gdcmconv", "gdcmconv --j2k " + quote(raw) + " " + quote(j2k)}};
  Variable source = make(raw.string());
  const Variable expected = pixels(source);
  for (const Coder& coder : coders) {
    SCOPED_TRACE(coder.name);
    if (std::system((std::string("command -v ") + coder.name + " > /dev/null").c_str()) != 0) continue;
    ASSERT_EQ(std::system((coder.command + " > /dev/null 2>&1").c_str()), 0) << coder.command;
    Variable f = make((std::string(coder.name) == "dcmcjpeg" ? jpeg : j2k).string());
    const Variable all = pixels(f);
    EXPECT_EQ(dims(all), dims(expected));
    expectImage(all, g, 0, 4, true);
    // Each frame alone, without the frames before it.
    for (uint32_t frame : {3u, 0u, 2u})
      expectImage(pixels(f, {kw("FRAME", static_cast<int32_t>(frame))}), g, frame, 1, true);
  }
  // Compressed files of the corpus against their uncompressed versions.
  Variable mr = make((kCorpus / "MR_small.dcm").string());
  Variable mrJ2k = make((kCorpus / "MR_small_jp2klossless.dcm").string());
  const Variable a = pixels(mr), b = pixels(mrJ2k);
  ASSERT_EQ(a.array()->byteSize(), b.array()->byteSize());
  EXPECT_EQ(std::memcmp(a.array()->data(), b.array()->data(), a.array()->byteSize()), 0);
}

// The pixels of an open file are read from that file when they are asked
// for (a frame of it alone): replaced since by another file, it gives an
// error, never the other file's pixels.
TEST_F(PixelData, PixelsComeFromTheFileAsItWasOpened) {
  const Geometry g{256, 256, 1, 2, 16};
  const fs::path path = image("kept.dcm", g);
  Variable kept = make(path.string());
  expectImage(pixels(kept, {kw("FRAME", 1)}), g, 1, 1, true);
  Variable replaced = make(path.string());
  EXPECT_EQ(call(replaced, "GetValue", "0028,0010").scalar().u16, 256);
  fs::rename(image("other.dcm", Geometry{256, 256, 1, 3, 16}), path);
  EXPECT_TRUE(contains(pixelError(replaced), "Error: Failed to read pixel data from file")) << pixelError(replaced);
}

TEST_F(PixelData, RefusalsNameTheirReason) {
  // A syntax without a decoder is refused with its UID and name.
  const fs::path mpeg2 = relabelledAsMpeg2("MR_small_jp2klossless.dcm");
  Variable undecodable = make(mpeg2.string());
  const std::string error = pixelError(undecodable);
  EXPECT_TRUE(
      contains(error, "Error: Failed to get pixel data, unsupported compression format (file/syntax/syntax) , " +
                          mpeg2.string() + ", 1.2.840.10008.1.2.4.100,  Unknown Transfer Syntax"))
      << error;
  // NO_PIXEL_DATA is looked at before the file is opened.
  const fs::path gone = image("gone.dcm", Geometry{2, 2, 1, 1, 8});
  Variable noPixels = make(gone.string(), {kw("NO_PIXEL_DATA", 1)});
  fs::remove(gone);
  EXPECT_TRUE(contains(pixelError(noPixels), "NO_PIXEL_DATA keyword set so the pixel data is not accessible"));
  // Shapes without a host array.
  Variable twoSamples = make(image("two.dcm", Geometry{2, 2, 2, 1, 8}).string());
  EXPECT_TRUE(contains(pixelError(twoSamples), "Error: Failed to get pixel data, unsupported image (file/err) "));
  // A missing Rows is named.
  Variable created =
      make(tmp("created.dcm").string(), {kw("CREATE", 1), {"SOP_CLASS", Variable::ofString("STANDARD_CT_IMAGE")}});
  EXPECT_TRUE(contains(pixelError(created), "Error: Failed to get samples per pixel for image (file/err) "));
}

}  // namespace
}  // namespace fotest

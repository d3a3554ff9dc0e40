// Writing pixel data and changing the transfer syntax: geometry keywords,
// odd-length 8-bit images, single frames placed into new and existing
// multi-frame images, row order, lengths compared in bytes, lossy rules, and
// files re-encoded, marked and written.
#include <cstring>
#include <regex>

#include "fileobject_support.h"

namespace fotest {
namespace {

Kw kw(const char* name, int32_t v) { return {name, Variable::ofInt32(v)}; }
Kw kw(const char* name, const std::string& v) { return {name, Variable::ofString(v)}; }

template <typename T>
Variable arrayOf(Type type, std::vector<int64_t> dims, const std::vector<T>& values) {
  auto array = std::make_unique<zyl::Array>(type, dims, true);
  std::memcpy(array->data(), values.data(), values.size() * sizeof(T));
  return Variable::ofArray(std::move(array));
}

template <typename T>
std::vector<T> elements(const Variable& v) {
  const auto* data = v.array()->as<T>();
  return std::vector<T>(data, data + v.array()->count());
}

// Rows of `rows` equal pieces in reverse order, frame by frame.
template <typename T>
std::vector<T> flipRows(const std::vector<T>& v, size_t rowLength, size_t rows) {
  std::vector<T> out(v.size());
  const size_t frame = rowLength * rows;
  for (size_t f = 0; f < v.size() / frame; ++f)
    for (size_t r = 0; r < rows; ++r)
      std::copy_n(v.begin() + static_cast<long>(f * frame + r * rowLength), rowLength,
                  out.begin() + static_cast<long>(f * frame + (rows - 1 - r) * rowLength));
  return out;
}

class PixelWrite : public FileObjectTest {
 protected:
  // A new 8-bit grey image object of the given size (nothing on disk yet).
  Variable newImage(const std::string& name, int columns, int rows, int frames, int bits = 8) {
    Variable f = make(tmp(name).string(),
                      {kw("CREATE", 1), kw("SOP_CLASS", std::string(frames > 1 ? "STANDARD_MULTIFRAME_GRAYSCALE_BYTE_"
                                                                                 "SECONDARY_CAPTURE_IMAGE"
                                                                               : "STANDARD_SECONDARY_CAPTURE_IMAGE"))});
    setPixels(f, arrayOf<uint8_t>(Type::Byte, {1}, {0}), geometry(columns, rows, frames, bits), true);
    // Readers want these too; SetPixelData leaves them to the caller.
    call(f, "SetValue", {Variable::ofString("0028,0101"), Variable::ofString("US"), Variable::ofInt32(bits)});
    call(f, "SetValue", {Variable::ofString("0028,0102"), Variable::ofString("US"), Variable::ofInt32(bits - 1)});
    return f;
  }
  std::vector<Kw> geometry(int columns, int rows, int frames, int bits) {
    return {kw("COLUMNS", columns),
            kw("ROWS", rows),
            kw("NUMBER_OF_FRAMES", frames),
            kw("BITS_ALLOCATED", bits),
            kw("SAMPLES_PER_PIXEL", 1),
            kw("PIXEL_REPRESENTATION", 0),
            kw("PHOTOMETRIC_INTERPRETATION", "MONOCHROME2")};
  }
  // SetPixelData; with geometryOnly the pixel write is expected to fail (the
  // array is a placeholder) and only the keywords count.
  void setPixels(Variable& f, Variable pixels, std::vector<Kw> kws = {}, bool geometryOnly = false) {
    try {
      call(f, "SetPixelData", {std::move(pixels)}, std::move(kws));
    } catch (const zyl::HostError&) {
      if (!geometryOnly) throw;
    }
  }
  std::string setError(Variable& f, Variable pixels, std::vector<Kw> kws = {}) {
    try {
      call(f, "SetPixelData", {std::move(pixels)}, std::move(kws));
      return "";
    } catch (const zyl::HostError& e) {
      return e.what();
    }
  }
  std::string changeError(Variable& f, const std::string& uid, std::vector<Kw> kws = {}) {
    try {
      call(f, "ChangeTransferSyntax", {Variable::ofString(uid)}, std::move(kws));
      return "";
    } catch (const zyl::HostError& e) {
      return e.what();
    }
  }
  Variable pixels(Variable& f, std::vector<Kw> kws = {}) {
    return call(f, "GetPixelData", std::vector<Variable>{}, std::move(kws));
  }
  static std::string dump(const fs::path& p) { return run("dcmdump -q +L " + quote(p) + " 2>&1"); }
  static std::vector<uint8_t> ramp(size_t n, int start = 1) {
    std::vector<uint8_t> v(n);
    for (size_t i = 0; i < n; ++i) v[i] = static_cast<uint8_t>(start + i * 7);
    return v;
  }
};

TEST_F(PixelWrite, AnOddLengthEightBitImageIsPaddedWithOneZero) {
  Variable f = newImage("odd.dcm", 513, 1, 1);
  const auto values = ramp(513);
  call(f, "SetPixelData", {arrayOf<uint8_t>(Type::Byte, {513, 1}, values)});
  EXPECT_EQ(call(f, "GetValueLength", "7FE0,0010").scalar().u32, 514u);
  EXPECT_EQ(elements<uint8_t>(pixels(f)), values);
  call(f, "Commit");
  EXPECT_TRUE(contains(dump(tmp("odd.dcm")), "(7fe0,0010) OB")) << dump(tmp("odd.dcm"));
  int status = 0;
  const std::string out =
      run("/usr/bin/python3 -c \"import pydicom,sys; d=pydicom.dcmread(sys.argv[1]); "
          "print(len(d.PixelData), d.PixelData[-1], d.pixel_array.shape)\" " +
              quote(tmp("odd.dcm")),
          &status);
  EXPECT_EQ(status, 0);
  EXPECT_TRUE(contains(out, "514 0 (1, 513)")) << out;
}

TEST_F(PixelWrite, RowsAreStoredLastFirstUnlessTheArrayIsInStoredOrder) {
  Variable f = newImage("rows.dcm", 4, 3, 1);
  const auto display = ramp(12);
  call(f, "SetPixelData", {arrayOf<uint8_t>(Type::Byte, {4, 3}, display)});
  EXPECT_EQ(elements<uint8_t>(pixels(f)), display);
  EXPECT_EQ(elements<uint8_t>(pixels(f, {kw("ORDER", 1)})), flipRows(display, 4, 3));
  call(f, "SetPixelData", {arrayOf<uint8_t>(Type::Byte, {4, 3}, display)}, {kw("ORDER", 1)});
  EXPECT_EQ(elements<uint8_t>(pixels(f, {kw("ORDER", 1)})), display);
}

TEST_F(PixelWrite, AFrameOfANewMultiFrameImageLandsAmongZeroFrames) {
  Variable f = newImage("frames.dcm", 4, 2, 3);
  const auto frame = ramp(8, 50);
  call(f, "SetPixelData", {arrayOf<uint8_t>(Type::Byte, {4, 2}, frame)}, {kw("FRAME", 1), kw("ORDER", 1)});
  std::vector<uint8_t> expected(24, 0);
  std::copy(frame.begin(), frame.end(), expected.begin() + 8);
  EXPECT_EQ(elements<uint8_t>(pixels(f, {kw("ORDER", 1)})), expected);
  // A later frame replaces only its own bytes, rows flipped back.
  const auto last = ramp(8, 120);
  call(f, "SetPixelData", {arrayOf<uint8_t>(Type::Byte, {4, 2}, last)}, {kw("FRAME", 2)});
  const auto stored = flipRows(last, 4, 2);
  std::copy(stored.begin(), stored.end(), expected.begin() + 16);
  EXPECT_EQ(elements<uint8_t>(pixels(f, {kw("ORDER", 1)})), expected);
  EXPECT_TRUE(contains(setError(f, arrayOf<uint8_t>(Type::Byte, {4, 2}, frame), {kw("FRAME", 3)}),
                       "Error: Failed frame number is out of range."));
  EXPECT_TRUE(contains(setError(f, arrayOf<uint8_t>(Type::Byte, {4, 3}, ramp(12))),
                       "Passed in pixel data array is not equal to the length of all the frames in this multi-frame "
                       "image."));
  call(f, "Commit");
  const std::string d = dump(tmp("frames.dcm"));
  EXPECT_TRUE(contains(d, "(0028,0008) IS [3]")) << d;
}

TEST_F(PixelWrite, LengthsAreComparedInSamplesAndOnlyNumericArraysAreTaken) {
  Variable f = newImage("lengths.dcm", 4, 2, 1);
  // Four values are four samples, not the eight of one frame, whatever their type.
  EXPECT_TRUE(contains(setError(f, arrayOf<uint16_t>(Type::UInt16, {4}, std::vector<uint16_t>(4, 1))),
                       "Error: Unable to set pixel data.  Passed in pixel data array length is not equal to the length "
                       "of one frame. (file), " +
                           tmp("lengths.dcm").string()));
  // Eight 16-bit values that fit a byte are the frame's eight samples; one that does not is refused.
  call(f, "SetPixelData", {arrayOf<uint16_t>(Type::UInt16, {8}, {1, 2, 3, 4, 5, 6, 7, 8})}, {kw("ORDER", 1)});
  EXPECT_EQ(elements<uint8_t>(pixels(f, {kw("ORDER", 1)})), (std::vector<uint8_t>{1, 2, 3, 4, 5, 6, 7, 8}));
  EXPECT_TRUE(
      contains(setError(f, arrayOf<uint16_t>(Type::UInt16, {8}, {1, 2, 3, 4, 5, 6, 7, 0x0201})), "513, 0..255"));
  EXPECT_EQ(elements<uint8_t>(pixels(f, {kw("ORDER", 1)})), (std::vector<uint8_t>{1, 2, 3, 4, 5, 6, 7, 8}));
  EXPECT_TRUE(contains(setError(f, Variable::ofString("pixels")), "Passed in pixel data must be a numeric array."));
  EXPECT_TRUE(contains(setError(f, Variable::ofInt32(5)), "Passed in pixel data must be a numeric array."));
  EXPECT_TRUE(contains(setError(f, Variable()), "Error: Passed in pixel data arguement is undefined (file) "));
  // The geometry keywords stay applied when the pixel write fails.
  EXPECT_FALSE(setError(f, Variable::ofString("x"), {kw("PHOTOMETRIC_INTERPRETATION", "MONOCHROME1")}).empty());
  EXPECT_EQ(getString(f, "0028,0004"), "MONOCHROME1");
}

TEST_F(PixelWrite, LossyJpegTakesAllFramesButNotOne) {
  Variable f = newImage("lossy.dcm", 16, 16, 3);
  call(f, "SetValue",
       {Variable::ofString("0002,0010"), Variable::ofString("UI"), Variable::ofString("1.2.840.10008.1.2.4.50")});
  const std::string error = setError(f, arrayOf<uint8_t>(Type::Byte, {16, 16}, ramp(256)), {kw("FRAME", 1)});
  EXPECT_TRUE(contains(error,
                       "Error: Can not write a single frame into a multi-frame image that uses lossy jpeg "
                       "compression (file/syntax/syntax) , " +
                           tmp("lossy.dcm").string() + ", 1.2.840.10008.1.2.4.50, "))
      << error;
  std::vector<uint8_t> all(3 * 256);
  for (size_t i = 0; i < all.size(); ++i) all[i] = static_cast<uint8_t>(i / 16 * 4 + 20);
  call(f, "SetPixelData", {arrayOf<uint8_t>(Type::Byte, {16, 16, 3}, all)}, {kw("ORDER", 1)});
  const auto back = elements<uint8_t>(pixels(f, {kw("ORDER", 1)}));
  ASSERT_EQ(back.size(), all.size());
  int worst = 0;
  for (size_t i = 0; i < all.size(); ++i) worst = std::max(worst, std::abs(back[i] - all[i]));
  EXPECT_LE(worst, 8);  // smooth rows survive quality 90 closely
  call(f, "Commit");
  EXPECT_TRUE(contains(dump(tmp("lossy.dcm")), "=JPEGBaseline")) << dump(tmp("lossy.dcm"));
}

TEST_F(PixelWrite, CompressedFramesOfAClonePlacedOneAtATime) {
  Variable f = make(tmp("j2k.dcm").string(), {kw("CLONE", (kCorpus / "MR_small_jp2klossless.dcm").string())});
  const Variable before = pixels(f);
  std::vector<int16_t> frame(64 * 64);
  for (size_t i = 0; i < frame.size(); ++i) frame[i] = static_cast<int16_t>(static_cast<int>(i % 64) * 50 - 1600);
  call(f, "SetPixelData", {arrayOf<int16_t>(Type::Int16, {64, 64}, frame)}, {kw("FRAME", 0)});
  EXPECT_EQ(elements<int16_t>(pixels(f)), frame);
  EXPECT_NE(elements<int16_t>(before), frame);
}

TEST_F(PixelWrite, ChangingToLossyMarksTheImageUnlessAskedNotTo) {
  for (int keep : {0, 1}) {
    SCOPED_TRACE(keep);
    const std::string name = "change" + std::to_string(keep) + ".dcm";
    Variable f = newImage(name, 16, 8, 1);
    std::vector<Variable> types;
    auto array = std::make_unique<zyl::Array>(Type::String, std::vector<int64_t>{2}, true);
    zyl::hostStringAssign(array->as<zyl::HostString>()[0], "ORIGINAL");
    zyl::hostStringAssign(array->as<zyl::HostString>()[1], "PRIMARY");
    call(f, "SetValue",
         {Variable::ofString("0008,0008"), Variable::ofString("CS"), Variable::ofArray(std::move(array))});
    call(f, "SetPixelData", {arrayOf<uint8_t>(Type::Byte, {16, 8}, ramp(128))});
    call(f, "ChangeTransferSyntax", {Variable::ofString("1.2.840.10008.1.2.4.50")}, {kw("LOSSY", keep)});
    const std::string d = dump(tmp(name));
    EXPECT_TRUE(contains(d, "=JPEGBaseline")) << d;
    if (keep == 0) {
      EXPECT_TRUE(contains(d, "(0028,2110) CS [01]")) << d;
      EXPECT_TRUE(contains(d, "(0008,0008) CS [DERIVED\\PRIMARY]")) << d;
    } else {
      EXPECT_FALSE(contains(d, "(0028,2110)")) << d;
      EXPECT_TRUE(contains(d, "(0008,0008) CS [ORIGINAL\\PRIMARY]")) << d;
    }
    // The object reopens the file written; its lossy pixels stay lossy.
    EXPECT_TRUE(contains(changeError(f, "1.2.840.10008.1.2.1"),
                         "Error: Existing format is lossy. Converting a lossy format to another format is prohibited. "
                         "(file) , " +
                             tmp(name).string()));
  }
}

TEST_F(PixelWrite, LosslessChangesKeepEveryPixel) {
  // JPEG lossless RGB to explicit little endian, then to JPEG 2000 lossless and implicit.
  const fs::path out = tmp("ll.dcm");
  Variable f = make(out.string(), {kw("CLONE", (kCorpus / "SC_rgb_jpeg_gdcm.dcm").string())});
  const auto original = elements<uint8_t>(pixels(f));
  for (const char* uid : {"1.2.840.10008.1.2.1", "1.2.840.10008.1.2.4.90", "1.2.840.10008.1.2"}) {
    SCOPED_TRACE(uid);
    call(f, "ChangeTransferSyntax", {Variable::ofString(uid)});
    EXPECT_TRUE(contains(run("dcmdump -q -Un +P 0002,0010 " + quote(out)), std::string("[") + uid + "]"));
    EXPECT_EQ(elements<uint8_t>(pixels(f)), original);
  }
  // The same syntax again only writes the file.
  const auto written = fs::last_write_time(out);
  call(f, "ChangeTransferSyntax", {Variable::ofString("1.2.840.10008.1.2")});
  EXPECT_TRUE(fs::exists(out));
  EXPECT_GE(fs::last_write_time(out), written);
  EXPECT_EQ(elements<uint8_t>(pixels(f)), original);
  // GDCM reads the JPEG 2000 stage's pixels the same: checked on a fresh change.
  call(f, "ChangeTransferSyntax", {Variable::ofString("1.2.840.10008.1.2.4.90")});
  const fs::path raw = tmp("raw.dcm");
  int status = 0;
  run("gdcmconv --raw " + quote(out) + " " + quote(raw) + " 2>&1", &status);
  ASSERT_EQ(status, 0);
  Variable decoded = make(raw.string());
  EXPECT_EQ(elements<uint8_t>(pixels(decoded)), original);
}

TEST_F(PixelWrite, AFileWithoutPixelsChangesOnlyItsSyntax) {
  const fs::path out = tmp("plan.dcm");
  Variable f = make(out.string(), {kw("CLONE", (kCorpus / "rtplan.dcm").string())});
  // The source is implicit VR little endian.
  call(f, "ChangeTransferSyntax", {Variable::ofString("1.2.840.10008.1.2.1")});
  EXPECT_TRUE(contains(run("dcmdump -q -Un +P 0002,0010 " + quote(out)), "[1.2.840.10008.1.2.1]"));
  // Every attribute but the instance UIDs and the syntax is the source's
  // (lengths, which the encodings give differently, left out).
  const std::string filter = " | grep -v '^(0002\\|^(0008,0018\\|^#' | sed 's/ *#.*$//'";
  const std::string source = run("dcmdump -q +L " + quote(kCorpus / "rtplan.dcm") + filter);
  const std::string changed = run("dcmdump -q +L " + quote(out) + filter);
  EXPECT_GT(std::count(source.begin(), source.end(), '\n'), 100);
  EXPECT_EQ(source, changed);
}

TEST_F(PixelWrite, ChangesThatAreRefused) {
  Variable opened = make((kCorpus / "CT_small.dcm").string());
  EXPECT_TRUE(contains(changeError(opened, "1.2.840.10008.1.2"),
                       "Error: Can not change the transfer syntax on file that was opened as a read only object "));
  Variable f = make(tmp("refused.dcm").string(), {kw("CLONE", (kCorpus / "CT_small.dcm").string())});
  // JPEG lossless process 14 is a syntax the toolkit knows, but not one of the eight.
  EXPECT_TRUE(
      contains(changeError(f, "1.2.840.10008.1.2.4.57"),
               "Error: Failed unsupported or invalid transfer syntax uid. (syntax/file), 1.2.840.10008.1.2.4.57"));
  EXPECT_TRUE(contains(changeError(f, "not a uid"), "Error: Failed unsupported or invalid transfer syntax uid."));
  EXPECT_FALSE(fs::exists(tmp("refused.dcm")));
  // 16-bit data cannot become JPEG Baseline: the codec refuses, nothing is
  // written, and the data set keeps the syntax its pixels are in.
  EXPECT_TRUE(contains(changeError(f, "1.2.840.10008.1.2.4.50"), "Error: Failed to compress and set pixel data."));
  EXPECT_FALSE(fs::exists(tmp("refused.dcm")));
  EXPECT_EQ(getString(f, "0002,0010"), "1.2.840.10008.1.2.1");
  call(f, "Commit");
  Variable written = make(tmp("refused.dcm").string());
  Variable source = make((kCorpus / "CT_small.dcm").string());
  EXPECT_EQ(elements<int16_t>(pixels(written)), elements<int16_t>(pixels(source)));
}

TEST_F(PixelWrite, LossyJpeg2000IsNotReencoded) {
  // dcmdump reads 693_J2KI.dcm as JPEG 2000 (irreversible, 1.2.840.10008.1.2.4.91): lossy pixels stay as they are.
  Variable f = make(tmp("j2ki.dcm").string(), {kw("CLONE", (kCorpus / "693_J2KI.dcm").string())});
  EXPECT_TRUE(contains(changeError(f, "1.2.840.10008.1.2.1"), "Error: Existing format is lossy.")) << tmp("j2ki.dcm");
}

}  // namespace
}  // namespace fotest

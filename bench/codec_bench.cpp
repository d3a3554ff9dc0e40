// Pixel codecs: our frame codec (zylcodec) against the codec libraries alone,
// in the same process and on the same codestreams.
//
//   JPEG (baseline .50, extended .51, lossless .70): DCMTK's dcmjpeg through
//   DcmDataset::chooseRepresentation, what dcmdjpeg / dcmcjpeg run.
//   JPEG 2000 (.90, .91): OpenJPEG's opj_decode / opj_encode on memory
//   streams, on one thread and on two.
//   RLE (.5) and JPEG-LS (.80, .81), decoded only: DCMTK's RLE and JPEG-LS
//   decoders through DcmDataset::chooseRepresentation, what dcmdrle /
//   dcmdjpls run; their codestreams are made by DCMTK's encoders.
//
// Images are synthetic but image-like (a CT-style phantom with noise, a
// colour scene with gradients, shapes and noise), 512 x 512, made and encoded
// once at start-up. Both sides decode the same bytes: our encoder's, or
// DCMTK's for the syntaxes we only decode.
//
// Set ZYL_CODEC_BENCH_DUMP=<folder> to also write the codestreams (.j2k,
// .jpg) and single-frame DICOM files there, for timing the command-line tools.
#include "codec/pixel_codec.h"

#include <benchmark/benchmark.h>

#include <dcmtk/config/osconfig.h>
#include <dcmtk/dcmdata/dcdeftag.h>
#include <dcmtk/dcmdata/dcfilefo.h>
#include <dcmtk/dcmdata/dcpixel.h>
#include <dcmtk/dcmdata/dcpixseq.h>
#include <dcmtk/dcmdata/dcpxitem.h>
#include <dcmtk/dcmdata/dcrledrg.h>
#include <dcmtk/dcmdata/dcrleerg.h>
#include <dcmtk/dcmdata/dcuid.h>
#include <dcmtk/dcmimage/diregist.h>  // colour images for DCMTK's encoder
#include <dcmtk/dcmjpeg/djdecode.h>
#include <dcmtk/dcmjpeg/djencode.h>
#include <dcmtk/dcmjpeg/djrplol.h>
#include <dcmtk/dcmjpeg/djrploss.h>
#include <dcmtk/dcmjpls/djdecode.h>
#include <dcmtk/dcmjpls/djencode.h>
#include <dcmtk/dcmjpls/djrparam.h>
#include <openjpeg.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <map>
#include <memory>
#include <random>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

namespace {

using zyl::codec::Syntax;

constexpr std::uint16_t kSize = 512;
constexpr double kMegapixels = kSize * kSize / 1e6;

// ------------------------------------------------------------------ images

enum class Kind { grey8, grey12, grey16, rgb8 };

const char* kindName(Kind kind) {
  switch (kind) {
    case Kind::grey8:
      return "grey8";
    case Kind::grey12:
      return "grey12";
    case Kind::grey16:
      return "grey16";
    case Kind::rgb8:
      return "rgb8";
  }
  return "?";
}

zyl::codec::ImageDescription describe(Kind kind) {
  zyl::codec::ImageDescription d;
  d.rows = d.columns = kSize;
  switch (kind) {
    case Kind::grey8:
      d.bitsAllocated = 8;
      d.bitsStored = 8;
      break;
    case Kind::grey12:
      d.bitsAllocated = 16;
      d.bitsStored = 12;
      break;
    case Kind::grey16:
      d.bitsAllocated = 16;
      d.bitsStored = 16;
      break;
    case Kind::rgb8:
      d.bitsAllocated = 8;
      d.bitsStored = 8;
      d.samplesPerPixel = 3;
      d.photometric = "RGB";
      break;
  }
  d.highBit = static_cast<std::uint16_t>(d.bitsStored - 1);
  return d;
}

// A body-like ellipse with organs and bone, on air, with noise; `maxValue`
// is the top of the sample range.
std::vector<double> phantom(std::mt19937& random) {
  std::normal_distribution<double> noise(0.0, 1.0);
  std::vector<double> v(std::size_t{kSize} * kSize);
  struct Blob {
    double cx, cy, rx, ry, value;
  };
  const std::array<Blob, 6> blobs{{{256, 256, 220, 170, 0.50},
                                   {200, 230, 60, 45, 0.56},
                                   {320, 240, 50, 70, 0.47},
                                   {256, 360, 30, 30, 0.95},
                                   {256, 150, 18, 18, 0.90},
                                   {180, 320, 25, 15, 0.40}}};
  for (int y = 0; y < kSize; ++y)
    for (int x = 0; x < kSize; ++x) {
      double value = 0.02;
      for (const Blob& b : blobs) {
        const double dx = (x - b.cx) / b.rx, dy = (y - b.cy) / b.ry;
        if (dx * dx + dy * dy <= 1.0) value = b.value + 0.03 * (1.0 - dx * dx - dy * dy);
      }
      v[std::size_t(y) * kSize + x] = value + 0.004 * noise(random);
    }
  return v;
}

std::vector<std::uint8_t> makePixels(Kind kind) {
  std::mt19937 random(1234);
  std::vector<std::uint8_t> out;
  if (kind == Kind::rgb8) {
    std::normal_distribution<double> noise(0.0, 2.0);
    out.resize(std::size_t{kSize} * kSize * 3);
    for (int y = 0; y < kSize; ++y)
      for (int x = 0; x < kSize; ++x) {
        double r = 40 + 150.0 * x / kSize, g = 60 + 120.0 * y / kSize,
               b = 128 + 80 * std::sin(x / 40.0) * std::cos(y / 55.0);
        const double dx = x - 300, dy = y - 220;
        if (dx * dx + dy * dy < 110 * 110) {
          r = 220 - 0.2 * y;
          g = 80;
          b = 60 + 0.1 * x;
        }
        if (x > 60 && x < 200 && y > 330 && y < 470) {
          r = 30;
          g = 170 + 0.15 * (x - 60);
          b = 90;
        }
        const std::array<double, 3> c{r, g, b};
        for (int s = 0; s < 3; ++s)
          out[(std::size_t(y) * kSize + x) * 3 + s] =
              static_cast<std::uint8_t>(std::clamp(c[s] + noise(random), 0.0, 255.0));
      }
    return out;
  }
  const auto d = describe(kind);
  const double top = double((1u << d.bitsStored) - 1);
  const auto v = phantom(random);
  out.resize(d.frameBytes());
  for (std::size_t i = 0; i < v.size(); ++i) {
    const auto s = static_cast<std::uint32_t>(std::clamp(std::lround(v[i] * top), 0L, long(top)));
    if (d.bitsAllocated == 8) {
      out[i] = static_cast<std::uint8_t>(s);
    } else {
      out[2 * i] = static_cast<std::uint8_t>(s);
      out[2 * i + 1] = static_cast<std::uint8_t>(s >> 8);
    }
  }
  return out;
}

// ------------------------------------------------------------------ cases

struct Case {
  Syntax syntax;
  Kind kind;
  std::string name;  // e.g. "jpeg_baseline/rgb8"
  zyl::codec::ImageDescription image;
  std::vector<std::uint8_t> pixels;        // native
  zyl::codec::EncodedFrame encoded;        // our codestream
  std::unique_ptr<DcmDataset> native;      // for DCMTK's encoder
  std::unique_ptr<DcmDataset> compressed;  // for DCMTK's decoder and our FrameReader
};

const char* syntaxName(Syntax s) {
  switch (s) {
    case Syntax::jpeg_baseline:
      return "jpeg_baseline";
    case Syntax::jpeg_extended:
      return "jpeg_extended";
    case Syntax::jpeg_lossless:
      return "jpeg_lossless";
    case Syntax::j2k_lossless:
      return "j2k_lossless";
    case Syntax::j2k:
      return "j2k_lossy";
    case Syntax::rle:
      return "rle";
    case Syntax::jpeg_ls_lossless:
      return "jpeg_ls_lossless";
    case Syntax::jpeg_ls_near_lossless:
      return "jpeg_ls_near_lossless";
  }
  return "?";
}

E_TransferSyntax dcmtkSyntax(Syntax s) { return DcmXfer(std::string(zyl::codec::uidOf(s)).c_str()).getXfer(); }

void check(const OFCondition& c, const char* what) {
  if (c.bad()) throw std::runtime_error(std::string(what) + ": " + c.text());
}

std::unique_ptr<DcmDataset> nativeDataset(const Case& c) {
  auto ds = std::make_unique<DcmDataset>();
  char uid[100];
  check(ds->putAndInsertString(DCM_SOPClassUID, UID_SecondaryCaptureImageStorage), "SOP class");
  check(ds->putAndInsertString(DCM_SOPInstanceUID, dcmGenerateUniqueIdentifier(uid)), "SOP instance");
  check(ds->putAndInsertString(DCM_Modality, "OT"), "modality");
  check(ds->putAndInsertUint16(DCM_Rows, c.image.rows), "rows");
  check(ds->putAndInsertUint16(DCM_Columns, c.image.columns), "columns");
  check(ds->putAndInsertUint16(DCM_SamplesPerPixel, c.image.samplesPerPixel), "spp");
  check(ds->putAndInsertUint16(DCM_BitsAllocated, c.image.bitsAllocated), "ba");
  check(ds->putAndInsertUint16(DCM_BitsStored, c.image.bitsStored), "bs");
  check(ds->putAndInsertUint16(DCM_HighBit, c.image.highBit), "hb");
  check(ds->putAndInsertUint16(DCM_PixelRepresentation, c.image.pixelRepresentation), "pr");
  check(ds->putAndInsertString(DCM_PhotometricInterpretation, c.image.photometric.c_str()), "pi");
  if (c.image.samplesPerPixel == 3) check(ds->putAndInsertUint16(DCM_PlanarConfiguration, 0), "pc");
  if (c.image.bitsAllocated == 8) {
    check(ds->putAndInsertUint8Array(DCM_PixelData, c.pixels.data(), static_cast<unsigned long>(c.pixels.size())),
          "pixels");
  } else {
    std::vector<Uint16> words(c.pixels.size() / 2);
    std::memcpy(words.data(), c.pixels.data(), c.pixels.size());  // little-endian host
    check(ds->putAndInsertUint16Array(DCM_PixelData, words.data(), static_cast<unsigned long>(words.size())), "pixels");
  }
  return ds;
}

// A data set compressed by DCMTK's own encoder, and its one codestream.
std::unique_ptr<DcmDataset> dcmtkCompressed(const Case& c, std::vector<std::uint8_t>& codestream) {
  auto ds = nativeDataset(c);
  const DJLSRepresentationParameter nearLossless(2, OFFalse);  // NEAR = 2
  const DcmRepresentationParameter* parameter = c.syntax == Syntax::jpeg_ls_near_lossless ? &nearLossless : nullptr;
  check(ds->chooseRepresentation(dcmtkSyntax(c.syntax), parameter), "DCMTK encoding");
  DcmElement* element = nullptr;
  check(ds->findAndGetElement(DCM_PixelData, element), "pixel data");
  auto* pixels = static_cast<DcmPixelData*>(element);
  DcmPixelSequence* sequence = nullptr;
  check(pixels->getEncapsulatedRepresentation(dcmtkSyntax(c.syntax), parameter, sequence), "encapsulated");
  DcmPixelItem* fragment = nullptr;
  Uint8* bytes = nullptr;
  check(sequence->getItem(fragment, 1), "fragment");
  check(fragment->getUint8Array(bytes), "fragment bytes");
  codestream.assign(bytes, bytes + fragment->getLength());
  ds->removeAllButCurrentRepresentations();
  return ds;
}

std::vector<Case>& cases() {
  static std::vector<Case> all = [] {
    const std::vector<std::pair<Syntax, Kind>> list{{Syntax::jpeg_baseline, Kind::grey8},
                                                    {Syntax::jpeg_baseline, Kind::rgb8},
                                                    {Syntax::jpeg_extended, Kind::grey12},
                                                    {Syntax::jpeg_lossless, Kind::grey16},
                                                    {Syntax::jpeg_lossless, Kind::rgb8},
                                                    {Syntax::j2k_lossless, Kind::grey16},
                                                    {Syntax::j2k_lossless, Kind::rgb8},
                                                    {Syntax::j2k, Kind::grey16},
                                                    {Syntax::j2k, Kind::rgb8},
                                                    {Syntax::rle, Kind::grey16},
                                                    {Syntax::rle, Kind::rgb8},
                                                    {Syntax::jpeg_ls_lossless, Kind::grey16},
                                                    {Syntax::jpeg_ls_lossless, Kind::rgb8},
                                                    {Syntax::jpeg_ls_near_lossless, Kind::grey16}};
    std::vector<Case> made;
    for (const auto& [syntax, kind] : list) {
      Case c;
      c.syntax = syntax;
      c.kind = kind;
      c.name = std::string(syntaxName(syntax)) + "/" + kindName(kind);
      c.image = describe(kind);
      c.pixels = makePixels(kind);
      c.native = nativeDataset(c);
      if (zyl::codec::canEncode(syntax)) {
        c.encoded = zyl::codec::encodeFrame(syntax, c.image, c.pixels);
        c.compressed = nativeDataset(c);
        zyl::codec::EncapsulatedWriter writer;
        writer.addFrame(c.encoded.codestream);
        writer.install(*c.compressed, syntax);
        zyl::codec::applyEncodedAttributes(*c.compressed, c.encoded.attributes,
                                           double(c.pixels.size()) / double(c.encoded.codestream.size()));
      } else {
        c.compressed = dcmtkCompressed(c, c.encoded.codestream);
        c.encoded.attributes.photometric = c.image.photometric;
      }
      std::cerr << c.name << ": " << c.pixels.size() << " bytes -> " << c.encoded.codestream.size() << " (ratio "
                << double(c.pixels.size()) / double(c.encoded.codestream.size()) << ")\n";
      made.push_back(std::move(c));
    }
    return made;
  }();
  return all;
}

void dumpFiles(const std::filesystem::path& folder) {
  std::filesystem::create_directories(folder);
  for (const Case& c : cases()) {
    std::string stem = c.name;
    std::replace(stem.begin(), stem.end(), '/', '_');
    const char* ext = zyl::codec::isJpeg2000(c.syntax) ? ".j2k" : c.syntax == Syntax::rle ? ".rle" : ".jpg";
    std::ofstream(folder / (stem + ext), std::ios::binary)
        .write(reinterpret_cast<const char*>(c.encoded.codestream.data()),
               static_cast<std::streamsize>(c.encoded.codestream.size()));
    DcmFileFormat file(c.compressed.get());  // copies the data set
    check(file.saveFile((folder / (stem + ".dcm")).c_str(), dcmtkSyntax(c.syntax)), "save compressed");
    DcmFileFormat raw(c.native.get());
    check(raw.saveFile((folder / (stem + "_raw.dcm")).c_str(), EXS_LittleEndianExplicit), "save native");
  }
}

// ------------------------------------------------------------------ OpenJPEG alone

struct Source {
  const std::uint8_t* data;
  std::size_t size;
  std::size_t position = 0;
};
OPJ_SIZE_T sourceRead(void* buffer, OPJ_SIZE_T n, void* user) {
  auto* s = static_cast<Source*>(user);
  if (s->position >= s->size) return static_cast<OPJ_SIZE_T>(-1);
  n = std::min<std::size_t>(n, s->size - s->position);
  std::memcpy(buffer, s->data + s->position, n);
  s->position += n;
  return n;
}
OPJ_OFF_T sourceSkip(OPJ_OFF_T n, void* user) {
  auto* s = static_cast<Source*>(user);
  const auto to = std::clamp<OPJ_OFF_T>(OPJ_OFF_T(s->position) + n, 0, OPJ_OFF_T(s->size));
  const OPJ_OFF_T moved = to - OPJ_OFF_T(s->position);
  s->position = std::size_t(to);
  return moved;
}
OPJ_BOOL sourceSeek(OPJ_OFF_T to, void* user) {
  auto* s = static_cast<Source*>(user);
  if (to < 0 || std::size_t(to) > s->size) return OPJ_FALSE;
  s->position = std::size_t(to);
  return OPJ_TRUE;
}

struct Sink {
  std::vector<std::uint8_t> bytes;
  std::size_t position = 0;
};
OPJ_SIZE_T sinkWrite(void* buffer, OPJ_SIZE_T n, void* user) {
  auto* s = static_cast<Sink*>(user);
  if (s->position + n > s->bytes.size()) s->bytes.resize(s->position + n);
  std::memcpy(s->bytes.data() + s->position, buffer, n);
  s->position += n;
  return n;
}
OPJ_OFF_T sinkSkip(OPJ_OFF_T n, void* user) {
  auto* s = static_cast<Sink*>(user);
  s->position = std::size_t(OPJ_OFF_T(s->position) + n);
  if (s->position > s->bytes.size()) s->bytes.resize(s->position);
  return n;
}
OPJ_BOOL sinkSeek(OPJ_OFF_T to, void* user) {
  auto* s = static_cast<Sink*>(user);
  s->position = std::size_t(to);
  if (s->position > s->bytes.size()) s->bytes.resize(s->position);
  return OPJ_TRUE;
}

struct CodecFree {
  void operator()(opj_codec_t* p) const { opj_destroy_codec(p); }
};
struct StreamFree {
  void operator()(opj_stream_t* p) const { opj_stream_destroy(p); }
};
struct ImageFree {
  void operator()(opj_image_t* p) const { opj_image_destroy(p); }
};
using OpjCodec = std::unique_ptr<opj_codec_t, CodecFree>;
using OpjStream = std::unique_ptr<opj_stream_t, StreamFree>;
using OpjImage = std::unique_ptr<opj_image_t, ImageFree>;

// Decodes into OpenJPEG's own image (32-bit planes): the library's work alone.
void opjDecode(const std::vector<std::uint8_t>& codestream, int threads) {
  OpjCodec codec(opj_create_decompress(OPJ_CODEC_J2K));
  opj_dparameters_t parameters;
  opj_set_default_decoder_parameters(&parameters);
  if (!opj_setup_decoder(codec.get(), &parameters)) throw std::runtime_error("opj_setup_decoder");
  if (threads > 1) opj_codec_set_threads(codec.get(), threads);
  Source source{codestream.data(), codestream.size()};
  OpjStream stream(opj_stream_create(OPJ_J2K_STREAM_CHUNK_SIZE, OPJ_TRUE));
  opj_stream_set_user_data(stream.get(), &source, nullptr);
  opj_stream_set_user_data_length(stream.get(), codestream.size());
  opj_stream_set_read_function(stream.get(), sourceRead);
  opj_stream_set_skip_function(stream.get(), sourceSkip);
  opj_stream_set_seek_function(stream.get(), sourceSeek);
  opj_image_t* raw = nullptr;
  const bool header = opj_read_header(stream.get(), codec.get(), &raw);
  OpjImage image(raw);
  if (!header || !opj_decode(codec.get(), stream.get(), image.get()) || !opj_end_decompress(codec.get(), stream.get()))
    throw std::runtime_error("opj_decode");
  benchmark::DoNotOptimize(image->comps[0].data);
}

// The source image in OpenJPEG's form, with the samples unless `fill` is false.
OpjImage opjSourceImage(const Case& c, bool fill = true) {
  std::array<opj_image_cmptparm_t, 3> p{};
  const std::size_t spp = c.image.samplesPerPixel;
  for (std::size_t i = 0; i < spp; ++i) {
    p[i].dx = p[i].dy = 1;
    p[i].w = p[i].h = kSize;
    p[i].prec = c.image.bitsStored;
    p[i].sgnd = 0;
  }
  OpjImage image(opj_image_create(OPJ_UINT32(spp), p.data(), spp == 1 ? OPJ_CLRSPC_GRAY : OPJ_CLRSPC_SRGB));
  image->x0 = image->y0 = 0;
  image->x1 = image->y1 = kSize;
  if (!fill) return image;
  const std::size_t bps = c.image.bytesPerSample();
  for (std::size_t s = 0; s < spp; ++s)
    for (std::size_t i = 0; i < std::size_t{kSize} * kSize; ++i) {
      const std::size_t at = (i * spp + s) * bps;
      image->comps[s].data[i] = bps == 1 ? c.pixels[at] : c.pixels[at] | (c.pixels[at + 1] << 8);
    }
  return image;
}

// The encoder settings our codec uses: one layer, rate-distortion allocation,
// 5/3 or 9/7, colour transform for RGB.
std::size_t opjEncode(const Case& c, opj_image_t* image, int threads) {
  const bool lossless = c.syntax == Syntax::j2k_lossless;
  opj_cparameters_t parameters;
  opj_set_default_encoder_parameters(&parameters);
  parameters.tcp_numlayers = 1;
  parameters.cp_disto_alloc = 1;
  parameters.irreversible = lossless ? 0 : 1;
  parameters.tcp_rates[0] = lossless ? 0.0f : float(zyl::codec::EncodeOptions{}.j2kCompressionRatio);
  parameters.tcp_mct = c.image.samplesPerPixel == 3 ? 1 : 0;
  OpjCodec codec(opj_create_compress(OPJ_CODEC_J2K));
  if (!opj_setup_encoder(codec.get(), &parameters, image)) throw std::runtime_error("opj_setup_encoder");
  if (threads > 1) opj_codec_set_threads(codec.get(), threads);
  Sink sink;
  sink.bytes.reserve(c.pixels.size());
  {
    OpjStream stream(opj_stream_create(OPJ_J2K_STREAM_CHUNK_SIZE, OPJ_FALSE));
    opj_stream_set_user_data(stream.get(), &sink, nullptr);
    opj_stream_set_write_function(stream.get(), sinkWrite);
    opj_stream_set_skip_function(stream.get(), sinkSkip);
    opj_stream_set_seek_function(stream.get(), sinkSeek);
    if (!opj_start_compress(codec.get(), image, stream.get()) || !opj_encode(codec.get(), stream.get()) ||
        !opj_end_compress(codec.get(), stream.get()))
      throw std::runtime_error("opj_encode");
  }
  return sink.bytes.size();
}

// ------------------------------------------------------------------ benchmarks

void perPixel(benchmark::State& state) {
  state.counters["MP/s"] = benchmark::Counter(kMegapixels * double(state.iterations()), benchmark::Counter::kIsRate);
}

void DecodeOurs(benchmark::State& state, const Case* c) {
  std::vector<std::uint8_t> out(c->image.frameBytes());
  for (auto _ : state) {
    zyl::codec::decodeFrame(c->syntax, c->image, c->encoded.codestream, out);
    benchmark::DoNotOptimize(out.data());
  }
  perPixel(state);
}

void DecodeOursDataset(benchmark::State& state, const Case* c) {
  std::vector<std::uint8_t> out(c->image.frameBytes());
  for (auto _ : state) {
    zyl::codec::FrameReader reader(*c->compressed, c->syntax);
    reader.decode(0, out);
    benchmark::DoNotOptimize(out.data());
  }
  perPixel(state);
}

// DCMTK converting a copy of `source` to `syntax`: only the conversion is
// timed, not the copy nor its release.
void ConvertDcmtk(benchmark::State& state, const DcmDataset& source, E_TransferSyntax syntax,
                  const DcmRepresentationParameter* parameters) {
  for (auto _ : state) {
    state.PauseTiming();
    auto copy = std::make_unique<DcmDataset>(source);
    state.ResumeTiming();
    if (const OFCondition r = copy->chooseRepresentation(syntax, parameters); r.bad()) {
      state.SkipWithError(r.text());
      break;
    }
    benchmark::DoNotOptimize(copy.get());
    state.PauseTiming();
    copy.reset();
    state.ResumeTiming();
  }
  perPixel(state);
}

void DecodeDcmtk(benchmark::State& state, const Case* c) {
  ConvertDcmtk(state, *c->compressed, EXS_LittleEndianExplicit, nullptr);
}

void DecodeOpenJpeg(benchmark::State& state, const Case* c, int threads) {
  for (auto _ : state) opjDecode(c->encoded.codestream, threads);
  perPixel(state);
}

void EncodeOurs(benchmark::State& state, const Case* c) {
  for (auto _ : state) {
    auto frame = zyl::codec::encodeFrame(c->syntax, c->image, c->pixels);
    benchmark::DoNotOptimize(frame.codestream.data());
  }
  perPixel(state);
}

void EncodeDcmtk(benchmark::State& state, const Case* c) {
  const DJ_RPLossy lossy(zyl::codec::EncodeOptions{}.jpegQuality);
  const DJ_RPLossless lossless(1, 0);
  const DcmRepresentationParameter* parameters =
      c->syntax == Syntax::jpeg_lossless ? static_cast<const DcmRepresentationParameter*>(&lossless) : &lossy;
  ConvertDcmtk(state, *c->native, dcmtkSyntax(c->syntax), parameters);
}

void EncodeOpenJpeg(benchmark::State& state, const Case* c, int threads) {
  // OpenJPEG works on a single-tile image's planes in place and does not
  // leave the image reusable, so every encode gets a fresh image filled from
  // 32-bit planes prepared once (allocation and memcpy: about 1 % of the
  // encode).
  std::vector<std::vector<OPJ_INT32>> planes;
  {
    const OpjImage prepared = opjSourceImage(*c);
    for (OPJ_UINT32 s = 0; s < prepared->numcomps; ++s)
      planes.emplace_back(prepared->comps[s].data, prepared->comps[s].data + std::size_t{kSize} * kSize);
  }
  for (auto _ : state) {
    const OpjImage image = opjSourceImage(*c, false);
    for (OPJ_UINT32 s = 0; s < image->numcomps; ++s)
      std::memcpy(image->comps[s].data, planes[s].data(), planes[s].size() * sizeof(OPJ_INT32));
    benchmark::DoNotOptimize(opjEncode(*c, image.get(), threads));
  }
  perPixel(state);
}

template <typename... Args>
benchmark::internal::Benchmark* add(const std::string& name, Args&&... args) {
  return benchmark::RegisterBenchmark(name.c_str(), std::forward<Args>(args)...);
}

void registerAll() {
  for (Case& c : cases()) {
    const Case* p = &c;
    std::vector<benchmark::internal::Benchmark*> b;
    b.push_back(add("Decode/" + c.name + "/ours", DecodeOurs, p));
    b.push_back(add("Decode/" + c.name + "/ours_dataset", DecodeOursDataset, p));
    if (zyl::codec::isJpeg2000(c.syntax)) {
      b.push_back(add("Decode/" + c.name + "/openjpeg_1thread", DecodeOpenJpeg, p, 1));
      b.push_back(add("Decode/" + c.name + "/openjpeg_2threads", DecodeOpenJpeg, p, 2));
      b.push_back(add("Encode/" + c.name + "/ours", EncodeOurs, p));
      b.push_back(add("Encode/" + c.name + "/openjpeg_1thread", EncodeOpenJpeg, p, 1));
      b.push_back(add("Encode/" + c.name + "/openjpeg_2threads", EncodeOpenJpeg, p, 2));
      // Our JPEG 2000 path and OpenJPEG with threads use both cores: compare
      // by wall time; the CPU column then counts every thread.
      for (auto* one : b) one->UseRealTime()->MeasureProcessCPUTime();
    } else {
      add("Decode/" + c.name + "/dcmtk", DecodeDcmtk, p);
      if (!zyl::codec::canEncode(c.syntax)) continue;
      add("Encode/" + c.name + "/ours", EncodeOurs, p);
      add("Encode/" + c.name + "/dcmtk", EncodeDcmtk, p);
    }
  }
}

}  // namespace

int main(int argc, char** argv) {
  // The settings our codec uses: no new instance UID, colour by pixel.
  DJDecoderRegistration::registerCodecs(EDC_photometricInterpretation, EUC_never, EPC_colorByPixel);
  DJEncoderRegistration::registerCodecs(ECC_lossyYCbCr, EUC_never);
  DcmRLEDecoderRegistration::registerCodecs(OFFalse, OFFalse);
  DcmRLEEncoderRegistration::registerCodecs();
  DJLSDecoderRegistration::registerCodecs(EJLSUC_never, EJLSPC_colorByPixel);
  DJLSEncoderRegistration::registerCodecs();
  benchmark::Initialize(&argc, argv);
  try {
    if (const char* folder = std::getenv("ZYL_CODEC_BENCH_DUMP")) dumpFiles(folder);
    registerAll();
  } catch (const std::exception& e) {
    std::cerr << "codec_bench: " << e.what() << "\n";
    return 1;
  }
  std::cerr << "OpenJPEG " << opj_version() << (opj_has_thread_support() ? ", threads" : ", no threads") << "\n";
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  DJDecoderRegistration::cleanup();
  DJEncoderRegistration::cleanup();
  DcmRLEDecoderRegistration::cleanup();
  DcmRLEEncoderRegistration::cleanup();
  DJLSDecoderRegistration::cleanup();
  DJLSEncoderRegistration::cleanup();
  return 0;
}

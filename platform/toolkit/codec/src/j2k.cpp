// JPEG 2000 through OpenJPEG: raw codestreams (and JP2 files on decoding)
// read from and written to memory, one frame at a time.
#include "internal.h"

#include <openjpeg.h>

#include <algorithm>
#include <array>
#include <cstring>
#include <thread>

namespace zyl::codec::detail {

namespace {

struct CodecDeleter {
  void operator()(opj_codec_t* codec) const noexcept { opj_destroy_codec(codec); }
};
struct StreamDeleter {
  void operator()(opj_stream_t* stream) const noexcept { opj_stream_destroy(stream); }
};
struct ImageDeleter {
  void operator()(opj_image_t* image) const noexcept { opj_image_destroy(image); }
};
struct CodestreamInfoDeleter {
  void operator()(opj_codestream_info_v2_t* info) const noexcept { opj_destroy_cstr_info(&info); }
};
using CodecPtr = std::unique_ptr<opj_codec_t, CodecDeleter>;
using StreamPtr = std::unique_ptr<opj_stream_t, StreamDeleter>;
using ImagePtr = std::unique_ptr<opj_image_t, ImageDeleter>;
using CodestreamInfoPtr = std::unique_ptr<opj_codestream_info_v2_t, CodestreamInfoDeleter>;

constexpr std::array<std::uint8_t, 8> kJp2Signature{0x00, 0x00, 0x00, 0x0C, 0x6A, 0x50, 0x20, 0x20};
constexpr std::array<std::uint8_t, 4> kJ2kStart{0xFF, 0x4F, 0xFF, 0x51};  // SOC, SIZ

// The last error OpenJPEG reported, for the exception text.
struct Diagnostics {
  std::string lastError;
};

void onError(const char* message, void* context) {
  auto* diagnostics = static_cast<Diagnostics*>(context);
  diagnostics->lastError = message ? message : "";
  while (!diagnostics->lastError.empty() && diagnostics->lastError.back() == '\n') diagnostics->lastError.pop_back();
}
void ignoreMessage(const char*, void*) {}

void installHandlers(opj_codec_t* codec, Diagnostics& diagnostics) {
  opj_set_error_handler(codec, onError, &diagnostics);
  opj_set_warning_handler(codec, ignoreMessage, nullptr);
  opj_set_info_handler(codec, ignoreMessage, nullptr);
}

[[noreturn]] void failWith(Errc code, const char* step, const Diagnostics& diagnostics) {
  std::string text = std::string("JPEG 2000 ") + step;
  if (!diagnostics.lastError.empty()) text += ": " + diagnostics.lastError;
  fail(code, text);
}

void useThreadsFor(opj_codec_t* codec, std::size_t pixels) {
  if (pixels < kThreadedMinPixels) return;
  const int available = static_cast<int>(std::thread::hardware_concurrency());
  const int threads = std::min(available, kMaxCodecThreads);
  if (threads > 1) opj_codec_set_threads(codec, threads);  // unsupported builds stay single-threaded
}

// ---- memory streams

struct ReadSource {
  const std::uint8_t* data;
  std::size_t size;
  std::size_t position = 0;
};

OPJ_SIZE_T readSource(void* buffer, OPJ_SIZE_T bytes, void* user) {
  auto* source = static_cast<ReadSource*>(user);
  if (source->position >= source->size) return static_cast<OPJ_SIZE_T>(-1);
  const std::size_t n = std::min<std::size_t>(bytes, source->size - source->position);
  std::memcpy(buffer, source->data + source->position, n);
  source->position += n;
  return n;
}

OPJ_OFF_T skipSource(OPJ_OFF_T bytes, void* user) {
  auto* source = static_cast<ReadSource*>(user);
  if (bytes < 0) {
    const auto back = std::min<std::size_t>(static_cast<std::size_t>(-bytes), source->position);
    source->position -= back;
    return -static_cast<OPJ_OFF_T>(back);
  }
  const auto ahead = std::min<std::size_t>(static_cast<std::size_t>(bytes), source->size - source->position);
  if (ahead == 0 && bytes > 0) return -1;
  source->position += ahead;
  return static_cast<OPJ_OFF_T>(ahead);
}

OPJ_BOOL seekSource(OPJ_OFF_T offset, void* user) {
  auto* source = static_cast<ReadSource*>(user);
  if (offset < 0 || static_cast<std::size_t>(offset) > source->size) return OPJ_FALSE;
  source->position = static_cast<std::size_t>(offset);
  return OPJ_TRUE;
}

struct WriteSink {
  std::vector<std::uint8_t> bytes;
  std::size_t position = 0;
  void ensure(std::size_t end) {
    if (end > bytes.size()) bytes.resize(end, 0);
  }
};

OPJ_SIZE_T writeSink(void* buffer, OPJ_SIZE_T n, void* user) {
  auto* sink = static_cast<WriteSink*>(user);
  sink->ensure(sink->position + n);
  std::memcpy(sink->bytes.data() + sink->position, buffer, n);
  sink->position += n;
  return n;
}

OPJ_OFF_T skipSink(OPJ_OFF_T n, void* user) {
  auto* sink = static_cast<WriteSink*>(user);
  if (n < 0 && static_cast<std::size_t>(-n) > sink->position) return -1;
  sink->position = static_cast<std::size_t>(static_cast<OPJ_OFF_T>(sink->position) + n);
  sink->ensure(sink->position);
  return n;
}

OPJ_BOOL seekSink(OPJ_OFF_T offset, void* user) {
  auto* sink = static_cast<WriteSink*>(user);
  if (offset < 0) return OPJ_FALSE;
  sink->position = static_cast<std::size_t>(offset);
  sink->ensure(sink->position);
  return OPJ_TRUE;
}

bool startsWith(std::span<const std::uint8_t> data, std::span<const std::uint8_t> prefix) {
  return data.size() >= prefix.size() && std::equal(prefix.begin(), prefix.end(), data.begin());
}

}  // namespace

DecodedFormat decodeJ2k(const ImageDescription& image, std::span<const std::uint8_t> codestream,
                        std::span<std::uint8_t> out) {
  OPJ_CODEC_FORMAT format;
  if (startsWith(codestream, kJ2kStart))
    format = OPJ_CODEC_J2K;
  else if (startsWith(codestream, kJp2Signature))
    format = OPJ_CODEC_JP2;
  else
    fail(Errc::corrupt_codestream, "neither a JPEG 2000 codestream nor a JP2 file");

  Diagnostics diagnostics;
  CodecPtr codec(opj_create_decompress(format));
  if (!codec) fail(Errc::codec_failure, "cannot create a JPEG 2000 decoder");
  installHandlers(codec.get(), diagnostics);
  opj_dparameters_t parameters;
  opj_set_default_decoder_parameters(&parameters);
  if (!opj_setup_decoder(codec.get(), &parameters)) failWith(Errc::codec_failure, "decoder setup", diagnostics);
  useThreadsFor(codec.get(), std::size_t{image.rows} * image.columns);

  ReadSource source{codestream.data(), codestream.size()};
  StreamPtr stream(opj_stream_create(OPJ_J2K_STREAM_CHUNK_SIZE, OPJ_TRUE));
  if (!stream) fail(Errc::codec_failure, "cannot create a JPEG 2000 stream");
  opj_stream_set_user_data(stream.get(), &source, nullptr);
  opj_stream_set_user_data_length(stream.get(), codestream.size());
  opj_stream_set_read_function(stream.get(), readSource);
  opj_stream_set_skip_function(stream.get(), skipSource);
  opj_stream_set_seek_function(stream.get(), seekSource);

  opj_image_t* rawImage = nullptr;
  const bool headerRead = opj_read_header(stream.get(), codec.get(), &rawImage);
  ImagePtr decoded(rawImage);
  if (!headerRead || !decoded) failWith(Errc::corrupt_codestream, "header", diagnostics);

  // Check the geometry before OpenJPEG allocates anything for the samples.
  const std::uint32_t width = decoded->x1 - decoded->x0;
  const std::uint32_t height = decoded->y1 - decoded->y0;
  if (decoded->x1 < decoded->x0 || decoded->y1 < decoded->y0 || width != image.columns || height != image.rows ||
      decoded->numcomps != image.samplesPerPixel)
    fail(Errc::geometry_mismatch, "JPEG 2000 image is " + std::to_string(width) + "x" + std::to_string(height) + "x" +
                                      std::to_string(decoded->numcomps) + ", image is " +
                                      std::to_string(image.columns) + "x" + std::to_string(image.rows) + "x" +
                                      std::to_string(image.samplesPerPixel));
  const std::size_t pixels = std::size_t{width} * height;
  if (pixels * decoded->numcomps * sizeof(OPJ_INT32) > kMaxJ2kDecodedBytes)
    fail(Errc::invalid_image, "JPEG 2000 image exceeds the decoding limit");
  for (OPJ_UINT32 c = 0; c < decoded->numcomps; ++c) {
    const opj_image_comp_t& comp = decoded->comps[c];
    if (comp.dx != 1 || comp.dy != 1) fail(Errc::unsupported_image, "subsampled JPEG 2000 components");
    if (comp.prec < 1 || comp.prec > 16)
      fail(Errc::corrupt_codestream, "JPEG 2000 precision " + std::to_string(comp.prec));
    if (comp.prec > 8 && image.bitsAllocated == 8)
      fail(Errc::geometry_mismatch,
           std::to_string(comp.prec) + "-bit JPEG 2000 data in an image with 8 bits allocated");
  }

  if (!opj_decode(codec.get(), stream.get(), decoded.get()))
    failWith(Errc::corrupt_codestream, "decoding", diagnostics);
  if (!opj_end_decompress(codec.get(), stream.get()))
    failWith(Errc::corrupt_codestream, "end of decoding", diagnostics);

  const std::size_t spp = image.samplesPerPixel;
  const bool wantSigned = image.pixelRepresentation == 1;
  struct Plane {
    const OPJ_INT32* data;
    std::int32_t signBit;  // 0: take the value as it is
    std::int32_t range;
  };
  std::array<Plane, 4> planes{};
  if (spp > planes.size()) fail(Errc::unsupported_image, "more than four JPEG 2000 components");
  for (std::size_t c = 0; c < spp; ++c) {
    const opj_image_comp_t& comp = decoded->comps[c];
    if (!comp.data || comp.w != width || comp.h != height)
      fail(Errc::corrupt_codestream, "JPEG 2000 component incomplete");
    // Pixel Representation wins: unsigned codestream samples of a signed
    // image are two's complement values of `prec` bits.
    const bool signExtend = wantSigned && !comp.sgnd;
    planes[c] = {comp.data, signExtend ? std::int32_t{1} << (comp.prec - 1) : 0, std::int32_t{1} << comp.prec};
  }
  // One sequential pass over the output, all planes interleaved at once.
  auto interleave = [&](auto store) {
    for (std::size_t i = 0; i < pixels; ++i)
      for (std::size_t c = 0; c < spp; ++c) {
        const Plane& plane = planes[c];
        std::int32_t v = plane.data[i];
        if (plane.signBit != 0 && v >= plane.signBit) v -= plane.range;
        store(i * spp + c, v);
      }
  };
  if (image.bitsAllocated == 8)
    interleave([&](std::size_t at, std::int32_t v) { out[at] = static_cast<std::uint8_t>(v); });
  else
    interleave([&](std::size_t at, std::int32_t v) { storeLe16(&out[at * 2], static_cast<std::uint16_t>(v)); });

  DecodedFormat result{image.photometric, 0, image.bitsAllocated};
  if (image.photometric == "YBR_RCT" || image.photometric == "YBR_ICT") {
    // OpenJPEG undoes the component transform the codestream declares.
    CodestreamInfoPtr info(opj_get_cstr_info(codec.get()));
    if (info && info->m_default_tile_info.mct) result.photometric = "RGB";
  }
  return result;
}

EncodedFrame encodeJ2k(Syntax syntax, const ImageDescription& image, std::span<const std::uint8_t> pixels,
                       const EncodeOptions& options) {
  const bool lossless = syntax == Syntax::j2k_lossless;
  const bool rgb = image.samplesPerPixel == 3 && image.photometric == "RGB";
  if (image.samplesPerPixel == 3 && !rgb && image.photometric != "YBR_FULL")
    fail(Errc::unsupported_image, "JPEG 2000 encoding of Photometric Interpretation " + image.photometric);
  if (!lossless && !(options.j2kCompressionRatio > 1.0))
    fail(Errc::invalid_image, "JPEG 2000 compression ratio must exceed 1");

  const std::size_t spp = image.samplesPerPixel;
  const std::uint32_t width = image.columns;
  const std::uint32_t height = image.rows;
  std::array<opj_image_cmptparm_t, 3> componentParameters{};
  for (std::size_t c = 0; c < spp; ++c) {
    opj_image_cmptparm_t& p = componentParameters[c];
    std::memset(&p, 0, sizeof p);
    p.dx = p.dy = 1;
    p.w = width;
    p.h = height;
    p.prec = image.bitsStored;
    p.sgnd = image.pixelRepresentation;
  }
  const OPJ_COLOR_SPACE colourSpace = spp == 1 ? OPJ_CLRSPC_GRAY : (rgb ? OPJ_CLRSPC_SRGB : OPJ_CLRSPC_SYCC);
  ImagePtr source(opj_image_create(static_cast<OPJ_UINT32>(spp), componentParameters.data(), colourSpace));
  if (!source) fail(Errc::codec_failure, "cannot create a JPEG 2000 image");
  source->x0 = source->y0 = 0;
  source->x1 = width;
  source->y1 = height;

  // Only the Bits Stored bits are pixel data; signed values are sign-extended
  // from them.
  const std::uint32_t mask = (std::uint32_t{1} << image.bitsStored) - 1;
  const std::uint32_t signBit = std::uint32_t{1} << (image.bitsStored - 1);
  const std::size_t count = std::size_t{width} * height;
  const std::size_t bps = image.bytesPerSample();
  for (std::size_t c = 0; c < spp; ++c) {
    OPJ_INT32* data = source->comps[c].data;
    for (std::size_t i = 0; i < count; ++i) {
      const std::size_t at = (i * spp + c) * bps;
      std::uint32_t raw = (bps == 1 ? pixels[at] : loadLe16(&pixels[at])) & mask;
      std::int32_t value = static_cast<std::int32_t>(raw);
      if (image.pixelRepresentation == 1 && (raw & signBit))
        value = static_cast<std::int32_t>(raw) - static_cast<std::int32_t>(mask) - 1;
      data[i] = value;
    }
  }

  opj_cparameters_t parameters;
  opj_set_default_encoder_parameters(&parameters);
  parameters.tcp_numlayers = 1;
  parameters.cp_disto_alloc = 1;
  parameters.irreversible = lossless ? 0 : 1;
  parameters.tcp_rates[0] = lossless ? 0.0f : static_cast<float>(options.j2kCompressionRatio);
  parameters.tcp_mct = rgb ? 1 : 0;
  while (parameters.numresolution > 1 && std::min(width, height) < (std::uint32_t{1} << (parameters.numresolution - 1)))
    --parameters.numresolution;

  Diagnostics diagnostics;
  CodecPtr codec(opj_create_compress(OPJ_CODEC_J2K));
  if (!codec) fail(Errc::codec_failure, "cannot create a JPEG 2000 encoder");
  installHandlers(codec.get(), diagnostics);
  if (!opj_setup_encoder(codec.get(), &parameters, source.get()))
    failWith(Errc::codec_failure, "encoder setup", diagnostics);
  useThreadsFor(codec.get(), count);

  WriteSink sink;
  sink.bytes.reserve(image.frameBytes() / (lossless ? 2 : 8) + 1024);
  StreamPtr stream(opj_stream_create(OPJ_J2K_STREAM_CHUNK_SIZE, OPJ_FALSE));
  if (!stream) fail(Errc::codec_failure, "cannot create a JPEG 2000 stream");
  opj_stream_set_user_data(stream.get(), &sink, nullptr);
  opj_stream_set_write_function(stream.get(), writeSink);
  opj_stream_set_skip_function(stream.get(), skipSink);
  opj_stream_set_seek_function(stream.get(), seekSink);

  if (!opj_start_compress(codec.get(), source.get(), stream.get()))
    failWith(Errc::codec_failure, "start of encoding", diagnostics);
  if (!opj_encode(codec.get(), stream.get())) failWith(Errc::codec_failure, "encoding", diagnostics);
  if (!opj_end_compress(codec.get(), stream.get())) failWith(Errc::codec_failure, "end of encoding", diagnostics);
  stream.reset();  // flushes what the stream still buffers

  EncodedFrame frame;
  frame.codestream = std::move(sink.bytes);
  if (frame.codestream.size() % 2) frame.codestream.push_back(0);
  frame.attributes.photometric = rgb ? (lossless ? "YBR_RCT" : "YBR_ICT") : image.photometric;
  frame.attributes.lossy = !lossless;
  if (!lossless) frame.attributes.lossyMethod = "ISO_15444_1";
  return frame;
}

}  // namespace zyl::codec::detail

// Compressed pixel data: frames of encapsulated Pixel Data decoded one at a
// time into callers' receivers, frames from callers' suppliers compressed into
// encapsulated Pixel Data, and whole Pixel Data moved between native and
// encapsulated when a message changes syntax.
//
// The work on each frame is done by the compression callbacks registered on
// the message. The toolkit calls a callback with its tree unlocked, once per
// frame (input: one frame's codestream or native pixels; output: memory the
// callback owns until its next call), and once more with `release` set so
// that the callback frees its context. MC_Standard_Compressor and
// MC_Standard_Decompressor do the work with the codec library.
#include "access.h"
#include "limits.h"
#include "pixels.h"
#include "tables.h"

#include "codec/pixel_codec.h"

#include <cstring>
#include <functional>
#include <span>

namespace codec = zyl::codec;

namespace zyl::toolkit {

// What a tree keeps between the calls that read or write frames.
struct PixelSession {
  // Frames being read: where they come from and which one is next.
  struct Reading {
    const DcmItem* container = nullptr;
    DcmTagKey tag;
    const DcmElement* element = nullptr;
    DcmPixelSequence* sequence = nullptr;  // null for native pixel data
    unsigned long items = 0;
    std::optional<codec::Syntax> syntax;  // nullopt for native pixel data
    codec::ImageDescription image;
    codec::FrameIndex index;
    std::uint32_t next = 0;
  };
  std::optional<Reading> reading;

  // The form of the frames last decoded from an element.
  const DcmElement* decodedFrom = nullptr;
  std::optional<codec::DecodedFormat> decoded;

  // Frames being written; the data set changes only when the value is closed.
  struct Writing {
    std::uint64_t generation = 0;
    const DcmItem* container = nullptr;
    DcmTagKey tag;
    codec::Syntax syntax = codec::Syntax::jpeg_baseline;
    codec::ImageDescription image;
    std::unique_ptr<codec::EncapsulatedWriter> writer;
    std::optional<codec::EncodedAttributes> attributes;
    std::uint32_t frames = 0;
    std::uint64_t nativeBytes = 0;
  };
  std::optional<Writing> writing;
  std::uint64_t generations = 0;
};

}  // namespace zyl::toolkit

using namespace zyl::toolkit;

namespace {

using Bytes = std::vector<std::uint8_t>;

PixelSession& session(Root& root) {
  if (!root.pixels) root.pixels = std::make_shared<PixelSession>();
  return *root.pixels;
}

// ---- Codec failures as statuses -------------------------------------------------

MC_STATUS statusOf(const codec::CodecError& error, bool decoding) {
  using codec::Errc;
  switch (error.code()) {
    case Errc::unsupported_syntax:
      return MC_INVALID_TRANSFER_SYNTAX;
    case Errc::unsupported_image:
    case Errc::bit_depth_too_large:
    case Errc::signed_lossy_jpeg:
      return MC_INCOMPATIBLE_PIXEL_DATA;
    case Errc::missing_attribute:
      return MC_REQUIRED_ATTRIBUTE_MISSING;
    case Errc::invalid_image:
      return MC_INCOMPATIBLE_VALUE;
    case Errc::frame_out_of_range:
      return MC_INVALID_VALUE_NUMBER;
    case Errc::no_pixel_data:
      return MC_INVALID_TAG;
    case Errc::buffer_too_small:
      return MC_BUFFER_TOO_SMALL;
    case Errc::fragments_mismatch:
    case Errc::corrupt_codestream:
    case Errc::geometry_mismatch:
      return MC_DECOMPRESSION_FAILURE;
    case Errc::codec_failure:
      return decoding ? MC_DECOMPRESSION_FAILURE : MC_COMPRESSION_FAILURE;
  }
  return MC_CANNOT_COMPLY;
}

// Runs codec work inside the toolkit, its failures turned into ours.
template <class Work>
auto viaCodec(bool decoding, Work&& work) {
  try {
    return work();
  } catch (const codec::CodecError& error) {
    fail(statusOf(error, decoding));
  }
}

template <class Operation>
MC_STATUS codecGuarded(bool decoding, Operation&& operation) noexcept {
  return guarded([&] { return viaCodec(decoding, operation); });
}

// ---- Syntaxes and elements ---------------------------------------------------------

std::optional<codec::Syntax> codecSyntax(E_TransferSyntax xfer) {
  if (xfer == EXS_Unknown) return std::nullopt;
  return codec::syntaxFromUid(DcmXfer(xfer).getXferID());
}

// The syntax a message's data set is to be encoded in: a file's (0002,0010)
// when it names one, else the message's own.
E_TransferSyntax messageSyntax(Root& root) {
  OFString uid;
  if (root.isFile && root.meta() && root.meta()->findAndGetOFString(DCM_TransferSyntaxUID, uid).good() && !uid.empty())
    if (auto number = tables::syntaxFromUid(std::string(uid)))
      if (auto xfer = tables::dcmtkFromSyntax(*number)) return *xfer;
  return root.transferSyntax;
}

// The syntax encapsulated pixel data is in; nullopt when it is native.
std::optional<E_TransferSyntax> encapsulation(DcmPixelData& pixels) {
  E_TransferSyntax current = EXS_Unknown;
  const DcmRepresentationParameter* parameter = nullptr;
  pixels.getCurrentRepresentationKey(current, parameter);
  if (!DcmXfer(current).isEncapsulated()) return std::nullopt;
  return current;
}

// The pixel data an attribute holds, failing as the value getters do.
DcmPixelData& pixelData(const Attribute& attribute) {
  requireValues(attribute);
  if (!attribute.element || attribute.element->ident() != EVR_PixelData) fail(MC_INCOMPATIBLE_VR);
  return *static_cast<DcmPixelData*>(attribute.element);
}

codec::ImageDescription describe(DcmItem& container) {
  return viaCodec(true, [&] {
    codec::ImageDescription image = codec::describeImage(container);
    codec::checkImage(image);
    return image;
  });
}

// Copies the native bytes of frames [first, first + count) of a native element.
Bytes nativeFrames(DcmPixelData& pixels, const codec::ImageDescription& image, std::uint32_t first,
                   std::uint32_t count) {
  Uint8* bytes = nullptr;
  const std::size_t frameBytes = image.frameBytes();
  const std::size_t end = (std::size_t{first} + count) * frameBytes;
  if (pixels.getUint8Array(bytes).bad() || !bytes || pixels.getLength() < end) fail(MC_INCOMPATIBLE_VALUE);
  return Bytes(bytes + std::size_t{first} * frameBytes, bytes + end);
}

// ---- Callbacks -----------------------------------------------------------------------

// What the standard callbacks work on while the toolkit runs them, and what
// they report back. Set for the calling thread only.
struct FrameJob {
  codec::Syntax syntax = codec::Syntax::jpeg_baseline;
  codec::ImageDescription image;
  codec::EncodeOptions options;
  std::optional<codec::DecodedFormat> decoded;
  std::optional<codec::EncodedAttributes> encoded;
};
thread_local FrameJob* activeJob = nullptr;

class JobScope {
 public:
  explicit JobScope(FrameJob& job) : previous_(activeJob) { activeJob = &job; }
  ~JobScope() { activeJob = previous_; }
  JobScope(const JobScope&) = delete;
  JobScope& operator=(const JobScope&) = delete;

 private:
  FrameJob* previous_;
};

// One run of a compression callback over consecutive frames; the callback's
// context is released at the end, whatever happened.
class CallbackRun {
 public:
  CallbackRun(int id, MC_Compression_Callback callback, FrameJob& job) : id_(id), callback_(callback), job_(job) {}
  ~CallbackRun() {
    if (!called_) return;
    unsigned long length = 0;
    void* output = nullptr;
    JobScope scope(job_);
    callback_(id_, &context_, 0, nullptr, &length, &output, 0, 0, 1);
  }
  CallbackRun(const CallbackRun&) = delete;
  CallbackRun& operator=(const CallbackRun&) = delete;

  std::span<const std::uint8_t> process(std::span<const std::uint8_t> input, bool first, bool last) {
    unsigned long length = 0;
    void* output = nullptr;
    called_ = true;
    JobScope scope(job_);
    const MC_STATUS status = callback_(id_, &context_, input.size(), const_cast<std::uint8_t*>(input.data()), &length,
                                       &output, first, last, 0);
    if (status != MC_NORMAL_COMPLETION) fail(status);
    if (length == 0 || !output) fail(MC_CALLBACK_PARM_ERROR);
    return {static_cast<const std::uint8_t*>(output), length};
  }

 private:
  int id_;
  MC_Compression_Callback callback_;
  FrameJob& job_;
  void* context_ = nullptr;
  bool called_ = false;
};

// The standard callbacks' context: the frame they produced last.
struct StandardContext {
  Bytes output;
  std::optional<FrameJob> derived;  // when called outside the toolkit
};

// The job of a standard callback called directly by an application: the
// image of the data set or item `id` names, in the syntax of its pixel data
// (decoding) or of the message (encoding).
FrameJob deriveJob(int id, bool decoding) {
  Target target = Target::open(id);
  FrameJob job;
  job.image = describe(target.item());
  std::optional<codec::Syntax> syntax;
  if (decoding) {
    Attribute attribute = findAttribute(target, DCM_PixelData);
    if (attribute.state == AttributeState::Valued && attribute.element->ident() == EVR_PixelData)
      if (auto xfer = encapsulation(*static_cast<DcmPixelData*>(attribute.element))) syntax = codecSyntax(*xfer);
  }
  if (!syntax) syntax = codecSyntax(messageSyntax(target.root()));
  if (!syntax) fail(MC_INVALID_TRANSFER_SYNTAX);
  job.syntax = *syntax;
  return job;
}

template <class Work>
MC_STATUS standardCallback(bool decoding, int id, void** context, unsigned long inputLength, void* input,
                           unsigned long* outputLength, void** output, int release, Work&& work) {
  return codecGuarded(decoding, [&] {
    if (!context) return MC_NULL_POINTER_PARM;
    if (release) {
      std::unique_ptr<StandardContext> owned(static_cast<StandardContext*>(*context));
      *context = nullptr;
      return MC_NORMAL_COMPLETION;
    }
    if (!outputLength || !output || (!input && inputLength > 0)) return MC_NULL_POINTER_PARM;
    if (!*context) *context = std::make_unique<StandardContext>().release();
    auto& state = *static_cast<StandardContext*>(*context);
    FrameJob* job = activeJob;
    if (!job) {
      if (!state.derived) state.derived = deriveJob(id, decoding);
      job = &*state.derived;
    }
    work(*job, std::span<const std::uint8_t>(static_cast<const std::uint8_t*>(input), inputLength), state.output);
    *output = state.output.data();
    *outputLength = state.output.size();
    return MC_NORMAL_COMPLETION;
  });
}

// ---- Reading frames ------------------------------------------------------------------

PixelSession::Reading startReading(const Attribute& attribute, DcmPixelData& pixels) {
  PixelSession::Reading reading;
  reading.container = attribute.container;
  reading.tag = attribute.tag;
  reading.element = attribute.element;
  reading.image = describe(*attribute.container);
  const auto xfer = encapsulation(pixels);
  if (!xfer) {
    // Native pixel data is handed out frame by frame as it is.
    if (pixels.getLength() < reading.image.frameBytes() * reading.image.frames) fail(MC_INCOMPATIBLE_VALUE);
    return reading;
  }
  reading.syntax = codecSyntax(*xfer);
  if (!reading.syntax) fail(MC_INVALID_TRANSFER_SYNTAX);  // no codec here decodes it
  const DcmRepresentationParameter* parameter = nullptr;
  E_TransferSyntax current = EXS_Unknown;
  pixels.getCurrentRepresentationKey(current, parameter);
  if (pixels.getEncapsulatedRepresentation(current, parameter, reading.sequence).bad() || !reading.sequence)
    fail(MC_DECOMPRESSION_FAILURE);
  reading.items = reading.sequence->card();
  if (reading.items < 2) fail(MC_DECOMPRESSION_FAILURE);  // an offset table and no fragment

  std::vector<std::uint32_t> offsetTable;
  DcmPixelItem* item = nullptr;
  Uint8* bytes = nullptr;
  if (reading.sequence->getItem(item, 0).good() && item->getLength() % 4 == 0 && item->getUint8Array(bytes).good() &&
      bytes)
    for (Uint32 i = 0; i + 4 <= item->getLength(); i += 4)
      offsetTable.push_back(static_cast<std::uint32_t>(bytes[i]) | static_cast<std::uint32_t>(bytes[i + 1]) << 8 |
                            static_cast<std::uint32_t>(bytes[i + 2]) << 16 |
                            static_cast<std::uint32_t>(bytes[i + 3]) << 24);
  std::vector<std::size_t> lengths;
  for (unsigned long i = 1; i < reading.items; ++i) {
    if (reading.sequence->getItem(item, i).bad()) fail(MC_DECOMPRESSION_FAILURE);
    lengths.push_back(item->getLength());
  }
  DcmPixelSequence* sequence = reading.sequence;
  reading.index = viaCodec(true, [&] {
    return codec::FrameIndex::build(offsetTable, lengths, reading.image.frames, [sequence](std::size_t i) {
      DcmPixelItem* fragment = nullptr;
      Uint8* data = nullptr;
      if (sequence->getItem(fragment, static_cast<unsigned long>(i + 1)).bad() || fragment->getUint8Array(data).bad())
        throw codec::CodecError(codec::Errc::fragments_mismatch, "unreadable fragment");
      return codec::Fragment(data, data ? fragment->getLength() : 0);
    });
  });
  return reading;
}

bool stillReading(const PixelSession::Reading& reading, const Attribute& attribute, DcmPixelData& pixels) {
  if (reading.container != attribute.container || reading.tag != attribute.tag || reading.element != attribute.element)
    return false;
  if (!reading.syntax) return !encapsulation(pixels);
  DcmPixelSequence* sequence = nullptr;
  E_TransferSyntax current = EXS_Unknown;
  const DcmRepresentationParameter* parameter = nullptr;
  pixels.getCurrentRepresentationKey(current, parameter);
  return pixels.getEncapsulatedRepresentation(current, parameter, sequence).good() && sequence == reading.sequence &&
         sequence->card() == reading.items;
}

// The concatenated fragments of one frame.
Bytes frameCodestream(const PixelSession::Reading& reading, std::uint32_t frame) {
  const auto range = viaCodec(true, [&] { return reading.index.range(frame); });
  Bytes codestream;
  for (std::size_t i = range.first; i < range.first + range.count; ++i) {
    DcmPixelItem* fragment = nullptr;
    Uint8* data = nullptr;
    if (reading.sequence->getItem(fragment, static_cast<unsigned long>(i + 1)).bad() ||
        fragment->getUint8Array(data).bad())
      fail(MC_DECOMPRESSION_FAILURE);
    if (data) codestream.insert(codestream.end(), data, data + fragment->getLength());
  }
  return codestream;
}

enum class Start { First, Next, At };

struct FrameOut {
  std::uint32_t frame = 0;
  std::uint32_t frames = 0;
};
using FrameSink = std::function<void(std::span<const std::uint8_t>, FrameOut)>;

// Decodes one frame (the first, the next, or frame `at`) and hands it to the
// sink. MC_END_OF_FRAME while frames follow, MC_NORMAL_COMPLETION after the
// last, MC_NO_MORE_VALUES when Next finds none left.
MC_STATUS readFrame(int id, std::uint32_t tag, Start start, std::uint32_t at, const FrameSink& sink) {
  Bytes input;
  FrameJob job;
  FrameOut out;
  MC_Compression_Callback decompressor = nullptr;
  const DcmElement* element = nullptr;
  std::shared_ptr<Root> root;
  {
    Target target = Target::open(id);
    root = target.rootPointer();
    PixelSession& pixels = session(target.root());
    const Attribute attribute = findAttribute(target, tagKey(tag));
    DcmPixelData& data = pixelData(attribute);
    if (start == Start::Next) {
      if (!pixels.reading || !stillReading(*pixels.reading, attribute, data)) fail(MC_STATE_VIOLATION);
    } else {
      pixels.reading.reset();
      pixels.reading = startReading(attribute, data);
    }
    auto& reading = *pixels.reading;
    out.frames = reading.image.frames;
    out.frame = start == Start::At ? at : start == Start::First ? 0 : reading.next;
    if (out.frame >= out.frames) {
      if (start == Start::Next) return MC_NO_MORE_VALUES;
      fail(MC_INVALID_VALUE_NUMBER);
    }
    reading.next = out.frame + 1;
    if (!reading.syntax) {
      input = nativeFrames(data, reading.image, out.frame, 1);
    } else {
      decompressor = target.root().decompressor;
      if (!decompressor) fail(MC_DECOMPRESSOR_REQUIRED);
      input = frameCodestream(reading, out.frame);
      job.syntax = *reading.syntax;
      job.image = reading.image;
      element = attribute.element;
    }
  }
  const MC_STATUS done = out.frame + 1 < out.frames ? MC_END_OF_FRAME : MC_NORMAL_COMPLETION;
  if (!decompressor) {
    sink(input, out);
    return done;
  }
  CallbackRun run(id, decompressor, job);
  const auto pixels = run.process(input, out.frame == 0, out.frame + 1 == out.frames);
  if (job.decoded) {
    std::lock_guard lock(root->mutex);
    PixelSession& state = session(*root);
    state.decodedFrom = element;
    state.decoded = job.decoded;
  }
  sink(pixels, out);
  return done;
}

void deliver(int id, std::uint32_t tag, void* userInfo, MC_Value_Receiver receiver, std::span<const std::uint8_t> bytes,
             bool first, bool last) {
  std::size_t offset = 0;
  do {
    const std::size_t piece = std::min(limits::kValuePieceSize, bytes.size() - offset);
    const bool end = offset + piece >= bytes.size();
    const MC_STATUS status =
        receiver(id, tag, userInfo, static_cast<int>(piece), const_cast<std::uint8_t*>(bytes.data() + offset),
                 first && offset == 0, last && end);
    if (status != MC_NORMAL_COMPLETION) fail(MC_CALLBACK_CANNOT_COMPLY);
    offset += piece;
  } while (offset < bytes.size());
}

MC_STATUS frameToFunction(int id, std::uint32_t tag, Start start, std::uint32_t at, void* userInfo,
                          MC_Value_Receiver receiver) {
  return codecGuarded(true, [&] {
    if (!receiver) return MC_NO_CALLBACK;
    return readFrame(id, tag, start, at, [&](std::span<const std::uint8_t> bytes, FrameOut) {
      deliver(id, tag, userInfo, receiver, bytes, true, true);
    });
  });
}

// Every frame in order, each handed to the sink.
void readAllFrames(int id, std::uint32_t tag, const FrameSink& sink) {
  MC_STATUS status = readFrame(id, tag, Start::First, 0, sink);
  while (status == MC_END_OF_FRAME) status = readFrame(id, tag, Start::Next, 0, sink);
  if (status != MC_NORMAL_COMPLETION) fail(status);
}

// ---- Writing frames ------------------------------------------------------------------

// Pulls one value from a supplier.
Bytes pullValue(int id, std::uint32_t tag, void* userInfo, MC_Value_Supplier supplier) {
  Bytes bytes;
  for (bool first = true;; first = false) {
    int size = 0;
    void* data = nullptr;
    int last = 0;
    if (supplier(id, tag, userInfo, first, &size, &data, &last) != MC_NORMAL_COMPLETION)
      fail(MC_CALLBACK_CANNOT_COMPLY);
    if (size < 0) fail(MC_CALLBACK_DATA_SIZE_NEGATIVE);
    if (size > 0 && !data) fail(MC_CALLBACK_PARM_ERROR);
    if (bytes.size() + static_cast<std::size_t>(size) > limits::kMaxSuppliedValueLength) fail(MC_LIMIT_EXCEEDED);
    const auto* p = static_cast<const std::uint8_t*>(data);
    bytes.insert(bytes.end(), p, p + size);
    if (last) return bytes;
  }
}

// The form of native pixels decoded by the toolkit from the element now in place.
std::optional<codec::DecodedFormat> decodedFormatOf(Target& target, const Attribute& attribute) {
  if (!target.root().pixels || !attribute.element) return std::nullopt;
  const PixelSession& pixels = *target.root().pixels;
  if (pixels.decodedFrom != attribute.element) return std::nullopt;
  return pixels.decoded;
}

void applyDecodedFormat(DcmItem& container, const codec::DecodedFormat& format) {
  if (container.putAndInsertString(DCM_PhotometricInterpretation, format.photometric.c_str()).bad())
    fail(MC_CANNOT_COMPLY);
  Uint16 samples = 1;
  if (container.findAndGetUint16(DCM_SamplesPerPixel, samples).good() && samples > 1 &&
      container.putAndInsertUint16(DCM_PlanarConfiguration, format.planarConfiguration).bad())
    fail(MC_CANNOT_COMPLY);
}

// Writes what encoding changed. Lossy Image Compression itself is left as it
// was when the caller keeps it (the encapsulated-value calls): callers decide
// whether a lossy copy is marked.
void applyEncoded(DcmItem& container, const codec::EncodedAttributes& attributes, double ratio, bool markLossy) {
  OFString before;
  const bool had = container.findAndGetOFString(DCM_LossyImageCompression, before).good();
  viaCodec(false, [&] { codec::applyEncodedAttributes(container, attributes, ratio); });
  if (markLossy || !attributes.lossy) return;
  if (had)
    container.putAndInsertString(DCM_LossyImageCompression, before.c_str());
  else
    container.findAndDeleteElement(DCM_LossyImageCompression);
}

MC_STATUS writeFrame(int id, std::uint32_t tag, bool first, void* userInfo, MC_Value_Supplier supplier) {
  if (!supplier) return MC_NO_CALLBACK;
  FrameJob job;
  MC_Compression_Callback compressor = nullptr;
  std::uint32_t frame = 0;
  std::uint64_t generation = 0;
  {
    Target target = Target::open(id);
    const DcmTagKey key = tagKey(tag);
    if (key != DCM_PixelData) fail(MC_INVALID_TAG);
    PixelSession& pixels = session(target.root());
    compressor = target.root().compressor;
    if (!compressor) fail(MC_COMPRESSOR_REQUIRED);
    DcmItem& container = target.containerFor(key);
    if (first) {
      pixels.writing.reset();
      const auto syntax = codecSyntax(messageSyntax(target.root()));
      if (!syntax || !codec::canEncode(*syntax)) fail(MC_INVALID_TRANSFER_SYNTAX);
      PixelSession::Writing writing;
      writing.generation = ++pixels.generations;
      writing.container = &container;
      writing.tag = key;
      writing.syntax = *syntax;
      writing.image = describe(container);
      // Frames decoded here from the value being replaced are in decoded form.
      if (auto format = decodedFormatOf(target, findAttribute(target, key))) {
        writing.image.photometric = format->photometric;
        writing.image.planarConfiguration = format->planarConfiguration;
      }
      viaCodec(false, [&] { codec::checkEncodable(writing.syntax, writing.image); });
      writing.writer = std::make_unique<codec::EncapsulatedWriter>();
      pixels.writing = std::move(writing);
    } else if (!pixels.writing || pixels.writing->container != &container || pixels.writing->tag != key) {
      fail(MC_STATE_VIOLATION);
    }
    auto& writing = *pixels.writing;
    if (writing.frames >= writing.image.frames) fail(MC_TOO_MANY_VALUES);
    job.syntax = writing.syntax;
    job.image = writing.image;
    frame = writing.frames;
    generation = writing.generation;
  }
  Bytes native = pullValue(id, tag, userInfo, supplier);
  const std::size_t frameBytes = job.image.frameBytes();
  // Suppliers pad an odd-length OB value with one zero byte.
  if (frameBytes % 2 == 1 && native.size() == frameBytes + 1) native.pop_back();
  if (native.size() != frameBytes) fail(MC_CALLBACK_DATA_SIZE_UNEVEN);

  Bytes codestream;
  {
    CallbackRun run(id, compressor, job);
    const auto encoded = run.process(native, frame == 0, frame + 1 == job.image.frames);
    codestream.assign(encoded.begin(), encoded.end());
  }
  Target target = Target::open(id);
  PixelSession& pixels = session(target.root());
  if (!pixels.writing || pixels.writing->generation != generation) fail(MC_STATE_VIOLATION);
  auto& writing = *pixels.writing;
  viaCodec(false, [&] { writing.writer->addFrame(codestream); });
  if (job.encoded) writing.attributes = job.encoded;
  writing.nativeBytes += frameBytes;
  ++writing.frames;
  return MC_NORMAL_COMPLETION;
}

MC_STATUS closeValue(int id, std::uint32_t tag) {
  Target target = Target::open(id);
  const DcmTagKey key = tagKey(tag);
  PixelSession& pixels = session(target.root());
  DcmItem& container = target.containerFor(key);
  if (!pixels.writing || pixels.writing->container != &container || pixels.writing->tag != key)
    fail(MC_STATE_VIOLATION);
  PixelSession::Writing writing = std::move(*pixels.writing);
  pixels.writing.reset();
  if (writing.frames < writing.image.frames) fail(MC_TOO_FEW_VALUES);
  const double ratio =
      static_cast<double>(writing.nativeBytes) / static_cast<double>(writing.writer->compressedBytes());
  viaCodec(false, [&] { writing.writer->install(container, writing.syntax); });
  target.root().state(&container).emptyAttributes.erase(key);
  pixels.reading.reset();
  // What was decoded came from the value just replaced.
  pixels.decodedFrom = nullptr;
  pixels.decoded.reset();
  if (writing.attributes) applyEncoded(container, *writing.attributes, ratio, false);
  return MC_NORMAL_COMPLETION;
}

}  // namespace

// ---- Used by the rest of the toolkit ------------------------------------------------

namespace zyl::toolkit::pixels {

bool holdsEncapsulated(int id, std::uint32_t tag) {
  Target target = Target::open(id);
  const Attribute attribute = findAttribute(target, tagKey(tag));
  return attribute.state == AttributeState::Valued && attribute.element->ident() == EVR_PixelData &&
         encapsulation(*static_cast<DcmPixelData*>(attribute.element)).has_value();
}

MC_STATUS decodedValueToFunction(int id, std::uint32_t tag, void* userInfo, MC_Value_Receiver receiver) {
  return codecGuarded(true, [&] {
    if (!receiver) return MC_NO_CALLBACK;
    readAllFrames(id, tag, [&](std::span<const std::uint8_t> bytes, FrameOut out) {
      deliver(id, tag, userInfo, receiver, bytes, out.frame == 0, out.frame + 1 == out.frames);
    });
    return MC_NORMAL_COMPLETION;
  });
}

MC_STATUS decodedValueToBuffer(int id, std::uint32_t tag, int bufferSize, void* buffer, int* bytesReturned) {
  return codecGuarded(true, [&] {
    if (!buffer || !bytesReturned) return MC_NULL_POINTER_PARM;
    std::size_t filled = 0;
    readAllFrames(id, tag, [&](std::span<const std::uint8_t> bytes, FrameOut) {
      if (bufferSize < 0 || filled + bytes.size() > static_cast<std::size_t>(bufferSize)) fail(MC_BUFFER_TOO_SMALL);
      std::memcpy(static_cast<std::uint8_t*>(buffer) + filled, bytes.data(), bytes.size());
      filled += bytes.size();
    });
    *bytesReturned = static_cast<int>(filled);
    return MC_NORMAL_COMPLETION;
  });
}

void adoptDecodedFormat(Target& target, const DcmTagKey& tag) {
  if (tag != DCM_PixelData) return;
  const Attribute attribute = findAttribute(target, tag);
  if (auto format = decodedFormatOf(target, attribute)) {
    applyDecodedFormat(*attribute.container, *format);
    // The native value about to be written replaces the decoded one.
    PixelSession& pixels = session(target.root());
    pixels.decodedFrom = nullptr;
    pixels.decoded.reset();
  }
}

std::optional<std::string> decodedPhotometric(Target& target) {
  if (!target.isMessage()) return std::nullopt;
  const Attribute attribute = findAttribute(target, DCM_PixelData);
  if (auto format = decodedFormatOf(target, attribute)) return format->photometric;
  return std::nullopt;
}

void convertPixelData(int messageId, E_TransferSyntax syntax) {
  const auto target = codecSyntax(syntax);
  const bool toEncapsulated = DcmXfer(syntax).isEncapsulated();
  std::optional<E_TransferSyntax> from;
  MC_Compression_Callback compressor = nullptr;
  codec::ImageDescription image;
  Bytes native;
  {
    Target message = Target::open(messageId, true);
    Root& root = message.root();
    const Attribute attribute = findAttribute(message, DCM_PixelData);
    if (attribute.state != AttributeState::Valued || attribute.element->ident() != EVR_PixelData) return;
    auto& pixels = *static_cast<DcmPixelData*>(attribute.element);
    from = encapsulation(pixels);
    if (from ? *from == syntax : !toEncapsulated) return;
    if (toEncapsulated && (!target || !codec::canEncode(*target) || !root.compressor)) fail(MC_COMPRESSOR_REQUIRED);
    if (from && (!codecSyntax(*from) || !root.decompressor)) fail(MC_DECOMPRESSOR_REQUIRED);
    compressor = root.compressor;
    session(root).decoded.reset();
    image = describe(*root.dataset());
    // Refuse what the target would damage before any frame is decoded.
    if (toEncapsulated) viaCodec(false, [&] { codec::checkEncodable(*target, image); });
    if (!from) native = nativeFrames(pixels, image, 0, image.frames);
  }
  if (from) {
    native.reserve(image.frameBytes() * image.frames);
    readAllFrames(messageId, tagValue(DCM_PixelData), [&](std::span<const std::uint8_t> bytes, FrameOut) {
      if (bytes.size() != image.frameBytes()) fail(MC_DECOMPRESSION_FAILURE);
      native.insert(native.end(), bytes.begin(), bytes.end());
    });
    Target message = Target::open(messageId, true);
    const auto& state = session(message.root());
    if (state.decoded) {
      image.photometric = state.decoded->photometric;
      image.planarConfiguration = state.decoded->planarConfiguration;
    }
    if (!toEncapsulated) {
      DcmDataset& dataset = *message.root().dataset();
      setBinaryValue(message, DCM_PixelData, native);
      if (state.decoded) applyDecodedFormat(dataset, *state.decoded);
      return;
    }
  }

  FrameJob job;
  job.syntax = *target;
  job.image = image;
  codec::EncapsulatedWriter writer;
  {
    CallbackRun run(messageId, compressor, job);
    const std::size_t frameBytes = image.frameBytes();
    for (std::uint32_t f = 0; f < image.frames; ++f) {
      const auto codestream =
          run.process(std::span(native).subspan(f * frameBytes, frameBytes), f == 0, f + 1 == image.frames);
      viaCodec(false, [&] { writer.addFrame(codestream); });
    }
  }
  const double ratio = static_cast<double>(native.size()) / static_cast<double>(writer.compressedBytes());
  Target message = Target::open(messageId, true);
  DcmDataset& dataset = *message.root().dataset();
  viaCodec(false, [&] { writer.install(dataset, *target); });
  session(message.root()).reading.reset();
  codec::EncodedAttributes attributes;
  attributes.photometric = image.photometric;
  attributes.lossy = codec::isLossy(*target);
  attributes.lossyMethod = codec::isJpeg2000(*target) ? "ISO_15444_1" : "ISO_10918_1";
  applyEncoded(dataset, job.encoded ? *job.encoded : attributes, ratio, true);
}

}  // namespace zyl::toolkit::pixels

// ---- The C interface -------------------------------------------------------------------

extern "C" {

MC_STATUS MC_Standard_Decompressor(int id, void** context, unsigned long inputLength, void* input,
                                   unsigned long* outputLength, void** output, int isFirst, int isLast, int release) {
  (void)isFirst;
  (void)isLast;
  return standardCallback(true, id, context, inputLength, input, outputLength, output, release,
                          [](FrameJob& job, std::span<const std::uint8_t> codestream, Bytes& out) {
                            out.resize(job.image.frameBytes());
                            job.decoded = codec::decodeFrame(job.syntax, job.image, codestream, out);
                          });
}

MC_STATUS MC_Standard_Compressor(int id, void** context, unsigned long inputLength, void* input,
                                 unsigned long* outputLength, void** output, int isFirst, int isLast, int release) {
  (void)isFirst;
  (void)isLast;
  return standardCallback(false, id, context, inputLength, input, outputLength, output, release,
                          [](FrameJob& job, std::span<const std::uint8_t> frame, Bytes& out) {
                            codec::EncodedFrame encoded = codec::encodeFrame(job.syntax, job.image, frame, job.options);
                            out = std::move(encoded.codestream);
                            job.encoded = std::move(encoded.attributes);
                          });
}

MC_STATUS MC_Get_Encapsulated_Value_To_Function(int id, uint32_t tag, void* userInfo, MC_Value_Receiver receiver) {
  return frameToFunction(id, tag, Start::First, 0, userInfo, receiver);
}

MC_STATUS MC_Get_Next_Encapsulated_Value_To_Function(int id, uint32_t tag, void* userInfo, MC_Value_Receiver receiver) {
  return frameToFunction(id, tag, Start::Next, 0, userInfo, receiver);
}

MC_STATUS MC_Get_Encapsulated_Frame_To_Function(int id, uint32_t tag, unsigned int frame, void* userInfo,
                                                MC_Value_Receiver receiver) {
  return frameToFunction(id, tag, Start::At, frame, userInfo, receiver);
}

MC_STATUS MC_Set_Encapsulated_Value_From_Function(int id, uint32_t tag, void* userInfo, MC_Value_Supplier supplier) {
  return codecGuarded(false, [&] { return writeFrame(id, tag, true, userInfo, supplier); });
}

MC_STATUS MC_Set_Next_Encapsulated_Value_From_Function(int id, uint32_t tag, void* userInfo,
                                                       MC_Value_Supplier supplier) {
  return codecGuarded(false, [&] { return writeFrame(id, tag, false, userInfo, supplier); });
}

MC_STATUS MC_Close_Encapsulated_Value(int id, uint32_t tag) {
  return codecGuarded(false, [&] { return closeValue(id, tag); });
}

}  // extern "C"

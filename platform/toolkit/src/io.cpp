// Reading DICOM files and raw data sets through callers' readers or from a
// path, and writing DICOM files through a caller's writer.
#include "access.h"
#include "settings.h"
#include "limits.h"
#include "pixels.h"
#include "scan.h"
#include "tables.h"
#include "toolkit/file_values.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include <algorithm>
#include <cstring>
#include <memory>
#include <optional>
#include <utility>

using namespace zyl::toolkit;

namespace {

// ---- Bounded parsing ------------------------------------------------------------
//
// DCMTK parses nested sequences recursively and reserves a value's memory as
// soon as it has read the value's header. Instead of predicting from the bytes
// what DCMTK will make of them, the reader lets DCMTK decide the structure and
// bounds what it can do with it:
//  - DCMTK is called again and again, each time allowed only as many bytes as
//    open one sequence level beyond the limit (a level costs at least a
//    sequence header and an item header, 16 bytes), plus what is left of a
//    value it has begun, which holds no headers. Between calls its own partial
//    tree tells how deep it is, and at the end the whole tree is measured;
//  - DCMTK reserves a value's memory as soon as it has read its header, so it
//    is told to load no value longer than the limit, nor (when the input is
//    known whole) than what is left of the input (maxReadLength). For a longer
//    one it asks the stream for a way to load it later and skips it; the
//    stream answers with a marker and refuses the skip, and the read stops:
//    beyond the limit, or invalid (a value cut short);
//  - DCMTK resumes a value it has begun at its element list's cursor, which
//    it leaves on the last element when it sorts one read out of tag order
//    into place: between calls the cursor is put back on the element in
//    progress (else the rest of that value is read as elements).

constexpr offile_off_t kBytesPerLevel = 16;

// A value DCMTK was not allowed to load; never loaded.
class ValueNotLoaded : public DcmInputStreamFactory {
 public:
  DcmInputStream* create() const override { return nullptr; }
  DcmInputStreamFactory* clone() const override { return new ValueNotLoaded; }
  DcmInputStreamFactoryType ident() const override { return DFT_DcmInputFileStreamFactory; }
};

// A file's identity when it was read: a value left in it is loaded only from
// the same file, unchanged (not from one renamed over it or written since).
struct FileIdentity {
  dev_t device = 0;
  ino_t inode = 0;
  off_t size = 0;
  timespec modified{};

  bool operator==(const FileIdentity& other) const {
    return device == other.device && inode == other.inode && size == other.size &&
           modified.tv_sec == other.modified.tv_sec && modified.tv_nsec == other.modified.tv_nsec;
  }
};

// A regular file read through one descriptor, for DCMTK: its size taken once,
// bytes read by offset into a buffer, skips without a system call. A file that
// shrinks while it is read ends early (a premature end to DCMTK), never faults.
class FileBytes : public DcmProducer {
 public:
  explicit FileBytes(const std::string& path) : fd_(::open(path.c_str(), O_RDONLY | O_CLOEXEC)) {
    struct stat info {};
    if (fd_ < 0 || ::fstat(fd_, &info) != 0 || !S_ISREG(info.st_mode)) {
      status_ = EC_InvalidStream;
      return;
    }
    identity_ = FileIdentity{info.st_dev, info.st_ino, info.st_size, info.st_mtim};
    size_ = info.st_size;
  }
  ~FileBytes() override {
    if (fd_ >= 0) ::close(fd_);
  }
  FileBytes(const FileBytes&) = delete;
  FileBytes& operator=(const FileBytes&) = delete;

  const FileIdentity& identity() const { return identity_; }
  // Fails the reading from here on.
  void refuse() { status_ = EC_InvalidStream; }
  // Up to `length` bytes from `offset`, apart from the reading position.
  offile_off_t readAt(offile_off_t offset, void* target, offile_off_t length) {
    if (status_.bad() || offset >= size_) return 0;
    length = std::min(length, size_ - offset);
    offile_off_t done = 0;
    while (done < length) {
      const ssize_t n = ::pread(fd_, static_cast<Uint8*>(target) + done, static_cast<std::size_t>(length - done),
                                static_cast<off_t>(offset + done));
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) {
        size_ = offset + done;  // shorter than it was: it ends here
        break;
      }
      done += n;
    }
    return done;
  }

  // The bytes from `offset` that one buffer holds, read into the buffer
  // unless they are there already (none from the end on).
  std::pair<const Uint8*, offile_off_t> bufferedFrom(offile_off_t offset) {
    if (offset < bufferStart_ || offset >= bufferStart_ + bufferLength_) {
      bufferStart_ = offset;
      bufferLength_ = readAt(offset, buffer_, sizeof buffer_);
    }
    const offile_off_t skipped = std::min(offset - bufferStart_, bufferLength_);
    return {buffer_ + skipped, bufferLength_ - skipped};
  }

  OFBool good() const override { return status_.good(); }
  OFCondition status() const override { return status_; }
  OFBool eos() override { return status_.bad() || position_ >= size_; }
  offile_off_t avail() override { return status_.bad() ? 0 : size_ - position_; }
  offile_off_t read(void* target, offile_off_t length) override {
    length = std::min(length, avail());
    auto* out = static_cast<Uint8*>(target);
    offile_off_t done = 0;
    while (done < length) {
      const bool buffered = position_ >= bufferStart_ && position_ < bufferStart_ + bufferLength_;
      // A long read bypasses the buffer.
      if (!buffered && length - done >= static_cast<offile_off_t>(sizeof buffer_)) {
        const offile_off_t n = readAt(position_, out + done, length - done);
        position_ += n;
        done += n;
        break;
      }
      const auto [bytes, available] = bufferedFrom(position_);
      if (available == 0) break;
      const offile_off_t n = std::min(length - done, available);
      std::memcpy(out + done, bytes, static_cast<std::size_t>(n));
      position_ += n;
      done += n;
    }
    return done;
  }
  offile_off_t skip(offile_off_t length) override {
    length = std::min(length, avail());
    position_ += length;
    return length;
  }
  void putback(offile_off_t count) override { position_ -= std::min(count, position_); }

 private:
  int fd_;
  OFCondition status_ = EC_Normal;
  FileIdentity identity_;
  offile_off_t size_ = 0;
  offile_off_t position_ = 0;
  Uint8 buffer_[16 * 1024];
  offile_off_t bufferStart_ = 0;
  offile_off_t bufferLength_ = 0;
};

// DCMTK's input stream over a file's bytes; the bytes come first, so that
// they exist when the stream is built on them.
struct FileBytesHolder {
  explicit FileBytesHolder(const std::string& path) : bytes(path) {}
  FileBytes bytes;
};

// A value left in its file, loaded when it is first used (DCMTK's own
// factory, so that DCMTK may take it for one). A file that changed since it
// was read yields a stream that fails, never other bytes.
class ValueInFile : public DcmInputFileStreamFactory {
 public:
  ValueInFile(const std::string& path, const FileIdentity& identity, offile_off_t offset)
      : DcmInputFileStreamFactory(OFFilename(path.c_str()), offset), path_(path), identity_(identity) {}
  DcmInputStream* create() const override;
  DcmInputStreamFactory* clone() const override { return new ValueInFile(*this); }

 private:
  std::string path_;
  FileIdentity identity_;
};

class FileInputStream : private FileBytesHolder, public DcmInputStream {
 public:
  explicit FileInputStream(const std::string& path) : FileBytesHolder(path), DcmInputStream(&bytes), path_(path) {}
  FileBytes& fileBytes() { return bytes; }
  const std::string& path() const { return path_; }
  DcmInputStreamFactory* newFactory() const override { return new ValueInFile(path_, bytes.identity(), tell()); }

 private:
  std::string path_;
};

DcmInputStream* ValueInFile::create() const {
  auto* stream = new FileInputStream(path_);
  if (!(stream->fileBytes().identity() == identity_)) stream->fileBytes().refuse();
  stream->skip(getOffset());
  return stream;
}

// A DCMTK input stream giving out at most an allowance of bytes per call.
template <class Base>
class Bounded : public Base {
 public:
  using Base::Base;
  // Starts a call in which DCMTK may take `bytes` more bytes.
  void allow(offile_off_t bytes) {
    callStart_ = this->tell();
    allowance_ = bytes;
    allowanceReached_ = false;
  }
  // DCMTK was refused bytes that the input holds.
  bool allowanceReached() const { return allowanceReached_; }
  // Why a value was not loaded, if one was not: the read has stopped.
  std::optional<MC_STATUS> valueRefused() const { return valueRefused_; }
  // Bytes the input holds, whatever the allowance.
  offile_off_t unread() { return Base::avail(); }

  offile_off_t avail() override { return capped(Base::avail()); }
  offile_off_t read(void* buffer, offile_off_t length) override { return Base::read(buffer, capped(length)); }

 protected:
  offile_off_t capped(offile_off_t length) {
    if (valueRefused_) return 0;
    const offile_off_t left = std::max<offile_off_t>(0, allowance_ - (this->tell() - callStart_));
    if (length <= left) return length;
    if (Base::avail() > left) allowanceReached_ = true;
    return left;
  }

  // DCMTK is given a marker for a value it may not load, and skips the
  // value next: the read stops there, and the length tells why.
  DcmInputStreamFactory* refuseValue() const {
    valueRefused_ = MC_LIMIT_EXCEEDED;  // until the skip tells the length
    return new ValueNotLoaded;
  }
  void refuseValue(offile_off_t length) {
    valueRefused_ = length > static_cast<offile_off_t>(limits::kMaxValueLength) ? MC_LIMIT_EXCEEDED : MC_INVALID_FILE;
  }

  mutable std::optional<MC_STATUS> valueRefused_;

 private:
  offile_off_t callStart_ = 0;
  offile_off_t allowance_ = 0;
  bool allowanceReached_ = false;
};

// The caller's chunks, one at a time in DCMTK's buffer stream.
class BoundedInputStream : public Bounded<DcmInputBufferStream> {
 public:
  static constexpr bool kChunked = true;
  static constexpr Uint32 maxReadLength() { return limits::kMaxValueLength; }

  offile_off_t skip(offile_off_t length) override {
    if (valueRefused_) {
      refuseValue(length);
      return 0;
    }
    return DcmInputBufferStream::skip(capped(length));
  }

  // DCMTK asks for this for a value longer than maxReadLength, and at the
  // end of the input for a value that is cut short.
  DcmInputStreamFactory* newFactory() const override {
    if (const_cast<BoundedInputStream*>(this)->eos()) return nullptr;
    return refuseValue();
  }
};

// A file DCMTK reads in bounded calls, values longer than `leaveAbove` left
// in it: DCMTK skips such a value in the call that read its header, so the
// skip is not held to the allowance (a value hides no structure).
class BoundedFileStream : public Bounded<FileInputStream> {
 public:
  static constexpr bool kChunked = false;

  BoundedFileStream(const std::string& path, Uint32 leaveAbove) : Bounded(path), leaveAbove_(leaveAbove) {}
  Uint32 maxReadLength() const { return leaveAbove_; }
  // A deflated data set has no file offsets for its values: all are read,
  // held to the limit as from a caller's chunks.
  void readAllValues() { leaveAbove_ = limits::kMaxValueLength; }

  // A value is left in the file only if the file holds it.
  offile_off_t skip(offile_off_t length) override {
    if (valueRefused_ || length > static_cast<offile_off_t>(limits::kMaxValueLength) || length > unread()) {
      refuseValue(length);
      return 0;
    }
    return FileInputStream::skip(length);
  }
  DcmInputStreamFactory* newFactory() const override {
    if (leaveAbove_ < limits::kMaxValueLength) return FileInputStream::newFactory();
    if (const_cast<BoundedFileStream*>(this)->eos()) return nullptr;
    return refuseValue();
  }

 private:
  Uint32 leaveAbove_;
};

// DCMTK's cursors into its lists, which show the element or item being read.
struct ItemElements : DcmItem {
  static DcmList* DcmItem::*member() { return &ItemElements::elementList; }
  // False while the element at the cursor is still being read.
  static OFBool DcmItem::*complete() { return &ItemElements::lastElementComplete; }
};
struct SequenceItems : DcmSequenceOfItems {
  static DcmList* DcmSequenceOfItems::*member() { return &SequenceItems::itemList; }
};
struct ValueProgress : DcmElement {
  static Uint32 (DcmObject::*member())() const { return &ValueProgress::getTransferredBytes; }
};

// Where DCMTK stands in a partly read tree.
struct ParsePosition {
  int depth = 0;                     // sequences open around the read position
  std::uint32_t valueRemaining = 0;  // bytes still due to a value begun
};

// The element an item is reading, if any, with DCMTK's cursor put back on
// it: DCMTK resumes the element at the cursor, and sorting one read out of
// tag order into place leaves the cursor on the last element (found by
// fuzzing). An element in progress that is not in the list was dropped as one
// that came twice: the rest of its value cannot be told from elements.
DcmObject* elementInProgress(DcmItem& item) {
  if (item.*ItemElements::complete()) return nullptr;
  DcmList& elements = *(item.*ItemElements::member());
  DcmObject* atCursor = elements.get(ELP_atpos);
  if (atCursor && atCursor->transferState() != ERW_ready) return atCursor;
  // From the end, as DCMTK searched for the place it sorted the element into.
  for (DcmObject* o = elements.seek(ELP_last); o; o = elements.seek(ELP_prev))
    if (o->transferState() != ERW_ready) return o;
  fail(MC_INVALID_FILE);
}

ParsePosition parsePosition(DcmItem& top) {
  ParsePosition at;
  DcmObject* node = elementInProgress(top);
  while (node) {
    if (auto* item = dynamic_cast<DcmItem*>(node)) {
      node = elementInProgress(*item);
    } else if (auto* sequence = dynamic_cast<DcmSequenceOfItems*>(node)) {
      if (sequence->ident() == EVR_SQ) ++at.depth;
      DcmList* items = sequence->*SequenceItems::member();
      // DCMTK appends items and resumes at the last one.
      DcmObject* last = items->empty() ? nullptr : items->get(ELP_last);
      node = last && last->transferState() != ERW_ready ? last : nullptr;
    } else {
      auto* pixels = dynamic_cast<DcmPixelData*>(node);
      if (pixels && pixels->getLengthField() == DCM_UndefinedLength) {
        // Encapsulated pixel data reads into a fragment sequence of its own.
        E_TransferSyntax representation = EXS_Unknown;
        const DcmRepresentationParameter* parameter = nullptr;
        pixels->getCurrentRepresentationKey(representation, parameter);
        DcmPixelSequence* fragments = nullptr;
        node = pixels->getEncapsulatedRepresentation(representation, parameter, fragments).good() ? fragments : nullptr;
        continue;
      }
      const Uint32 length = node->getLengthField();
      const Uint32 done = (node->*ValueProgress::member())();
      if (length != DCM_UndefinedLength && done < length) at.valueRemaining = length - done;
      break;
    }
  }
  return at;
}

// The deepest sequence nesting in a tree DCMTK has read. DCMTK cannot have
// built it deeper than one level beyond the limit, which bounds this recursion.
int nestingDepth(DcmItem& item) {
  int deepest = 0;
  for (DcmObject* o = item.nextInContainer(nullptr); o; o = item.nextInContainer(o)) {
    auto* sequence = dynamic_cast<DcmSequenceOfItems*>(o);
    if (!sequence || sequence->ident() != EVR_SQ) continue;
    int inner = 0;
    for (DcmObject* i = sequence->nextInContainer(nullptr); i; i = sequence->nextInContainer(i))
      if (auto* nested = dynamic_cast<DcmItem*>(i)) inner = std::max(inner, nestingDepth(*nested));
    deepest = std::max(deepest, 1 + inner);
  }
  return deepest;
}

// ---- Chunk sources ------------------------------------------------------------

struct Chunk {
  const Uint8* data = nullptr;
  std::size_t size = 0;
  bool last = false;
};

// Pulls chunks from a caller's reader; each chunk stays valid until the next pull.
class ChunkSource {
 public:
  virtual ~ChunkSource() = default;
  Chunk next() {
    if (ended_) return {nullptr, 0, true};
    int size = 0;
    void* data = nullptr;
    int last = 0;
    if (pull(first_, size, data, last) != MC_NORMAL_COMPLETION) fail(MC_CALLBACK_CANNOT_COMPLY);
    first_ = false;
    if (size < 0) fail(MC_CALLBACK_DATA_SIZE_NEGATIVE);
    if (size > 0 && !data) fail(MC_CALLBACK_PARM_ERROR);
    ended_ = last != 0;
    return {static_cast<const Uint8*>(data), static_cast<std::size_t>(size), ended_};
  }

 protected:
  virtual MC_STATUS pull(bool first, int& size, void*& data, int& last) = 0;

 private:
  bool first_ = true;
  bool ended_ = false;
};

class FileChunks : public ChunkSource {
 public:
  FileChunks(std::string name, void* userInfo, MC_File_Reader reader)
      : name_(std::move(name)), userInfo_(userInfo), reader_(reader) {}

 protected:
  MC_STATUS pull(bool first, int& size, void*& data, int& last) override {
    return reader_(name_.c_str(), userInfo_, &size, &data, first, &last);
  }

 private:
  std::string name_;
  void* userInfo_;
  MC_File_Reader reader_;
};

class StreamChunks : public ChunkSource {
 public:
  StreamChunks(int id, void* userInfo, MC_Stream_Reader reader) : id_(id), userInfo_(userInfo), reader_(reader) {}

 protected:
  MC_STATUS pull(bool first, int& size, void*& data, int& last) override {
    return reader_(id_, userInfo_, first, &size, &data, &last);
  }

 private:
  int id_;
  void* userInfo_;
  MC_Stream_Reader reader_;
};

// A file's bytes in chunks, for the walk of its meta group: out of the
// file's own buffer, where DCMTK then finds them.
class FileBytesChunks : public ChunkSource {
 public:
  explicit FileBytesChunks(FileBytes& bytes) : bytes_(bytes) {}

 protected:
  MC_STATUS pull(bool, int& size, void*& data, int& last) override {
    if (!bytes_.good()) return MC_CANNOT_COMPLY;
    const auto [bytes, available] = bytes_.bufferedFrom(offset_);
    offset_ += available;
    size = static_cast<int>(available);
    data = const_cast<Uint8*>(bytes);
    last = available == 0;
    return MC_NORMAL_COMPLETION;
  }

 private:
  FileBytes& bytes_;
  offile_off_t offset_ = 0;
};

// ---- Reading ------------------------------------------------------------------

// Feeds DCMTK its input in bounded calls: the caller's chunks, or a file.
// `pulled` holds pieces already taken from the source, in order, before it is
// asked for more; they must stay valid until they have been read.
template <class Stream>
class BoundedReader {
 public:
  BoundedReader(ChunkSource& source, std::vector<Chunk> pulled) requires Stream::kChunked : source_(&source),
                                                                                            pulled_(std::move(pulled)) {
  }
  template <class... StreamArguments>
  explicit BoundedReader(StreamArguments&&... arguments) requires(!Stream::kChunked)
      : in_(std::forward<StreamArguments>(arguments)...) {
    if (!in_.good()) fail(MC_CANNOT_COMPLY);
  }

  // The longest value DCMTK may load in the next call.
  Uint32 maxReadLength() {
    const std::optional<offile_off_t> left = bytesLeft();
    return left ? static_cast<Uint32>(std::min<offile_off_t>(in_.maxReadLength(), *left)) : in_.maxReadLength();
  }
  // DCMTK inflates what follows: the input's size says nothing of it.
  void inflating() { inflating_ = true; }
  Stream& stream() { return in_; }

  // Runs `readCall` (one DCMTK read of `top`, the meta group or a data set)
  // until `top` is complete. `firstAllowance` widens the first call.
  template <class ReadCall>
  void parse(DcmItem& top, ReadCall readCall, offile_off_t firstAllowance = 0) {
    // Too deep a tree is the reason for any failure that follows from it.
    auto refuse = [&](MC_STATUS status) {
      if (nestingDepth(top) > limits::kMaxNestingDepth) fail(MC_NESTING_TOO_DEEP);
      fail(status);
    };
    if (!started_) pullNext();
    for (bool first = true;; first = false) {
      const ParsePosition at = parsePosition(top);
      if (at.depth > limits::kMaxNestingDepth) fail(MC_NESTING_TOO_DEEP);
      const offile_off_t levels = limits::kMaxNestingDepth + 1 - at.depth;
      in_.allow(std::max<offile_off_t>(first ? firstAllowance : 0,
                                       at.valueRemaining + kBytesPerLevel * levels + kBytesPerLevel / 2 - 1));
      const offile_off_t before = in_.tell();
      OFCondition result = readCall(in_);
      if (const std::optional<MC_STATUS> refused = in_.valueRefused()) fail(*refused);
      if (result.good()) break;
      if (result != EC_StreamNotifyClient) refuse(result == EC_MemoryExhausted ? MC_LIMIT_EXCEEDED : MC_INVALID_FILE);
      if (in_.allowanceReached() && in_.tell() != before) continue;
      // DCMTK takes the end of the input at the start of a call for the
      // end of the data, even inside a value: it is called at the end
      // only between top-level elements.
      if (pullNext() && !in_.eos()) continue;
      if (elementInProgress(top) || !dropPadByte()) refuse(MC_INVALID_FILE);
      in_.allow(0);
      result = readCall(in_);
      if (result.bad()) refuse(MC_INVALID_FILE);
      break;
    }
    if (nestingDepth(top) > limits::kMaxNestingDepth) fail(MC_NESTING_TOO_DEEP);
  }

  // Pulls chunks until `bytes` are unread or the input has ended.
  void require(offile_off_t bytes) {
    if (!started_) pullNext();
    while (in_.unread() < bytes && pullNext()) {
    }
  }

 private:
  // The bytes left of the input, where that is known: the rest of a file,
  // of the caller's chunks once the last one is at hand.
  std::optional<offile_off_t> bytesLeft() {
    if (inflating_) return std::nullopt;
    offile_off_t left = in_.unread();
    if constexpr (Stream::kChunked) {
      if (!ended_ && (pulled_.empty() || !pulled_.back().last)) return std::nullopt;
      for (std::size_t i = nextPulled_; i < pulled_.size(); ++i) left += static_cast<offile_off_t>(pulled_[i].size);
    }
    return left;
  }

  // A file is whole from the start.
  bool pullNext() {
    if constexpr (!Stream::kChunked) {
      return false;
    } else {
      if (ended_) return false;
      // DCMTK keeps what it has not read of the old chunk before that goes.
      if (started_) in_.releaseBuffer();
      started_ = true;
      const Chunk chunk = nextPulled_ < pulled_.size() ? pulled_[nextPulled_++] : source_->next();
      in_.setBuffer(chunk.data, static_cast<offile_off_t>(chunk.size));
      if (chunk.last) {
        in_.setEos();
        ended_ = true;
      }
      if (!in_.good()) fail(MC_INVALID_FILE);
      return true;
    }
  }

  // A reader that pads an odd-length input adds one zero byte; after
  // complete data it is no element and is dropped.
  bool dropPadByte() {
    if (in_.unread() == 0) return true;
    Uint8 pad = 0xFF;
    in_.allow(1);
    return in_.unread() == 1 && in_.read(&pad, 1) == 1 && pad == 0 && in_.eos();
  }

  ChunkSource* source_ = nullptr;
  std::vector<Chunk> pulled_;
  std::size_t nextPulled_ = 0;
  bool started_ = false;
  bool ended_ = false;
  bool inflating_ = false;
  Stream in_;
};

// Attributes sent as UN whose tag the dictionary knows as text, US, UL or AT are
// read by that VR, as other readers do (a SOP Instance UID sent as UN, say).
// UN of a sequence stays UN: its content cannot be trusted to be what the
// dictionary says, and refusing the whole file for it would lose data.
// Little endian only, the byte order of UN values there.
// DCMTK writes an odd-length byte value of an unknown VR padded to even
// length but counts it odd in the length of an item around it, so that the
// file it writes cannot be read (found by fuzzing). The value is padded here,
// with the zero byte the writer would add.
void padOddByteValue(DcmObject& o) {
  const DcmEVR vr = o.ident();
  if (vr != EVR_UNKNOWN && vr != EVR_UNKNOWN2B && vr != EVR_UN && vr != EVR_OB) return;
  auto& element = static_cast<DcmElement&>(o);
  const Uint32 length = element.getLength();
  if (length % 2 == 0 || length == DCM_UndefinedLength) return;
  std::vector<Uint8> bytes(length + 1, 0);
  if (element.getPartialValue(bytes.data(), 0, length).good()) element.putUint8Array(bytes.data(), length + 1);
}

void readUnknownByDictionaryVr(DcmItem& item, E_TransferSyntax xfer) {
  if (DcmXfer(xfer).getByteOrder() != EBO_LittleEndian) return;
  std::vector<DcmElement*> unknown;
  for (DcmObject* o = item.nextInContainer(nullptr); o; o = item.nextInContainer(o)) {
    if (o->isLeaf()) padOddByteValue(*o);
    if (o->ident() == EVR_SQ) {
      auto* sequence = static_cast<DcmSequenceOfItems*>(o);
      for (unsigned long i = 0; i < sequence->card(); ++i) readUnknownByDictionaryVr(*sequence->getItem(i), xfer);
    } else if (o->ident() == EVR_UN) {
      unknown.push_back(static_cast<DcmElement*>(o));
    }
  }
  for (DcmElement* element : unknown) {
    const DcmTagKey key = element->getTag();
    const Uint32 length = element->getLength();
    const auto known = vrForUnknown(key, length);
    if (!known) continue;
    const DcmEVR vr = *known;
    const bool words = vr == EVR_US || vr == EVR_AT;
    std::vector<Uint8> bytes(length);
    if (length > 0 && element->getPartialValue(bytes.data(), 0, length).bad()) continue;
    DcmTag tag(key);
    tag.setVR(DcmVR(vr));
    std::unique_ptr<DcmElement> removed(item.remove(element));
    OFCondition put;
    if (words) {
      std::vector<Uint16> values(length / 2);
      if (length > 0) std::memcpy(values.data(), bytes.data(), length);  // no copy from an empty vector
      // DCMTK counts an AT value (two words) as one.
      put = item.putAndInsertUint16Array(tag, values.data(), vr == EVR_AT ? length / 4 : values.size());
    } else if (vr == EVR_UL) {
      std::vector<Uint32> values(length / 4);
      if (length > 0) std::memcpy(values.data(), bytes.data(), length);
      put = item.putAndInsertUint32Array(tag, values.data(), values.size());
    } else {
      put = item.putAndInsertString(tag, reinterpret_cast<const char*>(bytes.data()), length);
    }
    if (put.bad()) item.insert(removed.release(), true);  // keep it as it came
  }
}

// Reads a data set of a known syntax (or detected by DCMTK when unknown).
template <class Stream>
void readDataSet(DcmDataset& dataset, E_TransferSyntax xfer, BoundedReader<Stream>& reader,
                 std::optional<DcmTagKey> stopTag) {
  // DCMTK guesses an unknown syntax from the first 6 bytes it is given.
  if (xfer == EXS_Unknown) reader.require(6);
  if (DcmXfer(xfer).getStreamCompression() != ESC_none) reader.inflating();
  dataset.transferInit();
  try {
    reader.parse(dataset, [&](DcmInputStream& in) {
      return stopTag ? dataset.readUntilTag(in, xfer, EGL_noChange, reader.maxReadLength(), *stopTag)
                     : dataset.read(in, xfer, EGL_noChange, reader.maxReadLength());
    });
  } catch (...) {
    dataset.transferEnd();
    dataset.clear();
    throw;
  }
  dataset.transferEnd();
  readUnknownByDictionaryVr(dataset, xfer != EXS_Unknown ? xfer : dataset.getOriginalXfer());
}

// The preamble, "DICM" and the meta group, collected before DCMTK sees them.
struct MetaPrefix {
  std::vector<Uint8> bytes;  // may run a few bytes into the data set
  bool sourceEnded = false;
};

// DCMTK ends a meta group by its group length (0002,0000) when that comes
// first, finishing an element that crosses it; otherwise it goes on while the
// next group is 0002, peeking at bytes that must then all be at hand. Either
// way it must read the group in one call: resumed after a value of the group
// that is not its last, it fails (found by fuzzing: a file with a 1,000-byte
// meta value did not open). So the whole group is collected, and only
// elements whose values cannot hold nested data are accepted, so that one
// call reads exactly them.
MetaPrefix readMetaPrefix(ChunkSource& source, Chunk& chunk, std::size_t& used) {
  MetaPrefix prefix;
  std::vector<Uint8>& bytes = prefix.bytes;
  // Takes bytes until `bytes` holds `target` of them; false at end of input.
  auto fill = [&](std::size_t target) {
    while (bytes.size() < target) {
      if (used == chunk.size) {
        if (chunk.last) {
          prefix.sourceEnded = true;
          return false;
        }
        chunk = source.next();
        used = 0;
        continue;
      }
      const std::size_t n = std::min(target - bytes.size(), chunk.size - used);
      bytes.insert(bytes.end(), chunk.data + used, chunk.data + used + n);
      used += n;
    }
    return true;
  };
  constexpr std::size_t kMetaStart = 132;
  if (!fill(kMetaStart) || std::memcmp(bytes.data() + 128, "DICM", 4) != 0) fail(MC_INVALID_FILE);
  static constexpr Uint8 kGroupLengthHeader[] = {0x02, 0x00, 0x00, 0x00, 'U', 'L', 0x04, 0x00};
  std::optional<std::size_t> groupEnd;
  if (fill(kMetaStart + 12) &&
      std::memcmp(bytes.data() + kMetaStart, kGroupLengthHeader, sizeof kGroupLengthHeader) == 0) {
    const Uint8* value = bytes.data() + kMetaStart + 8;
    const std::uint32_t groupLength =
        static_cast<std::uint32_t>(value[3]) << 24 | value[2] << 16 | value[1] << 8 | value[0];
    if (groupLength > limits::kMaxMetaGroupLength) fail(MC_LIMIT_EXCEEDED);
    groupEnd = kMetaStart + 12 + groupLength;
  }
  std::size_t position = kMetaStart;
  for (;;) {
    if (groupEnd && position >= *groupEnd) return prefix;
    if (!fill(position + 8)) return prefix;  // the file ends within or right after the group
    const Uint8* header = bytes.data() + position;
    if (header[0] != 0x02 || header[1] != 0x00) {
      // DCMTK would go on reading a big endian group, which the
      // standard does not allow and this walk does not follow.
      if (header[0] == 0x00 && header[1] == 0x02) fail(MC_INVALID_FILE);
      return prefix;
    }
    const char name[3] = {static_cast<char>(header[4]), static_cast<char>(header[5]), 0};
    const DcmVR vr(name);
    if (!vr.isStandard() || std::strncmp(vr.getVRName(), name, 2) != 0 || vr.getEVR() == EVR_SQ) fail(MC_INVALID_FILE);
    std::size_t headerSize = 8;
    std::uint64_t length = static_cast<Uint16>(header[7] << 8 | header[6]);
    if (vr.usesExtendedLengthEncoding()) {
      headerSize = 12;
      if (!fill(position + 12)) fail(MC_INVALID_FILE);
      header = bytes.data() + position;
      length = static_cast<std::uint64_t>(header[11]) << 24 | header[10] << 16 | header[9] << 8 | header[8];
      // An undefined length (UN read as a sequence) would nest.
      if (length == DCM_UndefinedLength) fail(MC_INVALID_FILE);
    }
    const std::uint64_t next = position + headerSize + length;
    if (next - kMetaStart > limits::kMaxMetaGroupLength) fail(MC_LIMIT_EXCEEDED);
    if (!fill(static_cast<std::size_t>(next))) fail(MC_INVALID_FILE);
    position = static_cast<std::size_t>(next);
  }
}

// DCMTK reads an element of another group inside the meta group's length,
// and stops at that length even inside such an element's value, leaving the
// rest of the value unread (found by fuzzing: the file opened with
// uninitialised bytes in that value, and the file written from it did not
// open again). The meta group holds group 0002 only, each value whole (DCMTK
// leaves an odd-length value unfinished there too: refused).
void requireWholeMetaGroup(DcmMetaInfo& meta) {
  for (DcmObject* o = meta.nextInContainer(nullptr); o; o = meta.nextInContainer(o))
    if (o->getGTag() != 0x0002 || o->transferState() != ERW_ready) fail(MC_INVALID_FILE);
}

// The syntax of the data set as DCMTK read the meta group: the one it names;
// explicit little endian for a syntax DCMTK lacks (every such syntax encodes
// so); unknown, for DCMTK to detect, when none is named.
E_TransferSyntax dataSetSyntax(DcmMetaInfo& meta) {
  OFString value;
  if (meta.findAndGetOFString(DCM_TransferSyntaxUID, value).bad()) return EXS_Unknown;
  std::string uid(value.c_str());
  while (!uid.empty() && (uid.back() == ' ' || uid.back() == '\0')) uid.pop_back();
  if (uid.empty()) return EXS_Unknown;
  const DcmXfer xfer(uid.c_str());
  return xfer.getXfer() != EXS_Unknown ? xfer.getXfer() : EXS_LittleEndianExplicit;
}

void resetTree(Target& target) {
  Root& root = target.root();
  for (const auto& [item, id] : root.itemIds) IdTable::instance().remove(id);
  root.itemIds.clear();
  root.states.clear();
  root.fileFormat->clear();
}

// Reads the meta group, of `metaBytes` collected, and the data set.
template <class Stream>
void readPart10(Root& root, BoundedReader<Stream>& bounded, std::size_t metaBytes, std::optional<DcmTagKey> stopTag) {
  DcmMetaInfo& meta = *root.meta();
  meta.transferInit();
  try {
    bounded.parse(
        meta, [&](DcmInputStream& in) { return meta.read(in, EXS_Unknown, EGL_noChange, limits::kMaxValueLength); },
        static_cast<offile_off_t>(metaBytes));
    requireWholeMetaGroup(meta);
  } catch (...) {
    meta.transferEnd();
    root.fileFormat->clear();
    throw;
  }
  meta.transferEnd();
  const E_TransferSyntax xfer = dataSetSyntax(meta);
  if constexpr (!Stream::kChunked)
    if (DcmXfer(xfer).getStreamCompression() != ESC_none) bounded.stream().readAllValues();
  try {
    readDataSet(*root.dataset(), xfer, bounded, stopTag);
  } catch (...) {
    root.fileFormat->clear();
    throw;
  }
  const E_TransferSyntax original = root.dataset()->getOriginalXfer();
  root.transferSyntax = original != EXS_Unknown ? original : xfer != EXS_Unknown ? xfer : EXS_LittleEndianExplicit;
}

Root& emptiedFileRoot(Target& target) {
  Root& root = target.root();
  if (!root.isFile) fail(MC_INVALID_FILE_ID);
  resetTree(target);
  return root;
}

void requireApplication(int applicationId) {
  requireInitialized();
  auto application = IdTable::instance().find(applicationId);
  if (!application || application->kind != IdKind::Application) fail(MC_INVALID_APPLICATION_ID);
}

MC_STATUS openFile(int applicationId, int fileId, void* userInfo, MC_File_Reader reader,
                   std::optional<DcmTagKey> stopTag) {
  if (!reader) return MC_NO_CALLBACK;
  requireApplication(applicationId);
  Target target = Target::open(fileId, true);
  Root& root = emptiedFileRoot(target);
  FileChunks source(root.fileName, userInfo, reader);

  Chunk chunk = source.next();
  std::size_t used = 0;
  const MetaPrefix prefix = readMetaPrefix(source, chunk, used);
  // The collected bytes first, then the rest of the caller's chunk where it is.
  const Chunk remainder{chunk.data + used, chunk.size - used, chunk.last};
  std::vector<Chunk> pulled{{prefix.bytes.data(), prefix.bytes.size(), prefix.sourceEnded || chunk.last}};
  if (remainder.size > 0) {
    pulled.front().last = false;
    pulled.push_back(remainder);
  }
  BoundedReader<BoundedInputStream> bounded(source, std::move(pulled));
  readPart10(root, bounded, prefix.bytes.size(), stopTag);
  return MC_NORMAL_COMPLETION;
}

MC_STATUS openFileLeavingValues(int applicationId, int fileId, const char* path, uint32_t leaveAbove) {
  if (!path) return MC_NULL_POINTER_PARM;
  requireApplication(applicationId);
  Target target = Target::open(fileId, true);
  Root& root = emptiedFileRoot(target);
  BoundedReader<BoundedFileStream> bounded(std::string(path), std::min(leaveAbove, limits::kMaxValueLength));
  FileBytesChunks source(bounded.stream().fileBytes());
  Chunk chunk = source.next();
  std::size_t used = 0;
  const MetaPrefix prefix = readMetaPrefix(source, chunk, used);
  readPart10(root, bounded, prefix.bytes.size(), std::nullopt);
  return MC_NORMAL_COMPLETION;
}

// ---- Writing ----------------------------------------------------------------------

// Delivers encoded bytes to the caller's writer, holding one block back so
// that the last one can be marked.
class BlockSink {
 public:
  BlockSink(std::string name, void* userInfo, MC_File_Writer writer)
      : name_(std::move(name)), userInfo_(userInfo), writer_(writer) {}

  void add(const void* data, std::size_t size) {
    if (size == 0) return;
    if (!pending_.empty()) deliver(false);
    const auto* bytes = static_cast<const Uint8*>(data);
    pending_.assign(bytes, bytes + size);
  }
  void finish() { deliver(true); }

 private:
  void deliver(bool last) {
    const MC_STATUS s =
        writer_(name_.c_str(), userInfo_, static_cast<int>(pending_.size()), pending_.data(), first_, last);
    first_ = false;
    pending_.clear();
    if (s != MC_NORMAL_COMPLETION) fail(MC_CALLBACK_CANNOT_COMPLY);
  }

  std::string name_;
  void* userInfo_;
  MC_File_Writer writer_;
  std::vector<Uint8> pending_;
  bool first_ = true;
};

void putMetaDefault(DcmMetaInfo& meta, DcmDataset& dataset, const DcmTagKey& tag, const DcmTagKey& source) {
  if (meta.tagExists(tag)) return;
  OFString value;
  if (dataset.findAndGetOFString(source, value).good() && !value.empty()) meta.putAndInsertString(tag, value.c_str());
}

// Completes the meta group with what a DICOM file needs and the caller left out.
void completeMeta(Root& root, E_TransferSyntax xfer) {
  DcmMetaInfo& meta = *root.meta();
  DcmDataset& dataset = *root.dataset();
  if (!meta.tagExists(DCM_FileMetaInformationVersion)) {
    const Uint8 version[2] = {0x00, 0x01};
    meta.putAndInsertUint8Array(DCM_FileMetaInformationVersion, version, 2);
  }
  putMetaDefault(meta, dataset, DCM_MediaStorageSOPClassUID, DCM_SOPClassUID);
  putMetaDefault(meta, dataset, DCM_MediaStorageSOPInstanceUID, DCM_SOPInstanceUID);
  if (!meta.tagExists(DCM_TransferSyntaxUID)) meta.putAndInsertString(DCM_TransferSyntaxUID, DcmXfer(xfer).getXferID());
  const auto& values = configuration().values;
  if (!meta.tagExists(DCM_ImplementationClassUID))
    meta.putAndInsertString(DCM_ImplementationClassUID, values.at(MC_CFG_IMPLEMENTATION_CLASS_UID).c_str());
  if (!meta.tagExists(DCM_ImplementationVersionName))
    meta.putAndInsertString(DCM_ImplementationVersionName, values.at(MC_CFG_IMPLEMENTATION_VERSION).c_str());
}

// Encodes one element completely into memory.
std::vector<Uint8> encodeElement(DcmElement& element) {
  const Uint32 size = element.calcElementLength(EXS_LittleEndianExplicit, EET_ExplicitLength);
  if (size > limits::kMaxMetaGroupLength) fail(MC_LIMIT_EXCEEDED);
  std::vector<Uint8> buffer(size + 16);
  DcmOutputBufferStream out(buffer.data(), static_cast<offile_off_t>(buffer.size()));
  element.transferInit();
  const OFCondition result = element.write(out, EXS_LittleEndianExplicit, EET_ExplicitLength, nullptr);
  element.transferEnd();
  if (result.bad()) fail(MC_CANNOT_COMPLY);
  void* data = nullptr;
  offile_off_t length = 0;
  out.flushBuffer(data, length);
  const auto* bytes = static_cast<const Uint8*>(data);
  return std::vector<Uint8>(bytes, bytes + length);
}

// Preamble, "DICM" and the meta group with a group length of our own; DCMTK's
// file writer drops meta elements when its blocks are small, so we do it here.
std::vector<Uint8> encodeMeta(DcmMetaInfo& meta) {
  std::vector<Uint8> body;
  for (DcmObject* o = meta.nextInContainer(nullptr); o; o = meta.nextInContainer(o)) {
    if (o->getTag() == DCM_FileMetaInformationGroupLength) continue;
    const auto bytes = encodeElement(*static_cast<DcmElement*>(o));
    body.insert(body.end(), bytes.begin(), bytes.end());
    if (body.size() > limits::kMaxMetaGroupLength) fail(MC_LIMIT_EXCEEDED);
  }
  DcmUnsignedLong groupLength(DCM_FileMetaInformationGroupLength);
  groupLength.putUint32(static_cast<Uint32>(body.size()));
  std::vector<Uint8> file(128, 0);
  file.insert(file.end(), {'D', 'I', 'C', 'M'});
  const auto lengthBytes = encodeElement(groupLength);
  file.insert(file.end(), lengthBytes.begin(), lengthBytes.end());
  file.insert(file.end(), body.begin(), body.end());
  return file;
}

// Holds a message's command group (0000,xxxx) out of its data set while a
// file is written: a DICOM file carries no command fields. They go back in
// place afterwards, also when the write fails.
class CommandGroupSetAside {
 public:
  explicit CommandGroupSetAside(DcmDataset& dataset) : dataset_(dataset) {
    for (unsigned long i = dataset_.card(); i-- > 0;) {
      DcmElement* element = dataset_.getElement(i);
      if (element && element->getGTag() == 0x0000) held_.push_back(dataset_.remove(element));
    }
  }
  ~CommandGroupSetAside() {
    for (DcmElement* element : held_) dataset_.insert(element, true);
  }
  CommandGroupSetAside(const CommandGroupSetAside&) = delete;
  CommandGroupSetAside& operator=(const CommandGroupSetAside&) = delete;

 private:
  DcmDataset& dataset_;
  std::vector<DcmElement*> held_;  // owned while set aside
};

bool hasSequenceUnknownToDictionary(DcmItem& item) {
  for (DcmObject* object = item.nextInContainer(nullptr); object; object = item.nextInContainer(object)) {
    if (object->ident() != EVR_SQ) continue;
    if (DcmTag(object->getGTag(), object->getETag()).getEVR() != EVR_SQ) return true;
    auto* sequence = static_cast<DcmSequenceOfItems*>(object);
    for (unsigned long i = 0; i < sequence->card(); ++i)
      if (hasSequenceUnknownToDictionary(*sequence->getItem(i))) return true;
  }
  return false;
}

void encodeDataSet(DcmDataset& dataset, E_TransferSyntax xfer, BlockSink& sink) {
  const CommandGroupSetAside commandGroup(dataset);
  // In implicit VR a sequence that the dictionary does not know as one is
  // only recognisable by its delimiters, so such data sets get undefined
  // lengths. Otherwise explicit lengths keep byte offsets into the file
  // (directory records) as they were.
  const E_EncodingType sequenceLengths = !DcmXfer(xfer).isExplicitVR() && hasSequenceUnknownToDictionary(dataset)
                                             ? EET_UndefinedLength
                                             : EET_ExplicitLength;
  std::vector<Uint8> block(limits::kWriteBlockSize);
  // DCMTK's data set writer deflates by itself for a deflated syntax.
  DcmOutputBufferStream out(block.data(), static_cast<offile_off_t>(block.size()));
  dataset.transferInit();
  bool done = false;
  int idlePasses = 0;
  while (!(done && out.isFlushed())) {
    if (!done) {
      const OFCondition result = dataset.write(out, xfer, sequenceLengths, nullptr, EGL_recalcGL, EPD_noChange);
      if (result.good()) {
        done = true;
        out.flush();
      } else if (result != EC_StreamNotifyClient) {
        dataset.transferEnd();
        fail(MC_CANNOT_COMPLY);
      }
    } else {
      out.flush();
    }
    void* data = nullptr;
    offile_off_t length = 0;
    out.flushBuffer(data, length);
    sink.add(data, static_cast<std::size_t>(length));
    // Guards against an encoder that stops making progress.
    idlePasses = length > 0 ? 0 : idlePasses + 1;
    if (idlePasses > 16) {
      dataset.transferEnd();
      fail(MC_CANNOT_COMPLY);
    }
  }
  dataset.transferEnd();
}

}  // namespace

std::vector<Uint8> zyl::toolkit::encodeReceivedFileHead(int fileId, E_TransferSyntax received) {
  Target target = Target::open(fileId, true);
  Root& root = target.root();
  if (!root.isFile) fail(MC_INVALID_FILE_ID);
  OFString uid;
  if (root.meta()->findAndGetOFString(DCM_TransferSyntaxUID, uid).good() && !uid.empty()) {
    const auto number = tables::syntaxFromUid(std::string(uid));
    if (!number || tables::dcmtkFromSyntax(*number) != received) fail(MC_INVALID_TRANSFER_SYNTAX);
  }
  completeMeta(root, received);
  return encodeMeta(*root.meta());
}

extern "C" {

MC_STATUS MC_Open_File(int applicationId, int fileId, void* userInfo, MC_File_Reader reader) {
  return guarded([&] { return openFile(applicationId, fileId, userInfo, reader, std::nullopt); });
}

MC_STATUS ZYL_Open_File_Leaving_Values(int applicationId, int fileId, const char* path, uint32_t leaveAbove) {
  return guarded([&] { return openFileLeavingValues(applicationId, fileId, path, leaveAbove); });
}

MC_STATUS MC_Open_File_Upto_Tag(int applicationId, int fileId, void* userInfo, uint32_t stopTag,
                                MC_File_Reader reader) {
  return guarded([&] { return openFile(applicationId, fileId, userInfo, reader, tagKey(stopTag)); });
}

MC_STATUS MC_Stream_To_Message(int messageId, uint32_t startTag, uint32_t stopTag, MC_TRANSFER_SYNTAX syntax,
                               void* userInfo, MC_Stream_Reader reader) {
  return guarded([&] {
    if (!reader) return MC_NO_CALLBACK;
    auto xfer = tables::dcmtkFromSyntax(syntax);
    if (!xfer) return MC_INVALID_TRANSFER_SYNTAX;
    if (startTag > stopTag) return MC_INVALID_TAG;
    Target target = Target::open(messageId, true);
    resetTree(target);
    StreamChunks source(messageId, userInfo, reader);
    BoundedReader<BoundedInputStream> bounded(source, {});
    DcmDataset& dataset = *target.root().dataset();
    readDataSet(dataset, *xfer, bounded, std::nullopt);
    // Keep the attributes of the range only.
    std::vector<DcmTagKey> outside;
    for (DcmObject* o = dataset.nextInContainer(nullptr); o; o = dataset.nextInContainer(o)) {
      const std::uint32_t tag = tagValue(o->getTag());
      if (tag < startTag || tag > stopTag) outside.push_back(o->getTag());
    }
    for (const auto& key : outside) removeElement(target.root(), dataset, key);
    target.root().transferSyntax = *xfer;
    return MC_NORMAL_COMPLETION;
  });
}

MC_STATUS MC_Write_File(int fileId, void* userInfo, MC_File_Writer writer) {
  return guarded([&] {
    if (!writer) return MC_NO_CALLBACK;
    E_TransferSyntax xfer = EXS_Unknown;
    {
      Target target = Target::open(fileId, true);
      Root& root = target.root();
      if (!root.isFile) return MC_INVALID_FILE_ID;
      xfer = root.transferSyntax;
      OFString uid;
      if (root.meta()->findAndGetOFString(DCM_TransferSyntaxUID, uid).good() && !uid.empty()) {
        auto number = tables::syntaxFromUid(std::string(uid));
        if (!number) return MC_INVALID_TRANSFER_SYNTAX;
        xfer = *tables::dcmtkFromSyntax(*number);
      }
    }
    // Pixel data not in the form the syntax needs goes through the codecs.
    pixels::convertPixelData(fileId, xfer);
    Target target = Target::open(fileId, true);
    Root& root = target.root();
    if (!root.isFile) return MC_INVALID_FILE_ID;
    DcmDataset& dataset = *root.dataset();
    if (!dataset.canWriteXfer(xfer, root.transferSyntax))
      return DcmXfer(xfer).isEncapsulated() ? MC_COMPRESSOR_REQUIRED : MC_DECOMPRESSOR_REQUIRED;
    // Values left in the source file come in first: the writer may be
    // replacing that file.
    if (dataset.loadAllDataIntoMemory().bad()) return MC_CANNOT_COMPLY;
    completeMeta(root, xfer);
    BlockSink sink(root.fileName, userInfo, writer);
    const std::vector<Uint8> head = encodeMeta(*root.meta());
    sink.add(head.data(), head.size());
    encodeDataSet(dataset, xfer, sink);
    sink.finish();
    root.transferSyntax = xfer;
    return MC_NORMAL_COMPLETION;
  });
}

}  // extern "C"

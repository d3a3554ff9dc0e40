#include "scan.h"

#include "limits.h"

#include <algorithm>
#include <cstring>

namespace zyl::toolkit {
namespace {

constexpr std::uint32_t kItem = 0xFFFEE000;
constexpr std::uint32_t kItemDelimiter = 0xFFFEE00D;
constexpr std::uint32_t kSequenceDelimiter = 0xFFFEE0DD;
constexpr std::uint32_t kSopInstanceUid = 0x00080018;
constexpr std::uint32_t kPixelData = 0x7FE00010;
constexpr std::uint32_t kUndefinedLength = 0xFFFFFFFF;

// Adds a piece, joined to the last one when it continues it.
void emit(std::vector<DataSetScan::Piece>& out, DataSetScan::Piece piece) {
  if (piece.size == 0) return;
  if (!out.empty() && out.back().data + out.back().size == piece.data) {
    out.back().size += piece.size;
    return;
  }
  out.push_back(piece);
}

}  // namespace

bool isTextVr(DcmEVR vr) {
  switch (vr) {
    case EVR_AE:
    case EVR_AS:
    case EVR_CS:
    case EVR_DA:
    case EVR_DS:
    case EVR_DT:
    case EVR_IS:
    case EVR_LO:
    case EVR_LT:
    case EVR_PN:
    case EVR_SH:
    case EVR_ST:
    case EVR_TM:
    case EVR_UC:
    case EVR_UI:
    case EVR_UR:
    case EVR_UT:
      return true;
    default:
      return false;
  }
}

std::optional<DcmEVR> vrForUnknown(const DcmTagKey& key, std::uint32_t length) {
  if (key.isPrivate() && !key.isPrivateReservation()) return std::nullopt;  // needs its creator to be known
  const DcmEVR vr = DcmTag(key).getEVR();
  const bool words =
      (vr == EVR_US && length % 2 == 0) || (vr == EVR_AT && length % 4 == 0) || (vr == EVR_UL && length % 4 == 0);
  if (!isTextVr(vr) && !words) return std::nullopt;
  return vr;
}

DataSetScan::DataSetScan(E_TransferSyntax syntax) {
  const DcmXfer xfer(syntax);
  byteOrder_ = xfer.getByteOrder();
  explicitVr_ = xfer.isExplicitVR();
  encapsulated_ = xfer.isEncapsulated();
  stack_.push_back({Container::Top, kUndefined, false, false, -1});
}

bool DataSetScan::fault(MC_STATUS status) {
  if (failure_ == MC_NORMAL_COMPLETION) failure_ = status;
  return false;
}

std::uint32_t DataSetScan::number(const Uint8* p, int size) const {
  std::uint32_t v = 0;
  if (byteOrder_ == EBO_BigEndian)
    for (int i = 0; i < size; ++i) v = v << 8 | p[i];
  else
    for (int i = size - 1; i >= 0; --i) v = v << 8 | p[i];
  return v;
}

const Uint8* DataSetScan::own(const Uint8* data, std::size_t size) {
  owned_.emplace_back(data, data + size);
  return owned_.back().data();
}

bool DataSetScan::inDefinedContainer() const {
  return std::any_of(stack_.begin(), stack_.end(), [](const Container& c) { return c.end != kUndefined; });
}

// Bytes the header at `h` takes, as far as the `available` bytes tell: a
// result above `available` means more are needed to know.
std::size_t DataSetScan::headerSize(const Uint8* h, std::size_t available) const {
  if (available < 4) return 4;
  const Container& c = stack_.back();
  if (number(h, 2) == 0xFFFE || c.kind == Container::Sequence || c.kind == Container::Fragments) return 8;
  if (!explicitVr_ || c.implicitContent) return 8;
  if (available < 6) return 6;
  const char name[3] = {static_cast<char>(h[4]), static_cast<char>(h[5]), 0};
  return DcmVR(name).usesExtendedLengthEncoding() ? 12 : 8;
}

bool DataSetScan::closeFinishedContainers() {
  while (stack_.size() > 1 && stack_.back().end != kUndefined && position_ >= stack_.back().end) {
    if (position_ > stack_.back().end) return fault(MC_INVALID_FILE);
    if (stack_.back().kind == Container::Sequence) --depth_;
    stack_.pop_back();
  }
  return true;
}

void DataSetScan::emitHeader(std::vector<Piece>& out, const Uint8* h, std::size_t size) {
  // A header collected from two inputs is owned; only input bytes are joined.
  if (!owned_.empty() && owned_.back().data() == h)
    out.push_back({h, size});
  else
    emit(out, {h, size});
}

bool DataSetScan::header(const Uint8* h, std::size_t size, std::vector<Piece>& out) {
  const std::uint64_t start = position_ - size;
  const std::uint32_t tag = number(h, 2) << 16 | number(h + 2, 2);
  Container& c = stack_.back();
  if (c.end != kUndefined && position_ > c.end) return fault(MC_INVALID_FILE);
  auto push = [&](Container::Kind kind, std::uint32_t length, bool implicitContent) {
    std::uint64_t end = kUndefined;
    if (length != kUndefinedLength) {
      end = position_ + length;
      if (c.end != kUndefined && end > c.end) return fault(MC_INVALID_FILE);
    }
    if (kind == Container::Sequence && ++depth_ > limits::kMaxNestingDepth) return fault(MC_NESTING_TOO_DEEP);
    stack_.push_back({kind, end, implicitContent, false, -1});
    return true;
  };

  if (c.kind == Container::Sequence || c.kind == Container::Fragments) {
    const std::uint32_t length = number(h + 4, 4);
    emitHeader(out, h, size);
    if (tag == kSequenceDelimiter) {
      if (c.end != kUndefined) return fault(MC_INVALID_FILE);
      if (c.kind == Container::Sequence) --depth_;
      stack_.pop_back();
      return closeFinishedContainers();
    }
    if (tag != kItem) return fault(MC_INVALID_FILE);
    if (c.kind == Container::Fragments) {
      if (length == kUndefinedLength) return fault(MC_INVALID_FILE);
      if (length > limits::kMaxValueLength) return fault(MC_LIMIT_EXCEEDED);
      valueLeft_ = length;
      writeValue_ = true;
      return true;
    }
    if (!push(Container::Item, length, c.implicitContent)) return false;
    return closeFinishedContainers();
  }

  // An element, or the end of an item.
  if (tag == kItemDelimiter) {
    if (c.kind != Container::Item || c.end != kUndefined) return fault(MC_INVALID_FILE);
    emitHeader(out, h, size);
    stack_.pop_back();
    return closeFinishedContainers();
  }
  if ((tag >> 16) == 0xFFFE) return fault(MC_INVALID_FILE);
  // DCMTK sorts what comes out of order, drops what comes twice, and its
  // bounded reading loses track of a value read out of order: refused.
  if (static_cast<std::int64_t>(tag) <= c.lastTag) return fault(MC_INVALID_FILE);
  c.lastTag = tag;
  const bool top = c.kind == Container::Top;
  if (top) {
    // The UIDs were judged on the head: they may not come again.
    if (headComplete_ && tag <= kSopInstanceUid) return fault(MC_INVALID_FILE);
    if (!headComplete_ && tag > kSopInstanceUid) {
      headComplete_ = true;
      headDataSetLength_ = start;
    }
  }
  if ((tag & 0xFFFF) == 0x0000) c.groupLengthSeen = true;
  // A message's command fields are no part of a stored data set.
  const bool omitted = top && (tag >> 16) == 0x0000;
  const bool explicitHere = explicitVr_ && !c.implicitContent;
  const DcmTagKey key(static_cast<Uint16>(tag >> 16), static_cast<Uint16>(tag & 0xFFFF));
  DcmEVR vr = EVR_UNKNOWN;
  std::uint32_t length = 0;
  if (explicitHere) {
    const char name[3] = {static_cast<char>(h[4]), static_cast<char>(h[5]), 0};
    const DcmVR read(name);
    vr = read.getEVR();
    // DCMTK knows names of its own ("ox", "na", "up"...) that it reads
    // with other header layouts or refuses; unknown names are values.
    if (!read.isStandard() && vr != EVR_UNKNOWN && vr != EVR_UNKNOWN2B) return fault(MC_INVALID_FILE);
    // Nor does it read bytes other than two capital letters as a VR of
    // an element that follows (found by fuzzing).
    auto capital = [](Uint8 c) { return c >= 'A' && c <= 'Z'; };
    if (!capital(h[4]) || !capital(h[5])) return fault(MC_INVALID_FILE);
    length = size == 12 ? number(h + 8, 4) : number(h + 6, 2);
  } else {
    length = number(h + 4, 4);
  }

  if (length == kUndefinedLength) {
    if (omitted) return fault(MC_INVALID_FILE);
    emitHeader(out, h, size);
    // Pixel Data of undefined length is read as fragments whatever its VR
    // says, in implicit VR too. Outside an encapsulated syntax DCMTK
    // reads such fragments only when it has the whole value at once, not
    // as a data set arrives (found by fuzzing): refused there.
    if (tag == kPixelData && (!explicitHere || vr == EVR_OB || vr == EVR_OW)) {
      if (!encapsulated_) return fault(MC_INVALID_FILE);
      return push(Container::Fragments, length, false);
    }
    if (!explicitHere) {
      // DCMTK reads a sequence where the dictionary knows one or knows
      // nothing; a value of any other VR cannot have undefined length.
      const DcmEVR known = DcmTag(key).getEVR();
      if (known != EVR_SQ && known != EVR_UN && known != EVR_UNKNOWN && known != EVR_UNKNOWN2B)
        return fault(MC_INVALID_FILE);
      return push(Container::Sequence, length, c.implicitContent);
    }
    if (vr == EVR_SQ) return push(Container::Sequence, length, false);
    // Its items are implicit VR little endian, also in a big endian data
    // set, which this scan does not follow: refused there.
    if (vr == EVR_UN && byteOrder_ == EBO_LittleEndian) return push(Container::Sequence, length, true);
    return fault(MC_INVALID_FILE);
  }
  if (length > limits::kMaxValueLength) return fault(MC_LIMIT_EXCEEDED);
  if (c.end != kUndefined && position_ + length > c.end) return fault(MC_INVALID_FILE);
  // In an encapsulated syntax the data set's own Pixel Data is fragments:
  // DCMTK refuses it with a length, empty or of any VR, once the data set
  // has been read (found by fuzzing). Pixel Data within items may have one.
  if (top && tag == kPixelData && encapsulated_) return fault(MC_INVALID_FILE);
  const bool sequence = explicitHere ? vr == EVR_SQ : !omitted && DcmTag(key).getEVR() == EVR_SQ;
  if (sequence) {
    emitHeader(out, h, size);
    if (!push(Container::Sequence, length, c.implicitContent)) return false;
    return closeFinishedContainers();
  }
  if (top && tag == kSopInstanceUid && !headComplete_) {
    headEndsAfterValue_ = true;
  }
  valueLeft_ = length;
  writeValue_ = !omitted;
  padAfterValue_ = 0;
  hasPad_ = false;
  if (omitted) return valueLeft_ > 0 || closeFinishedContainers();
  // A standard attribute sent as UN gets its own VR where the shorter
  // header changes no length around it.
  if (explicitHere && vr == EVR_UN && byteOrder_ == EBO_LittleEndian && !inDefinedContainer() && !c.groupLengthSeen) {
    if (const auto known = vrForUnknown(key, length)) {
      const DcmVR own(*known);
      const bool pad = length % 2 != 0;
      const std::uint32_t written = length + (pad ? 1 : 0);
      const bool extended = own.usesExtendedLengthEncoding();
      if (extended || written <= 0xFFFF) {
        std::vector<Uint8> replaced(h, h + 4);
        replaced.push_back(static_cast<Uint8>(own.getVRName()[0]));
        replaced.push_back(static_cast<Uint8>(own.getVRName()[1]));
        if (extended) replaced.insert(replaced.end(), {0, 0});
        for (int i = 0; i < (extended ? 4 : 2); ++i) replaced.push_back(static_cast<Uint8>(written >> (8 * i)));
        owned_.push_back(std::move(replaced));
        out.push_back({owned_.back().data(), owned_.back().size()});  // owned bytes are never joined
        hasPad_ = pad;
        padAfterValue_ = *known == EVR_UI ? 0x00 : 0x20;
        return valueLeft_ > 0 || valueDone(out);
      }
    }
  }
  emitHeader(out, h, size);
  return valueLeft_ > 0 || valueDone(out);
}

bool DataSetScan::valueDone(std::vector<Piece>& out) {
  if (hasPad_) {
    owned_.push_back({padAfterValue_});
    out.push_back({owned_.back().data(), 1});
    hasPad_ = false;
  }
  if (headEndsAfterValue_) {
    headEndsAfterValue_ = false;
    headComplete_ = true;
    headDataSetLength_ = position_;
  }
  return closeFinishedContainers();
}

std::size_t DataSetScan::consume(const Uint8* data, std::size_t size, std::vector<Piece>& out) {
  const bool headBefore = headComplete_;
  std::size_t taken = 0;
  while (taken < size && failure_ == MC_NORMAL_COMPLETION) {
    if (valueLeft_ > 0) {
      const std::size_t n = static_cast<std::size_t>(std::min<std::uint64_t>(valueLeft_, size - taken));
      if (writeValue_) emit(out, {data + taken, n});
      taken += n;
      position_ += n;
      valueLeft_ -= n;
      if (valueLeft_ == 0 && !valueDone(out)) return 0;
    } else {
      // A header: from the input where it lies whole, else collected.
      const Uint8* h = data + taken;
      std::size_t available = size - taken;
      if (partialSize_ > 0 || headerSize(h, available) > available) {
        std::size_t need = 0;
        while ((need = headerSize(partial_, partialSize_)) > partialSize_ && taken < size) {
          const std::size_t n = std::min(need - partialSize_, size - taken);
          std::memcpy(partial_ + partialSize_, data + taken, n);
          partialSize_ += n;
          taken += n;
          position_ += n;
        }
        if (need > partialSize_) break;  // the rest comes with the next input
        const std::size_t whole = partialSize_;
        partialSize_ = 0;
        if (!header(own(partial_, whole), whole, out)) return 0;
      } else {
        const std::size_t whole = headerSize(h, available);
        taken += whole;
        position_ += whole;
        if (!header(h, whole, out)) return 0;
      }
    }
    if (headComplete_ && !headBefore) break;
  }
  return failure_ == MC_NORMAL_COMPLETION ? taken : 0;
}

bool DataSetScan::finish() {
  if (failure_ != MC_NORMAL_COMPLETION) return false;
  const bool complete = valueLeft_ == 0 && stack_.size() == 1;
  // A reader that pads an odd-length input adds one zero byte after the data.
  const bool padOnly = partialSize_ == 0 || (partialSize_ == 1 && partial_[0] == 0);
  if (!complete || !padOnly) return fault(MC_INVALID_FILE);
  if (!headComplete_) {
    headComplete_ = true;
    headDataSetLength_ = position_ - partialSize_;
  }
  finished_ = true;
  return true;
}

}  // namespace zyl::toolkit

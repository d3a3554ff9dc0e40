// A structural check of a data set as its bytes arrive, without building it:
// element headers, sequences, items and delimiters are followed, values are
// stepped over. It tells what to write of the bytes to store the data set as
// received: the input as it is, except that top-level command fields are left
// out, a trailing pad byte is dropped and standard attributes sent as UN get
// their dictionary VR where their header can be rewritten in place.
#pragma once

#include "dcmtk.h"
#include "toolkit/mc.h"

#include <cstdint>
#include <deque>
#include <optional>
#include <vector>

namespace zyl::toolkit {

// Whether a value of `vr` is text that a UN element's bytes hold as they are.
bool isTextVr(DcmEVR vr);
// The VR by which an attribute sent as UN with a value of `length` bytes is
// read: its dictionary VR when that is text, US, UL or AT and the length fits.
std::optional<DcmEVR> vrForUnknown(const DcmTagKey& key, std::uint32_t length);

class DataSetScan {
 public:
  // A piece of output: input bytes, or bytes the scan owns until clearOwned().
  struct Piece {
    const Uint8* data;
    std::size_t size;
  };

  // For a syntax whose bytes are not compressed as a whole (not deflated).
  explicit DataSetScan(E_TransferSyntax syntax);

  // Takes bytes; appends what to write of them to `out` and returns how many
  // it took. While the head is incomplete it stops where the head ends
  // (headComplete() turns true), so that the caller can treat the rest
  // apart. 0 with failure() set when the bytes cannot be a data set.
  std::size_t consume(const Uint8* data, std::size_t size, std::vector<Piece>& out);
  // At the end of the data: false (failure() set) unless the data set is whole.
  bool finish();
  MC_STATUS failure() const { return failure_; }
  // finish() found the data set whole.
  bool finished() const { return finished_; }

  // The head is the data set up to and including the SOP Instance UID (or
  // up to the first top-level attribute beyond it).
  bool headComplete() const { return headComplete_; }
  // How many input bytes of the head form whole elements.
  std::uint64_t headDataSetLength() const { return headDataSetLength_; }

  // Frees the bytes of pieces already written.
  void clearOwned() { owned_.clear(); }

 private:
  struct Container {
    enum Kind { Top, Sequence, Fragments, Item } kind;
    std::uint64_t end;     // defined end (offset into the input), or kUndefined
    bool implicitContent;  // items of a UN sequence are implicit little endian
    bool groupLengthSeen;  // a group length lies among its elements (items and top)
    std::int64_t lastTag;  // of its last element (items and top), -1 before the first
  };
  static constexpr std::uint64_t kUndefined = ~std::uint64_t{0};

  bool fault(MC_STATUS status);
  std::uint32_t number(const Uint8* p, int size) const;
  // Handles one complete header; false on a fault.
  bool header(const Uint8* h, std::size_t size, std::vector<Piece>& out);
  void emitHeader(std::vector<Piece>& out, const Uint8* h, std::size_t size);
  // After the last byte of a value; false on a fault.
  bool valueDone(std::vector<Piece>& out);
  bool closeFinishedContainers();
  std::size_t headerSize(const Uint8* h, std::size_t available) const;
  bool inDefinedContainer() const;
  const Uint8* own(const Uint8* data, std::size_t size);

  E_ByteOrder byteOrder_;
  bool explicitVr_;
  bool encapsulated_;
  std::vector<Container> stack_;
  std::uint64_t position_ = 0;      // input bytes taken
  std::uint64_t valueLeft_ = 0;     // of the value being stepped over
  bool writeValue_ = true;          // whether that value is written
  std::uint8_t padAfterValue_ = 0;  // a pad byte to add after it (0: none)
  bool hasPad_ = false;
  Uint8 partial_[12] = {};  // a header split between inputs
  std::size_t partialSize_ = 0;
  int depth_ = 0;
  bool headComplete_ = false;
  bool finished_ = false;
  bool headEndsAfterValue_ = false;  // the value being read is the SOP Instance UID
  std::uint64_t headDataSetLength_ = 0;
  MC_STATUS failure_ = MC_NORMAL_COMPLETION;
  std::deque<std::vector<Uint8>> owned_;
};

}  // namespace zyl::toolkit

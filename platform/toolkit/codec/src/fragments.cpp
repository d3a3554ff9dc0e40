#include "internal.h"

#include <algorithm>

namespace zyl::codec {

using detail::fail;

namespace {

// Each item in the pixel sequence has an 8-byte tag and length header; the
// offset table counts from the first byte of the first fragment's item.
constexpr std::uint64_t kItemHeaderBytes = 8;

// True when a fragment ends with the JPEG EOI / JPEG 2000 EOC marker (both
// FFD9), ignoring the zero bytes that pad fragments to even length.
bool endsCodestream(Fragment fragment) {
  std::size_t end = fragment.size();
  while (end > 0 && fragment[end - 1] == 0x00) --end;
  return end >= 2 && fragment[end - 2] == 0xFF && fragment[end - 1] == 0xD9;
}

std::vector<FrameIndex::Range> fromOffsetTable(std::span<const std::uint32_t> offsetTable,
                                               std::span<const std::size_t> lengths) {
  std::vector<std::uint64_t> itemStarts;
  itemStarts.reserve(lengths.size());
  std::uint64_t position = 0;
  for (const std::size_t length : lengths) {
    itemStarts.push_back(position);
    position += kItemHeaderBytes + length;
  }
  std::vector<FrameIndex::Range> ranges;
  std::size_t previous = 0;
  for (std::size_t f = 0; f < offsetTable.size(); ++f) {
    const auto found = std::lower_bound(itemStarts.begin(), itemStarts.end(), offsetTable[f]);
    if (found == itemStarts.end() || *found != offsetTable[f]) return {};
    const auto first = static_cast<std::size_t>(found - itemStarts.begin());
    if (f == 0 ? first != 0 : first <= previous) return {};
    if (f > 0) ranges.back().count = first - previous;
    ranges.push_back({first, 0});
    previous = first;
  }
  if (!ranges.empty()) ranges.back().count = lengths.size() - previous;
  return ranges;
}

}  // namespace

FrameIndex FrameIndex::build(std::span<const std::uint32_t> offsetTable, std::span<const Fragment> fragments,
                             std::uint32_t frames) {
  std::vector<std::size_t> lengths;
  lengths.reserve(fragments.size());
  for (const Fragment& fragment : fragments) lengths.push_back(fragment.size());
  return build(offsetTable, lengths, frames, [&](std::size_t i) { return fragments[i]; });
}

FrameIndex FrameIndex::build(std::span<const std::uint32_t> offsetTable, std::span<const std::size_t> lengths,
                             std::uint32_t frames, const std::function<Fragment(std::size_t)>& fragmentAt) {
  if (frames == 0) fail(Errc::invalid_image, "no frames");
  if (lengths.empty()) fail(Errc::fragments_mismatch, "encapsulated pixel data has no fragments");
  if (lengths.size() < frames)
    fail(Errc::fragments_mismatch,
         std::to_string(lengths.size()) + " fragments for " + std::to_string(frames) + " frames");
  FrameIndex index;
  if (offsetTable.size() == frames) index.ranges_ = fromOffsetTable(offsetTable, lengths);
  if (!index.ranges_.empty()) return index;

  if (lengths.size() == frames) {
    for (std::size_t i = 0; i < frames; ++i) index.ranges_.push_back({i, 1});
    return index;
  }
  if (frames == 1) {
    index.ranges_.push_back({0, lengths.size()});
    return index;
  }
  // More fragments than frames and no usable offset table: each frame ends
  // with the fragment that closes its codestream.
  std::size_t first = 0;
  for (std::size_t i = 0; i < lengths.size(); ++i) {
    if (i + 1 == lengths.size() || endsCodestream(fragmentAt(i))) {
      index.ranges_.push_back({first, i + 1 - first});
      first = i + 1;
    }
  }
  if (index.ranges_.size() != frames)
    fail(Errc::fragments_mismatch,
         "found " + std::to_string(index.ranges_.size()) + " codestreams for " + std::to_string(frames) + " frames");
  return index;
}

FrameIndex::Range FrameIndex::range(std::size_t frame) const {
  if (frame >= ranges_.size())
    fail(Errc::frame_out_of_range, "frame " + std::to_string(frame) + " of " + std::to_string(ranges_.size()));
  return ranges_[frame];
}

std::vector<std::uint8_t> FrameIndex::codestream(std::span<const Fragment> fragments, std::size_t frame) const {
  const Range r = range(frame);
  if (r.first + r.count > fragments.size()) fail(Errc::fragments_mismatch, "frame index does not match the fragments");
  std::size_t total = 0;
  for (std::size_t i = r.first; i < r.first + r.count; ++i) total += fragments[i].size();
  std::vector<std::uint8_t> out;
  out.reserve(total);
  for (std::size_t i = r.first; i < r.first + r.count; ++i)
    out.insert(out.end(), fragments[i].begin(), fragments[i].end());
  return out;
}

}  // namespace zyl::codec

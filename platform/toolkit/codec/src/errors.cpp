#include "internal.h"

namespace zyl::codec {

std::string_view errcName(Errc code) noexcept {
  switch (code) {
    case Errc::unsupported_syntax:
      return "unsupported_syntax";
    case Errc::unsupported_image:
      return "unsupported_image";
    case Errc::bit_depth_too_large:
      return "bit_depth_too_large";
    case Errc::signed_lossy_jpeg:
      return "signed_lossy_jpeg";
    case Errc::missing_attribute:
      return "missing_attribute";
    case Errc::invalid_image:
      return "invalid_image";
    case Errc::frame_out_of_range:
      return "frame_out_of_range";
    case Errc::no_pixel_data:
      return "no_pixel_data";
    case Errc::fragments_mismatch:
      return "fragments_mismatch";
    case Errc::corrupt_codestream:
      return "corrupt_codestream";
    case Errc::geometry_mismatch:
      return "geometry_mismatch";
    case Errc::buffer_too_small:
      return "buffer_too_small";
    case Errc::codec_failure:
      return "codec_failure";
  }
  return "unknown";
}

CodecError::CodecError(Errc code, const std::string& what)
    : std::runtime_error(std::string(errcName(code)) + ": " + what), code_(code) {}

namespace detail {
void fail(Errc code, const std::string& what) { throw CodecError(code, what); }
}  // namespace detail

}  // namespace zyl::codec

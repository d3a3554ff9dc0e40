#include "whole_numbers.h"

#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstring>

#include "host_temporary.h"

namespace orvo::file {
namespace {

using zyl::Type;

template <typename Number>
std::string shortestText(Number value) {
  char buffer[64];
  const auto [end, ec] = std::to_chars(buffer, buffer + sizeof buffer, value);
  return ec == std::errc() ? std::string(buffer, end) : std::string();
}

// Element `i` of raw host memory of `type` as a whole number, or the text of
// a value that is none or lies outside `range`.
bool wholeElement(const void* data, Type type, int64_t i, IntegerRange range, int64_t& out, std::string& misfit) {
  auto check = [&](auto v) {
    using V = decltype(v);
    if constexpr (std::is_floating_point_v<V>) {
      // 2^63 is the first double beyond int64_t.
      if (!std::isfinite(v) || v != std::trunc(v) || v < -9223372036854775808.0 || v >= 9223372036854775808.0) {
        misfit = shortestText(v);
        return false;
      }
      out = static_cast<int64_t>(v);
    } else if constexpr (std::is_same_v<V, uint64_t>) {
      if (v > static_cast<uint64_t>(INT64_MAX)) {
        misfit = std::to_string(v);
        return false;
      }
      out = static_cast<int64_t>(v);
    } else {
      out = static_cast<int64_t>(v);
    }
    if (out < range.minimum || out > range.maximum) {
      misfit = shortestText(v);
      return false;
    }
    return true;
  };
  return zyl::withNumberType(
      type, [&](auto c) { return check(static_cast<const typename decltype(c)::type*>(data)[i]); },
      [&] {
        misfit = "?";
        return false;
      });
}

}  // namespace

std::string rangeText(IntegerRange range) {
  return std::to_string(range.minimum) + ".." + std::to_string(range.maximum);
}

WholeNumbers wholeNumbersIn(HostVar* value, IntegerRange range) {
  WholeNumbers result;
  // Text is read by the host's own number conversion.
  const bool text = value->type() == Type::String;
  const HostTemporary converted(text ? HostConvertType(value, Type::Float64) : nullptr);
  HostVar* source = text ? converted.get() : value;
  void* data = nullptr;
  const int64_t count = HostVarGetData(source, &data);
  result.values.reserve(static_cast<size_t>(count));
  for (int64_t i = 0; i < count; ++i) {
    int64_t v = 0;
    if (!wholeElement(data, source->type(), i, range, v, result.misfit)) return result;
    result.values.push_back(v);
  }
  return result;
}

Samples samplesOf(HostVar* value, size_t unit, IntegerRange range) {
  Samples result;
  void* data = nullptr;
  result.count = HostVarGetData(value, &data);
  const Type type = value->type();
  const bool sameSize = (unit == 1 && type == Type::Byte) ||
                        (unit == 2 && (type == Type::Int16 || type == Type::UInt16)) ||
                        (unit == 4 && (type == Type::Int32 || type == Type::UInt32)) ||
                        (unit == 8 && (type == Type::Int64 || type == Type::UInt64));
  if (sameSize) {
    result.bytes = {static_cast<const unsigned char*>(data), static_cast<size_t>(result.count) * unit};
    return result;
  }
  result.converted.resize(static_cast<size_t>(result.count) * unit);
  unsigned char* out = result.converted.data();
  for (int64_t i = 0; i < result.count; ++i, out += unit) {
    int64_t v = 0;
    if (!wholeElement(data, type, i, range, v, result.misfit)) {
      result.converted.clear();
      return result;
    }
    // The low `unit` bytes of the two's complement form, in host order.
    if (unit == 1)
      *out = static_cast<uint8_t>(v);
    else if (unit == 2) {
      const auto s = static_cast<uint16_t>(v);
      std::memcpy(out, &s, 2);
    } else if (unit == 4) {
      const auto s = static_cast<uint32_t>(v);
      std::memcpy(out, &s, 4);
    } else
      std::memcpy(out, &v, 8);
  }
  result.bytes = result.converted;
  return result;
}

namespace {

template <typename Number>
std::string decimalText(Number value) {
  constexpr size_t kMaxDecimalString = 16;
  std::string text = shortestText(value);
  // Fewer significant digits until the text fits; %g keeps the nearest value.
  for (int precision = 17; text.size() > kMaxDecimalString && precision > 0; --precision) {
    char buffer[64];
    std::snprintf(buffer, sizeof buffer, "%.*g", precision, static_cast<double>(value));
    text = buffer;
    // "1e+100" needs no "+"; dropping it and exponent zeros saves characters.
    if (const size_t e = text.find("e+"); e != std::string::npos) text.erase(e + 1, 1);
    for (size_t e = text.find('e'); e != std::string::npos && e + 2 < text.size() &&
                                    (text[e + 1] == '0' || (text[e + 1] == '-' && text[e + 2] == '0'));) {
      text.erase(text[e + 1] == '0' ? e + 1 : e + 2, 1);
    }
  }
  return text;
}

}  // namespace

std::string decimalStringOf(double value) { return decimalText(value); }
std::string decimalStringOf(float value) { return decimalText(value); }

}  // namespace orvo::file

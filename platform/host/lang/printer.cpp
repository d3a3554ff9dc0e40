#include "printer.h"

#include <charconv>
#include <cmath>
#include <cstring>
#include <vector>

#include "array_ops.h"
#include "zyl/runtime.h"

namespace zyl::lang {
namespace {

template <typename F>
std::string shortest(F value) {
  if (std::isnan(value)) return "nan";  // whatever its sign bit
  char buf[64];
  auto [end, ec] = std::to_chars(buf, buf + sizeof buf, value);
  std::string text(buf, ec == std::errc() ? end : buf);
  if (text.find_first_of(".enia") == std::string::npos) text += ".0";  // keep 2.0 readable as floating
  return text;
}

std::string quoted(std::string_view text) {
  std::string out = "\"";
  for (char c : text) {
    switch (c) {
      case '"':
        out += "\\\"";
        break;
      case '\\':
        out += "\\\\";
        break;
      case '\n':
        out += "\\n";
        break;
      case '\t':
        out += "\\t";
        break;
      default:
        out += c;
    }
  }
  return out + "\"";
}

std::string formatReference(const Variable& v) {
  const uint64_t id = v.scalar().id;
  if (v.type() == Type::Pointer) return id == 0 ? "<null pointer>" : "<pointer " + std::to_string(id) + ">";
  if (id == 0) return "null";
  const ClassRecord* record = nullptr;
  if (Runtime::instance().objectInstance(id, &record) == nullptr || record == nullptr)
    return "<destroyed object " + std::to_string(id) + ">";
  return "<" + record->name() + " object " + std::to_string(id) + ">";
}

std::string formatStructElement(const Array& structs, int64_t index) {
  const auto& fields = structs.structDef()->fields();
  std::string out = "{";
  for (size_t f = 0; f < fields.size(); ++f) {
    if (f > 0) out += ", ";
    out += fields[f].name + ": " + formatValue(fieldValue(structs, index, static_cast<int>(f)), true);
  }
  return out + "}";
}

std::string formatElement(const Array& array, int64_t index) {
  if (array.elemType() == Type::Struct) return formatStructElement(array, index);
  return formatValue(elementAt(array, index), true);
}

// Nested brackets, the first dimension innermost: [[1, 2, 3], [4, 5, 6]].
void formatNested(const Array& array, int dim, int64_t offset, int64_t stride, std::string& out) {
  const int64_t extent = array.dims()[dim];
  out += '[';
  for (int64_t i = 0; i < extent; ++i) {
    if (i > 0) out += ", ";
    if (dim == 0)
      out += formatElement(array, offset + i);
    else
      formatNested(array, dim - 1, offset + i * stride, stride / array.dims()[dim - 1], out);
  }
  out += ']';
}

std::string shapeText(const Array& array) {
  std::string out = typeName(array.elemType());
  // Literal structures have generated names (beginning with '$'): not shown.
  if (array.elemType() == Type::Struct && array.structDef()->name().front() != '$')
    out += " " + array.structDef()->name();
  out += '[';
  for (int d = 0; d < array.ndims(); ++d) {
    if (d > 0) out += ", ";
    out += std::to_string(array.dims()[d]);
  }
  return out + ']';
}

// numpy's layout of an array (np.array2string with separator ", "): the
// last dimension is the outermost bracket, each row of the first dimension
// on a line of its own, blank lines between the blocks of higher
// dimensions; when summarising, a dimension longer than 2 * kEdgeValues
// shows its first and last kEdgeValues around "...".
void formatLaidOut(const Array& array, int dim, int64_t offset, const std::vector<int64_t>& strides, bool summarise,
                   const std::string& indent, std::string& out) {
  const int64_t extent = array.dims()[dim];
  const bool skip = summarise && extent > 2 * kEdgeValues;
  const std::string separator =
      dim == 0 ? ", " : ",\n" + std::string(static_cast<size_t>(dim - 1), '\n') + indent + " ";
  out += '[';
  for (int64_t i = 0; i < extent; ++i) {
    if (i > 0) out += separator;
    if (skip && i == kEdgeValues) {
      out += "..." + separator;
      i = extent - kEdgeValues;
    }
    const int64_t at = offset + i * strides[static_cast<size_t>(dim)];
    if (dim == 0)
      out += formatElement(array, at);
    else
      formatLaidOut(array, dim - 1, at, strides, summarise, indent + " ", out);
  }
  out += ']';
}

int64_t gPrintLimit = kDefaultPrintLimit;

std::string formatArray(const Array& array) {
  if (array.elemType() == Type::Struct && array.count() == 1) return formatStructElement(array, 0);
  if (array.count() == 0) return shapeText(array) + " []";
  if (array.count() <= kDefaultPrintLimit) {
    std::string out;
    int64_t stride = array.count() / array.dims()[array.ndims() - 1];
    formatNested(array, array.ndims() - 1, 0, stride, out);
    return out;
  }
  // Larger arrays: type and dimensions, then the rows, on lines of their own
  // when there are several.
  std::vector<int64_t> strides(static_cast<size_t>(array.ndims()), 1);
  for (int d = 1; d < array.ndims(); ++d)
    strides[static_cast<size_t>(d)] = strides[static_cast<size_t>(d - 1)] * array.dims()[d - 1];
  int outer = array.ndims() - 1;
  while (outer > 0 && array.dims()[outer] == 1) --outer;  // [n, 1] lays out as [n]
  const bool summarise = gPrintLimit > 0 && array.count() > gPrintLimit;
  std::string out = shapeText(array);
  out += outer == 0 ? " " : "\n";
  std::string body;
  formatLaidOut(array, array.ndims() - 1, 0, strides, summarise, "", body);
  return out + body;
}

}  // namespace

int64_t printLimit() { return gPrintLimit; }
void setPrintLimit(int64_t limit) { gPrintLimit = limit; }

std::string formatNumber(Type type, const Scalar& value) {
  return zyl::withNumberType(
      type,
      [&](auto c) {
        using C = typename decltype(c)::type;
        if constexpr (std::is_floating_point_v<C>)
          return shortest(zyl::numberOf<C>(value));
        else
          return std::to_string(zyl::numberOf<C>(value));
      },
      [] { return std::string("?"); });
}

std::string formatValue(const Variable& value, bool quoteStrings) {
  if (value.isArray()) return formatArray(*value.array());
  switch (value.type()) {
    case Type::Undefined:
      return "undefined";
    case Type::Null:
      return "null";
    case Type::String:
      return quoteStrings ? quoted(value.text()) : std::string(value.text());
    case Type::Object:
    case Type::Pointer:
      return formatReference(value);
    default:
      return formatNumber(value.type(), value.scalar());
  }
}

std::string textOf(const Variable& value) {
  if (value.isScalarString()) return std::string(value.text());
  return formatValue(value, false);
}

}  // namespace zyl::lang

#include "indexing.h"

#include <string>

#include "array_ops.h"
#include "error.h"

namespace zyl::lang {
namespace {

// label: "" for the one dimension of a vector, " (linear)" for one index
// into an array of several, " of dimension n" otherwise.
int64_t resolve(int64_t index, int64_t extent, const std::string& label) {
  const int64_t position = index < 0 ? index + extent : index;
  if (position < 0 || position >= extent) {
    const std::string what = "index " + std::to_string(index) + label;
    if (extent == 0) valueError(what + " is out of range (the dimension is empty)");
    valueError(what + " is out of range (expected " + std::to_string(-extent) + " .. " + std::to_string(extent - 1) +
               ")");
  }
  return position;
}

std::string shapeText(const Array& array) {
  std::string out = "[";
  for (int d = 0; d < array.ndims(); ++d) out += (d ? ", " : "") + std::to_string(array.dims()[d]);
  return out + "]";
}

}  // namespace

Selection select(const Array& array, const std::vector<SubscriptValue>& subscripts) {
  const bool linear = subscripts.size() == 1 && array.ndims() > 1;
  const bool flat = subscripts.size() == 1;
  if (!flat && static_cast<int>(subscripts.size()) != array.ndims())
    valueError("array has " + std::to_string(array.ndims()) + " dimension" + (array.ndims() == 1 ? "" : "s") +
               ", got " + std::to_string(subscripts.size()) +
               " subscripts (expected one per dimension, or one linear index)");
  const size_t n = subscripts.size();
  std::vector<int64_t> extents(n), strides(n);
  if (flat) {
    extents[0] = array.count();
    strides[0] = 1;
  } else {
    int64_t stride = 1;
    for (size_t d = 0; d < n; ++d) {
      extents[d] = array.dims()[d];
      strides[d] = stride;
      stride *= extents[d];
    }
  }
  Selection sel;
  std::vector<std::vector<int64_t>> positions(n);
  for (size_t d = 0; d < n; ++d) {
    const SubscriptValue& s = subscripts[d];
    const std::string label = linear ? " (linear)" : flat ? "" : " of dimension " + std::to_string(d + 1);
    switch (s.kind) {
      case SubscriptValue::Kind::Single:
        positions[d].push_back(resolve(s.index, extents[d], label));
        break;
      case SubscriptValue::Kind::Mask: {
        sel.single = false;
        const bool fits = flat ? s.maskDims.size() >= 1 &&
                                     s.maskDims == std::vector<int64_t>(array.dims(), array.dims() + array.ndims())
                               : s.maskDims.size() == 1 && s.maskDims[0] == extents[d];
        if (!fits) {
          std::string shape;
          for (int64_t m : s.maskDims) shape += (shape.empty() ? "" : ", ") + std::to_string(m);
          valueError("a mask of shape [" + shape + "] cannot select from " +
                     (flat ? "an array of shape " + shapeText(array)
                           : "dimension " + std::to_string(d + 1) + " of length " + std::to_string(extents[d])) +
                     " (expected the same shape)");
        }
        positions[d] = s.list;
        sel.resultDims.push_back(static_cast<int64_t>(s.list.size()));
        break;
      }
      case SubscriptValue::Kind::List:
        sel.single = false;
        for (int64_t i : s.list) positions[d].push_back(resolve(i, extents[d], label));
        sel.resultDims.push_back(static_cast<int64_t>(s.list.size()));
        break;
      case SubscriptValue::Kind::Range: {
        sel.single = false;
        int64_t start = s.hasStart ? (s.start < 0 ? s.start + extents[d] : s.start) : 0;
        int64_t end = s.hasEnd ? (s.end < 0 ? s.end + extents[d] : s.end) : extents[d];
        if (start < 0 || start > extents[d] || end < 0 || end > extents[d])
          valueError("range " + std::to_string(s.hasStart ? s.start : 0) + ":" +
                     std::to_string(s.hasEnd ? s.end : extents[d]) + " is outside " +
                     (linear ? std::string("the array") : "dimension " + std::to_string(d + 1)) + " (0.." +
                     std::to_string(extents[d]) + ")");
        for (int64_t i = start; i < end; ++i) positions[d].push_back(i);
        sel.resultDims.push_back(end > start ? end - start : 0);
        break;
      }
    }
  }
  if (sel.single) {
    for (size_t d = 0; d < n; ++d) sel.offset += positions[d][0] * strides[d];
    return sel;
  }
  int64_t total = 1;
  for (auto& p : positions)
    if (__builtin_mul_overflow(total, static_cast<int64_t>(p.size()), &total))
      valueError("the subscripts select too many elements");
  sel.offsets.reserve(static_cast<size_t>(total));
  if (total == 0) return sel;
  // Odometer over the selected positions, first dimension fastest.
  std::vector<size_t> counter(n, 0);
  while (true) {
    int64_t offset = 0;
    for (size_t d = 0; d < n; ++d) offset += positions[d][counter[d]] * strides[d];
    sel.offsets.push_back(offset);
    size_t d = 0;
    while (d < n && ++counter[d] == positions[d].size()) counter[d++] = 0;
    if (d == n) break;
  }
  return sel;
}

Variable gather(const Array& array, const Selection& selection) {
  if (selection.single) return elementAt(array, selection.offset);
  std::vector<int64_t> dims = selection.resultDims;
  auto result = std::make_unique<Array>(array.elemType(), std::span<const int64_t>(dims), false, array.structDef());
  for (size_t i = 0; i < selection.offsets.size(); ++i)
    copyElement(*result, static_cast<int64_t>(i), array, selection.offsets[i]);
  return Variable::ofArray(std::move(result));
}

void scatter(Array& array, const Selection& selection, const Variable& value) {
  if (selection.single) {
    storeElement(array, selection.offset, value);
    return;
  }
  if (!value.isArray() || (value.isStruct() && value.array()->count() == 1)) {
    for (int64_t offset : selection.offsets) storeElement(array, offset, value);
    return;
  }
  const int64_t n = static_cast<int64_t>(selection.offsets.size());
  if (value.array()->count() != n)
    valueError("cannot store " + std::to_string(value.array()->count()) + " values into " + std::to_string(n) +
               " elements (expected one value or " + std::to_string(n) + ")");
  if (array.elemType() == Type::Struct) {
    if (value.array()->structDef() != array.structDef())
      valueError("cannot store structures of another kind into a " + array.structDef()->name() + " array");
    for (int64_t i = 0; i < n; ++i) copyElement(array, selection.offsets[static_cast<size_t>(i)], *value.array(), i);
    return;
  }
  if (array.elemType() == Type::Object || array.elemType() == Type::Pointer) {
    for (int64_t i = 0; i < n; ++i)
      storeElement(array, selection.offsets[static_cast<size_t>(i)], elementAt(*value.array(), i));
    return;
  }
  Variable converted = convert(value, array.elemType());
  for (int64_t i = 0; i < n; ++i) copyElement(array, selection.offsets[static_cast<size_t>(i)], *converted.array(), i);
}

}  // namespace zyl::lang

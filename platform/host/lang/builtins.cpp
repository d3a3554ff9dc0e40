// The built-in functions of the language.
#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <thread>

#include "array_ops.h"
#include "image_io.h"
#include "interpreter.h"
#include "printer.h"

namespace zyl::lang {
namespace {

Variable stringArray(const std::vector<std::string>& items) {
  const int64_t count = static_cast<int64_t>(items.size());
  auto array = std::make_unique<Array>(Type::String, std::span<const int64_t>(&count, 1), true);
  for (int64_t i = 0; i < count; ++i) hostStringAssign(array->as<HostString>()[i], items[static_cast<size_t>(i)]);
  return Variable::ofArray(std::move(array));
}

Variable intArray(const std::vector<int64_t>& items) {
  const bool narrow =
      std::all_of(items.begin(), items.end(), [](int64_t v) { return v >= INT32_MIN && v <= INT32_MAX; });
  const int64_t count = static_cast<int64_t>(items.size());
  auto array = std::make_unique<Array>(narrow ? Type::Int32 : Type::Int64, std::span<const int64_t>(&count, 1), false);
  for (int64_t i = 0; i < count; ++i) {
    if (narrow)
      array->as<int32_t>()[i] = static_cast<int32_t>(items[static_cast<size_t>(i)]);
    else
      array->as<int64_t>()[i] = items[static_cast<size_t>(i)];
  }
  return Variable::ofArray(std::move(array));
}

// Applies a text function to a string or to every element of a string array.
template <typename Fn>
Variable mapText(BuiltinCall& c, Fn fn) {
  const Variable& v = c.arg(0);
  if (v.isScalarString()) return Variable::ofString(fn(std::string(v.text())));
  if (v.isArray() && v.type() == Type::String) {
    Variable result = v;
    Array& a = *result.array();
    for (int64_t i = 0; i < a.count(); ++i) {
      HostString& s = a.as<HostString>()[i];
      hostStringAssign(s, fn(std::string(hostStringText(s))));
    }
    return result;
  }
  c.fail("expected a string or a string array");
}

// ---------------------------------------------------------------- output and inspection

Variable printValues(BuiltinCall& c) {
  std::string line;
  for (size_t i = 0; i < c.count(); ++i) {
    if (i > 0) line += ' ';
    line += formatValue(c.arg(i));
  }
  line += '\n';
  Interpreter::writeOutput(line);
  return Variable::null();
}

Variable typeOf(BuiltinCall& c) { return Variable::ofString(typeName(c.values[0]->type())); }

Variable lengthOf(BuiltinCall& c) {
  const Variable& v = c.arg(0);
  const int64_t n = v.isArray() ? v.array()->count() : 1;
  return n <= INT32_MAX ? Variable::ofInt32(static_cast<int32_t>(n)) : Variable::ofInt64(n);
}

Variable dimensionsOf(BuiltinCall& c) {
  const Variable& v = c.arg(0);
  if (!v.isArray()) return intArray({1});
  return intArray(std::vector<int64_t>(v.array()->dims(), v.array()->dims() + v.array()->ndims()));
}

Variable isDefined(BuiltinCall& c) { return Variable::ofInt32(c.values[0]->isDefined() ? 1 : 0); }

Variable fieldNames(BuiltinCall& c) {
  const Variable& v = c.arg(0);
  if (!v.isStruct()) c.fail("expected a structure");
  std::vector<std::string> names;
  for (const StructField& f : v.array()->structDef()->fields()) names.push_back(f.name);
  return stringArray(names);
}

std::string argumentRange(int low, int high) {
  return low == high ? std::to_string(low) : std::to_string(low) + ".." + std::to_string(high);
}

// ", keywords A B C" as registered; "ignored" for a routine registered as
// reading none; the bare word when the routine did not describe them.
std::string keywordList(const RoutineInfo& r) {
  if (!(r.flags & HOST_ROUTINE_KEYWORDS)) return "";
  if (r.keywordsDescribed && r.keywords.empty()) return ", keywords ignored";
  std::string text = ", keywords";
  for (const std::string& k : r.keywords) text += " " + k;
  return text;
}

Variable help(BuiltinCall& c) {
  Runtime& runtime = Runtime::instance();
  std::string text;
  if (c.count() == 0) {
    text = "built-in functions:\n";
    for (const Builtin& b : builtins()) text += std::string("  ") + b.usage + "\n";
    Interpreter::writeOutput(text);
    return Variable::null();
  }
  std::string className;
  const Variable& v = *c.values[0];
  if (v.type() == Type::Object && !v.isArray()) {
    const ClassRecord* record = nullptr;
    if (runtime.objectInstance(v.scalar().id, &record) == nullptr || record == nullptr)
      c.fail("the object is null or destroyed");
    className = record->name();
  } else if (!v.isDefined() && c.exprs[0]->kind == ExprKind::Name) {
    className = static_cast<const NameExpr*>(c.exprs[0])->name;
  } else if (v.isScalarString()) {
    className = std::string(v.text());
  } else {
    c.fail("expected a class name or an object");
  }
  if (runtime.findClass(className) == nullptr) {
    if (const Builtin* builtin = findBuiltin(upperCase(className))) {
      Interpreter::writeOutput(std::string("built-in function ") + builtin->usage + "\n  " + builtin->summary + "\n");
      return Variable::null();
    }
    c.fail("no class or built-in function named " + upperCase(className));
  }
  auto routines = runtime.routinesOfClass(className);
  std::sort(routines.begin(), routines.end(),
            [](const RoutineInfo* a, const RoutineInfo* b) { return a->name < b->name; });
  text = "class " + upperCase(className) + ":\n";
  for (const RoutineInfo* r : routines) {
    const std::string method = r->name.substr(r->name.find("::") + 2);
    // Counts as registered include the object; a user passes one fewer.
    text += "  " + method + (r->isFunction ? " (function" : " (procedure") + ", arguments " +
            argumentRange(r->minArgs - 1, r->maxArgs - 1) + keywordList(*r) +
            ((r->flags & HOST_ROUTINE_STATIC) ? ", static" : "") + ")\n";
  }
  Interpreter::writeOutput(text);
  return Variable::null();
}

// ---------------------------------------------------------------- arrays

Variable minimumOf(BuiltinCall& c) { return minimum(c.arg(0)); }
Variable maximumOf(BuiltinCall& c) { return maximum(c.arg(0)); }
Variable totalOf(BuiltinCall& c) { return total(c.arg(0)); }
Variable meanOf(BuiltinCall& c) { return Variable::ofFloat64(mean(c.arg(0))); }
Variable whereNonzero(BuiltinCall& c) { return nonzeroIndices(c.arg(0)); }
Variable absoluteOf(BuiltinCall& c) { return absolute(c.arg(0)); }
Variable squareRootOf(BuiltinCall& c) { return squareRoot(c.arg(0)); }

std::vector<int64_t> dimensionArgs(BuiltinCall& c, size_t first) {
  std::vector<int64_t> dims;
  if (c.count() == first + 1 && c.arg(first).isArray()) {  // dims given as one array, e.g. dims(a)
    dims = toIndexList(c.arg(first), (std::string(c.name) + ": a dimension").c_str());
  } else {
    for (size_t i = first; i < c.count(); ++i) dims.push_back(c.intArg(i));
  }
  if (dims.empty() || dims.size() > static_cast<size_t>(kMaxDims))
    c.fail("arrays have 1 to " + std::to_string(kMaxDims) + " dimensions, got " + std::to_string(dims.size()));
  for (int64_t d : dims)
    if (d < 0) c.fail("a dimension cannot be negative");
  return dims;
}

Variable makeArray(BuiltinCall& c) {
  std::vector<int64_t> dims = dimensionArgs(c, 1);
  const Variable& kind = c.arg(0);
  if (kind.isStruct()) {  // copies of one structure
    auto result =
        std::make_unique<Array>(Type::Struct, std::span<const int64_t>(dims), true, kind.array()->structDef());
    for (int64_t i = 0; i < result->count(); ++i) copyElement(*result, i, *kind.array(), 0);
    return Variable::ofArray(std::move(result));
  }
  const std::string name = c.stringArg(0);
  const Type type = typeFromName(name);
  if (type == Type::Undefined)
    c.fail("unknown type \"" + name +
           "\" (expected byte, int16, uint16, int32, uint32, int64, uint64, float32, float64, string, or a structure)");
  return Variable::ofArray(std::make_unique<Array>(type, std::span<const int64_t>(dims), true));
}

Variable rangeOf(BuiltinCall& c) {
  double start = 0, end = 0, step = 1;
  bool floating = false;
  for (size_t i = 0; i < c.count(); ++i) floating = floating || isFloating(c.arg(i).type());
  if (c.count() == 1) {
    end = c.numberArg(0);
  } else {
    start = c.numberArg(0);
    end = c.numberArg(1);
    if (c.count() == 3) step = c.numberArg(2);
  }
  if (step == 0) c.fail("the step must not be 0");
  if (!std::isfinite(start) || !std::isfinite(end) || !std::isfinite(step))
    c.fail("the bounds and the step must be finite");
  const double span = (end - start) / step;
  // Beyond 2^62 elements no array fits; the check also keeps the conversion defined.
  if (span > 4.6e18) c.fail("too many elements (" + textOf(Variable::ofFloat64(std::ceil(span))) + ")");
  const int64_t count = span > 0 ? static_cast<int64_t>(std::ceil(span)) : 0;
  Type type =
      floating ? Type::Float64 : (std::max(std::fabs(start), std::fabs(end)) > INT32_MAX ? Type::Int64 : Type::Int32);
  return rangeArray(start, step, count, type);
}

// The elements of the array followed by the value(s); an empty array takes
// the type of what is appended.
Variable appendValues(BuiltinCall& c) {
  const Variable& base = c.arg(0);
  const Variable& extra = c.arg(1);
  if (!base.isArray()) c.fail("argument 1 must be an array (start with [] for an empty one)");
  const Array& a = *base.array();
  const bool baseEmpty = a.count() == 0;
  Type type = baseEmpty ? extra.type() : a.elemType();
  const StructDef* def = type == Type::Struct ? (baseEmpty ? extra.array()->structDef() : a.structDef()) : nullptr;
  if (isNumeric(type) && isNumeric(extra.type())) type = baseEmpty ? extra.type() : promote(type, extra.type());
  if (type != extra.type() && !(isNumeric(type) && isNumeric(extra.type())))
    c.fail(std::string("cannot append ") + typeName(extra.type()) + " to an array of " + typeName(type));
  if (def && extra.array()->structDef() != def) c.fail("cannot append a structure of another kind");
  const int64_t extraCount = extra.isArray() ? extra.array()->count() : 1;
  int64_t count = 0;
  if (__builtin_add_overflow(a.count(), extraCount, &count)) c.fail("the result would have too many elements");
  auto result = std::make_unique<Array>(type, std::span<const int64_t>(&count, 1), true, def);
  if (!baseEmpty) {
    Variable converted = a.elemType() == type ? Variable() : convert(base, type);
    const Array& from = converted.isDefined() ? *converted.array() : a;
    for (int64_t i = 0; i < a.count(); ++i) copyElement(*result, i, from, i);
  }
  for (int64_t i = 0; i < extraCount; ++i)
    storeElement(*result, a.count() + i, extra.isArray() ? elementAt(*extra.array(), i) : extra);
  return Variable::ofArray(std::move(result));
}

Variable reshapeArray(BuiltinCall& c) {
  const Variable& v = c.arg(0);
  if (!v.isArray()) c.fail("expected an array");
  std::vector<int64_t> dims = dimensionArgs(c, 1);
  Variable result = v;
  if (!result.array()->reshape(dims))
    c.fail("the new dimensions hold a different number of elements than the array's " +
           std::to_string(v.array()->count()));
  return result;
}

// ---------------------------------------------------------------- strings

Variable toUpper(BuiltinCall& c) {
  return mapText(c, [](std::string s) { return upperCase(s); });
}
Variable toLower(BuiltinCall& c) {
  return mapText(c, [](std::string s) {
    std::transform(s.begin(), s.end(), s.begin(), [](unsigned char ch) { return std::tolower(ch); });
    return s;
  });
}
Variable trimmed(BuiltinCall& c) {
  return mapText(c, [](std::string s) {
    const auto first = s.find_first_not_of(" \t\r\n");
    if (first == std::string::npos) return std::string();
    return s.substr(first, s.find_last_not_of(" \t\r\n") - first + 1);
  });
}

// One printf directive with its value, however wide the result.
template <typename V>
std::string printed(const std::string& directive, V value) {
  const int n = std::snprintf(nullptr, 0, directive.c_str(), value);
  if (n < 0) valueError("format: cannot print " + directive);
  std::string out(static_cast<size_t>(n) + 1, '\0');
  std::snprintf(out.data(), out.size(), directive.c_str(), value);
  out.resize(static_cast<size_t>(n));
  return out;
}

// printf directives: %[flags][width][.precision](d i u x X o f F e E g G s c %)
// Widths and precisions up to kMaxFormatWidth; integers keep their exact
// value, uint64 included.
constexpr int kMaxFormatWidth = 100000;

Variable formatText(BuiltinCall& c) {
  const std::string pattern = c.stringArg(0);
  std::string out;
  size_t next = 1;
  for (size_t i = 0; i < pattern.size(); ++i) {
    if (pattern[i] != '%') {
      out += pattern[i];
      continue;
    }
    size_t j = i + 1;
    while (j < pattern.size() && std::string_view("-+ #0").find(pattern[j]) != std::string_view::npos) ++j;
    for (int part = 0; part < 2; ++part) {  // width, then .precision
      if (part == 1) {
        if (j >= pattern.size() || pattern[j] != '.') break;
        ++j;
      }
      const size_t digits = j;
      while (j < pattern.size() && std::isdigit(static_cast<unsigned char>(pattern[j]))) ++j;
      if (j - digits > 6 || (j > digits && std::stoi(pattern.substr(digits, j - digits)) > kMaxFormatWidth))
        c.fail(std::string(part ? "precision" : "width") + " " + pattern.substr(digits, j - digits) + " in \"" +
               pattern + "\" is too large (at most " + std::to_string(kMaxFormatWidth) + ")");
    }
    while (j < pattern.size() && std::string_view("hlLjzt").find(pattern[j]) != std::string_view::npos) ++j;
    if (j >= pattern.size()) c.fail("incomplete directive at the end of \"" + pattern + "\"");
    const char conversion = pattern[j];
    if (conversion == '%') {
      out += '%';
      i = j;
      continue;
    }
    if (std::string_view("diuxXofFeEgGsc").find(conversion) == std::string_view::npos)
      c.fail("unknown directive '" + pattern.substr(i, j - i + 1) + "' in \"" + pattern +
             "\" (expected d i u x X o f e g s c %)");
    if (next >= c.count()) c.fail("more directives than values in \"" + pattern + "\"");
    const size_t argument = next++;
    const Variable& value = c.arg(argument);
    std::string directive = pattern.substr(i, j - i);
    directive.erase(
        std::remove_if(directive.begin() + 1, directive.end(),
                       [](char ch) { return std::string_view("hlLjzt").find(ch) != std::string_view::npos; }),
        directive.end());
    switch (conversion) {
      case 'd':
      case 'i':
      case 'u':
      case 'x':
      case 'X':
      case 'o': {
        // uint64 values above int64 print as they are, not as negatives.
        const bool wide =
            value.type() == Type::UInt64 && !value.isArray() && value.scalar().u64 > static_cast<uint64_t>(INT64_MAX);
        const uint64_t magnitude = wide ? value.scalar().u64 : 0;
        const long long signedValue = wide ? 0 : c.intArg(argument);
        const bool decimal = conversion == 'd' || conversion == 'i' || conversion == 'u';
        if (!decimal && signedValue < 0)
          c.fail(std::string("%") + conversion + " needs a value that is not negative, got " +
                 std::to_string(signedValue));
        if (wide || !decimal)
          out += printed(directive + "ll" + (decimal ? 'u' : conversion),
                         wide ? magnitude : static_cast<unsigned long long>(signedValue));
        else
          out += printed(directive + "lld", signedValue);
        break;
      }
      case 'f':
      case 'F':
      case 'e':
      case 'E':
      case 'g':
      case 'G':
        out += printed(directive + conversion, c.numberArg(argument));
        break;
      case 'c':
        out += printed(directive + "c", static_cast<int>(c.intArg(argument)));
        break;
      default:
        out += printed(directive + "s", textOf(value).c_str());
        break;
    }
    i = j;
  }
  if (next < c.count()) c.fail("more values than directives in \"" + pattern + "\"");
  return Variable::ofString(out);
}

Variable splitText(BuiltinCall& c) {
  const std::string text = c.stringArg(0);
  std::vector<std::string> parts;
  if (c.count() < 2) {  // on runs of blanks
    size_t i = 0;
    while (true) {
      i = text.find_first_not_of(" \t\r\n", i);
      if (i == std::string::npos) break;
      size_t end = text.find_first_of(" \t\r\n", i);
      parts.push_back(text.substr(i, end == std::string::npos ? std::string::npos : end - i));
      if (end == std::string::npos) break;
      i = end;
    }
  } else {
    const std::string separator = c.stringArg(1);
    if (separator.empty()) c.fail("the separator must not be empty");
    size_t start = 0;
    while (true) {
      size_t at = text.find(separator, start);
      parts.push_back(text.substr(start, at == std::string::npos ? std::string::npos : at - start));
      if (at == std::string::npos) break;
      start = at + separator.size();
    }
  }
  if (parts.empty()) parts.emplace_back();
  return stringArray(parts);
}

Variable joinText(BuiltinCall& c) {
  const Variable& items = c.arg(0);
  const std::string separator = c.count() > 1 ? c.stringArg(1) : " ";
  if (!items.isArray()) return Variable::ofString(textOf(items));
  std::string out;
  for (int64_t i = 0; i < items.array()->count(); ++i) {
    if (i > 0) out += separator;
    out += textOf(elementAt(*items.array(), i));
  }
  return Variable::ofString(out);
}

Variable findText(BuiltinCall& c) {
  const size_t at = c.stringArg(0).find(c.stringArg(1));
  return Variable::ofInt32(at == std::string::npos ? -1 : static_cast<int32_t>(at));
}

Variable substring(BuiltinCall& c) {
  const std::string text = c.stringArg(0);
  int64_t start = c.intArg(1);
  if (start < 0) start += static_cast<int64_t>(text.size());
  if (start < 0 || start > static_cast<int64_t>(text.size()))
    c.fail("start " + std::to_string(c.intArg(1)) + " is outside the string (length " + std::to_string(text.size()) +
           ")");
  int64_t length = c.count() > 2 ? c.intArg(2) : static_cast<int64_t>(text.size());
  if (length < 0) c.fail("the length cannot be negative");
  return Variable::ofString(text.substr(static_cast<size_t>(start), static_cast<size_t>(length)));
}

// ---------------------------------------------------------------- text as bytes and as UTF-8

// The lead bytes of well-formed UTF-8: how many bytes follow, and the range of
// the second byte (the others are 0x80 to 0xBF).
struct Utf8Lead {
  unsigned char first, last;
  size_t extra;
  unsigned char low, high;
};
constexpr Utf8Lead kUtf8Leads[] = {
    {0x00, 0x7F, 0, 0, 0},       {0xC2, 0xDF, 1, 0x80, 0xBF}, {0xE0, 0xE0, 2, 0xA0, 0xBF},
    {0xE1, 0xEC, 2, 0x80, 0xBF}, {0xED, 0xED, 2, 0x80, 0x9F}, {0xEE, 0xEF, 2, 0x80, 0xBF},
    {0xF0, 0xF0, 3, 0x90, 0xBF}, {0xF1, 0xF3, 3, 0x80, 0xBF}, {0xF4, 0xF4, 3, 0x80, 0x8F}};

// The byte offset of each character of UTF-8 text, then the text's length.
// Text that is not UTF-8 (as Python's strict decoding judges it: no
// overlong forms, surrogates or values past U+10FFFF) is an error.
std::vector<size_t> utf8Starts(const BuiltinCall& c, std::string_view text) {
  std::vector<size_t> starts;
  const auto* bytes = reinterpret_cast<const unsigned char*>(text.data());
  const size_t n = text.size();
  for (size_t i = 0; i < n;) {
    starts.push_back(i);
    const unsigned char b = bytes[i];
    const auto lead = std::find_if(std::begin(kUtf8Leads), std::end(kUtf8Leads),
                                   [b](const Utf8Lead& l) { return b >= l.first && b <= l.last; });
    if (lead == std::end(kUtf8Leads))
      c.fail("the text is not UTF-8 (byte " + std::to_string(i) + " is " + std::to_string(b) + ")");
    const size_t extra = lead->extra;
    const unsigned char low = lead->low, high = lead->high;
    for (size_t k = 1; k <= extra; ++k) {
      const bool fits =
          i + k < n && (k == 1 ? bytes[i + k] >= low && bytes[i + k] <= high : (bytes[i + k] & 0xC0) == 0x80);
      if (!fits)
        c.fail("the text is not UTF-8 (byte " + std::to_string(i + k) + " does not continue the character at byte " +
               std::to_string(i) + ")");
    }
    i += extra + 1;
  }
  starts.push_back(n);
  return starts;
}

// The lengths of a string or of every string of an array, shaped like it.
template <typename Fn>
Variable lengthsOf(BuiltinCall& c, Fn length) {
  const Variable& v = c.arg(0);
  if (v.isScalarString()) return Variable::ofInt32(static_cast<int32_t>(length(v.text())));
  if (v.isArray() && v.type() == Type::String) {
    std::vector<int64_t> lengths;
    for (int64_t i = 0; i < v.array()->count(); ++i)
      lengths.push_back(length(hostStringText(v.array()->as<HostString>()[i])));
    Variable result = intArray(lengths);
    result.array()->reshape(std::span<const int64_t>(v.array()->dims(), v.array()->ndims()));
    return result;
  }
  c.fail("expected a string, got " + std::string(typeName(v.type())));
}

Variable stringLength(BuiltinCall& c) {
  return lengthsOf(c, [](std::string_view text) { return static_cast<int64_t>(text.size()); });
}

Variable utf8Length(BuiltinCall& c) {
  return lengthsOf(c, [&](std::string_view text) { return static_cast<int64_t>(utf8Starts(c, text).size()) - 1; });
}

// substr counted in characters: start may count from the end.
Variable utf8Substring(BuiltinCall& c) {
  const std::string text = c.stringArg(0);
  const std::vector<size_t> starts = utf8Starts(c, text);
  const int64_t characters = static_cast<int64_t>(starts.size()) - 1;
  int64_t start = c.intArg(1);
  if (start < 0) start += characters;
  if (start < 0 || start > characters)
    c.fail("start " + std::to_string(c.intArg(1)) + " is outside the text (" + std::to_string(characters) +
           " characters)");
  const int64_t length = c.count() > 2 ? c.intArg(2) : characters;
  if (length < 0) c.fail("the length cannot be negative");
  const int64_t end = start + std::min(length, characters - start);
  const size_t from = starts[static_cast<size_t>(start)];
  return Variable::ofString(text.substr(from, starts[static_cast<size_t>(end)] - from));
}

Variable textToBytes(BuiltinCall& c) {
  const std::string text = c.stringArg(0);
  const int64_t count = static_cast<int64_t>(text.size());
  auto bytes = std::make_unique<Array>(Type::Byte, std::span<const int64_t>(&count, 1), false);
  if (count > 0) std::memcpy(bytes->data(), text.data(), text.size());
  return Variable::ofArray(std::move(bytes));
}

// The bytes of an integer array with values 0 .. 255 as text, unchanged.
Variable bytesToText(BuiltinCall& c) {
  const Variable& v = c.arg(0);
  if (!v.isArray() || !isInteger(v.type()))
    c.fail("expected an array of byte values (0 .. 255), got " +
           std::string(v.isArray() ? typeName(v.type()) + std::string(" array") : typeName(v.type())));
  const Array& a = *v.array();
  if (a.elemType() == Type::Byte)
    return Variable::ofString(std::string(reinterpret_cast<const char*>(a.data()), static_cast<size_t>(a.count())));
  std::string text(static_cast<size_t>(a.count()), '\0');
  for (int64_t i = 0; i < a.count(); ++i) {
    const Variable element = elementAt(a, i);
    const int64_t value = toIndex(element, "from_bytes: a value");
    if (value < 0 || value > 255)
      c.fail("element " + std::to_string(i) + " is " + formatValue(element) + ", not a byte value (0 .. 255)");
    text[static_cast<size_t>(i)] = static_cast<char>(value);
  }
  return Variable::ofString(std::move(text));
}

// ---------------------------------------------------------------- files and system

Variable fileExists(BuiltinCall& c) {
  std::error_code error;
  return Variable::ofInt32(std::filesystem::exists(c.stringArg(0), error) ? 1 : 0);
}

Variable environment(BuiltinCall& c) {
  const char* value = std::getenv(c.stringArg(0).c_str());
  return Variable::ofString(value ? value : "");
}

// A day: longer waits are written as a loop (and a duration beyond the
// clock's range must not come back at once).
constexpr double kMaxWaitSeconds = 86400;

// Sleeps in short slices so that Ctrl-C at the prompt stops the wait.
Variable waitSeconds(BuiltinCall& c) {
  const double seconds = c.numberArg(0);
  if (!(seconds >= 0 && seconds <= kMaxWaitSeconds))
    c.fail("the duration must be 0 to " + std::to_string(static_cast<int>(kMaxWaitSeconds)) + " seconds, got " +
           formatValue(c.arg(0)) + " (wait in a loop for longer)");
  using Clock = std::chrono::steady_clock;
  const Clock::time_point end =
      Clock::now() + std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(seconds));
  constexpr auto kSlice = std::chrono::milliseconds(20);
  for (Clock::time_point now = Clock::now(); now < end; now = Clock::now()) {
    Interpreter::checkInterrupt();
    std::this_thread::sleep_for(std::min<Clock::duration>(end - now, kSlice));
  }
  Interpreter::checkInterrupt();
  return Variable::null();
}

Variable writeRawFile(BuiltinCall& c) {
  writeRaw(c.stringArg(0), c.arg(1));
  return Variable::null();
}

Variable writePngFile(BuiltinCall& c) {
  writePng(c.stringArg(0), c.arg(1));
  return Variable::null();
}

Variable loadModule(BuiltinCall& c) {
  const std::string path = c.stringArg(0);
  std::string error;
  if (Runtime::instance().loadModule(path, &error)) return Variable::ofInt32(1);
  std::fflush(stdout);
  std::fprintf(stderr, "zyl: module %s not loaded: %s\n", path.c_str(), error.c_str());
  return Variable::ofInt32(0);
}

Variable destroyObject(BuiltinCall& c) {
  const Variable& object = c.arg(0);
  if (object.type() != Type::Object || object.isArray())
    c.fail("expected an object, got " + std::string(typeName(object.type())));
  if (object.scalar().id != 0) Runtime::instance().destroyObject(object);
  return Variable::null();
}

Variable exitProgram(BuiltinCall& c) {
  const int code = c.count() > 0 ? static_cast<int>(c.intArg(0)) : 0;
  std::fflush(stdout);
  throw ExitRequest{code};
}

// ---------------------------------------------------------------- conversions

template <Type To>
Variable convertTo(BuiltinCall& c) {
  return convert(c.arg(0), To);
}

const std::vector<Builtin> kBuiltins = {
    {"ABS", absoluteOf, 1, 1, "abs(x)", "the absolute value of a number or of every element"},
    {"APPEND", appendValues, 2, 2, "append(array, value or array)",
     "a new one-dimensional array: the elements of array, then the value or the array's elements"},
    {"BYTE", convertTo<Type::Byte>, 1, 1, "byte(x)",
     "converts to byte (integers wrap, floating values saturate, strings are read)"},
    {"DEFINED", isDefined, 1, 1, "defined(variable)", "1 when the variable holds a value, else 0"},
    {"DESTROY", destroyObject, 1, 1, "destroy(object)", "runs the object's CLEANUP and releases it"},
    {"DIMS", dimensionsOf, 1, 1, "dims(array)", "the dimensions of an array, first varying fastest"},
    {"EXIT", exitProgram, 0, 1, "exit([status])", "ends the program with the status (0 when left out)"},
    {"FIELDS", fieldNames, 1, 1, "fields(structure)", "the field names of a structure"},
    {"FILE_EXISTS", fileExists, 1, 1, "file_exists(path)", "1 when the path exists, else 0"},
    {"FLOAT32", convertTo<Type::Float32>, 1, 1, "float32(x)", "converts to float32"},
    {"FLOAT64", convertTo<Type::Float64>, 1, 1, "float64(x)", "converts to float64"},
    {"FORMAT", formatText, 1, -1, "format(pattern, values...)",
     "text made from a printf pattern (%d %i %u %x %X %o %f %e %g %s %c %%)"},
    {"FROM_BYTES", bytesToText, 1, 1, "from_bytes(array)",
     "the text whose bytes are the array's values (0 .. 255), unchanged"},
    {"GETENV", environment, 1, 1, "getenv(name)", "the value of an environment variable (\"\" when unset)"},
    {"HELP", help, 0, 1, "help([Class or object])",
     "lists the built-in functions, a class's methods, or what a built-in does"},
    {"INT16", convertTo<Type::Int16>, 1, 1, "int16(x)", "converts to int16"},
    {"INT32", convertTo<Type::Int32>, 1, 1, "int32(x)", "converts to int32"},
    {"INT64", convertTo<Type::Int64>, 1, 1, "int64(x)", "converts to int64"},
    {"JOIN", joinText, 1, 2, "join(array[, separator])",
     "the strings of an array joined by the separator (\"\" when left out)"},
    {"LEN", lengthOf, 1, 1, "len(x)", "the element count of an array (1 for a single value)"},
    {"LOAD_MODULE", loadModule, 1, 1, "load_module(path)",
     "loads a module; 1 on success, else 0 with the reason on standard error"},
    {"LOWER", toLower, 1, 1, "lower(text)", "the text in lower case (ASCII letters)"},
    {"MAKE_ARRAY", makeArray, 2, -1, "make_array(type or structure, dims...)",
     "an array of zeros (or of copies of a structure) with 1 to 8 dimensions"},
    {"MAX", maximumOf, 1, 1, "max(array)", "the largest element (NaN when one is present)"},
    {"MEAN", meanOf, 1, 1, "mean(array)", "the mean of the elements, as float64"},
    {"MIN", minimumOf, 1, 1, "min(array)", "the smallest element (NaN when one is present)"},
    {"PRINT", printValues, 0, -1, "print(values...)", "prints the values on one line, separated by blanks"},
    {"RANGE", rangeOf, 1, 3, "range(n) or range(start, end[, step])",
     "the numbers from start (0) up to, not including, end"},
    {"RESHAPE", reshapeArray, 2, -1, "reshape(array, dims...)",
     "the array with new dimensions holding the same number of elements"},
    {"SPLIT", splitText, 1, 2, "split(text[, separator])",
     "the parts of the text between separators (blanks when left out)"},
    {"SQRT", squareRootOf, 1, 1, "sqrt(x)", "the square root, as float64 (float32 stays float32)"},
    {"STRING", convertTo<Type::String>, 1, 1, "string(x)", "converts to string, as print shows the value"},
    {"STRLEN", stringLength, 1, 1, "strlen(text)", "the length of the text in bytes"},
    {"STRPOS", findText, 2, 2, "strpos(text, part)", "the byte offset of the first occurrence of part, or -1"},
    {"SUBSTR", substring, 2, 3, "substr(text, start[, length])",
     "the bytes of the text from start, length of them (to the end when left out)"},
    {"TOTAL", totalOf, 1, 1, "total(array)", "the sum of the elements (int64 for integers, float64 otherwise)"},
    {"TO_BYTES", textToBytes, 1, 1, "to_bytes(text)", "the bytes of the text as a byte array"},
    {"TRIM", trimmed, 1, 1, "trim(text)", "the text without leading and trailing blanks"},
    {"TYPEOF", typeOf, 1, 1, "typeof(x)", "the name of the value's type"},
    {"UINT16", convertTo<Type::UInt16>, 1, 1, "uint16(x)", "converts to uint16"},
    {"UINT32", convertTo<Type::UInt32>, 1, 1, "uint32(x)", "converts to uint32"},
    {"UINT64", convertTo<Type::UInt64>, 1, 1, "uint64(x)", "converts to uint64"},
    {"UPPER", toUpper, 1, 1, "upper(text)", "the text in upper case (ASCII letters)"},
    {"UTF8_LEN", utf8Length, 1, 1, "utf8_len(text)", "the number of characters of UTF-8 text"},
    {"UTF8_SUBSTR", utf8Substring, 2, 3, "utf8_substr(text, start[, length])",
     "the characters of UTF-8 text from start, length of them (to the end when left out)"},
    {"WAIT", waitSeconds, 1, 1, "wait(seconds)", "waits 0 to 86400 seconds (Ctrl-C at the prompt stops the wait)"},
    {"WHERE", whereNonzero, 1, 1, "where(array)", "the linear indices of the nonzero elements"},
    {"WRITE_PNG", writePngFile, 2, 2, "write_png(path, image)",
     "writes a grey [w, h] or colour [3, w, h] image as PNG"},
    {"WRITE_RAW", writeRawFile, 2, 2, "write_raw(path, array)",
     "writes the bytes of a numeric array as they lie in memory"},
};

}  // namespace

const std::vector<Builtin>& builtins() { return kBuiltins; }

const Builtin* findBuiltin(std::string_view upperName) {
  auto it = std::lower_bound(kBuiltins.begin(), kBuiltins.end(), upperName,
                             [](const Builtin& b, std::string_view name) { return std::string_view(b.name) < name; });
  return it != kBuiltins.end() && upperName == it->name ? &*it : nullptr;
}

}  // namespace zyl::lang

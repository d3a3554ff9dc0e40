// The language answers as numpy (and Python) do, or refuses: each case runs
// in zyl and in /usr/bin/python3 with numpy, and both must print the same
// value, or both fail.
#include <gtest/gtest.h>

#include <cstdio>
#include <memory>

#include "run_support.h"

namespace zyl::lang::test {
namespace {

struct Agreement {
  const char* zyl;     // an expression
  const char* python;  // the same in Python with numpy as np
};

// Shared by both sides: a and m are int32, m has dimensions [3, 2] (numpy
// shape (2, 3)); nan is a float64 NaN.
const char* kZylSetup = "a = [10, 20, 30, 40, 50]\nm = reshape(range(6), 3, 2)\nnan = 0.0 / 0\n";
const char* kPythonSetup =
    "import math, warnings\n"
    "import numpy as np\n"
    "warnings.simplefilter('ignore')\n"
    "np.seterr(all='ignore')\n"
    "a = np.array([10, 20, 30, 40, 50], dtype=np.int32)\n"
    "m = np.arange(6, dtype=np.int32).reshape(2, 3)\n"
    "nan = float('nan')\n"
    "def show(v):\n"
    "    if isinstance(v, np.ndarray): v = v.tolist()\n"
    "    if isinstance(v, (list, tuple)): return '[' + ', '.join(show(x) for x in v) + ']'\n"
    "    if isinstance(v, (bool, np.bool_)): return str(int(v))\n"
    "    if isinstance(v, (float, np.floating)): return 'nan' if math.isnan(v) else repr(float(v))\n"
    "    if isinstance(v, str): return v\n"
    "    return str(int(v))\n"
    "def run(f):\n"
    "    try: print(show(f()))\n"
    "    except Exception as e: print('error:', e)\n";

const Agreement kAgreements[] = {
    // 1. integer powers: exact, wrapping in the integer type
    {"2 ^ 31", "np.int32(2) ** np.int32(31)"},
    {"10 ^ 10", "np.int32(10) ** np.int32(10)"},
    {"int64(99999999) ^ 2", "np.int64(99999999) ** np.int64(2)"},
    {"int64(3) ^ 38", "np.int64(3) ** np.int64(38)"},
    {"uint64(3) ^ uint64(41)", "np.uint64(3) ** np.uint64(41)"},
    {"int16([2, 3, -3]) ^ int16(15)", "np.array([2, 3, -3], dtype=np.int16) ** np.int16(15)"},
    {"[2, 3, 0] ^ [31, 21, 0]", "np.array([2, 3, 0], dtype=np.int32) ** np.array([31, 21, 0], dtype=np.int32)"},
    {"2.0 ^ -1", "2.0 ** -1"},
    {"0 ^ -1", "np.int32(0) ** np.int32(-1)"},
    {"[2, 3] ^ -1", "np.array([2, 3], dtype=np.int32) ** np.int32(-1)"},
    // 2. a comparison selects by mask
    {"a[a > 25]", "a[a > 25]"},
    {"m[m > 2]", "m[m > 2]"},
    {"a[(a > 15) * (a < 45)]", "a[(a > 15) & (a < 45)]"},
    {"a[not (a > 25)]", "a[~(a > 25)]"},
    {"m[:, m[0, :] > 2]", "m[m[:, 0] > 2, :]"},
    {"a[where(a > 25)]", "a[np.where(a > 25)]"},
    {"a[[1, 2, 3] > 1]", "a[np.array([1, 2, 3]) > 1]"},
    // 3. signed against unsigned: by value
    {"uint32(5) > -1", "np.uint32(5) > -1"},
    // text compares as Python compares str
    {"[\"a\" <= \"a\", \"a\" < \"a\", \"a\" >= \"b\", \"ab\" > \"a\", \"B\" < \"a\"]",
     "['a' <= 'a', 'a' < 'a', 'a' >= 'b', 'ab' > 'a', 'B' < 'a']"},
    {"where(uint32([0, 1, 2]) > -1)", "np.where(np.array([0, 1, 2], dtype=np.uint32) > -1)[0]"},
    {"uint64(18446744073709551615) == -1", "np.uint64(18446744073709551615) == -1"},
    {"uint16([0, 65535]) > int16(-1)", "np.array([0, 65535], dtype=np.uint16) > np.int16(-1)"},
    {"int64(-1) < uint64([0, 18446744073709551615])",
     "np.int64(-1) < np.array([0, 18446744073709551615], dtype=np.uint64)"},
    // 4. the smallest int64 literal
    {"-9223372036854775808", "np.int64(-9223372036854775808)"},
    {"typeof(-9223372036854775808)", "np.array(-9223372036854775808).dtype.name"},
    // 5. shapes must agree; a one-element array combines with anything
    {"make_array(\"int16\", 2, 3) + make_array(\"int16\", 3, 2)",
     "np.zeros((3, 2), np.int16) + np.zeros((2, 3), np.int16)"},
    {"[1] + [1, 2, 3]", "np.array([1]) + np.array([1, 2, 3])"},
    {"dims(make_array(\"int16\", 2, 3) + make_array(\"int16\", 2, 3, 1))",
     "list(reversed((np.zeros((3, 2)) + np.zeros((1, 3, 2))).shape))"},
    {"m > [1, 2, 3, 4, 5, 6]", "m > np.array([1, 2, 3, 4, 5, 6])"},
    // 6. NaN in min and max wherever it is
    {"min([nan, 1.0, 2.0])", "np.min(np.array([nan, 1.0, 2.0]))"},
    {"min([1.0, nan, 2.0])", "np.min(np.array([1.0, nan, 2.0]))"},
    {"max(float32([1.0, 2.0, nan]))", "np.max(np.array([1.0, 2.0, nan], dtype=np.float32))"},
    {"min([3.0, 1.0, 2.0])", "np.min(np.array([3.0, 1.0, 2.0]))"},
    // 7. format: any width, uint64 as it is
    {"strlen(format(\"%600d\", 1))", "len('%600d' % 1)"},
    {"strlen(format(\"%512s|\", \"a\"))", "len('%512s|' % 'a')"},
    {"format(\"%d %u %x\", uint64(18446744073709551615), uint64(18446744073709551615), uint64(18446744073709551615))",
     "'%d %u %x' % (18446744073709551615, 18446744073709551615, 18446744073709551615)"},
    // 8. text and numbers do not add
    {"uint16([100, 200]) + \"-1024\"", "np.array([100, 200], dtype=np.uint16) + '-1024'"},
    {"\"n=\" + 3", "'n=' + 3"},
    {"\"n=\" + string(3)", "'n=' + str(3)"},
    {"uint16([100, 200]) + float64(\"-1024\")", "np.array([100, 200], dtype=np.uint16) + float('-1024')"},
    // 11. indexes are integers in range
    {"a[[1.9, 2.1]]", "a[np.array([1.9, 2.1])]"},
    {"a[uint64(18446744073709551615)]", "a[np.uint64(18446744073709551615)]"},
    {"a[-1]", "a[-1]"},
    // 14. bitwise operators and shifts, with Python's precedence
    {"6 & 3", "np.int32(6) & np.int32(3)"},
    {"6 | 3 xor 5 & 4", "np.int32(6) | np.int32(3) ^ np.int32(5) & np.int32(4)"},
    {"uint16([32769, 1, 65535]) & 32768", "np.array([32769, 1, 65535], dtype=np.uint16) & np.int32(32768)"},
    {"uint16(32769) & 32768 == 32768", "np.uint16(32769) & np.int32(32768) == 32768"},
    {"~uint16([0, 1, 4096])", "~np.array([0, 1, 4096], dtype=np.uint16)"},
    {"~5", "~np.int32(5)"},
    {"1 << 3 + 1", "np.int32(1) << np.int32(3) + np.int32(1)"},
    {"int16(1) << int16(15)", "np.int16(1) << np.int16(15)"},
    {"uint32([1, 2]) << uint32([1, 40])", "np.array([1, 2], dtype=np.uint32) << np.array([1, 40], dtype=np.uint32)"},
    {"[-16, 16, 7] >> 2", "np.array([-16, 16, 7], dtype=np.int32) >> np.int32(2)"},
    {"int64(-5) >> 70", "np.int64(-5) >> np.int64(70)"},
    {"uint16([4660, 65535]) >> 12 & 15", "np.array([4660, 65535], dtype=np.uint16) >> np.int32(12) & np.int32(15)"},
    {"a[(a > 15) & (a < 45)]", "a[(a > 15) & (a < 45)]"},
    {"a[(a < 15) | (a > 45)]", "a[(a < 15) | (a > 45)]"},
    {"a[~(a > 25)]", "a[~(a > 25)]"},
    {"a[(a > 15) xor (a < 45)]", "a[(a > 15) ^ (a < 45)]"},
    {"1.5 & 1", "1.5 & 1"},
    {"[1, 2] | [1, 2, 3]", "np.array([1, 2]) | np.array([1, 2, 3])"},
    // 16. durations Python's sleep refuses
    {"wait(-1)", "__import__('time').sleep(-1)"},
    {"wait(1e300)", "__import__('time').sleep(1e300)"},
    {"wait(nan)", "__import__('time').sleep(nan)"},
    // 15. strings are bytes; UTF-8 counted in characters where asked
    {"strlen(\"M\u00fcller^J\u00f6rg\")", "len('M\u00fcller^J\u00f6rg'.encode())"},
    {"utf8_len(\"M\u00fcller^J\u00f6rg\")", "len('M\u00fcller^J\u00f6rg')"},
    {"utf8_len([\"\u00f6\", \"\u20ac1\", \"\U0001F600\"])", "[len(t) for t in ['\u00f6', '\u20ac1', '\U0001F600']]"},
    {"utf8_substr(\"M\u00fcller^J\u00f6rg\", 7, 4)", "'M\u00fcller^J\u00f6rg'[7:11]"},
    {"utf8_substr(\"M\u00fcller^J\u00f6rg\", -4)", "'M\u00fcller^J\u00f6rg'[-4:]"},
    {"utf8_substr(\"\u00e9t\u00e9\", 1, 100)", "'\u00e9t\u00e9'[1:101]"},
    {"to_bytes(\"J\u00f6\")", "list('J\u00f6'.encode())"},
    {"from_bytes([74, 195, 182])", "bytes([74, 195, 182]).decode()"},
    {"from_bytes(uint16([72, 105]))", "bytes(np.array([72, 105], dtype=np.uint16).tolist()).decode()"},
    {"utf8_len(from_bytes(byte([74, 195])))", "len(bytes([74, 195]).decode())"},
    {"utf8_len(from_bytes(byte([237, 160, 128])))", "len(bytes([237, 160, 128]).decode())"},
    {"utf8_len(from_bytes(byte([192, 175])))", "len(bytes([192, 175]).decode())"},
    // each bound of the lead bytes' table
    {"utf8_len(from_bytes(byte([224, 159, 128])))", "len(bytes([224, 159, 128]).decode())"},
    {"utf8_len(from_bytes(byte([224, 160, 128])))", "len(bytes([224, 160, 128]).decode())"},
    {"utf8_len(from_bytes(byte([225, 128, 128])))", "len(bytes([225, 128, 128]).decode())"},
    {"utf8_len(from_bytes(byte([237, 159, 191])))", "len(bytes([237, 159, 191]).decode())"},
    {"utf8_len(from_bytes(byte([239, 191, 191])))", "len(bytes([239, 191, 191]).decode())"},
    {"utf8_len(from_bytes(byte([240, 143, 191, 191])))", "len(bytes([240, 143, 191, 191]).decode())"},
    {"utf8_len(from_bytes(byte([240, 144, 128, 128])))", "len(bytes([240, 144, 128, 128]).decode())"},
    {"utf8_len(from_bytes(byte([244, 143, 191, 191])))", "len(bytes([244, 143, 191, 191]).decode())"},
    {"utf8_len(from_bytes(byte([244, 144, 128, 128])))", "len(bytes([244, 144, 128, 128]).decode())"},
    {"utf8_len(from_bytes(byte([245, 128, 128, 128])))", "len(bytes([245, 128, 128, 128]).decode())"},
    {"utf8_len(from_bytes(byte([193, 191])))", "len(bytes([193, 191]).decode())"},
    {"utf8_len(from_bytes(byte([194, 128])))", "len(bytes([194, 128]).decode())"},
    {"from_bytes([1, 256])", "bytes([1, 256]).decode()"},
};

std::vector<std::string> pythonLines(const std::string& program) {
  const std::string path = writeScratchFile("numpy_cases.py", program);
  std::unique_ptr<FILE, int (*)(FILE*)> pipe(
      popen(("PYTHONIOENCODING=utf-8 /usr/bin/python3 " + path + " 2>&1").c_str(), "r"), pclose);
  std::string out;
  char buffer[4096];
  for (size_t n; pipe && (n = std::fread(buffer, 1, sizeof buffer, pipe.get())) > 0;) out.append(buffer, n);
  return lines(out);
}

bool haveNumpy() { return std::system("/usr/bin/python3 -c 'import numpy' >/dev/null 2>&1") == 0; }

// An error on either side is compared as the word "error".
std::string outcome(const std::string& line) { return line.rfind("error", 0) == 0 ? "error" : line; }

TEST(Numpy, ValuesAgreeOrBothRefuse) {
  if (!haveNumpy()) GTEST_SKIP() << "python3 with numpy is not installed";
  std::string zyl = kZylSetup, python = kPythonSetup;
  for (const Agreement& c : kAgreements) {
    zyl += std::string("try { print(") + c.zyl + ") } catch e { print(\"error: \" + e) }\n";
    python += std::string("run(lambda: ") + c.python + ")\n";
  }
  RunResult result = runZyl({writeScratchFile("numpy_cases.zyl", zyl)});
  ASSERT_EQ(result.status, 0) << result.err;
  const std::vector<std::string> ours = lines(result.out);
  const std::vector<std::string> theirs = pythonLines(python);
  ASSERT_EQ(ours.size(), std::size(kAgreements)) << result.out;
  ASSERT_EQ(theirs.size(), std::size(kAgreements)) << python;
  for (size_t i = 0; i < std::size(kAgreements); ++i)
    EXPECT_EQ(outcome(ours[i]), outcome(theirs[i]))
        << kAgreements[i].zyl << "\n  zyl:   " << ours[i] << "\n  numpy: " << theirs[i];
}

// Arrays over the print limit print their type and dimensions, then rows
// laid out as numpy's array2string lays them out (separator ", ", three
// values at each end of a longer dimension); !print_limit = 0 prints them
// whole. Each zyl case is [dims] of C order reversed, as numpy's shape.
TEST(Numpy, LargeArraysPrintAsNumpyLaysThemOut) {
  if (!haveNumpy()) GTEST_SKIP() << "python3 with numpy is not installed";
  struct Preview {
    const char* zyl;
    const char* header;
    const char* python;
  };
  const Preview cases[] = {
      {"reshape(range(600), 30, 20)", "int32[30, 20]", "np.arange(600, dtype=np.int32).reshape(20, 30)"},
      {"range(100)", "int32[100] ", "np.arange(100)"},
      {"reshape(range(24), 4, 3, 2)", "int32[4, 3, 2]", "np.arange(24).reshape(2, 3, 4)"},
      {"reshape(range(280), 8, 7, 5)", "int32[8, 7, 5]", "np.arange(280).reshape(5, 7, 8)"},
      {"reshape(range(21), 7, 3)", "int32[7, 3]", "np.arange(21).reshape(3, 7)"},
      {"reshape(range(0.0, 30.0, 0.5), 10, 6)", "float64[10, 6]", "np.arange(0.0, 30.0, 0.5).reshape(6, 10)"},
      {"reshape(range(30), 1, 30)", "int32[1, 30]", "np.arange(30).reshape(30, 1)"},
      {"split(join(string(range(40)), \" \"))", "string[40] ", "np.array([str(i) for i in range(40)])"},
  };
  std::string zyl, python = "import sys\nimport numpy as np\n";
  for (const bool whole : {false, true}) {
    if (whole) zyl += "!print_limit = 0\n";
    for (const Preview& c : cases) {
      zyl += std::string("print(") + c.zyl + ")\nprint(\"--\")\n";
      python += std::string("print(np.array2string(") + c.python +
                ", separator=', ', edgeitems=3, max_line_width=sys.maxsize, " +
                "threshold=" + (whole ? "sys.maxsize" : "20") +
                ", formatter={'all': lambda v: '\"' + v + '\"' if isinstance(v, str) else str(v)}))\nprint('--')\n";
    }
  }
  RunResult result = runZyl({writeScratchFile("previews.zyl", zyl)});
  ASSERT_EQ(result.status, 0) << result.err;
  const std::vector<std::string> theirs = pythonLines(python);
  std::vector<std::string> ours = lines(result.out);
  // Take the header off each of ours: alone on its line, or before a row.
  size_t at = 0;
  for (size_t i = 0; i < 2 * std::size(cases); ++i) {
    const std::string header = cases[i % std::size(cases)].header;
    ASSERT_LT(at, ours.size());
    ASSERT_EQ(ours[at].rfind(header, 0), 0u) << ours[at];
    if (ours[at] == header)
      ours.erase(ours.begin() + static_cast<std::ptrdiff_t>(at));
    else
      ours[at] = ours[at].substr(header.size());
    while (at < ours.size() && ours[at] != "--") ++at;
    ++at;
  }
  EXPECT_EQ(ours, theirs);
}

// Where Python has an answer the language will not give silently.
TEST(Numpy, RefusesWhatWouldDifferSilently) {
  struct Refusal {
    const char* code;
    const char* message;  // the first line of standard error
  };
  const Refusal cases[] = {
      {"x = 3 > 2 > 1", "-e:1: comparisons cannot be chained (a < b < c): write (a < b) and (b < c)"},
      {"x = 1 < 3 < 2", "-e:1: comparisons cannot be chained (a < b < c): write (a < b) and (b < c)"},
      {"p = {age: 4}\np.age = 4.5",
       "-e:2: field AGE holds int32: 4.5 would become 4 (convert it explicitly, or give the field that type when "
       "making "
       "the structure)"},
      {"p = {n: byte(1)}\np.n = 300",
       "-e:2: field N holds byte: 300 would become 44 (convert it explicitly, or give the field that type when making "
       "the structure)"},
      {"p = {n: uint16(1)}\np.n = -1",
       "-e:2: field N holds uint16: -1 would become 65535 (convert it explicitly, or give the field that type when "
       "making the structure)"},
      {"p = {name: \"x\"}\np.name = 5", "-e:2: field NAME holds strings, got int32"},
      {"p = {age: 4}\np.age = \"5\"", "-e:2: field AGE holds int32, got string"},
      {"print(mean([1, 2]))\nfunc MEAN(a) { return 0 }",
       "-e:2: function MEAN has the name of a built-in function (choose another name)"},
      {"x = -18446744073709551615",
       "-e:1: integer -18446744073709551615 is too small (int64 ends at -9223372036854775808)"},
      {"x = format(\"%q x\", 1)",
       "-e:1: format: unknown directive '%q' in \"%q x\" (expected d i u x X o f e g s c %)"},
      // numpy wraps a uint64 index array to -1, the last element.
      {"a = [1, 2]\nx = a[[0, uint64(18446744073709551615)]]", "-e:2: index 18446744073709551615 is out of range"},
      {"x = format(\"%x\", -1)", "-e:1: format: %x needs a value that is not negative, got -1"},  // C and Python differ
      {"x = format(\"%1000000d\", 1)", "-e:1: format: width 1000000 in \"%1000000d\" is too large (at most 100000)"},
      // numpy gives 0 for a negative count; Python refuses it.
      {"x = 1 << -1", "-e:1: shift counts must not be negative"},
      {"x = 2 ** 8", "-e:1: '**' is not an operator: use ^ for powers (2 ^ 8)"},
      {"x = 7 // 2", "-e:1: '//' is not an operator: use / (between integers it truncates toward zero)"},
      {"wait(1e300)", "-e:1: wait: the duration must be 0 to 86400 seconds, got 1e+300 (wait in a loop for longer)"},
      {"x = ~2.5", "-e:1: '~' needs integers, got float64 (use 'not' for a condition)"},
      {"m = reshape(range(6), 3, 2)\nx = m[[1, 0, 1] > 0]",
       "-e:2: a mask of shape [3] cannot select from an array of shape [3, 2] (expected the same shape)"},
  };
  for (const Refusal& c : cases) {
    RunResult result = runZyl({"-e", c.code});
    EXPECT_EQ(result.status, 1) << c.code;
    EXPECT_EQ(result.out, "") << c.code;
    EXPECT_EQ(lines(result.err).empty() ? "" : lines(result.err)[0], c.message) << c.code;
  }
  // Lossless assignments to fields still convert.
  RunResult result = runZyl({"-e", "p = {age: 4, w: float32(1)}\np.age = 5.0\np.w = 0.5\np.age = uint64(7)\nprint(p)"});
  EXPECT_EQ(result.out, "{AGE: 7, W: 0.5}\n") << result.err;
}

}  // namespace
}  // namespace zyl::lang::test

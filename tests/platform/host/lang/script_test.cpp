// Scripts run through the zyl program: the annotated scripts in scripts/,
// errors with file:line:, the ways of starting zyl, and the files it writes.
#include <gtest/gtest.h>
#include <png.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <regex>
#include <sstream>

#include "run_support.h"

namespace zyl::lang::test {
namespace {

namespace fs = std::filesystem;

// ---------------------------------------------------------------- annotated scripts

// "# expect: text" is a line of standard output, "# expect-match: regex" one
// matching line, "# expect-error: text" a line of standard error, and
// "# expect-exit: n" the exit status (0 when absent). $SCRIPT in an
// expected error line stands for the script's path.
struct Expectations {
  std::vector<std::string> out;
  std::vector<bool> isPattern;
  std::vector<std::string> err;
  int status = 0;
};

Expectations readExpectations(const std::string& path) {
  std::ifstream in(path);
  Expectations e;
  for (std::string line; std::getline(in, line);) {
    auto value = [&](const std::string& marker) -> std::optional<std::string> {
      size_t at = line.find(marker);
      if (at == std::string::npos) return std::nullopt;
      return line.substr(at + marker.size());
    };
    if (auto v = value("# expect: ")) {
      e.out.push_back(*v);
      e.isPattern.push_back(false);
    } else if (auto v = value("# expect-match: ")) {
      e.out.push_back(*v);
      e.isPattern.push_back(true);
    } else if (auto v = value("# expect-error: ")) {
      for (size_t at; (at = v->find("$SCRIPT")) != std::string::npos;) v->replace(at, 7, path);
      e.err.push_back(*v);
    } else if (auto v = value("# expect-exit: ")) {
      e.status = std::stoi(*v);
    }
  }
  return e;
}

std::vector<std::string> scriptNames() {
  std::vector<std::string> names;
  for (const auto& entry : fs::directory_iterator(ZYL_LANG_SCRIPTS))
    if (entry.path().extension() == ".zyl") names.push_back(entry.path().stem().string());
  std::sort(names.begin(), names.end());
  return names;
}

class Script : public ::testing::TestWithParam<std::string> {};

TEST_P(Script, PrintsWhatItsAnnotationsSay) {
  const std::string path = std::string(ZYL_LANG_SCRIPTS) + "/" + GetParam() + ".zyl";
  const Expectations expected = readExpectations(path);
  ASSERT_FALSE(expected.out.empty()) << path << " has no expectations";
  RunResult result = runZyl({path});
  EXPECT_EQ(result.status, expected.status) << result.err;
  std::vector<std::string> out = lines(result.out);
  for (size_t i = 0; i < std::max(out.size(), expected.out.size()); ++i) {
    const std::string got = i < out.size() ? out[i] : "<missing>";
    const std::string want = i < expected.out.size() ? expected.out[i] : "<nothing more>";
    if (i < expected.out.size() && expected.isPattern[i]) {
      EXPECT_TRUE(std::regex_match(got, std::regex(want))) << "line " << i + 1 << ": " << got << "\n  !~ " << want;
    } else {
      EXPECT_EQ(got, want) << "output line " << i + 1 << " of " << GetParam();
    }
  }
  EXPECT_EQ(lines(result.err), expected.err) << "standard error of " << GetParam();
}

INSTANTIATE_TEST_SUITE_P(Scripts, Script, ::testing::ValuesIn(scriptNames()),
                         [](const auto& info) { return info.param; });

// ---------------------------------------------------------------- errors

struct ErrorCase {
  const char* code;
  const char* message;  // the whole first line of standard error
};

TEST(ScriptErrors, NameFileAndLineAndSayWhatWasExpected) {
  const ErrorCase cases[] = {
      {"x = 1\ny = z + 1", "-e:2: undefined variable 'z'"},
      {"x = (1 + 2", "-e:1: expected ')' to close '(', found end of input"},
      {"print(1)\nif x { print(2) }}", "-e:2: unexpected '}' (no block is open)"},
      {"a = 1 +", "-e:1: expected an expression, found end of input"},
      {"s = \"abc", "-e:1: unterminated string"},
      {"x = 3 @ 4", "-e:1: unexpected character '@'"},
      {"\n\nx = \"a\" - 1",
       "-e:3: cannot apply '-' to string and int32 (expected numbers, or strings for + and comparisons)"},
      {"a = [1, 2, 3]\nb = a[3]", "-e:2: index 3 is out of range (expected -3 .. 2)"},
      {"a = [1, 2, 3]\nb = a[-4]", "-e:2: index -4 is out of range (expected -3 .. 2)"},
      {"a = [1, 2, 3]\nb = a[1:4]", "-e:2: range 1:4 is outside dimension 1 (0..3)"},
      {"m = make_array(\"byte\", 2, 3)\nv = m[0:2, 2:4]", "-e:2: range 2:4 is outside dimension 2 (0..3)"},
      {"m = make_array(\"byte\", 2, 2)\nm[0, 2] = 1",
       "-e:2: index 2 of dimension 2 is out of range (expected -2 .. 1)"},
      {"m = make_array(\"byte\", 2, 2)\nv = m[0, 0, 0]",
       "-e:2: array has 2 dimensions, got 3 subscripts (expected one per dimension, or one linear index)"},
      {"print(strlen(1, 2))", "-e:1: wrong number of arguments to strlen (got 2; usage: strlen(text))"},
      {"func f(a) { return a }\nf(1, 2)", "-e:2: function f takes at most 1 argument, got 2"},
      {"print(nosuchfunction(1))", "-e:1: unknown function 'nosuchfunction'"},
      {"x = 5\nx.Method()", "-e:2: cannot call method Method on 'x': it is int32, not an object"},
      {"o = new NoSuchClass()", "-e:1: unknown class 'NoSuchClass' (no loaded module registered it)"},
      {"r = {a: 1}\nv = r.b", "-e:2: the structure has no field B (fields: A)"},
      {"x = [1, 2] + [1, 2, 3]", "-e:1: arrays differ in size (2 and 3 elements) for '+'"},
      {"x = 1 / 0", "-e:1: integer division by zero"},
      {"if [1, 2] { }", "-e:1: a condition must be a single value, got int32 array of 2 elements"},
      {"x = int32(\"12abc\")", "-e:1: cannot convert string \"12abc\" to int32"},
      {"!nosuch = 1", "-e:1: unknown system variable !NOSUCH (known: !quiet, !print_limit, !pi, !version, !dir)"},
      {"break", "-e:1: 'break' outside a loop"},
      {"func f() {\n  y = 1\n  return q\n}\nf()", "-e:3: undefined variable 'q'"},
      {"x = \"a\" \\q", "-e:1: unexpected character '\\'"},
      {"x = reshape([1], 1, 1, 1, 1, 1, 1, 1, 1, 1)", "-e:1: reshape: arrays have 1 to 8 dimensions, got 9"},
      {"x = make_array(\"byte\", 1, 1, 1, 1, 1, 1, 1, 1, 1)", "-e:1: make_array: arrays have 1 to 8 dimensions, got 9"},
      {"x = caf\xc3\xa9", "-e:1: unexpected byte '\\xc3' (names and operators are ASCII: put other text in quotes)"},
      {"x = 1 \x01", "-e:1: unexpected byte '\\x01'"},
      {"x = 1\n\xef\xbb\xbfy = 2",
       "-e:2: unexpected byte '\\xef' (names and operators are ASCII: put other text in quotes)"},
  };
  for (const ErrorCase& c : cases) {
    RunResult result = runZyl({"-e", c.code});
    EXPECT_EQ(result.status, 1) << c.code;
    EXPECT_EQ(lines(result.err).empty() ? "" : lines(result.err)[0], c.message) << c.code;
  }
}

TEST(ScriptErrors, ReportTheScriptFileAndStopThere) {
  const std::string path =
      writeScratchFile("stops.zyl", "print(\"before\")\n\nprint(undefined_name)\nprint(\"after\")\n");
  RunResult result = runZyl({path});
  EXPECT_EQ(result.status, 1);
  EXPECT_EQ(result.out, "before\n");
  EXPECT_EQ(result.err, path + ":3: print: undefined variable 'undefined_name'\n");
}

TEST(ScriptErrors, RoutineErrorsKeepTheHostMessageThenNameTheScriptLine) {
  RunResult result = runZyl({"-e", "load_module(getenv(\"ZYL_TESTMOD\"))\nt = new ZYLTEST(\"a\")\nt.DOUBLE(1, 2)"});
  EXPECT_EQ(result.status, 1);
  EXPECT_EQ(result.err, "Incorrect number of arguments in call to: ZYLTEST::DOUBLE (3 given, 2 expected)\n  at -e:3\n");
  result = runZyl(
      {"-e", "load_module(getenv(\"ZYL_TESTMOD\"))\nt = new ZYLTEST(\"a\")\nif 1 {\n  v = t.DOUBLE(1, BOGUS=1)\n}"});
  EXPECT_EQ(result.status, 1);
  EXPECT_EQ(result.err, "Keyword BOGUS not allowed in call to: ZYLTEST::DOUBLE\n  at -e:4\n");
}

// As Python's traceback: the error's line, then each call it passed through,
// innermost first; recursion is shown once with its count; a callback's
// error names its line, then the chain goes on from the routine's caller.
TEST(ScriptErrors, NameTheCallsTheyCameThrough) {
  RunResult result = runZyl(
      {"-e", "func inner(a) {\n  return a[5]\n}\nfunc outer(b) {\n  return inner(b)\n}\nx = 1\nprint(outer([1, 2]))"});
  EXPECT_EQ(result.status, 1);
  EXPECT_EQ(
      result.err,
      "-e:2: index 5 is out of range (expected -2 .. 1)\n  in inner(), called at -e:5\n  in outer(), called at -e:8\n");
  // Endless recursion ends in an error: the call limit (2000), or, where a
  // sanitizer's larger frames fill the stack first, the stack's backstop.
  result = runZyl({"-e", "func down(n) {\n  return down(n + 1)\n}\ndown(0)"});
  EXPECT_EQ(result.status, 1);
  EXPECT_TRUE(result.err.rfind("-e:2: too many nested function calls (more than 2000)\n", 0) == 0 ||
              result.err.rfind("-e:2: nesting too deep: the interpreter's stack is nearly used up", 0) == 0)
      << result.err;
  // (Deep enough to show the count, shallow enough for any build's stack.)
  result = runZyl({"-e", "func down(n) {\n  if n == 100 { return [1][5] }\n  return down(n + 1)\n}\ndown(0)"});
  EXPECT_EQ(result.err,
            "-e:2: index 5 is out of range (expected -1 .. 0)\n  in down(), called at -e:3\n"
            "  ... the call above 99 more times\n  in down(), called at -e:5\n");
  result = runZyl({"-e",
                   "load_module(getenv(\"ZYL_TESTMOD\"))\nfunc cb(m, d) {\n  return nothing\n}\n"
                   "func go(o) {\n  o.CALLBACK(\"cb\", \"m\", DATA=[1])\n}\ngo(new ZYLTEST(\"a\"))"});
  EXPECT_EQ(result.err, "-e:3: undefined variable 'nothing'\n  at -e:6\n  in go(), called at -e:8\n");
  // A caught error leaves no chain behind for the next one.
  result = runZyl({"-e", "func f() {\n  return 1 / 0\n}\ntry { f() } catch e { }\nx = [1][3]"});
  EXPECT_EQ(result.err, "-e:5: index 3 is out of range (expected -1 .. 0)\n");
}

TEST(Program, HelpDescribesABuiltInFunction) {
  RunResult result = runZyl({"-e", "help(mean)\nhelp(\"strlen\")"});
  EXPECT_EQ(result.status, 0) << result.err;
  EXPECT_EQ(result.out,
            "built-in function mean(array)\n  the mean of the elements, as float64\n"
            "built-in function strlen(text)\n  the length of the text in bytes\n");
  result = runZyl({"-e", "help(nosuch)"});
  EXPECT_EQ(result.err, "-e:1: help: no class or built-in function named NOSUCH\n");
}

// ---------------------------------------------------------------- starting zyl

TEST(Program, PassesScriptArgumentsAndExitStatus) {
  const std::string path =
      writeScratchFile("args.zyl", "print(len(args), args)\nexit(int32(args[1]))\nprint(\"no\")\n");
  RunResult result = runZyl({path, "first arg", "3"});
  EXPECT_EQ(result.out, "2 [\"first arg\", \"3\"]\n");
  EXPECT_EQ(result.status, 3);
  result = runZyl({"-e", "print(args)", "x"});
  EXPECT_EQ(result.out, "[\"x\"]\n");
  EXPECT_EQ(result.status, 0);
}

// Python reads a source file that starts with a UTF-8 byte order mark as if
// it were not there; so does zyl.
TEST(Program, ReadsAScriptThatStartsWithAByteOrderMark) {
  const std::string code = "\xef\xbb\xbfprint(\"Gr\xc3\xbc\xc3\x9f\" + \"e\", 1 + 1)\n";
  RunResult result = runZyl({writeScratchFile("bom.zyl", code)});
  EXPECT_EQ(result.status, 0) << result.err;
  const std::string python = "/usr/bin/python3 " + writeScratchFile("bom.py", code) + " > " + scratchDir() + "/bom.txt";
  ASSERT_EQ(std::system(python.c_str()), 0);
  std::ifstream expected(scratchDir() + "/bom.txt", std::ios::binary);
  EXPECT_EQ(result.out, std::string(std::istreambuf_iterator<char>(expected), std::istreambuf_iterator<char>()));
}

TEST(Program, ReportsAMissingScriptOrModule) {
  RunResult result = runZyl({scratchDir() + "/no_such_script.zyl"});
  EXPECT_EQ(result.status, 2);
  // A directory or an unknown option is a usage error (status 2, as Python
  // gives for an unknown option), with the usage text.
  const std::string usageText = "usage: zyl [--no-modules] script.zyl";
  for (const auto& [argument, message] :
       {std::pair<std::string, std::string>{scratchDir(),
                                            "zyl: " + scratchDir() + " is a directory (expected a script file)"},
        {"--bogus", "zyl: unknown option --bogus"},
        {"-x", "zyl: unknown option -x"}}) {
    result = runZyl({argument});
    EXPECT_EQ(result.status, 2) << argument;
    EXPECT_EQ(result.out, "") << argument;
    ASSERT_FALSE(lines(result.err).empty()) << argument;
    EXPECT_EQ(lines(result.err)[0], message);
    EXPECT_NE(result.err.find(usageText), std::string::npos) << result.err;
  }
  EXPECT_EQ(std::system("/usr/bin/python3 --bogus >/dev/null 2>&1"), 2 << 8);
  result = runZyl({"-e", "print(load_module(\"/no/such/module.so\"))\nprint(\"goes on\")"}, true);
  EXPECT_EQ(result.status, 0);
  std::vector<std::string> out = lines(result.out);
  ASSERT_EQ(out.size(), 3u) << result.out;
  EXPECT_EQ(out[0].rfind("zyl: module /no/such/module.so not loaded: ", 0), 0u) << out[0];
  EXPECT_EQ(out[1], "0");
  EXPECT_EQ(out[2], "goes on");
}

TEST(Program, LoadsTheModulesOfTheProgramDirectoryAtStartUp) {
  // A private copy of the program directory: zyl, the host library and two
  // modules, one of which refuses to load.
  const fs::path programDir = fs::path(scratchDir()) / "install" / "bin" / "bin.x86_64";
  fs::create_directories(programDir);
  const auto overwrite = fs::copy_options::overwrite_existing;
  fs::copy_file(ZYL_PROGRAM, programDir / "zyl", overwrite);
  fs::copy_file(ZYL_HOST_LIBRARY, programDir / fs::path(ZYL_HOST_LIBRARY).filename(), overwrite);
  fs::copy_file(ZYL_TESTMOD_PATH, programDir / "zyltestmod.so", overwrite);
  fs::copy_file(ZYL_FAILMOD_PATH, programDir / "zylfailmod.so", overwrite);
  RunResult result = runZyl({"-e", "print(ZYLTEST.SQUARE(5))"}, true, (programDir / "zyl").string());
  EXPECT_EQ(result.status, 0);
  std::vector<std::string> out = lines(result.out);
  ASSERT_EQ(out.size(), 2u) << result.out;
  EXPECT_EQ(out[0].rfind("zyl: ", 0), 0u) << out[0];
  EXPECT_NE(out[0].find("zylfailmod.so"), std::string::npos) << out[0];
  EXPECT_EQ(out[1], "25");
  result = runZyl({"--no-modules", "-e", "print(ZYLTEST.SQUARE(5))"}, true, (programDir / "zyl").string());
  EXPECT_EQ(result.status, 1);
  EXPECT_EQ(result.out, "-e:1: undefined variable 'ZYLTEST' (and no class of that name)\n");
}

TEST(Program, RunsTheExamplesToTheirEnd) {
  int count = 0;
  for (const auto& entry : fs::directory_iterator(ZYL_EXAMPLES_DIR)) {
    if (entry.path().extension() != ".zyl") continue;
    // Examples that need the DICOM module run only where it is installed.
    std::ifstream in(entry.path());
    std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    if (text.find("ZYLffOrvo") != std::string::npos) continue;
    ++count;
    RunResult result = runZyl({entry.path().string(), scratchDir()});
    EXPECT_EQ(result.status, 0) << entry.path() << "\n" << result.err;
    EXPECT_EQ(result.err, "") << entry.path();
  }
  EXPECT_GE(count, 3);
}

// What docs/language.md says of images read by the DICOM module, checked
// against pydicom where the module is built beside zyl.
TEST(Program, PixelRowsAndFailedConstructorsAreAsDocumented) {
  const fs::path module = fs::path(ZYL_PROGRAM).parent_path() / "zyl_orvo.so";
  const std::string sample = "/usr/lib/python3/dist-packages/pydicom/data/test_files/CT_small.dcm";
  if (!fs::exists(module) || !fs::exists(sample)) GTEST_SKIP() << "needs the DICOM module and pydicom's samples";
  const std::string script = "f = new ZYLffOrvo(\"" + sample +
                             "\")\n"
                             "px = f.GetPixelData()\n"
                             "top = f.GetPixelData(ORDER=1)\n"
                             "print(dims(px), px[0, 0], px[5, 0], px[0, -1], top[0, 0], top[5, 0], top[0, -1])\n"
                             "try {\n  g = new ZYLffOrvo(\"" +
                             scratchDir() +
                             "/missing.dcm\")\n  print(\"opened\")\n} catch e {\n  print(\"caught\")\n}\n";
  RunResult result = runZyl({"-e", script}, false, ZYL_PROGRAM);
  ASSERT_EQ(result.status, 0) << result.err;
  const std::string python =
      "/usr/bin/python3 -c \"import pydicom; a = pydicom.dcmread('" + sample +
      "').pixel_array; print([a.shape[1], a.shape[0]], a[-1, 0], a[-1, 5], a[0, 0], a[0, 0], a[0, 5], a[-1, 0])\" > " +
      scratchDir() + "/rows.txt 2>&1";
  if (std::system(python.c_str()) != 0) GTEST_SKIP() << "pydicom is not installed";
  std::ifstream expected(scratchDir() + "/rows.txt");
  std::string pydicomLine;
  std::getline(expected, pydicomLine);
  EXPECT_EQ(lines(result.out), (std::vector<std::string>{pydicomLine, "caught"}));
}

// ---------------------------------------------------------------- files

TEST(Files, WriteRawWritesTheBytesAsInMemory) {
  const std::string path = scratchDir() + "/px.raw";
  RunResult result = runZyl({"-e", "a = uint16([1, 258, 65535])\nwrite_raw(\"" + path + "\", a)"});
  ASSERT_EQ(result.status, 0) << result.err;
  std::ifstream in(path, std::ios::binary);
  std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  EXPECT_EQ(bytes, std::string("\x01\x00\x02\x01\xff\xff", 6));
  result = runZyl({"-e", "write_raw(\"/no/such/dir/x.raw\", [1])"});
  EXPECT_EQ(result.status, 1);
  EXPECT_NE(result.err.find("-e:1: cannot write /no/such/dir/x.raw"), std::string::npos) << result.err;
}

struct Png {
  png_uint_32 width = 0, height = 0;
  int bitDepth = 0, colorType = 0;
  std::vector<std::vector<png_byte>> rows;
};

// libpng reports errors by longjmp: nothing with a destructor lives here
// across setjmp except what the caller owns.
bool readPngInto(FILE* file, Png& image) {
  png_structp png = png_create_read_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
  png_infop info = png_create_info_struct(png);
  if (setjmp(png_jmpbuf(png))) {
    png_destroy_read_struct(&png, &info, nullptr);
    return false;
  }
  png_init_io(png, file);
  png_read_png(png, info, PNG_TRANSFORM_IDENTITY, nullptr);
  image.width = png_get_image_width(png, info);
  image.height = png_get_image_height(png, info);
  image.bitDepth = png_get_bit_depth(png, info);
  image.colorType = png_get_color_type(png, info);
  png_bytepp rows = png_get_rows(png, info);
  const size_t rowBytes = png_get_rowbytes(png, info);
  for (png_uint_32 y = 0; y < image.height; ++y) image.rows.emplace_back(rows[y], rows[y] + rowBytes);
  png_destroy_read_struct(&png, &info, nullptr);
  return true;
}

Png readPng(const std::string& path) {
  Png image;
  FILE* file = std::fopen(path.c_str(), "rb");
  if (file == nullptr) return image;
  bool ok = readPngInto(file, image);
  std::fclose(file);
  EXPECT_TRUE(ok) << path;
  return image;
}

TEST(Files, WritePngScalesSixteenBitImagesToTheirRange) {
  const std::string path = scratchDir() + "/grey16.png";
  // 3 x 2, values 100 .. 600: the minimum becomes 0 and the maximum 65535.
  RunResult result =
      runZyl({"-e", "im = uint16(reshape(range(6), 3, 2) * 100 + 100)\nwrite_png(\"" + path + "\", im)"});
  ASSERT_EQ(result.status, 0) << result.err;
  Png png = readPng(path);
  ASSERT_EQ(png.width, 3u);
  ASSERT_EQ(png.height, 2u);
  EXPECT_EQ(png.bitDepth, 16);
  EXPECT_EQ(png.colorType, PNG_COLOR_TYPE_GRAY);
  auto sample = [&](int x, int y) { return png.rows[y][2 * x] << 8 | png.rows[y][2 * x + 1]; };
  EXPECT_EQ(sample(0, 0), 0);
  EXPECT_EQ(sample(1, 0), 13107);  // 100 of 500 above the minimum
  EXPECT_EQ(sample(2, 1), 65535);
}

TEST(Files, WritePngKeepsEightBitGreyAndRgb) {
  const std::string grey = scratchDir() + "/grey8.png";
  const std::string rgb = scratchDir() + "/rgb.png";
  RunResult result = runZyl({"-e", "write_png(\"" + grey + "\", reshape(byte([0, 7, 200, 255]), 2, 2))\n" +
                                       "write_png(\"" + rgb + "\", reshape(byte(range(12)), 3, 2, 2))"});
  ASSERT_EQ(result.status, 0) << result.err;
  Png g = readPng(grey);
  EXPECT_EQ(g.bitDepth, 8);
  ASSERT_EQ(g.rows.size(), 2u);
  EXPECT_EQ(g.rows[1][0], 200);
  EXPECT_EQ(g.rows[0][1], 7);
  Png c = readPng(rgb);
  EXPECT_EQ(c.colorType, PNG_COLOR_TYPE_RGB);
  EXPECT_EQ(c.width, 2u);
  ASSERT_EQ(c.rows.size(), 2u);
  EXPECT_EQ(c.rows[1][5], 11);  // last sample of the last pixel
  result = runZyl({"-e", "write_png(\"" + grey + "\", [1, 2, 3])"});
  EXPECT_EQ(result.status, 1);
}

}  // namespace
}  // namespace zyl::lang::test

// Open a file and read ten attributes: the ZYLffOrvo object through the
// host's C++ API and through a zyl script, against DCMTK alone
// (loadFile + findAndGet), in the same run over the same files.
//
//   <build>/bench/fileobject_bench [rounds] [files] [folder]
//
// The files are the pydicom test files that hold all ten attributes (or the
// .dcm files of `folder`), repeated up to `files` (default 300). Every round times each path over all files;
// the median round is reported, per file. The script path runs one zyl
// process per round that goes over the files ten times; its start-up
// (the same process reading no file) is subtracted.
#include <dcmtk/config/osconfig.h>
#include <dcmtk/dcmdata/dctk.h>
#include <dcmtk/oflog/oflog.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

#include "zyl/runtime.h"

namespace fs = std::filesystem;

namespace {

const char* const kTags[] = {"0010,0010", "0010,0020", "0020,000D", "0020,000E", "0008,0018",
                             "0008,0060", "0028,0010", "0028,0011", "0028,0100", "0020,0013"};

using Clock = std::chrono::steady_clock;

// Each zyl process goes over the files this many times, so that its start-up
// (timed apart and subtracted) is small against the reads.
constexpr int kScriptRepeats = 10;

double seconds(Clock::time_point since) { return std::chrono::duration<double>(Clock::now() - since).count(); }

double median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  return v.empty() ? 0 : v[v.size() / 2];
}

// DCMTK alone; the number of attributes found.
int dcmtkRead(const std::string& path) {
  DcmFileFormat format;
  if (format.loadFile(path.c_str()).bad()) return -1;
  DcmDataset& d = *format.getDataset();
  int found = 0;
  OFString text;
  const DcmTagKey strings[] = {DCM_PatientName,       DCM_PatientID,      DCM_StudyInstanceUID,
                               DCM_SeriesInstanceUID, DCM_SOPInstanceUID, DCM_Modality};
  for (const DcmTagKey& key : strings) found += d.findAndGetOFString(key, text).good() && !text.empty();
  Uint16 number = 0;
  found += d.findAndGetUint16(DCM_Rows, number).good();
  found += d.findAndGetUint16(DCM_Columns, number).good();
  found += d.findAndGetUint16(DCM_BitsAllocated, number).good();
  Sint32 instance = 0;
  found += d.findAndGetSint32(DCM_InstanceNumber, instance).good();
  return found;
}

zyl::Runtime& rt() { return zyl::Runtime::instance(); }

// The object through the host's API; the number of attributes read.
int objectRead(const std::string& path, bool noPixelData) {
  zyl::Variable name = zyl::Variable::ofString(path);
  zyl::Variable flag = zyl::Variable::ofInt32(1);
  std::vector<zyl::KeywordArg> keywords;
  if (noPixelData) keywords.push_back({"NO_PIXEL_DATA", &flag});
  int found = 0;
  zyl::Variable object;
  try {
    object = rt().newObject("ZYLFFORVO", {&name}, keywords);
    for (const char* tag : kTags) {
      zyl::Variable t = zyl::Variable::ofString(tag);
      const zyl::Variable value = rt().callMethod(object, "GetValue", {&t}, {});
      found += value.type() != zyl::Type::Undefined;
    }
  } catch (const zyl::HostError&) {
  }
  rt().destroyObject(object);
  return found;
}

constexpr const char* kScript = R"(# args: no_pixel_data repeats file...
nopix = int32(args[0])
n = 0
for r in range(int32(args[1])) {
for i in range(2, len(args)) {
  if nopix { f = new ZYLffOrvo(args[i], NO_PIXEL_DATA=1) } else { f = new ZYLffOrvo(args[i]) }
  a = f.GetValue("0010,0010"); b = f.GetValue("0010,0020"); c = f.GetValue("0020,000D")
  d = f.GetValue("0020,000E"); e = f.GetValue("0008,0018"); g = f.GetValue("0008,0060")
  h = f.GetValue("0028,0010"); k = f.GetValue("0028,0011"); l = f.GetValue("0028,0100")
  m = f.GetValue("0020,0013")
  destroy(f)
  n += 1
}
}
print(n)
)";

struct Script {
  fs::path file;
  fs::path user;
  // Runs the script `repeats` times over `files`; wall time in seconds, -1 on failure.
  double run(const std::vector<std::string>& files, int repeats, bool noPixelData) const {
    std::string command = "ZYL_USER_DIR='" + user.string() + "' '" + ZYL_PROGRAM + "' '" + file.string() + "' " +
                          (noPixelData ? "1 " : "0 ") + std::to_string(repeats);
    for (const std::string& f : files) command += " '" + f + "'";
    command += " 2>&1";
    const auto start = Clock::now();
    FILE* p = popen(command.c_str(), "r");
    if (p == nullptr) return -1;
    char buf[256];
    std::string out;
    size_t n = 0;
    while ((n = fread(buf, 1, sizeof buf, p)) > 0) out.append(buf, n);
    const int status = pclose(p);
    const double elapsed = seconds(start);
    if (status != 0 || std::atoi(out.c_str()) != repeats * static_cast<int>(files.size())) {
      std::fprintf(stderr, "script failed: %s\n", out.c_str());
      return -1;
    }
    return elapsed;
  }
};

}  // namespace

int main(int argc, char** argv) {
  const int rounds = argc > 1 ? std::atoi(argv[1]) : 7;
  const size_t wanted = argc > 2 ? static_cast<size_t>(std::atoi(argv[2])) : 300;
  OFLog::configure(OFLogger::FATAL_LOG_LEVEL);

  const fs::path work = fs::temp_directory_path() / ("zyl_fileobject_bench_" + std::to_string(getpid()));
  fs::create_directories(work);
  setenv("ZYL_DIR", ZYL_STAGE_DIR, 1);
  setenv("ZYL_USER_DIR", work.c_str(), 1);
  std::string error;
  if (!rt().loadModule(ZYL_ORVO_PATH, &error)) {
    std::fprintf(stderr, "module: %s\n", error.c_str());
    return 1;
  }
  rt().setQuiet(true);
  rt().setMessageSink([](const zyl::Message&) {});

  // The files all three paths read completely.
  std::vector<std::string> distinct;
  for (const auto& entry : fs::directory_iterator(argc > 3 ? argv[3] : ZYL_PYDICOM_FILES)) {
    const std::string path = entry.path().string();
    if (entry.path().extension() == ".dcm" && dcmtkRead(path) == 10 && objectRead(path, false) == 10 &&
        objectRead(path, true) == 10)
      distinct.push_back(path);
  }
  std::sort(distinct.begin(), distinct.end());
  if (distinct.empty()) return 1;
  std::vector<std::string> files;
  while (files.size() < wanted) files.push_back(distinct[files.size() % distinct.size()]);
  uintmax_t bytes = 0;
  for (const std::string& f : files) bytes += fs::file_size(f);

  const Script script{work / "bench.zyl", work};
  std::ofstream(script.file) << kScript;

  auto timeLoop = [&](const std::function<int(const std::string&)>& read) {
    const auto start = Clock::now();
    int found = 0;
    for (const std::string& f : files) found += read(f);
    if (found != static_cast<int>(10 * files.size())) std::fprintf(stderr, "missing attributes\n");
    return seconds(start);
  };
  std::vector<double> dcmtk, cppFull, cppNoPixels, scriptFull, scriptNoPixels, startup;
  for (int r = 0; r <= rounds; ++r) {  // round 0 warms the caches and is not counted
    const double t1 = timeLoop(dcmtkRead);
    const double t2 = timeLoop([](const std::string& f) { return objectRead(f, false); });
    const double t3 = timeLoop([](const std::string& f) { return objectRead(f, true); });
    const double t0 = script.run(files, 0, true);
    const double t4 = script.run(files, kScriptRepeats, false);
    const double t5 = script.run(files, kScriptRepeats, true);
    if (r == 0) continue;
    dcmtk.push_back(t1);
    cppFull.push_back(t2);
    cppNoPixels.push_back(t3);
    startup.push_back(t0);
    scriptFull.push_back(t4);
    scriptNoPixels.push_back(t5);
  }
  const double n = static_cast<double>(files.size());
  const double base = median(dcmtk) / n * 1e6;
  const double start = median(startup);
  auto row = [&](const char* name, double perFile) {
    std::printf("| %s | %.1f | %.2f |\n", name, perFile, perFile / base);
  };
  std::printf("%zu files (%zu distinct, %.1f MB), %d rounds, median round; zyl start-up %.1f ms\n\n", files.size(),
              distinct.size(), static_cast<double>(bytes) / 1e6, rounds, start * 1e3);
  std::printf("| Path | us per file | vs. DCMTK |\n|---|---|---|\n");
  row("DCMTK loadFile + findAndGet", base);
  row("C++ API, NO_PIXEL_DATA", median(cppNoPixels) / n * 1e6);
  row("C++ API, whole file", median(cppFull) / n * 1e6);
  row("zyl script, NO_PIXEL_DATA", (median(scriptNoPixels) - start) / (n * kScriptRepeats) * 1e6);
  row("zyl script, whole file", (median(scriptFull) - start) / (n * kScriptRepeats) * 1e6);
  fs::remove_all(work);
  return 0;
}

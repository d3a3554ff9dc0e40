// Parse and read: the toolkit's C interface against DCMTK alone, over the
// pydicom test files. Each iteration takes every DICOM file of the corpus
// that DCMTK loads, parses it from memory and reads ten common attributes.
// Both sides read the same bytes held in memory; neither touches the disk.
//
//   <build>/bench/toolkit_bench --benchmark_repetitions=10 --benchmark_report_aggregates_only=true
//
// The corpus directory and the toolkit's resource directory are compiled in
// and can be overridden with ZYL_BENCH_CORPUS and ZYL_BENCH_RESOURCES.
#include "toolkit/mc.h"

#include <dcmtk/config/osconfig.h>
#include <dcmtk/dcmdata/dctk.h>
#include <dcmtk/dcmdata/dcistrmb.h>

#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace fs = std::filesystem;

namespace {

constexpr std::uint32_t tag(std::uint16_t group, std::uint16_t element) {
  return static_cast<std::uint32_t>(group) << 16 | element;
}

const char* setting(const char* name, const char* fallback) {
  const char* value = std::getenv(name);
  return value && *value ? value : fallback;
}

struct CorpusFile {
  std::string path;
  std::vector<std::uint8_t> bytes;
};

// Parses `bytes` with DCMTK from one memory buffer, all values loaded.
bool dcmtkRead(const std::vector<std::uint8_t>& bytes, DcmFileFormat& file) {
  DcmInputBufferStream in;
  in.setBuffer(bytes.data(), static_cast<offile_off_t>(bytes.size()));
  in.setEos();
  file.transferInit();
  const OFCondition result = file.read(in, EXS_Unknown, EGL_noChange, DCM_MaxReadLength);
  file.transferEnd();
  in.releaseBuffer();
  return result.good();
}

void initToolkit(int& application) {
  const std::string ini = std::string(setting("ZYL_BENCH_RESOURCES", ZYL_TOOLKIT_RESOURCES)) + "/merge.ini";
  MC_Set_MergeINI(ini.c_str());
  const MC_STATUS init = MC_Library_Initialization(nullptr, nullptr, nullptr);
  if (init != MC_NORMAL_COMPLETION && init != MC_LIBRARY_ALREADY_INITIALIZED) {
    std::fprintf(stderr, "toolkit start-up failed: %s\n", MC_Error_Message(init));
    std::exit(1);
  }
  if (MC_Register_Application(&application, "TOOLKIT_BENCH") != MC_NORMAL_COMPLETION) std::exit(1);
}

// Hands the file to the toolkit in chunks of `chunkSize` bytes, straight
// from the buffer (no copy).
struct Reader {
  const std::vector<std::uint8_t>* bytes = nullptr;
  std::size_t chunkSize = 0;
  std::size_t offset = 0;
};

MC_STATUS readChunk(const char*, void* userInfo, int* size, void** data, int isFirst, int* isLast) {
  auto& reader = *static_cast<Reader*>(userInfo);
  if (isFirst) reader.offset = 0;
  const std::size_t n = std::min(reader.chunkSize, reader.bytes->size() - reader.offset);
  *data = const_cast<std::uint8_t*>(reader.bytes->data() + reader.offset);
  *size = static_cast<int>(n);
  reader.offset += n;
  *isLast = reader.offset >= reader.bytes->size();
  return MC_NORMAL_COMPLETION;
}

// The ten attributes, read into values the caller keeps.
struct TenValues {
  std::string patientName, patientId, study, series, instance, modality;
  unsigned rows = 0, columns = 0, bitsAllocated = 0;
  int instanceNumber = 0;
  int found = 0;
};

const std::uint32_t kStringTags[] = {tag(0x0010, 0x0010), tag(0x0010, 0x0020), tag(0x0020, 0x000D),
                                     tag(0x0020, 0x000E), tag(0x0008, 0x0018), tag(0x0008, 0x0060)};
const DcmTagKey kStringKeys[] = {DCM_PatientName,       DCM_PatientID,      DCM_StudyInstanceUID,
                                 DCM_SeriesInstanceUID, DCM_SOPInstanceUID, DCM_Modality};

std::string* stringSlot(TenValues& v, int k) {
  std::string* slots[] = {&v.patientName, &v.patientId, &v.study, &v.series, &v.instance, &v.modality};
  return slots[k];
}

// Returns the number of the ten attributes found, or -1 when the file did not open.
int ours(int application, const CorpusFile& file, std::size_t chunkSize, TenValues& v) {
  int id = 0;
  if (MC_Create_Empty_File(&id, file.path.c_str()) != MC_NORMAL_COMPLETION) return -1;
  Reader reader{&file.bytes, chunkSize, 0};
  if (MC_Open_File(application, id, &reader, readChunk) != MC_NORMAL_COMPLETION) {
    MC_Free_File(id);
    return -1;
  }
  v.found = 0;
  char buffer[256];
  for (int k = 0; k < 6; ++k)
    if (MC_Get_Value_To_String(id, kStringTags[k], sizeof buffer, buffer) == MC_NORMAL_COMPLETION) {
      stringSlot(v, k)->assign(buffer);
      ++v.found;
    }
  v.found += MC_Get_Value_To_UInt(id, tag(0x0028, 0x0010), &v.rows) == MC_NORMAL_COMPLETION;
  v.found += MC_Get_Value_To_UInt(id, tag(0x0028, 0x0011), &v.columns) == MC_NORMAL_COMPLETION;
  v.found += MC_Get_Value_To_UInt(id, tag(0x0028, 0x0100), &v.bitsAllocated) == MC_NORMAL_COMPLETION;
  v.found += MC_Get_Value_To_Int(id, tag(0x0020, 0x0013), &v.instanceNumber) == MC_NORMAL_COMPLETION;
  MC_Free_File(id);
  return v.found;
}

int dcmtk(const CorpusFile& file, TenValues& v) {
  DcmFileFormat format;
  if (!dcmtkRead(file.bytes, format)) return -1;
  DcmDataset& data = *format.getDataset();
  v.found = 0;
  OFString text;
  for (int k = 0; k < 6; ++k)
    if (data.findAndGetOFString(kStringKeys[k], text).good()) {
      stringSlot(v, k)->assign(text.c_str(), text.size());
      ++v.found;
    }
  Uint16 number = 0;
  if (data.findAndGetUint16(DCM_Rows, number).good()) v.rows = number, ++v.found;
  if (data.findAndGetUint16(DCM_Columns, number).good()) v.columns = number, ++v.found;
  if (data.findAndGetUint16(DCM_BitsAllocated, number).good()) v.bitsAllocated = number, ++v.found;
  Sint32 instanceNumber = 0;
  if (data.findAndGetSint32(DCM_InstanceNumber, instanceNumber).good()) v.instanceNumber = instanceNumber, ++v.found;
  return v.found;
}

struct Corpus {
  int application = 0;
  std::vector<CorpusFile> files;
  std::size_t totalBytes = 0;
};

// DICOM files under the corpus directory that DCMTK parses from memory and
// the toolkit opens; files only one side reads are reported and left out.
// (Both sides then do the same work; the counts of attributes found may
// differ where an attribute is empty or has a binary VR such as UN, which
// DCMTK renders as text and the toolkit refuses with a status.)
const Corpus& corpus() {
  static const Corpus instance = [] {
    Corpus c;
    initToolkit(c.application);
    const fs::path root = setting("ZYL_BENCH_CORPUS", ZYL_PYDICOM_FILES);
    std::vector<fs::path> paths;
    std::error_code error;
    for (const auto& entry : fs::recursive_directory_iterator(root, error))
      if (entry.is_regular_file()) paths.push_back(entry.path());
    std::sort(paths.begin(), paths.end());
    for (const auto& path : paths) {
      std::ifstream in(path, std::ios::binary);
      CorpusFile file{path.string(), std::vector<std::uint8_t>(std::istreambuf_iterator<char>(in), {})};
      if (file.bytes.size() < 132 || std::memcmp(file.bytes.data() + 128, "DICM", 4) != 0) continue;
      TenValues a, b;
      const int theirs = dcmtk(file, a);
      const int mine = ours(c.application, file, 65536, b);
      if (theirs < 0 && mine < 0) continue;
      if (theirs < 0 || mine < 0) {
        std::fprintf(stderr, "left out %s: %s does not read it\n", file.path.c_str(),
                     theirs < 0 ? "DCMTK" : "the toolkit");
        continue;
      }
      c.totalBytes += file.bytes.size();
      c.files.push_back(std::move(file));
    }
    std::fprintf(stderr, "corpus: %zu files, %zu bytes\n", c.files.size(), c.totalBytes);
    if (c.files.empty()) std::exit(1);
    return c;
  }();
  return instance;
}

void finish(benchmark::State& state, const Corpus& c, long found) {
  state.SetItemsProcessed(state.iterations() * static_cast<long>(c.files.size()));
  state.SetBytesProcessed(state.iterations() * static_cast<long>(c.totalBytes));
  state.counters["attributes_per_pass"] = static_cast<double>(found) / static_cast<double>(state.iterations());
}

// Passes over the corpus, each file read by `read` (file, values): the
// number of attributes it found.
template <typename Read>
void readCorpus(benchmark::State& state, Read read) {
  const Corpus& c = corpus();
  long found = 0;
  TenValues values;
  for (auto _ : state)
    for (const auto& file : c.files) {
      found += read(c, file, values);
      benchmark::DoNotOptimize(values);
    }
  finish(state, c, found);
}

void BM_Dcmtk(benchmark::State& state) {
  readCorpus(state, [](const Corpus&, const CorpusFile& file, TenValues& v) { return dcmtk(file, v); });
}

// The reader hands the whole file in one piece (the same single buffer DCMTK gets).
void BM_Toolkit_WholeFile(benchmark::State& state) {
  readCorpus(state, [](const Corpus& c, const CorpusFile& file, TenValues& v) {
    return ours(c.application, file, file.bytes.size(), v);
  });
}

// The reader hands the file in 64 KiB pieces, as a reader over a file would.
void BM_Toolkit_64KiBChunks(benchmark::State& state) {
  readCorpus(state,
             [](const Corpus& c, const CorpusFile& file, TenValues& v) { return ours(c.application, file, 65536, v); });
}

// Half a second per measurement: tens of passes, a few thousand parses.
BENCHMARK(BM_Dcmtk)->Unit(benchmark::kMillisecond)->MinTime(0.5);
BENCHMARK(BM_Toolkit_WholeFile)->Unit(benchmark::kMillisecond)->MinTime(0.5);
BENCHMARK(BM_Toolkit_64KiBChunks)->Unit(benchmark::kMillisecond)->MinTime(0.5);

}  // namespace

BENCHMARK_MAIN();

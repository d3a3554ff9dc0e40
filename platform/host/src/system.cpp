// The installation root, the per-user directory, environment, memory and time.
#include <dlfcn.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <system_error>

#include "state.h"
#include "zyl/host.h"

namespace zyl {

std::string libraryDir() {
  Dl_info info{};
  if (dladdr(reinterpret_cast<const void*>(&libraryDir), &info) == 0 || info.dli_fname == nullptr) return "./";
  std::error_code ec;
  std::filesystem::path lib = std::filesystem::weakly_canonical(info.dli_fname, ec);
  if (ec) lib = info.dli_fname;
  std::string dir = lib.parent_path().string();
  return dir.empty() ? "./" : dir + "/";
}

// The library lies in <root>/bin/bin.x86_64/; elsewhere its own folder is the root.
std::string installRoot() {
  if (const char* env = std::getenv("ZYL_DIR"); env != nullptr && *env != '\0') {
    std::string root(env);
    if (root.back() != '/') root += '/';
    return root;
  }
  std::filesystem::path dir = std::filesystem::path(libraryDir()).parent_path();  // drop the trailing '/'
  if (dir.filename() == "bin.x86_64" && dir.parent_path().filename() == "bin") dir = dir.parent_path().parent_path();
  std::string root = dir.string();
  return root.empty() || root.back() != '/' ? root + "/" : root;
}

std::string Runtime::programDir() const { return libraryDir(); }

}  // namespace zyl

const char* HostInstallDir() {
  std::string& cache = zyl::hostState().installDirCache;
  cache = zyl::installRoot();
  return cache.c_str();
}

namespace {

std::string userBaseDir() {
  if (const char* env = std::getenv("ZYL_USER_DIR"); env != nullptr && *env != '\0') return env;
  const char* home = std::getenv("HOME");
  if (home == nullptr || *home == '\0') {
    const passwd* pw = getpwuid(getuid());
    home = pw ? pw->pw_dir : nullptr;
  }
  if (home == nullptr) return {};
  return std::string(home) + "/.zyl";
}

std::string orEmpty(const char* s) { return s ? s : ""; }

}  // namespace

std::string HostCallUserAppDir(const char* authorDir, const char* authorDescription, const char* appDir,
                               const char* appDescription, const char* readmeText, const char* readmeVersion,
                               const char* restrictAppVersion) {
  namespace fs = std::filesystem;
  const std::string base = userBaseDir();
  if (base.empty() || authorDir == nullptr || *authorDir == '\0' || appDir == nullptr || *appDir == '\0') return {};
  std::string dir = base;
  while (dir.size() > 1 && dir.back() == '/') dir.pop_back();
  dir += "/" + std::string(authorDir) + "/" + appDir;

  std::error_code ec;
  if (!fs::is_directory(dir, ec)) {
    fs::create_directories(dir, ec);
    if (ec || !fs::is_directory(dir, ec)) return {};
    fs::permissions(dir, fs::perms(0755), ec);
  }
  const std::string readme = dir + "/Readme.txt";
  if (readmeText != nullptr && !fs::exists(readme, ec)) {
    std::ofstream out(readme, std::ios::binary);
    if (!out) return {};
    out << orEmpty(authorDescription) << "\n"
        << orEmpty(appDescription) << "\n"
        << "Readme version: " << orEmpty(readmeVersion);
    if (restrictAppVersion != nullptr && *restrictAppVersion != '\0')
      out << " (application version " << restrictAppVersion << ")";
    out << "\n" << readmeText;
    if (!out) return {};
  }
  return dir;
}

int HostSetEnv(const char* assignment) {
  if (assignment == nullptr) return 0;
  const char* eq = std::strchr(assignment, '=');
  if (eq == nullptr || eq == assignment) return 0;
  const std::string name(assignment, eq);
  return ::setenv(name.c_str(), eq + 1, 1) == 0 ? 1 : 0;
}

void* HostMemAlloc(size_t size, const char* errorText, int action) {
  void* p = std::malloc(size == 0 ? 1 : size);
  if (p == nullptr) zyl::issueHostMessage(action, errorText ? errorText : "Unable to allocate memory");
  return p;
}

void HostMemFree(void* p) { std::free(p); }

namespace {
// Scratch memory is taken and given back around every file read. The largest
// block given back (up to a limit) is kept for the next request of the same
// thread, so that reading file after file reuses warm pages instead of having
// the system hand out, and fault in, fresh ones each time.
constexpr size_t kKeptScratchLimit = size_t{16} << 20;
struct alignas(std::max_align_t) ScratchHeader {
  size_t size;
};
struct KeptScratch {
  ScratchHeader* block = nullptr;
  ~KeptScratch() { std::free(block); }
};
thread_local KeptScratch keptScratch;
}  // namespace

void* HostGetScratch(size_t size) {
  if (ScratchHeader* kept = keptScratch.block; kept != nullptr && kept->size >= size) {
    keptScratch.block = nullptr;
    return kept + 1;
  }
  if (size > SIZE_MAX - sizeof(ScratchHeader)) zyl::Runtime::instance().fail("Unable to allocate scratch memory");
  auto* block = static_cast<ScratchHeader*>(std::malloc(sizeof(ScratchHeader) + (size == 0 ? 1 : size)));
  if (block == nullptr) zyl::Runtime::instance().fail("Unable to allocate scratch memory");
  block->size = size;
  return block + 1;
}

void HostFreeScratch(void* p) {
  if (p == nullptr) return;
  ScratchHeader* block = static_cast<ScratchHeader*>(p) - 1;
  if (block->size <= kKeptScratchLimit && (keptScratch.block == nullptr || keptScratch.block->size < block->size))
    std::swap(block, keptScratch.block);
  std::free(block);
}

std::string HostCurrentTime() {
  const std::time_t now = std::time(nullptr);
  std::tm local{};
  localtime_r(&now, &local);
  char buf[64];
  const size_t n = std::strftime(buf, sizeof buf, "%a %b %d %H:%M:%S %Y", &local);
  return std::string(buf, n);
}

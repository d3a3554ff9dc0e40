// File units and file operations.
#include <sys/stat.h>

#include <filesystem>
#include <system_error>

#include "state.h"
#include "zyl/host.h"

namespace zyl {

void closeAllFileUnits() {
  for (FILE*& f : hostState().units) {
    if (f) std::fclose(f);
    f = nullptr;
  }
}

}  // namespace zyl

using zyl::hostState;

namespace {

FILE** unitSlot(int unit) {
  if (unit < zyl::kFirstFileUnit || unit > zyl::kLastFileUnit) return nullptr;
  return &hostState().units[static_cast<size_t>(unit - zyl::kFirstFileUnit)];
}

}  // namespace

int HostFileOpen(const char* path, int mode, int /*flags*/) {
  if (path == nullptr || *path == '\0') return HOST_FILE_FAILED;
  const bool read = (mode & HOST_FILE_READ) != 0;
  const bool write = (mode & HOST_FILE_WRITE) != 0;
  const char* how = read && write ? "r+b" : write ? "wb" : read ? "rb" : nullptr;
  if (how == nullptr) return HOST_FILE_FAILED;
  for (int unit = zyl::kFirstFileUnit; unit <= zyl::kLastFileUnit; ++unit) {
    FILE** slot = unitSlot(unit);
    if (*slot != nullptr) continue;
    FILE* f = std::fopen(path, how);
    if (f == nullptr) return HOST_FILE_FAILED;
    *slot = f;
    return unit;
  }
  return HOST_FILE_FAILED;  // every unit in use
}

FILE* HostFileStat(int unit) {
  FILE** slot = unitSlot(unit);
  return slot ? *slot : nullptr;
}

int HostFileSeek(int unit, int64_t offset) {
  FILE* f = HostFileStat(unit);
  return f != nullptr && offset >= 0 && fseeko(f, static_cast<off_t>(offset), SEEK_SET) == 0 ? 1 : 0;
}

void HostFileClose(int unit) {
  FILE** slot = unitSlot(unit);
  if (slot == nullptr || *slot == nullptr) return;
  std::fclose(*slot);
  *slot = nullptr;
}

int HostFileExists(const char* path) {
  struct stat st;
  return path != nullptr && *path != '\0' && ::stat(path, &st) == 0 ? 1 : 0;
}

int HostCallFileCopy(const char* src, const char* dst, int overwrite) {
  if (src == nullptr || dst == nullptr) return 0;
  namespace fs = std::filesystem;
  std::error_code ec;
  if (!HostFileExists(dst) || overwrite != 0) fs::copy_file(src, dst, fs::copy_options::overwrite_existing, ec);
  return HostFileExists(dst);
}

int HostCallFileChmod(const char* path, unsigned mode) {
  return path != nullptr && ::chmod(path, static_cast<mode_t>(mode)) == 0 ? 1 : 0;
}

size_t HostFilePathFromRoot(char* buf, size_t size, const char* root, const char* const* subdirs, int nsubdirs,
                            const char* file) {
  std::string path = root != nullptr ? std::string(root) : zyl::installRoot();
  if (!path.empty() && path.back() != '/') path += '/';
  for (int i = 0; i < nsubdirs && subdirs != nullptr; ++i) {
    if (subdirs[i] == nullptr || *subdirs[i] == '\0') continue;
    path += subdirs[i];
    if (path.back() != '/') path += '/';
  }
  if (file != nullptr) path += file;
  return HostStringCopy(buf, path.c_str(), size);
}

#include "files/replace.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <filesystem>
#include <random>
#include <system_error>
#include <utility>

namespace zyl::files {

namespace {

bool WriteAll(int fd, std::string_view bytes) {
  while (!bytes.empty()) {
    const ssize_t written = ::write(fd, bytes.data(), bytes.size());
    if (written < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    bytes.remove_prefix(static_cast<std::size_t>(written));
  }
  return true;
}

// Writes, optionally flushes, closes `fd` and renames `temporary` onto
// `target`; removes `temporary` on failure. 0 or the errno of the failed
// step. Async-signal-safe.
int WriteAndRename(int fd, const char* temporary, const char* target, std::string_view bytes, bool flush) {
  int error = 0;
  if (!WriteAll(fd, bytes) || (flush && ::fsync(fd) != 0)) error = errno;
  // A late write error can surface only at close.
  if (::close(fd) != 0 && error == 0) error = errno;
  if (error == 0 && ::rename(temporary, target) != 0) error = errno;
  if (error != 0) ::unlink(temporary);
  return error;
}

// The file that a write to `path` must replace: the end of a chain of
// symbolic links, or `path` itself.
std::filesystem::path ReplacementTarget(const std::string& path) {
  std::error_code error;
  const std::filesystem::path given(path);
  if (std::filesystem::is_symlink(std::filesystem::symlink_status(given, error))) {
    const std::filesystem::path resolved = std::filesystem::weakly_canonical(given, error);
    if (!error) return resolved;
  }
  return given;
}

std::filesystem::path FolderOf(const std::filesystem::path& target) {
  return target.has_parent_path() ? target.parent_path() : std::filesystem::path(".");
}

// Creates an exclusive new file next to `target`; its descriptor and path,
// or minus the errno and no path.
std::pair<int, std::string> CreateTemporaryBeside(const std::filesystem::path& target, mode_t mode) {
  static std::atomic<unsigned> counter{0};
  thread_local std::minstd_rand random{std::random_device{}()};
  const std::string prefix = "." + target.filename().string() + ".tmp";
  for (int attempt = 0; attempt < 100; ++attempt) {
    const std::string name =
        prefix + std::to_string(::getpid()) + "-" + std::to_string(counter++) + "-" + std::to_string(random());
    std::string candidate = (FolderOf(target) / name).string();
    const int fd = ::open(candidate.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, mode);
    if (fd >= 0) return {fd, std::move(candidate)};
    if (errno != EEXIST) return {-errno, std::string()};
  }
  return {-EEXIST, std::string()};
}

// Gives the new file the owner and mode bits of the one it replaces. 0 or an errno.
int KeepOwnerAndMode(int fd, const std::filesystem::path& target) {
  struct stat existing {};
  if (::stat(target.c_str(), &existing) != 0) return 0;  // nothing to keep
  if (!S_ISREG(existing.st_mode)) return EISDIR;
  // Only a privileged writer can hand the file back to its owner; for anyone
  // else the file is theirs already. The owner goes first because a change
  // of owner may clear mode bits.
  if (existing.st_uid != ::geteuid() || existing.st_gid != ::getegid()) {
    [[maybe_unused]] const int ignored = ::fchown(fd, existing.st_uid, existing.st_gid);
  }
  return ::fchmod(fd, existing.st_mode & 07777) == 0 ? 0 : errno;
}

void SyncFolder(const std::filesystem::path& target) {
  const int fd = ::open(FolderOf(target).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  // Best effort: the rename has happened; this only hurries it to disk.
  if (fd < 0) return;
  ::fsync(fd);
  ::close(fd);
}

}  // namespace

int ReplaceFile(const std::string& path, std::string_view bytes, const ReplaceOptions& options) {
  const std::filesystem::path target = options.keepExisting ? ReplacementTarget(path) : std::filesystem::path(path);
  const auto [fd, temporary] = CreateTemporaryBeside(target, options.newFileMode);
  if (fd < 0) return -fd;
  if (options.keepExisting) {
    if (const int error = KeepOwnerAndMode(fd, target); error != 0) {
      ::close(fd);
      ::unlink(temporary.c_str());
      return error;
    }
  }
  const int error = WriteAndRename(fd, temporary.c_str(), target.c_str(), bytes, options.flush);
  if (error == 0 && options.flush) SyncFolder(target);
  return error;
}

int ReplaceFileAfterFork(const char* temporary, const char* path, std::string_view bytes, mode_t mode) {
  const int fd = ::open(temporary, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, mode);
  if (fd < 0) return errno;
  return WriteAndRename(fd, temporary, path, bytes, false);
}

}  // namespace zyl::files

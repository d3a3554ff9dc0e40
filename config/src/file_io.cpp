#include "config/file_io.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <filesystem>
#include <random>
#include <system_error>
#include <utility>

namespace zyl::config::io {

namespace {

class UniqueFd {
 public:
  explicit UniqueFd(int fd) noexcept : fd_(fd) {}
  ~UniqueFd() { reset(); }
  UniqueFd(UniqueFd&& other) noexcept : fd_(std::exchange(other.fd_, -1)) {}
  UniqueFd& operator=(UniqueFd&&) = delete;
  UniqueFd(const UniqueFd&) = delete;
  UniqueFd& operator=(const UniqueFd&) = delete;

  int get() const noexcept { return fd_; }
  bool valid() const noexcept { return fd_ >= 0; }
  // Closes now and reports whether the close succeeded (a late write error
  // can surface only here).
  bool close() noexcept {
    const int fd = std::exchange(fd_, -1);
    return fd < 0 || ::close(fd) == 0;
  }
  void reset() noexcept { close(); }

 private:
  int fd_;
};

// Removes the temporary file unless the rename took it over.
class TemporaryFile {
 public:
  explicit TemporaryFile(std::string path) : path_(std::move(path)) {}
  ~TemporaryFile() {
    if (!path_.empty()) ::unlink(path_.c_str());
  }
  TemporaryFile(const TemporaryFile&) = delete;
  TemporaryFile& operator=(const TemporaryFile&) = delete;

  const std::string& path() const noexcept { return path_; }
  void keep() noexcept { path_.clear(); }

 private:
  std::string path_;
};

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

// Creates an exclusive new file next to `target`; mode 0666 less the umask,
// as any new file.
std::pair<UniqueFd, std::string> CreateTemporaryBeside(const std::filesystem::path& target) {
  static std::atomic<unsigned> counter{0};
  thread_local std::minstd_rand random{std::random_device{}()};
  const std::filesystem::path folder = target.has_parent_path() ? target.parent_path() : ".";
  const std::string prefix = "." + target.filename().string() + ".tmp";
  for (int attempt = 0; attempt < 100; ++attempt) {
    const std::string name = prefix + std::to_string(::getpid()) + "-" + std::to_string(counter++) +
                             "-" + std::to_string(random());
    std::string candidate = (folder / name).string();
    const int fd = ::open(candidate.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (fd >= 0) return {UniqueFd(fd), std::move(candidate)};
    if (errno != EEXIST) break;
  }
  return {UniqueFd(-1), std::string()};
}

void SyncFolder(const std::filesystem::path& target) {
  const std::filesystem::path folder = target.has_parent_path() ? target.parent_path() : ".";
  UniqueFd fd(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  // Best effort: the rename has happened; this only hurries it to disk.
  if (fd.valid()) ::fsync(fd.get());
}

}  // namespace

std::optional<std::string> ReadWholeFile(const std::string& path) {
  // O_NONBLOCK keeps a FIFO at that path from blocking the open; regular
  // files ignore it.
  UniqueFd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK));
  if (!fd.valid()) return std::nullopt;
  struct stat info {};
  if (::fstat(fd.get(), &info) != 0 || !S_ISREG(info.st_mode)) return std::nullopt;
  if (static_cast<std::uintmax_t>(info.st_size) > kMaxConfigFileBytes) return std::nullopt;

  std::string bytes;
  bytes.reserve(static_cast<std::size_t>(info.st_size));
  char chunk[8192];
  for (;;) {
    const ssize_t got = ::read(fd.get(), chunk, sizeof chunk);
    if (got < 0) {
      if (errno == EINTR) continue;
      return std::nullopt;
    }
    if (got == 0) break;
    if (bytes.size() + static_cast<std::size_t>(got) > kMaxConfigFileBytes) return std::nullopt;
    bytes.append(chunk, static_cast<std::size_t>(got));
  }
  return bytes;
}

bool ReplaceFileAtomically(const std::string& path, std::string_view bytes) {
  const std::filesystem::path target = ReplacementTarget(path);
  auto [fd, temporaryPath] = CreateTemporaryBeside(target);
  if (!fd.valid()) return false;
  TemporaryFile temporary(std::move(temporaryPath));

  struct stat existing {};
  if (::stat(target.c_str(), &existing) == 0) {
    if (!S_ISREG(existing.st_mode)) return false;
    // Only a privileged writer can hand the file back to its owner; for
    // anyone else the file is theirs already. The owner goes first because a
    // change of owner may clear mode bits.
    if (existing.st_uid != ::geteuid() || existing.st_gid != ::getegid()) {
      [[maybe_unused]] const int ignored = ::fchown(fd.get(), existing.st_uid, existing.st_gid);
    }
    if (::fchmod(fd.get(), existing.st_mode & 07777) != 0) return false;
  }

  if (!WriteAll(fd.get(), bytes)) return false;
  if (::fsync(fd.get()) != 0) return false;
  if (!fd.close()) return false;
  if (::rename(temporary.path().c_str(), target.c_str()) != 0) return false;
  temporary.keep();
  SyncFolder(target);
  return true;
}

}  // namespace zyl::config::io

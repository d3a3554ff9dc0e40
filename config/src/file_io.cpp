#include "config/file_io.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
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
  void reset() noexcept {
    if (const int fd = std::exchange(fd_, -1); fd >= 0) ::close(fd);
  }

 private:
  int fd_;
};

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

}  // namespace zyl::config::io

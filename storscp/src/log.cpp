// The service log: two files in the system directory used in turn, each
// holding about kLogSwitchBytes, so the log never grows beyond two files.
#include <algorithm>
#include <cstdarg>

#include "state.h"
#include "zyl/host.h"

namespace zyl::storscp {

namespace {
void AppendHex(std::string& out, unsigned char c) {
  char hex[5];
  std::snprintf(hex, sizeof hex, "\\x%02X", c);
  out += hex;
}
}  // namespace

ServiceState& State() {
  static ServiceState state;
  return state;
}

ServiceLog::~ServiceLog() { close(); }

bool ServiceLog::isOpen() const {
  std::lock_guard lock(mutex_);
  return file_ != nullptr;
}

int ServiceLog::index() const {
  std::lock_guard lock(mutex_);
  return index_;
}

void ServiceLog::close() {
  std::lock_guard lock(mutex_);
  closeLocked();
}

void ServiceLog::closeLocked() {
  if (file_ != nullptr) std::fclose(file_);
  file_ = nullptr;
}

// Opens the file of the current index, appending or emptied; returns whether
// it is open and its size is known and below the limit (for appending).
bool ServiceLog::openCurrent(bool empty) {
  file_ = std::fopen(paths_[index_ - 1].c_str(), empty ? "wb" : "ab");
  return file_ != nullptr;
}

void ServiceLog::open(const std::string& firstPath, const std::string& secondPath) {
  std::lock_guard lock(mutex_);
  closeLocked();
  paths_[0] = firstPath;
  paths_[1] = secondPath;
  index_ = 1;
  auto sizeOf = [this]() -> long {
    if (std::fseek(file_, 0, SEEK_END) != 0) return -1;
    return std::ftell(file_);
  };
  if (!openCurrent(false)) return;
  long size = sizeOf();
  if (size < 0) return closeLocked();
  if (size < kLogSwitchBytes) return;
  closeLocked();
  index_ = 2;
  if (!openCurrent(false)) return;
  size = sizeOf();
  if (size < 0) return closeLocked();
  if (size < kLogSwitchBytes) return;
  closeLocked();
  index_ = 1;
  if (!openCurrent(true)) return;
}

void ServiceLog::line(std::string_view message) {
  const std::string time = HostCurrentTime();
  char text[kLogLineSize];
  const int length =
      std::snprintf(text, sizeof text, "%s, %.*s \n", time.c_str(), static_cast<int>(message.size()), message.data());
  if (length < 0) return;
  const std::size_t bytes = std::min(static_cast<std::size_t>(length), sizeof text - 1);
  std::lock_guard lock(mutex_);
  if (file_ == nullptr) return;
  std::fwrite(text, 1, bytes, file_);
  long size = -1;
  if (std::fflush(file_) == 0 && std::fseek(file_, 0, SEEK_END) == 0) size = std::ftell(file_);
  if (size < 0) return closeLocked();
  if (size <= kLogSwitchBytes) return;
  closeLocked();
  index_ = index_ == 1 ? 2 : 1;
  openCurrent(true);
}

void LogLine(const char* format, ...) {
  char message[kLogLineSize];
  va_list args;
  va_start(args, format);
  std::vsnprintf(message, sizeof message, format, args);
  va_end(args);
  // One entry is one line: a toolkit text or a peer's title may hold line feeds.
  std::string line;
  for (const char* p = message; *p != '\0'; ++p) {
    const auto c = static_cast<unsigned char>(*p);
    if (c >= 0x20 && c != 0x7F)
      line += *p;
    else
      AppendHex(line, c);
  }
  State().log.line(line);
}

std::string Printable(std::string_view text, std::size_t limit) {
  std::string out;
  for (unsigned char c : text) {
    if (out.size() >= limit) {
      out += "...";
      break;
    }
    if (c >= 0x20 && c < 0x7F && c != '\\')
      out += static_cast<char>(c);
    else
      AppendHex(out, c);
  }
  return out;
}

}  // namespace zyl::storscp

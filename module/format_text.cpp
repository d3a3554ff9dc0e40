#include "format_text.h"

#include <cstdarg>
#include <cstdio>

namespace orvo {

std::string formatText(const char* pattern, ...) {
  char buffer[512];
  va_list args;
  va_start(args, pattern);
  std::vsnprintf(buffer, sizeof buffer, pattern, args);
  va_end(args);
  return buffer;
}

}  // namespace orvo

// Which received UIDs may name a file.
#include "store.h"

namespace zyl::storscp {

std::optional<std::string> ValidUid(std::string_view received) {
  std::string_view uid = received;
  if (!uid.empty() && (uid.back() == '\0' || uid.back() == ' ')) uid.remove_suffix(1);
  if (uid.empty() || uid.size() > kUidMaxLength) return std::nullopt;
  bool componentStarted = false;
  for (char c : uid) {
    if (c >= '0' && c <= '9') {
      componentStarted = true;
    } else if (c == '.' && componentStarted) {
      componentStarted = false;
    } else {
      return std::nullopt;  // a letter, separator, space, NUL or an empty component
    }
  }
  if (!componentStarted) return std::nullopt;  // ends with a dot
  return std::string(uid);
}

}  // namespace zyl::storscp

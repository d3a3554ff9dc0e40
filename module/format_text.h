// printf-style text for the module's reports and progress messages: at most
// one line of 511 characters, as the messages are formatted into 512 bytes.
#pragma once

#include <string>

namespace orvo {

std::string formatText(const char* pattern, ...) __attribute__((format(printf, 1, 2)));

}  // namespace orvo

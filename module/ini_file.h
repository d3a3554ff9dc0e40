// A small writer for the toolkit's INI files: sets one key of one section,
// keeping every other line as it stands.
#pragma once

#include <string>

namespace orvo {

// Sets `key` in `[section]` of the file to `value`. Section and key names
// match case-insensitively; a missing key is added at the end of its section,
// a missing section at the end of the file. The file is replaced atomically
// (written beside it, then renamed), so a failed write leaves it as it was.
// Returns false when the file cannot be read or written.
bool writeIniValue(const std::string& path, const std::string& section, const std::string& key,
                   const std::string& value);

}  // namespace orvo

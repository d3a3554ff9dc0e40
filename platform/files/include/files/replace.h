// Replacing a file's content in one step: a reader sees the old bytes or the
// new ones, never a mix, and a failed write leaves the old file as it was.
#pragma once

#include <sys/types.h>

#include <string>
#include <string_view>

namespace zyl::files {

struct ReplaceOptions {
  // fsync the new file before the rename and its folder after it, so that
  // the new content survives a crash of the machine.
  bool flush = true;
  // Keep the replaced file's permission bits (and its owner, where the
  // process may set it), and follow a symbolic link at the path to the file
  // it names. Off: a link is itself replaced, and the file gets
  // `newFileMode` less the umask, as any new file.
  bool keepExisting = true;
  mode_t newFileMode = 0666;
};

// Writes `bytes` to a new temporary file beside `path` (a name of its own,
// created exclusively) and renames it over `path`. Returns 0, or the errno of
// the step that failed; the temporary file is then removed.
int ReplaceFile(const std::string& path, std::string_view bytes, const ReplaceOptions& options = {});

// The same through a temporary file the caller names (truncated if one was
// left over), unflushed, with `mode` less the umask. Makes only
// async-signal-safe calls and allocates nothing: for a child between fork
// and exec, where another thread of the parent may have held the allocator.
int ReplaceFileAfterFork(const char* temporary, const char* path, std::string_view bytes, mode_t mode);

}  // namespace zyl::files

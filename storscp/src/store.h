// Storing received objects: each is written as a Part 10 file into a depot
// file of its own and renamed into the storage directory when it is complete
// and (unless the build turns it off) flushed to disk.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace zyl::storscp {

inline constexpr std::size_t kUidMaxLength = 64;       // a valid UID
inline constexpr std::size_t kUidBufferSize = 65;      // a UID and its terminator
inline constexpr std::size_t kUidReadSize = 256;       // what is read of a received UID to judge it
inline constexpr std::size_t kFileNameSize = 128;      // "%s.%s" of UID and extension

// A received UID as a file name part: the one trailing pad character (NUL
// or space) stripped, then 1 to 64 characters of digit components separated
// by single dots. nullopt for anything else.
std::optional<std::string> ValidUid(std::string_view received);

// Writes the message as "<fileName>" into the storage directory. The message
// is released on every path. `threadId` names the caller in log lines.
bool StoreReceivedObject(const std::string& fileName, int messageId, const std::string& serviceName,
                         int threadId);

// Removes depot files left behind by service processes that no longer run.
void RemoveStaleDepotFiles(const std::string& depotDir);

}  // namespace zyl::storscp

// Storing received objects: each is written as a DICOM file into a depot
// file of its own and renamed into the storage directory when it is complete
// and (unless the build turns it off) flushed to disk.
#pragma once

#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "toolkit/mc.h"

namespace zyl::storscp {

inline constexpr std::size_t kUidMaxLength = 64;   // a valid UID
inline constexpr std::size_t kUidBufferSize = 65;  // a UID and its terminator
inline constexpr std::size_t kUidReadSize = 256;   // what is read of a received UID to judge it
inline constexpr std::size_t kFileNameSize = 128;  // "%s.%s" of UID and extension

// A received UID as a file name part: the one trailing pad character (NUL
// or space) stripped, then 1 to 64 characters of digit components separated
// by single dots. nullopt for anything else.
std::optional<std::string> ValidUid(std::string_view received);

// An object being stored as it arrives: its depot file, removed unless the
// object was stored.
struct PendingStore;
struct PendingStoreDeleter {
  void operator()(PendingStore* store) const;
};
using PendingStorePtr = std::unique_ptr<PendingStore, PendingStoreDeleter>;

// Once the head of a received object is in `messageId`: makes the message a
// file bound to a new depot file, with its meta group. nullptr (logged) when
// the object cannot be stored. `threadId` names the caller in log lines.
PendingStorePtr PrepareStore(const std::string& fileName, int messageId, int threadId);

// The writer the toolkit gives the file to, with the PendingStore as user info.
MC_STATUS WritePendingStore(const char* fileName, void* userInfo, int dataSize, void* dataBuffer, int isFirst,
                            int isLast);

// After the toolkit wrote the file (`written` its outcome): releases the file
// `fileId` and moves the flushed depot file to "<fileName>" in the storage
// directory. True when the object is stored.
bool FinishStore(PendingStore& store, int fileId, MC_STATUS written, const std::string& serviceName);

// Removes depot files left behind by service processes that no longer run.
void RemoveStaleDepotFiles(const std::string& depotDir);

}  // namespace zyl::storscp

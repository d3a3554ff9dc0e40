// Storing one received object: bind it to a depot file of its own, give it
// its meta group, write it through the toolkit, flush it, rename it into the
// storage directory and flush the directory. Only then is it stored.
#include "store.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <mutex>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <map>
#include <thread>
#include <vector>

#include "state.h"
#include "toolkit/handles.h"
#include "toolkit/mc.h"
#include "toolkit/tags.h"

#ifndef ZYL_STORSCP_FLUSH
#define ZYL_STORSCP_FLUSH 1
#endif

namespace zyl::storscp {

namespace {

constexpr bool kFlush = ZYL_STORSCP_FLUSH != 0;
constexpr std::size_t kSyntaxUidSize = 65;
constexpr const char* kDepotSuffix = ".part";
constexpr const char* kClaimSuffix = ".lock";

std::atomic<unsigned long> depotSequence{0};

// One write: the depot file, created by the first block, and what happens to
// it. An unfinished depot file is removed.
struct WriteContext {
  int threadId = 0;
  int fd = -1;
  bool created = false;
  std::string path;
  bool moved = false;

  ~WriteContext() {
    closeFile();
    if (created && !moved) ::unlink(path.c_str());
  }
  bool closeFile() {
    if (fd < 0) return true;
    const int result = ::close(fd);
    fd = -1;
    return result == 0;
  }
};

bool WriteAll(int fd, const char* data, std::size_t size) {
  while (size > 0) {
    const ssize_t n = ::write(fd, data, size);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    data += n;
    size -= static_cast<std::size_t>(n);
  }
  return true;
}

bool ReadyDepot(int tid);

MC_STATUS WriteBlock(const char* fileName, void* userInfo, int dataSize, void* dataBuffer, int isFirst, int isLast) {
  auto* ctx = static_cast<WriteContext*>(userInfo);
  if (isFirst != 0 && ctx->fd < 0 && !ctx->created) {
    // The folders are made and claimed when the first block is ready to go.
    if (!ReadyDepot(ctx->threadId)) return MC_CANNOT_COMPLY;
    // Exclusive and without following links: nothing else shares this file.
    ctx->fd = ::open(fileName, O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0644);
    ctx->created = ctx->fd >= 0;
  }
  if (ctx->fd < 0) {
    LogLine("Thread(%d): Failed to open file(%s).", ctx->threadId, fileName);
    return MC_CANNOT_COMPLY;
  }
  bool written =
      dataSize >= 0 && WriteAll(ctx->fd, static_cast<const char*>(dataBuffer), static_cast<std::size_t>(dataSize));
  if (written && isLast != 0) {
    if (kFlush && ::fdatasync(ctx->fd) != 0) written = false;
    if (!ctx->closeFile()) written = false;
  }
  if (!written) {
    LogLine("Thread(%d): Failed to write buffer of data into file(%s).", ctx->threadId, fileName);
    return MC_CANNOT_COMPLY;
  }
  return MC_NORMAL_COMPLETION;
}

MC_STATUS SupplyMetaVersion(int, std::uint32_t, void*, int, int* dataSize, void** dataBuffer, int* isLast) {
  static unsigned char version[2] = {0x00, 0x01};
  *dataSize = 2;
  *dataBuffer = version;
  *isLast = 1;
  return MC_NORMAL_COMPLETION;
}

bool EnsureDirectory(const std::string& path) {
  struct stat st {};
  if (::stat(path.c_str(), &st) == 0) return S_ISDIR(st.st_mode);
  if (::mkdir(path.c_str(), 0755) == 0) return true;
  return errno == EEXIST && ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

// Flushes the storage folder after a rename. Threads that renamed while a
// flush was under way share the next one: a flush that starts after a
// thread's rename covers it, so concurrent stores need not each wait for a
// flush of their own.
class FolderFlusher {
 public:
  bool flushAfterRename(const std::string& path) {
    std::unique_lock lock(mutex_);
    const std::uint64_t ticket = ++requested_;
    while (completed_ < ticket) {
      if (flushing_) {
        changed_.wait(lock);
        continue;
      }
      flushing_ = true;
      const std::uint64_t covers = requested_;
      lock.unlock();
      const bool ok = FlushFolder(path);
      lock.lock();
      flushing_ = false;
      if (ok) completed_ = std::max(completed_, covers);
      changed_.notify_all();
      if (!ok) return false;
    }
    return true;
  }

 private:
  static bool FlushFolder(const std::string& path) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) return false;
    const bool ok = ::fsync(fd) == 0;
    ::close(fd);
    return ok;
  }

  std::mutex mutex_;
  std::condition_variable changed_;
  std::uint64_t requested_ = 0;
  std::uint64_t completed_ = 0;
  bool flushing_ = false;
};

bool FlushDirectory(const std::string& path) {
  if (!kFlush) return true;
  static FolderFlusher flusher;
  return flusher.flushAfterRename(path);
}

std::string ClaimPath(const std::string& depotDir, long pid) {
  return depotDir + "/" + std::to_string(pid) + kClaimSuffix;
}

// This process's claim on the depot files named after its pid: "<pid>.lock"
// in the depot, locked for as long as the process lives. The kernel drops the
// lock when the process dies, even while it lingers as a zombie whose pid
// still answers kill(pid, 0); so the lock, not the pid, tells a later
// start-up (or another instance on the same folder) which files are stale.
class DepotClaim {
 public:
  bool ensure(const std::string& depotDir) {
    std::lock_guard lock(mutex_);
    if (fd_ >= 0 && dir_ == depotDir) return true;
    const std::string path = ClaimPath(depotDir, ::getpid());
    for (int attempt = 0; attempt < 10; ++attempt) {
      const int fd = ::open(path.c_str(), O_RDONLY | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0600);
      if (fd < 0) return false;
      struct stat opened {
      }, named{};
      // A clean-up elsewhere may hold the file for a moment, or remove it
      // between our open and our lock: then try again.
      if (::flock(fd, LOCK_EX | LOCK_NB) == 0 && ::fstat(fd, &opened) == 0 && ::stat(path.c_str(), &named) == 0 &&
          opened.st_ino == named.st_ino && opened.st_dev == named.st_dev) {
        if (fd_ >= 0) ::close(fd_);
        fd_ = fd;  // held until the process ends
        dir_ = depotDir;
        return true;
      }
      ::close(fd);
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return false;
  }

 private:
  std::mutex mutex_;
  int fd_ = -1;
  std::string dir_;
};

DepotClaim& OwnClaim() {
  static DepotClaim claim;
  return claim;
}

// The storage folder and its depot, made when missing, and this process's
// claim on the depot.
bool ReadyDepot(int tid) {
  const ServiceState& s = State();
  bool dirsReady = true;
  if (!EnsureDirectory(s.storageDir)) {
    LogLine("Thread(%d): Failed to create stor scp dir. dir(%s).", tid, s.storageDir.c_str());
    dirsReady = false;
  } else if (!EnsureDirectory(s.depotDir)) {
    LogLine("Thread(%d): Failed to create depot dir. dir(%s).", tid, s.depotDir.c_str());
    dirsReady = false;
  }
  if (!dirsReady) {
    LogLine("Thread(%d): Failed to create depot dir. depot dir(%s).", tid, s.depotDir.c_str());
    return false;
  }
  if (!OwnClaim().ensure(s.depotDir)) {
    LogLine("Thread(%d): Failed to lock the depot claim of this process. dir(%s).", tid, s.depotDir.c_str());
    return false;
  }
  return true;
}

// Whether the process `pid` still holds its claim. A claim nobody holds is
// removed, under its lock, so that only live claims stay in the depot.
bool ClaimHeld(const std::string& depotDir, long pid) {
  const std::string path = ClaimPath(depotDir, pid);
  const int fd = ::open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC);
  if (fd < 0) return false;
  const bool held = ::flock(fd, LOCK_EX | LOCK_NB) != 0 && errno == EWOULDBLOCK;
  if (!held) ::unlink(path.c_str());
  ::close(fd);
  return held;
}

// Group 2 in the order the files of this service always carry it.
bool AddGroupTwo(int fileId, MC_TRANSFER_SYNTAX syntax, int tid) {
  char syntaxUid[kSyntaxUidSize] = {};
  char sopClass[kUidBufferSize] = {};
  char sopInstance[kUidBufferSize] = {};
  MC_STATUS st = MC_Get_Transfer_Syntax_From_Enum(syntax, syntaxUid, sizeof syntaxUid);
  if (st != MC_NORMAL_COMPLETION) {
    LogLine("Thread(%d): Failed to get xfer syntax uid. err(%s)", tid, MC_Error_Message(st));
    return false;
  }
  if ((st = MC_Set_Value_From_String(fileId, zyl::tags::kTransferSyntaxUid, syntaxUid)) != MC_NORMAL_COMPLETION) {
    LogLine("Thread(%d): Failed to set xfer syntax. err(%s)", tid, MC_Error_Message(st));
    return false;
  }
  if ((st = MC_Set_Value_From_Function(fileId, zyl::tags::kMetaVersion, nullptr, SupplyMetaVersion)) !=
      MC_NORMAL_COMPLETION) {
    LogLine("Thread(%d): Failed to set meta version. err(%s)", tid, MC_Error_Message(st));
    return false;
  }
  if ((st = MC_Get_Value_To_String(fileId, zyl::tags::kSopClassUid, sizeof sopClass, sopClass)) !=
      MC_NORMAL_COMPLETION) {
    LogLine("Thread(%d): Failed to get sop class uid. err(%s)", tid, MC_Error_Message(st));
    return false;
  }
  if ((st = MC_Set_Value_From_String(fileId, zyl::tags::kMediaSopClassUid, sopClass)) != MC_NORMAL_COMPLETION) {
    LogLine("Thread(%d): Failed to set media sop class uid. err(%s)", tid, MC_Error_Message(st));
    return false;
  }
  if ((st = MC_Get_Value_To_String(fileId, zyl::tags::kSopInstanceUid, sizeof sopInstance, sopInstance)) !=
      MC_NORMAL_COMPLETION) {
    LogLine("Thread(%d): Failed to get sop instance uid. err(%s)", tid, MC_Error_Message(st));
    return false;
  }
  if ((st = MC_Set_Value_From_String(fileId, zyl::tags::kMediaSopInstanceUid, sopInstance)) != MC_NORMAL_COMPLETION) {
    LogLine("Thread(%d): Failed to set sop instance uid. err(%s)", tid, MC_Error_Message(st));
    return false;
  }
  if ((st = MC_Set_Value_From_String(fileId, zyl::tags::kSourceAeTitle, State().ownEntity.AET.c_str())) !=
      MC_NORMAL_COMPLETION) {
    LogLine("Thread(%d): Failed to set aet. err(%s)", tid, MC_Error_Message(st));
    return false;
  }
  return true;
}

}  // namespace

// One object on its way to disk: the depot file the toolkit writes through
// WriteBlock, and where it goes when it is whole.
struct PendingStore {
  WriteContext ctx;
  std::string fileName;
  std::string finalPath;
  MC_TRANSFER_SYNTAX syntax = MC_TS_INVALID;
};

void PendingStoreDeleter::operator()(PendingStore* store) const { delete store; }

PendingStorePtr PrepareStore(const std::string& fileName, int messageId, int threadId) {
  const ServiceState& s = State();
  const int tid = threadId;
  PendingStorePtr store(new PendingStore);
  if (const MC_STATUS st = MC_Get_Message_Transfer_Syntax(messageId, &store->syntax); st != MC_NORMAL_COMPLETION) {
    LogLine("Thread(%d): Failed to read xfer syntax from message. err(%s).", tid, MC_Error_Message(st));
    return nullptr;
  }
  // A depot file of its own for every write, named after this process so
  // that a later start-up can tell leftovers from files still being written.
  store->ctx.threadId = tid;
  store->ctx.path = s.depotDir + "/" + std::to_string(::getpid()) + "-" + std::to_string(++depotSequence) + "-" +
                    fileName + kDepotSuffix;
  store->fileName = fileName;
  store->finalPath = s.storageDir + "/" + fileName;

  if (MC_Message_To_File(messageId, store->ctx.path.c_str()) != MC_NORMAL_COMPLETION) {
    LogLine("Thread(%d): Failed to convert message to file.", tid);
    return nullptr;
  }
  if (!AddGroupTwo(messageId, store->syntax, tid)) {
    LogLine("Thread(%d): Failed to add group 2 elements to file.", tid);
    return nullptr;
  }
  return store;
}

MC_STATUS WritePendingStore(const char* fileName, void* userInfo, int dataSize, void* dataBuffer, int isFirst,
                            int isLast) {
  return WriteBlock(fileName, &static_cast<PendingStore*>(userInfo)->ctx, dataSize, dataBuffer, isFirst, isLast);
}

bool FinishStore(PendingStore& store, int fileId, MC_STATUS written, const std::string& serviceName) {
  const ServiceState& s = State();
  const int tid = store.ctx.threadId;
  {
    // The received message, made a file by the toolkit: freed here.
    const zyl::toolkit::FileHandle file(fileId);
    LogLine("Thread(%d): Writing file(%s), snytax(%s), type(%s)", tid, store.fileName.c_str(),
            MC_Transfer_Syntax_Name(store.syntax), serviceName.c_str());
  }
  const bool closed = store.ctx.closeFile();
  if (written != MC_NORMAL_COMPLETION || !closed || !store.ctx.created) {
    LogLine("Thread(%d): Failed to write file(%s).", tid, store.fileName.c_str());
    return false;
  }
  // rename() replaces an older file of the same name in one step: readers see
  // the old file or the new one, never none and never a mix.
  if (::rename(store.ctx.path.c_str(), store.finalPath.c_str()) != 0) {
    LogLine("Thread(%d): Failed to move file from (%s) to (%s).", tid, store.ctx.path.c_str(), store.finalPath.c_str());
    return false;
  }
  store.ctx.moved = true;
  if (!FlushDirectory(s.storageDir)) {
    LogLine("Thread(%d): Failed to flush dir(%s).", tid, s.storageDir.c_str());
    return false;
  }
  return true;
}

void RemoveStaleDepotFiles(const std::string& depotDir) {
  namespace fs = std::filesystem;
  std::error_code ec;
  std::map<long, bool> alive;  // by pid, decided once per pass
  for (const auto& entry : fs::directory_iterator(depotDir, ec)) {
    const std::string name = entry.path().filename().string();
    const bool depotFile = name.ends_with(kDepotSuffix);
    if ((!depotFile && !name.ends_with(kClaimSuffix)) || !entry.is_regular_file(ec)) continue;
    char* end = nullptr;
    const long pid = std::strtol(name.c_str(), &end, 10);
    if (pid <= 0 || end == nullptr || *end != (depotFile ? '-' : '.')) continue;
    // Files named after this process are an earlier process's with the same pid.
    if (pid == ::getpid()) {
      if (depotFile && fs::remove(entry.path(), ec)) LogLine("Removed stale depot file(%s).", entry.path().c_str());
      continue;
    }
    auto known = alive.find(pid);
    if (known == alive.end()) known = alive.emplace(pid, ClaimHeld(depotDir, pid)).first;
    if (known->second || !depotFile) continue;  // a live writer's file, or a claim already dealt with
    if (fs::remove(entry.path(), ec)) LogLine("Removed stale depot file(%s).", entry.path().c_str());
  }
}

}  // namespace zyl::storscp

// Shared pieces of the ZYLffOrvo file object: instance helpers, owners of
// toolkit ids and host file units, the way its steps report, and the steps
// themselves (open, create, clone, commit).
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "file_instance.h"
#include "host_temporary.h"
#include "messages.h"
#include "toolkit/handles.h"
#include "toolkit/mc.h"
#include "toolkit/tags.h"
#include "zyl/host.h"

namespace orvo::file {

// Every UID and configuration string is handled within this size.
constexpr int kUidBufferSize = 66;
constexpr const char* kAppName = "ZYL_ORVO";

enum FileMode : int32_t { kModeOpened = 0, kModeCloned = 1, kModeCreated = 2 };

// Which name an open reads: ORVOFILENAME or ORVOFILECLONED.
enum class Source { FileName = 0, Cloned = 1 };
// How failures are reported: errors that end the call, or information after
// which the step returns 0.
enum class ReportMode { Fail = 0, Inform = 1 };

inline std::string text(const zyl::HostString& s) { return std::string(zyl::hostStringText(s)); }
inline std::string fileName(const FileInstance& file) { return text(file.fileName); }
inline void assign(zyl::HostString& field, std::string_view value) {
  HostStringStore(&field, value.data(), static_cast<int32_t>(value.size()));
}
inline bool hasDataSet(const FileInstance& file) { return file.msgFileId > 0; }

// Issues messages with the action of a report mode. With ReportMode::Fail
// say() does not return.
class Reporter {
 public:
  explicit Reporter(ReportMode mode) : action_(mode == ReportMode::Fail ? HOST_MSG_ERROR : HOST_MSG_INFO) {}
  template <typename... Texts>
  void say(int code, const Texts&... texts) const {
    if (action_ == HOST_MSG_ERROR) fail(code, texts...);
    report(code, action_, texts...);
  }

 private:
  int action_;
};

// Owns a host file unit; closes it unless already closed.
class HostUnit {
 public:
  HostUnit() = default;
  explicit HostUnit(int unit) : unit_(unit) {}
  HostUnit(const HostUnit&) = delete;
  HostUnit& operator=(const HostUnit&) = delete;
  ~HostUnit() { close(); }
  bool open() const { return unit_ != HOST_FILE_FAILED; }
  int get() const { return unit_; }
  FILE* stream() const { return open() ? HostFileStat(unit_) : nullptr; }
  void close() {
    if (open()) HostFileClose(unit_);
    unit_ = HOST_FILE_FAILED;
  }

 private:
  int unit_ = HOST_FILE_FAILED;
};

// ---- Steps of the object ------------------------------------------------

// Loads the data set from disk unless one is open: 1, or 0 after a message
// (ReportMode::Inform; ReportMode::Fail ends the call instead).
int openOnDemand(FileInstance& file, Source source, ReportMode mode);

// Writes the meta group of a data set read without one, from its own
// attributes and the syntax it was read with. 1, or 0 after a message.
int writeStreamMeta(FileInstance& file, int syntax, ReportMode mode);

// Init's modes 2 and 1; failures end the call.
void createDataSet(FileInstance& file);
void cloneDataSet(FileInstance& file);
// Writes the data set to ORVOFILENAME and releases it; failures end the call.
void commitDataSet(FileInstance& file);

// Re-encodes a cloned or created object's data set into the syntax `uid`
// (one of the eight named), marks a lossy result unless keepLossyMarks, and
// writes and releases it; failures end the call.
void convertTransferSyntax(FileInstance& file, const std::string& uid, bool keepLossyMarks);

// SetValue without CLEAR or REMOVE: empties the attribute of the SEQID item
// (0: the file's message) and writes the value in the VR named; failures end
// the call.
void setAttributeValue(FileInstance& file, int32_t seqId, const std::string& tagString, const std::string& vrString,
                       HostVar* value);
// Refuses, as setAttributeValue would, a value that cannot be written in the
// VR named, without writing anything.
void checkAttributeValue(const FileInstance& file, const std::string& tagString, const std::string& vrString,
                         HostVar* value);

// GetValue: the value of the attribute a tag string names in the SEQID item
// (0: the file's message), as a new temporary typed by its VR; failures end
// the call.
HostVar* readAttribute(const FileInstance& file, int32_t seqId, const std::string& tagString);

// GetValueLength on message or item `id`: the length of value `valueIndex`,
// or with 0 the sum over all values (a sequence: its first item); 0 for an
// attribute without values. Failures end the call.
uint32_t attributeLength(int id, uint32_t tag, int32_t valueIndex, const std::string& tagString);

// The module-wide object counter: incremented by every Init.
uint32_t nextObjectNumber();
uint32_t objectCounter();
// A new UID in buffer (size bytes, at most 64 characters used). Returns 1.
int generateUid(char* buffer, size_t size);
// The arc of UIDs made from UUIDs.
extern const char* const kUuidRoot;

}  // namespace orvo::file

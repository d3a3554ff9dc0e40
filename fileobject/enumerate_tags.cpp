// EnumerateTags: the attributes of the data set within a range of tags, with
// every sequence item below them, as ZYLFFORVOELEMENT records and, on
// request, as a fixed-width text report.
#include <algorithm>
#include <array>
#include <climits>
#include <cstdarg>
#include <cstddef>
#include <cstdio>
#include <optional>
#include <string>
#include <vector>

#include "attribute_walk.h"
#include "file_method.h"
#include "file_methods.h"
#include "file_object.h"
#include "tags.h"
#include "toolkit/tags.h"
#include "transfer_syntax.h"

namespace orvo::file {
namespace {

// A record's value text holds at most this many bytes with its terminator.
constexpr size_t kValueTextSize = 10240;
// Room a value read as text gets beyond its length (numbers are longer as text).
constexpr unsigned long kTextSlack = 256;
constexpr int kDescriptionSize = 1024;
// One report line at most, with its terminator.
constexpr size_t kLineSize = 2048;
constexpr size_t kMaxLevelMarks = 48;
constexpr size_t kTagColumnSize = 46;

bool isEmpty(MC_STATUS status) { return status == MC_EMPTY_VALUE || status == MC_NULL_VALUE; }

struct EnumerateKeywords {
  HostVar* count;
  int countGiven;
  zyl::HostString fileName;
  int32_t quiet;
  zyl::HostString startTag;
  zyl::HostString stopTag;
  static const HostKeyword table[];
};
const HostKeyword EnumerateKeywords::table[] = {
    {"COUNT", HOST_KW_REF, offsetof(EnumerateKeywords, count), offsetof(EnumerateKeywords, countGiven)},
    {"FILENAME", HOST_KW_STRING, offsetof(EnumerateKeywords, fileName), HOST_KW_NO_GIVEN},
    {"QUIET", HOST_KW_INT, offsetof(EnumerateKeywords, quiet), HOST_KW_NO_GIVEN},
    {"START_TAG", HOST_KW_STRING, offsetof(EnumerateKeywords, startTag), HOST_KW_NO_GIVEN},
    {"STOP_TAG", HOST_KW_STRING, offsetof(EnumerateKeywords, stopTag), HOST_KW_NO_GIVEN},
    {nullptr, HOST_KW_INT, 0, 0}};

// One record in the making.
struct Row {
  uint32_t tag;
  std::string description;
  const char* vr;
  uint32_t length;
  int32_t valueCount;
  int32_t seqId;
  int32_t groupNum;
  int32_t level;
  std::string value;
};

std::string tagText(uint32_t tag) {
  char text[16];
  std::snprintf(text, sizeof text, "%.4x,%.4x", tag >> 16, tag & 0xFFFFu);
  return text;
}

// Values held as bytes: listed with their length, without a text.
bool isBinary(int vr) {
  return vr == MC_VR_OB || vr == MC_VR_OW || vr == MC_VR_OF || vr == MC_VR_OD || vr == MC_VR_OL || vr == MC_VR_OV;
}

// Text appended to a value text that stops growing at its buffer's size.
void appendCut(std::string& text, std::string_view more) {
  const size_t room = kValueTextSize - 1 - std::min(text.size(), kValueTextSize - 1);
  text.append(more.substr(0, room));
}

// Walks a data set depth first, one row per attribute that has a value.
class Walker {
 public:
  explicit Walker(bool quiet) : quiet_(quiet) {}

  // The attributes of message or item `id` from the first one at or above
  // `start` to the last one below `stop` (items are walked unbounded).
  void walk(int id, int32_t level, std::optional<uint32_t> start = {}, std::optional<uint32_t> stop = {}) {
    walkAttributes(id, start, stop, false,
                   [&](uint32_t tag, MC_VR vr, int count) { visit(id, tag, vr, count, level); });
  }

  std::vector<Row>& rows() { return rows_; }

 private:
  void visit(int id, uint32_t tag, int vr, int count, int32_t level) {
    if (vr == MC_VR_SQ) return visitSequence(id, tag, level);
    if (vr == MC_VR_UN) {
      if (!quiet_)
        report(kErrs3, HOST_MSG_INFO, "Warning: Skipping tag, unsupported VR type (tag/vr)", tagText(tag), "UN");
      return;
    }
    if (count < 1) return;
    const std::string tagString = tagText(tag);
    const bool binary = isBinary(vr);
    uint64_t length = 0;
    std::string value;
    bool full = false;
    for (int i = 1; i <= count; ++i) {
      unsigned long valueLength = 0;
      const MC_STATUS status = MC_Get_Value_Length(id, tag, i, &valueLength);
      if (status != MC_NORMAL_COMPLETION && !isEmpty(status))
        fail(kErrs3, "Error: Failed to get value length (tag/err) ", tagString, errorText(status));
      if (isEmpty(status)) valueLength = 0;
      length += valueLength;
      if (binary) {
        if (valueLength > 0) break;
        continue;
      }
      // Every value is read, empty ones too, so that each keeps its place
      // between the separators; a full text takes no more.
      if (full) continue;
      if (i > 1) appendCut(value, "\\");
      appendCut(value, readText(id, tag, i, valueLength, tagString));
      full = value.size() >= kValueTextSize - 1;
    }
    if (binary && length == 0) return;
    if (tag == zyl::tags::kTransferSyntaxUid) appendCut(value, std::string(" - ") + syntaxNameOf(value));
    addRow(id, tag, vrName(vr), static_cast<uint32_t>(std::min<uint64_t>(length, UINT32_MAX)), count, level,
           std::move(value));
  }

  static std::string readText(int id, uint32_t tag, int number, unsigned long length, const std::string& tagString) {
    if (length > static_cast<unsigned long>(INT_MAX) - kTextSlack)
      fail(kErrs3, "Error: Failed to get value for tag (tag/err) ", tagString, errorText(MC_VALUE_TOO_LARGE));
    std::string buffer(length + kTextSlack, '\0');
    const int size = static_cast<int>(buffer.size());
    const MC_STATUS status = number == 1 ? MC_Get_Value_To_String(id, tag, size, buffer.data())
                                         : MC_Get_Next_Value_To_String(id, tag, size, buffer.data());
    if (isEmpty(status)) return {};
    if (status != MC_NORMAL_COMPLETION)
      fail(kErrs3, "Error: Failed to get value for tag (tag/err) ", tagString, errorText(status));
    buffer.resize(buffer.find('\0'));
    return buffer;
  }

  static const char* syntaxNameOf(const std::string& uid) {
    MC_TRANSFER_SYNTAX number = MC_TS_INVALID;
    if (MC_Get_Enum_From_Transfer_Syntax(uid.c_str(), &number) != MC_NORMAL_COMPLETION) number = MC_TS_INVALID;
    const char* name = transferSyntaxName(static_cast<int>(number));
    return name[0] == ' ' ? name + 1 : name;
  }

  void visitSequence(int id, uint32_t tag, int32_t level) {
    const std::string tagString = tagText(tag);
    int items = 0;
    const MC_STATUS status = MC_Get_Value_Count(id, tag, &items);
    if (items <= 0) return;
    if (status != MC_NORMAL_COMPLETION)
      fail(kErrs3, "Error: Failed to get sequence count (tag/err) ", tagString, errorText(status));
    addRow(id, tag, "SQ", attributeLength(id, tag, 0, tagString), items, level, {});

    // The item ids first, then the items: nothing moves the value cursor
    // of the sequence between its reads.
    std::vector<int> itemIds(static_cast<size_t>(items));
    for (int i = 0; i < items; ++i) {
      int item = 0;
      const MC_STATUS read = i == 0 ? MC_Get_Value_To_Int(id, tag, &item) : MC_Get_Next_Value_To_Int(id, tag, &item);
      if (read != MC_NORMAL_COMPLETION)
        fail(kErrs3,
             i == 0 ? "Error: Failed to get source sequence item id (tag/err) "
                    : "Error: Failed to get next group item id from source sequence (tag/err) ",
             tagString, errorText(read));
      itemIds[static_cast<size_t>(i)] = item;
    }
    for (size_t i = 0; i < itemIds.size(); ++i) {
      pendingGroup_ = items > 1 ? static_cast<int32_t>(i + 1) : 0;
      walk(itemIds[i], level + 1);
      pendingGroup_ = 0;  // an item without records leaves no marker behind
    }
  }

  void addRow(int id, uint32_t tag, const char* vr, uint32_t length, int32_t count, int32_t level, std::string value) {
    std::array<char, kDescriptionSize> description{};
    MC_Get_Tag_Info(tag, description.data(), kDescriptionSize);  // unknown tags have no description
    description.back() = '\0';
    rows_.push_back(Row{tag, description.data(), vr, length, count, id, pendingGroup_, level, std::move(value)});
    pendingGroup_ = 0;
  }

  bool quiet_;
  int32_t pendingGroup_ = 0;  // item number the next record opens
  std::vector<Row> rows_;
};

HostVar* recordsOf(const std::vector<Row>& rows) {
  const auto count = static_cast<int64_t>(rows.size());
  void* data = nullptr;
  HostTemporary result(HostMakeTempStructArray(elementStructure(), 1, &count, 1, &data));
  auto* records = static_cast<ElementRecord*>(data);
  for (size_t i = 0; i < rows.size(); ++i) {
    const Row& row = rows[i];
    ElementRecord& record = records[i];
    assign(record.tag, tagText(row.tag));
    assign(record.description, row.description);
    assign(record.vr, row.vr);
    record.length = row.length;
    record.valueCount = row.valueCount;
    record.seqId = row.seqId;
    record.groupNum = row.groupNum;
    record.level = row.level;
    assign(record.value, row.value);
  }
  return result.release();
}

// ---- the report ----------------------------------------------------------------

// Writes one line of at most kLineSize - 1 bytes; false when not all of it
// was written.
[[gnu::format(printf, 2, 3)]] bool writeLine(FILE* out, const char* format, ...) {
  std::array<char, kLineSize> line{};
  va_list args;
  va_start(args, format);
  const int n = std::vsnprintf(line.data(), line.size(), format, args);
  va_end(args);
  const size_t length = n < 0 ? 0 : std::min(static_cast<size_t>(n), line.size() - 1);
  return std::fwrite(line.data(), 1, length, out) == length;
}

bool writeRows(FILE* out, const std::string& path, const FileInstance& file, const std::vector<Row>& rows) {
  if (!writeLine(out,
                 "\r\n\r\n ZYL Orvo Enumerate Tags \r\n Date: %s \r\n Filename: %s \r\n Dicom File: %s \r\n Note: The "
                 "description and values fields can be truncated. \r\n\r\n",
                 HostCurrentTime().c_str(), path.c_str(), fileName(file).c_str()))
    return false;
  if (!writeLine(out, " %3s,%2s, %14s, %3s, %7s, %3s,  %-25s,  %-s \r\n\r\n", "idx", "lvl", "tag", "vr", "len", "cnt",
                 "description", "value"))
    return false;
  for (size_t i = 0; i < rows.size(); ++i) {
    const Row& row = rows[i];
    if (row.groupNum != 0 && !writeLine(out, "%15s, %1d\r\n", "Group", row.groupNum)) return false;
    std::string column(std::min(static_cast<size_t>(std::max(row.level, 0)), kMaxLevelMarks), '>');
    column += tagText(row.tag);
    column.resize(std::min(column.size(), kTagColumnSize));
    if (!writeLine(out, " %3zu, %2d, %-14s, %3s, %7u, %3d,  %-25.25s,  %-45.45s \r\n", i, row.level, column.c_str(),
                   row.vr, row.length, row.valueCount, row.description.c_str(), row.value.c_str()))
      return false;
  }
  return std::fflush(out) == 0;  // what stays buffered must reach the file too
}

void writeReport(const std::string& path, const FileInstance& file, const std::vector<Row>& rows) {
  HostUnit unit(HostFileOpen(path.c_str(), HOST_FILE_WRITE, HOST_FILE_STDIO));
  if (!unit.open()) fail(kErrs2, "Error: Failed to open file ", path);
  FILE* out = unit.stream();
  if (out == nullptr) fail(kErrs2, "Error: Failed to get file ptr ", path);
  if (!writeRows(out, path, file, rows)) {
    unit.close();
    report(kErrs2, HOST_MSG_INFO, "Error: fwrite failed ", path);
  }
}

// ---- the method -------------------------------------------------------------------

HostVar* enumerateWorker(MethodCall<FileInstance, EnumerateKeywords>& call) {
  const FileInstance& self = call.self();
  const EnumerateKeywords& kw = call.keywords();
  const std::string start = text(kw.startTag);
  const std::string stop = text(kw.stopTag);
  const std::optional<uint32_t> startTag = rangeBound(start, "Error: Failed to interpret StartTag keyword value. ");
  const std::optional<uint32_t> stopTag = rangeBound(stop, "Error: Failed to interpret StopTag keyword value. ");

  Walker walker(kw.quiet != 0);
  walker.walk(self.msgFileId, 0, startTag, stopTag);
  const std::vector<Row>& rows = walker.rows();
  if (rows.empty()) fail(kErrs3, "Error: Failed to find any tags between the start and stop tags. ", start, stop);

  HostTemporary records(recordsOf(rows));
  const std::string reportPath = text(kw.fileName);
  if (!reportPath.empty()) writeReport(reportPath, self, rows);
  if (kw.countGiven) storeUInt32(kw.count, static_cast<uint32_t>(rows.size()));
  return records.release();
}

}  // namespace

MethodRows enumerateTagsMethods() {
  static const MethodRow kRows[] = {
      functionRow("ZYLFFORVO::ENUMERATETAGS", fileMethodEntry<EnumerateKeywords, FileArgs<>, enumerateWorker>, 1, 1,
                  HOST_ROUTINE_KEYWORDS),
  };
  return kRows;
}

}  // namespace orvo::file

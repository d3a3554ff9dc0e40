#include "cfg_document.h"

#include "host_temporary.h"

#include <cstddef>
#include <cstring>

namespace orvo::netconfig {
namespace {

ConfigDocument* heldDocument(const CfgInstance& cfg) {
  return cfg.xmlDoc != 0 ? reinterpret_cast<ConfigDocument*>(static_cast<intptr_t>(cfg.xmlDoc)) : nullptr;
}

std::string_view text(const zyl::HostString& s) { return zyl::hostStringText(s); }

}  // namespace

ConfigDocument& documentOf(CfgInstance& cfg) {
  if (ConfigDocument* held = heldDocument(cfg)) return *held;
  static ConfigDocument empty;
  return empty;
}

bool holdsDocument(const CfgInstance& cfg) { return heldDocument(cfg) != nullptr; }

void holdDocument(CfgInstance& cfg, std::unique_ptr<ConfigDocument> document) {
  // The document owns its parser, so both fields name the one object.
  const auto handle = static_cast<int64_t>(reinterpret_cast<intptr_t>(document.release()));
  cfg.xmlDoc = handle;
  cfg.xmlParser = handle;
}

int releaseDocument(CfgInstance& cfg, std::span<char> message) {
  std::unique_ptr<ConfigDocument> document(heldDocument(cfg));
  cfg.xmlDoc = 0;
  cfg.xmlParser = 0;
  if (!document) {
    if (!message.empty()) message[0] = '\0';
    return 0;
  }
  return zyl::config::ReleaseConfig(*document, text(cfg.xmlFile), message);
}

void releaseCfgInstance(void* instanceData) {
  if (instanceData == nullptr) return;
  AccessMessage ignored{};
  releaseDocument(*static_cast<CfgInstance*>(instanceData), ignored);
}

std::string pathOf(const CfgInstance& cfg) { return std::string(text(cfg.xmlFile)); }

void failWith(const AccessMessage& message) { fail(kErrs1, std::string(message.data())); }

std::string argumentText(HostVar* value) {
  if (value->isScalarString()) return std::string(value->text());
  const HostTemporary converted(HostToString(value));
  return std::string(converted.get()->text());
}

std::string_view withoutLeadingBlanks(std::string_view text) {
  while (text.size() > 1 && text.front() == ' ') text.remove_prefix(1);
  return text;
}

long decimalValue(std::string_view text) {
  if (text.empty() || text.size() > 9) return -1;
  long value = 0;
  for (const char c : text) {
    if (c < '0' || c > '9') return -1;
    value = value * 10 + (c - '0');
  }
  return value;
}

bool isValidAeTitle(std::string_view title) {
  if (title.empty() || title.size() > 16) return false;
  bool anyNonBlank = false;
  for (const char c : title) {
    if (c < 0x20 || c > 0x7E || c == '\\') return false;
    anyNonBlank = anyNonBlank || c != ' ';
  }
  return anyNonBlank;
}

}  // namespace orvo::netconfig

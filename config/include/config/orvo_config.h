// Access layer of orvocfg.xml, the network configuration of the module and of
// the storage service: load the file into a DOM document, read and change its
// parameters, application entities, service lists and service types, and
// write it back.
//
// Every function returns 0 on success and 1 on failure. It clears the
// caller's message buffer first and, on failure, leaves exactly one message
// in it (cut to the buffer's size); it never reports anything itself. The
// path argument is used only in messages. Nothing here throws.
//
// Elements are found by tag name anywhere in the document, the first of a
// name counting; names are case-sensitive. Text crosses between the DOM and
// callers as UTF-8.
//
// A ConfigDocument belongs to one thread at a time; different documents may
// be used on different threads at once.
#pragma once

#include <cstdint>
#include <memory>
#include <span>
#include <string_view>
#include <type_traits>

#include "config/fixed_text.h"

namespace zyl::config {

// The name under which the storage service is registered with the service
// manager: the service program installs itself under it, the configuration
// object starts, stops and queries it.
inline constexpr const char* kStorageServiceName = "ZYL Orvo Storage SCP";

inline constexpr std::size_t kCfgTextSize = 32;  // bytes of each text field, terminator included
using CfgText = FixedText<kCfgTextSize>;

// One application entity as handed to callers: a plain record of fixed size,
// copied by value. A record that was not filled is all zero bytes.
struct CfgApplEntity {
  CfgText Name;         // the entity's Name attribute, the key of the table
  CfgText AET;          // DICOM application entity title
  CfgText Hostname;     // host name or address of the node
  std::int32_t Port{};  // leading decimal number of the Port text, else 0
  CfgText ServiceList;  // toolkit service list the entity uses
  CfgText ServiceType;  // role of the entity
};
static_assert(sizeof(CfgApplEntity) == 5 * kCfgTextSize + sizeof(std::int32_t));
static_assert(std::is_trivially_copyable_v<CfgApplEntity>);

// A parsed configuration file: the DOM document and the parser that owns it.
// Empty until LoadConfig fills it; released by ReleaseConfig or when the
// object is destroyed. Move-only.
class ConfigDocument {
 public:
  ConfigDocument() noexcept;
  ~ConfigDocument();
  ConfigDocument(ConfigDocument&&) noexcept;
  ConfigDocument& operator=(ConfigDocument&&) noexcept;
  ConfigDocument(const ConfigDocument&) = delete;
  ConfigDocument& operator=(const ConfigDocument&) = delete;

  bool isOpen() const noexcept { return state_ != nullptr; }

  struct State;  // defined by the implementation

 private:
  friend State* StateOf(const ConfigDocument& document) noexcept;
  friend void Adopt(ConfigDocument& document, std::unique_ptr<State> state) noexcept;
  friend std::unique_ptr<State> Detach(ConfigDocument& document) noexcept;

  std::unique_ptr<State> state_;
};

// Loads the file at `path` into `document`, replacing what it held. A missing,
// unreadable or malformed file fails and leaves `document` empty; for a file
// the parser refused, the message ends with the line and the parser's reason.
// A DOCTYPE, external entities and elements nested more than 16 deep are
// refused.
int LoadConfig(std::string_view path, ConfigDocument& document, std::span<char> message);

// Destroys the parser, which frees the document. An empty document is no error.
int ReleaseConfig(ConfigDocument& document, std::string_view path, std::span<char> message);

// Writes the whole document to `path` through a temporary file in the same
// folder that is renamed into place, so a failed write leaves the previous
// file untouched. A document written without changes since it was loaded
// reproduces the file byte for byte; after changes, the text before and after
// the root element is kept as it was and the root element is serialised by
// the XML library.
int WriteConfig(ConfigDocument& document, std::string_view path, std::span<char> message);

// Parameters: the text of the first element named `name`. An empty element
// reads as the empty string; the value is cut to the buffer's size.
int ReadParam(const ConfigDocument& document, std::string_view name, std::span<char> value, std::string_view path,
              std::span<char> message);
int SetParam(ConfigDocument& document, std::string_view name, std::string_view value, std::string_view path,
             std::span<char> message);

// Application entities.
int CountApplEntities(const ConfigDocument& document, int& count, std::string_view path, std::span<char> message);
// Fills `entities` (zeroed first) in document order; with `filterByType` only
// the entities whose ServiceType equals `serviceType` exactly are kept.
// Entities beyond the array's size are not stored; size it from
// CountApplEntities.
int ReadApplEntities(const ConfigDocument& document, std::span<CfgApplEntity> entities, int& count, bool filterByType,
                     std::string_view serviceType, std::string_view path, std::span<char> message);
int ReadApplEntity(const ConfigDocument& document, std::string_view name, CfgApplEntity& entity, std::string_view path,
                   std::span<char> message);
int ApplEntityExists(const ConfigDocument& document, std::string_view name, bool& found, std::string_view path,
                     std::span<char> message);
// Updates the first entity named `name`, or adds one modelled on the first
// entity of the file when no entity has that name.
int SetApplEntity(ConfigDocument& document, std::string_view name, std::string_view aet, std::string_view hostname,
                  std::string_view port, std::string_view serviceList, std::string_view serviceType,
                  std::string_view path, std::span<char> message);
// Removing a name that no entity has succeeds and changes nothing.
int RemoveApplEntity(ConfigDocument& document, std::string_view name, std::string_view path, std::span<char> message);

// Service lists and service types: the texts of the element children of the
// first ServiceLists / ServiceTypes element, in document order.
int CountServiceLists(const ConfigDocument& document, int& count, std::string_view path, std::span<char> message);
int CountServiceTypes(const ConfigDocument& document, int& count, std::string_view path, std::span<char> message);
// Names beyond the array's size are not stored; size it from the count.
int ReadServiceLists(const ConfigDocument& document, std::span<CfgText> names, std::string_view path,
                     std::span<char> message);
int ReadServiceTypes(const ConfigDocument& document, std::span<CfgText> names, std::string_view path,
                     std::span<char> message);
int ServiceListExists(const ConfigDocument& document, std::string_view name, bool& found, std::string_view path,
                      std::span<char> message);

}  // namespace zyl::config

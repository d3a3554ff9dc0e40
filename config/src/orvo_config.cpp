#include "config/orvo_config.h"

#include <xercesc/dom/DOM.hpp>
#include <xercesc/util/XMLString.hpp>

#include <climits>
#include <cstring>
#include <optional>
#include <string>
#include <vector>

#include "config_document.h"
#include "config/file_io.h"
#include "files/replace.h"
#include "messages.h"
#include "xml_runtime.h"

namespace zyl::config {

using namespace xercesc;
using State = ConfigDocument::State;

// ------------------------------------------------------------ ConfigDocument

ConfigDocument::ConfigDocument() noexcept = default;
ConfigDocument::~ConfigDocument() = default;
ConfigDocument::ConfigDocument(ConfigDocument&&) noexcept = default;
ConfigDocument& ConfigDocument::operator=(ConfigDocument&&) noexcept = default;

State* StateOf(const ConfigDocument& document) noexcept { return document.state_.get(); }
void Adopt(ConfigDocument& document, std::unique_ptr<State> state) noexcept { document.state_ = std::move(state); }
std::unique_ptr<State> Detach(ConfigDocument& document) noexcept { return std::move(document.state_); }

namespace {

constexpr int kOk = 0;
constexpr int kFailed = 1;

// Element and attribute names of the file.
constexpr const XMLCh* kApplicationEntities = u"ApplicationEntities";
constexpr const XMLCh* kApplicationEntity = u"ApplicationEntity";
constexpr const XMLCh* kNameAttribute = u"Name";
constexpr const XMLCh* kAet = u"AET";
constexpr const XMLCh* kHostname = u"Hostname";
constexpr const XMLCh* kPort = u"Port";
constexpr const XMLCh* kServiceList = u"ServiceList";
constexpr const XMLCh* kServiceType = u"ServiceType";
constexpr const XMLCh* kServiceLists = u"ServiceLists";
constexpr const XMLCh* kServiceTypes = u"ServiceTypes";

void ClearMessage(std::span<char> message) noexcept {
  if (!message.empty()) message[0] = '\0';
}

int Fail(std::span<char> message, std::string_view format, std::initializer_list<std::string_view> arguments) noexcept {
  try {
    CopyBounded(message, msg::Format(format, arguments));
  } catch (...) {
    // Out of memory while formatting: leave the format itself.
    CopyBounded(message, format);
  }
  return kFailed;
}

// Adds `text` to the message already in `message`, cut to the buffer.
void AppendBounded(std::span<char> message, std::string_view text) noexcept {
  if (message.empty()) return;
  const std::size_t used = strnlen(message.data(), message.size() - 1);
  CopyBounded(message.subspan(used), text);
}

// Runs `body`, turning every exception of the library (and of the standard
// library, such as bad_alloc) into the operation's failure.
template <class Body, class OnFailure>
int Guarded(OnFailure&& onFailure, Body&& body) noexcept {
  try {
    return body();
  } catch (...) {
    // XMLException, DOMException, OutOfMemoryException (which share no base),
    // bad_alloc: none may leave the access layer.
  }
  return onFailure();
}

bool IsWhitespaceText(const DOMNode* node) {
  if (node == nullptr || node->getNodeType() != DOMNode::TEXT_NODE) return false;
  for (const XMLCh* c = node->getNodeValue(); c != nullptr && *c != 0; ++c) {
    if (*c != u' ' && *c != u'\t' && *c != u'\r' && *c != u'\n') return false;
  }
  return true;
}

template <class Visit>
void ForEachElementChild(const DOMNode& parent, Visit&& visit) {
  for (DOMNode* child = parent.getFirstChild(); child != nullptr; child = child->getNextSibling()) {
    if (child->getNodeType() == DOMNode::ELEMENT_NODE) visit(*static_cast<DOMElement*>(child));
  }
}

bool HasElementChild(const DOMNode& parent) {
  bool found = false;
  ForEachElementChild(parent, [&](DOMElement&) { found = true; });
  return found;
}

// The leading decimal integer of `text` as atoi reads it (leading blanks and a
// sign allowed), held to the 32-bit range; 0 when the text does not begin
// with a number.
std::int32_t LeadingInteger(std::string_view text) {
  std::size_t i = 0;
  while (i < text.size() && (text[i] == ' ' || (text[i] >= '\t' && text[i] <= '\r'))) ++i;
  bool negative = false;
  if (i < text.size() && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';
  long long value = 0;
  for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
    value = value * 10 + (text[i] - '0');
    if (value > static_cast<long long>(INT32_MAX) + 1) break;
  }
  if (negative) value = -value;
  if (value > INT32_MAX) return INT32_MAX;
  if (value < INT32_MIN) return INT32_MIN;
  return static_cast<std::int32_t>(value);
}

// Copies the known field elements of an ApplicationEntity into `entity`.
// Returns false when the element has no element child at all.
bool ReadEntityFields(const DOMElement& element, CfgApplEntity& entity) {
  bool anyElement = false;
  ForEachElementChild(element, [&](DOMElement& child) {
    anyElement = true;
    const XMLCh* tag = child.getTagName();
    if (XMLString::equals(tag, kAet)) {
      entity.AET.assign(xml::ElementText(child));
    } else if (XMLString::equals(tag, kHostname)) {
      entity.Hostname.assign(xml::ElementText(child));
    } else if (XMLString::equals(tag, kPort)) {
      entity.Port = LeadingInteger(xml::ElementText(child));
    } else if (XMLString::equals(tag, kServiceList)) {
      entity.ServiceList.assign(xml::ElementText(child));
    } else if (XMLString::equals(tag, kServiceType)) {
      entity.ServiceType.assign(xml::ElementText(child));
    }
  });
  return anyElement;
}

DOMElement* FindEntity(const DOMDocument& document, const std::u16string& name) {
  DOMElement* found = nullptr;
  xml::ForEachElementNamed(document, kApplicationEntity, [&](DOMElement& entity) {
    if (XMLString::equals(entity.getAttribute(kNameAttribute), name.c_str())) found = &entity;
    return found == nullptr;
  });
  return found;
}

// The values of an entity's field elements, converted once before the DOM is
// touched.
struct EntityFields {
  std::u16string aet, hostname, port, serviceList, serviceType;

  const std::u16string* forTag(const XMLCh* tag) const {
    if (XMLString::equals(tag, kAet)) return &aet;
    if (XMLString::equals(tag, kHostname)) return &hostname;
    if (XMLString::equals(tag, kPort)) return &port;
    if (XMLString::equals(tag, kServiceList)) return &serviceList;
    if (XMLString::equals(tag, kServiceType)) return &serviceType;
    return nullptr;
  }
};

enum class UpdateOutcome { kUpdated, kNoFields };

// Sets the text of each known field element of `entity`; missing fields are
// not created. `anyFieldSet` tells a caller that catches an exception whether
// the entity was already partly changed.
UpdateOutcome UpdateEntityFields(DOMElement& entity, const EntityFields& fields, bool& anyFieldSet) {
  if (!HasElementChild(entity)) return UpdateOutcome::kNoFields;
  ForEachElementChild(entity, [&](DOMElement& child) {
    if (const std::u16string* value = fields.forTag(child.getTagName())) {
      anyFieldSet = true;
      xml::SetElementText(child, *value);
    }
  });
  return UpdateOutcome::kUpdated;
}

// Adds a deep copy of the first entity of the document, renamed and updated,
// as the last entity of the first ApplicationEntities element. The copy is
// complete before it is inserted, so a failure leaves the document unchanged.
// It is indented like the entity it copies.
bool AddEntity(DOMDocument& document, const std::u16string& name, const EntityFields& fields, bool& modified) {
  DOMElement* container = xml::FirstElementByName(document, kApplicationEntities);
  DOMElement* model = xml::FirstElementByName(document, kApplicationEntity);
  if (container == nullptr || model == nullptr) return false;

  xml::Owned<DOMNode> copy(model->cloneNode(true));
  auto& entity = static_cast<DOMElement&>(*copy);
  entity.setAttribute(kNameAttribute, name.c_str());
  bool anyFieldSet = false;
  if (UpdateEntityFields(entity, fields, anyFieldSet) != UpdateOutcome::kUpdated) return false;

  xml::Owned<DOMNode> indent;
  if (IsWhitespaceText(model->getPreviousSibling())) {
    indent.reset(model->getPreviousSibling()->cloneNode(false));
  }
  // Before the whitespace that closes the list, so that it keeps closing it.
  DOMNode* closing = IsWhitespaceText(container->getLastChild()) ? container->getLastChild() : nullptr;
  // Once inserted, the nodes belong to the document.
  modified = true;
  if (indent) container->insertBefore(indent.release(), closing);
  container->insertBefore(copy.release(), closing);
  return true;
}

// Texts of the element children of the first element named `listName`;
// nullopt when there is no such element.
std::optional<std::vector<std::string>> NamesUnder(const DOMDocument& document, const XMLCh* listName) {
  const DOMElement* list = xml::FirstElementByName(document, listName);
  if (list == nullptr) return std::nullopt;
  std::vector<std::string> names;
  ForEachElementChild(*list, [&](DOMElement& child) { names.push_back(xml::ElementText(child)); });
  return names;
}

// Hands the names under listName to use; fail() when there is no document or
// no such list.
template <class OnFailure, class Use>
int WithNames(const ConfigDocument& document, const XMLCh* listName, const OnFailure& fail, const Use& use) {
  const State* state = StateOf(document);
  if (state == nullptr) return fail();
  return Guarded(fail, [&] {
    const auto names = NamesUnder(*state->document, listName);
    if (!names) return fail();
    use(*names);
    return kOk;
  });
}

int CountNames(const ConfigDocument& document, const XMLCh* listName, int& count, std::string_view failure,
               std::string_view path, std::span<char> message) {
  ClearMessage(message);
  count = 0;
  const auto fail = [&] { return Fail(message, failure, {path}); };
  return WithNames(document, listName, fail,
                   [&](const std::vector<std::string>& names) { count = static_cast<int>(names.size()); });
}

int ReadNames(const ConfigDocument& document, const XMLCh* listName, std::span<CfgText> entries,
              std::string_view failure, std::string_view path, std::span<char> message) {
  ClearMessage(message);
  for (CfgText& entry : entries) entry = CfgText();
  const auto fail = [&] { return Fail(message, failure, {path}); };
  return WithNames(document, listName, fail, [&](const std::vector<std::string>& names) {
    for (std::size_t i = 0; i < names.size() && i < entries.size(); ++i) entries[i].assign(names[i]);
  });
}

}  // namespace

// ------------------------------------------------------------ loading, writing

int LoadConfig(std::string_view path, ConfigDocument& document, std::span<char> message) {
  ClearMessage(message);
  // The previous document goes first: a failed load leaves none.
  Detach(document).reset();
  std::unique_ptr<State> state;
  std::optional<ParseFailure> failure;
  switch (LoadDocument(std::string(path), state, failure)) {
    case LoadOutcome::kLoaded:
      Adopt(document, std::move(state));
      return kOk;
    case LoadOutcome::kNoDocument:
      Fail(message, msg::kLoadNoDocument, {path});
      // Where and why the parser stopped, after the message.
      try {
        if (failure) AppendBounded(message, msg::ParseFailureText(failure->line, failure->reason));
      } catch (...) {
        // Out of memory: the message alone.
      }
      return kFailed;
    case LoadOutcome::kLibraryError:
      break;
  }
  return Fail(message, msg::kLoadException, {path});
}

int ReleaseConfig(ConfigDocument& document, std::string_view path, std::span<char> message) {
  ClearMessage(message);
  std::unique_ptr<State> state = Detach(document);
  // Destroying the parser frees the document.
  return Guarded([&] { return Fail(message, msg::kRelease, {path}); },
                 [&] {
                   state.reset();
                   return kOk;
                 });
}

int WriteConfig(ConfigDocument& document, std::string_view path, std::span<char> message) {
  ClearMessage(message);
  const auto fail = [&] { return Fail(message, msg::kWrite, {path}); };
  State* state = StateOf(document);
  if (state == nullptr) return fail();
  return Guarded(fail, [&] {
    std::string bytes = DocumentBytes(*state);
    if (files::ReplaceFile(std::string(path), bytes) != 0) return fail();
    MarkWritten(*state, std::move(bytes));
    return kOk;
  });
}

// ------------------------------------------------------------ parameters

int ReadParam(const ConfigDocument& document, std::string_view name, std::span<char> value, std::string_view path,
              std::span<char> message) {
  ClearMessage(message);
  CopyBounded(value, "");
  const auto fail = [&] { return Fail(message, msg::kReadParam, {name, path}); };
  const State* state = StateOf(document);
  if (state == nullptr) return fail();
  return Guarded(fail, [&] {
    const DOMElement* element = xml::FirstElementByName(*state->document, xml::ToXml(name).c_str());
    if (element == nullptr) return fail();
    CopyBounded(value, xml::ElementText(*element));
    return kOk;
  });
}

int SetParam(ConfigDocument& document, std::string_view name, std::string_view value, std::string_view path,
             std::span<char> message) {
  ClearMessage(message);
  const auto fail = [&] { return Fail(message, msg::kSetParam, {name, path}); };
  State* state = StateOf(document);
  if (state == nullptr) return fail();
  return Guarded(fail, [&] {
    const std::u16string text = xml::ToXml(value);
    DOMElement* element = xml::FirstElementByName(*state->document, xml::ToXml(name).c_str());
    if (element == nullptr) return fail();
    state->modified = true;
    xml::SetElementText(*element, text);
    return kOk;
  });
}

// ------------------------------------------------------------ application entities

int CountApplEntities(const ConfigDocument& document, int& count, std::string_view path, std::span<char> message) {
  ClearMessage(message);
  count = 0;
  const auto fail = [&] { return Fail(message, msg::kCountEntities, {path}); };
  const State* state = StateOf(document);
  if (state == nullptr) return fail();
  return Guarded(fail, [&] {
    xml::ForEachElementNamed(*state->document, kApplicationEntity, [&](DOMElement&) {
      ++count;
      return count < INT_MAX;
    });
    return kOk;
  });
}

int ReadApplEntities(const ConfigDocument& document, std::span<CfgApplEntity> entities, int& count, bool filterByType,
                     std::string_view serviceType, std::string_view path, std::span<char> message) {
  ClearMessage(message);
  for (CfgApplEntity& entity : entities) entity = CfgApplEntity{};
  count = 0;
  const auto fail = [&] {
    count = 0;
    for (CfgApplEntity& entity : entities) entity = CfgApplEntity{};
    return Fail(message, msg::kReadEntities, {path});
  };
  const State* state = StateOf(document);
  if (state == nullptr) return fail();
  return Guarded(fail, [&] {
    std::size_t kept = 0;
    xml::ForEachElementNamed(*state->document, kApplicationEntity, [&](DOMElement& element) {
      if (kept == entities.size()) return false;
      CfgApplEntity entity;
      entity.Name.assign(xml::FromXml(element.getAttribute(kNameAttribute)));
      ReadEntityFields(element, entity);
      if (!filterByType || entity.ServiceType == serviceType) entities[kept++] = entity;
      return true;
    });
    count = static_cast<int>(kept);
    return kOk;
  });
}

int ReadApplEntity(const ConfigDocument& document, std::string_view name, CfgApplEntity& entity, std::string_view path,
                   std::span<char> message) {
  ClearMessage(message);
  entity = CfgApplEntity{};
  const auto fail = [&] {
    entity = CfgApplEntity{};
    return Fail(message, msg::kReadEntity, {name, path});
  };
  const State* state = StateOf(document);
  if (state == nullptr) return fail();
  return Guarded(fail, [&] {
    const DOMElement* element = FindEntity(*state->document, xml::ToXml(name));
    if (element == nullptr) return fail();
    entity.Name.assign(name);
    if (!ReadEntityFields(*element, entity)) return fail();
    return kOk;
  });
}

int ApplEntityExists(const ConfigDocument& document, std::string_view name, bool& found, std::string_view path,
                     std::span<char> message) {
  ClearMessage(message);
  found = false;
  const auto fail = [&] { return Fail(message, msg::kEntityExists, {path}); };
  const State* state = StateOf(document);
  if (state == nullptr) return fail();
  return Guarded(fail, [&] {
    found = FindEntity(*state->document, xml::ToXml(name)) != nullptr;
    return kOk;
  });
}

int SetApplEntity(ConfigDocument& document, std::string_view name, std::string_view aet, std::string_view hostname,
                  std::string_view port, std::string_view serviceList, std::string_view serviceType,
                  std::string_view path, std::span<char> message) {
  ClearMessage(message);
  State* state = StateOf(document);
  if (state == nullptr) return Fail(message, msg::kFindAndSetEntity, {name, path});
  bool found = false;
  if (ApplEntityExists(document, name, found, path, message) != kOk) return kFailed;

  if (!found) {
    const auto fail = [&] { return Fail(message, msg::kCreateEntity, {name, path}); };
    return Guarded(fail, [&] {
      const EntityFields fields{xml::ToXml(aet), xml::ToXml(hostname), xml::ToXml(port), xml::ToXml(serviceList),
                                xml::ToXml(serviceType)};
      return AddEntity(*state->document, xml::ToXml(name), fields, state->modified) ? kOk : fail();
    });
  }

  bool anyFieldSet = false;
  const auto fail = [&] { return Fail(message, anyFieldSet ? msg::kSetEntity : msg::kFindAndSetEntity, {name, path}); };
  return Guarded(fail, [&] {
    const EntityFields fields{xml::ToXml(aet), xml::ToXml(hostname), xml::ToXml(port), xml::ToXml(serviceList),
                              xml::ToXml(serviceType)};
    DOMElement* entity = FindEntity(*state->document, xml::ToXml(name));
    if (entity == nullptr || !HasElementChild(*entity)) return fail();
    state->modified = true;
    UpdateEntityFields(*entity, fields, anyFieldSet);
    return kOk;
  });
}

int RemoveApplEntity(ConfigDocument& document, std::string_view name, std::string_view path, std::span<char> message) {
  ClearMessage(message);
  const auto fail = [&] { return Fail(message, msg::kRemoveEntity, {name, path}); };
  State* state = StateOf(document);
  if (state == nullptr) return fail();
  return Guarded(fail, [&] {
    DOMElement* entity = FindEntity(*state->document, xml::ToXml(name));
    if (entity == nullptr) return kOk;
    DOMNode* parent = entity->getParentNode();
    DOMNode* indent = IsWhitespaceText(entity->getPreviousSibling()) ? entity->getPreviousSibling() : nullptr;
    state->modified = true;
    xml::Owned<DOMNode> removed(parent->removeChild(entity));
    // Its indentation goes with it, so the list keeps its layout.
    if (indent != nullptr) xml::Owned<DOMNode> removedIndent(parent->removeChild(indent));
    return kOk;
  });
}

// ------------------------------------------------------------ service lists and types

int CountServiceLists(const ConfigDocument& document, int& count, std::string_view path, std::span<char> message) {
  return CountNames(document, kServiceLists, count, msg::kCountServiceLists, path, message);
}

int CountServiceTypes(const ConfigDocument& document, int& count, std::string_view path, std::span<char> message) {
  return CountNames(document, kServiceTypes, count, msg::kCountServiceTypes, path, message);
}

int ReadServiceLists(const ConfigDocument& document, std::span<CfgText> names, std::string_view path,
                     std::span<char> message) {
  return ReadNames(document, kServiceLists, names, msg::kReadServiceLists, path, message);
}

int ReadServiceTypes(const ConfigDocument& document, std::span<CfgText> names, std::string_view path,
                     std::span<char> message) {
  return ReadNames(document, kServiceTypes, names, msg::kReadServiceTypes, path, message);
}

int ServiceListExists(const ConfigDocument& document, std::string_view name, bool& found, std::string_view path,
                      std::span<char> message) {
  ClearMessage(message);
  found = false;
  const auto fail = [&] { return Fail(message, msg::kServiceListExists, {name, path}); };
  return WithNames(document, kServiceLists, fail, [&](const std::vector<std::string>& names) {
    for (const std::string& listName : names) {
      if (listName == name) found = true;
    }
  });
}

}  // namespace zyl::config

#include "xml_runtime.h"

#include <xercesc/util/PlatformUtils.hpp>
#include <xercesc/util/TransService.hpp>

#include <mutex>

namespace zyl::config::xml {

using namespace xercesc;

namespace {
constexpr const char* kUtf8 = "UTF-8";
}  // namespace

void EnsureInitialised() {
  // Initialize is not thread-safe; the service and the tests load from
  // several threads.
  static std::once_flag once;
  std::call_once(once, [] { XMLPlatformUtils::Initialize(); });
}

std::u16string ToXml(std::string_view utf8) {
  if (utf8.empty()) return {};
  TranscodeFromStr converted(reinterpret_cast<const XMLByte*>(utf8.data()), utf8.size(), kUtf8);
  return std::u16string(converted.str(), converted.length());
}

std::string FromXml(const XMLCh* text) {
  if (text == nullptr || *text == 0) return {};
  TranscodeToStr converted(text, kUtf8);
  return std::string(reinterpret_cast<const char*>(converted.str()), converted.length());
}

namespace {
bool IsText(const DOMNode& node) {
  return node.getNodeType() == DOMNode::TEXT_NODE || node.getNodeType() == DOMNode::CDATA_SECTION_NODE;
}
}  // namespace

std::string ElementText(const DOMNode& element) {
  std::u16string text;
  for (const DOMNode* child = element.getFirstChild(); child != nullptr; child = child->getNextSibling()) {
    if (IsText(*child) && child->getNodeValue() != nullptr) text += child->getNodeValue();
  }
  return FromXml(text.c_str());
}

void SetElementText(DOMElement& element, const std::u16string& text) {
  DOMNode* kept = nullptr;
  for (DOMNode* child = element.getFirstChild(); child != nullptr;) {
    DOMNode* next = child->getNextSibling();
    if (IsText(*child)) {
      if (kept == nullptr) {
        kept = child;
      } else {
        Owned<DOMNode> removed(element.removeChild(child));
      }
    }
    child = next;
  }
  if (kept != nullptr) {
    kept->setNodeValue(text.c_str());
  } else {
    element.appendChild(element.getOwnerDocument()->createTextNode(text.c_str()));
  }
}

DOMElement* FirstElementByName(const DOMDocument& document, const XMLCh* name) {
  DOMElement* found = nullptr;
  ForEachElementNamed(document, name, [&](DOMElement& element) {
    found = &element;
    return false;
  });
  return found;
}

}  // namespace zyl::config::xml

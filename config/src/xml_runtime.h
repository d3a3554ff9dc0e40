// What the access layer needs from Xerces-C++ beyond its headers: one
// initialisation per process, owning handles for its factory objects, and
// transcoding between the DOM's UTF-16 and our UTF-8.
#pragma once

#include <xercesc/dom/DOM.hpp>
#include <xercesc/util/XMLString.hpp>
#include <xercesc/util/XercesDefs.hpp>

#include <memory>
#include <string>
#include <string_view>
#include <type_traits>

namespace zyl::config::xml {

static_assert(std::is_same_v<XMLCh, char16_t>, "the code relies on XMLCh being char16_t");

// Initialises the library on first use, from any thread. The library is
// never terminated: documents may be alive until the process ends, and the
// process-wide state it keeps is reclaimed by the system.
void EnsureInitialised();

// Owning handle for Xerces factory objects that are given back with release().
struct Releaser {
  template <class T>
  void operator()(T* object) const noexcept {
    object->release();
  }
};
template <class T>
using Owned = std::unique_ptr<T, Releaser>;

// Both throw xercesc::XMLException (or a subclass) on text that cannot be
// transcoded, such as malformed UTF-8.
std::u16string ToXml(std::string_view utf8);
std::string FromXml(const XMLCh* text);

// The element's own text: its text and CDATA children joined, comments,
// processing instructions and child elements left out; "" when it has none.
// How a parameter or field element is read.
std::string ElementText(const xercesc::DOMNode& element);

// Replaces the element's own text: the first text or CDATA child takes
// `text` and the others go, so comments and child elements stay where they
// are; an element without text gets a text node at its end. How a parameter
// or field element is written.
void SetElementText(xercesc::DOMElement& element, const std::u16string& text);

// Calls `visit` with each element named `name` below `root`, in document
// order, until it returns false. One walk over the tree, without the
// library's live node lists (whose length is found by walking the whole tree
// again, which made a loop over them quadratic).
template <class Visit>
void ForEachElementNamed(const xercesc::DOMNode& root, const XMLCh* name, Visit&& visit) {
  const xercesc::DOMNode* node = root.getFirstChild();
  while (node != nullptr) {
    if (node->getNodeType() == xercesc::DOMNode::ELEMENT_NODE &&
        xercesc::XMLString::equals(node->getNodeName(), name) &&
        !visit(*const_cast<xercesc::DOMElement*>(static_cast<const xercesc::DOMElement*>(node)))) {
      return;
    }
    if (const xercesc::DOMNode* child = node->getFirstChild()) {
      node = child;
      continue;
    }
    // Up to the nearest ancestor with a next sibling, stopping at the root.
    while (node != &root && node->getNextSibling() == nullptr) node = node->getParentNode();
    node = node == &root ? nullptr : node->getNextSibling();
  }
}

// The first element of that name anywhere in the document, or null.
xercesc::DOMElement* FirstElementByName(const xercesc::DOMDocument& document, const XMLCh* name);

}  // namespace zyl::config::xml

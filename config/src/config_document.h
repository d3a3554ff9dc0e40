// The state behind a ConfigDocument: the parser that owns the DOM document,
// and what is needed to write the document back with the file's layout.
#pragma once

#include <xercesc/dom/DOM.hpp>
#include <xercesc/parsers/XercesDOMParser.hpp>
#include <xercesc/sax/HandlerBase.hpp>

#include <cstddef>
#include <memory>
#include <optional>
#include <string>

#include "config/orvo_config.h"

namespace zyl::config {

// Byte range of the root element in the source text: from its '<' to just
// after its end tag.
struct RootSpan {
  std::size_t begin = 0;
  std::size_t end = 0;
};

// A DOM parser with the library's default settings that also notes where the
// root element starts and ends in the source, so that the text around it
// (declaration, comments, blank lines) can be written back unchanged.
class LayoutTrackingParser : public xercesc::XercesDOMParser {
 public:
  LayoutTrackingParser();

  bool sawFatalError() const noexcept { return errors_.sawFatal; }
  std::optional<std::size_t> rootStartTagEnd() const noexcept { return rootStartTagEnd_; }
  std::optional<std::size_t> rootEnd() const noexcept { return rootEnd_; }

  void startElement(const xercesc::XMLElementDecl& declaration, unsigned int urlId,
                    const XMLCh* prefix, const xercesc::RefVectorOf<xercesc::XMLAttr>& attributes,
                    XMLSize_t attributeCount, bool isEmpty, bool isRoot) override;
  void endElement(const xercesc::XMLElementDecl& declaration, unsigned int urlId, bool isRoot,
                  const XMLCh* prefix) override;

 private:
  // Records errors instead of throwing, so that a malformed file ends the
  // parse quietly and is reported as a file without a document.
  struct ErrorRecorder : xercesc::HandlerBase {
    bool sawFatal = false;
    void error(const xercesc::SAXParseException&) override {}
    void fatalError(const xercesc::SAXParseException&) override { sawFatal = true; }
    void warning(const xercesc::SAXParseException&) override {}
  };

  std::optional<std::size_t> currentOffset() const noexcept;

  ErrorRecorder errors_;
  std::optional<std::size_t> rootStartTagEnd_;
  std::optional<std::size_t> rootEnd_;
};

struct ConfigDocument::State {
  std::unique_ptr<LayoutTrackingParser> parser;  // owns `document`
  xercesc::DOMDocument* document = nullptr;
  std::string source;                // the file as loaded or as last written
  std::optional<RootSpan> rootSpan;  // where the root element lies in `source`
  bool modified = false;             // an edit since `source` was taken
};

enum class LoadOutcome { kLoaded, kNoDocument, kLibraryError };

// Parses the file at `path`. Only kLoaded fills `state`.
LoadOutcome LoadDocument(const std::string& path, std::unique_ptr<ConfigDocument::State>& state);

// The bytes that represent the document now: the source itself when nothing
// changed, else the source's text around the root element with the root
// element serialised in between (the whole document serialised when the
// root's place in the source is unknown). Throws the library's exceptions.
std::string DocumentBytes(const ConfigDocument::State& state);

// After `bytes` from DocumentBytes reached the disk: they become the source.
void MarkWritten(ConfigDocument::State& state, std::string bytes);

}  // namespace zyl::config

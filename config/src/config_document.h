// The state behind a ConfigDocument: the parser that owns the DOM document,
// and what is needed to write the document back with the file's layout.
#pragma once

#include <xercesc/dom/DOM.hpp>
#include <xercesc/parsers/XercesDOMParser.hpp>
#include <xercesc/sax/HandlerBase.hpp>
#include <xercesc/util/SecurityManager.hpp>

#include <cstddef>
#include <cstdint>
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

// Why a file gave no document: the line the parser stopped at and its reason.
struct ParseFailure {
  std::uint64_t line = 0;  // 0 when the parser gave none
  std::string reason;
};

// The deepest element nesting a configuration file may have: its structure
// needs four levels (root, ApplicationEntities, ApplicationEntity, AET).
inline constexpr std::size_t kMaxElementDepth = 16;
// The most entity expansions one file may cause; the file declares none.
inline constexpr XMLSize_t kMaxEntityExpansions = 100;

// A DOM parser that also notes where the root element starts and ends in the
// source, so that the text around it (declaration, comments, blank lines) can
// be written back unchanged. Others may be able to write the file, so the
// parser refuses a DOCTYPE (the file never needs one, and it is where
// entities would be declared), resolves no external entity or DTD, limits
// entity expansion and refuses elements nested deeper than kMaxElementDepth.
class LayoutTrackingParser : public xercesc::XercesDOMParser {
 public:
  LayoutTrackingParser();

  bool sawFatalError() const noexcept { return errors_.firstFatal.has_value(); }
  // The first fatal error, when there was one.
  const std::optional<ParseFailure>& failure() const noexcept { return errors_.firstFatal; }
  std::optional<std::size_t> rootStartTagEnd() const noexcept { return rootStartTagEnd_; }
  std::optional<std::size_t> rootEnd() const noexcept { return rootEnd_; }

  void startElement(const xercesc::XMLElementDecl& declaration, unsigned int urlId, const XMLCh* prefix,
                    const xercesc::RefVectorOf<xercesc::XMLAttr>& attributes, XMLSize_t attributeCount, bool isEmpty,
                    bool isRoot) override;
  void endElement(const xercesc::XMLElementDecl& declaration, unsigned int urlId, bool isRoot,
                  const XMLCh* prefix) override;
  void doctypeDecl(const xercesc::DTDElementDecl& declaration, const XMLCh* publicId, const XMLCh* systemId,
                   bool hasInternalSubset, bool hasExternalSubset) override;

  // Thrown from the callbacks above to end the parse of a file that is
  // refused; LoadDocument turns it into a failure of that file.
  struct Refused {
    ParseFailure failure;
  };

 private:
  // Records errors instead of throwing, so that a malformed file ends the
  // parse quietly and is reported as a file without a document.
  struct ErrorRecorder : xercesc::HandlerBase {
    std::optional<ParseFailure> firstFatal;
    void error(const xercesc::SAXParseException&) override {}
    void fatalError(const xercesc::SAXParseException& exception) override;
    void warning(const xercesc::SAXParseException&) override {}
  };

  std::optional<std::size_t> currentOffset() const noexcept;
  [[noreturn]] void refuse(std::string reason) const;

  ErrorRecorder errors_;
  xercesc::SecurityManager limits_;
  std::size_t depth_ = 0;
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

// Parses the file at `path`. Only kLoaded fills `state`; a file the parser
// refused (kNoDocument) fills `failure` when the parser said why.
LoadOutcome LoadDocument(const std::string& path, std::unique_ptr<ConfigDocument::State>& state,
                         std::optional<ParseFailure>& failure);

// The bytes that represent the document now: the source itself when nothing
// changed, else the source's text around the root element with the root
// element serialised in between (the whole document serialised when the
// root's place in the source is unknown). Throws the library's exceptions.
std::string DocumentBytes(const ConfigDocument::State& state);

// After `bytes` from DocumentBytes reached the disk: they become the source.
void MarkWritten(ConfigDocument::State& state, std::string bytes);

}  // namespace zyl::config

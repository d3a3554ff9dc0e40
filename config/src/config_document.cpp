#include "config_document.h"

#include <xercesc/framework/MemBufFormatTarget.hpp>
#include <xercesc/framework/MemBufInputSource.hpp>
#include <xercesc/internal/XMLScanner.hpp>
#include <xercesc/util/OutOfMemoryException.hpp>
#include <xercesc/util/XMLException.hpp>
#include <xercesc/sax/SAXParseException.hpp>

#include <string>
#include <string_view>

#include "config/file_io.h"
#include "xml_runtime.h"

namespace zyl::config {

using namespace xercesc;

namespace {

constexpr std::string_view kUtf8ByteOrderMark = "\xEF\xBB\xBF";

// The parser's source offsets leave out a byte order mark; they are checked
// against the bytes before use, and only a UTF-8 mark is accounted for.
std::optional<RootSpan> LocateRoot(std::string_view source, const LayoutTrackingParser& parser,
                                   const DOMElement& root) {
  if (!parser.rootStartTagEnd() || !parser.rootEnd()) return std::nullopt;
  const std::size_t shift = source.starts_with(kUtf8ByteOrderMark) ? kUtf8ByteOrderMark.size() : 0;
  const std::size_t startTagEnd = *parser.rootStartTagEnd() + shift;
  const std::size_t end = *parser.rootEnd() + shift;
  if (startTagEnd == 0 || startTagEnd > end || end > source.size()) return std::nullopt;
  if (source[startTagEnd - 1] != '>' || source[end - 1] != '>') return std::nullopt;

  // '<' cannot occur inside a tag, so the last one before the start tag's
  // end opens the root element.
  const std::size_t begin = source.rfind('<', startTagEnd - 1);
  if (begin == std::string_view::npos) return std::nullopt;
  std::string name;
  try {
    name = xml::FromXml(root.getTagName());
  } catch (...) {
    return std::nullopt;
  }
  if (name.empty() || source.substr(begin + 1, name.size()) != name) return std::nullopt;
  return RootSpan{begin, end};
}

std::string Serialise(const DOMNode& node) {
  DOMImplementation* implementation = DOMImplementationRegistry::getDOMImplementation(u"LS");
  if (implementation == nullptr) throw DOMException(DOMException::NOT_SUPPORTED_ERR);
  auto& ls = static_cast<DOMImplementationLS&>(*implementation);
  // Library defaults: no pretty-printing (the whitespace text nodes kept at
  // loading carry the layout) and the document's own encoding.
  xml::Owned<DOMLSSerializer> serialiser(ls.createLSSerializer());
  MemBufFormatTarget target;
  xml::Owned<DOMLSOutput> output(ls.createLSOutput());
  output->setByteStream(&target);
  if (!serialiser->write(&node, output.get())) throw DOMException(DOMException::INVALID_STATE_ERR);
  return std::string(reinterpret_cast<const char*>(target.getRawBuffer()), target.getLen());
}

}  // namespace

LayoutTrackingParser::LayoutTrackingParser() {
  setErrorHandler(&errors_);
  // Offsets do not change what is parsed; they tell where the root lies.
  setCalculateSrcOfs(true);
  // A DOCTYPE is refused by doctypeDecl, before anything of it is used; an
  // external DTD is never read, external entities never resolved, and the
  // expansion limit holds should an entity get through nonetheless.
  setLoadExternalDTD(false);
  setDisableDefaultEntityResolution(true);
  limits_.setEntityExpansionLimit(kMaxEntityExpansions);
  setSecurityManager(&limits_);
}

void LayoutTrackingParser::ErrorRecorder::fatalError(const SAXParseException& exception) {
  if (firstFatal) return;
  ParseFailure failure;
  failure.line = static_cast<std::uint64_t>(exception.getLineNumber());
  try {
    failure.reason = xml::FromXml(exception.getMessage());
  } catch (...) {
    // The line alone still says where.
  }
  firstFatal = std::move(failure);
}

std::optional<std::size_t> LayoutTrackingParser::currentOffset() const noexcept {
  try {
    return static_cast<std::size_t>(getScanner()->getSrcOffset());
  } catch (...) {
    // Some encodings give no offsets; the layout is then not tracked.
    return std::nullopt;
  }
}

void LayoutTrackingParser::startElement(const XMLElementDecl& declaration, unsigned int urlId, const XMLCh* prefix,
                                        const RefVectorOf<XMLAttr>& attributes, XMLSize_t attributeCount, bool isEmpty,
                                        bool isRoot) {
  if (++depth_ > kMaxElementDepth)
    refuse("elements nested deeper than " + std::to_string(kMaxElementDepth) + " levels");
  XercesDOMParser::startElement(declaration, urlId, prefix, attributes, attributeCount, isEmpty, isRoot);
  // An empty element has been ended (endElement) by now.
  if (!isRoot) return;
  rootStartTagEnd_ = currentOffset();
  if (isEmpty) rootEnd_ = rootStartTagEnd_;
}

void LayoutTrackingParser::doctypeDecl(const DTDElementDecl&, const XMLCh*, const XMLCh*, bool, bool) {
  refuse("a DOCTYPE is not allowed in this file");
}

void LayoutTrackingParser::refuse(std::string reason) const {
  const Locator* locator = getScanner()->getLocator();
  const auto line = locator != nullptr ? static_cast<std::uint64_t>(locator->getLineNumber()) : 0;
  throw Refused{ParseFailure{line, std::move(reason)}};
}

void LayoutTrackingParser::endElement(const XMLElementDecl& declaration, unsigned int urlId, bool isRoot,
                                      const XMLCh* prefix) {
  XercesDOMParser::endElement(declaration, urlId, isRoot, prefix);
  if (depth_ > 0) --depth_;
  if (isRoot) rootEnd_ = currentOffset();
}

LoadOutcome LoadDocument(const std::string& path, std::unique_ptr<ConfigDocument::State>& state,
                         std::optional<ParseFailure>& failure) {
  std::optional<std::string> source = io::ReadWholeFile(path);
  if (!source) return LoadOutcome::kNoDocument;
  try {
    xml::EnsureInitialised();
    auto loaded = std::make_unique<ConfigDocument::State>();
    loaded->parser = std::make_unique<LayoutTrackingParser>();
    loaded->source = std::move(*source);
    // The bytes just read are parsed, so that what is kept for writing back
    // is exactly what the DOM came from.
    // The path names the source in the parser's messages and is the base of
    // relative references; a path that is not UTF-8 cannot serve as either.
    std::u16string sourceId;
    try {
      sourceId = xml::ToXml(path);
    } catch (const XMLException&) {
      sourceId = u"orvocfg.xml";
    }
    MemBufInputSource input(reinterpret_cast<const XMLByte*>(loaded->source.data()), loaded->source.size(),
                            sourceId.c_str(), false);
    try {
      loaded->parser->parse(input);
    } catch (LayoutTrackingParser::Refused& refused) {
      failure = std::move(refused.failure);
      return LoadOutcome::kNoDocument;
    }
    failure = loaded->parser->failure();
    loaded->document = loaded->parser->getDocument();
    if (loaded->parser->sawFatalError() || loaded->document == nullptr ||
        loaded->document->getDocumentElement() == nullptr) {
      return LoadOutcome::kNoDocument;
    }
    loaded->rootSpan = LocateRoot(loaded->source, *loaded->parser, *loaded->document->getDocumentElement());
    state = std::move(loaded);
    return LoadOutcome::kLoaded;
  } catch (const XMLException&) {
  } catch (const DOMException&) {
  } catch (const OutOfMemoryException&) {
  } catch (const std::exception&) {
  }
  return LoadOutcome::kLibraryError;
}

std::string DocumentBytes(const ConfigDocument::State& state) {
  if (!state.modified) return state.source;
  if (!state.rootSpan) return Serialise(*state.document);
  const std::string_view source = state.source;
  std::string bytes(source.substr(0, state.rootSpan->begin));
  bytes += Serialise(*state.document->getDocumentElement());
  bytes += source.substr(state.rootSpan->end);
  return bytes;
}

void MarkWritten(ConfigDocument::State& state, std::string bytes) {
  if (state.rootSpan) {
    const std::size_t trailing = state.source.size() - state.rootSpan->end;
    state.rootSpan->end = bytes.size() - trailing;
  }
  state.source = std::move(bytes);
  state.modified = false;
}

}  // namespace zyl::config

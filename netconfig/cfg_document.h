// The configuration document a ZYLffOrvoCfg object holds, the checks and
// messages its methods share, and the class's release callback.
#pragma once

#include <array>
#include <memory>
#include <span>
#include <string>
#include <string_view>

#include "config/orvo_config.h"
#include "messages.h"
#include "cfg_instance.h"
#include "zyl/host.h"

namespace orvo::netconfig {

using zyl::config::ConfigDocument;

// A message buffer for the access layer.
using AccessMessage = std::array<char, 512>;

// The document the object holds; an empty document (on which every access
// fails with the access layer's message) when it holds none.
ConfigDocument& documentOf(CfgInstance& cfg);
bool holdsDocument(const CfgInstance& cfg);
// Hands a loaded document to the object, which owns it from then on.
void holdDocument(CfgInstance& cfg, std::unique_ptr<ConfigDocument> document);
// Releases the held document (ReleaseConfig); 0 on success, else 1 with the
// access layer's message in `message`. The fields are cleared either way.
int releaseDocument(CfgInstance& cfg, std::span<char> message);
// The class release callback: the same release, reporting nothing.
void releaseCfgInstance(void* instanceData);

std::string pathOf(const CfgInstance& cfg);

// Stops the call with an access-layer message as the single text.
[[noreturn]] void failWith(const AccessMessage& message);

// Text of a method's argument: a scalar string as it is, anything else in
// the host's text form (numbers may begin with blanks).
std::string argumentText(HostVar* value);
// `text` without its leading blanks, keeping at least its last character.
std::string_view withoutLeadingBlanks(std::string_view text);
// The value of a text of decimal digits only (no sign, blank, point or
// exponent), or -1 for any other text or one above 999,999,999.
long decimalValue(std::string_view text);
// A DICOM AE title: 1 to 16 printable ASCII characters other than the
// backslash, not all blanks.
bool isValidAeTitle(std::string_view title);

}  // namespace orvo::netconfig

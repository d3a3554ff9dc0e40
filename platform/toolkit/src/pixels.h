// Compressed pixel data as the rest of the toolkit sees it (encapsulated.cpp).
#pragma once

#include "access.h"

#include <cstdint>
#include <optional>
#include <string>

namespace zyl::toolkit::pixels {

// Brings a message's Pixel Data into the representation of `syntax`:
// compresses native pixels for the five compressed syntaxes, decompresses
// encapsulated ones for the others, or both. Does nothing when the pixel data
// already fits. Fails with MC_COMPRESSOR_REQUIRED / MC_DECOMPRESSOR_REQUIRED
// when the message lacks the callback the change needs. Call it with the tree
// unlocked: the callbacks may call the toolkit.
void convertPixelData(int messageId, E_TransferSyntax syntax);

// True when `tag` of the data set or item `id` names holds encapsulated pixel data.
bool holdsEncapsulated(int id, std::uint32_t tag);

// The whole of an encapsulated Pixel Data, decompressed frame after frame,
// as one value: to a receiver in pieces, or into a buffer.
MC_STATUS decodedValueToFunction(int id, std::uint32_t tag, void* userInfo, MC_Value_Receiver receiver);
MC_STATUS decodedValueToBuffer(int id, std::uint32_t tag, int bufferSize, void* buffer, int* bytesReturned);

// Native pixels about to replace encapsulated ones that the toolkit decoded
// are in the decoded form (RGB for YBR codestreams, colour-by-pixel): the
// image attributes take that form first.
void adoptDecodedFormat(Target& target, const DcmTagKey& tag);

// The Photometric Interpretation of the pixels last decoded from the
// message's Pixel Data as it now stands (RGB for YBR codestreams); nothing
// when none were decoded.
std::optional<std::string> decodedPhotometric(Target& target);

}  // namespace zyl::toolkit::pixels

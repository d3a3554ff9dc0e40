// Limits on untrusted input and on the toolkit's own tables, in one place.
#pragma once

#include <cstddef>
#include <cstdint>

namespace zyl::toolkit::limits {

// Largest declared value length accepted while parsing (bytes). Larger
// lengths are refused before DCMTK would reserve memory for them.
inline constexpr std::uint32_t kMaxValueLength = 1u << 30;

// Deepest nesting of sequences accepted while parsing; DCMTK parses nested
// sequences recursively, so unbounded depth would exhaust the stack.
inline constexpr int kMaxNestingDepth = 64;

// Largest file meta information group accepted (bytes, without preamble).
inline constexpr std::size_t kMaxMetaGroupLength = 64 * 1024;

// Largest value assembled from a caller's supplier callback (bytes).
inline constexpr std::size_t kMaxSuppliedValueLength = std::size_t{1} << 31;

// Ids are small positive integers; 16-bit callers keep them exact.
inline constexpr int kMaxId = 32767;

// Size of the blocks handed to a file writer callback.
inline constexpr std::size_t kWriteBlockSize = 64 * 1024;

// Size of the pieces handed to a value receiver callback.
inline constexpr std::size_t kValuePieceSize = 1024 * 1024;

// Longest line accepted in the toolkit's configuration files.
inline constexpr std::size_t kMaxConfigLineLength = 4096;

// ---- Network --------------------------------------------------------------

// Largest PDU we announce we can receive (bytes); DCMTK refuses larger ones.
inline constexpr std::uint32_t kMaxReceivePduSize = 65536;

// Largest A-ASSOCIATE-RQ/AC PDU accepted (bytes).
inline constexpr std::uint32_t kMaxAssociatePduSize = 256 * 1024;

// Largest data set accepted in one received message (bytes, as encoded).
inline constexpr std::size_t kMaxReceivedDataSetSize = std::size_t{1} << 30;

// Connections accepted by the listener whose association requests are still
// arriving or wait to be taken; beyond this, new callers wait in the kernel's
// backlog.
inline constexpr int kMaxPendingConnections = 32;

// A request counts as arrived once this much of it is buffered even if the
// PDU is longer (the kernel's buffer may hold no more); DCMTK reads the rest.
inline constexpr std::size_t kAssociateRequestReadyBytes = 64 * 1024;

// Associations open at once in the process (requested and accepted).
inline constexpr int kMaxAssociations = 64;

// After sending an A-ABORT, how long the peer has to close the connection.
inline constexpr int kAbortGraceMs = 1000;

// Presentation contexts proposed on one association (the protocol allows 128).
inline constexpr int kMaxPresentationContexts = 128;

// Services and syntaxes in one list made at run time.
inline constexpr int kMaxListEntries = 1024;

// Longest name of a list or service made at run time.
inline constexpr std::size_t kMaxListNameLength = 64;

}  // namespace zyl::toolkit::limits

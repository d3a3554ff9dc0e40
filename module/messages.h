// The module's message block "ZYL_MBLK_ORVO" and the one way the module
// reports: orvo::report(code, action, texts...).
#pragma once

#include <string>
#include <type_traits>

#include "toolkit/mc.h"
#include "zyl/host.h"

namespace orvo {

enum MessageCode : int {
  kErrs1 = 0,  // "%N %s"
  kErrs2 = -1,
  kErrs3 = -2,
  kErrs4 = -3,
  kErrs5 = -4,
  kErrs6 = -5,
  kInvalidDicomTag = -6,
  kInvalidPrivateCode = -7,
  kInvalidGroup = -8,
  kInvalidElement = -9,
  kInvalidDicomVr = -10,
  kInvalidClearKeyword = -11,
  kInvalidRemoveKeyword = -12,
};

constexpr int kMessageCount = 13;
extern const HostMessageDef kMessageDefs[kMessageCount];

// Defines the block; the handle may be null (the load then fails).
HostMsgBlock defineMessageBlock();
HostMsgBlock messageBlock();

// The toolkit's text for a status, as the module's messages quote it.
inline const char* errorText(MC_STATUS status) { return MC_Error_Message(status); }

namespace detail {
inline const char* cstr(const char* s) { return s != nullptr ? s : ""; }
inline const char* cstr(const std::string& s) { return s.c_str(); }
}  // namespace detail

// Issues message `code` with the texts its format takes. Action
// HOST_MSG_ERROR does not return (it throws zyl::HostError).
template <typename... Texts>
void report(int code, int action, const Texts&... texts) {
  HostMessage(messageBlock(), code, action, detail::cstr(texts)...);
}

template <typename... Texts>
[[noreturn]] void fail(int code, const Texts&... texts) {
  report(code, HOST_MSG_ERROR, texts...);
  throw zyl::HostError("unreachable: an error message returned", "ZYL_MBLK_ORVO", code, HOST_MSG_ERROR);
}

}  // namespace orvo

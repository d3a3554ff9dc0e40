// The owner of a host temporary the module makes on its way to a result.
#pragma once

#include "zyl/host.h"

namespace orvo {

// Owns a host temporary (a result in the making, a conversion, a scratch
// array) until it is handed back with release() or freed.
class HostTemporary {
 public:
  explicit HostTemporary(HostVar* v) : v_(v) {}
  HostTemporary(const HostTemporary&) = delete;
  HostTemporary& operator=(const HostTemporary&) = delete;
  ~HostTemporary() {
    if (v_ != nullptr) HostFreeTemporary(v_);
  }
  HostVar* get() const { return v_; }
  HostVar* release() {
    HostVar* v = v_;
    v_ = nullptr;
    return v;
  }

 private:
  HostVar* v_;
};

}  // namespace orvo

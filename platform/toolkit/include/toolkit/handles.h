// Owners of the toolkit's ids for C++ callers: each frees its id on every way
// out, so that an error thrown between an open and its free leaks nothing.
#pragma once

#include "toolkit/mc.h"

#include <string>
#include <utility>

namespace zyl::toolkit {

// A message, file or item id, freed with the call its kind needs.
class Handle {
 public:
  using Free = MC_STATUS (*)(int);
  explicit Handle(Free free, int id = 0) : free_(free), id_(id) {}
  ~Handle() { reset(); }
  Handle(const Handle&) = delete;
  Handle& operator=(const Handle&) = delete;

  int get() const { return id_; }
  // For the open calls that write the new id.
  int* out() {
    reset();
    return &id_;
  }
  int release() { return std::exchange(id_, 0); }
  void reset(int id = 0) {
    if (id_ > 0) free_(id_);
    id_ = id;
  }

 private:
  Free free_;
  int id_;
};

struct MessageHandle : Handle {
  explicit MessageHandle(int id = 0) : Handle(MC_Free_Message, id) {}
};
struct FileHandle : Handle {
  explicit FileHandle(int id = 0) : Handle(MC_Free_File, id) {}
};
struct ItemHandle : Handle {
  explicit ItemHandle(int id = 0) : Handle(MC_Free_Item, id) {}
};

// An association, ended on every way out that did not end it: aborted, or
// released for callers whose failures still end in good order.
class AssociationHandle {
 public:
  enum class OnExit { Abort, Close };
  explicit AssociationHandle(int id = 0, OnExit onExit = OnExit::Abort) : id_(id), onExit_(onExit) {}
  ~AssociationHandle() {
    if (id_ > 0) onExit_ == OnExit::Abort ? MC_Abort_Association(id_) : MC_Close_Association(id_);
  }
  AssociationHandle(const AssociationHandle&) = delete;
  AssociationHandle& operator=(const AssociationHandle&) = delete;

  int get() const { return id_; }
  int* out() { return &id_; }
  MC_STATUS close() { return MC_Close_Association(std::exchange(id_, 0)); }
  MC_STATUS abort() { return MC_Abort_Association(std::exchange(id_, 0)); }
  MC_STATUS reject(MC_REJECT_REASON reason) { return MC_Reject_Association(std::exchange(id_, 0), reason); }
  // The association ended by itself (the peer released or aborted it).
  void gone() { id_ = 0; }

 private:
  int id_;
  OnExit onExit_;
};

// A syntax list, service or service list made at run time, freed by its name.
// An owner of several frees a service list before its services and a service
// before its syntax list, as the toolkit refuses to free what is in use:
// declared in the order they are made, they go in that order.
class NamedHandle {
 public:
  using Free = MC_STATUS (*)(const char*);
  explicit NamedHandle(Free free) : free_(free) {}
  ~NamedHandle() { reset(); }
  NamedHandle(const NamedHandle&) = delete;
  NamedHandle& operator=(const NamedHandle&) = delete;

  const char* get() const { return name_.c_str(); }
  // Takes `name` once the call that made it succeeded.
  void reset(std::string name = {}) {
    if (!name_.empty()) free_(name_.c_str());
    name_ = std::move(name);
  }

 private:
  Free free_;
  std::string name_;
};

struct SyntaxListHandle : NamedHandle {
  SyntaxListHandle() : NamedHandle(MC_FreeSyntaxList) {}
};
struct ServiceHandle : NamedHandle {
  ServiceHandle() : NamedHandle(MC_FreeService) {}
};
struct ServiceListHandle : NamedHandle {
  ServiceListHandle() : NamedHandle(MC_FreeServiceList) {}
};

}  // namespace zyl::toolkit

// Owners of the toolkit's ids for C++ callers: each frees its id on every way
// out, so that an error thrown between an open and its free leaks nothing.
#pragma once

#include "toolkit/mc.h"

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

}  // namespace zyl::toolkit

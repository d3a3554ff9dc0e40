// The shape of every ZYLffOrvo method but Init, Cleanup and Commit: the
// method template's checks, then the file object's open-on-demand step.
#pragma once

#include "file_instance.h"
#include "method.h"

namespace orvo {

// The open-on-demand step of ZYLffOrvo methods: loads the object's data set
// from ORVOFILENAME unless one is open; failures end the call. Defined with
// the file object.
void openFileOnDemand(FileInstance& file);

// What a file method checks before its data set is opened: an exact argument
// count (the object included; -1 for none) and the kinds of its leading
// string arguments, in order from argument 1.
template <int ExactCount = -1, StringArg... Kinds>
struct FileArgs {
  template <typename Keywords>
  static void check(const MethodCall<FileInstance, Keywords>& call) {
    if constexpr (ExactCount >= 0) call.requireArgCount(ExactCount);
    [[maybe_unused]] int i = 1;
    (call.stringArg(i++, Kinds), ...);
  }
};

// Every ZYLffOrvo method but Init, Cleanup and Commit: keywords, object,
// argument checks, then the open-on-demand step, then the worker.
template <typename Keywords, typename Args, HostVar* (*Worker)(MethodCall<FileInstance, Keywords>&)>
HostVar* fileMethod(int argc, HostVar* argv[], zyl::KeywordList* argk) {
  MethodCall<FileInstance, Keywords> call(argc, argv, argk);
  Args::check(call);
  openFileOnDemand(call.self());
  return Worker(call);
}

template <typename Keywords, typename Args, HostVar* (*Worker)(MethodCall<FileInstance, Keywords>&)>
constexpr MethodEntry fileMethodEntry{&fileMethod<Keywords, Args, Worker>, Keywords::table};

}  // namespace orvo

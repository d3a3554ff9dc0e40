// The one shape every registered method has: keywords processed against the
// method's table, the object validated against its class, string arguments
// checked, the worker run, keyword results released (also when an error
// unwinds). A method file registers it through methodEntry<Instance, Keywords,
// Worker> in its functionRow or procedureRow.
#pragma once

#include <cstddef>
#include <optional>
#include <type_traits>
#include <string_view>

#include "messages.h"
#include "routines.h"
#include "structures.h"
#include "zyl/host.h"

namespace orvo {

// Keywords of a method registered without the keyword flag.
struct NoKeywords {
  static constexpr const HostKeyword* table = nullptr;
};

// Init's SYSTEM keyword, which the client objects accept.
struct SystemKeywords {
  int32_t system;
  static const HostKeyword table[];
};
inline const HostKeyword SystemKeywords::table[] = {
    {"SYSTEM", HOST_KW_INT, offsetof(SystemKeywords, system), HOST_KW_NO_GIVEN}, {nullptr, HOST_KW_INT, 0, 0}};

// The COUNT output keyword, the only keyword of several methods.
struct CountKeywords {
  HostVar* count;
  int countGiven;
  static const HostKeyword table[];
};
inline const HostKeyword CountKeywords::table[] = {
    {"COUNT", HOST_KW_REF, offsetof(CountKeywords, count), offsetof(CountKeywords, countGiven)},
    {nullptr, HOST_KW_INT, 0, 0}};

// Class-level (static) methods have no instance.
struct StaticMethod {};

// What a string argument stands for: a wrong host type gets its own message.
enum class StringArg { Tag, PrivateCode, Group, Element };

constexpr int messageFor(StringArg kind) {
  switch (kind) {
    case StringArg::Tag:
      return kInvalidDicomTag;
    case StringArg::PrivateCode:
      return kInvalidPrivateCode;
    case StringArg::Group:
      return kInvalidGroup;
    case StringArg::Element:
      return kInvalidElement;
  }
  return kInvalidDicomTag;
}

template <typename Instance, typename Keywords>
class MethodCall {
 public:
  MethodCall(int argc, HostVar* argv[], zyl::KeywordList* argk) : argc_(argc), argv_(argv), keywords_{} {
    if constexpr (!std::is_same_v<Keywords, NoKeywords>) scope_.emplace(argk, Keywords::table, &keywords_);
    if constexpr (!std::is_same_v<Instance, StaticMethod>)
      instance_ = static_cast<Instance*>(HostObjectInstance(argv[0], ClassTraits<Instance>::name));
  }
  MethodCall(const MethodCall&) = delete;
  MethodCall& operator=(const MethodCall&) = delete;

  Instance& self() { return *instance_; }
  const Instance& self() const { return *instance_; }
  Keywords& keywords() { return keywords_; }
  const Keywords& keywords() const { return keywords_; }
  int argc() const { return argc_; }
  // Positional argument i (0 is the object); nullptr when not passed.
  HostVar* arg(int i) const { return i < argc_ ? argv_[i] : nullptr; }

  // Text of string argument i; an argument of another host type stops the
  // call with the message of its kind. An absent argument is "".
  std::string_view stringArg(int i, StringArg kind) const {
    HostVar* v = arg(i);
    if (v == nullptr) return {};
    if (!v->isScalarString()) fail(messageFor(kind));
    return v->text();
  }

  // Count argument check of the methods that insist on their registered count.
  void requireArgCount(int expected) const {
    if (argc_ != expected) fail(kErrs1, "Error: Invalid number of arguements.");
  }

 private:
  int argc_;
  HostVar** argv_;
  Keywords keywords_;
  std::optional<HostKeywordScope> scope_;
  Instance* instance_ = nullptr;
};

template <typename Instance, typename Keywords, HostVar* (*Worker)(MethodCall<Instance, Keywords>&)>
HostVar* method(int argc, HostVar* argv[], zyl::KeywordList* argk) {
  MethodCall<Instance, Keywords> call(argc, argv, argk);
  return Worker(call);
}

template <typename Instance, typename Keywords, HostVar* (*Worker)(MethodCall<Instance, Keywords>&)>
constexpr MethodEntry methodEntry{&method<Instance, Keywords, Worker>, Keywords::table};

// Output keyword helpers.
inline void storeUInt32(HostVar* out, uint32_t value) {
  zyl::Scalar s{};
  s.u32 = value;
  HostStoreScalar(out, zyl::Type::UInt32, &s);
}

}  // namespace orvo

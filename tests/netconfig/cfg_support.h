// ZYLffOrvoCfg objects in the real host with the real module, each test
// starting from the shipped configuration.
#pragma once

#include <functional>

#include "fileobject_support.h"

namespace cfgtest {

using fotest::contains;
using fotest::Kw;
using zyl::Variable;
namespace fs = std::filesystem;

// The progress callback of the client objects: a registered host function,
// TEST_PROGRESS, that records every message and answers 0 to the one equal
// to `stopOn` (1 to the others).
struct Progress {
  std::vector<std::string> messages;
  std::vector<int> dataArguments;  // argument count of each call
  std::string stopOn;
  std::function<void(const std::string&)> onMessage;  // runs inside the callback

  static inline Progress* current = nullptr;
  static HostVar* routine(int argc, HostVar* argv[], zyl::KeywordList*) {
    const std::string message(argv[0]->text());
    Progress* self = current;
    self->messages.push_back(message);
    self->dataArguments.push_back(argc);
    if (self->onMessage) self->onMessage(message);
    return HostTempInt(message == self->stopOn ? 0 : 1);
  }
  void listen() {
    static const bool registered = [] {
      static const HostRoutineDef def{"TEST_PROGRESS", &Progress::routine, 1, 2, 0};
      return HostAddRoutines(&def, 1, 1) != 0;
    }();
    ASSERT_TRUE(registered);
    current = this;
  }
  void stop() { current = nullptr; }
  bool saw(const std::string& message) const {
    return std::find(messages.begin(), messages.end(), message) != messages.end();
  }
};

class CfgTest : public fotest::FileObjectTest {
 protected:
  void SetUp() override {
    FileObjectTest::SetUp();
    // Where the copies are, asked once while the per-user copy still reads;
    // then the per-user copy goes back to the shipped file for every test.
    static const std::pair<std::string, std::string> files = [this] {
      Variable user = makeCfg();
      std::string userPath(call(user, "GetValue", "configfile").text());
      destroy(user);
      Variable system = makeCfg({{"SYSTEM", Variable::ofInt32(1)}});
      std::string systemPath(call(system, "GetValue", "configfile").text());
      destroy(system);
      return std::pair{userPath, systemPath};
    }();
    userFile_ = files.first;
    systemFile_ = files.second;
    if (fs::exists(userFile_))
      fs::permissions(userFile_, fs::perms::owner_read | fs::perms::owner_write, fs::perm_options::add);
    fs::copy_file(systemFile_, userFile_, fs::copy_options::overwrite_existing);
  }

  Variable makeCfg(std::vector<Kw> kws = {}) {
    Variable object = fotest::rt().newObject("ZYLFFORVOCFG", {}, keywordArgs(kws));
    if (object.type() == zyl::Type::Object) cfgs_.push_back(object);
    return object;
  }
  void destroy(Variable& object) {
    fotest::rt().destroyObject(object);
    std::erase_if(cfgs_, [&](const Variable& v) { return v.scalar().id == object.scalar().id; });
  }
  void TearDown() override {
    for (Variable& o : cfgs_) fotest::rt().destroyObject(o);
    cfgs_.clear();
    FileObjectTest::TearDown();
  }

  Variable call2(Variable& object, const std::string& method, Variable a, Variable b) {
    return call(object, method, std::vector<Variable>{std::move(a), std::move(b)});
  }
  std::string errorOf(Variable& object, const std::string& method, std::vector<Variable> args) {
    try {
      call(object, method, std::move(args));
      return "";
    } catch (const zyl::HostError& e) {
      return e.what();
    }
  }

  std::string userFile_, systemFile_;

 private:
  std::vector<Variable> cfgs_;
};

}  // namespace cfgtest

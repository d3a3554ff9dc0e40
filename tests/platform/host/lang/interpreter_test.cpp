// The evaluator in process, against the test module: what scripts cannot see
// from outside (temporaries released after errors, the values left behind).
#include <gtest/gtest.h>

#include "interpreter.h"
#include "printer.h"

namespace zyl::lang {
namespace {

class InProcess : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    std::string error;
    ASSERT_TRUE(Runtime::instance().loadModule(ZYL_TESTMOD_PATH, &error)) << error;
  }
  void SetUp() override {
    Runtime::instance().setMessageSink([this](const Message& m) { messages.push_back(m); });
  }
  void TearDown() override { Runtime::instance().setMessageSink(nullptr); }

  std::string global(const std::string& name) {
    const Variable* v = interpreter.global(name);
    return v ? formatValue(*v, true) : "<none>";
  }

  Interpreter interpreter;
  std::vector<Message> messages;
};

TEST_F(InProcess, ErrorsInRoutinesAndCallbacksLeaveNoTemporaries) {
  const size_t before = Runtime::instance().liveTemporaries();
  interpreter.execute(
      "t = new ZYLTEST(\"leaks\")\n"
      "func failing(m, d) { return t.GetName() }\n"  // t is not visible in a function: an error
      "caught = 0\n"
      "for i in range(5) {\n"
      "  try { t.FAIL(\"x\") } catch e { caught += 1 }\n"
      "  try { t.CALLBACK(\"failing\", \"m\", DATA=[1, 2]) } catch e { caught += 1; last = e }\n"
      "}\n"
      "v = t.DOUBLE(3 + 0, COUNT=n)\n",
      "leaks.zyl");
  EXPECT_EQ(global("caught"), "10");
  EXPECT_EQ(global("last"), "\"leaks.zyl:2: undefined variable 't' (and no class of that name)\"");
  EXPECT_EQ(global("n"), "3");
  EXPECT_EQ(interpreter.global("n")->type(), Type::UInt32);
  EXPECT_EQ(Runtime::instance().liveTemporaries(), before);
}

// findBuiltin searches the table by halves: every name must be found.
TEST(Builtins, EveryNameIsFound) {
  for (const Builtin& b : builtins()) EXPECT_EQ(findBuiltin(b.name), &b) << b.name;
  EXPECT_EQ(findBuiltin("NO_SUCH_BUILTIN"), nullptr);
}

TEST_F(InProcess, ScriptErrorsCarryTheirOriginAndLine) {
  interpreter.execute("func f(x) {\n  return x + nothing\n}\n", "lib.zyl");
  try {
    interpreter.execute("a = 1\nb = f(a)\n", "main.zyl");
    FAIL() << "no error";
  } catch (const ScriptError& e) {
    EXPECT_EQ(e.origin(), "lib.zyl");  // where the failing statement is
    EXPECT_EQ(e.line(), 2);
  }
  // The globals are still there, and the next run starts at the top level.
  interpreter.execute("c = a + 1\n", "<stdin>");
  EXPECT_EQ(global("c"), "2");
}

TEST_F(InProcess, QuietSilencesOnlyQuietMessages) {
  interpreter.execute(
      "t = new ZYLTEST(\"q\")\n!quiet = 1\nt.WARN(\"hidden\")\nv = t.DOUBLE(7)\n!quiet = 0\nt.WARN(\"shown\")\n",
      "q.zyl");
  ASSERT_EQ(messages.size(), 2u);
  EXPECT_EQ(messages[0].action, HOST_MSG_INFO);
  EXPECT_EQ(messages[1].action, HOST_MSG_INFO_QUIET);
  EXPECT_NE(messages[1].text.find("shown"), std::string::npos);
  EXPECT_FALSE(Runtime::instance().quiet());
}

}  // namespace
}  // namespace zyl::lang

// Files that others may have written: entity expansion, external entities,
// document types and deep nesting are refused with the line and the reason,
// before anything of them is resolved or built.
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include "config_test_support.h"

namespace zyl::config::testing {
namespace {

std::string NoDocumentMessage(const std::string& path) {
  return "Error: Failed to load xml doc for cfg file (" + path +
         "). Verify the file exists and you have read permission.";
}

// Entities that expand to 10^levels copies of "lol".
std::string EntityExpansion(int levels) {
  std::string text = "<?xml version=\"1.0\"?>\n<!DOCTYPE Cfg [\n  <!ENTITY lol0 \"lol\">\n";
  for (int level = 1; level <= levels; ++level) {
    text += "  <!ENTITY lol" + std::to_string(level) + " \"";
    for (int i = 0; i < 10; ++i) text += "&lol" + std::to_string(level - 1) + ";";
    text += "\">\n";
  }
  return text + "]>\n<Cfg><QRScuServiceAE>&lol" + std::to_string(levels) + ";</QRScuServiceAE></Cfg>\n";
}

std::string ExternalEntity(const std::string& target) {
  return "<?xml version=\"1.0\"?>\n<!DOCTYPE Cfg [ <!ENTITY secret SYSTEM \"file://" + target +
         "\"> ]>\n<Cfg><QRScuServiceAE>&secret;</QRScuServiceAE></Cfg>\n";
}

std::string Nested(std::size_t depth) {
  std::string text = "<Cfg>\n<QRScuServiceAE>AE</QRScuServiceAE>\n";
  for (std::size_t i = 1; i < depth; ++i) text += "<n>";
  for (std::size_t i = 1; i < depth; ++i) text += "</n>";
  return text + "\n</Cfg>\n";
}

// Loads `path` in a child process that the alarm ends if it hangs (an
// entity naming a FIFO, say); returns the message, or why there was none.
std::string LoadInBoundedChild(const std::string& path, const std::string& messageFile) {
  const pid_t child = ::fork();
  if (child == 0) {
    ::alarm(20);
    ConfigDocument document;
    std::array<char, 512> message{};
    const int status = LoadConfig(path, document, message);
    std::ofstream(messageFile) << message.data();
    ::_exit(status == 1 && !document.isOpen() ? 0 : 1);
  }
  int status = 0;
  if (child < 0 || ::waitpid(child, &status, 0) != child) return "<no child>";
  if (WIFSIGNALED(status)) return "<killed by signal " + std::to_string(WTERMSIG(status)) + ">";
  if (WEXITSTATUS(status) != 0) return "<loaded>";
  return ReadText(messageFile);
}

TEST(HostileConfig, DocumentTypesEntitiesAndDeepNestingAreRefusedWithLineAndReason) {
  TempDir dir;
  const std::string secret = dir.file("secret.txt");
  WriteFile(secret, "SECRET-TEXT");
  const std::string fifo = dir.file("fifo");
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);

  struct Case {
    const char* name;
    std::string text;
    std::string detail;  // what follows the message: line and reason
  };
  const Case cases[] = {
      {"entity expansion", EntityExpansion(5), " Line 2: a DOCTYPE is not allowed in this file"},
      {"external entity to a file", ExternalEntity(secret), " Line 2: a DOCTYPE is not allowed in this file"},
      {"external entity to a FIFO", ExternalEntity(fifo), " Line 2: a DOCTYPE is not allowed in this file"},
      {"external document type",
       "<?xml version=\"1.0\"?>\n<!DOCTYPE Cfg SYSTEM \"file://" + dir.file("absent.dtd") + "\">\n<Cfg/>\n",
       " Line 2: a DOCTYPE is not allowed in this file"},
      {"plain document type", "<!DOCTYPE Cfg>\n<Cfg><QRScuServiceAE>AE</QRScuServiceAE></Cfg>\n",
       " Line 1: a DOCTYPE is not allowed in this file"},
      {"17 levels", Nested(17), " Line 3: elements nested deeper than 16 levels"},
      {"100000 levels", Nested(100000), " Line 3: elements nested deeper than 16 levels"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string path = dir.file("orvocfg.xml");
    WriteFile(path, c.text);
    const std::string message = LoadInBoundedChild(path, dir.file("message.txt"));
    EXPECT_TRUE(message.starts_with(NoDocumentMessage(path) + c.detail)) << message;
    EXPECT_EQ(message.find("SECRET"), std::string::npos);
    EXPECT_EQ(ReadText(path), c.text);  // loading never writes
  }
}

TEST(HostileConfig, NestingAsDeepAsTheLimitAndManyEmptySiblingsLoad) {
  TempDir dir;
  std::string siblings = "<Cfg><QRScuServiceAE>AE</QRScuServiceAE>";
  for (int i = 0; i < 40; ++i) siblings += "<a><b/><c></c></a>";
  siblings += "</Cfg>";
  for (const std::string& text : {Nested(16), siblings}) {
    const std::string path = dir.file("orvocfg.xml");
    WriteFile(path, text);
    ConfigDocument document;
    std::array<char, 512> message{};
    EXPECT_EQ(LoadConfig(path, document, message), 0) << message.data();
    std::array<char, 16> value{};
    EXPECT_EQ(ReadParam(document, "QRScuServiceAE", value, path, message), 0);
    EXPECT_STREQ(value.data(), "AE");
  }
}

}  // namespace
}  // namespace zyl::config::testing

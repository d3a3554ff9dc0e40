// Loading, releasing and writing configuration files: failures, layout kept
// on write-back, and the replace-by-rename write.
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#include <thread>

#include "config_test_support.h"

namespace zyl::config::testing {
namespace {

std::string NoDocumentMessage(const std::string& path) {
  return "Error: Failed to load xml doc for cfg file (" + path +
         "). Verify the file exists and you have read permission.";
}

std::string WriteMessage(const std::string& path) { return "Error: Failed to write Orvo Cfg file (" + path + ")"; }

// Runs `body` in a child process and returns its exit status (or -1 when it
// did not exit normally).
template <class Body>
int RunInChild(Body&& body) {
  const pid_t child = ::fork();
  if (child == 0) ::_exit(body());
  int status = 0;
  if (child < 0 || ::waitpid(child, &status, 0) != child || !WIFEXITED(status)) return -1;
  return WEXITSTATUS(status);
}

TEST(LoadConfig, FilesThatGiveNoDocumentFailWithTheFileMessage) {
  TempDir dir;
  const std::string good = dir.file("good.xml");
  WriteFile(good, kSampleConfig);
  const std::string malformed = dir.file("malformed.xml");
  WriteFile(malformed, "<Cfg><QRScuServiceAE>AE</Cfg>");
  const std::string truncated = dir.file("truncated.xml");
  WriteFile(truncated, kSampleConfig.substr(0, kSampleConfig.size() / 2));
  const std::string empty = dir.file("empty.xml");
  WriteFile(empty, "");
  const std::string trailingGarbage = dir.file("garbage.xml");
  WriteFile(trailingGarbage, std::string(kSampleConfig) + "<second/>");

  // Files the parser refused: the message goes on with the line and the
  // parser's reason; files it never saw: the message alone.
  struct Case {
    std::string path;
    std::string detail;
  };
  const Case cases[] = {
      {malformed, " Line 1: expected end of tag 'QRScuServiceAE'"},
      {truncated, " Line 15: input ended before all started tags were ended"},
      {empty, " Line 1: "},
      {trailingGarbage, " Line 34: comment or processing instruction expected"},
      {dir.file("missing.xml"), ""},
      {dir.path().string(), ""},
      {good + "/orvocfg.xml", ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.path);
    ConfigDocument document;
    std::array<char, 512> message{};
    ASSERT_EQ(LoadConfig(good, document, message), 0);
    // A failed load drops the document that was loaded before.
    EXPECT_EQ(LoadConfig(c.path, document, message), 1);
    EXPECT_FALSE(document.isOpen());
    const std::string text = message.data();
    EXPECT_TRUE(text.starts_with(NoDocumentMessage(c.path) + c.detail)) << text;
    if (c.detail.empty()) {
      EXPECT_EQ(text, NoDocumentMessage(c.path));
    }
  }
}

TEST(LoadConfig, FileWithoutReadPermissionFails) {
  TempDir dir;
  const std::string locked = dir.file("locked.xml");
  const std::string open = dir.file("open.xml");
  WriteFile(locked, kSampleConfig);
  WriteFile(open, kSampleConfig);
  ASSERT_EQ(::chmod(locked.c_str(), 0), 0);
  ASSERT_EQ(::chmod(open.c_str(), 0644), 0);
  ASSERT_EQ(::chmod(dir.path().c_str(), 0755), 0);

  const auto tryLoads = [&]() -> int {
    ConfigDocument document;
    std::array<char, 512> message{};
    if (LoadConfig(open, document, message) != 0) return 10;  // the folder itself is unreachable
    if (LoadConfig(locked, document, message) != 1 || document.isOpen()) return 11;
    return message.data() == NoDocumentMessage(locked) ? 0 : 12;
  };
  if (::geteuid() != 0) {
    EXPECT_EQ(tryLoads(), 0);
    return;
  }
  // Permissions do not stop root: load as the unprivileged user "nobody".
  const int status = RunInChild([&] {
    if (::setgid(65534) != 0 || ::setuid(65534) != 0) return 20;
    return tryLoads();
  });
  EXPECT_EQ(status, 0);
}

TEST(LoadConfig, ParallelLoadsInAFreshProcessAllSucceed) {
  TempDir dir;
  const std::string path = dir.file("orvocfg.xml");
  WriteFile(path, kSampleConfig);
  // A child process starts with the library not yet initialised, so the
  // threads race for its initialisation.
  const int status = RunInChild([&] {
    std::vector<std::thread> threads;
    std::array<int, 4> failures{};
    for (int& failed : failures) {
      threads.emplace_back([&] {
        for (int i = 0; i < 20; ++i) {
          ConfigDocument document;
          std::array<char, 512> message{};
          std::array<char, 64> value{};
          failed += LoadConfig(path, document, message) + ReadParam(document, "QRScuServiceAE", value, path, message);
        }
      });
    }
    for (auto& thread : threads) thread.join();
    return failures == std::array<int, 4>{} ? 0 : 1;
  });
  EXPECT_EQ(status, 0);
}

TEST(ConfigDocument, WithoutDocumentReleaseSucceedsAndEveryOperationFails) {
  TempDir dir;
  const std::string path = dir.file("orvocfg.xml");
  ConfigDocument document;
  std::array<char, 512> message{};
  EXPECT_EQ(ReleaseConfig(document, path, message), 0);
  EXPECT_STREQ(message.data(), "");

  std::array<char, 16> value{};
  EXPECT_EQ(ReadParam(document, "StorScpDir", value, path, message), 1);
  EXPECT_EQ(message.data(), "Error: Failed to read Orvo Cfg param (StorScpDir) from (" + path + ")");
  int count = -1;
  EXPECT_EQ(CountApplEntities(document, count, path, message), 1);
  EXPECT_EQ(count, 0);
  EXPECT_EQ(SetApplEntity(document, "X", "X", "h", "1", "L", "T", path, message), 1);
  EXPECT_EQ(message.data(), "Error: Failed to find & set Orvo Cfg Appl Entity (X) in (" + path + ")");
  EXPECT_EQ(WriteConfig(document, path, message), 1);
  EXPECT_EQ(message.data(), WriteMessage(path));
  EXPECT_FALSE(std::filesystem::exists(path));

  // A short message buffer receives the start of the message, terminated.
  std::array<char, 16> shortMessage;
  shortMessage.fill('#');
  EXPECT_EQ(WriteConfig(document, path, shortMessage), 1);
  EXPECT_EQ(std::string(shortMessage.data()), WriteMessage(path).substr(0, 15));
}

class WriteBackTest : public ConfigFixture {};

TEST_F(WriteBackTest, UnchangedDocumentsAreWrittenBackByteForByte) {
  const std::string unusualLayout =
      "\xEF\xBB\xBF<?xml version='1.0'?>\r\n\r\n<!-- a -->\r\n<Cfg  x = 'single' >\r\n"
      "\t<QRScuServiceAE>A &amp; B</QRScuServiceAE><Empty></Empty>\r\n"
      "  <![CDATA[ raw <text> ]]>&#65;\r\n</Cfg >\r\n<!-- tail -->";
  const std::string latin1 =
      "<?xml version=\"1.0\" encoding=\"ISO-8859-1\"?>\n<Cfg><QRScuServiceAE>\xE9t\xE9</QRScuServiceAE></Cfg>\n";
  for (const std::string& text : {std::string(kSampleConfig), unusualLayout, latin1}) {
    Load(text);
    // Reading and removing a name that is not there change nothing.
    Param("QRScuServiceAE");
    ASSERT_EQ(RemoveApplEntity(document_, "NOT_THERE", path_, message_), 0);
    const std::string copy = dir_.file("copy.xml");
    ASSERT_EQ(WriteConfig(document_, copy, message_), 0) << Message();
    EXPECT_EQ(ReadText(copy), text);
  }
}

TEST_F(WriteBackTest, AfterAnEditOnlyTheValueAndTheSerialisersNormalFormsChange) {
  Load(kSampleConfig);
  ASSERT_EQ(SetParam(document_, "StorScpDir", "/srv/orvo & co", path_, message_), 0);
  // The serialiser writes an empty element in its short form and escapes '&'.
  const std::string expected =
      Replace(Replace(std::string(kSampleConfig), "/data/store", "/srv/orvo &amp; co"), "<Empty></Empty>", "<Empty/>");
  EXPECT_EQ(WriteBack(), expected);
  // The written file is the new reference: writing again changes nothing.
  EXPECT_EQ(WriteBack(), expected);
}

TEST_F(WriteBackTest, AfterAnEditTheTextAroundTheRootIsKeptVerbatim) {
  const std::string prolog = "\xEF\xBB\xBF<?xml version='1.0'?>\r\n\r\n<!-- head -->\r\n";
  const std::string epilogue = "\r\n<!-- tail -->\r\n\r\n";
  Load(prolog + "<Cfg  x = 'single' >\r\n  <QRScuServiceAE>A</QRScuServiceAE>\r\n</Cfg >" + epilogue);
  ASSERT_EQ(SetParam(document_, "QRScuServiceAE", "B", path_, message_), 0);
  // Inside the root the parser has already turned CR LF into LF and the
  // serialiser writes attributes in its own form.
  EXPECT_EQ(WriteBack(), prolog + "<Cfg x=\"single\">\n  <QRScuServiceAE>B</QRScuServiceAE>\n</Cfg>" + epilogue);
}

TEST_F(WriteBackTest, EditedDocumentInAnEncodingWithoutOffsetsIsWrittenWhole) {
  // UTF-16 with a byte order mark: the root's place in the bytes is unknown,
  // so the whole document is serialised.
  std::u16string text = u"\uFEFF<?xml version=\"1.0\" encoding=\"UTF-16\"?>\n<Cfg><P>old</P></Cfg>\n";
  Load(std::string_view(reinterpret_cast<const char*>(text.data()), text.size() * 2));
  ASSERT_EQ(SetParam(document_, "P", "new \xC3\xA9", path_, message_), 0);
  WriteBack();
  ASSERT_EQ(LoadConfig(path_, document_, message_), 0) << Message();
  EXPECT_EQ(Param("P"), "new \xC3\xA9");
}

TEST(WriteConfig, FailedWriteLeavesTheOriginalFileIntact) {
  TempDir dir;
  const std::string path = dir.file("orvocfg.xml");
  WriteFile(path, kSampleConfig);
  const auto before = dir.entries();
  // A file size limit makes the write of the temporary file fail part way;
  // it is set in a child so that the test process keeps its limits.
  const int status = RunInChild([&] {
    ConfigDocument document;
    std::array<char, 512> message{};
    if (LoadConfig(path, document, message) != 0) return 10;
    if (SetParam(document, "StorScpDir", std::string(1000, 'x'), path, message) != 0) return 11;
    std::signal(SIGXFSZ, SIG_IGN);
    const rlimit limit{64, 64};
    if (::setrlimit(RLIMIT_FSIZE, &limit) != 0) return 12;
    if (WriteConfig(document, path, message) != 1) return 13;
    return message.data() == WriteMessage(path) ? 0 : 14;
  });
  EXPECT_EQ(status, 0);
  EXPECT_EQ(ReadText(path), kSampleConfig);
  EXPECT_EQ(dir.entries(), before);  // no temporary file left behind
}

TEST(WriteConfig, PathsThatCannotBeReplacedFailAndLeaveNothingBehind) {
  TempDir dir;
  const std::string source = dir.file("orvocfg.xml");
  WriteFile(source, kSampleConfig);
  const std::string folderInTheWay = dir.file("folder.xml");
  std::filesystem::create_directory(folderInTheWay);
  const auto before = dir.entries();

  ConfigDocument document;
  std::array<char, 512> message{};
  ASSERT_EQ(LoadConfig(source, document, message), 0);
  for (const std::string& target : {folderInTheWay, dir.file("no/such/folder/orvocfg.xml")}) {
    SCOPED_TRACE(target);
    EXPECT_EQ(WriteConfig(document, target, message), 1);
    EXPECT_EQ(message.data(), WriteMessage(target));
  }
  EXPECT_TRUE(std::filesystem::is_directory(folderInTheWay));
  EXPECT_EQ(dir.entries(), before);
}

TEST(WriteConfig, ReplacedFileKeepsItsModeAndALinkKeepsPointingAtIt) {
  TempDir dir;
  const std::string real = dir.file("real.xml");
  const std::string link = dir.file("orvocfg.xml");
  WriteFile(real, kSampleConfig);
  ASSERT_EQ(::chmod(real.c_str(), 0640), 0);
  std::filesystem::create_symlink("real.xml", link);

  ConfigDocument document;
  std::array<char, 512> message{};
  ASSERT_EQ(LoadConfig(link, document, message), 0);
  ASSERT_EQ(SetParam(document, "StorScpDir", "/new", link, message), 0);
  ASSERT_EQ(WriteConfig(document, link, message), 0) << message.data();

  EXPECT_TRUE(std::filesystem::is_symlink(link));
  EXPECT_EQ(ReadText(real),
            Replace(Replace(std::string(kSampleConfig), "/data/store", "/new"), "<Empty></Empty>", "<Empty/>"));
  struct stat info {};
  ASSERT_EQ(::stat(real.c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 07777, 0640u);
}

}  // namespace
}  // namespace zyl::config::testing

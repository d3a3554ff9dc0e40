// The storage client: properties and callback data, argument checks, files
// stored in DCMTK's storescp (associations kept and replaced, a JPEG
// lossless file converted, a lossy one refused), the progress messages and
// cancelling through the callback, and response statuses from a listener of
// our toolkit in the test.
#include <atomic>
#include <cstring>
#include <deque>
#include <fstream>
#include <set>
#include <mutex>
#include <thread>

#include "../netconfig/cfg_support.h"
#include "net/peers.h"
#include "toolkit/mc.h"

namespace storscutest {
namespace {

using cfgtest::contains;
using zyl::Variable;
namespace fs = std::filesystem;
namespace tk = zyl::toolkit::test;
using namespace std::chrono_literals;

const fs::path kCorpus = "/usr/lib/python3/dist-packages/pydicom/data/test_files";

class StorScu : public cfgtest::CfgTest {
 protected:
  void SetUp() override {
    CfgTest::SetUp();
    progress_.listen();
  }
  void TearDown() override {
    for (Variable& c : clients_) fotest::rt().destroyObject(c);
    clients_.clear();
    progress_.stop();
    CfgTest::TearDown();
  }

  // A destination entity in the per-user file, which Send reads.
  void addDestination(const std::string& name, const std::string& aet, int port) {
    Variable cfg = makeCfg();
    call(cfg, "SetApplicationEntity",
         {Variable::ofString(name), Variable::ofString(aet), Variable::ofString("127.0.0.1"), Variable::ofInt32(port),
          Variable::ofString("Storage_SCU_Service_List"), Variable::ofString("STORAGE_SCP")});
    call(cfg, "Commit");
    destroy(cfg);
  }

  Variable client(const std::string& destination) {
    Variable scu = fotest::rt().newObject("ZYLFFORVOSTORSCU", {}, {});
    clients_.push_back(scu);
    Variable name = Variable::ofString(destination), function = Variable::ofString("TEST_PROGRESS");
    std::vector<zyl::KeywordArg> kws{{"STORAGE_SCP", &name}, {"CALLBACK_FUNCTION", &function}};
    fotest::rt().callMethod(scu, "SetProperty", {}, kws);
    return scu;
  }

  static Variable paths(const std::vector<std::string>& files) {
    auto array =
        std::make_unique<zyl::Array>(zyl::Type::String, std::vector<int64_t>{static_cast<int64_t>(files.size())}, true);
    for (size_t i = 0; i < files.size(); ++i) zyl::hostStringAssign(array->as<zyl::HostString>()[i], files[i]);
    return Variable::ofArray(std::move(array));
  }

  int send(Variable& scu, Variable files) {
    return call(scu, "Send", std::vector<Variable>{std::move(files)}).scalar().i16;
  }

  // A copy of a corpus file with another instance UID.
  fs::path copyOf(const std::string& name, const std::string& copyName, const std::string& instance) {
    const fs::path out = tmp(copyName);
    fs::copy_file(kCorpus / name, out);
    EXPECT_EQ(std::system(("dcmodify -nb -m SOPInstanceUID=" + instance + " " + fotest::quote(out)).c_str()), 0);
    return out;
  }

  cfgtest::Progress progress_;
  std::vector<Variable> clients_;
};

// storescp writing what it receives into a folder.
struct StoreScp {
  zyl::test::TempDir dir;
  int port = zyl::test::FreePort();
  std::unique_ptr<zyl::test::ChildProcess> process;
  fs::path received() const { return dir.path() / "in"; }
  fs::path log() const { return dir.path() / "storescp.log"; }
  // `options` e.g. {"+xa"}: every syntax DCMTK knows, besides the uncompressed ones.
  explicit StoreScp(const std::vector<std::string>& options = {}) {
    fs::create_directories(received());
    std::vector<std::string> command{"storescp", "-v", "-aet", "STORESCP", "-od", received().string()};
    command.insert(command.end(), options.begin(), options.end());
    command.push_back(std::to_string(port));
    process = std::make_unique<zyl::test::ChildProcess>(command, log().string());
    EXPECT_TRUE(zyl::test::WaitListening(port));
  }
  std::vector<fs::path> files() const {
    std::vector<fs::path> out;
    for (const auto& e : fs::directory_iterator(received())) out.push_back(e.path());
    return out;
  }
  int associations() const {
    std::ifstream in(log());
    int n = 0;
    for (std::string line; std::getline(in, line);) n += contains(line, "Association Acknowledged") ? 1 : 0;
    return n;
  }
};

TEST_F(StorScu, PropertiesAndTheirCallbackData) {
  Variable scu = fotest::rt().newObject("ZYLFFORVOSTORSCU", {}, {});
  clients_.push_back(scu);
  Variable name = Variable::ofString("DEST"), function = Variable::ofString("progress"), data = Variable::ofInt32(42);
  std::vector<zyl::KeywordArg> set{{"STORAGE_SCP", &name}, {"CALLBACK_FUNCTION", &function}, {"CALLBACK_DATA", &data}};
  fotest::rt().callMethod(scu, "SetProperty", {}, set);
  data = Variable::ofInt32(7);  // the object keeps its own copy
  Variable outName, outFunction, outData;
  std::vector<zyl::KeywordArg> get{
      {"STORAGE_SCP", &outName}, {"CALLBACK_FUNCTION", &outFunction}, {"CALLBACK_DATA", &outData}};
  fotest::rt().callMethod(scu, "GetProperty", {}, get);
  EXPECT_EQ(outName.text(), "DEST");
  EXPECT_EQ(outFunction.text(), "progress");
  EXPECT_EQ(outData.scalar().i32, 42);
  // ClearProperties keeps the data; an undefined value clears it.
  call(scu, "ClearProperties");
  fotest::rt().callMethod(scu, "GetProperty", {}, get);
  EXPECT_EQ(outName.text(), "");
  EXPECT_EQ(outData.scalar().i32, 42);
  Variable undefinedValue;
  std::vector<zyl::KeywordArg> clear{{"CALLBACK_DATA", &undefinedValue}};
  fotest::rt().callMethod(scu, "SetProperty", {}, clear);
  fotest::rt().callMethod(scu, "GetProperty", {}, get);
  EXPECT_FALSE(outData.isDefined());
  // The names hold text only.
  Variable number = Variable::ofInt32(3);
  std::vector<zyl::KeywordArg> bad{{"STORAGE_SCP", &number}};
  EXPECT_THROW(fotest::rt().callMethod(scu, "SetProperty", {}, bad), zyl::HostError);
}

TEST_F(StorScu, ArgumentsAndTheDestinationAreCheckedFirst) {
  Variable scu = client("");
  EXPECT_TRUE(contains(errorOf(scu, "Send", {Variable::ofInt32(1)}),
                       "Error: Invalid argument. Argument must be a string or array of strings."));
  EXPECT_TRUE(contains(errorOf(scu, "Send", {Variable::ofString("x.dcm")}),
                       "Error: Set the Storage_SCP property before calling this method."));
  Variable unknown = client("NO_SUCH_ENTITY");
  EXPECT_TRUE(contains(errorOf(unknown, "Send", {Variable::ofString("x.dcm")}),
                       "Error: The value in the Storage_SCP property is not a valid application entity (prop), "
                       "NO_SUCH_ENTITY"));
  EXPECT_TRUE(progress_.messages.empty());
}

TEST_F(StorScu, AnEmptyPathIsSkippedWithTwoMessages) {
  addDestination("NOWHERE", "NOBODY", zyl::test::FreePort());
  Variable scu = client("NOWHERE");
  EXPECT_EQ(send(scu, Variable::ofString("")), 0);
  EXPECT_EQ(progress_.messages,
            (std::vector<std::string>{"Send Started. Pushing Dicom files to NOWHERE", "Error: Skipping this file(). ",
                                      "Error: File may not exist, or is an invalid dicom file, or is not a dicom file.",
                                      "Send Completed:  0 files successfully sent "}));
  // Without data the callback gets the message alone.
  for (int argc : progress_.dataArguments) EXPECT_EQ(argc, 1);
}

TEST_F(StorScu, FilesAreStoredOverAssociationsKeptPerClassAndSyntax) {
  StoreScp scp;
  addDestination("PACS", "STORESCP", scp.port);
  Variable scu = client("PACS");
  const fs::path ct2 = copyOf("CT_small.dcm", "ct2.dcm", "2.25.314159265358.5.1");
  const std::vector<std::string> files = {(kCorpus / "CT_small.dcm").string(), ct2.string(),
                                          (kCorpus / "MR_small.dcm").string()};
  EXPECT_EQ(send(scu, paths(files)), 3);
  EXPECT_EQ(progress_.messages.back(), "Send Completed:  3 files successfully sent ");
  EXPECT_EQ(std::count(progress_.messages.begin(), progress_.messages.end(), "File Sent:  " + files[1] + " "), 1);
  // Two CT images over one association, the MR image over a second.
  EXPECT_EQ(scp.associations(), 2);
  // What arrived is what was sent.
  const auto received = scp.files();
  ASSERT_EQ(received.size(), 3u);
  std::multiset<std::string> sent, got;
  for (const auto& f : files) sent.insert(tk::dumpDataSet(f));
  for (const auto& f : received) got.insert(tk::dumpDataSet(f.string()));
  EXPECT_EQ(sent, got);
}

TEST_F(StorScu, ALosslessFileIsConvertedALossyOneRefused) {
  StoreScp scp;  // takes the uncompressed syntaxes only
  addDestination("PACS", "STORESCP", scp.port);
  Variable scu = client("PACS");
  const std::string lossless = (kCorpus / "SC_rgb_jpeg_gdcm.dcm").string();
  const std::string lossy = (kCorpus / "SC_rgb_jpeg_dcmtk.dcm").string();
  EXPECT_EQ(send(scu, paths({lossless, lossy})), 1);
  const auto& m = progress_.messages;
  ASSERT_GE(m.size(), 6u);
  EXPECT_EQ(m[1],
            "Native file format ( JPEG Lossless, Non-Hier (1st)) is not supported on remote node converting to "
            "( Implicit VR Little Endian) before sending file (" +
                lossless + ") ")
      << m[1];
  EXPECT_EQ(m[2], "File Sent:  " + lossless + " ");
  EXPECT_TRUE(contains(m[3], "Native file format ( JPEG Baseline) is not supported")) << m[3];
  EXPECT_EQ(m[4], "Can not convert a lossy file to another format: " + lossy + " ");
  EXPECT_EQ(m[5], "Send Completed:  1 files successfully sent ");
  // The stored file is implicit little endian with the decompressed pixels.
  const auto received = scp.files();
  ASSERT_EQ(received.size(), 1u);
  EXPECT_TRUE(contains(tk::fileSyntax(received[0].string()), "LittleEndianImplicit"));
  Variable source = make(lossless);
  Variable arrived = make(received[0].string());
  const Variable a = call(source, "GetPixelData"), b = call(arrived, "GetPixelData");
  ASSERT_EQ(a.array()->byteSize(), b.array()->byteSize());
  EXPECT_EQ(std::memcmp(a.array()->data(), b.array()->data(), a.array()->byteSize()), 0);
  // The source file is untouched.
  EXPECT_TRUE(contains(tk::fileSyntax(lossless), "JPEGLossless"));
}

TEST_F(StorScu, TheCallbackCanCancelAndReceivesItsData) {
  StoreScp scp;
  addDestination("PACS", "STORESCP", scp.port);
  Variable scu = client("PACS");
  Variable data = Variable::ofString("my data");
  std::vector<zyl::KeywordArg> kws{{"CALLBACK_DATA", &data}};
  fotest::rt().callMethod(scu, "SetProperty", {}, kws);
  const std::vector<std::string> files = {(kCorpus / "CT_small.dcm").string(), (kCorpus / "MR_small.dcm").string(),
                                          (kCorpus / "rtplan.dcm").string()};
  progress_.stopOn = "File Sent:  " + files[1] + " ";
  EXPECT_EQ(send(scu, paths(files)), 2);
  const auto& m = progress_.messages;
  ASSERT_GE(m.size(), 2u);
  EXPECT_EQ(m[m.size() - 2], "Send Canceled.");
  EXPECT_EQ(m.back(), "Send Completed:  2 files successfully sent ");
  for (int argc : progress_.dataArguments) EXPECT_EQ(argc, 2);
  EXPECT_EQ(scp.files().size(), 2u);

  // A stop on the last file's message has nothing left to cancel.
  progress_.messages.clear();
  progress_.dataArguments.clear();
  progress_.stopOn = "File Sent:  " + files[2] + " ";
  EXPECT_EQ(send(scu, paths(files)), 3);
  EXPECT_EQ(std::count(progress_.messages.begin(), progress_.messages.end(), "Send Canceled."), 0);
}

// A listener of our toolkit in the test: answers each C-STORE with the next
// status of its list and counts the associations.
struct StatusPeer {
  int port = zyl::test::FreePort();
  std::deque<unsigned> statuses;
  std::atomic<int> associations{0};
  std::atomic<bool> stop{false};
  std::thread thread;
  explicit StatusPeer(std::deque<unsigned> answers) : statuses(std::move(answers)) {
    tk::listenAs("STATUS_PEER", port, "Storage_SCP_Service_List");
    thread = std::thread([this] {
      while (!stop) {
        int application = 0, association = 0;
        if (MC_Wait_For_Association("Storage_SCP_Service_List", 1, &application, &association) != MC_NORMAL_COMPLETION)
          continue;
        ++associations;
        MC_Accept_Association(association);
        for (;;) {
          int message = 0, response = 0;
          const char* service = nullptr;
          MC_COMMAND command{};
          if (MC_Read_Message(association, 10, &message, &service, &command) != MC_NORMAL_COMPLETION) break;
          MC_Free_Message(message);
          const unsigned status = statuses.empty() ? 0u : statuses.front();
          if (!statuses.empty()) statuses.pop_front();
          MC_Open_Message(&response, service, MC_CMD_C_STORE_RSP);
          MC_Send_Response_Message(association, status, response);
          MC_Free_Message(response);
        }
      }
    });
  }
  ~StatusPeer() {
    stop = true;
    if (thread.joinable()) thread.join();
  }
};

TEST_F(StorScu, WarningsKeepTheAssociationFailuresAbortIt) {
  StatusPeer peer({0xB000, 0x0000, 0xA700, 0x0000});
  addDestination("OURS", "STATUS_PEER", peer.port);
  Variable scu = client("OURS");
  std::vector<std::string> files;
  for (int i = 1; i <= 4; ++i)
    files.push_back(
        copyOf("CT_small.dcm", "ct" + std::to_string(i) + ".dcm", "2.25.314159265358.6." + std::to_string(i)).string());
  EXPECT_EQ(send(scu, paths(files)), 2);
  const auto& m = progress_.messages;
  EXPECT_NE(std::find(m.begin(), m.end(), "Warning: Element Coersion... Continuing. file(" + files[0] + ")"), m.end());
  EXPECT_NE(
      std::find(m.begin(), m.end(), "ERROR: Refused, no resources... association aborting. file(" + files[2] + ")"),
      m.end());
  EXPECT_EQ(m.back(), "Send Completed:  2 files successfully sent ");
  // The warning kept the first association; the refusal needed a second.
  EXPECT_EQ(peer.associations.load(), 2);
}

// RLE, JPEG-LS and deflated files go in their own syntax, byte for byte, to a
// node that takes it; a node of uncompressed syntaxes only gets them
// converted, every pixel kept. pydicom compares what storescp wrote with the
// originals.
TEST_F(StorScu, RleJpegLsAndDeflatedFilesGoAsTheyAreOrConvertedWithEveryPixel) {
  const std::vector<std::string> files = {
      (kCorpus / "MR_small_RLE.dcm").string(), (kCorpus / "SC_rgb_rle_2frame.dcm").string(),
      (kCorpus / "MR_small_jpeg_ls_lossless.dcm").string(), (kCorpus / "image_dfl.dcm").string()};
  const char* compare = R"(import glob, os, sys, pydicom
from pydicom.pixel_data_handlers import gdcm_handler, numpy_handler, rle_handler
pydicom.config.pixel_data_handlers = [numpy_handler, gdcm_handler, rle_handler]
received = {pydicom.dcmread(p).SOPInstanceUID: p for p in glob.glob(sys.argv[1] + "/*")}
for source in sys.argv[2:]:
    a = pydicom.dcmread(source)
    b = pydicom.dcmread(received[a.SOPInstanceUID])
    print(os.path.basename(source), a.file_meta.TransferSyntaxUID == b.file_meta.TransferSyntaxUID,
          a.PixelData == b.PixelData, bool((a.pixel_array == b.pixel_array).all()))
)";
  struct Peer {
    std::vector<std::string> options;
    bool takesEverySyntax;
  };
  for (const Peer& peer : {Peer{{"+xa"}, true}, Peer{{}, false}}) {
    StoreScp scp(peer.options);
    addDestination("PACS", "STORESCP", scp.port);
    Variable scu = client("PACS");
    const fs::path script = scp.dir.path() / "compare.py";
    std::ofstream(script) << compare;
    // One file a send: the MR files share their instance UID, as do the SC ones.
    for (const std::string& file : files) {
      EXPECT_EQ(send(scu, paths({file})), 1) << file;
      int status = 0;
      const std::string result = fotest::run(
          "/usr/bin/python3 '" + script.string() + "' '" + scp.received().string() + "' '" + file + "' 2>&1", &status);
      EXPECT_EQ(status, 0) << result;
      // Same syntax, same Pixel Data bytes (a deflated file's are native), same pixels.
      const bool deflated = contains(file, "_dfl");
      const std::string line = fs::path(file).filename().string() + (peer.takesEverySyntax ? " True True True"
                                                                     : deflated            ? " False True True"
                                                                                           : " False False True");
      EXPECT_TRUE(contains(result, line)) << line << "\n" << result;
      for (const fs::path& received : scp.files()) fs::remove(received);
    }
  }
}

TEST_F(StorScu, ASendInsideAnotherSendsCallbackHasItsOwnAssociation) {
  StoreScp outer, inner;
  addDestination("OUTER", "STORESCP", outer.port);
  addDestination("INNER", "STORESCP", inner.port);
  Variable outerScu = client("OUTER");
  Variable innerScu = client("INNER");
  const std::vector<std::string> files = {(kCorpus / "CT_small.dcm").string(), (kCorpus / "MR_small.dcm").string(),
                                          (kCorpus / "rtplan.dcm").string()};
  bool nested = false;
  int innerStored = -1;
  progress_.onMessage = [&](const std::string& message) {
    if (nested || message != "File Sent:  " + files[0] + " ") return;
    nested = true;
    innerStored = send(innerScu, paths({(kCorpus / "rtdose.dcm").string()}));
  };
  EXPECT_EQ(send(outerScu, paths(files)), 3);
  EXPECT_EQ(innerStored, 1);
  EXPECT_EQ(outer.files().size(), 3u);
  EXPECT_EQ(inner.files().size(), 1u);
  // Both associations ended with a release, none was left open.
  for (const StoreScp* scp : {&outer, &inner}) {
    std::ifstream in(scp->log());
    std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    EXPECT_EQ(scp->associations(), scp == &outer ? 3 : 1) << text;  // one per SOP class
    EXPECT_FALSE(contains(text, "Aborted")) << text;
  }
}

TEST_F(StorScu, AnAbortCostsAboutASecondWhenThePeerNeverCloses) {
  zyl::test::TempDir dir;
  const int port = zyl::test::FreePort();
  zyl::test::ChildProcess peer(
      {"/usr/bin/python3", ZYL_STORSCU_TEST_DIR "/stubborn_peer.py", std::to_string(port), "0xA700"},
      (dir.path() / "peer.log").string());
  ASSERT_TRUE(zyl::test::WaitListening(port));
  addDestination("STUBBORN", "STUBBORN", port);
  Variable scu = client("STUBBORN");
  std::vector<std::string> files;
  for (int i = 1; i <= 3; ++i)
    files.push_back(
        copyOf("CT_small.dcm", "ct" + std::to_string(i) + ".dcm", "1.2.826.0.1.3680043.10.999.3" + std::to_string(i))
            .string());
  const auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(send(scu, paths(files)), 0);
  // Three refusals, each followed by an abort; DCMTK alone waits 15 s each.
  EXPECT_LT(std::chrono::steady_clock::now() - start, 10s);
  EXPECT_EQ(std::count_if(progress_.messages.begin(), progress_.messages.end(),
                          [](const std::string& text) { return contains(text, "ERROR: Refused, no resources"); }),
            3);
}

}  // namespace
}  // namespace storscutest

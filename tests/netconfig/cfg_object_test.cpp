// The configuration object: the per-user and system copies, parameters read
// and set under their rules, application entities, service lists and types,
// the dirty flag, Commit and UpdateConfigurationFile.
#include <sys/stat.h>
#include <unistd.h>

#include <cstring>
#include <functional>

#include "cfg_support.h"

namespace cfgtest {
namespace {

using zyl::Type;

std::string fileText(const fs::path& p) {
  std::ifstream in(p);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

class CfgObject : public CfgTest {
 protected:
  std::string setError(Variable& cfg, const std::string& name, Variable value) {
    return errorOf(cfg, "SetValue", {Variable::ofString(name), std::move(value)});
  }
  std::string value(Variable& cfg, const std::string& name) { return std::string(call(cfg, "GetValue", name).text()); }
  static std::string field(const Variable& records, int64_t index, const char* name) {
    return fotest::recordText(records, index, name);
  }
  static uint32_t port(const Variable& records, int64_t index) {
    return fotest::recordNumber<uint32_t>(records, index, "PORT");
  }
  void setEntity(Variable& cfg, std::vector<Variable> six) { call(cfg, "SetApplicationEntity", std::move(six)); }
  static std::vector<Variable> entity(const std::string& name, const std::string& aet, Variable port,
                                      const std::string& list = "Storage_SCU_Service_List") {
    return {Variable::ofString(name), Variable::ofString(aet),  Variable::ofString("127.0.0.1"),
            std::move(port),          Variable::ofString(list), Variable::ofString("STORAGE_SCP")};
  }
};

TEST_F(CfgObject, OpensThePerUserOrTheSystemCopy) {
  Variable user = makeCfg();
  ASSERT_EQ(user.type(), Type::Object);
  Variable system = makeCfg({{"SYSTEM", Variable::ofInt32(1)}});
  EXPECT_NE(userFile_, systemFile_);
  EXPECT_EQ(value(system, "configfile"), systemFile_);
  EXPECT_EQ(fs::path(systemFile_).filename(), "orvocfg.xml");
  EXPECT_EQ(call(user, "IsDirty").scalar().i32, 0);
  // An unreadable file: Init reports and returns 0, so no object is made.
  std::ofstream(userFile_) << "<not xml";
  messages.clear();
  Variable broken = makeCfg();
  EXPECT_NE(broken.type(), Type::Object);
  EXPECT_TRUE(sawMessage(userFile_)) << (messages.empty() ? "" : messages.back().text);
}

TEST_F(CfgObject, ParametersAreReadByNameInAnyCase) {
  Variable cfg = makeCfg();
  EXPECT_EQ(value(cfg, "STORSCPDIR"), value(cfg, "StorScpDir"));
  EXPECT_EQ(value(cfg, "storscpdir"), "storage");
  EXPECT_EQ(value(cfg, "QRScuServiceAE"), "ZYL_AE_QUERY_SCU");
  EXPECT_EQ(value(cfg, "acceptany"), "no");
  EXPECT_EQ(value(cfg, "configfile"), userFile_);
  EXPECT_TRUE(contains(errorOf(cfg, "GetValue", {Variable::ofString("NoSuchThing")}),
                       "Error: Invalid config parameter name, NoSuchThing"));
  EXPECT_TRUE(contains(errorOf(cfg, "GetValue", {Variable::ofInt32(3)}), "Error: Argument must be a string"));
}

TEST_F(CfgObject, ParametersAreSetUnderTheirRules) {
  Variable cfg = makeCfg();
  // acceptany: the first three letters count, in any case.
  call2(cfg, "SetValue", Variable::ofString("AcceptAny"), Variable::ofString("YES"));
  EXPECT_EQ(value(cfg, "acceptany"), "yes");
  call2(cfg, "SetValue", Variable::ofString("acceptany"), Variable::ofString("yesterday"));
  EXPECT_EQ(value(cfg, "acceptany"), "yes");
  call2(cfg, "SetValue", Variable::ofString("acceptany"), Variable::ofString("No"));
  EXPECT_EQ(value(cfg, "acceptany"), "no");
  EXPECT_TRUE(contains(setError(cfg, "acceptany", Variable::ofString("nope")),
                       "Error: Value must be a set Yes or No (val), nope"));
  // Counts: a host integer's blanks are dropped; zero and negatives are no count.
  call2(cfg, "SetValue", Variable::ofString("maxqueryresponses"), Variable::ofInt32(10));
  EXPECT_EQ(value(cfg, "maxqueryresponses"), "10");
  EXPECT_TRUE(contains(setError(cfg, "maxqueryresponses", Variable::ofInt32(0)),
                       "Error: Max Query Responses value is not valid (it must be > 0) (val)"));
  EXPECT_TRUE(contains(setError(cfg, "maxqueryresponses", Variable::ofString("-5")), "it must be > 0"));
  EXPECT_TRUE(
      contains(setError(cfg, "maxqueryresponses", Variable::ofString("123456")), "Error: Parameter is too long."));
  call2(cfg, "SetValue", Variable::ofString("storscpctrlport"), Variable::ofString("  104"));
  EXPECT_EQ(value(cfg, "storscpctrlport"), "104");
  EXPECT_TRUE(contains(setError(cfg, "storscpctrlport", Variable::ofString("abc")),
                       "Error: Stor Scp Ctrl Port value is not valid (it must be > 0) (val), abc"));
  // Entity names must name an entity.
  call2(cfg, "SetValue", Variable::ofString("echoscuserviceae"), Variable::ofString("ZYL_AE_STOR_SCU"));
  EXPECT_EQ(value(cfg, "EchoScuServiceAE"), "ZYL_AE_STOR_SCU");
  EXPECT_TRUE(contains(setError(cfg, "qrscuserviceae", Variable::ofString("NOBODY")),
                       "Error: Value is a not a defined Appl Entity Name (val), NOBODY"));
  EXPECT_TRUE(
      contains(setError(cfg, "storscpdir", Variable::ofString("")), "Error: Storage Scp dir can not be set to null"));
  EXPECT_TRUE(contains(setError(cfg, "storscpdir", Variable::ofString(std::string(257, 'd'))),
                       "Error: Parameter is too long."));
  EXPECT_TRUE(
      contains(setError(cfg, "configfile", Variable::ofString("x")), "Error: ConfigFile is a get only parameter."));
  EXPECT_TRUE(
      contains(setError(cfg, "systemdir", Variable::ofString("x")), "Error: SystemDir is a get only parameter."));
  EXPECT_TRUE(contains(setError(cfg, "migrated", Variable::ofString("x")), "Error: Migrated is a get only parameter."));
  EXPECT_TRUE(contains(setError(cfg, "bogus", Variable::ofString("x")), "Error: Invalid config parameter name, bogus"));
  EXPECT_TRUE(contains(errorOf(cfg, "SetValue", {Variable::ofInt32(1), Variable::ofString("x")}),
                       "Error: Argument 1 must be a string"));
}

TEST_F(CfgObject, ARefusedEditLeavesTheObjectClean) {
  Variable cfg = makeCfg();
  EXPECT_TRUE(contains(setError(cfg, "fileextension", Variable::ofString("dcmx")),
                       "Error: File Extension can not be greater than 3 characters (val), dcmx"));
  EXPECT_EQ(call(cfg, "IsDirty").scalar().i32, 0);
  call2(cfg, "SetValue", Variable::ofString("fileextension"), Variable::ofString("dcm"));
  EXPECT_EQ(call(cfg, "IsDirty").scalar().i32, 1);
  call(cfg, "Commit");
  EXPECT_EQ(call(cfg, "IsDirty").scalar().i32, 0);
  EXPECT_TRUE(contains(fileText(userFile_), "dcm</")) << fileText(userFile_);
  // A new object reads what was committed.
  Variable again = makeCfg();
  EXPECT_EQ(value(again, "FileExtension"), "dcm");
}

TEST_F(CfgObject, CommitNeedsTheFileAndWritePermission) {
  Variable cfg = makeCfg();
  call2(cfg, "SetValue", Variable::ofString("acceptany"), Variable::ofString("yes"));
  fs::permissions(userFile_, fs::perms::owner_read | fs::perms::group_read);
  if (::access(userFile_.c_str(), W_OK) != 0) {  // root writes anyway
    EXPECT_TRUE(
        contains(errorOf(cfg, "Commit", {}), "Commit Failed - file does not have write permissions, " + userFile_));
  }
  fs::permissions(userFile_, fs::perms::owner_read | fs::perms::owner_write);
  fs::remove(userFile_);
  EXPECT_TRUE(contains(errorOf(cfg, "Commit", {}), "Commit Failed - file does exist, " + userFile_));
  EXPECT_EQ(call(cfg, "IsDirty").scalar().i32, 1);
}

TEST_F(CfgObject, ApplicationEntitiesAreReadAddedChangedAndRemoved) {
  Variable cfg = makeCfg();
  const Variable one = call(cfg, "GetApplicationEntity", "ZYL_AE_STOR_SCP");
  EXPECT_EQ(field(one, 0, "AET"), "ZYL_STOR_SCP");
  EXPECT_EQ(port(one, 0), 11112u);
  EXPECT_TRUE(contains(errorOf(cfg, "GetApplicationEntity", {Variable::ofString("NOBODY")}), "NOBODY"));
  EXPECT_TRUE(contains(errorOf(cfg, "GetApplicationEntity", {Variable::ofInt32(1)}), "Error: Invalid parameter"));

  Variable count = Variable::null();
  std::vector<zyl::KeywordArg> countKw{{"COUNT", &count}};
  Variable all = fotest::rt().callMethod(cfg, "GetApplicationEntities", {}, countKw);
  EXPECT_EQ(count.scalar().u32, 4u);
  EXPECT_EQ(all.array()->count(), 4);
  EXPECT_EQ(field(all, 0, "APPLENTITYNAME"), "ZYL_AE_QUERY_SCU");

  // Added with the port as a host integer, then changed.
  setEntity(cfg, entity("REMOTE_PACS", "PACS_AE", Variable::ofInt32(4242)));
  EXPECT_EQ(call(cfg, "IsDirty").scalar().i32, 1);
  EXPECT_EQ(port(call(cfg, "GetApplicationEntity", "REMOTE_PACS"), 0), 4242u);
  setEntity(cfg, entity("REMOTE_PACS", "PACS_AE2", Variable::ofString("104")));
  const Variable changed = call(cfg, "GetApplicationEntity", "REMOTE_PACS");
  EXPECT_EQ(field(changed, 0, "AET"), "PACS_AE2");
  EXPECT_EQ(port(changed, 0), 104u);

  // The filter by service type; one that nobody has gives one empty record.
  Variable typeValue = Variable::ofString("STORAGE_SCP");
  std::vector<zyl::KeywordArg> filterKw{{"COUNT", &count}, {"SERVICE_TYPE", &typeValue}};
  Variable storage = fotest::rt().callMethod(cfg, "GetApplicationEntities", {}, filterKw);
  EXPECT_EQ(count.scalar().u32, static_cast<uint32_t>(storage.array()->count()));
  for (int64_t i = 0; i < storage.array()->count(); ++i) EXPECT_EQ(field(storage, i, "SERVICETYPE"), "STORAGE_SCP");
  typeValue = Variable::ofString("NO_SUCH_TYPE");
  std::vector<zyl::KeywordArg> noneKw{{"COUNT", &count}, {"SERVICE_TYPE", &typeValue}};
  Variable none = fotest::rt().callMethod(cfg, "GetApplicationEntities", {}, noneKw);
  EXPECT_EQ(count.scalar().u32, 0u);
  ASSERT_EQ(none.array()->count(), 1);
  EXPECT_EQ(field(none, 0, "APPLENTITYNAME"), "");
  EXPECT_EQ(port(none, 0), 0u);

  call(cfg, "RemoveApplicationEntity", "REMOTE_PACS");
  EXPECT_FALSE(errorOf(cfg, "GetApplicationEntity", {Variable::ofString("REMOTE_PACS")}).empty());
  EXPECT_TRUE(contains(errorOf(cfg, "RemoveApplicationEntity", {Variable::ofString("REMOTE_PACS")}),
                       "Error: Value is a not a defined Appl Entity Name (val), REMOTE_PACS"));
  for (const char* standard : {"ZYL_AE_QUERY_SCU", "ZYL_AE_STOR_SCP", "ZYL_AE_STOR_SCU", "ZYL_AE_ECHO_SCU"})
    EXPECT_TRUE(
        contains(errorOf(cfg, "RemoveApplicationEntity", {Variable::ofString(standard)}),
                 std::string("Error: ") + standard + " is a standard application entity and it can not be deleted"));
}

TEST_F(CfgObject, EntityChecksComeBeforeAnyChange) {
  Variable cfg = makeCfg();
  struct Case {
    std::vector<Variable> args;
    std::string message;
  };
  std::vector<Case> cases;
  cases.push_back(
      {entity(std::string(31, 'N'), "AE", Variable::ofInt32(104)), "Error: Application Entity Name is too long."});
  cases.push_back(
      {entity("X", std::string(17, 'A'), Variable::ofInt32(104)), "Error: Application Entity AET is too long."});
  cases.push_back(
      {entity("X", "AE", Variable::ofString("123456")), "Error: Application Entity Port Number is too long."});
  cases.push_back(
      {entity("X", "AE", Variable::ofString("0")), "Error: Application Entity Port Number is invalid (val), 0"});
  cases.push_back({entity("X", "AE", Variable::ofString("70000")),
                   "Error: Application Entity Port Number is invalid (val), 70000"});
  // Ports that would be stored as written and read back as their leading number.
  for (const char* port : {"1e3", "104.7", " 104 ", "+104", "0x68"})
    cases.push_back({entity("X", "AE", Variable::ofString(port)),
                     (std::string("Error: Application Entity Port Number is invalid (val), ") + port).c_str()});
  // Titles no peer accepts; the parameter has the one message.
  for (const char* aet : {"", "   ", "A\\B", "TAB\tAE"})
    cases.push_back({entity("X", aet, Variable::ofInt32(104)), "Error: Application Entity AET is too long."});
  cases.push_back({entity("X", "AE", Variable::ofInt32(104), std::string(31, 'L')),
                   "Error: Application Entity Service List Name is too long."});
  cases.push_back({entity("X", "AE", Variable::ofInt32(104), "No_Such_List"),
                   "Error: Value ia not a defined Service List Name (val), No_Such_List"});
  for (Case& c : cases) {
    EXPECT_TRUE(contains(errorOf(cfg, "SetApplicationEntity", std::move(c.args)), c.message)) << c.message;
    EXPECT_EQ(call(cfg, "IsDirty").scalar().i32, 0) << c.message;
  }
  auto longHost = entity("X", "AE", Variable::ofInt32(104));
  longHost[2] = Variable::ofString(std::string(31, 'h'));
  EXPECT_TRUE(contains(errorOf(cfg, "SetApplicationEntity", std::move(longHost)),
                       "Error: Application Entity HostName is too long."));
  auto longType = entity("X", "AE", Variable::ofInt32(104));
  longType[5] = Variable::ofString(std::string(31, 't'));
  EXPECT_TRUE(contains(errorOf(cfg, "SetApplicationEntity", std::move(longType)),
                       "Error: Application Entity Type is too long."));
}

TEST_F(CfgObject, ValuesThatAreNotWhatTheyLookLikeAreRefused) {
  Variable cfg = makeCfg();
  const char* const extension = "Error: File Extension can not be greater than 3 characters (val), ";
  const char* const responses = "Error: Max Query Responses value is not valid (it must be > 0) (val), ";
  const char* const controlPort = "Error: Stor Scp Ctrl Port value is not valid (it must be > 0) (val), ";
  const std::pair<const char*, std::vector<std::pair<std::string, std::string>>> cases[] = {
      {"fileextension", {{"", extension}, {"../", extension}, {"d.m", extension}, {"a/", extension}}},
      {"maxqueryresponses", {{"1e3", responses}, {"10.5", responses}, {"10 ", responses}}},
      {"storscpctrlport", {{"1e3", controlPort}, {"0x68", controlPort}}},
  };
  for (const auto& [name, values] : cases) {
    const std::string before = value(cfg, name);
    for (const auto& [given, message] : values) {
      EXPECT_TRUE(contains(setError(cfg, name, Variable::ofString(given)), message + given)) << name << " " << given;
      EXPECT_EQ(value(cfg, name), before);
    }
  }
  EXPECT_EQ(call(cfg, "IsDirty").scalar().i32, 0);
  // The longest storage folder that is accepted reads back whole.
  const std::string longest(256, 'd');
  call2(cfg, "SetValue", Variable::ofString("storscpdir"), Variable::ofString(longest));
  EXPECT_EQ(value(cfg, "storscpdir"), longest);
}

TEST_F(CfgObject, ServiceListsAndTypesComeInFileOrder) {
  Variable cfg = makeCfg();
  Variable count = Variable::null();
  std::vector<zyl::KeywordArg> countKw{{"COUNT", &count}};
  Variable lists = fotest::rt().callMethod(cfg, "GetServiceLists", {}, countKw);
  ASSERT_TRUE(lists.isArray());
  EXPECT_EQ(count.scalar().u32, static_cast<uint32_t>(lists.array()->count()));
  std::vector<std::string> names;
  for (int64_t i = 0; i < lists.array()->count(); ++i)
    names.emplace_back(zyl::hostStringText(lists.array()->as<zyl::HostString>()[i]));
  EXPECT_NE(std::find(names.begin(), names.end(), "QR_SCU_Service_List"), names.end());
  EXPECT_NE(std::find(names.begin(), names.end(), "Storage_SCP_Service_List"), names.end());
  Variable types = fotest::rt().callMethod(cfg, "GetServiceTypes", {}, countKw);
  EXPECT_GE(count.scalar().u32, 1u);
}

TEST_F(CfgObject, UpdateReplacesThePerUserCopyAndDropsUncommittedEdits) {
  Variable cfg = makeCfg();
  call2(cfg, "SetValue", Variable::ofString("fileextension"), Variable::ofString("xyz"));
  call(cfg, "Commit");
  call2(cfg, "SetValue", Variable::ofString("acceptany"), Variable::ofString("yes"));
  call(cfg, "UpdateConfigurationFile");
  EXPECT_EQ(value(cfg, "fileextension"), value(cfg, "fileextension"));
  EXPECT_NE(value(cfg, "fileextension"), "xyz");
  EXPECT_EQ(value(cfg, "acceptany"), "no");
  EXPECT_EQ(fileText(userFile_), fileText(systemFile_));
  // Cleanup releases the document; methods then fail with the access layer's message.
  call(cfg, "Cleanup");
  EXPECT_FALSE(errorOf(cfg, "GetValue", {Variable::ofString("acceptany")}).empty());
}

// Points the installation root at another folder for the test's lifetime.
class InstallationRoot {
 public:
  explicit InstallationRoot(const fs::path& root) { setenv("ZYL_DIR", root.c_str(), 1); }
  ~InstallationRoot() { setenv("ZYL_DIR", ZYL_STAGE_DIR, 1); }
  InstallationRoot(const InstallationRoot&) = delete;
  InstallationRoot& operator=(const InstallationRoot&) = delete;
};

TEST_F(CfgObject, AnUnusableSystemCopyFailsTheUpdateAndLeavesTheUserCopyAndTheObjectAlone) {
  const std::string shipped = fileText(systemFile_);
  std::string withoutQueryEntity = shipped;
  const size_t begin = withoutQueryEntity.find("<QRScuServiceAE>");
  const size_t end = withoutQueryEntity.find("</QRScuServiceAE>") + std::string("</QRScuServiceAE>").size();
  ASSERT_NE(begin, std::string::npos);
  withoutQueryEntity.erase(begin, end - begin);
  struct Case {
    const char* name;
    std::function<void(const fs::path& systemCopy)> make;
  };
  const Case cases[] = {
      {"missing", [](const fs::path&) {}},
      {"malformed", [&](const fs::path& p) { std::ofstream(p) << shipped.substr(0, shipped.size() / 2); }},
      {"a folder", [](const fs::path& p) { fs::create_directory(p); }},
      {"without QRScuServiceAE", [&](const fs::path& p) { std::ofstream(p) << withoutQueryEntity; }},
  };
  Variable cfg = makeCfg();
  call2(cfg, "SetValue", Variable::ofString("fileextension"), Variable::ofString("xyz"));
  call(cfg, "Commit");
  call2(cfg, "SetValue", Variable::ofString("acceptany"), Variable::ofString("yes"));
  const std::string committed = fileText(userFile_);
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const fs::path root = tmp(std::string("root ") + c.name);
    fs::create_directories(root / "resource" / "orvo");
    c.make(root / "resource" / "orvo" / "orvocfg.xml");
    std::string error;
    {
      InstallationRoot installation(root);
      error = errorOf(cfg, "UpdateConfigurationFile", {});
    }
    EXPECT_TRUE(contains(error, "Error: Failed to update configuration file, " + userFile_)) << error;
    EXPECT_EQ(fileText(userFile_), committed);
    // The object keeps its document, uncommitted edit included.
    EXPECT_EQ(value(cfg, "fileextension"), "xyz");
    EXPECT_EQ(value(cfg, "acceptany"), "yes");
  }
}

}  // namespace
}  // namespace cfgtest

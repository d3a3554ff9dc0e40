// Loads the real module into the real host and checks what it defines.
#include <gtest/gtest.h>

#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "support/temp_dir.h"
#include "zyl/runtime.h"

namespace {

namespace fs = std::filesystem;
using zyl::Type;

class ModuleLoad : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    userBaseFolder_.emplace("zyl_module_test");
    userBase_ = userBaseFolder_->path();
    setenv("ZYL_DIR", ZYL_STAGE_DIR, 1);
    setenv("ZYL_USER_DIR", userBase_.c_str(), 1);
    // A definition that exists before the module loads, carrying its own
    // class record: the module must keep that record.
    const HostStructTag storScu[] = {{"ZYLFFORVOSTORSCU_TOP", Type::Int64},    {"ORVOSTORSCUAENSTORAGE", Type::String},
                                     {"ORVOSTORSCUCB", Type::String},          {"ORVOSTORSCUCBDATA", Type::Pointer},
                                     {"ZYLFFORVOSTORSCU_BOTTOM", Type::Int64}, {nullptr, Type::Undefined}};
    zyl::StructDef* def = HostDefineStructure("ZYLFFORVOSTORSCU", storScu);
    preexistingRecord_ = HostClassRecordCreate("ZYLFFORVOSTORSCU");
    def->setClassRecord(preexistingRecord_);
    std::string error;
    loaded_ = zyl::Runtime::instance().loadModule(ZYL_ORVO_PATH, &error);
    loadError_ = error;
  }
  static void TearDownTestSuite() { userBaseFolder_.reset(); }
  static inline std::optional<zyl::test::TempDir> userBaseFolder_;
  static inline fs::path userBase_;
  static inline bool loaded_ = false;
  static inline std::string loadError_;
  static inline HostClassRecord* preexistingRecord_ = nullptr;
};

using Fields = std::vector<std::pair<std::string, Type>>;

void expectStructure(const char* name, const Fields& expected) {
  SCOPED_TRACE(name);
  const zyl::StructDef* def = HostFindStructure(name);
  ASSERT_NE(def, nullptr);
  ASSERT_EQ(def->fields().size(), expected.size());
  for (size_t i = 0; i < expected.size(); ++i) {
    EXPECT_EQ(def->fields()[i].name, expected[i].first) << "field " << i;
    EXPECT_EQ(def->fields()[i].type, expected[i].second) << expected[i].first;
  }
}

TEST_F(ModuleLoad, LoadsAndDefinesTheSevenStructuresInOrderWithTheirFields) {
  ASSERT_TRUE(loaded_) << loadError_;
  expectStructure("ZYLFFORVO", {{"ZYLFFORVO_TOP", Type::Int64},
                                {"ORVONONCONFORMING", Type::Int16},
                                {"ORVOMSGFILEID", Type::Int32},
                                {"ORVOFILENAME", Type::String},
                                {"ORVOAPPNAME", Type::String},
                                {"ORVOAPPID", Type::Int32},
                                {"ORVOFILEMODE", Type::Int32},
                                {"ORVOFILECLONED", Type::String},
                                {"ORVOSOPCLASS", Type::String},
                                {"ORVONOPIXELDATA", Type::Int16},
                                {"ZYLFFORVO_BOTTOM", Type::Int64}});
  expectStructure("ZYLFFORVOELEMENT", {{"TAG", Type::String},
                                       {"DESCRIPTION", Type::String},
                                       {"VR", Type::String},
                                       {"LENGTH", Type::UInt32},
                                       {"VALUECOUNT", Type::Int32},
                                       {"SEQID", Type::Int32},
                                       {"GROUPNUM", Type::Int32},
                                       {"LEVEL", Type::Int32},
                                       {"VALUE", Type::String}});
  expectStructure("ZYLFFORVOCFG", {{"ZYLFFORVOCFG_TOP", Type::Int64},
                                   {"ORVOCFGXMLFILE", Type::String},
                                   {"ORVOCFGXMLDOC", Type::Int64},
                                   {"ORVOCFGXMLPARSER", Type::Int64},
                                   {"ORVOCFGXMLDIRTY", Type::Int16},
                                   {"ZYLFFORVOCFG_BOTTOM", Type::Int64}});
  expectStructure("ZYLFFORVOCFGAE", {{"APPLENTITYNAME", Type::String},
                                     {"AET", Type::String},
                                     {"HOSTNAME", Type::String},
                                     {"PORT", Type::UInt32},
                                     {"SERVICELISTNAME", Type::String},
                                     {"SERVICETYPE", Type::String}});
  Fields query = {{"ZYLFFORVOQUERY_TOP", Type::Int64},   {"ORVOQUERYAENQUERY", Type::String},
                  {"ORVOQUERYAENSTORAGE", Type::String}, {"ORVOQUERYMODEL", Type::Int16},
                  {"ORVOQUERYLEVEL", Type::Int16},       {"ORVOQUERYCB", Type::String},
                  {"ORVOQUERYCBDATA", Type::Pointer}};
  for (const char* f :
       {"PATIENT", "FAMILY", "GIVEN", "MIDDLE", "PREFIX", "SUFFIX", "PATIENTID", "STUDYUID", "STUDYID", "STUDYDATE",
        "STUDYTIME", "ACCESSION", "SERIESUID", "SERIESNUM", "MODALITY", "SOPUID", "INSTANCENUM"})
    query.emplace_back(std::string("ORVOQUERY") + f, Type::String);
  query.emplace_back("ZYLFFORVOQUERY_BOTTOM", Type::Int64);
  expectStructure("ZYLFFORVOQUERY", query);
  Fields results;
  for (const char* f :
       {"PATIENT_NAME", "FAMILY_NAME", "GIVEN_NAME", "MIDDLE_NAME", "PREFIX", "SUFFIX", "PATIENT_ID",
        "STUDY_INSTANCE_UID", "STUDY_ID", "STUDY_DATE", "STUDY_TIME", "ACCESSION_NUMBER", "SERIES_INSTANCE_UID",
        "SERIES_NUMBER", "MODALITY", "SOP_INSTANCE_UID", "INSTANCE_NUMBER", "STUDY_DESCRIPTION", "SERIES_DESCRIPTION"})
    results.emplace_back(f, Type::String);
  expectStructure("ZYLFFORVOQRESULTS", results);
  expectStructure("ZYLFFORVOSTORSCU", {{"ZYLFFORVOSTORSCU_TOP", Type::Int64},
                                       {"ORVOSTORSCUAENSTORAGE", Type::String},
                                       {"ORVOSTORSCUCB", Type::String},
                                       {"ORVOSTORSCUCBDATA", Type::Pointer},
                                       {"ZYLFFORVOSTORSCU_BOTTOM", Type::Int64}});
}

TEST_F(ModuleLoad, TheFourClassStructuresCarryClassRecordsTheRecordStructuresDoNot) {
  ASSERT_TRUE(loaded_) << loadError_;
  for (const char* name : {"ZYLFFORVO", "ZYLFFORVOCFG", "ZYLFFORVOQUERY", "ZYLFFORVOSTORSCU"}) {
    ASSERT_NE(HostFindStructure(name), nullptr) << name;
    EXPECT_NE(HostFindStructure(name)->classRecord(), nullptr) << name;
    EXPECT_NE(zyl::Runtime::instance().findClass(name), nullptr) << name;
  }
  EXPECT_EQ(HostFindStructure("ZYLFFORVOSTORSCU")->classRecord(), preexistingRecord_);
  for (const char* name : {"ZYLFFORVOELEMENT", "ZYLFFORVOCFGAE", "ZYLFFORVOQRESULTS"})
    EXPECT_EQ(HostFindStructure(name)->classRecord(), nullptr) << name;
}

// help lists a method's keywords from its registration; a method that
// accepts keywords and reads none says so.
TEST_F(ModuleLoad, EveryKeywordMethodRegistersTheKeywordsItReads) {
  ASSERT_TRUE(loaded_) << loadError_;
  zyl::Runtime& rt = zyl::Runtime::instance();
  for (const char* name : {"ZYLFFORVO", "ZYLFFORVOCFG", "ZYLFFORVOQUERY", "ZYLFFORVOSTORSCU"})
    for (const zyl::RoutineInfo* r : rt.routinesOfClass(name))
      EXPECT_EQ(r->keywordsDescribed, (r->flags & HOST_ROUTINE_KEYWORDS) != 0) << r->name;
  const std::vector<std::pair<const char*, std::vector<std::string>>> samples = {
      {"ZYLFFORVOCFG::GETAPPLICATIONENTITIES", {"COUNT", "SERVICE_TYPE"}},
      {"ZYLFFORVO::GETPIXELDATA", {"FRAME", "ORDER", "COUNT"}},
      {"ZYLFFORVOQUERY::RETRIEVE",
       {"COUNT", "PATIENT_ID", "SERIES_INSTANCE_UID", "SOP_INSTANCE_UID", "STUDY_INSTANCE_UID"}},
      {"ZYLFFORVOSTORSCU::SETPROPERTY", {"CALLBACK_DATA", "CALLBACK_FUNCTION", "STORAGE_SCP"}},
      {"ZYLFFORVOSTORSCU::SEND", {}},
  };
  for (const auto& [routine, keywords] : samples) {
    const zyl::RoutineInfo* r = rt.findRoutine(routine, true);
    if (r == nullptr) r = rt.findRoutine(routine, false);
    ASSERT_NE(r, nullptr) << routine;
    EXPECT_EQ(r->keywords, keywords) << routine;
  }
}

// Each code of the block by its name and the text the host makes of it.
// Outside a routine call %N stands for nothing, so the text is the
// arguments' or the message's own.
TEST_F(ModuleLoad, MessageBlockNamesItsThirteenCodesAndFormatsTheirArguments) {
  ASSERT_TRUE(loaded_) << loadError_;
  // Defining a block of the same name again hands back the module's block.
  const HostMessageDef probe[] = {{"PROBE", "%s"}};
  HostMsgBlock block = HostDefineMessageBlock("ZYL_MBLK_ORVO", 1, probe);
  ASSERT_NE(block, nullptr);
  struct Code {
    const char* name;
    std::string text;
  };
  const std::vector<Code> codes = {
      {"ZYL_M_ORVO_ERRS1", "a"},
      {"ZYL_M_ORVO_ERRS2", "a, b"},
      {"ZYL_M_ORVO_ERRS3", "a, b, c"},
      {"ZYL_M_ORVO_ERRS4", "a, b, c, d"},
      {"ZYL_M_ORVO_ERRS5", "a, b, c, d, e"},
      {"ZYL_M_ORVO_ERRS6", "a, b, c, d, e, f"},
      {"ZYL_M_ORVO_INVALID_DICOMTAG", "Error: Invalid DicomTag param...must be a string with exactly 9 chars."},
      {"ZYL_M_ORVO_INVALID_PRIVCODE", "Error: Invalid Private Code param...must be a string."},
      {"ZYL_M_ORVO_INVALID_GRP", "Error: Invalid Group param...must be a string with exactly 4 chars."},
      {"ZYL_M_ORVO_INVALID_ELEM", "Error: Invalid Element param...must be a string with exactly 2 chars."},
      {"ZYL_M_ORVO_INVALID_DICOM_VR", "Error: Invalid VR...must be a string with exactly 2 chars."},
      {"ZYL_M_ORVO_INVALID_CLEAR_KW",
       "Error: Invalid keyword combination, clear and remove keywords are mutally exclusive."},
      {"ZYL_M_ORVO_INVALID_REMOVE_KW",
       "Error: Invalid keyword combination, blockremove and remove keywords are mutually exclusive."}};
  std::vector<zyl::Message> seen;
  zyl::Runtime::instance().setMessageSink([&](const zyl::Message& m) { seen.push_back(m); });
  for (size_t i = 0; i < codes.size(); ++i) {
    const int code = -static_cast<int>(i);
    const char* name = nullptr;
    ASSERT_EQ(HostMessageBlockEntry(block, code, &name, nullptr), 1) << code;
    EXPECT_EQ(name, std::string(codes[i].name)) << code;
    HostMessage(block, code, HOST_MSG_INFO, "a", "b", "c", "d", "e", "f");
  }
  zyl::Runtime::instance().setMessageSink(nullptr);
  ASSERT_EQ(seen.size(), codes.size());
  for (size_t i = 0; i < codes.size(); ++i) {
    EXPECT_EQ(seen[i].text, codes[i].text) << codes[i].name;
    EXPECT_EQ(seen[i].block, "ZYL_MBLK_ORVO");
    EXPECT_EQ(seen[i].code, -static_cast<int>(i));
  }
  EXPECT_EQ(HostMessageBlockEntry(block, -13, nullptr, nullptr), 0);
}

TEST_F(ModuleLoad, FirstUseMakesTheUserDirectoryWithItsReadme) {
  ASSERT_TRUE(loaded_) << loadError_;
  const fs::path readme = userBase_ / "zyl" / "orvo" / "Readme.txt";
  ASSERT_TRUE(fs::exists(readme));
  std::ifstream in(readme);
  std::stringstream text;
  text << in.rdbuf();
  EXPECT_NE(text.str().find("Directory File List: \n"), std::string::npos);
  EXPECT_NE(text.str().find("holds the storscp.log and merge.log files for the Storage SCP service. \n"),
            std::string::npos);
}

}  // namespace

// Start-up, configuration values, services, transfer syntaxes and statuses.
#include "support.h"
#include "support/process.h"

#include <dcmtk/config/osconfig.h>
#include <dcmtk/dcmdata/dcxfer.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <iterator>
#include <fstream>
#include <set>
#include <sstream>
#include <string>
#include <vector>

using namespace zyl::toolkit::test;
using zyl::test::RunTool;
using zyl::test::ToolResult;

TEST(ToolkitStartup, SecondInitialisationAndIniChangeReportAlreadyInitialised) {
  initToolkit();
  EXPECT_EQ(MC_Library_Initialization(nullptr, nullptr, nullptr), MC_LIBRARY_ALREADY_INITIALIZED);
  EXPECT_EQ(MC_Set_MergeINI("/nonexistent/merge.ini"), MC_LIBRARY_ALREADY_INITIALIZED);
}

TEST(ToolkitStartup, ApplicationTitlesAreRegisteredOnce) {
  initToolkit();
  int first = 0, again = 0;
  ASSERT_EQ(MC_Register_Application(&first, "CONFIG_TEST_AE"), MC_NORMAL_COMPLETION);
  EXPECT_GT(first, 0);
  EXPECT_EQ(MC_Register_Application(&again, "CONFIG_TEST_AE"), MC_ALREADY_REGISTERED);
  EXPECT_EQ(again, first);
  EXPECT_EQ(MC_Register_Application(&again, ""), MC_INVALID_LENGTH_FOR_TITLE);
  EXPECT_EQ(MC_Register_Application(&again, "SEVENTEEN_CHARS_X"), MC_INVALID_LENGTH_FOR_TITLE);
}

TEST(ToolkitConfig, StringValuesComeFromTheProfileAndRespectTheBuffer) {
  initToolkit();
  char buffer[66] = {};
  ASSERT_EQ(MC_Get_String_Config_Value(MC_CFG_IMPLEMENTATION_CLASS_UID, sizeof buffer, buffer), MC_NORMAL_COMPLETION);
  EXPECT_EQ(std::string(buffer), "2.25.18621328157339787642210104787852623083");
  // A UID of 43 characters does not fit 32 bytes: callers then use their own root.
  char small[32] = {};
  EXPECT_EQ(MC_Get_String_Config_Value(MC_CFG_IMPLEMENTATION_CLASS_UID, sizeof small, small), MC_BUFFER_TOO_SMALL);
  ASSERT_EQ(MC_Get_String_Config_Value(MC_CFG_IMPLEMENTATION_VERSION, sizeof buffer, buffer), MC_NORMAL_COMPLETION);
  EXPECT_LE(std::string(buffer).size(), 16u);
  EXPECT_EQ(MC_Get_String_Config_Value(static_cast<MC_CONFIG_PARAMETER>(999), sizeof buffer, buffer),
            MC_INVALID_PARAMETER_NAME);
}

TEST(ToolkitConfig, ListenPortCanBeSet) {
  initToolkit();
  ASSERT_EQ(MC_Set_Int_Config_Value(MC_CFG_TCPIP_LISTEN_PORT, 11112), MC_NORMAL_COMPLETION);
  char buffer[16] = {};
  ASSERT_EQ(MC_Get_String_Config_Value(MC_CFG_TCPIP_LISTEN_PORT, sizeof buffer, buffer), MC_NORMAL_COMPLETION);
  EXPECT_EQ(std::string(buffer), "11112");
  EXPECT_EQ(MC_Set_Int_Config_Value(MC_CFG_TCPIP_LISTEN_PORT, 70000), MC_INVALID_PORT_NUMBER);
  EXPECT_EQ(MC_Set_Int_Config_Value(MC_CFG_IMPLEMENTATION_VERSION, 3), MC_INVALID_DATA_TYPE);
}

TEST(ToolkitServices, NamesAndUidsMapBothWays) {
  initToolkit();
  char text[66] = {};
  ASSERT_EQ(MC_Get_UID_From_MergeCOM_Service("STANDARD_ECHO", text, sizeof text), MC_NORMAL_COMPLETION);
  EXPECT_EQ(std::string(text), "1.2.840.10008.1.1");
  for (const char* name : {"PATIENT_ROOT_QR_FIND", "PATIENT_ROOT_QR_GET", "PATIENT_ROOT_QR_MOVE",
                           "PATIENT_STUDY_ONLY_QR_FIND", "PATIENT_STUDY_ONLY_QR_GET", "PATIENT_STUDY_ONLY_QR_MOVE",
                           "STUDY_ROOT_QR_FIND", "STUDY_ROOT_QR_GET", "STUDY_ROOT_QR_MOVE"}) {
    char uid[66] = {}, back[66] = {};
    ASSERT_EQ(MC_Get_UID_From_MergeCOM_Service(name, uid, sizeof uid), MC_NORMAL_COMPLETION) << name;
    ASSERT_EQ(MC_Get_MergeCOM_Service(uid, back, sizeof back), MC_NORMAL_COMPLETION) << name;
    EXPECT_EQ(std::string(back), name);
  }
  // Storage classes, including one read with a trailing pad.
  ASSERT_EQ(MC_Get_MergeCOM_Service("1.2.840.10008.5.1.4.1.1.2", text, sizeof text), MC_NORMAL_COMPLETION);
  EXPECT_EQ(std::string(text), "STANDARD_CT_IMAGE");
  ASSERT_EQ(MC_Get_MergeCOM_Service("1.2.840.10008.5.1.4.1.1.481.5 ", text, sizeof text), MC_NORMAL_COMPLETION);
  EXPECT_EQ(std::string(text), "STANDARD_RT_PLAN");
  EXPECT_EQ(MC_Get_MergeCOM_Service("1.2.3.4", text, sizeof text), MC_INVALID_SOP_CLASS_UID);
  EXPECT_EQ(MC_Get_UID_From_MergeCOM_Service("NO_SUCH_SERVICE", text, sizeof text), MC_INVALID_SERVICE_NAME);
  char tiny[4];
  EXPECT_EQ(MC_Get_UID_From_MergeCOM_Service("STANDARD_ECHO", tiny, sizeof tiny), MC_BUFFER_TOO_SMALL);
}

TEST(ToolkitSyntaxes, NumbersAndUidsRoundTrip) {
  struct Expected {
    MC_TRANSFER_SYNTAX number;
    const char* uid;
  };
  for (const Expected& e :
       {Expected{MC_TS_IMPLICIT_LITTLE_ENDIAN, "1.2.840.10008.1.2"},
        Expected{MC_TS_EXPLICIT_LITTLE_ENDIAN, "1.2.840.10008.1.2.1"},
        Expected{MC_TS_EXPLICIT_BIG_ENDIAN, "1.2.840.10008.1.2.2"}, Expected{MC_TS_RLE, "1.2.840.10008.1.2.5"},
        Expected{MC_TS_JPEG_BASELINE, "1.2.840.10008.1.2.4.50"},
        Expected{MC_TS_JPEG_EXTENDED_2_4, "1.2.840.10008.1.2.4.51"},
        Expected{MC_TS_JPEG_LOSSLESS_NONHIER_14, "1.2.840.10008.1.2.4.57"},
        Expected{MC_TS_JPEG_LOSSLESS_SV1, "1.2.840.10008.1.2.4.70"},
        Expected{MC_TS_JPEG2000_LOSSLESS_ONLY, "1.2.840.10008.1.2.4.90"},
        Expected{MC_TS_JPEG2000, "1.2.840.10008.1.2.4.91"}}) {
    char uid[66] = {};
    ASSERT_EQ(MC_Get_Transfer_Syntax_From_Enum(e.number, uid, sizeof uid), MC_NORMAL_COMPLETION);
    EXPECT_EQ(std::string(uid), e.uid);
    MC_TRANSFER_SYNTAX number = MC_TS_INVALID;
    ASSERT_EQ(MC_Get_Enum_From_Transfer_Syntax(e.uid, &number), MC_NORMAL_COMPLETION);
    EXPECT_EQ(number, e.number);
  }
  // Every number the toolkit knows maps to a distinct UID and back.
  std::set<std::string> uids;
  for (int n = 100; n <= 160; ++n) {
    char uid[66] = {};
    if (MC_Get_Transfer_Syntax_From_Enum(static_cast<MC_TRANSFER_SYNTAX>(n), uid, sizeof uid) != MC_NORMAL_COMPLETION)
      continue;
    EXPECT_TRUE(uids.insert(uid).second) << uid;
    if (uid[0] == '\0') continue;  // implicit big endian has no UID of its own
    MC_TRANSFER_SYNTAX back = MC_TS_INVALID;
    ASSERT_EQ(MC_Get_Enum_From_Transfer_Syntax(uid, &back), MC_NORMAL_COMPLETION);
    EXPECT_EQ(back, n);
  }
  // They are the transfer syntaxes of pydicom's dictionary that DCMTK can
  // carry, and the private one DCMTK reads.
  const ToolResult listed = RunTool({"/usr/bin/python3", "-c",
                                     "from pydicom._uid_dict import UID_dictionary as d\n"
                                     "print('\\n'.join(u for u, v in d.items() if v[1] == 'Transfer Syntax'))"});
  ASSERT_EQ(listed.exitCode, 0) << listed.output;
  std::set<std::string> carried{"1.2.840.113619.5.2"};
  std::istringstream lines(listed.output);
  for (std::string uid; std::getline(lines, uid);)
    if (DcmXfer(uid.c_str()).getXfer() != EXS_Unknown) carried.insert(uid);
  uids.erase("");  // implicit big endian has no UID of its own
  std::vector<std::string> onlyOurs, onlyTheirs;
  std::set_difference(uids.begin(), uids.end(), carried.begin(), carried.end(), std::back_inserter(onlyOurs));
  std::set_difference(carried.begin(), carried.end(), uids.begin(), uids.end(), std::back_inserter(onlyTheirs));
  EXPECT_EQ(onlyOurs, std::vector<std::string>{});
  EXPECT_EQ(onlyTheirs, std::vector<std::string>{});
  MC_TRANSFER_SYNTAX number;
  EXPECT_EQ(MC_Get_Enum_From_Transfer_Syntax("1.2.3", &number), MC_INVALID_TRANSFER_SYNTAX);
  EXPECT_EQ(MC_Get_Enum_From_Transfer_Syntax("1.2.840.10008.1.2.1 ", &number), MC_NORMAL_COMPLETION);
  // Only a UID names a syntax: not an empty value (which DCMTK's table holds
  // for implicit big endian), nor the name DCMTK gives a syntax.
  for (const char* notUid : {"", " ", "Little Endian Explicit", "JPEG Baseline"}) {
    EXPECT_EQ(MC_Get_Enum_From_Transfer_Syntax(notUid, &number), MC_INVALID_TRANSFER_SYNTAX) << '"' << notUid << '"';
  }
}

TEST(ToolkitStatuses, EveryStatusHasItsOwnText) {
  std::set<std::string> texts;
  int named = 0;
  for (int code : {1}) texts.insert(MC_Error_Message(static_cast<MC_STATUS>(code)));
  for (int code = 4000; code <= 4140; ++code) {
    const std::string text = MC_Error_Message(static_cast<MC_STATUS>(code));
    if (code == 4070) {
      EXPECT_EQ(text, "Unknown status");
      continue;
    }
    ++named;
    EXPECT_TRUE(texts.insert(text).second) << code << " " << text;
  }
  EXPECT_EQ(named, 140);
  EXPECT_EQ(std::string(MC_Error_Message(MC_EMPTY_VALUE)), "The attribute has no value");
}

TEST(ToolkitDictionary, DescriptionsComeFromTheDictionary) {
  initToolkit();
  char text[256] = {};
  ASSERT_EQ(MC_Get_Tag_Info(tag(0x0010, 0x0010), text, sizeof text), MC_NORMAL_COMPLETION);
  EXPECT_EQ(std::string(text), "PatientName");
  ASSERT_EQ(MC_Get_Tag_Info(tag(0x0028, 0x0000), text, sizeof text), MC_NORMAL_COMPLETION);
  EXPECT_EQ(std::string(text), "Group Length");
  EXPECT_EQ(MC_Get_Tag_Info(tag(0x0011, 0x1234), text, sizeof text), MC_INVALID_TAG);
  EXPECT_EQ(std::string(text), "");
}

// DCMTK loads the dictionary its environment names on first use; the
// toolkit's own files replace it (and it is not loaded twice when they are
// the same files). Runs before anything else of DCMTK in its process.
TEST(ToolkitDictionary, TheToolkitsFilesReplaceADictionaryTheEnvironmentNames) {
  const std::string path = ::testing::TempDir() + "/other.dic";
  std::ofstream(path) << "(0010,0010)\tPN\tNotThePatientName\t1\tDICOM\n(0011,1234)\tLO\tOnlyInTheOther\t1\tPRIVATE\n";
  setenv("DCMDICTPATH", path.c_str(), 1);
  initToolkit();
  char text[256] = {};
  ASSERT_EQ(MC_Get_Tag_Info(tag(0x0010, 0x0010), text, sizeof text), MC_NORMAL_COMPLETION);
  EXPECT_EQ(std::string(text), "PatientName");
  EXPECT_EQ(MC_Get_Tag_Info(tag(0x0011, 0x1234), text, sizeof text), MC_INVALID_TAG);
  unsetenv("DCMDICTPATH");
}

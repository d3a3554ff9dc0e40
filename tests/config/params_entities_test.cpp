// Parameters, application entities, service lists and service types of a
// loaded document.
#include "config_test_support.h"

namespace zyl::config::testing {
namespace {

class ParamTest : public ConfigFixture {};

TEST_F(ParamTest, EmptyElementReadsEmptyAndSettingItGivesItText) {
  Load(kSampleConfig);
  EXPECT_EQ(Param("SystemDir"), "");
  EXPECT_EQ(Param("Empty"), "");
  ASSERT_EQ(SetParam(document_, "SystemDir", "/opt/zyl/resource/orvo", path_, message_), 0);
  EXPECT_NE(WriteBack().find("<SystemDir>/opt/zyl/resource/orvo</SystemDir>"), std::string::npos);
  ASSERT_EQ(LoadConfig(path_, document_, message_), 0);
  EXPECT_EQ(Param("SystemDir"), "/opt/zyl/resource/orvo");
}

TEST_F(ParamTest, AbsentOrDifferentlyCasedNameFailsNamingParameterAndPath) {
  Load(kSampleConfig);
  for (const std::string_view name : {"Migrated", "storscpdir"}) {
    std::array<char, 32> value;
    value.fill('#');
    EXPECT_EQ(ReadParam(document_, name, value, path_, message_), 1);
    EXPECT_EQ(Message(), "Error: Failed to read Orvo Cfg param (" + std::string(name) + ") from (" + path_ + ")");
    EXPECT_STREQ(value.data(), "");
    EXPECT_EQ(SetParam(document_, name, "x", path_, message_), 1);
    EXPECT_EQ(Message(), "Error: Failed to set Orvo Cfg param (" + std::string(name) + ") from (" + path_ + ")");
  }
  EXPECT_EQ(Param("StorScpDir"), "/data/store");  // untouched by the failed sets
}

TEST_F(ParamTest, ValueIsCutToTheBufferWithoutSplittingACharacter) {
  Load(kSampleConfig);
  ASSERT_EQ(SetParam(document_, "StorScpDir", "abcd\xC3\xA9", path_, message_), 0);
  std::array<char, 6> small;
  ASSERT_EQ(ReadParam(document_, "StorScpDir", small, path_, message_), 0);
  EXPECT_STREQ(small.data(), "abcd");  // "é" needs two more bytes than are left
  std::array<char, 7> exact;
  ASSERT_EQ(ReadParam(document_, "StorScpDir", exact, path_, message_), 0);
  EXPECT_STREQ(exact.data(), "abcd\xC3\xA9");
}

TEST_F(ParamTest, TextThatIsNotUtf8IsRefused) {
  Load(kSampleConfig);
  EXPECT_EQ(SetParam(document_, "StorScpDir", "bad \xFF\xFE", path_, message_), 1);
  EXPECT_EQ(Message(), "Error: Failed to set Orvo Cfg param (StorScpDir) from (" + path_ + ")");
  EXPECT_EQ(WriteBack(), kSampleConfig);
}

TEST_F(ParamTest, TheValueIsTheElementsOwnTextAndAWriteKeepsItsComments) {
  struct Case {
    const char* element;  // the <P> element as the file has it
    const char* read;     // what reading it gives
    const char* written;  // the element after it was set to "new"
  };
  const Case cases[] = {
      {"<P><!-- yes or no -->no</P>", "no", "<P><!-- yes or no -->new</P>"},
      {"<P>no<!-- yes or no --></P>", "no", "<P>new<!-- yes or no --></P>"},
      {"<P>a<!--c-->b</P>", "ab", "<P>new<!--c--></P>"},
      {"<P><!--only a comment--></P>", "", "<P><!--only a comment-->new</P>"},
      {"<P><?pi data?><![CDATA[x<y]]></P>", "x<y", "<P><?pi data?><![CDATA[new]]></P>"},
      {"<P><sub>inner</sub>outer</P>", "outer", "<P><sub>inner</sub>new</P>"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.element);
    Load(std::string("<Cfg>") + c.element + "</Cfg>");
    EXPECT_EQ(Param("P"), c.read);
    ASSERT_EQ(SetParam(document_, "P", "new", path_, message_), 0) << Message();
    EXPECT_EQ(Param("P"), "new");
    EXPECT_EQ(WriteBack(), std::string("<Cfg>") + c.written + "</Cfg>");
  }
}

class EntityTest : public ConfigFixture {
 protected:
  CfgApplEntity Entity(std::string_view name) {
    CfgApplEntity entity;
    EXPECT_EQ(ReadApplEntity(document_, name, entity, path_, message_), 0) << Message();
    return entity;
  }
  std::vector<CfgApplEntity> All(bool filter = false, std::string_view type = {}) {
    int count = 0;
    EXPECT_EQ(CountApplEntities(document_, count, path_, message_), 0);
    std::vector<CfgApplEntity> entities(static_cast<std::size_t>(count));
    EXPECT_EQ(ReadApplEntities(document_, entities, count, filter, type, path_, message_), 0);
    for (std::size_t i = static_cast<std::size_t>(count); i < entities.size(); ++i) {
      EXPECT_EQ(std::memcmp(&entities[i], &kZero, sizeof kZero), 0) << "slot " << i << " not zeroed";
    }
    entities.resize(static_cast<std::size_t>(count));
    return entities;
  }
  static std::vector<std::string> Names(const std::vector<CfgApplEntity>& entities) {
    std::vector<std::string> names;
    for (const auto& entity : entities) names.emplace_back(entity.Name.view());
    return names;
  }
  static constexpr CfgApplEntity kZero{};
};

TEST_F(EntityTest, ReadsEveryFieldAndPortAsItsLeadingNumber) {
  Load(Replace(std::string(kSampleConfig), "<Port>104</Port>", "<Port>104abc</Port>"));
  const CfgApplEntity remote = Entity("REMOTE");
  EXPECT_EQ(remote.Name, "REMOTE");
  EXPECT_EQ(remote.AET, "PACS");
  EXPECT_EQ(remote.Hostname, "pacs.example");
  EXPECT_EQ(remote.Port, 104);
  EXPECT_EQ(remote.ServiceList, "Store_List");
  EXPECT_EQ(remote.ServiceType, "QR_SCP");

  ASSERT_EQ(SetApplEntity(document_, "REMOTE", "PACS", "h", "x104", "Store_List", "QR_SCP", path_, message_), 0);
  EXPECT_EQ(Entity("REMOTE").Port, 0);
}

TEST_F(EntityTest, LongValuesAreCutToTerminatedFields) {
  Load(kSampleConfig);
  const std::string longName(40, 'N');
  ASSERT_EQ(SetApplEntity(document_, longName, std::string(40, 'A'), "h", "1", "QR_List", std::string(40, 'T'), path_,
                          message_),
            0);
  const CfgApplEntity entity = Entity(longName);
  EXPECT_EQ(entity.Name.view(), std::string(31, 'N'));
  EXPECT_EQ(entity.AET.view(), std::string(31, 'A'));
  EXPECT_EQ(entity.ServiceType.view(), std::string(31, 'T'));
}

TEST_F(EntityTest, NamesMatchCaseSensitivelyAndUnknownNamesFail) {
  Load(kSampleConfig);
  bool found = true;
  ASSERT_EQ(ApplEntityExists(document_, "remote", found, path_, message_), 0);
  EXPECT_FALSE(found);
  ASSERT_EQ(ApplEntityExists(document_, "REMOTE", found, path_, message_), 0);
  EXPECT_TRUE(found);

  CfgApplEntity entity;
  std::memset(static_cast<void*>(&entity), 0x5A, sizeof entity);  // dirty, to see it zeroed
  EXPECT_EQ(ReadApplEntity(document_, "remote", entity, path_, message_), 1);
  EXPECT_EQ(Message(), "Error: Failed to read Orvo Cfg Appl Entity (remote) from (" + path_ + ")");
  EXPECT_EQ(std::memcmp(&entity, &kZero, sizeof entity), 0);
}

TEST_F(EntityTest, DuplicateNamesActOnTheFirstButAreBothListed) {
  const std::string duplicate =
      "<ApplicationEntity Name=\"REMOTE\"><AET>SECOND</AET><Port>5</Port></ApplicationEntity>\n";
  Load(
      Replace(std::string(kSampleConfig), "  </ApplicationEntities>", "    " + duplicate + "  </ApplicationEntities>"));
  EXPECT_EQ(Names(All()), (std::vector<std::string>{"AE_QUERY", "REMOTE", "REMOTE"}));
  EXPECT_EQ(Entity("REMOTE").AET, "PACS");

  ASSERT_EQ(SetApplEntity(document_, "REMOTE", "FIRST", "h", "7", "QR_List", "QR_SCP", path_, message_), 0);
  EXPECT_EQ(All()[1].AET, "FIRST");
  EXPECT_EQ(All()[2].AET, "SECOND");

  ASSERT_EQ(RemoveApplEntity(document_, "REMOTE", path_, message_), 0);
  EXPECT_EQ(Entity("REMOTE").AET, "SECOND");
}

TEST_F(EntityTest, FilterKeepsOnlyTheServiceTypeAskedFor) {
  Load(kSampleConfig);
  EXPECT_EQ(Names(All(true, "QR_SCP")), std::vector<std::string>{"REMOTE"});
  EXPECT_TRUE(All(true, "Storage_SCP").empty());  // All() checks that every slot stayed zero
  EXPECT_TRUE(All(true, "qr_scp").empty());
  EXPECT_EQ(All(false, "Storage_SCP").size(), 2u);
}

TEST_F(EntityTest, UpdateChangesExistingFieldsOnlyAndKeepsLayout) {
  Load(Replace(std::string(kSampleConfig), "      <Hostname>pacs.example</Hostname>\n", ""));
  ASSERT_EQ(SetApplEntity(document_, "REMOTE", "NEWAET", "newhost", "4242", "QR_List", "QR_SCU", path_, message_), 0);
  const CfgApplEntity remote = Entity("REMOTE");
  EXPECT_EQ(remote.AET, "NEWAET");
  EXPECT_EQ(remote.Hostname, "");  // a missing field element is not created
  EXPECT_EQ(remote.Port, 4242);
  EXPECT_EQ(remote.ServiceType, "QR_SCU");
  std::string expected = Replace(std::string(kSampleConfig), "      <Hostname>pacs.example</Hostname>\n", "");
  for (auto [from, to] : {std::pair{"PACS", "NEWAET"},
                          {">104<", ">4242<"},
                          {"Store_List</S", "QR_List</S"},
                          {"QR_SCP</ServiceType", "QR_SCU</ServiceType"},
                          {"<Empty></Empty>", "<Empty/>"}}) {
    expected = Replace(expected, from, to);
  }
  EXPECT_EQ(WriteBack(), expected);
}

TEST_F(EntityTest, FieldsAreReadAndSetAroundTheirComments) {
  Load(Replace(std::string(kSampleConfig), "<AET>PACS</AET>", "<AET><!--our title-->PACS</AET>"));
  EXPECT_EQ(Entity("REMOTE").AET, "PACS");
  ASSERT_EQ(
      SetApplEntity(document_, "REMOTE", "NEWAET", "pacs.example", "104", "Store_List", "QR_SCP", path_, message_), 0);
  EXPECT_EQ(Entity("REMOTE").AET, "NEWAET");
  EXPECT_NE(WriteBack().find("<AET><!--our title-->NEWAET</AET>"), std::string::npos);
}

TEST_F(EntityTest, EntitiesAreFoundAtAnyDepthInDocumentOrder) {
  Load(
      "<Cfg><ApplicationEntity Name=\"A\"><AET>1</AET></ApplicationEntity>"
      "<w><x><ApplicationEntity Name=\"B\"><AET>2</AET><ApplicationEntity Name=\"N\"><AET>3</AET>"
      "</ApplicationEntity></ApplicationEntity></x><y/></w>"
      "<ApplicationEntity Name=\"C\"><AET>4</AET></ApplicationEntity></Cfg>");
  int count = 0;
  ASSERT_EQ(CountApplEntities(document_, count, path_, message_), 0);
  EXPECT_EQ(count, 4);
  std::vector<std::string> names;
  for (const CfgApplEntity& entity : All()) names.emplace_back(entity.Name.view());
  EXPECT_EQ(names, (std::vector<std::string>{"A", "B", "N", "C"}));
  EXPECT_EQ(Entity("N").AET, "3");
  EXPECT_EQ(Entity("C").AET, "4");
}

TEST_F(EntityTest, UpdateOfAnEntityWithoutFieldElementsFails) {
  Load(Replace(std::string(kSampleConfig), "<ApplicationEntities>",
               "<ApplicationEntities><ApplicationEntity Name=\"BARE\">text</ApplicationEntity>"));
  EXPECT_EQ(SetApplEntity(document_, "BARE", "A", "h", "1", "QR_List", "T", path_, message_), 1);
  EXPECT_EQ(Message(), "Error: Failed to find & set Orvo Cfg Appl Entity (BARE) in (" + path_ + ")");
  CfgApplEntity entity;
  EXPECT_EQ(ReadApplEntity(document_, "BARE", entity, path_, message_), 1);
  // BARE is now the first entity, the model for new ones: adding fails too.
  EXPECT_EQ(SetApplEntity(document_, "NEW", "A", "h", "1", "QR_List", "T", path_, message_), 1);
  EXPECT_EQ(Message(), "Error: Failed to create new application entity (NEW) in (" + path_ + ")");
  EXPECT_EQ(All().size(), 3u);
}

TEST_F(EntityTest, AddCopiesTheFirstEntityWithItsExtraChildrenAndIndentation) {
  Load(Replace(std::string(kSampleConfig), "<Port>11112</Port>", "<Port>11112</Port><Extra a=\"1\">keep</Extra>"));
  ASSERT_EQ(
      SetApplEntity(document_, "NEW_NODE", "NEWAET", "10.0.0.9", "4000", "Store_List", "Storage_SCP", path_, message_),
      0);
  EXPECT_EQ(Names(All()), (std::vector<std::string>{"AE_QUERY", "REMOTE", "NEW_NODE"}));
  const std::string added =
      "    <ApplicationEntity Name=\"NEW_NODE\">\n"
      "      <AET>NEWAET</AET>\n"
      "      <Hostname>10.0.0.9</Hostname>\n"
      "      <Port>4000</Port><Extra a=\"1\">keep</Extra>\n"
      "      <ServiceList>Store_List</ServiceList>\n"
      "      <ServiceType>Storage_SCP</ServiceType>\n"
      "    </ApplicationEntity>\n";
  const std::string written = WriteBack();
  EXPECT_NE(written.find("    </ApplicationEntity>\n" + added + "  </ApplicationEntities>"), std::string::npos)
      << written;
}

TEST_F(EntityTest, AddWithoutAnEntityToCopyOrAListToAddToFails) {
  for (const std::string& text : {Replace(Replace(std::string(kSampleConfig), "<ApplicationEntities>", "<Elsewhere>"),
                                          "</ApplicationEntities>", "</Elsewhere>"),
                                  std::string("<Cfg><ApplicationEntities>\n</ApplicationEntities></Cfg>")}) {
    Load(text);
    EXPECT_EQ(SetApplEntity(document_, "NEW", "A", "h", "1", "QR_List", "T", path_, message_), 1);
    EXPECT_EQ(Message(), "Error: Failed to create new application entity (NEW) in (" + path_ + ")");
    EXPECT_EQ(WriteBack(), text);
  }
}

TEST_F(EntityTest, RemoveTakesTheEntityAndItsIndentation) {
  Load(kSampleConfig);
  ASSERT_EQ(RemoveApplEntity(document_, "AE_QUERY", path_, message_), 0);
  EXPECT_EQ(Names(All()), std::vector<std::string>{"REMOTE"});
  const auto start = kSampleConfig.find("    <ApplicationEntity Name=\"AE_QUERY\">");
  const auto end = kSampleConfig.find("    <ApplicationEntity Name=\"REMOTE\">");
  std::string expected(kSampleConfig);
  expected.erase(start, end - start);
  EXPECT_EQ(WriteBack(), Replace(expected, "<Empty></Empty>", "<Empty/>"));
}

class ServiceNameTest : public ConfigFixture {};

TEST_F(ServiceNameTest, ListsAndTypesAreReadInOrderAndListsAreMatchedExactly) {
  Load(Replace(std::string(kSampleConfig), "<L>Store_List</L>",
               "<!-- c --><L>Store_List</L><L>" + std::string(40, 'x') + "</L>"));
  int lists = 0, types = 0;
  ASSERT_EQ(CountServiceLists(document_, lists, path_, message_), 0);
  ASSERT_EQ(CountServiceTypes(document_, types, path_, message_), 0);
  ASSERT_EQ(lists, 3);
  ASSERT_EQ(types, 3);
  std::vector<CfgText> listNames(3), typeNames(3);
  ASSERT_EQ(ReadServiceLists(document_, listNames, path_, message_), 0);
  ASSERT_EQ(ReadServiceTypes(document_, typeNames, path_, message_), 0);
  EXPECT_EQ(listNames[1], "Store_List");
  EXPECT_EQ(listNames[2].view(), std::string(31, 'x'));
  EXPECT_EQ(typeNames[0], "QR_SCU");
  EXPECT_EQ(typeNames[2], "Storage_SCP");

  bool found = false;
  ASSERT_EQ(ServiceListExists(document_, "Store_List", found, path_, message_), 0);
  EXPECT_TRUE(found);
  ASSERT_EQ(ServiceListExists(document_, "store_list", found, path_, message_), 0);
  EXPECT_FALSE(found);
  ASSERT_EQ(ServiceListExists(document_, "QR_SCU", found, path_, message_), 0);
  EXPECT_FALSE(found);  // a service type is no service list
}

TEST_F(ServiceNameTest, MissingListsFailWithTheirMessages) {
  Load("<Cfg><QRScuServiceAE>A</QRScuServiceAE></Cfg>");
  int count = 0;
  std::vector<CfgText> names(1);
  bool found = false;
  EXPECT_EQ(CountServiceLists(document_, count, path_, message_), 1);
  EXPECT_EQ(Message(), "Error: Failed to count Service Lists Orvo Cfg file (" + path_ + ")");
  EXPECT_EQ(ReadServiceLists(document_, names, path_, message_), 1);
  EXPECT_EQ(Message(), "Error: Failed to get Service Lists Orvo Cfg file (" + path_ + ")");
  EXPECT_EQ(CountServiceTypes(document_, count, path_, message_), 1);
  EXPECT_EQ(Message(), "Error: Failed to count Service Types Orvo Cfg file (" + path_ + ")");
  EXPECT_EQ(ReadServiceTypes(document_, names, path_, message_), 1);
  EXPECT_EQ(Message(), "Error: Failed to get Service Types Orvo Cfg file (" + path_ + ")");
  EXPECT_EQ(ServiceListExists(document_, "L", found, path_, message_), 1);
  EXPECT_EQ(Message(), "Error: Failed to validate Service List (L) in Orvo Cfg file (" + path_ + ")");
  // No entities is no failure.
  ASSERT_EQ(CountApplEntities(document_, count, path_, message_), 0);
  EXPECT_EQ(count, 0);
}

}  // namespace
}  // namespace zyl::config::testing

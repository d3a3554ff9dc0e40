// The toolkit's settings: merge.ini and the profile, services, applications
// and dictionary files it names. Loaded once by MC_Library_Initialization.
#pragma once

#include "toolkit/mc.h"

#include <map>
#include <optional>
#include <string>
#include <vector>

namespace zyl::toolkit {

// An INI file: sections of key = value lines, names compared without case.
class IniFile {
 public:
  // Fails with `failure` when the file cannot be read.
  static IniFile load(const std::string& path, MC_STATUS failure);

  std::optional<std::string> value(const std::string& section, const std::string& key) const;
  // Keys of a section in file order, with their values.
  std::vector<std::pair<std::string, std::string>> section(const std::string& name) const;
  const std::string& directory() const { return directory_; }
  // A path value, taken relative to the file's own directory.
  std::optional<std::string> path(const std::string& section, const std::string& key) const;

 private:
  std::string directory_;
  std::map<std::string, std::vector<std::pair<std::string, std::string>>> sections_;
};

struct Service {
  std::string name;
  std::string sopClassUid;
  std::string syntaxListName;
};

// Everything the configuration files define, plus values changed at run time.
struct Configuration {
  std::string mergeIniPath;
  std::string profilePath, servicesPath, applicationsPath, logPath;
  std::string dictionaryPath, messageInfoPath, tempDirectory;
  std::map<int, std::string> values;  // by configuration number
  std::vector<Service> services;
  std::map<std::string, std::vector<std::string>> syntaxLists;   // name -> UIDs
  std::map<std::string, std::vector<std::string>> serviceLists;  // name -> service names
  std::vector<std::string> dictionaryFiles;
};

// The configuration after initialisation; callers hold no lock across uses.
const Configuration& configuration();
const Service* findServiceByName(const std::string& name);
const Service* findServiceByUid(const std::string& uid);

}  // namespace zyl::toolkit

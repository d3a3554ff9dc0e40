// Operations of a service program that uses the host only to find its directories.
#include "state.h"
#include "zyl/host.h"

void HostRegisterCallback(HostOutputCallback callback) { zyl::hostState().outputCallback = callback; }

int HostInitialize(int flags, int /*argc*/, char** /*argv*/) {
  auto& s = zyl::hostState();
  s.initFlags = flags;
  s.initialized = true;
  return 1;
}

std::string HostDirectoryPath(int kind, const char* name) {
  if (kind != HOST_DIR_ROOT) return {};
  std::string path = zyl::installRoot();
  if (name != nullptr && *name != '\0') {
    path += name;
    if (path.back() != '/') path += '/';
  }
  return path;
}

std::string HostSubdirectoryPath(int kind, const char* const* subdirs, int nsubdirs) {
  if (kind != HOST_DIR_ROOT) return {};
  std::string path = zyl::installRoot();
  for (int i = 0; i < nsubdirs && subdirs != nullptr; ++i) {
    if (subdirs[i] == nullptr || *subdirs[i] == '\0') continue;
    path += subdirs[i];
    if (path.back() != '/') path += '/';
  }
  return path;
}

void HostStartupOption(int value) { zyl::hostState().startupOption = value; }

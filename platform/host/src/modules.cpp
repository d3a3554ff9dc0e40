// Loading modules by their entry point ZYL_Load.
#include <dlfcn.h>

#include <algorithm>
#include <filesystem>

#include "state.h"
#include "zyl/host.h"

namespace zyl {

namespace {

using LoadEntry = int (*)();

std::string dlerrorText() {
  const char* e = dlerror();
  return e ? e : "unknown error";
}

}  // namespace

bool Runtime::loadModule(const std::string& path, std::string* error) {
  auto fail = [&](const std::string& why) {
    if (error) *error = why;
    return false;
  };
  if (state_->modules.count(path) != 0) return true;  // ZYL_Load runs once per module
  dlerror();
  void* handle = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (handle == nullptr) return fail("Unable to load module " + path + ": " + dlerrorText());
  auto entry = reinterpret_cast<LoadEntry>(dlsym(handle, "ZYL_Load"));
  if (entry == nullptr) {
    dlclose(handle);
    return fail("Module " + path + " has no entry point ZYL_Load");
  }
  // The module may have registered routines before failing, so it stays mapped.
  state_->modules.emplace(path, handle);
  int status = 0;
  try {
    FrameScope frame("ZYL_LOAD");
    status = entry();
  } catch (const HostError& e) {
    state_->modules.erase(path);
    return fail("Module " + path + " failed to load: " + e.what());
  }
  if (status == 0) {
    state_->modules.erase(path);
    return fail("Module " + path + " failed to load: ZYL_Load returned 0");
  }
  if (error) error->clear();
  return true;
}

void Runtime::loadInstalledModules(std::vector<std::string>* errors) {
  namespace fs = std::filesystem;
  std::error_code ec;
  std::vector<std::string> candidates;
  for (fs::directory_iterator it(programDir(), ec), end; !ec && it != end; it.increment(ec)) {
    const std::string name = it->path().filename().string();
    if (it->is_regular_file(ec) && name.size() > 3 && name.ends_with(".so") && !name.starts_with("lib"))
      candidates.push_back(it->path().string());
  }
  std::sort(candidates.begin(), candidates.end());
  for (const std::string& path : candidates) {
    // Only shared objects that export ZYL_Load are modules.
    void* probe = dlopen(path.c_str(), RTLD_LAZY | RTLD_LOCAL);
    if (probe == nullptr) continue;
    const bool isModule = dlsym(probe, "ZYL_Load") != nullptr;
    dlclose(probe);
    if (!isModule) continue;
    std::string error;
    if (!loadModule(path, &error) && errors) errors->push_back(error);
  }
}

}  // namespace zyl

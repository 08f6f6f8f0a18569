#include "plugin_module.h"

#ifdef _WIN32
#include <windows.h>
#else
#include <dlfcn.h>
#endif

namespace host {

PluginModule::~PluginModule() { Unload(); }

std::string DefaultModuleName() {
#ifdef _WIN32
#ifdef _WIN64
  return "Kestrelle x64.8bf";
#else
  return "Kestrelle.8bf";
#endif
#else
  return "Kestrelle.so";
#endif
}

bool PluginModule::Load(const std::string& path, std::string* error) {
  Unload();
#ifdef _WIN32
  HMODULE module = LoadLibraryA(path.c_str());
  if (!module) {
    if (error) *error = "cannot load " + path + " (error " + std::to_string(GetLastError()) + ")";
    return false;
  }
  library_ = module;
  entry_ = reinterpret_cast<PluginMainProc>(
      reinterpret_cast<void*>(GetProcAddress(module, "PluginMain")));
#else
  void* module = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (!module) {
    if (error) *error = "cannot load " + path + ": " + dlerror();
    return false;
  }
  library_ = module;
  entry_ = reinterpret_cast<PluginMainProc>(dlsym(module, "PluginMain"));
#endif
  path_ = path;
  if (!entry_) {
    if (error) *error = path + " has no PluginMain entry point";
    Unload();
    return false;
  }
  return true;
}

void PluginModule::Unload() {
  if (library_) {
#ifdef _WIN32
    FreeLibrary(static_cast<HMODULE>(library_));
#else
    dlclose(library_);
#endif
  }
  library_ = nullptr;
  entry_ = nullptr;
}

void* PluginModule::Symbol(const char* name) const {
  if (!library_) return nullptr;
#ifdef _WIN32
  return reinterpret_cast<void*>(GetProcAddress(static_cast<HMODULE>(library_), name));
#else
  return dlsym(library_, name);
#endif
}

}  // namespace host

#include "host/plugin_module.h"

#include "files/file_identity.h"

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
  // dlopen and LoadLibrary search their own paths for a bare file name; the
  // user means the file in the current folder.
  const std::string full = files::Absolute(path);
#ifdef _WIN32
  HMODULE module = LoadLibraryA(full.c_str());
  if (!module) {
    if (error) *error = "cannot load " + path + " (error " + std::to_string(GetLastError()) + ")";
    return false;
  }
  library_ = module;
  entry_ = reinterpret_cast<PluginMainProc>(
      reinterpret_cast<void*>(GetProcAddress(module, "PluginMain")));
#else
  void* module = dlopen(full.c_str(), RTLD_NOW | RTLD_LOCAL);
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

bool PluginModule::PropertyList(std::vector<uint8_t>& bytes, std::string* error) const {
  bytes.clear();
  if (!library_) {
    if (error) *error = "no module is loaded";
    return false;
  }
#ifdef _WIN32
  HMODULE module = static_cast<HMODULE>(library_);
  HRSRC found = FindResourceA(module, MAKEINTRESOURCEA(16000), "PIPL");
  HGLOBAL loaded = found ? LoadResource(module, found) : nullptr;
  const void* data = loaded ? LockResource(loaded) : nullptr;
  const DWORD size = found ? SizeofResource(module, found) : 0;
  if (!data || size == 0) {
    if (error) *error = path_ + " has no plug-in property list (PiPL 16000)";
    return false;
  }
  const uint8_t* p = static_cast<const uint8_t*>(data);
  bytes.assign(p, p + size);
#else
  typedef const uint8_t* (*PropertyListFn)(size_t*);
  PropertyListFn get = reinterpret_cast<PropertyListFn>(Symbol("KestrellePropertyList"));
  size_t size = 0;
  const uint8_t* p = get ? get(&size) : nullptr;
  if (!p || size == 0) {
    if (error) *error = path_ + " has no plug-in property list";
    return false;
  }
  bytes.assign(p, p + size);
#endif
  return true;
}

}  // namespace host

// Modules on POSIX: dlopen, and the property list the native module exports
// (a shared library has no resources).
#include <dlfcn.h>

#include "host/plugin_module.h"
#include "host/plugin_module_os.h"

namespace host {

std::string DefaultModuleName() { return "Kestrelle.so"; }

namespace os {

const char kPropertyListWhere[] = "";

void* OpenLibrary(const std::string& path, std::string* why) {
  void* module = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (!module) *why = std::string(": ") + dlerror();
  return module;
}

void CloseLibrary(void* library) { dlclose(library); }

void* LibrarySymbol(void* library, const char* name) { return dlsym(library, name); }

const uint8_t* LibraryPropertyList(const PluginModule& module, size_t* size) {
  typedef const uint8_t* (*PropertyListFn)(size_t*);
  PropertyListFn get = reinterpret_cast<PropertyListFn>(module.Symbol("KestrellePropertyList"));
  return get ? get(size) : nullptr;
}

}  // namespace os
}  // namespace host

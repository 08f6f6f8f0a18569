// Modules on Windows: LoadLibrary, and the property list as a host finds it,
// resource 16000 of type "PIPL".
#include <windows.h>

#include "files/system_names.h"
#include "host/plugin_module.h"
#include "host/plugin_module_os.h"

namespace host {

std::string DefaultModuleName() {
#ifdef _WIN64
  return "Kestrelle x64.8bf";
#else
  return "Kestrelle.8bf";
#endif
}

namespace os {

const char kPropertyListWhere[] = " (PiPL 16000)";

void* OpenLibrary(const std::string& path, std::string* why) {
  // Wide, as a host loads from a plug-ins folder named in any language.
  HMODULE module = LoadLibraryW(files::Wide(path).c_str());
  if (!module) *why = " (error " + std::to_string(GetLastError()) + ")";
  return module;
}

void CloseLibrary(void* library) { FreeLibrary(static_cast<HMODULE>(library)); }

void* LibrarySymbol(void* library, const char* name) {
  return reinterpret_cast<void*>(GetProcAddress(static_cast<HMODULE>(library), name));
}

const uint8_t* LibraryPropertyList(const PluginModule& module, size_t* size) {
  HMODULE library = static_cast<HMODULE>(module.handle());
  HRSRC found = FindResourceA(library, MAKEINTRESOURCEA(16000), "PIPL");
  HGLOBAL loaded = found ? LoadResource(library, found) : nullptr;
  const void* data = loaded ? LockResource(loaded) : nullptr;
  *size = found ? SizeofResource(library, found) : 0;
  return static_cast<const uint8_t*>(data);
}

}  // namespace os
}  // namespace host

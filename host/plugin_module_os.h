// What loading a module asks of the system: one implementation per system
// (plugin_module_posix.cpp, plugin_module_windows.cpp). Internal to host/.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace host {

class PluginModule;

namespace os {

// Loads the library at an absolute path; null with the reason, written to
// follow "cannot load NAME", in *why.
void* OpenLibrary(const std::string& path, std::string* why);
void CloseLibrary(void* library);
void* LibrarySymbol(void* library, const char* name);

// The module's plug-in property list and where a host looks for it (said
// when it is missing).
const uint8_t* LibraryPropertyList(const PluginModule& module, size_t* size);
extern const char kPropertyListWhere[];

}  // namespace os
}  // namespace host

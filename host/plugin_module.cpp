#include "host/plugin_module.h"

#include "files/file_identity.h"
#include "host/plugin_module_os.h"

namespace host {

PluginModule::~PluginModule() { Unload(); }

bool PluginModule::Load(const std::string& path, std::string* error) {
  Unload();
  // dlopen and LoadLibrary search their own paths for a bare file name; the
  // user means the file in the current folder.
  std::string why;
  library_ = os::OpenLibrary(files::Absolute(path), &why);
  if (!library_) {
    if (error) *error = "cannot load " + path + why;
    return false;
  }
  entry_ = reinterpret_cast<PluginMainProc>(os::LibrarySymbol(library_, "PluginMain"));
  path_ = path;
  if (!entry_) {
    if (error) *error = path + " has no PluginMain entry point";
    Unload();
    return false;
  }
  return true;
}

void PluginModule::Unload() {
  if (library_) os::CloseLibrary(library_);
  library_ = nullptr;
  entry_ = nullptr;
}

void* PluginModule::Symbol(const char* name) const { return library_ ? os::LibrarySymbol(library_, name) : nullptr; }

bool PluginModule::PropertyList(std::vector<uint8_t>& bytes, std::string* error) const {
  bytes.clear();
  if (!library_) {
    if (error) *error = "no module is loaded";
    return false;
  }
  size_t size = 0;
  const uint8_t* p = os::LibraryPropertyList(*this, &size);
  if (!p || size == 0) {
    if (error) *error = path_ + " has no plug-in property list" + os::kPropertyListWhere;
    return false;
  }
  bytes.assign(p, p + size);
  return true;
}

}  // namespace host

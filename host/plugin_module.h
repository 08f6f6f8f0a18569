// Loads a filter module the way a host does (LoadLibrary / dlopen) and finds
// its entry point by the exact, undecorated name "PluginMain".
#pragma once

#include <string>

#include "../plugin/host_interface.h"

namespace host {

class PluginModule {
 public:
  PluginModule() = default;
  ~PluginModule();
  PluginModule(const PluginModule&) = delete;
  PluginModule& operator=(const PluginModule&) = delete;

  // False with `error` filled when the file cannot be loaded or has no entry.
  bool Load(const std::string& path, std::string* error);
  void Unload();

  PluginMainProc entry() const { return entry_; }
  // Any other exported symbol, or nullptr.
  void* Symbol(const char* name) const;
  const std::string& path() const { return path_; }

 private:
  void* library_ = nullptr;
  PluginMainProc entry_ = nullptr;
  std::string path_;
};

// The module built next to the running program (for kestrelle and tests).
std::string DefaultModuleName();

}  // namespace host

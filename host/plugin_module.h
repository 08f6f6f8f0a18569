// Loads a filter module the way a host does (LoadLibrary / dlopen) and finds
// its entry point by the exact, undecorated name "PluginMain".
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "hostapi/host_interface.h"

namespace host {

class PluginModule {
 public:
  PluginModule() = default;
  ~PluginModule();
  PluginModule(const PluginModule&) = delete;
  PluginModule& operator=(const PluginModule&) = delete;

  // False with `error` filled when the file cannot be loaded or has no entry.
  // A relative path is taken from the current folder, never looked up on the
  // loader's search path.
  bool Load(const std::string& path, std::string* error);
  void Unload();

  PluginMainProc entry() const { return entry_; }
  // Any other exported symbol, or nullptr.
  void* Symbol(const char* name) const;
  const std::string& path() const { return path_; }
  // The system's handle of the loaded library, or nullptr.
  void* handle() const { return library_; }
  // The module's plug-in property list (PiPL resource 16000); false with a
  // reason when it has none.
  bool PropertyList(std::vector<uint8_t>& bytes, std::string* error) const;

 private:
  void* library_ = nullptr;
  PluginMainProc entry_ = nullptr;
  std::string path_;
};

// The module built next to the running program (for kestrelle and tests).
std::string DefaultModuleName();

}  // namespace host

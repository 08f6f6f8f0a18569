#include "host/descriptor_registry.h"

#include <cstdint>
#include <sstream>
#include <string>

#include "files/file_identity.h"
#include "files/staged_file.h"
#include "files/system_names.h"
#include "host/json.h"
#include "host/scripting.h"

namespace host {

namespace {

// The suites' members are plain functions: they find the scripting services
// of the host that runs the plug-in now.
Scripting* S() { return ActiveScripting(); }

OSErr RegisterThunk(const char* key, PIActionDescriptor d, Boolean persistent) {
  return S() ? S()->Register(key, d, persistent) : paramErr;
}
OSErr RegistryEraseThunk(const char* key) { return S() ? S()->Erase(key) : paramErr; }
OSErr RegistryGetThunk(const char* key, PIActionDescriptor* d) {
  return S() ? S()->Get(key, d) : paramErr;
}

std::string EntriesToJson(const std::map<std::string, RegistryEntry>& entries, bool onlyPersistent) {
  std::ostringstream out;
  out << "{";
  bool first = true;
  for (const auto& [key, entry] : entries) {
    if (onlyPersistent && !entry.persistent) continue;
    out << (first ? "\n" : ",\n") << "  " << JsonQuote(key) << ": {\"persistent\": "
        << (entry.persistent ? "true" : "false")
        << ", \"descriptor\": " << DescriptorToJson(entry.descriptor, 2) << "}";
    first = false;
  }
  out << (first ? "}" : "\n}") << "\n";
  return out.str();
}

}  // namespace

void FillRegistryProcs(PSDescriptorRegistryProcs& procs) {
  procs.Register = RegisterThunk;
  procs.Erase = RegistryEraseThunk;
  procs.Get = RegistryGetThunk;
}

OSErr Scripting::Register(const char* key, PIActionDescriptor d, Boolean persistent) {
  Descriptor* x = Live(d, "Register");
  if (!key || !x) return paramErr;
  if (!ledger_.Enter("registry.Register")) return memFullErr;
  SetRegistryEntry(key, *x, persistent != 0);
  return noErr;
}

OSErr Scripting::Erase(const char* key) {
  if (!key) return paramErr;
  ledger_.Enter("registry.Erase");
  auto it = registry_.find(key);
  if (it == registry_.end()) return errMissingParameter;
  const bool persistent = it->second.persistent;
  registry_.erase(it);
  if (persistent) SaveRegistry();
  return noErr;
}

OSErr Scripting::Get(const char* key, PIActionDescriptor* d) {
  if (!key || !d) return paramErr;
  *d = nullptr;
  if (!ledger_.Enter("registry.Get")) return readErr;
  auto it = registry_.find(key);
  // No entry: success with no descriptor, as hosts answer.
  if (it != registry_.end()) *d = NewDescriptor(it->second.descriptor);
  return noErr;
}

void Scripting::SetRegistryEntry(const std::string& key, const Descriptor& d, bool persistent) {
  registry_[key] = RegistryEntry{d, persistent};
  if (persistent) SaveRegistry();
}

std::string Scripting::RegistryToJson() const { return EntriesToJson(registry_, false); }

bool Scripting::LoadRegistry(const std::string& path, std::string* error) {
  registryFile_ = path;
  const files::PathKind kind = files::KindOf(path);
  if (kind == files::PathKind::Missing) return true;  // no file yet: an empty registry
  if (kind != files::PathKind::File) {
    if (error) *error = path + ": is a folder, not a registry file";
    return false;
  }
  std::string text;
  if (!files::ReadFileBytes(path, SIZE_MAX, &text)) {
    if (error) *error = path + ": cannot read the registry file";
    return false;
  }
  // An empty file (made by touch, say) is an empty registry.
  if (text.find_first_not_of(" \t\r\n") == std::string::npos) return true;
  JsonValue root;
  std::string why;
  if (!ParseJson(text, root, &why) || root.kind != JsonValue::Object) {
    if (error) *error = path + ": not a registry file (" + (why.empty() ? "expected an object" : why) + ")";
    return false;
  }
  for (const auto& [key, value] : root.object) {
    if (value.kind != JsonValue::Object) {
      if (error) *error = path + ": entry \"" + key + "\" is not an object with a \"descriptor\"";
      return false;
    }
    const JsonValue* d = value.Member("descriptor");
    if (!d) {
      if (error) *error = path + ": entry \"" + key + "\" has no \"descriptor\"";
      return false;
    }
    Descriptor descriptor;
    if (!DescriptorFromJsonValue(*d, descriptor, &why)) {
      if (error) *error = path + ": entry \"" + key + "\": " + (why.empty() ? "not a descriptor" : why);
      return false;
    }
    // Only persistent entries are ever written to the file.
    registry_[key] = RegistryEntry{descriptor, true};
  }
  return true;
}

void Scripting::SaveRegistry() {
  if (registryFile_.empty()) return;
  // Staged and renamed over the old file, so a failure half-way never leaves
  // a damaged registry behind; the failure is kept for the host to report.
  std::string why;
  if (files::WriteWholeFile(registryFile_, EntriesToJson(registry_, true), &why)) {
    registrySaveError_.clear();
  } else {
    registrySaveError_ = registryFile_ + ": " + why;
  }
}

}  // namespace host

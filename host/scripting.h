// The host's scripting services: the PICA basic suite with the action
// descriptor suite (version 2) and the descriptor registry suite (version 1),
// and the descriptor parameters through which actions are played to the
// plug-in and recorded from it. Everything the plug-in acquires or opens is
// counted, so tests can check that it all comes back. One object holds them;
// each suite's members live in a file of their own (basic_suite,
// action_descriptor_suite, descriptor_registry, play_record).
#pragma once

#include <map>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "hostapi/host_interface.h"
#include "host/call_ledger.h"
#include "host/descriptor.h"
#include "host/handle_suite.h"

namespace host {

// How the plug-in read the last descriptor it was played: where it stopped,
// when it stopped before the last key.
struct PlayedRead {
  bool stopped = false;
  DescriptorKeyID key = 0;  // the key read last
  OSErr error = noErr;      // its read failed with this; noErr: the plug-in read it and went no further
  std::vector<DescriptorKeyID> skipped;  // the keys after it, never read
};

// What the members that this host does not implement answer.
constexpr OSErr kScriptingNotImplemented = errPlugInHostInsufficient;

struct RegistryEntry {
  Descriptor descriptor;
  bool persistent = false;
};

class Scripting {
 public:
  Scripting(CallLedger& ledger, HandleSuite& handles);
  ~Scripting();
  Scripting(const Scripting&) = delete;
  Scripting& operator=(const Scripting&) = delete;

  SPBasicSuite* basicSuite() { return &basic_; }
  // Version and member-count fields of the descriptor proc tables set to 0.
  void ZeroProcCounts();
  PIDescriptorParameters* descriptorParameters() { return &parameters_; }

  // The registry. With a file, persistent entries are loaded from it now
  // and written to it whenever they change, so a new host finds them.
  bool LoadRegistry(const std::string& path, std::string* error);
  const std::map<std::string, RegistryEntry>& registry() const { return registry_; }
  void SetRegistryEntry(const std::string& key, const Descriptor& d, bool persistent);
  std::string RegistryToJson() const;
  // Why the registry file could not be written the last time (empty when it
  // was, or never had to be).
  const std::string& registrySaveError() const { return registrySaveError_; }

  // Hands the plug-in `d` to play, with the given playInfo.
  void Play(const Descriptor& d, int16 playInfo);
  // The descriptor the plug-in recorded into descriptorParameters, if any.
  bool Recorded(Descriptor& out) const;
  // How the plug-in read the descriptor it was played last.
  const PlayedRead& playedRead() const { return playedRead_; }

  // Callbacks (the suites' members land here).
  SPErr AcquireSuite(const char* name, int32 version, const void** suite);
  SPErr ReleaseSuite(const char* name, int32 version);
  Descriptor* Live(PIActionDescriptor d, const char* who);
  PIActionDescriptor NewDescriptor(const Descriptor& from);
  void FreeDescriptor(PIActionDescriptor d);
  OSErr Register(const char* key, PIActionDescriptor d, Boolean persistent);
  OSErr Erase(const char* key);
  OSErr Get(const char* key, PIActionDescriptor* d);

  struct Reader;
  struct Writer;
  PIReadDescriptor OpenReader(PIDescriptorHandle h, DescriptorKeyID* expected);
  Reader* LiveReader(PIReadDescriptor token, const char* who);
  OSErr CloseReader(PIReadDescriptor token);
  PIWriteDescriptor OpenWriter();
  Writer* LiveWriter(PIWriteDescriptor token, const char* who);
  OSErr CloseWriter(PIWriteDescriptor token, PIDescriptorHandle* h);

  CallLedger& ledger() { return ledger_; }
  std::vector<std::string>& misuse() { return misuse_; }

  // What is still held: acquired suites, descriptors not freed, readers and
  // writers not closed. Empty when balanced.
  std::string Outstanding() const;
  int AcquiredSuites() const;

 private:
  void SaveRegistry();

  CallLedger& ledger_;
  HandleSuite& handles_;
  SPBasicSuite basic_{};
  PSActionDescriptorProcs actions_{};
  PSDescriptorRegistryProcs registrySuite_{};
  ReadDescriptorProcs readProcs_{};
  WriteDescriptorProcs writeProcs_{};
  PIDescriptorParameters parameters_{};
  std::map<std::string, int> acquired_;
  std::set<Descriptor*> descriptors_;
  std::set<Reader*> readers_;
  std::set<Writer*> writers_;
  std::map<std::string, RegistryEntry> registry_;
  std::string registryFile_;
  std::string registrySaveError_;
  PlayedRead playedRead_;
  std::vector<std::string> misuse_;
};

// The suites' members are plain functions: they find the scripting services
// of the host running the plug-in now through this (null outside a run).
Scripting* ActiveScripting();

}  // namespace host

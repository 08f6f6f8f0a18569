#include "host/scripting.h"

#include <sstream>

#include "host/action_descriptor_suite.h"
#include "host/basic_suite.h"
#include "host/descriptor_registry.h"
#include "host/host.h"
#include "host/play_record.h"

namespace host {

Scripting* ActiveScripting() {
  Host* h = Host::Active();
  return h ? &h->scripting() : nullptr;
}

Scripting::Scripting(CallLedger& ledger, HandleSuite& handles) : ledger_(ledger), handles_(handles) {
  FillBasicSuite(basic_);
  // Every member of version 2 exists; those this host does not implement
  // fail cleanly.
  FillActionDescriptorProcs(actions_);
  FillRegistryProcs(registrySuite_);
  FillReadDescriptorProcs(readProcs_);
  FillWriteDescriptorProcs(writeProcs_);

  parameters_.descriptorParametersVersion = 0;
  parameters_.playInfo = plugInDialogDontDisplay;
  parameters_.recordInfo = plugInDialogOptional;
  parameters_.readDescriptorProcs = &readProcs_;
  parameters_.writeDescriptorProcs = &writeProcs_;
}

Scripting::~Scripting() {
  for (Descriptor* d : descriptors_) delete d;
  for (Reader* r : readers_) delete r;
  for (Writer* w : writers_) delete w;
}

std::string Scripting::Outstanding() const {
  std::ostringstream out;
  for (const auto& [name, count] : acquired_)
    if (count != 0) out << "suite " << name << " acquired " << count << " more time(s) than released; ";
  if (!descriptors_.empty()) out << descriptors_.size() << " action descriptor(s) not freed; ";
  if (!readers_.empty()) out << readers_.size() << " read descriptor(s) not closed; ";
  if (!writers_.empty()) out << writers_.size() << " write descriptor(s) not closed; ";
  for (const auto& m : misuse_) out << m << "; ";
  return out.str();
}

void Scripting::ZeroProcCounts() {
  readProcs_.readDescriptorProcsVersion = 0;
  readProcs_.numReadDescriptorProcs = 0;
  writeProcs_.writeDescriptorProcsVersion = 0;
  writeProcs_.numWriteDescriptorProcs = 0;
  parameters_.descriptorParametersVersion = 0;
}

}  // namespace host

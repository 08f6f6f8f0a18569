// Playing and recording: the descriptor parameters through which the host
// hands the plug-in an action to play and takes back the one it recorded,
// and the read and write descriptor procs the plug-in walks them with.
#pragma once

#include <vector>

#include "hostapi/host_interface.h"
#include "host/scripting.h"

namespace host {

struct Scripting::Reader {
  Descriptor descriptor;
  size_t next = 0;
  const DescriptorItem* current = nullptr;
  std::vector<DescriptorKeyID> expected;
  std::vector<bool> seen;
  OSErr sticky = noErr;  // the first failed read, reported again at close
  bool ended = false;    // getKey was asked past the last key
};

struct Scripting::Writer {
  Descriptor descriptor;
};

// Point the members at this host's procs; those it does not implement fail
// cleanly.
void FillReadDescriptorProcs(ReadDescriptorProcs& procs);
void FillWriteDescriptorProcs(WriteDescriptorProcs& procs);

}  // namespace host

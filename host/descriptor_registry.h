// The descriptor registry suite (version 1): descriptors the plug-in keeps
// under a key for later runs, the persistent ones in the registry file.
#pragma once

#include "hostapi/host_interface.h"

namespace host {

void FillRegistryProcs(PSDescriptorRegistryProcs& procs);

}  // namespace host

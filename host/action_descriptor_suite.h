// The action descriptor suite (version 2): descriptors the plug-in makes,
// fills and reads by reference, kept and counted by the host.
#pragma once

#include "hostapi/host_interface.h"

namespace host {

// Points the members of `procs` at this host's descriptor suite; those it
// does not implement fail cleanly.
void FillActionDescriptorProcs(PSActionDescriptorProcs& procs);

}  // namespace host

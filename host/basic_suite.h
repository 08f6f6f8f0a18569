// The PICA basic suite: the door through which the plug-in acquires the
// host's other suites, and its memory blocks.
#pragma once

#include "hostapi/host_interface.h"

namespace host {

// Points the members of `suite` at this host's basic suite.
void FillBasicSuite(SPBasicSuite& suite);

}  // namespace host

// A filter run the way a host drives one: Parameters (when it asks the user
// for settings), Prepare, Start, Continue until the rectangles are empty, and
// Finish after a successful Start; or the way hosts that advance the state
// themselves do it (see HostOptions::hostAdvancesState).
#pragma once

#include <functional>

#include "hostapi/host_interface.h"

namespace host {

class Host;

struct RunResult {
  int16 parameters = 0;  // 0 also when Parameters was not called
  int16 prepare = 0;
  int16 start = 0;
  int16 continued = 0;  // the first failing Continue's result
  int16 finish = 0;
  int continues = 0;
  bool started = false;  // Start returned success
  bool finished = false;  // Finish was called
  // The first non-zero result of the run, or 0.
  int16 Error() const;
};

// `afterParameters`, when given, is called right after a successful
// Parameters, before Prepare: where a host keeps what it hands later runs.
RunResult RunFilter(Host& host, PluginMainProc entry, bool askForParameters,
                    const std::function<void()>& afterParameters = nullptr);

}  // namespace host

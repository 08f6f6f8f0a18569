// The hosts that load this filter, as the bundled host can play them: each
// profile sets the host options in which that application differs from the
// interface's letter (what it leaves out, what it gets wrong). The tests run
// the module under every profile; `kestrelle apply --host-profile NAME`
// runs it the way that host would, so a user or a bug report can reproduce
// a host's behaviour from the command line.
#pragma once

#include <string>
#include <vector>

#include "host/host.h"

namespace host {

struct HostProfile {
  const char* name;       // for --host-profile
  const char* standsFor;  // the application(s) it stands for
  const char* bitness;    // "32 and 64-bit", "64-bit", ...
  // Sets the options for a document of this size.
  void (*apply)(HostOptions& options, int32 width, int32 height);
  // The host hands filters only 8-bit documents.
  bool eightBitOnly = false;
  // With transparency, the host hands it to the filter as a plane after the
  // colour planes (the filter must leave it alone).
  bool transparencyPlane = false;
  // The host calls a filter in different ways (host_runs.h): from its menu,
  // from a script, or again with the last values; a run is interactive
  // unless told otherwise.
  bool runModes = false;
};

// Every profile, the complete host ("photoshop") first.
const std::vector<HostProfile>& HostProfiles();

// The profile named `name` (case-insensitive), or nullptr.
const HostProfile* FindHostProfile(const std::string& name);

}  // namespace host

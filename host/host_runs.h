// The ways a host calls a filter, as GIMP does: from its menu
// (interactive), from a script, or again with the last values ("Repeat last
// filter"); and what such a host keeps of an interactive run for the later
// ones. Each call of GIMP's runs in a new process, so what it keeps is a
// byte copy of the parameter handle as it was right after Parameters, and
// the bare value the filter left in the data slot then, which means nothing
// in the next process.
#pragma once

#include <string>
#include <vector>

#include "host/filter_run.h"
#include "host/host.h"

namespace host {

enum class HostRun {
  Interactive,  // Parameters, then Prepare, Start, ...
  Scripted,     // no Parameters; parameters NULL and data 0, as in a fresh session
  Repeat,       // no Parameters; what the last interactive run left, from an earlier process
};

// "interactive", "scripted", "repeat" (case-insensitive); false for others.
bool ParseHostRun(const std::string& name, HostRun* run);
const char* HostRunName(HostRun run);

// What the host keeps of an interactive run for the later runs of a session.
struct KeptRun {
  bool kept = false;
  bool hadParameters = false;    // the filter had made a parameter handle
  std::vector<char> parameters;  // its bytes right after Parameters
  intptr_t data = 0;             // the data slot's value then
};

// Keeps what `h` holds now (called right after Parameters).
KeptRun KeepAfterParameters(Host& h);

// `h` as a later run in another process finds it: a fresh handle of its own
// holding the kept bytes, and the kept data value, which this host's handle
// procs refuse as misuse (it was another process's).
void HandOver(Host& h, const KeptRun& kept);

// One run of `entry` on `h` in the given mode. An interactive run keeps
// what the host keeps into `keep` (when given); a repeat hands over
// `earlier`, which must have been kept.
RunResult RunAs(Host& h, PluginMainProc entry, HostRun run, const KeptRun& earlier, KeptRun* keep = nullptr);

// An earlier process's interactive run, up to what the host keeps of it:
// the module at `modulePath` loaded on its own, Parameters called in a host
// with `options` on `document`, and the module unloaded again. The module
// must not be loaded elsewhere in this process, or it is not a new start.
bool KeepFromEarlierProcess(const std::string& modulePath, const Document& document, const HostOptions& options,
                            KeptRun& kept, std::string* error);

}  // namespace host

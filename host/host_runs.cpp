#include "host/host_runs.h"

#include <cctype>

#include "host/plugin_module.h"

namespace host {
namespace {

const char* const kRunNames[] = {"interactive", "scripted", "repeat"};

}  // namespace

bool ParseHostRun(const std::string& name, HostRun* run) {
  std::string lower = name;
  for (char& c : lower) c = char(std::tolower(static_cast<unsigned char>(c)));
  for (int i = 0; i < 3; ++i) {
    if (lower != kRunNames[i]) continue;
    *run = HostRun(i);
    return true;
  }
  return false;
}

const char* HostRunName(HostRun run) { return kRunNames[int(run)]; }

KeptRun KeepAfterParameters(Host& h) {
  KeptRun kept;
  kept.kept = true;
  kept.hadParameters = h.handles().Contents(h.record().parameters, kept.parameters);
  kept.data = h.dataSlot();
  return kept;
}

void HandOver(Host& h, const KeptRun& kept) {
  h.ForgetPluginState();
  // Marked before anything is made: the earlier process's memory is free
  // again, and a new handle at that address would pass for the stale one.
  h.handles().MarkForeign(reinterpret_cast<Handle>(kept.data));
  if (kept.hadParameters)
    h.record().parameters = h.handles().NewForHost(kept.parameters.data(), int32(kept.parameters.size()));
  h.dataSlot() = kept.data;
}

RunResult RunAs(Host& h, PluginMainProc entry, HostRun run, const KeptRun& earlier, KeptRun* keep) {
  switch (run) {
    case HostRun::Interactive: {
      // The menu in a session: what an earlier interactive run left, or
      // nothing in a fresh one.
      if (earlier.kept) {
        HandOver(h, earlier);
      } else {
        h.ForgetPluginState();
      }
      auto keepIt = [&h, keep] {
        if (keep) *keep = KeepAfterParameters(h);
      };
      return RunFilter(h, entry, true, keepIt);
    }
    case HostRun::Scripted:
      h.ForgetPluginState();
      return RunFilter(h, entry, false);
    case HostRun::Repeat:
      HandOver(h, earlier);
      return RunFilter(h, entry, false);
  }
  return RunResult{};
}

bool KeepFromEarlierProcess(const std::string& modulePath, const Document& document, const HostOptions& options,
                            KeptRun& kept, std::string* error) {
  PluginModule module;
  if (!module.Load(modulePath, error)) return false;
  const int16 result = [&] {
    // The host goes before the module, as a process ends.
    Host earlier(document, options);
    const int16 parameters = earlier.Call(module.entry(), filterSelectorParameters);
    if (parameters == noErr) kept = KeepAfterParameters(earlier);
    return parameters;
  }();
  module.Unload();
  if (result != noErr) {
    *error = "the filter's Parameters failed (error " + std::to_string(result) + ")";
    return false;
  }
  return true;
}

}  // namespace host

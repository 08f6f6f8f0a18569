#include "cli/apply_checks.h"

#include "host/enable_rule.h"
#include "host/plugin_info.h"

namespace cli {

std::string Explain(int16 code) {
  switch (code) {
    case memFullErr: return "out of memory (-108)";
    case userCanceledErr: return "cancelled (-128)";
    case filterBadParameters: return "the filter's settings could not be kept (-30100)";
    case errPlugInHostInsufficient: return "the host lacks a service the filter needs (-30900)";
    default: return "error " + std::to_string(code);
  }
}

bool IsSettingsStep(const host::UiStep& s) {
  return s.action == host::UiAction::LoadSettings || s.action == host::UiAction::SaveSettings;
}

std::string SettingsSteps(const host::UiScript& script, const std::string& settingsFile) {
  std::string list;
  for (const host::UiStep& s : script.steps) {
    if (!IsSettingsStep(s)) continue;
    std::string one = s.line == 0 && s.text == settingsFile ? "--settings " + settingsFile
                                                             : s.source + " (line " + std::to_string(s.line) + ")";
    list += (list.empty() ? "" : ", ") + one;
  }
  return list;
}

bool FilterAccepts(const host::PluginModule& module, const host::ImageShape& shape, bool selection, std::string* why) {
  std::vector<uint8_t> bytes;
  std::vector<host::PipelineProperty> properties;
  if (!module.PropertyList(bytes, why) || !host::ParsePiPL(bytes, properties, why)) return false;
  host::DocumentTraits d;
  d.imageMode = host::ModeFor(shape.planes, shape.depth);
  d.depth = shape.depth;
  d.width = shape.width;
  d.height = shape.height;
  d.colourChannels = shape.planes;
  d.hasTransparency = shape.alpha;
  d.hasSelection = selection;
  bool enabled = false;
  if (!host::PropertiesEnable(properties, d, &enabled, why)) {
    *why = module.path() + ": " + *why;
    return false;
  }
  if (!enabled) {
    *why = "the filter does not work on " + host::DocumentName(d.colourChannels, d.depth) +
           " documents (a host greys it out for them); it accepts " + host::AcceptedDocuments(properties) +
           " documents";
  }
  return enabled;
}

bool CheckPlayedRead(const host::PlayedRead& read, std::vector<std::string>& warnings, std::string* why) {
  if (!read.stopped) return true;
  const std::string key = "'" + host::KeyText(read.key) + "'";
  const std::string what = read.error == noErr ? "the filter does not know the key " + key + " of the played action"
                                               : "the filter could not read the key " + key + " of the played action (" +
                                                     Explain(read.error) + ")";
  if (read.skipped.empty()) {
    warnings.push_back("warning: " + what + "; it was ignored");
    return true;
  }
  std::string skipped;
  for (DescriptorKeyID k : read.skipped) skipped += (skipped.empty() ? "'" : ", '") + host::KeyText(k) + "'";
  *why = what + " and stopped reading it there, so the settings after it (" + skipped + ") were not applied";
  return false;
}

bool CheckHostProfile(const host::HostOptions& h, const ApplyOptions& o, bool opensDialog, bool scripted,
                      std::string* why) {
  if (!o.registry.empty() && !h.offerBasicSuite) {
    *why = "that host has no registry for --registry (the filter keeps its last-used settings in its own "
           "file there)";
    return false;
  }
  if ((!o.play.empty() || !o.record.empty()) && h.scripting != host::ScriptingSupport::Full) {
    *why = "that host cannot play or record actions (--play, --record)";
    return false;
  }
#ifndef _WIN32
  if (opensDialog && h.scripting != host::ScriptingSupport::Full && !scripted) {
    *why = std::string(o.hostRun.empty() ? "that host opens the filter's dialog on every run"
                                         : "that run opens the filter's dialog") +
           "; give it a script that ends with ok (--ui-steps ok)";
    return false;
  }
#else
  (void)opensDialog;
  (void)scripted;
#endif
  return true;
}

}  // namespace cli

// What an apply run checks before and after the filter runs, and how it
// words what the filter answered: refusals said before anything is written.
#pragma once

#include <string>
#include <vector>

#include "host/host_profiles.h"
#include "host/plugin_module.h"
#include "host/scripting.h"
#include "host/ui/ui_script.h"
#include "imageio/image_io.h"
#include "cli/apply_options.h"

namespace cli {

// A filter's result code in words ("out of memory (-108)").
std::string Explain(int16 code);

// Whether a step of the dialog's script loads or saves a settings file.
bool IsSettingsStep(const host::UiStep& s);

// The settings steps of the script, for a message: "--settings warm.ksl",
// "load-settings x.ksl (line 2)".
std::string SettingsSteps(const host::UiScript& script, const std::string& settingsFile);

// Refuses a document the module's own property list does not enable it for,
// as a host greys out its menu item.
bool FilterAccepts(const host::PluginModule& module, const host::ImageShape& shape, bool selection, std::string* why);

// How the module read the played action: a key it does not use stops its
// reading there, so the keys after it are never applied.
bool CheckPlayedRead(const host::PlayedRead& read, std::vector<std::string>& warnings, std::string* why);

// What a host profile cannot do for the options asked: refused before
// anything runs, rather than quietly not done.
bool CheckHostProfile(const host::HostOptions& h, const ApplyOptions& o, bool opensDialog, bool scripted,
                      std::string* why);

}  // namespace cli

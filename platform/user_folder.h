// The folder where this filter keeps what belongs to the user and not to a
// document: on Windows under the user's application-data folder (%APPDATA%,
// else the shell's), elsewhere under $XDG_CONFIG_HOME (else ~/.config).
#pragma once

#include <string>

namespace platform {

// With a trailing separator; "" when the user has no such folder.
std::string UserSettingsFolder();

// Creates the folder (and its parents) when missing; false when it cannot.
bool MakeUserSettingsFolder();

}  // namespace platform

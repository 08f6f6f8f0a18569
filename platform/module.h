// This module as the OS knows it: its instance handle (stored by the load
// entry point) and the activation context its dialogs run in.
#pragma once

namespace platform {

// The module's own instance handle (HINSTANCE on Windows, the load address
// on Linux): the dialog template is taken from this module's resources.
void* ModuleInstance();
void SetModuleInstance(void* instance);

// Runs `call(argument)` inside the module's activation context, created from
// its manifest resource (type 24, ID 2), so dialogs, common controls and
// file dialogs bind to the manifest's libraries. Where the system offers no
// activation contexts the call is made directly from then on; any other
// failure to activate means the call is not made and false is returned.
bool RunInActivationContext(void (*call)(void* argument), void* argument);

}  // namespace platform

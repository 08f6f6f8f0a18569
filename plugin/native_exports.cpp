// What the native build exports besides PluginMain. Windows shows the
// filter's message boxes itself; on Linux the bundled host stands in for the
// window system and receives them, to log and to check in tests; it also
// plays the user and the screen of the headless dialog through
// KestrelleHeadless().
#include "../platform/headless/driver_api.h"
#include "../platform/message_box.h"
#include "../platform/threads.h"
#include "export.h"

KESTRELLE_EXPORT void KestrelleSetMessageSink(platform::MessageSink sink, void* context) {
  platform::SetMessageSink(sink, context);
}

KESTRELLE_EXPORT const KestrelleHeadlessApi* KestrelleHeadless() { return headless::DriverApi(); }

// Lets the host count, and fail, the module's thread starts like any of its
// own callbacks.
KESTRELLE_EXPORT void KestrelleSetThreadStartGate(platform::ThreadStartGate gate, void* context) {
  platform::SetThreadStartGateForTesting(gate, context);
}

// What the native build exports besides PluginMain. Windows shows the
// filter's message boxes itself; on Linux the bundled host stands in for the
// window system and receives them, to log and to check in tests; it also
// plays the user and the screen of the headless dialog through
// KestrelleHeadless().
#include <cstddef>
#include <cstdint>
#include <vector>

#include "platform/headless/driver_api.h"
#include "platform/message_box.h"
#include "platform/threads.h"
#include "resources/plugin_resources.h"
#include "module/export.h"

KESTRELLE_EXPORT void KestrelleSetMessageSink(platform::MessageSink sink, void* context) {
  platform::SetMessageSink(sink, context);
}

KESTRELLE_EXPORT const KestrelleHeadlessApi* KestrelleHeadless() { return headless::DriverApi(); }

// Lets the host count, and fail, the module's thread starts like any of its
// own callbacks.
KESTRELLE_EXPORT void KestrelleSetThreadStartGate(platform::ThreadStartGate gate, void* context) {
  platform::SetThreadStartGateForTesting(gate, context);
}

// The plug-in property list a Windows host reads from the module's
// resources: a shared object has no resources, so the same bytes are handed
// out here, for the host to decide from the module's own rule which
// documents the filter works on.
KESTRELLE_EXPORT const uint8_t* KestrellePropertyList(size_t* size) {
  static const std::vector<uint8_t> pipl = BuildPiPL(Architecture::X64);
  if (size) *size = pipl.size();
  return pipl.data();
}

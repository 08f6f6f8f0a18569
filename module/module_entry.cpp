// The module's load entry point: it records the module's own instance
// handle, which the dialog needs to find its template among this module's
// resources.
#include "platform/module.h"

#ifdef _WIN32
#include <windows.h>

extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD, LPVOID) {
  platform::SetModuleInstance(instance);
  return TRUE;
}
#else
#include <dlfcn.h>

namespace {

__attribute__((constructor)) void StoreModuleInstance() {
  Dl_info info{};
  if (dladdr(reinterpret_cast<void*>(&StoreModuleInstance), &info) != 0) {
    platform::SetModuleInstance(info.dli_fbase);
  }
}

}  // namespace
#endif

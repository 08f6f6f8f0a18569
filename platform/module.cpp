#include "platform/module.h"

#include <atomic>
#include <vector>

#ifdef _WIN32
#include <windows.h>
#endif

namespace platform {
namespace {

std::atomic<void*> gInstance{nullptr};

}  // namespace

void* ModuleInstance() { return gInstance.load(); }
void SetModuleInstance(void* instance) { gInstance = instance; }

#ifdef _WIN32
namespace {

typedef HANDLE(WINAPI* CreateActCtxWFn)(PCACTCTXW);
typedef BOOL(WINAPI* ActivateActCtxFn)(HANDLE, ULONG_PTR*);
typedef BOOL(WINAPI* DeactivateActCtxFn)(DWORD, ULONG_PTR);

struct ActivationApi {
  CreateActCtxWFn create = nullptr;
  ActivateActCtxFn activate = nullptr;
  DeactivateActCtxFn deactivate = nullptr;
  bool available = false;
};

// Looked up at run time: systems without activation contexts lack them.
const ActivationApi& Api() {
  static const ActivationApi api = [] {
    ActivationApi a;
    if (HMODULE kernel = GetModuleHandleA("kernel32.dll")) {
      a.create = reinterpret_cast<CreateActCtxWFn>(
          reinterpret_cast<void*>(GetProcAddress(kernel, "CreateActCtxW")));
      a.activate = reinterpret_cast<ActivateActCtxFn>(
          reinterpret_cast<void*>(GetProcAddress(kernel, "ActivateActCtx")));
      a.deactivate = reinterpret_cast<DeactivateActCtxFn>(
          reinterpret_cast<void*>(GetProcAddress(kernel, "DeactivateActCtx")));
    }
    a.available = a.create && a.activate && a.deactivate;
    return a;
  }();
  return api;
}

// Created once per module and kept while it is loaded.
HANDLE ModuleContext() {
  static HANDLE context = [] {
    // Wide: a plug-ins folder named in any language is still found.
    std::vector<wchar_t> path(32768);
    GetModuleFileNameW(static_cast<HMODULE>(ModuleInstance()), path.data(), DWORD(path.size()));
    ACTCTXW description{};
    description.cbSize = sizeof description;
    description.dwFlags = ACTCTX_FLAG_HMODULE_VALID | ACTCTX_FLAG_RESOURCE_NAME_VALID;
    description.hModule = static_cast<HMODULE>(ModuleInstance());
    description.lpResourceName = MAKEINTRESOURCEW(2);
    description.lpSource = path.data();
    return Api().create(&description);
  }();
  return context;
}

}  // namespace

bool RunInActivationContext(void (*call)(void*), void* argument) {
  if (!Api().available) {
    call(argument);
    return true;
  }
  HANDLE context = ModuleContext();
  ULONG_PTR cookie = 0;
  if (context == INVALID_HANDLE_VALUE || !Api().activate(context, &cookie)) return false;
  call(argument);
  Api().deactivate(0, cookie);
  return true;
}
#else
bool RunInActivationContext(void (*call)(void*), void* argument) {
  call(argument);
  return true;
}
#endif

}  // namespace platform

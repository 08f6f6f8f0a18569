#include "dialog/filter_dialog.h"

#include "platform/module.h"
#include "platform/win32.h"
#include "dialog/dialog_controller.h"
#include "dialog/dialog_template.h"
#include "dialog/preview_proxy.h"

namespace {

struct DialogCall {
  HWND owner = nullptr;
  INT_PTR result = -1;
};

void OpenDialog(void* argument) {
  DialogCall* call = static_cast<DialogCall*>(argument);
#ifdef _WIN32
  // The trackbar class comes from the common controls, registered here
  // inside the activation context so the manifest's version is used.
  INITCOMMONCONTROLSEX controls{sizeof controls, ICC_BAR_CLASSES | ICC_STANDARD_CLASSES};
  InitCommonControlsEx(&controls);
#endif
  platform::ProvideDialogTemplate(kFilterDialogTemplate);
  call->result = DialogBoxParamA(static_cast<HINSTANCE>(platform::ModuleInstance()), "FILTERDIALOG",
                                 call->owner, &DissolveProc, 0);
}

}  // namespace

intptr_t RunFilterDialog(FilterRecord& record) {
  DialogCall call;
  if (const PlatformData* platform = static_cast<const PlatformData*>(record.platformData)) {
    call.owner = reinterpret_cast<HWND>(platform->hwnd);
  }
  if (!platform::RunInActivationContext(&OpenDialog, &call)) return -1;
  // However the dialog ended, the preview's host buffers go back now.
  ReleaseProxyBuffers();
  return call.result;
}

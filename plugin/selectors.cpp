#include "selectors.h"

#include "../dialog/filter_dialog.h"
#include "../platform/message_box.h"
#include "../render/render_final.h"
#include "descriptors.h"
#include "host_rects.h"
#include "parameters.h"
#include "plugin_handles.h"

const char* const kAboutText = "Kestrelle v1.0.7\n\nhttps://kestrelle.app";

namespace {

// Creates what is missing and, when anything was created, starts from the
// defaults with the dialog wanted: a first run, or the menu.
void CreateAndReset(CallState& call, bool alwaysReset) {
  const bool created = CreateMissingHandles(call);
  if (*call.result != noErr) return;
  LockHandles(call);
  if (*call.result != noErr) return;
  if (alwaysReset || created) {
    ResetParameters(*call.parameters);
    call.pluginData->showDialog = 1;
  }
}

}  // namespace

int64 MemoryNeed(int16 planes, bool haveMaskData, int32 width, int32 height) {
  const int64 w = uint32(width) < 256u ? width : 256;
  const int64 h = uint32(height) < 256u ? height : 256;
  return 2 * int64(planes + (haveMaskData ? 1 : 0)) * w * h + 32780;
}

void DoAbout(CallState&) { platform::ShowMessageBox(kAboutText, "About"); }

void DoParameters(CallState& call) { CreateAndReset(call, true); }

void DoPrepare(CallState& call) {
  FilterRecord& record = *call.filterRecord;
  if (HandlesExist(call)) {
    LockHandles(call);  // kept as they are
  } else {
    CreateAndReset(call, false);
  }
  // The host's memory fields are set whatever happened to the handles.
  record.bufferSpace = 0;
  const VRect filter = FilterRect(record);
  const int64 need = MemoryNeed(record.planes, record.maskData != nullptr, Width(filter), Height(filter));
  if (record.maxSpace > need) record.maxSpace = int32(need);
}

void DoStart(CallState& call) {
  FilterRecord& record = *call.filterRecord;
  LockHandles(call);
  if (*call.result != noErr) return;
  FilterParameters& parameters = *call.parameters;

  ReadLastUsedParameters(record, parameters, gProxyViewState);
  double saved[kParameterCount];
  for (int i = 0; i < kParameterCount; ++i) saved[i] = ParameterAt(parameters, i);
  const bool savedIgnoreSelection = parameters.ignoreSelection;

  bool showDialog = false;
  const int16 read = ReadScriptParameters(record, parameters, gProxyViewState,
                                          call.pluginData->showDialog != 0, showDialog);
  bool ok = true;
  if (DialogDecision(read, showDialog)) {
    const intptr_t choice = RunFilterDialog(record);
    // Whatever the dialog's preview left in the result word, the render
    // starts clean.
    *call.result = noErr;
    call.reported = false;
    ok = choice == 1;
  }
  call.pluginData->showDialog = 0;

  if (ok) {
    RenderFinal(record, parameters, *call.result);
  } else {
    for (int i = 0; i < kParameterCount; ++i) ParameterAt(parameters, i) = saved[i];
    WriteLastUsedParameters(record, parameters, gProxyViewState);
    parameters.ignoreSelection = savedIgnoreSelection;
    *call.result = userCanceledErr;
  }
}

void DoContinue(CallState& call) {
  // The whole image was filtered within Start: empty rectangles tell the
  // host there is nothing more to deliver.
  FilterRecord& record = *call.filterRecord;
  const VRect empty{0, 0, 0, 0};
  SetInRect(record, empty);
  SetOutRect(record, empty);
  SetMaskRect(record, empty);
}

void DoFinish(CallState& call) {
  FilterRecord& record = *call.filterRecord;
  LockHandles(call);
  if (*call.result != noErr) return;
  WriteScriptParameters(record, *call.parameters, gProxyViewState);
  WriteLastUsedParameters(record, *call.parameters, gProxyViewState);
}

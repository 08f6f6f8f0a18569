#include "module/selectors.h"

#include "dialog/filter_dialog.h"
#include "platform/message_box.h"
#include "render/render_final.h"
#include "plugin/last_used_store.h"
#include "plugin/script_descriptors.h"
#include "plugin/document_rule.h"
#include "plugin/host_rects.h"
#include "plugin/parameters.h"
#include "plugin/plugin_handles.h"

const char* const kAboutText = "Kestrelle v1.0.7\n\nhttps://kestrelle.app";

namespace {

// The state of a first run, or of the menu: the defaults, the dialog wanted.
// A reset record is older than any run (generation 0), so the last-used
// settings are what Start offers.
void StartFromDefaults(CallState& call) {
  ResetParameters(*call.parameters);
  MarkRecord(*call.parameters, 0);
  call.pluginData->showDialog = 1;
}

// The work of a run is done (or given up): nothing more for the host to
// deliver. A host that loops on the rectangles after Start (GIMP's PSPI
// hands out the pending tile's original pixels once more, and writes them
// back) would otherwise redo or revert the last tile.
void EmptyRectangles(FilterRecord& record) {
  const VRect empty{0, 0, 0, 0};
  SetInRect(record, empty);
  SetOutRect(record, empty);
  SetMaskRect(record, empty);
}

// The run's settings become the last used ones now, not at Finish: some
// hosts never call Finish. The run counter goes up in the record and in the
// store alike, so whichever a later run finds newer is the one it takes.
void KeepAsLastUsed(FilterRecord& record, FilterParameters& parameters, uint32 storedGeneration) {
  const uint32 newest = parameters.generation > storedGeneration ? parameters.generation : storedGeneration;
  MarkRecord(parameters, newest == 0xffffffffu ? newest : newest + 1);
  WriteLastUsedParameters(record, parameters, gProxyViewState);
}

}  // namespace

int64 MemoryNeed(int16 planes, bool haveMaskData, int32 width, int32 height) {
  const int64 w = uint32(width) < 256u ? width : 256;
  const int64 h = uint32(height) < 256u ? height : 256;
  return 2 * int64(planes + (haveMaskData ? 1 : 0)) * w * h + 32780;
}

void DoAbout(CallState&) { platform::ShowMessageBox(kAboutText, "About"); }

void DoParameters(CallState& call) {
  CreateMissingHandles(call);
  if (*call.result != noErr) return;
  LockHandles(call);
  if (*call.result != noErr) return;
  StartFromDefaults(call);
}

void DoPrepare(CallState& call) {
  FilterRecord& record = *call.filterRecord;
  if (HandlesExist(call)) {
    LockHandles(call);  // kept as they are...
    // ...when they hold what this filter wrote.
    if (*call.result == noErr && !ParameterHandleIsOwnRecord(call)) StartFromDefaults(call);
  } else {
    // A slot value from elsewhere (another process, or the module loaded
    // anew) beside a record of ours: the host repeats a run it kept the
    // record of, as a host that kept both handles would. Anything else is a
    // first run.
    const bool foreignData = DataSlotHeldForeignValue(call);
    bool parametersCreated = false;
    CreateMissingHandles(call, &parametersCreated);
    if (*call.result == noErr) LockHandles(call);
    if (*call.result == noErr) {
      if (foreignData && !parametersCreated && ParameterHandleIsOwnRecord(call)) {
        call.pluginData->showDialog = 0;
      } else {
        StartFromDefaults(call);
      }
    }
  }
  // The host's memory fields are set whatever happened to the handles.
  record.bufferSpace = 0;
  const VRect filter = FilterRect(record);
  const int64 need = MemoryNeed(record.planes, record.maskData != nullptr, Width(filter), Height(filter));
  if (record.maxSpace > need) record.maxSpace = int32(need);
}

void DoStart(CallState& call) {
  FilterRecord& record = *call.filterRecord;
  // Whatever happens below, the host has nothing more to deliver after Start.
  struct Done {
    FilterRecord& record;
    ~Done() { EmptyRectangles(record); }
  } done{record};
  LockHandles(call);
  if (*call.result != noErr) return;
  FilterParameters& parameters = *call.parameters;

  if (!DocumentEnabled(record)) {
    ReportDocumentNotEnabled(record);
    *call.result = filterBadParameters;
    call.reported = true;
    call.pluginData->showDialog = 0;
    return;
  }

  // A handle whose bytes are not a record of this filter is not read.
  if (!ParameterHandleIsOwnRecord(call)) {
    ResetParameters(parameters);
    MarkRecord(parameters, 0);
  }
  // The last-used settings, unless the record in the handle is newer (a
  // host that kept it while the store missed a write). A record copied
  // before an earlier run's dialog (GIMP's repeat) is older than the store.
  FilterParameters stored = parameters;
  stored.generation = 0;
  ReadLastUsedParameters(record, stored, gProxyViewState);
  const uint32 storedGeneration = stored.generation;
  if (storedGeneration >= parameters.generation) parameters = stored;
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
    if (*call.result == noErr) KeepAsLastUsed(record, parameters, storedGeneration);
  } else {
    for (int i = 0; i < kParameterCount; ++i) ParameterAt(parameters, i) = saved[i];
    KeepAsLastUsed(record, parameters, storedGeneration);
    parameters.ignoreSelection = savedIgnoreSelection;
    *call.result = userCanceledErr;
  }
}

void DoContinue(CallState& call) {
  // The whole image was filtered within Start: empty rectangles tell the
  // host there is nothing more to deliver.
  EmptyRectangles(*call.filterRecord);
}

void DoFinish(CallState& call) {
  FilterRecord& record = *call.filterRecord;
  LockHandles(call);
  if (*call.result != noErr) return;
  WriteScriptParameters(record, *call.parameters, gProxyViewState);
  WriteLastUsedParameters(record, *call.parameters, gProxyViewState);
}

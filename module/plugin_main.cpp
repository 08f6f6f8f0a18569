// The module's entry point: binds the call, builds the transfer tables,
// dispatches the selector, reports errors, and gives back everything the
// call took from the host, whatever happens in between. No exception ever
// leaves it.
#include <exception>
#include <new>

#include "platform/message_box.h"
#include "render/transfer_tables.h"
#include "plugin/call_state.h"
#include "plugin/error_text.h"
#include "module/export.h"
#include "plugin/pixel_request.h"
#include "plugin/plugin_handles.h"
#include "module/selectors.h"

namespace {

const char* const kErrorPrefixes[] = {
    "gResult error @ About: ",   "gResult error @ Parameters: ", "gResult error @ Prepare: ",
    "gResult error @ Start: ",   "gResult error @ Continue: ",   "gResult error @ Finish: ",
};

// Releases the call's locks and tables on every path out of PluginMain.
class CallScope {
 public:
  explicit CallScope(CallState& call) : call_(call) {}
  ~CallScope() {
    if (call_.filterRecord != nullptr) UnlockHandles(call_);
    ReleaseTransferTables(gTransferTables);
  }

 private:
  CallState& call_;
};

void Dispatch(int16 selector, CallState& call) {
  switch (selector) {
    case filterSelectorAbout: DoAbout(call); break;
    case filterSelectorParameters: DoParameters(call); break;
    case filterSelectorPrepare: DoPrepare(call); break;
    case filterSelectorStart: DoStart(call); break;
    case filterSelectorContinue: DoContinue(call); break;
    case filterSelectorFinish: DoFinish(call); break;
    default: break;  // no handler, no report
  }
}

void ReportError(int16 selector, int16 result) {
  if (selector < filterSelectorAbout || selector > filterSelectorFinish) return;
  if (result == noErr || result == userCanceledErr) return;
  if (gCallState.reported) return;  // already told in words
  platform::ShowMessageBox(NumberMessage(kErrorPrefixes[selector], result));
}

void Run(int16 selector, void* record, intptr_t* data, int16* result) {
  CallState& call = gCallState;
  call = CallState{};
  call.result = result;
  call.dataSlot = data;
  if (selector != filterSelectorAbout) {
    call.filterRecord = static_cast<FilterRecord*>(record);
    if (call.filterRecord == nullptr) {
      *result = filterBadParameters;
      ReportError(selector, *result);
      return;
    }
  }
  CallScope scope(call);
  FilterRecord* filter = call.filterRecord;
  if (filter != nullptr) {
    call.ignoreBigDocument = filter->bigDocumentData != nullptr && !PlausibleBigDocument(*filter);
    if (filter->bigDocumentData != nullptr && !call.ignoreBigDocument)
      filter->bigDocumentData->PluginUsing32BitCoordinates = 1;
    BeginPixelRequests(*filter);
    AllocateTransferTables(gTransferTables, filter);
    BuildSrgbToLinearTable(gTransferTables);
    BuildLinearToSrgbTable(gTransferTables);
  }
  Dispatch(selector, call);
  ReportError(selector, *result);
}

// Last resort when even the report failed: a fixed text, nothing to format.
void ReportInternalError(int16* result, int16 code, const char* what) {
  *result = code;
  try {
    platform::ShowMessageBox(std::string("Kestrelle could not complete the filter: ") + what);
  } catch (...) {
  }
}

}  // namespace

KESTRELLE_EXPORT void PluginMain(int16 selector, void* record, intptr_t* data, int16* result) {
  int16 scratch = 0;
  if (result == nullptr) result = &scratch;
  try {
    Run(selector, record, data, result);
  } catch (const std::bad_alloc&) {
    ReportInternalError(result, memFullErr, "out of memory.");
  } catch (const std::exception& e) {
    ReportInternalError(result, paramErr, e.what());
  } catch (...) {
    ReportInternalError(result, paramErr, "unexpected error.");
  }
}

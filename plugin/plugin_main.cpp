// The module's entry point. The selector handlers arrive with the filter's
// entry slice; until then every call binds the call state, builds the
// transfer tables in the host's buffers, releases them again and answers
// that the filter cannot run yet.
#include <new>

#include "../platform/message_box.h"
#include "../render/transfer_tables.h"
#include "call_state.h"
#include "export.h"

CallState gCallState;

KESTRELLE_EXPORT void PluginMain(int16 selector, void* record, intptr_t* data, int16* result) {
  int16 scratch = 0;
  if (result == nullptr) result = &scratch;
  try {
    gCallState = CallState{};
    gCallState.filterRecord = static_cast<FilterRecord*>(record);
    gCallState.dataSlot = data;
    gCallState.result = result;
    FilterRecord* filter = selector == filterSelectorAbout ? nullptr : gCallState.filterRecord;
    if (filter != nullptr) {
      if (filter->bigDocumentData) filter->bigDocumentData->PluginUsing32BitCoordinates = 1;
      AllocateTransferTables(gTransferTables, filter);
      BuildSrgbToLinearTable(gTransferTables);
      BuildLinearToSrgbTable(gTransferTables);
    }
    *result = filterBadMode;
    ReleaseTransferTables(gTransferTables);
  } catch (const std::bad_alloc&) {
    *result = memFullErr;
  } catch (...) {
    *result = paramErr;
  }
}

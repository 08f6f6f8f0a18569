#include "plugin_handles.h"

#include "host_services.h"
#include "parameters.h"

namespace {

// Stand-ins for hosts that cannot keep handles for us.
struct OwnMemory {
  FilterParameters parameters{};
  PluginData pluginData{};
  bool parametersCreated = false;
  bool pluginDataCreated = false;
};
OwnMemory gOwn;

const HandleProcs* Procs(const CallState& call) { return UsableHandleProcs(call.filterRecord); }

Handle DataHandle(const CallState& call) {
  return call.dataSlot ? reinterpret_cast<Handle>(*call.dataSlot) : nullptr;
}

// Own memory stands in for the parameter handle when there are no handle
// procs, and for the data handle when there is no slot to keep it in either.
bool OwnParameters(const CallState& call) { return Procs(call) == nullptr; }
bool OwnPluginData(const CallState& call) { return Procs(call) == nullptr || call.dataSlot == nullptr; }

}  // namespace

bool HandlesExist(const CallState& call) {
  const bool parameters = OwnParameters(call) ? gOwn.parametersCreated
                                              : call.filterRecord->parameters != nullptr;
  const bool data = OwnPluginData(call) ? gOwn.pluginDataCreated : DataHandle(call) != nullptr;
  return parameters && data;
}

bool CreateMissingHandles(CallState& call) {
  bool created = false;
  const HandleProcs* procs = Procs(call);
  if (OwnParameters(call)) {
    created |= !gOwn.parametersCreated;
    gOwn.parametersCreated = true;
  } else if (call.filterRecord->parameters == nullptr) {
    created = true;
    Handle h = procs->newProc(kParameterHandleSize);
    if (h == nullptr) {
      *call.result = memFullErr;
    } else {
      call.filterRecord->parameters = h;
    }
  }
  if (OwnPluginData(call)) {
    created |= !gOwn.pluginDataCreated;
    gOwn.pluginDataCreated = true;
  } else if (DataHandle(call) == nullptr) {
    created = true;
    Handle h = procs->newProc(kPluginDataHandleSize);
    if (h == nullptr) {
      *call.result = memFullErr;
    } else {
      *call.dataSlot = reinterpret_cast<intptr_t>(h);
    }
  }
  return created;
}

void LockHandles(CallState& call) {
  if (!HandlesExist(call)) {
    *call.result = filterBadParameters;
    return;
  }
  const HandleProcs* procs = Procs(call);
  if (OwnParameters(call)) {
    call.parameters = &gOwn.parameters;
  } else {
    Ptr p = procs->lockProc(call.filterRecord->parameters, true);
    call.parametersLocked = p != nullptr;
    call.parameters = reinterpret_cast<FilterParameters*>(p);
  }
  if (OwnPluginData(call)) {
    call.pluginData = &gOwn.pluginData;
  } else {
    Ptr p = procs->lockProc(DataHandle(call), true);
    call.pluginDataLocked = p != nullptr;
    call.pluginData = reinterpret_cast<PluginData*>(p);
  }
  if (call.parameters == nullptr || call.pluginData == nullptr) {
    // Nothing may be read or written through a lock that failed.
    *call.result = memFullErr;
    call.parameters = nullptr;
    call.pluginData = nullptr;
  }
}

void UnlockHandles(CallState& call) {
  const HandleProcs* procs = Procs(call);
  if (procs != nullptr) {
    if (call.pluginDataLocked && DataHandle(call)) procs->unlockProc(DataHandle(call));
    if (call.parametersLocked && call.filterRecord->parameters)
      procs->unlockProc(call.filterRecord->parameters);
  }
  call.pluginDataLocked = call.parametersLocked = false;
  call.parameters = nullptr;
  call.pluginData = nullptr;
}

#include "plugin/plugin_handles.h"

#include <algorithm>
#include <vector>

#include "plugin/host_services.h"
#include "plugin/parameters.h"

namespace {

// Stand-ins for hosts that cannot keep handles for us.
struct OwnMemory {
  FilterParameters parameters{};
  PluginData pluginData{};
  bool parametersCreated = false;
  bool pluginDataCreated = false;
};
OwnMemory gOwn;

// The data handles this module instance made. A host may hand the plug-in a
// slot value it did not make here: GIMP's PSPI gives a new process whatever
// an earlier process left in the slot, a pointer into memory that process
// took with it. Only a handle made here is ever locked; anything else in the
// slot counts as no handle at all.
std::vector<Handle> gMadeDataHandles;

const HandleProcs* Procs(const CallState& call) { return UsableHandleProcs(call.filterRecord); }

Handle DataHandle(const CallState& call) {
  if (call.dataSlot == nullptr) return nullptr;
  const Handle h = reinterpret_cast<Handle>(*call.dataSlot);
  if (h == nullptr) return nullptr;
  return std::find(gMadeDataHandles.begin(), gMadeDataHandles.end(), h) != gMadeDataHandles.end() ? h : nullptr;
}

// Own memory stands in for the parameter handle when there are no handle
// procs, and for the data handle when there is no slot to keep it in either.
bool OwnParameters(const CallState& call) { return Procs(call) == nullptr; }
bool OwnPluginData(const CallState& call) { return Procs(call) == nullptr || call.dataSlot == nullptr; }

// The parameter handle's size, where the host can tell it. A size of 0 or
// less is taken as a host that does not really answer: the record's mark
// and values are still checked before anything is believed.
int64 ParameterHandleSize(const CallState& call, const HandleProcs* procs) {
  if (procs && procs->getSizeProc && MemberInCount(procs->numHandleProcs, kGetHandleSize)) {
    const int32 size = procs->getSizeProc(call.filterRecord->parameters);
    if (size > 0) return size;
  }
  return kParameterHandleSize;
}

bool ParameterHandleUsable(const CallState& call) {
  return call.filterRecord->parameters != nullptr &&
         ParameterHandleSize(call, Procs(call)) >= kParameterHandleSize;
}

}  // namespace

bool HandlesExist(const CallState& call) {
  const bool parameters = OwnParameters(call) ? gOwn.parametersCreated : ParameterHandleUsable(call);
  const bool data = OwnPluginData(call) ? gOwn.pluginDataCreated : DataHandle(call) != nullptr;
  return parameters && data;
}

bool CreateMissingHandles(CallState& call, bool* parametersCreated) {
  bool created = false;
  const HandleProcs* procs = Procs(call);
  if (OwnParameters(call)) {
    created |= !gOwn.parametersCreated;
    gOwn.parametersCreated = true;
  } else if (!ParameterHandleUsable(call)) {
    // None, or one too small to hold a record (not ours, whatever it is: it
    // is left alone and the filter's own takes its place).
    created = true;
    Handle h = procs->newProc(kParameterHandleSize);
    if (h == nullptr) {
      *call.result = memFullErr;
    } else {
      call.filterRecord->parameters = h;
    }
  }
  if (parametersCreated) *parametersCreated = created;
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
      gMadeDataHandles.push_back(h);
    }
  }
  return created;
}

bool DataSlotHeldForeignValue(const CallState& call) {
  return !OwnPluginData(call) && *call.dataSlot != 0 && DataHandle(call) == nullptr;
}

bool ParameterHandleIsOwnRecord(const CallState& call) {
  // Locked only when large enough for a record (LockHandles checks the size).
  return call.parameters != nullptr && IsOwnRecord(call.parameters);
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

#include "host/action_descriptor_suite.h"

#include <string>

#include "host/scripting.h"

namespace host {

namespace {

// The suite's members are plain functions: they find the scripting services
// of the host that runs the plug-in now.
Scripting* S() { return ActiveScripting(); }

OSErr MakeThunk(PIActionDescriptor* d) {
  if (!S() || !d) return paramErr;
  *d = nullptr;
  if (!S()->ledger().Enter("descriptor.Make")) return memFullErr;
  *d = S()->NewDescriptor(Descriptor());
  return noErr;
}
OSErr FreeThunk(PIActionDescriptor d) {
  if (!S()) return paramErr;
  S()->ledger().Enter("descriptor.Free");
  S()->FreeDescriptor(d);
  return noErr;
}
OSErr HasKeyThunk(PIActionDescriptor d, DescriptorKeyID key, Boolean* has) {
  Descriptor* x = S() ? S()->Live(d, "HasKey") : nullptr;
  if (!x || !has) return paramErr;
  *has = x->Has(key);
  return noErr;
}
OSErr GetCountThunk(PIActionDescriptor d, uint32* count) {
  Descriptor* x = S() ? S()->Live(d, "GetCount") : nullptr;
  if (!x || !count) return paramErr;
  *count = uint32(x->size());
  return noErr;
}
OSErr GetKeyThunk(PIActionDescriptor d, uint32 index, DescriptorKeyID* key) {
  Descriptor* x = S() ? S()->Live(d, "GetKey") : nullptr;
  if (!x || !key) return paramErr;
  if (index >= x->size()) return errMissingParameter;
  *key = x->items()[index].key;
  return noErr;
}
OSErr GetTypeThunk(PIActionDescriptor d, DescriptorKeyID key, DescriptorTypeID* type) {
  Descriptor* x = S() ? S()->Live(d, "GetType") : nullptr;
  if (!x || !type) return paramErr;
  const DescriptorItem* item = x->Find(key);
  if (!item) return errMissingParameter;
  *type = item->type;
  return noErr;
}
OSErr EraseThunk(PIActionDescriptor d, DescriptorKeyID key) {
  Descriptor* x = S() ? S()->Live(d, "Erase") : nullptr;
  if (!x) return paramErr;
  return x->Erase(key) ? noErr : errMissingParameter;
}
OSErr ClearThunk(PIActionDescriptor d) {
  Descriptor* x = S() ? S()->Live(d, "Clear") : nullptr;
  if (!x) return paramErr;
  x->Clear();
  return noErr;
}
OSErr PutIntegerThunk(PIActionDescriptor d, DescriptorKeyID key, int32 value) {
  Descriptor* x = S() ? S()->Live(d, "PutInteger") : nullptr;
  if (!x) return paramErr;
  if (!S()->ledger().Enter("descriptor.PutInteger")) return memFullErr;
  x->PutInteger(key, value);
  return noErr;
}
OSErr PutFloatThunk(PIActionDescriptor d, DescriptorKeyID key, real64 value) {
  Descriptor* x = S() ? S()->Live(d, "PutFloat") : nullptr;
  if (!x) return paramErr;
  if (!S()->ledger().Enter("descriptor.PutFloat")) return memFullErr;
  x->PutFloat(key, value);
  return noErr;
}
OSErr PutBooleanThunk(PIActionDescriptor d, DescriptorKeyID key, Boolean value) {
  Descriptor* x = S() ? S()->Live(d, "PutBoolean") : nullptr;
  if (!x) return paramErr;
  if (!S()->ledger().Enter("descriptor.PutBoolean")) return memFullErr;
  x->PutBoolean(key, value != 0);
  return noErr;
}
OSErr GetIntegerThunk(PIActionDescriptor d, DescriptorKeyID key, int32* value) {
  Descriptor* x = S() ? S()->Live(d, "GetInteger") : nullptr;
  if (!x || !value) return paramErr;
  if (!S()->ledger().Enter("descriptor.GetInteger")) return readErr;
  return x->GetInteger(key, *value);
}
OSErr GetFloatThunk(PIActionDescriptor d, DescriptorKeyID key, real64* value) {
  Descriptor* x = S() ? S()->Live(d, "GetFloat") : nullptr;
  if (!x || !value) return paramErr;
  if (!S()->ledger().Enter("descriptor.GetFloat")) return readErr;
  return x->GetFloat(key, *value);
}
OSErr GetBooleanThunk(PIActionDescriptor d, DescriptorKeyID key, Boolean* value) {
  Descriptor* x = S() ? S()->Live(d, "GetBoolean") : nullptr;
  if (!x || !value) return paramErr;
  if (!S()->ledger().Enter("descriptor.GetBoolean")) return readErr;
  bool b = false;
  OSErr err = x->GetBoolean(key, b);
  if (err == noErr) *value = b;
  return err;
}
OSErr HasKeysThunk(PIActionDescriptor d, DescriptorKeyID* keys, Boolean* has) {
  Descriptor* x = S() ? S()->Live(d, "HasKeys") : nullptr;
  if (!x || !keys || !has) return paramErr;
  *has = true;
  for (; *keys; ++keys) *has = *has && x->Has(*keys);
  return noErr;
}

}  // namespace

void FillActionDescriptorProcs(PSActionDescriptorProcs& procs) {
  PSActionDescriptorProcs& a = procs;
  a.Make = MakeThunk;
  a.Free = FreeThunk;
  a.GetType = GetTypeThunk;
  a.GetKey = GetKeyThunk;
  a.HasKey = HasKeyThunk;
  a.GetCount = GetCountThunk;
  a.IsEqual = [](PIActionDescriptor, PIActionDescriptor, Boolean*) { return kScriptingNotImplemented; };
  a.Erase = EraseThunk;
  a.Clear = ClearThunk;
  a.PutInteger = PutIntegerThunk;
  a.PutFloat = PutFloatThunk;
  a.PutUnitFloat = [](PIActionDescriptor, DescriptorKeyID, DescriptorUnitID, real64) { return kScriptingNotImplemented; };
  a.PutString = [](PIActionDescriptor, DescriptorKeyID, const char*) { return kScriptingNotImplemented; };
  a.PutBoolean = PutBooleanThunk;
  a.PutList = [](PIActionDescriptor, DescriptorKeyID, PIActionList) { return kScriptingNotImplemented; };
  a.PutObject = [](PIActionDescriptor, DescriptorKeyID, DescriptorClassID, PIActionDescriptor) { return kScriptingNotImplemented; };
  a.PutGlobalObject = [](PIActionDescriptor, DescriptorKeyID, DescriptorClassID, PIActionDescriptor) { return kScriptingNotImplemented; };
  a.PutEnumerated = [](PIActionDescriptor, DescriptorKeyID, DescriptorEnumTypeID, DescriptorEnumID) { return kScriptingNotImplemented; };
  a.PutReference = [](PIActionDescriptor, DescriptorKeyID, PIActionReference) { return kScriptingNotImplemented; };
  a.PutClass = [](PIActionDescriptor, DescriptorKeyID, DescriptorClassID) { return kScriptingNotImplemented; };
  a.PutGlobalClass = [](PIActionDescriptor, DescriptorKeyID, DescriptorClassID) { return kScriptingNotImplemented; };
  a.PutAlias = [](PIActionDescriptor, DescriptorKeyID, Handle) { return kScriptingNotImplemented; };
  a.GetInteger = GetIntegerThunk;
  a.GetFloat = GetFloatThunk;
  a.GetUnitFloat = [](PIActionDescriptor, DescriptorKeyID, DescriptorUnitID*, real64*) { return kScriptingNotImplemented; };
  a.GetStringLength = [](PIActionDescriptor, DescriptorKeyID, uint32*) { return kScriptingNotImplemented; };
  a.GetString = [](PIActionDescriptor, DescriptorKeyID, char*, uint32) { return kScriptingNotImplemented; };
  a.GetBoolean = GetBooleanThunk;
  a.GetList = [](PIActionDescriptor, DescriptorKeyID, PIActionList*) { return kScriptingNotImplemented; };
  a.GetObject = [](PIActionDescriptor, DescriptorKeyID, DescriptorClassID*, PIActionDescriptor*) { return kScriptingNotImplemented; };
  a.GetGlobalObject = [](PIActionDescriptor, DescriptorKeyID, DescriptorClassID*, PIActionDescriptor*) { return kScriptingNotImplemented; };
  a.GetEnumerated = [](PIActionDescriptor, DescriptorKeyID, DescriptorEnumTypeID*, DescriptorEnumID*) { return kScriptingNotImplemented; };
  a.GetReference = [](PIActionDescriptor, DescriptorKeyID, PIActionReference*) { return kScriptingNotImplemented; };
  a.GetClass = [](PIActionDescriptor, DescriptorKeyID, DescriptorClassID*) { return kScriptingNotImplemented; };
  a.GetGlobalClass = [](PIActionDescriptor, DescriptorKeyID, DescriptorClassID*) { return kScriptingNotImplemented; };
  a.GetAlias = [](PIActionDescriptor, DescriptorKeyID, Handle*) { return kScriptingNotImplemented; };
  a.HasKeys = HasKeysThunk;
  a.PutIntegers = [](PIActionDescriptor, DescriptorKeyID, uint32, int32*) { return kScriptingNotImplemented; };
  a.GetIntegers = [](PIActionDescriptor, DescriptorKeyID, uint32, int32*) { return kScriptingNotImplemented; };
  a.AsHandle = [](PIActionDescriptor, PIDescriptorHandle*) { return kScriptingNotImplemented; };
  a.HandleToDescriptor = [](PIDescriptorHandle, PIActionDescriptor*) { return kScriptingNotImplemented; };
  a.PutZString = [](PIActionDescriptor, DescriptorKeyID, ASZString) { return kScriptingNotImplemented; };
  a.GetZString = [](PIActionDescriptor, DescriptorKeyID, ASZString*) { return kScriptingNotImplemented; };
  a.PutData = [](PIActionDescriptor, DescriptorKeyID, int32, void*) { return kScriptingNotImplemented; };
  a.GetDataLength = [](PIActionDescriptor, DescriptorKeyID, int32*) { return kScriptingNotImplemented; };
  a.GetData = [](PIActionDescriptor, DescriptorKeyID, void*) { return kScriptingNotImplemented; };
}

Descriptor* Scripting::Live(PIActionDescriptor d, const char* who) {
  Descriptor* x = reinterpret_cast<Descriptor*>(d);
  if (descriptors_.count(x)) return x;
  misuse_.push_back(std::string(who) + ": unknown or freed descriptor");
  return nullptr;
}

PIActionDescriptor Scripting::NewDescriptor(const Descriptor& from) {
  Descriptor* d = new Descriptor(from);
  descriptors_.insert(d);
  return reinterpret_cast<PIActionDescriptor>(d);
}

void Scripting::FreeDescriptor(PIActionDescriptor d) {
  Descriptor* x = Live(d, "Free");
  if (!x) return;
  descriptors_.erase(x);
  delete x;
}

}  // namespace host

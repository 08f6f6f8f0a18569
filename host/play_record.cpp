#include "host/play_record.h"

#include <memory>
#include <string>

namespace host {

namespace {

// The suites' members are plain functions: they find the scripting services
// of the host that runs the plug-in now.
Scripting* S() { return ActiveScripting(); }

OSErr Failed(Scripting::Reader* r, OSErr err) {
  if (r && r->sticky == noErr) r->sticky = err;
  return err;
}

PIReadDescriptor OpenReadThunk(PIDescriptorHandle h, DescriptorKeyID* expected) {
  return S() ? S()->OpenReader(h, expected) : nullptr;
}
OSErr CloseReadThunk(PIReadDescriptor token) { return S() ? S()->CloseReader(token) : paramErr; }
Boolean GetKeyProcThunk(PIReadDescriptor token, DescriptorKeyID* key, DescriptorTypeID* type,
                        int32* flags) {
  Scripting::Reader* r = S() ? S()->LiveReader(token, "getKeyProc") : nullptr;
  if (!r || !key) return false;
  S()->ledger().Enter("getKeyProc");
  if (r->next >= r->descriptor.size()) {
    r->current = nullptr;
    r->ended = true;
    return false;
  }
  r->current = &r->descriptor.items()[r->next++];
  *key = r->current->key;
  if (type) *type = r->current->type;
  if (flags) *flags = actionSimpleParameter;
  for (size_t i = 0; i < r->expected.size(); ++i)
    if (r->expected[i] == *key) r->seen[i] = true;
  return true;
}
OSErr GetIntegerProcThunk(PIReadDescriptor token, int32* value) {
  Scripting::Reader* r = S() ? S()->LiveReader(token, "getIntegerProc") : nullptr;
  if (!r || !value) return paramErr;
  if (!S()->ledger().Enter("getIntegerProc")) return Failed(r, readErr);
  if (!r->current) return Failed(r, errMissingParameter);
  Descriptor one;
  one.Put(*r->current);
  const OSErr err = one.GetInteger(r->current->key, *value);
  return err == noErr ? noErr : Failed(r, err);
}
OSErr GetFloatProcThunk(PIReadDescriptor token, real64* value) {
  Scripting::Reader* r = S() ? S()->LiveReader(token, "getFloatProc") : nullptr;
  if (!r || !value) return paramErr;
  if (!S()->ledger().Enter("getFloatProc")) return Failed(r, readErr);
  if (!r->current) return Failed(r, errMissingParameter);
  Descriptor one;
  one.Put(*r->current);
  const OSErr err = one.GetFloat(r->current->key, *value);
  return err == noErr ? noErr : Failed(r, err);
}
OSErr GetBooleanProcThunk(PIReadDescriptor token, Boolean* value) {
  Scripting::Reader* r = S() ? S()->LiveReader(token, "getBooleanProc") : nullptr;
  if (!r || !value) return paramErr;
  if (!S()->ledger().Enter("getBooleanProc")) return Failed(r, readErr);
  if (!r->current || r->current->type != typeBoolean) return Failed(r, errWrongDataType);
  *value = r->current->booleanValue;
  return noErr;
}

PIWriteDescriptor OpenWriteThunk() { return S() ? S()->OpenWriter() : nullptr; }
OSErr CloseWriteThunk(PIWriteDescriptor token, PIDescriptorHandle* h) {
  return S() ? S()->CloseWriter(token, h) : paramErr;
}
OSErr PutIntegerProcThunk(PIWriteDescriptor token, DescriptorKeyID key, int32 value) {
  Scripting::Writer* w = S() ? S()->LiveWriter(token, "putIntegerProc") : nullptr;
  if (!w) return paramErr;
  if (!S()->ledger().Enter("putIntegerProc")) return memFullErr;
  w->descriptor.PutInteger(key, value);
  return noErr;
}
OSErr PutFloatProcThunk(PIWriteDescriptor token, DescriptorKeyID key, const real64* value) {
  Scripting::Writer* w = S() ? S()->LiveWriter(token, "putFloatProc") : nullptr;
  if (!w || !value) return paramErr;
  if (!S()->ledger().Enter("putFloatProc")) return memFullErr;
  w->descriptor.PutFloat(key, *value);
  return noErr;
}
OSErr PutBooleanProcThunk(PIWriteDescriptor token, DescriptorKeyID key, Boolean value) {
  Scripting::Writer* w = S() ? S()->LiveWriter(token, "putBooleanProc") : nullptr;
  if (!w) return paramErr;
  if (!S()->ledger().Enter("putBooleanProc")) return memFullErr;
  w->descriptor.PutBoolean(key, value != 0);
  return noErr;
}

}  // namespace

void FillReadDescriptorProcs(ReadDescriptorProcs& procs) {
  ReadDescriptorProcs& r = procs;
  r.readDescriptorProcsVersion = 0;
  r.numReadDescriptorProcs = 18;
  r.openReadDescriptorProc = OpenReadThunk;
  r.closeReadDescriptorProc = CloseReadThunk;
  r.getKeyProc = GetKeyProcThunk;
  r.getIntegerProc = GetIntegerProcThunk;
  r.getFloatProc = GetFloatProcThunk;
  r.getUnitFloatProc = [](PIReadDescriptor, DescriptorUnitID*, real64*) { return kScriptingNotImplemented; };
  r.getBooleanProc = GetBooleanProcThunk;
  r.getTextProc = [](PIReadDescriptor, Handle*) { return kScriptingNotImplemented; };
  r.getAliasProc = [](PIReadDescriptor, Handle*) { return kScriptingNotImplemented; };
  r.getEnumeratedProc = [](PIReadDescriptor, DescriptorEnumID*) { return kScriptingNotImplemented; };
  r.getClassProc = [](PIReadDescriptor, DescriptorTypeID*) { return kScriptingNotImplemented; };
  r.getSimpleReferenceProc = [](PIReadDescriptor, void*) { return kScriptingNotImplemented; };
  r.getObjectProc = [](PIReadDescriptor, DescriptorTypeID*, PIDescriptorHandle*) { return kScriptingNotImplemented; };
  r.getCountProc = [](PIReadDescriptor, uint32*) { return kScriptingNotImplemented; };
  r.getStringProc = [](PIReadDescriptor, Str255*) { return kScriptingNotImplemented; };
  r.getPinnedIntegerProc = [](PIReadDescriptor, int32, int32, int32*) { return kScriptingNotImplemented; };
  r.getPinnedFloatProc = [](PIReadDescriptor, const real64*, const real64*, real64*) { return kScriptingNotImplemented; };
  r.getPinnedUnitFloatProc = [](PIReadDescriptor, const real64*, const real64*, DescriptorUnitID*, real64*) { return kScriptingNotImplemented; };
}

void FillWriteDescriptorProcs(WriteDescriptorProcs& procs) {
  WriteDescriptorProcs& w = procs;
  w.writeDescriptorProcsVersion = 0;
  w.numWriteDescriptorProcs = 16;
  w.openWriteDescriptorProc = OpenWriteThunk;
  w.closeWriteDescriptorProc = CloseWriteThunk;
  w.putIntegerProc = PutIntegerProcThunk;
  w.putFloatProc = PutFloatProcThunk;
  w.putUnitFloatProc = [](PIWriteDescriptor, DescriptorKeyID, DescriptorUnitID, const real64*) { return kScriptingNotImplemented; };
  w.putBooleanProc = PutBooleanProcThunk;
  w.putTextProc = [](PIWriteDescriptor, DescriptorKeyID, Handle) { return kScriptingNotImplemented; };
  w.putAliasProc = [](PIWriteDescriptor, DescriptorKeyID, Handle) { return kScriptingNotImplemented; };
  w.putEnumeratedProc = [](PIWriteDescriptor, DescriptorKeyID, DescriptorTypeID, DescriptorEnumID) { return kScriptingNotImplemented; };
  w.putClassProc = [](PIWriteDescriptor, DescriptorKeyID, DescriptorTypeID) { return kScriptingNotImplemented; };
  w.putSimpleReferenceProc = [](PIWriteDescriptor, DescriptorKeyID, const void*) { return kScriptingNotImplemented; };
  w.putObjectProc = [](PIWriteDescriptor, DescriptorKeyID, DescriptorTypeID, PIDescriptorHandle) { return kScriptingNotImplemented; };
  w.putCountProc = [](PIWriteDescriptor, DescriptorKeyID, uint32) { return kScriptingNotImplemented; };
  w.putStringProc = [](PIWriteDescriptor, DescriptorKeyID, const unsigned char*) { return kScriptingNotImplemented; };
  w.putScopedClassProc = [](PIWriteDescriptor, DescriptorKeyID, DescriptorTypeID) { return kScriptingNotImplemented; };
  w.putScopedObjectProc = [](PIWriteDescriptor, DescriptorKeyID, DescriptorTypeID, PIDescriptorHandle) { return kScriptingNotImplemented; };
}

void Scripting::Play(const Descriptor& d, int16 playInfo) {
  const std::vector<char> bytes = d.Serialize();
  if (parameters_.descriptor && handles_.IsLive(parameters_.descriptor))
    handles_.DisposeForHost(parameters_.descriptor);
  parameters_.descriptor = handles_.NewForHost(bytes.data(), int32(bytes.size()));
  parameters_.playInfo = playInfo;
}

bool Scripting::Recorded(Descriptor& out) const {
  Handle h = parameters_.descriptor;
  if (!h || !handles_.IsLive(h)) return false;
  return Descriptor::Deserialize(*h, size_t(const_cast<HandleSuite&>(handles_).GetSize(h)), out);
}

PIReadDescriptor Scripting::OpenReader(PIDescriptorHandle h, DescriptorKeyID* expected) {
  if (!ledger_.Enter("openReadDescriptorProc")) return nullptr;
  if (!h || !handles_.IsLive(h)) {
    misuse_.push_back("openReadDescriptorProc: not a live descriptor handle");
    return nullptr;
  }
  auto r = std::make_unique<Reader>();
  const int32 size = handles_.GetSize(h);
  if (!Descriptor::Deserialize(*h, size_t(size), r->descriptor)) return nullptr;
  for (DescriptorKeyID* k = expected; k && *k; ++k) r->expected.push_back(*k);
  r->seen.assign(r->expected.size(), false);
  Reader* token = r.release();
  readers_.insert(token);
  return reinterpret_cast<PIReadDescriptor>(token);
}

Scripting::Reader* Scripting::LiveReader(PIReadDescriptor token, const char* who) {
  Reader* r = reinterpret_cast<Reader*>(token);
  if (readers_.count(r)) return r;
  misuse_.push_back(std::string(who) + ": unknown or closed read token");
  return nullptr;
}

OSErr Scripting::CloseReader(PIReadDescriptor token) {
  Reader* r = LiveReader(token, "closeReadDescriptorProc");
  if (!r) return paramErr;
  ledger_.Enter("closeReadDescriptorProc");
  OSErr result = r->sticky;
  if (result == noErr)
    for (bool seen : r->seen)
      if (!seen) result = errMissingParameter;
  // A plug-in walks the keys until getKey says there are no more; one that
  // closes before that stopped at the key it read last.
  playedRead_ = PlayedRead{};
  if (!r->ended && r->current) {
    playedRead_.stopped = true;
    playedRead_.key = r->current->key;
    playedRead_.error = r->sticky;
    for (size_t i = r->next; i < r->descriptor.size(); ++i) playedRead_.skipped.push_back(r->descriptor.items()[i].key);
  }
  readers_.erase(r);
  delete r;
  return result;
}

PIWriteDescriptor Scripting::OpenWriter() {
  if (!ledger_.Enter("openWriteDescriptorProc")) return nullptr;
  Writer* w = new Writer;
  writers_.insert(w);
  return reinterpret_cast<PIWriteDescriptor>(w);
}

Scripting::Writer* Scripting::LiveWriter(PIWriteDescriptor token, const char* who) {
  Writer* w = reinterpret_cast<Writer*>(token);
  if (writers_.count(w)) return w;
  misuse_.push_back(std::string(who) + ": unknown or closed write token");
  return nullptr;
}

OSErr Scripting::CloseWriter(PIWriteDescriptor token, PIDescriptorHandle* h) {
  Writer* w = LiveWriter(token, "closeWriteDescriptorProc");
  if (!w) return paramErr;
  ledger_.Enter("closeWriteDescriptorProc");
  if (h) {
    // A handle still there is one the plug-in could not dispose of: the host
    // replaces it.
    if (*h && handles_.IsLive(*h)) handles_.DisposeForHost(*h);
    const std::vector<char> bytes = w->descriptor.Serialize();
    *h = handles_.NewForHost(bytes.data(), int32(bytes.size()));
  }
  writers_.erase(w);
  delete w;
  return noErr;
}

}  // namespace host

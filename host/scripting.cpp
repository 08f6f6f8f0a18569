#include "host/scripting.h"

#include <cmath>
#include <cstdlib>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <sstream>

#include "host/host.h"
#include "files/file_identity.h"
#include "files/staged_file.h"
#include "host/json.h"

namespace host {

struct Scripting::Reader {
  Descriptor descriptor;
  size_t next = 0;
  const DescriptorItem* current = nullptr;
  std::vector<DescriptorKeyID> expected;
  std::vector<bool> seen;
  OSErr sticky = noErr;  // the first failed read, reported again at close
  bool ended = false;    // getKey was asked past the last key
};

struct Scripting::Writer {
  Descriptor descriptor;
};

namespace {

// Suite errors are four-character codes in PICA.
constexpr SPErr kSPSuiteNotFoundError = SPErr(FourCharCode("S!Fd"));
constexpr SPErr kSPBadParameterError = SPErr(FourCharCode("Parm"));
// What the members that this host does not implement answer.
constexpr OSErr kNotImplemented = errPlugInHostInsufficient;

Scripting* S() {
  Host* h = Host::Active();
  return h ? &h->scripting() : nullptr;
}

OSErr Failed(Scripting::Reader* r, OSErr err) {
  if (r && r->sticky == noErr) r->sticky = err;
  return err;
}

// --- PICA basic suite -------------------------------------------------------
SPErr AcquireSuiteThunk(const char* name, int32 version, const void** suite) {
  return S() ? S()->AcquireSuite(name, version, suite) : kSPSuiteNotFoundError;
}
SPErr ReleaseSuiteThunk(const char* name, int32 version) {
  return S() ? S()->ReleaseSuite(name, version) : kSPSuiteNotFoundError;
}
SPBoolean IsEqualThunk(const char* a, const char* b) { return a && b && std::strcmp(a, b) == 0; }
SPErr AllocateBlockThunk(size_t size, void** block) {
  if (!block) return kSPBadParameterError;
  *block = std::malloc(size ? size : 1);
  return *block ? 0 : SPErr(memFullErr);
}
SPErr FreeBlockThunk(void* block) {
  std::free(block);
  return 0;
}
SPErr ReallocateBlockThunk(void* block, size_t size, void** out) {
  if (!out) return kSPBadParameterError;
  *out = std::realloc(block, size ? size : 1);
  return *out ? 0 : SPErr(memFullErr);
}
SPErr UndefinedThunk() { return kSPBadParameterError; }

// --- Action descriptor suite ---------------------------------------------------
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

// --- Descriptor registry suite ---------------------------------------------
OSErr RegisterThunk(const char* key, PIActionDescriptor d, Boolean persistent) {
  return S() ? S()->Register(key, d, persistent) : paramErr;
}
OSErr RegistryEraseThunk(const char* key) { return S() ? S()->Erase(key) : paramErr; }
OSErr RegistryGetThunk(const char* key, PIActionDescriptor* d) {
  return S() ? S()->Get(key, d) : paramErr;
}

// --- Reading the played descriptor -----------------------------------------
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

// --- Recording ------------------------------------------------------------
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

Scripting::Scripting(CallLedger& ledger, HandleSuite& handles) : ledger_(ledger), handles_(handles) {
  basic_.AcquireSuite = AcquireSuiteThunk;
  basic_.ReleaseSuite = ReleaseSuiteThunk;
  basic_.IsEqual = IsEqualThunk;
  basic_.AllocateBlock = AllocateBlockThunk;
  basic_.FreeBlock = FreeBlockThunk;
  basic_.ReallocateBlock = ReallocateBlockThunk;
  basic_.Undefined = UndefinedThunk;

  // Every member of version 2 exists; those this host does not implement
  // fail cleanly.
  PSActionDescriptorProcs& a = actions_;
  a.Make = MakeThunk;
  a.Free = FreeThunk;
  a.GetType = GetTypeThunk;
  a.GetKey = GetKeyThunk;
  a.HasKey = HasKeyThunk;
  a.GetCount = GetCountThunk;
  a.IsEqual = [](PIActionDescriptor, PIActionDescriptor, Boolean*) { return kNotImplemented; };
  a.Erase = EraseThunk;
  a.Clear = ClearThunk;
  a.PutInteger = PutIntegerThunk;
  a.PutFloat = PutFloatThunk;
  a.PutUnitFloat = [](PIActionDescriptor, DescriptorKeyID, DescriptorUnitID, real64) { return kNotImplemented; };
  a.PutString = [](PIActionDescriptor, DescriptorKeyID, const char*) { return kNotImplemented; };
  a.PutBoolean = PutBooleanThunk;
  a.PutList = [](PIActionDescriptor, DescriptorKeyID, PIActionList) { return kNotImplemented; };
  a.PutObject = [](PIActionDescriptor, DescriptorKeyID, DescriptorClassID, PIActionDescriptor) { return kNotImplemented; };
  a.PutGlobalObject = [](PIActionDescriptor, DescriptorKeyID, DescriptorClassID, PIActionDescriptor) { return kNotImplemented; };
  a.PutEnumerated = [](PIActionDescriptor, DescriptorKeyID, DescriptorEnumTypeID, DescriptorEnumID) { return kNotImplemented; };
  a.PutReference = [](PIActionDescriptor, DescriptorKeyID, PIActionReference) { return kNotImplemented; };
  a.PutClass = [](PIActionDescriptor, DescriptorKeyID, DescriptorClassID) { return kNotImplemented; };
  a.PutGlobalClass = [](PIActionDescriptor, DescriptorKeyID, DescriptorClassID) { return kNotImplemented; };
  a.PutAlias = [](PIActionDescriptor, DescriptorKeyID, Handle) { return kNotImplemented; };
  a.GetInteger = GetIntegerThunk;
  a.GetFloat = GetFloatThunk;
  a.GetUnitFloat = [](PIActionDescriptor, DescriptorKeyID, DescriptorUnitID*, real64*) { return kNotImplemented; };
  a.GetStringLength = [](PIActionDescriptor, DescriptorKeyID, uint32*) { return kNotImplemented; };
  a.GetString = [](PIActionDescriptor, DescriptorKeyID, char*, uint32) { return kNotImplemented; };
  a.GetBoolean = GetBooleanThunk;
  a.GetList = [](PIActionDescriptor, DescriptorKeyID, PIActionList*) { return kNotImplemented; };
  a.GetObject = [](PIActionDescriptor, DescriptorKeyID, DescriptorClassID*, PIActionDescriptor*) { return kNotImplemented; };
  a.GetGlobalObject = [](PIActionDescriptor, DescriptorKeyID, DescriptorClassID*, PIActionDescriptor*) { return kNotImplemented; };
  a.GetEnumerated = [](PIActionDescriptor, DescriptorKeyID, DescriptorEnumTypeID*, DescriptorEnumID*) { return kNotImplemented; };
  a.GetReference = [](PIActionDescriptor, DescriptorKeyID, PIActionReference*) { return kNotImplemented; };
  a.GetClass = [](PIActionDescriptor, DescriptorKeyID, DescriptorClassID*) { return kNotImplemented; };
  a.GetGlobalClass = [](PIActionDescriptor, DescriptorKeyID, DescriptorClassID*) { return kNotImplemented; };
  a.GetAlias = [](PIActionDescriptor, DescriptorKeyID, Handle*) { return kNotImplemented; };
  a.HasKeys = HasKeysThunk;
  a.PutIntegers = [](PIActionDescriptor, DescriptorKeyID, uint32, int32*) { return kNotImplemented; };
  a.GetIntegers = [](PIActionDescriptor, DescriptorKeyID, uint32, int32*) { return kNotImplemented; };
  a.AsHandle = [](PIActionDescriptor, PIDescriptorHandle*) { return kNotImplemented; };
  a.HandleToDescriptor = [](PIDescriptorHandle, PIActionDescriptor*) { return kNotImplemented; };
  a.PutZString = [](PIActionDescriptor, DescriptorKeyID, ASZString) { return kNotImplemented; };
  a.GetZString = [](PIActionDescriptor, DescriptorKeyID, ASZString*) { return kNotImplemented; };
  a.PutData = [](PIActionDescriptor, DescriptorKeyID, int32, void*) { return kNotImplemented; };
  a.GetDataLength = [](PIActionDescriptor, DescriptorKeyID, int32*) { return kNotImplemented; };
  a.GetData = [](PIActionDescriptor, DescriptorKeyID, void*) { return kNotImplemented; };

  registrySuite_.Register = RegisterThunk;
  registrySuite_.Erase = RegistryEraseThunk;
  registrySuite_.Get = RegistryGetThunk;

  ReadDescriptorProcs& r = readProcs_;
  r.readDescriptorProcsVersion = 0;
  r.numReadDescriptorProcs = 18;
  r.openReadDescriptorProc = OpenReadThunk;
  r.closeReadDescriptorProc = CloseReadThunk;
  r.getKeyProc = GetKeyProcThunk;
  r.getIntegerProc = GetIntegerProcThunk;
  r.getFloatProc = GetFloatProcThunk;
  r.getUnitFloatProc = [](PIReadDescriptor, DescriptorUnitID*, real64*) { return kNotImplemented; };
  r.getBooleanProc = GetBooleanProcThunk;
  r.getTextProc = [](PIReadDescriptor, Handle*) { return kNotImplemented; };
  r.getAliasProc = [](PIReadDescriptor, Handle*) { return kNotImplemented; };
  r.getEnumeratedProc = [](PIReadDescriptor, DescriptorEnumID*) { return kNotImplemented; };
  r.getClassProc = [](PIReadDescriptor, DescriptorTypeID*) { return kNotImplemented; };
  r.getSimpleReferenceProc = [](PIReadDescriptor, void*) { return kNotImplemented; };
  r.getObjectProc = [](PIReadDescriptor, DescriptorTypeID*, PIDescriptorHandle*) { return kNotImplemented; };
  r.getCountProc = [](PIReadDescriptor, uint32*) { return kNotImplemented; };
  r.getStringProc = [](PIReadDescriptor, Str255*) { return kNotImplemented; };
  r.getPinnedIntegerProc = [](PIReadDescriptor, int32, int32, int32*) { return kNotImplemented; };
  r.getPinnedFloatProc = [](PIReadDescriptor, const real64*, const real64*, real64*) { return kNotImplemented; };
  r.getPinnedUnitFloatProc = [](PIReadDescriptor, const real64*, const real64*, DescriptorUnitID*, real64*) { return kNotImplemented; };

  WriteDescriptorProcs& w = writeProcs_;
  w.writeDescriptorProcsVersion = 0;
  w.numWriteDescriptorProcs = 16;
  w.openWriteDescriptorProc = OpenWriteThunk;
  w.closeWriteDescriptorProc = CloseWriteThunk;
  w.putIntegerProc = PutIntegerProcThunk;
  w.putFloatProc = PutFloatProcThunk;
  w.putUnitFloatProc = [](PIWriteDescriptor, DescriptorKeyID, DescriptorUnitID, const real64*) { return kNotImplemented; };
  w.putBooleanProc = PutBooleanProcThunk;
  w.putTextProc = [](PIWriteDescriptor, DescriptorKeyID, Handle) { return kNotImplemented; };
  w.putAliasProc = [](PIWriteDescriptor, DescriptorKeyID, Handle) { return kNotImplemented; };
  w.putEnumeratedProc = [](PIWriteDescriptor, DescriptorKeyID, DescriptorTypeID, DescriptorEnumID) { return kNotImplemented; };
  w.putClassProc = [](PIWriteDescriptor, DescriptorKeyID, DescriptorTypeID) { return kNotImplemented; };
  w.putSimpleReferenceProc = [](PIWriteDescriptor, DescriptorKeyID, const void*) { return kNotImplemented; };
  w.putObjectProc = [](PIWriteDescriptor, DescriptorKeyID, DescriptorTypeID, PIDescriptorHandle) { return kNotImplemented; };
  w.putCountProc = [](PIWriteDescriptor, DescriptorKeyID, uint32) { return kNotImplemented; };
  w.putStringProc = [](PIWriteDescriptor, DescriptorKeyID, const unsigned char*) { return kNotImplemented; };
  w.putScopedClassProc = [](PIWriteDescriptor, DescriptorKeyID, DescriptorTypeID) { return kNotImplemented; };
  w.putScopedObjectProc = [](PIWriteDescriptor, DescriptorKeyID, DescriptorTypeID, PIDescriptorHandle) { return kNotImplemented; };

  parameters_.descriptorParametersVersion = 0;
  parameters_.playInfo = plugInDialogDontDisplay;
  parameters_.recordInfo = plugInDialogOptional;
  parameters_.readDescriptorProcs = &readProcs_;
  parameters_.writeDescriptorProcs = &writeProcs_;
}

Scripting::~Scripting() {
  for (Descriptor* d : descriptors_) delete d;
  for (Reader* r : readers_) delete r;
  for (Writer* w : writers_) delete w;
}

SPErr Scripting::AcquireSuite(const char* name, int32 version, const void** suite) {
  if (!suite || !name) return kSPBadParameterError;
  *suite = nullptr;
  if (!ledger_.Enter("AcquireSuite")) return kSPSuiteNotFoundError;
  const std::string n(name);
  if (n == kPSActionDescriptorSuite && version == kPSActionDescriptorSuiteVersion) {
    *suite = &actions_;
  } else if (n == kPSDescriptorRegistrySuite && version == kPSDescriptorRegistrySuiteVersion) {
    *suite = &registrySuite_;
  } else {
    return kSPSuiteNotFoundError;
  }
  ++acquired_[n + " v" + std::to_string(version)];
  return 0;
}

SPErr Scripting::ReleaseSuite(const char* name, int32 version) {
  ledger_.Enter("ReleaseSuite");
  if (!name) return kSPBadParameterError;
  int& count = acquired_[std::string(name) + " v" + std::to_string(version)];
  if (count <= 0) {
    misuse_.push_back(std::string("ReleaseSuite: ") + name + " was not acquired");
    return kSPBadParameterError;
  }
  --count;
  return 0;
}

int Scripting::AcquiredSuites() const {
  int n = 0;
  for (const auto& a : acquired_) n += a.second;
  return n;
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

OSErr Scripting::Register(const char* key, PIActionDescriptor d, Boolean persistent) {
  Descriptor* x = Live(d, "Register");
  if (!key || !x) return paramErr;
  if (!ledger_.Enter("registry.Register")) return memFullErr;
  SetRegistryEntry(key, *x, persistent != 0);
  return noErr;
}

OSErr Scripting::Erase(const char* key) {
  if (!key) return paramErr;
  ledger_.Enter("registry.Erase");
  auto it = registry_.find(key);
  if (it == registry_.end()) return errMissingParameter;
  const bool persistent = it->second.persistent;
  registry_.erase(it);
  if (persistent) SaveRegistry();
  return noErr;
}

OSErr Scripting::Get(const char* key, PIActionDescriptor* d) {
  if (!key || !d) return paramErr;
  *d = nullptr;
  if (!ledger_.Enter("registry.Get")) return readErr;
  auto it = registry_.find(key);
  // No entry: success with no descriptor, as hosts answer.
  if (it != registry_.end()) *d = NewDescriptor(it->second.descriptor);
  return noErr;
}

void Scripting::SetRegistryEntry(const std::string& key, const Descriptor& d, bool persistent) {
  registry_[key] = RegistryEntry{d, persistent};
  if (persistent) SaveRegistry();
}

namespace {

std::string EntriesToJson(const std::map<std::string, RegistryEntry>& entries, bool onlyPersistent) {
  std::ostringstream out;
  out << "{";
  bool first = true;
  for (const auto& [key, entry] : entries) {
    if (onlyPersistent && !entry.persistent) continue;
    out << (first ? "\n" : ",\n") << "  " << JsonQuote(key) << ": {\"persistent\": "
        << (entry.persistent ? "true" : "false")
        << ", \"descriptor\": " << DescriptorToJson(entry.descriptor, 2) << "}";
    first = false;
  }
  out << (first ? "}" : "\n}") << "\n";
  return out.str();
}

}  // namespace

std::string Scripting::RegistryToJson() const { return EntriesToJson(registry_, false); }

bool Scripting::LoadRegistry(const std::string& path, std::string* error) {
  registryFile_ = path;
  const files::PathKind kind = files::KindOf(path);
  if (kind == files::PathKind::Missing) return true;  // no file yet: an empty registry
  if (kind != files::PathKind::File) {
    if (error) *error = path + ": is a folder, not a registry file";
    return false;
  }
  std::ifstream in(path, std::ios::binary);
  if (!in) {
    if (error) *error = path + ": cannot read the registry file";
    return false;
  }
  std::stringstream text;
  text << in.rdbuf();
  // An empty file (made by touch, say) is an empty registry.
  if (text.str().find_first_not_of(" \t\r\n") == std::string::npos) return true;
  JsonValue root;
  std::string why;
  if (!ParseJson(text.str(), root, &why) || root.kind != JsonValue::Object) {
    if (error) *error = path + ": not a registry file (" + (why.empty() ? "expected an object" : why) + ")";
    return false;
  }
  for (const auto& [key, value] : root.object) {
    if (value.kind != JsonValue::Object) {
      if (error) *error = path + ": entry \"" + key + "\" is not an object with a \"descriptor\"";
      return false;
    }
    const JsonValue* d = value.Member("descriptor");
    if (!d) {
      if (error) *error = path + ": entry \"" + key + "\" has no \"descriptor\"";
      return false;
    }
    Descriptor descriptor;
    if (!DescriptorFromJsonValue(*d, descriptor, &why)) {
      if (error) *error = path + ": entry \"" + key + "\": " + (why.empty() ? "not a descriptor" : why);
      return false;
    }
    // Only persistent entries are ever written to the file.
    registry_[key] = RegistryEntry{descriptor, true};
  }
  return true;
}

void Scripting::SaveRegistry() {
  if (registryFile_.empty()) return;
  // Staged and renamed over the old file, so a failure half-way never leaves
  // a damaged registry behind; the failure is kept for the host to report.
  std::string why;
  if (files::WriteWholeFile(registryFile_, EntriesToJson(registry_, true), &why)) {
    registrySaveError_.clear();
  } else {
    registrySaveError_ = registryFile_ + ": " + why;
  }
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

std::string Scripting::Outstanding() const {
  std::ostringstream out;
  for (const auto& [name, count] : acquired_)
    if (count != 0) out << "suite " << name << " acquired " << count << " more time(s) than released; ";
  if (!descriptors_.empty()) out << descriptors_.size() << " action descriptor(s) not freed; ";
  if (!readers_.empty()) out << readers_.size() << " read descriptor(s) not closed; ";
  if (!writers_.empty()) out << writers_.size() << " write descriptor(s) not closed; ";
  for (const auto& m : misuse_) out << m << "; ";
  return out.str();
}

void Scripting::ZeroProcCounts() {
  readProcs_.readDescriptorProcsVersion = 0;
  readProcs_.numReadDescriptorProcs = 0;
  writeProcs_.writeDescriptorProcsVersion = 0;
  writeProcs_.numWriteDescriptorProcs = 0;
  parameters_.descriptorParametersVersion = 0;
}

}  // namespace host

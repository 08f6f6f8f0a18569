// The descriptor the host records into an action and hands back on playback.
#include "plugin/script_descriptors.h"
#include "plugin/host_services.h"
#include "plugin/parameters.h"
#include "plugin/scripting_keys.h"

namespace {

bool CanRead(const ReadDescriptorProcs* p) {
  if (!p) return false;
  const int16 n = p->numReadDescriptorProcs;
  // openRead, closeRead and getKey are indices 0, 1, 2 of the table.
  return p->openReadDescriptorProc && MemberInCount(n, 0) && p->closeReadDescriptorProc &&
         MemberInCount(n, 1) && p->getKeyProc && MemberInCount(n, 2);
}

bool CanWrite(const WriteDescriptorProcs* p) {
  if (!p) return false;
  const int16 n = p->numWriteDescriptorProcs;
  return p->openWriteDescriptorProc && MemberInCount(n, 0) && p->closeWriteDescriptorProc &&
         MemberInCount(n, 1);
}

// Reads the value of one key into its field; the key's result.
OSErr ReadKey(const ReadDescriptorProcs& procs, PIReadDescriptor token, DescriptorKeyID key,
              FilterParameters& parameters, ProxyViewState& view) {
  const ScriptingKey* known = FindScriptingKey(key);
  if (known && known->type == KeyType::Float) {
    if (!procs.getFloatProc) return errPlugInHostInsufficient;
    double value = 0;
    const OSErr err = procs.getFloatProc(token, &value);
    if (err == noErr) ParameterAt(parameters, known->parameterIndex) = value;
    return err;
  }
  if (known && known->type == KeyType::Boolean) {
    if (!procs.getBooleanProc) return errPlugInHostInsufficient;
    Boolean value = 0;
    const OSErr err = procs.getBooleanProc(token, &value);
    if (err == noErr) parameters.ignoreSelection = value != 0;
    return err;
  }
  // Every other key is read as an integer; a key outside the table stops
  // the reading after that.
  if (!procs.getIntegerProc) return errPlugInHostInsufficient;
  int32 value = 0;
  const OSErr err = procs.getIntegerProc(token, &value);
  if (err != noErr) return err;
  return StoreViewValue(view, key, value) ? noErr : readErr;
}

}  // namespace

int16 ReadScriptParameters(FilterRecord& record, FilterParameters& parameters, ProxyViewState& view,
                           bool pluginShowDialog, bool& showDialog) {
  showDialog = pluginShowDialog;
  PIDescriptorParameters* dp = record.descriptorParameters;
  if (dp == nullptr || dp->descriptor == nullptr || !CanRead(dp->readDescriptorProcs)) return noErr;
  const ReadDescriptorProcs& procs = *dp->readDescriptorProcs;

  // Hosts mark the keys they have seen in this array: it must be writable.
  DescriptorKeyID expected[kExpectedKeyCount + 1];
  for (int i = 0; i <= kExpectedKeyCount; ++i) expected[i] = kExpectedScriptKeys[i];
  PIReadDescriptor token = procs.openReadDescriptorProc(dp->descriptor, expected);
  if (token == nullptr) {
    showDialog = dp->playInfo == plugInDialogDisplay;
    return noErr;
  }

  OSErr keyResult = noErr;
  DescriptorKeyID key = 0;
  DescriptorTypeID type = 0;
  int32 flags = 0;
  while (keyResult == noErr && procs.getKeyProc(token, &key, &type, &flags)) {
    keyResult = ReadKey(procs, token, key, parameters, view);
  }
  // The host reports here whether an expected key was missing (-1715); that
  // is the result, whatever the keys gave.
  const OSErr result = procs.closeReadDescriptorProc(token);

  const HandleProcs* handles = UsableHandleProcs(&record);
  if (CanDisposeHandle(handles)) {
    handles->disposeProc(dp->descriptor);
    dp->descriptor = nullptr;
  }
  showDialog = dp->playInfo == plugInDialogDisplay;
  return result;
}

int16 WriteScriptParameters(FilterRecord& record, const FilterParameters& parameters,
                            const ProxyViewState& view) {
  double values[kParameterCount];
  for (int i = 0; i < kParameterCount; ++i) values[i] = ParameterAt(parameters, i);
  PIDescriptorParameters* dp = record.descriptorParameters;
  if (dp == nullptr || !CanWrite(dp->writeDescriptorProcs)) return noErr;
  const WriteDescriptorProcs& procs = *dp->writeDescriptorProcs;

  PIWriteDescriptor token = procs.openWriteDescriptorProc();
  if (token == nullptr) return errMissingParameter;

  // The results of the puts are not checked: what the host accepts is
  // recorded. The dialog size (Zmpw, Zmph) is never recorded, so playing an
  // action does not resize the next dialog.
  for (const ScriptingKey& k : kScriptingKeys) {
    if (!k.scriptWrite) continue;
    if (k.type == KeyType::Float && procs.putFloatProc) {
      procs.putFloatProc(token, k.key, &values[k.parameterIndex]);
    } else if (k.type == KeyType::Integer && procs.putIntegerProc) {
      int32 value = 0;
      ReadViewValue(view, k.key, value);
      procs.putIntegerProc(token, k.key, value);
    } else if (k.type == KeyType::Boolean && parameters.ignoreSelection && procs.putBooleanProc) {
      procs.putBooleanProc(token, k.key, true);
    }
  }

  // Without a dispose proc the old handle stays for the host to replace.
  const HandleProcs* handles = UsableHandleProcs(&record);
  if (dp->descriptor != nullptr && CanDisposeHandle(handles)) {
    handles->disposeProc(dp->descriptor);
    dp->descriptor = nullptr;
  }
  procs.closeWriteDescriptorProc(token, &dp->descriptor);
  dp->recordInfo = plugInDialogOptional;
  return noErr;
}

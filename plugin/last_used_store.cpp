// The last-used store: one persistent descriptor registry entry under the
// plug-in's unique string; on hosts without a registry, the user's own file.
#include "plugin/last_used_store.h"
#include "plugin/host_services.h"
#include "plugin/last_used_file.h"
#include "plugin/parameters.h"
#include "plugin/scripting_keys.h"
#include "plugin/suite_lease.h"

namespace {

typedef SuiteLease<PSDescriptorRegistryProcs> RegistryLease;
typedef SuiteLease<PSActionDescriptorProcs> ActionLease;

// Acquires the registry suite, then the descriptor suite; on a failure the
// error of the first that failed (after releasing what was acquired).
SPErr AcquireBoth(RegistryLease& registry, ActionLease& actions) {
  if (registry.error() != 0) return registry.error();
  if (actions.error() != 0) {
    registry.Release();
    return actions.error();
  }
  return 0;
}

}  // namespace

int32 ReadLastUsedParameters(const FilterRecord& record, FilterParameters& parameters,
                             ProxyViewState& view) {
  // Without a registry the user's own file keeps them.
  SPBasicSuite* basic = record.sSPBasic;
  if (basic == nullptr) return ReadLastUsedFile(parameters, view);
  RegistryLease registry(basic, kPSDescriptorRegistrySuite, kPSDescriptorRegistrySuiteVersion);
  if (registry.error() != 0) return ReadLastUsedFile(parameters, view);
  ActionLease actions(basic, kPSActionDescriptorSuite, kPSActionDescriptorSuiteVersion);
  if (const SPErr err = AcquireBoth(registry, actions)) return err;
  if (registry->Get == nullptr) return errPlugInHostInsufficient;

  PIActionDescriptor descriptor = nullptr;
  int32 result = registry->Get(kPluginUniqueString, &descriptor);
  if (result != noErr || descriptor == nullptr) {
    if (descriptor && actions->Free) actions->Free(descriptor);
    registry.Release();
    actions.Release();
    return result;
  }

  for (const ScriptingKey& k : kScriptingKeys) {
    OSErr err = errPlugInHostInsufficient;
    if (k.type == KeyType::Float) {
      double value = 0;
      if (actions->GetFloat) err = actions->GetFloat(descriptor, k.key, &value);
      if (err == noErr) ParameterAt(parameters, k.parameterIndex) = value;
    } else if (k.type == KeyType::Integer) {
      int32 value = 0;
      if (actions->GetInteger) err = actions->GetInteger(descriptor, k.key, &value);
      if (err == noErr) StoreViewValue(view, k.key, value);
    } else {
      Boolean value = 0;
      if (actions->GetBoolean) err = actions->GetBoolean(descriptor, k.key, &value);
      if (err == noErr) parameters.ignoreSelection = value != 0;
    }
    if (err != noErr) {
      result = err;
      break;
    }
  }
  // Entries written before the counter existed hold none: the oldest run.
  int32 generation = 0;
  if (result == noErr && actions->GetInteger &&
      actions->GetInteger(descriptor, keyRunGeneration, &generation) == noErr)
    parameters.generation = uint32(generation);

  if (actions->Free) actions->Free(descriptor);
  registry.Release();
  actions.Release();
  return result;
}

int32 WriteLastUsedParameters(const FilterRecord& record, const FilterParameters& parameters,
                              const ProxyViewState& view) {
  SPBasicSuite* basic = record.sSPBasic;
  if (basic == nullptr) return WriteLastUsedFile(parameters, view);
  RegistryLease registry(basic, kPSDescriptorRegistrySuite, kPSDescriptorRegistrySuiteVersion);
  if (registry.error() != 0) return WriteLastUsedFile(parameters, view);
  ActionLease actions(basic, kPSActionDescriptorSuite, kPSActionDescriptorSuiteVersion);
  if (const SPErr err = AcquireBoth(registry, actions)) return err;
  if (actions->Make == nullptr) return errPlugInHostInsufficient;

  PIActionDescriptor descriptor = nullptr;
  int32 result = actions->Make(&descriptor);
  if (result != noErr || descriptor == nullptr) {
    registry.Release();
    actions.Release();
    return result != noErr ? result : errPlugInHostInsufficient;
  }

  // The results of these puts are not checked: the final "ignS" put
  // decides whether the entry is registered.
  for (const ScriptingKey& k : kScriptingKeys) {
    if (k.type == KeyType::Float && actions->PutFloat) {
      actions->PutFloat(descriptor, k.key, ParameterAt(parameters, k.parameterIndex));
    } else if (k.type == KeyType::Integer && actions->PutInteger) {
      int32 value = 0;
      ReadViewValue(view, k.key, value);
      actions->PutInteger(descriptor, k.key, value);
    }
  }
  if (actions->PutInteger) actions->PutInteger(descriptor, keyRunGeneration, int32(parameters.generation));
  result = actions->PutBoolean
               ? actions->PutBoolean(descriptor, keyIgnoreSelection, parameters.ignoreSelection)
               : errPlugInHostInsufficient;
  if (result == noErr) {
    result = registry->Register ? registry->Register(kPluginUniqueString, descriptor, true)
                                : errPlugInHostInsufficient;
  }

  if (actions->Free) actions->Free(descriptor);
  registry.Release();
  actions.Release();
  return result;
}

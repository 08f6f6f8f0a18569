// Whatever the registry holds under the plug-in's key: the last-used read
// takes what it can, never crashes, and gives every suite and descriptor back.
#include "fuzz/fuzz_support.h"
#include "host/host.h"
#include "plugin/last_used_store.h"
#include "plugin/parameters.h"
#include "plugin/scripting_keys.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  QuietMessages();
  FuzzInput in(data, size);
  host::Host h(host::MakeDocument(4, 4, 3, 8));
  host::Descriptor entry;
  while (!in.empty() && entry.size() < 40) {
    host::DescriptorItem item;
    const uint32_t pick = in.Take<uint8_t>();
    item.key = pick < 220 ? kScriptingKeys[pick % kScriptingKeyCount].key : in.Take<uint32_t>();
    const uint8_t type = in.Take<uint8_t>();
    item.type = type % 3 == 0 ? typeFloat : type % 3 == 1 ? typeInteger : typeBoolean;
    item.floatValue = in.Take<double>();
    item.integerValue = in.Take<int32_t>();
    item.booleanValue = in.Take<uint8_t>() & 1;
    entry.Put(item);
  }
  h.scripting().SetRegistryEntry(kPluginUniqueString, entry, true);
  const uint8_t failure = in.Take<uint8_t>();
  if (failure & 1) h.ledger().FailAt("AcquireSuite", 1 + (failure >> 1) % 3);
  FilterParameters p{};
  ResetParameters(p);
  ProxyViewState view;
  ReadLastUsedParameters(h.record(), p, view);
  WriteLastUsedParameters(h.record(), p, view);
  std::string why;
  FUZZ_CHECK(h.Balanced(&why));
  return 0;
}

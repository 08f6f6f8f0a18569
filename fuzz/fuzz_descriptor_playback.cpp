// A played action of arbitrary keys, types and values, read through the
// host's descriptor procs: never a crash, every handle and token given back.
#include "fuzz/fuzz_support.h"
#include "host/host.h"
#include "plugin/script_descriptors.h"
#include "plugin/parameters.h"
#include "plugin/scripting_keys.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  QuietMessages();
  FuzzInput in(data, size);
  host::Host h(host::MakeDocument(4, 4, 3, 8));
  host::Descriptor action;
  while (!in.empty() && action.size() < 40) {
    host::DescriptorItem item;
    // Mostly the filter's own keys, sometimes anything.
    const uint32_t pick = in.Take<uint8_t>();
    item.key = pick < 200 ? kScriptingKeys[pick % kScriptingKeyCount].key : in.Take<uint32_t>();
    const uint8_t type = in.Take<uint8_t>();
    item.type = type % 4 == 0 ? typeFloat : type % 4 == 1 ? typeInteger : type % 4 == 2 ? typeBoolean : in.Take<uint32_t>();
    item.floatValue = in.Take<double>();
    item.integerValue = in.Take<int32_t>();
    item.booleanValue = in.Take<uint8_t>() & 1;
    action.Put(item);
  }
  const uint8_t options = in.Take<uint8_t>();
  if (options & 1) h.ledger().FailAt("getKeyProc", 1 + options / 16);
  if (options & 2) h.ledger().FailAt("openReadDescriptorProc", 1);
  h.scripting().Play(action, int16(options % 3));
  FilterParameters p{};
  ResetParameters(p);
  ProxyViewState view;
  bool show = false;
  ReadScriptParameters(h.record(), p, view, (options & 4) != 0, show);
  WriteScriptParameters(h.record(), p, view);
  std::string why;
  FUZZ_CHECK(h.Balanced(&why));
  return 0;
}

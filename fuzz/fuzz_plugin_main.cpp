// A whole filter run through PluginMain, with the filter record's fields
// (rectangles, planes, mode, depth, rates, tile sizes, row padding) taken
// from the fuzzer: whatever a host hands over, no crash and no host resource
// kept.
#include "fuzz/fuzz_support.h"
#include "host/filter_run.h"
#include "host/host.h"
#include "plugin/scripting_keys.h"

extern "C" void PluginMain(int16 selector, void* record, intptr_t* data, int16* result);

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  QuietMessages();
  FuzzInput in(data, size);
  const int16 planes = int16(1 + in.Below(4));
  const int32 depths[] = {8, 16, 32, 0, 1, 7};
  const int32 depth = depths[in.Below(3)];
  host::Document d = host::MakeDocument(int32(1 + in.Below(40)), int32(1 + in.Below(40)), planes == 2 ? 3 : planes, depth);
  for (auto& b : d.pixels) b = in.Take<uint8_t>();
  host::HostOptions o;
  o.tileWidth = in.Take<int16>();
  o.tileHeight = in.Take<int16>();
  o.rowPadding = int32(in.Below(9));
  o.output = host::OutputBuffer(in.Below(3));
  o.offerBigDocument = in.Take<uint8_t>() & 1;
  o.offerBufferProcs = in.Take<uint8_t>() % 8 != 0;
  o.offerHandleProcs = in.Take<uint8_t>() % 8 != 0;
  o.reportedDepth = depths[in.Below(6)];
  host::Host h(d, o);
  FilterRecord& r = h.record();
  // Fields a careless host might get wrong.
  r.imageMode = int16(in.Below(20)) - 1;
  r.planes = int16(in.Below(6));
  r.filterRect = Rect{int16(in.Take<int8_t>()), int16(in.Take<int8_t>()), int16(in.Take<int8_t>()),
                      int16(in.Take<int8_t>())};
  if (r.bigDocumentData) r.bigDocumentData->filterRect32 = VRect{r.filterRect.top, r.filterRect.left,
                                                                 r.filterRect.bottom, r.filterRect.right};
  r.inputRate = in.Take<int32_t>();
  host::Descriptor action;
  action.PutFloat(FourCharCode("brgH"), in.Take<double>());
  action.PutFloat(FourCharCode("Bcoe"), in.Take<double>());
  action.PutInteger(FourCharCode("Zoom"), in.Take<int32_t>());
  h.scripting().Play(action, plugInDialogDontDisplay);
  host::RunFilter(h, &PluginMain, in.Take<uint8_t>() & 1);
  std::string why;
  FUZZ_CHECK(h.Balanced(&why));
  return 0;
}

// Whatever bytes stand in the per-user last-used file: the reader takes all
// of them or none, never crashes, and what it takes writes back to the very
// same bytes (files of the current version; older ones are written anew).
#include "fuzz/fuzz_support.h"
#include "plugin/last_used_file.h"
#include "plugin/parameters.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::vector<uint8> bytes(data, data + size);
  FilterParameters p{};
  ResetParameters(p);
  ProxyViewState view;
  if (!DecodeLastUsedFile(bytes, p, view)) {
    for (int i = 0; i < kParameterCount; ++i) FUZZ_CHECK(ParameterAt(p, i) == DefaultParameterValue(i));
    FUZZ_CHECK(!p.ignoreSelection && view.zoomLevel == ProxyViewState().zoomLevel);
    return 0;
  }
  const std::vector<uint8> written = EncodeLastUsedFile(p, view);
  if (written.size() == bytes.size()) FUZZ_CHECK(written == bytes);
  return 0;
}

// Any bytes as a settings file: never a crash, and a file that does not load
// leaves the settings exactly as they were.
#include <cstring>
#include <vector>

#include "fuzz/fuzz_support.h"
#include "plugin/parameters.h"
#include "settings/settings_file.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  QuietMessages();
  FilterParameters record{};
  ResetParameters(record);
  record.redGain = 1.5;
  const FilterParameters before = record;
  const bool loaded = DecodeSettings(BindSettings(record), std::vector<unsigned char>(data, data + size));
  if (!loaded) FUZZ_CHECK(std::memcmp(&record, &before, sizeof record) == 0);
  // What loads, saves to a file that loads to exactly the same settings
  // (NaN included, so compared as the bytes they save to).
  if (loaded) {
    const std::vector<unsigned char> saved = EncodeSettings(BindSettings(record));
    FUZZ_CHECK(saved.size() == 108);
    FilterParameters again{};
    ResetParameters(again);
    FUZZ_CHECK(DecodeSettings(BindSettings(again), saved));
    FUZZ_CHECK(EncodeSettings(BindSettings(again)) == saved);
  }
  return 0;
}

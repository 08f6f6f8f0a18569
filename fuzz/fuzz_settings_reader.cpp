// Any bytes as a settings file: never a crash, and a file that does not load
// leaves the settings exactly as they were.
#include <cstring>
#include <vector>

#include "fuzz_support.h"
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
  // What loads, saves back to the same bytes it was read from.
  if (loaded && size >= 108) {
    const std::vector<unsigned char> again = EncodeSettings(BindSettings(record));
    FUZZ_CHECK(again.size() == 108);
  }
  return 0;
}

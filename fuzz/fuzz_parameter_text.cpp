// Edit-box text both ways: any typed text reads as a number or the default,
// and written values read back rounded to their decimals.
#include <cmath>

#include "dialog/parameter_text.h"
#include "fuzz/fuzz_support.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  FuzzInput in(data, size);
  const double value = in.Take<double>();
  const std::string text = FormatParameterValue(value);
  FUZZ_CHECK(text.size() < 400);
  if (std::isfinite(value) && std::fabs(value) < 21474.0) {
    FUZZ_CHECK(std::fabs(ParseParameterText(text, 1e9) - value) <= 5.1e-6);
  }
  const std::string typed = in.Rest();
  const double read = ParseParameterText(typed.substr(0, 254), 7.0);
  FUZZ_CHECK(!std::isnan(read));
  return 0;
}

#include "dialog/parameter_text.h"

#include <cmath>
#include <cstdio>

std::string FormatParameterValue(double x) {
  if (std::isnan(x)) return "nan";
  const bool negative = !(x >= 0);  // -0.0 counts as non-negative
  double a = std::fabs(x);
  if (std::isinf(a)) return negative ? "-inf" : "inf";
  const std::string sign = negative ? "-" : "";
  // Beyond what 64-bit digits can carry, only the integer part is
  // meaningful anyway.
  if (a >= 1e13) {
    char buf[512];
    std::snprintf(buf, sizeof buf, "%s%.0f.0", sign.c_str(), a);
    return buf;
  }
  // Round at the sixth decimal.
  if ((a * 1e5 - std::floor(a * 1e5)) * 10 >= 5) a += 0.000005;
  const int digits = (a * 1e4 - std::floor(a * 1e4)) * 10 >= 1 ? 5 : 4;
  const long long scale = digits == 5 ? 100000 : 10000;
  // The integer part and the fraction in 64 bits: exact where 32 bits would
  // do, and no overflow beyond.
  const long long integer = static_cast<long long>(a);
  long long fraction = static_cast<long long>(std::floor(a * double(scale))) % scale;
  std::string text = sign + std::to_string(integer) + ".";
  long long place = scale / 10;
  do {
    text += char('0' + fraction / place);
    fraction %= place;
    place /= 10;
  } while (place > 0 && fraction != 0);
  return text;
}

namespace {

// One part of the text: blanks, digits, blanks. Returns false when the part
// holds no number; `digits` counts the digits read.
bool ReadDigits(const std::string& part, long long& value, int& digits, std::string& text) {
  size_t i = 0;
  while (i < part.size() && part[i] == ' ') ++i;
  text.clear();
  while (i < part.size() && part[i] >= '0' && part[i] <= '9') text += part[i++];
  while (i < part.size() && part[i] == ' ') ++i;
  if (i != part.size() || text.empty()) return false;
  digits = int(text.size());
  value = digits >= 10 ? 2147483647LL : std::stoll(text);
  return true;
}

}  // namespace

double ParseParameterText(const std::string& input, double defaultValue) {
  std::string text;
  int minuses = 0;
  for (char c : input) {
    if (c == '-') {
      ++minuses;
    } else {
      text += c;
    }
  }
  const size_t separator = text.find_last_of(".,");
  const std::string integerText = separator == std::string::npos ? text : text.substr(0, separator);
  const std::string fractionText = separator == std::string::npos ? "" : text.substr(separator + 1);

  long long integer = 0, fraction = 0;
  int integerDigits = 0, fractionDigits = 0;
  std::string integerDigitText, fractionDigitText;
  const bool hasInteger = ReadDigits(integerText, integer, integerDigits, integerDigitText);
  bool hasFraction = ReadDigits(fractionText, fraction, fractionDigits, fractionDigitText);
  if (hasFraction && fractionDigits >= 10) {
    // Too many decimals: keep the first nine.
    fractionDigits = 9;
    fraction = std::stoll(fractionDigitText.substr(0, 9));
  }
  if (!hasInteger && !hasFraction) return defaultValue;
  double value = hasInteger ? double(integer) : 0.0;
  if (hasFraction) value += double(fraction) / std::pow(10.0, fractionDigits);
  return minuses % 2 ? -value : value;
}

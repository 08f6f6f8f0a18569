// The edit boxes' number rules: a parameter value as fixed-point text with
// up to five decimals, and typed text read back as a number (with the
// control's default when it holds none). Narrow text, no locale, no state.
#pragma once

#include <string>

// "1.0", "2.5", "-0.25", "1.23457": a point and one to five fractional
// digits, trailing zeros removed.
std::string FormatParameterValue(double value);

// Reads "1,5", " 12 ", ".5", "--5" and the like; `defaultValue` when the
// text holds no number.
double ParseParameterText(const std::string& text, double defaultValue);

#include "plugin/error_text.h"

#include <sstream>

std::string NumberMessage(const std::string& prefix, double value) {
  std::ostringstream text;
  if (!(text << value)) throw BadConversion("stringify(double)");
  return prefix + text.str();
}

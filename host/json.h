// A small JSON reader and writer for the host's readable files (recorded
// descriptors, the registry). Numbers keep their text so doubles round-trip
// exactly.
#pragma once

#include <map>
#include <memory>
#include <string>
#include <vector>

namespace host {

struct JsonValue {
  enum Kind { Null, Bool, Number, String, Array, Object } kind = Null;
  bool boolean = false;
  std::string text;  // numbers: their literal; strings: the decoded string
  std::vector<JsonValue> array;
  std::vector<std::pair<std::string, JsonValue>> object;

  const JsonValue* Member(const std::string& name) const;
};

bool ParseJson(const std::string& text, JsonValue& out, std::string* error);
std::string JsonQuote(const std::string& s);
// A double written so that reading it back gives the same bits; NaN and the
// infinities (which JSON cannot hold) as the strings "NaN", "Infinity".
std::string JsonNumber(double v);
bool JsonToDouble(const JsonValue& v, double& out);

}  // namespace host

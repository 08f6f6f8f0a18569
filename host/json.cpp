#include "host/json.h"

#include <cctype>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <limits>

namespace host {
namespace {

struct Reader {
  const std::string& s;
  size_t i = 0;
  std::string error;
  int depth = 0;

  void Space() {
    while (i < s.size() && std::isspace(static_cast<unsigned char>(s[i]))) ++i;
  }
  bool Fail(const std::string& what) {
    if (error.empty()) error = what + " at offset " + std::to_string(i);
    return false;
  }
  bool Literal(const char* word, JsonValue& v, JsonValue::Kind kind, bool b) {
    const std::string w(word);
    if (s.compare(i, w.size(), w) != 0) return Fail("unexpected text");
    i += w.size();
    v.kind = kind;
    v.boolean = b;
    return true;
  }
  bool String(std::string& out) {
    if (i >= s.size() || s[i] != '"') return Fail("expected a string");
    ++i;
    while (i < s.size() && s[i] != '"') {
      char c = s[i++];
      if (c == '\\') {
        if (i >= s.size()) return Fail("unfinished escape");
        char e = s[i++];
        switch (e) {
          case 'n': out += '\n'; break;
          case 't': out += '\t'; break;
          case 'r': out += '\r'; break;
          case 'b': out += '\b'; break;
          case 'f': out += '\f'; break;
          case 'u': {
            if (i + 4 > s.size()) return Fail("short \\u escape");
            unsigned code = unsigned(std::strtoul(s.substr(i, 4).c_str(), nullptr, 16));
            i += 4;
            if (code < 0x80) {
              out += char(code);
            } else if (code < 0x800) {
              out += char(0xC0 | (code >> 6));
              out += char(0x80 | (code & 0x3F));
            } else {
              out += char(0xE0 | (code >> 12));
              out += char(0x80 | ((code >> 6) & 0x3F));
              out += char(0x80 | (code & 0x3F));
            }
            break;
          }
          default: out += e; break;
        }
      } else {
        out += c;
      }
    }
    if (i >= s.size()) return Fail("unterminated string");
    ++i;
    return true;
  }
  bool Value(JsonValue& v) {
    if (++depth > 64) return Fail("nested too deeply");
    Space();
    if (i >= s.size()) return Fail("unexpected end");
    const char c = s[i];
    bool ok = false;
    if (c == '{') {
      v.kind = JsonValue::Object;
      ++i;
      Space();
      if (i < s.size() && s[i] == '}') {
        ++i;
        ok = true;
      } else {
        while (true) {
          Space();
          std::string name;
          if (!String(name)) break;
          Space();
          if (i >= s.size() || s[i] != ':') {
            Fail("expected ':'");
            break;
          }
          ++i;
          JsonValue member;
          if (!Value(member)) break;
          v.object.emplace_back(name, std::move(member));
          Space();
          if (i < s.size() && s[i] == ',') {
            ++i;
            continue;
          }
          if (i < s.size() && s[i] == '}') {
            ++i;
            ok = true;
          } else {
            Fail("expected ',' or '}'");
          }
          break;
        }
      }
    } else if (c == '[') {
      v.kind = JsonValue::Array;
      ++i;
      Space();
      if (i < s.size() && s[i] == ']') {
        ++i;
        ok = true;
      } else {
        while (true) {
          JsonValue element;
          if (!Value(element)) break;
          v.array.push_back(std::move(element));
          Space();
          if (i < s.size() && s[i] == ',') {
            ++i;
            continue;
          }
          if (i < s.size() && s[i] == ']') {
            ++i;
            ok = true;
          } else {
            Fail("expected ',' or ']'");
          }
          break;
        }
      }
    } else if (c == '"') {
      v.kind = JsonValue::String;
      ok = String(v.text);
    } else if (c == 't') {
      ok = Literal("true", v, JsonValue::Bool, true);
    } else if (c == 'f') {
      ok = Literal("false", v, JsonValue::Bool, false);
    } else if (c == 'n') {
      ok = Literal("null", v, JsonValue::Null, false);
    } else if (c == '-' || std::isdigit(static_cast<unsigned char>(c))) {
      const size_t start = i++;
      while (i < s.size() && (std::isdigit(static_cast<unsigned char>(s[i])) || s[i] == '.' ||
                              s[i] == 'e' || s[i] == 'E' || s[i] == '+' || s[i] == '-'))
        ++i;
      v.kind = JsonValue::Number;
      v.text = s.substr(start, i - start);
      ok = true;
    } else {
      Fail("unexpected character");
    }
    --depth;
    return ok;
  }
};

}  // namespace

const JsonValue* JsonValue::Member(const std::string& name) const {
  for (const auto& m : object)
    if (m.first == name) return &m.second;
  return nullptr;
}

bool ParseJson(const std::string& text, JsonValue& out, std::string* error) {
  Reader r{text, 0, "", 0};
  out = JsonValue{};
  bool ok = r.Value(out);
  if (ok) {
    r.Space();
    if (r.i != text.size()) ok = r.Fail("trailing text");
  }
  if (!ok && error) *error = r.error;
  return ok;
}

std::string JsonQuote(const std::string& s) {
  std::string out = "\"";
  for (char c : s) {
    if (c == '"' || c == '\\') {
      out += '\\';
      out += c;
    } else if (static_cast<unsigned char>(c) < 0x20) {
      char buf[8];
      std::snprintf(buf, sizeof buf, "\\u%04x", unsigned(static_cast<unsigned char>(c)));
      out += buf;
    } else {
      out += c;
    }
  }
  return out + "\"";
}

std::string JsonNumber(double v) {
  if (std::isnan(v)) return "\"NaN\"";
  if (std::isinf(v)) return v > 0 ? "\"Infinity\"" : "\"-Infinity\"";
  char buf[40];
  std::snprintf(buf, sizeof buf, "%.17g", v);
  return buf;
}

bool JsonToDouble(const JsonValue& v, double& out) {
  if (v.kind == JsonValue::Number) {
    char* end = nullptr;
    out = std::strtod(v.text.c_str(), &end);
    return end && *end == '\0';
  }
  if (v.kind == JsonValue::String) {
    if (v.text == "NaN") return out = std::numeric_limits<double>::quiet_NaN(), true;
    if (v.text == "Infinity") return out = std::numeric_limits<double>::infinity(), true;
    if (v.text == "-Infinity") return out = -std::numeric_limits<double>::infinity(), true;
  }
  return false;
}

}  // namespace host

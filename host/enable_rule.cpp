#include "host/enable_rule.h"

#include <cctype>
#include <cstdlib>

#include "imageio/document.h"

namespace host {
namespace {

// Mode names by plugInMode* value, as enable expressions spell them.
const char* const kModeNames[] = {
    "BitmapMode",  "GrayScaleMode", "IndexedMode",   "RGBMode",          "CMYKMode",
    "HSLMode",     "HSBMode",       "MultichannelMode", "DuotoneMode",   "LabMode",
    "Gray16Mode",  "RGB48Mode",     "Lab48Mode",     "CMYK64Mode",       "DeepMultichannelMode",
    "Duotone16Mode", "RGB96Mode",   "Gray32Mode",
};
constexpr int kModeCount = int(sizeof kModeNames / sizeof kModeNames[0]);

uint32_t Key(const char (&text)[5]) {
  return (uint32_t(uint8_t(text[0])) << 24) | (uint32_t(uint8_t(text[1])) << 16) |
         (uint32_t(uint8_t(text[2])) << 8) | uint32_t(uint8_t(text[3]));
}

// A recursive-descent reader over the expression; every value is an integer.
class Parser {
 public:
  Parser(const std::string& text, const DocumentTraits& d) : text_(text), d_(d) {}

  bool Run(long long* value, std::string* why) {
    const bool ok = Or(value) && (Skip(), at_ == text_.size() || Fail("unexpected '" + text_.substr(at_, 12) + "'"));
    if (!ok && why) *why = error_;
    return ok;
  }

 private:
  bool Fail(const std::string& what) {
    if (error_.empty()) error_ = what + " at offset " + std::to_string(at_);
    return false;
  }
  void Skip() {
    while (at_ < text_.size() && std::isspace(static_cast<unsigned char>(text_[at_]))) ++at_;
  }
  bool Take(const char* token) {
    Skip();
    const std::string t(token);
    if (text_.compare(at_, t.size(), t) != 0) return false;
    at_ += t.size();
    return true;
  }
  bool Or(long long* v) {
    if (!And(v)) return false;
    while (Take("||")) {
      long long r = 0;
      if (!And(&r)) return false;
      *v = (*v != 0) || (r != 0);
    }
    return true;
  }
  bool And(long long* v) {
    if (!Compare(v)) return false;
    while (Take("&&")) {
      long long r = 0;
      if (!Compare(&r)) return false;
      *v = (*v != 0) && (r != 0);
    }
    return true;
  }
  bool Compare(long long* v) {
    if (!Unary(v)) return false;
    // Two-character operators first, so "<=" is not read as "<".
    static const char* const kOperators[] = {"==", "!=", "<=", ">=", "<", ">"};
    for (const char* op : kOperators) {
      if (!Take(op)) continue;
      long long r = 0;
      if (!Unary(&r)) return false;
      const std::string o(op);
      *v = o == "==" ? *v == r : o == "!=" ? *v != r : o == "<=" ? *v <= r : o == ">=" ? *v >= r
         : o == "<"  ? *v < r : *v > r;
      return true;
    }
    return true;
  }
  bool Unary(long long* v) {
    if (Take("!")) {
      if (!Unary(v)) return false;
      *v = !*v;
      return true;
    }
    return Primary(v);
  }
  bool Primary(long long* v) {
    Skip();
    if (Take("(")) return Or(v) && (Take(")") || Fail("')' expected"));
    if (at_ < text_.size() && std::isdigit(static_cast<unsigned char>(text_[at_]))) {
      size_t end = at_;
      while (end < text_.size() && std::isdigit(static_cast<unsigned char>(text_[end]))) ++end;
      *v = std::strtoll(text_.substr(at_, end - at_).c_str(), nullptr, 10);
      at_ = end;
      return true;
    }
    size_t end = at_;
    while (end < text_.size() && (std::isalnum(static_cast<unsigned char>(text_[end])) || text_[end] == '_')) ++end;
    const std::string name = text_.substr(at_, end - at_);
    if (name.empty()) return Fail(at_ < text_.size() ? "unexpected '" + text_.substr(at_, 1) + "'" : "the expression ends early");
    at_ = end;
    if (name == "in") return In(v);
    return Name(name, v);
  }
  // in (X, A, B, ...): X equals one of the rest.
  bool In(long long* v) {
    if (!Take("(")) return Fail("'(' expected after 'in'");
    long long x = 0;
    if (!Or(&x)) return false;
    *v = 0;
    bool any = false;
    while (Take(",")) {
      long long candidate = 0;
      if (!Or(&candidate)) return false;
      if (candidate == x) *v = 1;
      any = true;
    }
    if (!any) return Fail("'in' needs a value and a list");
    return Take(")") || Fail("')' expected");
  }
  bool Name(const std::string& name, long long* v) {
    for (int m = 0; m < kModeCount; ++m)
      if (name == kModeNames[m]) return *v = m, true;
    struct Variable {
      const char* name;
      long long value;
    };
    const Variable variables[] = {
        {"true", 1},
        {"false", 0},
        {"PSHOP_ImageMode", d_.imageMode},
        {"PSHOP_ImageDepth", d_.depth},
        {"PSHOP_ImageWidth", d_.width},
        {"PSHOP_ImageHeight", d_.height},
        {"PSHOP_NumTargetChannels", d_.colourChannels},
        {"PSHOP_NumTrueChannels", d_.colourChannels},
        {"PSHOP_HasTransparencyMask", d_.hasTransparency},
        {"PSHOP_HasSelectionMask", d_.hasSelection},
        {"PSHOP_HasLayerMask", 0},
        {"PSHOP_IsTargetComposite", 1},
    };
    for (const Variable& var : variables)
      if (name == var.name) return *v = var.value, true;
    return Fail("unknown name '" + name + "'");
  }

  const std::string& text_;
  const DocumentTraits& d_;
  size_t at_ = 0;
  std::string error_;
};

std::string CString(const std::vector<uint8_t>& d) {
  std::string s;
  for (uint8_t c : d) {
    if (c == 0) break;
    s += char(c);
  }
  return s;
}

}  // namespace

bool EvaluateEnableExpression(const std::string& expression, const DocumentTraits& document, bool* enabled,
                              std::string* why) {
  long long value = 0;
  if (!Parser(expression, document).Run(&value, why)) return false;
  *enabled = value != 0;
  return true;
}

bool PropertiesEnable(const std::vector<PipelineProperty>& properties, const DocumentTraits& document,
                      bool* enabled, std::string* why) {
  // The enable expression, where there is one, decides (hosts read it in
  // preference to the mode bits, which older hosts are limited to); without
  // one, the document's mode must have its bit in 'mode'.
  for (const PipelineProperty& p : properties) {
    if (p.key != Key("enbl")) continue;
    std::string reason;
    if (!EvaluateEnableExpression(CString(p.data), document, enabled, &reason)) {
      if (why) *why = "its enable rule \"" + CString(p.data) + "\" cannot be read: " + reason;
      return false;
    }
    return true;
  }
  *enabled = true;
  for (const PipelineProperty& p : properties) {
    if (p.key != Key("mode")) continue;
    // Bit n of the bit string, most significant bit of byte 0 first.
    const int m = document.imageMode;
    *enabled = m >= 0 && size_t(m / 8) < p.data.size() && (p.data[size_t(m / 8)] & (0x80 >> (m % 8)));
  }
  return true;
}

std::string DocumentName(int colourChannels, int depth) {
  return std::to_string(depth) + "-bit " + (colourChannels == 1 ? "grey" : "RGB");
}

std::string AcceptedDocuments(const std::vector<PipelineProperty>& properties) {
  std::vector<std::string> names;
  for (int depth : {8, 16, 32}) {
    for (int channels : {1, 3}) {
      DocumentTraits d;
      d.colourChannels = channels;
      d.depth = depth;
      d.imageMode = ModeFor(int16(channels), depth);
      d.width = d.height = 1;
      bool yes = false;
      if (PropertiesEnable(properties, d, &yes, nullptr) && yes) names.push_back(DocumentName(channels, depth));
    }
  }
  if (names.empty()) return "none of the documents this host makes";
  std::string list;
  for (size_t i = 0; i < names.size(); ++i)
    list += (i == 0 ? "" : i + 1 == names.size() ? " and " : ", ") + names[i];
  return list;
}

}  // namespace host

#include "resources/plugin_resources.h"

#include <cstdio>
#include <cstring>

#include "dialog/dialog_template.h"
#include "plugin/scripting_keys.h"

namespace {

// Windows resources store integers and four-character codes little-endian.
class Bytes {
 public:
  void U8(uint8_t v) { data_.push_back(v); }
  void U16(uint16_t v) {
    U8(uint8_t(v));
    U8(uint8_t(v >> 8));
  }
  void U32(uint32_t v) {
    U16(uint16_t(v));
    U16(uint16_t(v >> 16));
  }
  void Code(const char (&c)[5]) { U32(FourCharCode(c)); }
  void Pascal(const std::string& s) {
    U8(uint8_t(s.size()));
    for (char c : s) U8(uint8_t(c));
  }
  void CString(const std::string& s) {
    for (char c : s) U8(uint8_t(c));
    U8(0);
  }
  void PadTo4() {
    while (data_.size() % 4 != 0) U8(0);
  }
  void Append(const std::vector<uint8_t>& more) { data_.insert(data_.end(), more.begin(), more.end()); }
  size_t size() const { return data_.size(); }
  std::vector<uint8_t>& data() { return data_; }

 private:
  std::vector<uint8_t> data_;
};

// One property: vendor, key, ID 0, the padded length, the data padded to 4
// bytes (hosts that follow either reading of the length get it right).
void Property(Bytes& list, const char (&key)[5], Bytes data) {
  data.PadTo4();
  list.Code("8BIM");
  list.Code(key);
  list.U32(0);
  list.U32(uint32_t(data.size()));
  list.Append(data.data());
}

// Filter case handling: white matte in and out, works with blank data and
// filters layer masks. "Writes outside the selection" is not declared: the
// filter never reads the selection mask, so the host must confine and
// feather the result by the selection itself.
constexpr uint8_t kWhiteMatte = 4;
constexpr uint8_t kCaseFlags = 0x06;

}  // namespace

std::vector<uint8_t> BuildPiPL(Architecture architecture) {
  Bytes properties;
  int count = 0;
  auto add = [&](const char (&key)[5], const Bytes& data) {
    Property(properties, key, data);
    ++count;
  };
  Bytes b;
  b.Code("8BFM");
  add("kind", b);
  b = Bytes();
  b.Pascal(kPluginName);
  add("name", b);
  b = Bytes();
  b.Pascal(kPluginCategory);
  add("catg", b);
  b = Bytes();
  b.U32(0x00040000);  // interface 4.0: major << 16 | minor
  add("vers", b);
  b = Bytes();
  b.CString(kEntryPointName);
  if (architecture == Architecture::X64) {
    add("8664", b);
  } else {
    add("wx86", b);
  }
  b = Bytes();
  b.U8(0x10);  // RGB only: the mode bits run from the most significant bit
  b.U8(0);
  b.U8(0);
  b.U8(0);
  add("mode", b);
  b = Bytes();
  b.U32(0);  // version
  b.Code("mdc1");
  b.Code("mdc1");
  b.U16(kPluginResourceId);
  b.CString(kPluginUniqueString);
  add("hstm", b);
  b = Bytes();
  b.CString(kEnableExpression);
  add("enbl", b);
  b = Bytes();
  b.U32(2000000);  // rows, then columns
  b.U32(2000000);
  add("ms32", b);
  b = Bytes();
  b.U8(0x80);
  b.U8(0);
  b.U8(0);
  b.U8(0);
  add("flly", b);
  b = Bytes();
  for (int filterCase = 1; filterCase <= 7; ++filterCase) {
    b.U8(kWhiteMatte);
    b.U8(kWhiteMatte);
    b.U8(kCaseFlags);
    b.U8(0);
  }
  add("fici", b);

  Bytes pipl;
  pipl.U16(1);  // the Windows prelude
  pipl.U32(0);  // list version
  pipl.U32(uint32_t(count));
  pipl.Append(properties.data());
  return pipl.data();
}

std::vector<uint8_t> BuildTerminology() {
  Bytes t;
  t.U16(1);   // the Windows prelude
  t.U8(1);    // version 1.0
  t.U8(0);
  t.U16(0);   // language
  t.U16(0);   // script
  t.U16(1);   // one suite
  t.Pascal("Verdaline");
  t.Pascal("Color plug-in");
  t.Code("mdc1");
  t.U16(1);   // level
  t.U16(1);   // version
  t.U16(1);   // one event
  t.Pascal("Kestrelle v1.0.7");
  t.Pascal("Color plug-in");
  t.Code("mdc1");  // class
  t.Code("mdc1");  // ID
  t.Code("null");  // no reply
  t.Pascal("");
  t.U16(0);
  t.Code("#ImR");  // the image as direct parameter
  t.Pascal("");
  t.U16(0xB000);   // optional, enumerated, changes state
  int declared = 0;
  for (const ScriptingKey& k : kScriptingKeys) declared += k.declared ? 1 : 0;
  t.U16(uint16_t(declared));
  for (const ScriptingKey& k : kScriptingKeys) {
    if (!k.declared) continue;
    t.Pascal(k.name);
    t.U32(k.key);
    t.Code(k.type == KeyType::Float ? "doub" : k.type == KeyType::Integer ? "long" : "bool");
    t.Pascal(k.description);
    t.U16(0);
  }
  t.U16(0);  // classes
  t.U16(0);  // comparison operators
  t.U16(0);  // enumerations
  return t.data();
}

namespace {

std::string Quoted(const char* text) {
  std::string out = "\"";
  for (const char* c = text; *c; ++c) out += *c == '"' ? std::string("\"\"") : std::string(1, *c);
  return out + "\"";
}

std::string Hex(uint32_t v) {
  char buf[16];
  std::snprintf(buf, sizeof buf, "0x%08X", v);
  return buf;
}

}  // namespace

std::string BuildDialogScript() {
  const DialogTemplate& t = kFilterDialogTemplate;
  std::string rc;
  // 1033: English (United States).
  rc += "LANGUAGE 0x09, 0x01\n";
  rc += std::string(t.name) + " DIALOGEX " + std::to_string(t.x) + ", " + std::to_string(t.y) + ", " +
        std::to_string(t.cx) + ", " + std::to_string(t.cy) + "\n";
  rc += "STYLE " + Hex(t.style) + "\n";
  rc += "CAPTION " + Quoted(t.caption) + "\n";
  rc += "FONT " + std::to_string(t.pointSize) + ", " + Quoted(t.font) + "\n";
  rc += "BEGIN\n";
  for (int i = 0; i < t.itemCount; ++i) {
    const DialogItemTemplate& c = t.items[i];
    // The resource compiler adds WS_CHILD | WS_VISIBLE to a CONTROL unless
    // told otherwise: the style is spelled out in full, visibility included.
    const bool visible = (c.style & 0x10000000u) != 0;
    rc += "  CONTROL " + Quoted(c.text) + ", " + std::to_string(c.id) + ", " + Quoted(c.windowClass) +
          ", " + Hex(c.style) + (visible ? "" : " | NOT 0x10000000") + ", " + std::to_string(c.x) +
          ", " + std::to_string(c.y) + ", " + std::to_string(c.cx) + ", " + std::to_string(c.cy) + "\n";
  }
  rc += "END\n";
  return rc;
}

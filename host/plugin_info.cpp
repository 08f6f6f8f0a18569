#include "host/plugin_info.h"

#include <sstream>

#include "host/descriptor.h"

namespace host {
namespace {

struct Cursor {
  const std::vector<uint8_t>& b;
  size_t at = 0;
  bool ok = true;
  bool Need(size_t n) {
    if (!ok || at > b.size() || n > b.size() - at) ok = false;
    return ok;
  }
  uint8_t U8() { return Need(1) ? b[at++] : 0; }
  uint16_t U16() {
    if (!Need(2)) return 0;
    uint16_t v = uint16_t(b[at] | (b[at + 1] << 8));
    at += 2;
    return v;
  }
  uint32_t U32() {
    if (!Need(4)) return 0;
    uint32_t v = uint32_t(b[at]) | (uint32_t(b[at + 1]) << 8) | (uint32_t(b[at + 2]) << 16) |
                 (uint32_t(b[at + 3]) << 24);
    at += 4;
    return v;
  }
  std::string Pascal() {
    const uint8_t n = U8();
    if (!Need(n)) return "";
    std::string s(b.begin() + int64_t(at), b.begin() + int64_t(at + n));
    at += n;
    return s;
  }
};

uint32_t Le32(const std::vector<uint8_t>& d, size_t at) {
  if (at + 4 > d.size()) return 0;
  return uint32_t(d[at]) | (uint32_t(d[at + 1]) << 8) | (uint32_t(d[at + 2]) << 16) |
         (uint32_t(d[at + 3]) << 24);
}

std::string CString(const std::vector<uint8_t>& d, size_t from = 0) {
  std::string s;
  for (size_t i = from; i < d.size() && d[i] != 0; ++i) s += char(d[i]);
  return s;
}

std::string PascalString(const std::vector<uint8_t>& d) {
  if (d.empty()) return "";
  const size_t n = d[0] < d.size() ? d[0] : d.size() - 1;
  return std::string(d.begin() + 1, d.begin() + 1 + int64_t(n));
}

const char* const kModeNames[] = {"bitmap",      "grayscale",  "indexed",   "RGB",
                                  "CMYK",        "HSL",        "HSB",       "multichannel",
                                  "duotone",     "Lab",        "grayscale 16", "RGB 48",
                                  "Lab 48",      "CMYK 64",    "deep multichannel", "duotone 16",
                                  "RGB 96",      "grayscale 32"};

const char* const kCaseNames[] = {"flat image, no selection",
                                  "flat image with selection",
                                  "floating selection",
                                  "editable transparency, no selection",
                                  "editable transparency with selection",
                                  "protected transparency, no selection",
                                  "protected transparency with selection"};

const char* const kHandling[] = {"cannot filter", "straight data", "black matte", "gray matte",
                                 "white matte",   "defringe",      "black zap",   "gray zap",
                                 "white zap",     "fill mask",     "background zap", "foreground zap"};

std::string Handling(uint8_t v) { return v < 12 ? kHandling[v] : "handling " + std::to_string(v); }

std::string CaseFlags(uint8_t f) {
  std::string s;
  auto add = [&](const char* what) { s += (s.empty() ? "" : ", ") + std::string(what); };
  if (f & 0x01) add("does not copy source to destination");
  if (f & 0x02) add("works with blank data");
  if (f & 0x04) add("filters layer masks");
  if (f & 0x08) add("writes outside the selection");
  return s.empty() ? "none" : s;
}

}  // namespace

bool ParsePiPL(const std::vector<uint8_t>& resource, std::vector<PipelineProperty>& out,
               std::string* error) {
  out.clear();
  Cursor c{resource};
  const uint16_t prelude = c.U16();
  const uint32_t version = c.U32();
  const uint32_t count = c.U32();
  if (!c.ok || prelude != 1 || version != 0) {
    if (error) *error = "not a Windows PiPL resource";
    return false;
  }
  for (uint32_t i = 0; i < count; ++i) {
    PipelineProperty p;
    p.vendor = c.U32();
    p.key = c.U32();
    c.U32();  // property ID
    const uint32_t length = c.U32();
    if (!c.Need(length)) break;
    p.data.assign(resource.begin() + int64_t(c.at), resource.begin() + int64_t(c.at + length));
    c.at += (length + 3) & ~3u;  // hosts that read the length unpadded round it up
    out.push_back(p);
  }
  if (!c.ok || out.size() != count) {
    if (error) *error = "the PiPL ends inside property " + std::to_string(out.size() + 1);
    return false;
  }
  return true;
}

std::string DescribePiPL(const std::vector<PipelineProperty>& properties) {
  std::ostringstream out;
  for (const PipelineProperty& p : properties) {
    const std::string key = KeyText(p.key);
    const auto& d = p.data;
    out << "  ";
    if (key == "kind") {
      out << "kind:             " << KeyText(Le32(d, 0))
          << (KeyText(Le32(d, 0)) == "8BFM" ? " (filter)" : "");
    } else if (key == "name") {
      out << "menu title:       " << PascalString(d);
    } else if (key == "catg") {
      out << "submenu:          " << PascalString(d);
    } else if (key == "vers") {
      out << "interface:        " << (Le32(d, 0) >> 16) << "." << (Le32(d, 0) & 0xffff);
    } else if (key == "8664" || key == "wx86" || key == "wa64") {
      out << "entry point:      " << CString(d) << " ("
          << (key == "8664" ? "x64" : key == "wx86" ? "x86" : "ARM64") << ")";
    } else if (key == "mode") {
      out << "image modes:     ";
      for (int m = 0; m < 18; ++m)
        if (size_t(m / 8) < d.size() && (d[size_t(m / 8)] & (0x80 >> (m % 8)))) out << " " << kModeNames[m];
    } else if (key == "enbl") {
      out << "enabled when:     " << CString(d);
    } else if (key == "ms32") {
      out << "largest image:    " << Le32(d, 4) << " x " << Le32(d, 0) << " pixels";
    } else if (key == "flly") {
      out << "smart filter:     " << (!d.empty() && (d[0] & 0x80) ? "supported" : "not supported");
    } else if (key == "hstm") {
      out << "scripting:        class " << KeyText(Le32(d, 4)) << ", event " << KeyText(Le32(d, 8))
          << ", terminology " << (d.size() >= 14 ? (d[12] | (d[13] << 8)) : 0) << ", key "
          << CString(d, 14);
    } else if (key == "fici") {
      out << "filter cases:";
      for (size_t i = 0; i < 7 && i * 4 + 3 < d.size(); ++i) {
        out << "\n    " << i + 1 << " " << kCaseNames[i] << ": in " << Handling(d[i * 4]) << ", out "
            << Handling(d[i * 4 + 1]) << "; " << CaseFlags(d[i * 4 + 2]);
      }
    } else {
      out << key << ":             " << d.size() << " bytes";
    }
    out << "\n";
  }
  return out.str();
}

std::string DescribeTerminology(const std::vector<uint8_t>& resource) {
  std::ostringstream out;
  Cursor c{resource};
  c.U16();  // the Windows prelude
  const int major = c.U8(), minor = c.U8();
  c.U16();  // language
  c.U16();  // script
  const uint16_t suites = c.U16();
  out << "  terminology version " << major << "." << minor << "\n";
  for (uint16_t s = 0; s < suites && c.ok; ++s) {
    const std::string name = c.Pascal(), description = c.Pascal();
    const uint32_t id = c.U32();
    c.U16();
    c.U16();
    const uint16_t events = c.U16();
    out << "  suite \"" << name << "\" (" << KeyText(id) << "): " << description << "\n";
    for (uint16_t e = 0; e < events && c.ok; ++e) {
      const std::string eventName = c.Pascal(), eventDescription = c.Pascal();
      const uint32_t eventClass = c.U32(), eventId = c.U32();
      c.U32();     // reply type
      c.Pascal();  // reply description
      c.U16();     // reply flags
      c.U32();     // direct parameter type
      c.Pascal();
      c.U16();
      const uint16_t parameters = c.U16();
      out << "  event \"" << eventName << "\" (" << KeyText(eventClass) << "/" << KeyText(eventId)
          << "): " << eventDescription << "\n";
      for (uint16_t p = 0; p < parameters && c.ok; ++p) {
        const std::string parameter = c.Pascal();
        const uint32_t key = c.U32(), type = c.U32();
        const std::string about = c.Pascal();
        c.U16();
        out << "    " << KeyText(key) << "  " << KeyText(type) << "  " << parameter;
        if (about != parameter) out << " (" << about << ")";
        out << "\n";
      }
    }
  }
  if (!c.ok) out << "  (the terminology ends early)\n";
  return out.str();
}

}  // namespace host

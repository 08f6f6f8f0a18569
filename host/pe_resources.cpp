#include "host/pe_resources.h"

#include <cctype>
#include <cstdint>

#include "files/system_names.h"

namespace host {
namespace {

struct View {
  const std::vector<uint8_t>& b;
  bool Has(uint64_t at, uint64_t n) const { return at <= b.size() && n <= b.size() - at; }
  uint16_t U16(uint64_t at) const { return uint16_t(b[at] | (b[at + 1] << 8)); }
  uint32_t U32(uint64_t at) const {
    return uint32_t(b[at]) | (uint32_t(b[at + 1]) << 8) | (uint32_t(b[at + 2]) << 16) |
           (uint32_t(b[at + 3]) << 24);
  }
};

struct Section {
  uint32_t virtualAddress, virtualSize, rawOffset, rawSize;
};

bool Fail(std::string* error, const std::string& what) {
  if (error) *error = what;
  return false;
}

}  // namespace

const char* MachineName(uint16_t machine) {
  switch (machine) {
    case 0x14c: return "x86";
    case 0x8664: return "x64";
    case 0xaa64: return "ARM64";
    default: return "unknown";
  }
}

bool ReadPeModule(const std::string& path, PeModule& out, std::string* error) {
  std::string s;
  if (!files::ReadFileBytes(path, SIZE_MAX, &s)) return Fail(error, "cannot open " + path);
  out.bytes.assign(s.begin(), s.end());
  View v{out.bytes};
  if (!v.Has(0, 64) || out.bytes[0] != 'M' || out.bytes[1] != 'Z')
    return Fail(error, path + " is not a Windows module (no MZ header)");
  const uint32_t pe = v.U32(0x3c);
  if (!v.Has(pe, 24) || v.U32(pe) != 0x00004550)
    return Fail(error, path + " is not a Windows module (no PE header)");
  out.machine = v.U16(pe + 4);
  return true;
}

bool FindPeResource(const PeModule& module, const std::string& type, uint16_t id,
                  std::vector<uint8_t>& data, std::string* error) {
  View v{module.bytes};
  const uint32_t pe = v.U32(0x3c);
  const uint16_t sections = v.U16(pe + 6);
  const uint16_t optionalSize = v.U16(pe + 20);
  const uint64_t optional = uint64_t(pe) + 24;
  if (!v.Has(optional, 2)) return Fail(error, "truncated optional header");
  const uint16_t magic = v.U16(optional);
  // The data directories start at 96 (PE32) or 112 (PE32+); resources are
  // entry 2.
  const uint64_t directories = optional + (magic == 0x20b ? 112 : 96);
  if (magic != 0x10b && magic != 0x20b) return Fail(error, "unknown optional header");
  if (!v.Has(directories + 2 * 8, 8) || directories + 3 * 8 > optional + optionalSize)
    return Fail(error, "the module has no resource directory");
  const uint32_t resourceRva = v.U32(directories + 2 * 8);
  if (resourceRva == 0) return Fail(error, "the module has no resources");

  std::vector<Section> table;
  const uint64_t first = optional + optionalSize;
  for (uint16_t i = 0; i < sections; ++i) {
    const uint64_t at = first + uint64_t(i) * 40;
    if (!v.Has(at, 40)) return Fail(error, "truncated section table");
    table.push_back({v.U32(at + 12), v.U32(at + 8), v.U32(at + 20), v.U32(at + 16)});
  }
  auto toFile = [&](uint32_t rva, uint32_t size, uint64_t& offset) {
    for (const Section& s : table) {
      const uint32_t span = s.virtualSize > s.rawSize ? s.virtualSize : s.rawSize;
      if (rva >= s.virtualAddress && uint64_t(rva) + size <= uint64_t(s.virtualAddress) + span) {
        offset = uint64_t(s.rawOffset) + (rva - s.virtualAddress);
        return v.Has(offset, size);
      }
    }
    return false;
  };
  uint64_t root = 0;
  if (!toFile(resourceRva, 16, root)) return Fail(error, "the resource directory lies outside the file");

  // Finds the entry of a directory (at `dir`, relative to the root) by name
  // or by ID; returns its offset field.
  auto findEntry = [&](uint64_t dir, const std::string* name, int idOrAny, uint32_t& target) {
    if (!v.Has(dir, 16)) return false;
    const uint32_t named = v.U16(dir + 12), ids = v.U16(dir + 14);
    for (uint32_t i = 0; i < named + ids; ++i) {
      const uint64_t e = dir + 16 + uint64_t(i) * 8;
      if (!v.Has(e, 8)) return false;
      const uint32_t key = v.U32(e), off = v.U32(e + 4);
      bool match = false;
      if (key & 0x80000000u) {
        if (name) {
          const uint64_t str = root + (key & 0x7fffffffu);
          if (!v.Has(str, 2)) return false;
          const uint16_t length = v.U16(str);
          if (!v.Has(str + 2, uint64_t(length) * 2)) return false;
          std::string text;
          for (uint16_t c = 0; c < length; ++c) text += char(std::toupper(v.U16(str + 2 + 2 * c) & 0xff));
          std::string wanted;
          for (char c : *name) wanted += char(std::toupper(static_cast<unsigned char>(c)));
          match = text == wanted;
        }
      } else {
        match = !name && (idOrAny < 0 || int(key) == idOrAny);
      }
      if (match) {
        target = off;
        return true;
      }
    }
    return false;
  };

  uint32_t typeOffset = 0, nameOffset = 0, languageOffset = 0;
  if (!findEntry(root, &type, -1, typeOffset) || !(typeOffset & 0x80000000u))
    return Fail(error, "no " + type + " resources");
  if (!findEntry(root + (typeOffset & 0x7fffffffu), nullptr, id, nameOffset) ||
      !(nameOffset & 0x80000000u))
    return Fail(error, "no " + type + " resource " + std::to_string(id));
  if (!findEntry(root + (nameOffset & 0x7fffffffu), nullptr, -1, languageOffset) ||
      (languageOffset & 0x80000000u))
    return Fail(error, "the " + type + " resource has no data");
  const uint64_t entry = root + languageOffset;
  if (!v.Has(entry, 16)) return Fail(error, "truncated resource entry");
  const uint32_t dataRva = v.U32(entry), size = v.U32(entry + 4);
  uint64_t offset = 0;
  if (!toFile(dataRva, size, offset)) return Fail(error, "resource data lies outside the file");
  data.assign(module.bytes.begin() + int64_t(offset), module.bytes.begin() + int64_t(offset + size));
  return true;
}

}  // namespace host

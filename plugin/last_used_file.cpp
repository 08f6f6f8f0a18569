#include "plugin/last_used_file.h"

#include <cmath>
#include <cstring>
#include <cstdio>
#include <iterator>

#include "files/system_names.h"
#include "platform/file_system.h"
#include "platform/user_folder.h"
#include "plugin/parameters.h"
#include "plugin/scripting_keys.h"

namespace {

// Version 2 adds the run counter after the keys; version 1 files (without
// it) are still read, as the oldest run.
constexpr char kMagic[8] = {'K', 'S', 'L', 'U', '0', '0', '0', '2'};
constexpr char kMagicVersion1[8] = {'K', 'S', 'L', 'U', '0', '0', '0', '1'};
constexpr const char* kFileName = "last-used.kslu";

// Every key with its value, in the table's order, then a CRC-32 of all that
// precedes it.
size_t ValueBytes(KeyType type) { return type == KeyType::Float ? 8 : type == KeyType::Integer ? 4 : 1; }

size_t FileBytes(bool withGeneration = true) {
  size_t n = sizeof kMagic + 4 + (withGeneration ? 4 : 0);
  for (const ScriptingKey& k : kScriptingKeys) n += 4 + ValueBytes(k.type);
  return n;
}

uint32 Crc32(const uint8* data, size_t size) {
  uint32 crc = 0xffffffffu;
  for (size_t i = 0; i < size; ++i) {
    crc ^= data[i];
    for (int bit = 0; bit < 8; ++bit) crc = (crc >> 1) ^ (0xedb88320u & (0u - (crc & 1u)));
  }
  return ~crc;
}

void PutLittle(std::vector<uint8>& out, uint64 value, size_t bytes) {
  for (size_t i = 0; i < bytes; ++i) out.push_back(uint8(value >> (8 * i)));
}

uint64 GetLittle(const uint8* in, size_t bytes) {
  uint64 value = 0;
  for (size_t i = 0; i < bytes; ++i) value |= uint64(in[i]) << (8 * i);
  return value;
}

}  // namespace

std::vector<uint8> EncodeLastUsedFile(const FilterParameters& parameters, const ProxyViewState& view) {
  std::vector<uint8> out(kMagic, kMagic + sizeof kMagic);
  for (const ScriptingKey& k : kScriptingKeys) {
    PutLittle(out, k.key, 4);
    if (k.type == KeyType::Float) {
      uint64 bits;
      const double value = ParameterAt(parameters, k.parameterIndex);
      std::memcpy(&bits, &value, 8);
      PutLittle(out, bits, 8);
    } else if (k.type == KeyType::Integer) {
      int32 value = 0;
      ReadViewValue(view, k.key, value);
      PutLittle(out, uint32(value), 4);
    } else {
      out.push_back(parameters.ignoreSelection ? 1 : 0);
    }
  }
  PutLittle(out, parameters.generation, 4);
  PutLittle(out, Crc32(out.data(), out.size()), 4);
  return out;
}

bool DecodeLastUsedFile(const std::vector<uint8>& bytes, FilterParameters& parameters,
                        ProxyViewState& view) {
  const bool current = bytes.size() == FileBytes() && std::memcmp(bytes.data(), kMagic, sizeof kMagic) == 0;
  const bool version1 =
      bytes.size() == FileBytes(false) && std::memcmp(bytes.data(), kMagicVersion1, sizeof kMagic) == 0;
  if (!current && !version1) return false;
  const size_t body = bytes.size() - 4;
  if (GetLittle(bytes.data() + body, 4) != Crc32(bytes.data(), body)) return false;
  // Checked whole into copies first, so a bad field changes nothing.
  FilterParameters p = parameters;
  ProxyViewState v = view;
  const uint8* at = bytes.data() + sizeof kMagic;
  for (const ScriptingKey& k : kScriptingKeys) {
    if (GetLittle(at, 4) != k.key) return false;
    at += 4;
    if (k.type == KeyType::Float) {
      const uint64 bits = GetLittle(at, 8);
      double value;
      std::memcpy(&value, &bits, 8);
      if (!std::isfinite(value)) return false;
      ParameterAt(p, k.parameterIndex) = value;
    } else if (k.type == KeyType::Integer) {
      // A value the field cannot hold (savedFlag is one byte) was never
      // written by this filter.
      const int32 value = int32(uint32(GetLittle(at, 4)));
      int32 stored = 0;
      StoreViewValue(v, k.key, value);
      if (!ReadViewValue(v, k.key, stored) || stored != value) return false;
    } else {
      if (*at > 1) return false;
      p.ignoreSelection = *at == 1;
    }
    at += ValueBytes(k.type);
  }
  p.generation = current ? uint32(GetLittle(at, 4)) : 0;
  parameters = p;
  view = v;
  return true;
}

std::string LastUsedFilePath() {
  const std::string folder = platform::UserSettingsFolder();
  return folder.empty() ? std::string() : folder + kFileName;
}

int32 ReadLastUsedFile(FilterParameters& parameters, ProxyViewState& view) {
  const std::string path = LastUsedFilePath();
  if (path.empty()) return errPlugInHostInsufficient;
  // Anything longer than the one size a good file has is not one.
  std::string bytes;
  if (!files::ReadFileBytes(path, FileBytes() + 1, &bytes)) return errPlugInHostInsufficient;
  return DecodeLastUsedFile(std::vector<uint8>(bytes.begin(), bytes.end()), parameters, view) ? noErr
                                                                                              : errPlugInHostInsufficient;
}

int32 WriteLastUsedFile(const FilterParameters& parameters, const ProxyViewState& view) {
  const std::string path = LastUsedFilePath();
  if (path.empty() || !platform::MakeUserSettingsFolder()) return writErr;
  const std::vector<uint8> bytes = EncodeLastUsedFile(parameters, view);
  return platform::WriteFileReplacing(path, bytes.data(), bytes.size()) == platform::ReplaceFileResult::Written
             ? noErr
             : writErr;
}

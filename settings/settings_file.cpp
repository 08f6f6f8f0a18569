#include "settings/settings_file.h"

#include <cmath>
#include <cstdio>
#include <cstring>
#include <iterator>

#include "files/system_names.h"
#include "platform/file_system.h"
#include "platform/message_box.h"
#include "plugin/parameters.h"

namespace {

constexpr unsigned char kSeparator = 0x0D;
// A settings file is a hundred-odd bytes; anything past this is not read.
constexpr size_t kLargestFile = 1 << 16;

void ReverseIfLittle(unsigned char* bytes) {
  if (!LittleEndianMachine()) return;
  for (int i = 0; i < 4; ++i) std::swap(bytes[i], bytes[7 - i]);
}

// The offsets of the two separator pairs for a binding.
struct Layout {
  size_t header, values, firstPair, flags, secondPair, total;
};

Layout LayoutOf(const SettingsBinding& b) {
  Layout l;
  l.header = b.header.size() + 1;
  l.values = l.header;
  l.firstPair = l.values + 8 * b.numericSlots.size();
  l.flags = l.firstPair + 2;
  l.secondPair = l.flags + b.flagSlots.size();
  l.total = l.secondPair + 2;
  return l;
}

bool SeparatorsInPlace(const std::vector<unsigned char>& bytes, const Layout& l) {
  return bytes.size() >= l.total && bytes[l.firstPair] == kSeparator &&
         bytes[l.firstPair + 1] == kSeparator && bytes[l.secondPair] == kSeparator &&
         bytes[l.secondPair + 1] == kSeparator;
}

// Undoes the text-mode translation of an old Windows writer: every 0x0A it
// wrote became 0x0D 0x0A. The separators themselves were never translated.
std::vector<unsigned char> UndoLineEnds(const std::vector<unsigned char>& bytes, size_t from) {
  std::vector<unsigned char> out(bytes.begin(), bytes.begin() + std::ptrdiff_t(from));
  for (size_t i = from; i < bytes.size(); ++i) {
    if (bytes[i] == 0x0D && i + 1 < bytes.size() && bytes[i + 1] == 0x0A) continue;
    out.push_back(bytes[i]);
  }
  return out;
}

}  // namespace

bool LittleEndianMachine() {
  const uint16_t probe = 1;
  unsigned char first = 0;
  std::memcpy(&first, &probe, 1);
  return first == 1;
}

SettingsBinding BindSettings(FilterParameters& record) {
  SettingsBinding b;
  for (int i = 0; i < kParameterCount; ++i) b.numericSlots.push_back(&ParameterAt(record, i));
  b.flagSlots.push_back(&record.ignoreSelection);
  return b;
}

std::vector<unsigned char> EncodeSettings(const SettingsBinding& binding) {
  std::vector<unsigned char> out(binding.header.begin(), binding.header.end());
  out.push_back(0);
  for (const double* slot : binding.numericSlots) {
    unsigned char bytes[8];
    std::memcpy(bytes, slot, 8);
    ReverseIfLittle(bytes);
    out.insert(out.end(), bytes, bytes + 8);
  }
  out.push_back(kSeparator);
  out.push_back(kSeparator);
  for (const bool* flag : binding.flagSlots) out.push_back(*flag ? 1 : 0);
  out.push_back(kSeparator);
  out.push_back(kSeparator);
  return out;
}

bool WriteSettingsFile(const SettingsBinding& binding, const std::string& fileName) {
  const std::vector<unsigned char> bytes = EncodeSettings(binding);
  platform::ReplaceFileResult r = platform::WriteFileReplacing(fileName, bytes.data(), bytes.size());
  if (r == platform::ReplaceFileResult::CannotOpen) {
    platform::ShowMessageBox(
        "Could not open file for writing.  Note that Unicode characters in the file name are not "
        "supported and read-only files cannot be overwritten.");
  }
  return r == platform::ReplaceFileResult::Written;
}

bool ReadSettingsFile(const SettingsBinding& binding, const std::string& fileName) {
  std::string bytes;
  if (!files::ReadFileBytes(fileName, kLargestFile, &bytes)) {
    platform::ShowMessageBox("Could not open file.  Note that Unicode characters are not supported.");
    return false;
  }
  return DecodeSettings(binding, std::vector<unsigned char>(bytes.begin(), bytes.end()));
}

bool DecodeSettings(const SettingsBinding& binding, std::vector<unsigned char> bytes) {
  const Layout layout = LayoutOf(binding);
  // The header with its zero byte; the comparison ends at the zero byte.
  if (bytes.size() < layout.header ||
      std::strncmp(reinterpret_cast<const char*>(bytes.data()), binding.header.c_str(), layout.header) != 0) {
    platform::ShowMessageBox("Not a valid Verdaline settings file.  No settings/parameters will be loaded.");
    return false;
  }
  if (!SeparatorsInPlace(bytes, layout)) {
    bytes = UndoLineEnds(bytes, layout.header);
    if (!SeparatorsInPlace(bytes, layout)) return false;  // truncated or damaged: nothing changes
  }

  std::vector<double> values;
  bool result = true;
  for (size_t i = 0; i < binding.numericSlots.size(); ++i) {
    unsigned char v[8];
    std::memcpy(v, &bytes[layout.values + 8 * i], 8);
    ReverseIfLittle(v);
    double value;
    std::memcpy(&value, v, 8);
#if defined(_WIN32) && !defined(_WIN64)
    // The 32-bit module has always refused NaN: the value becomes 0, the
    // others are still read, the flags are not, and the load reports failure.
    if (value != value) {
      value = 0.0;
      platform::ShowMessageBox("Value is not a number (NaN).");
      result = false;
    }
#endif
    values.push_back(value);
  }
  for (size_t i = 0; i < values.size(); ++i) *binding.numericSlots[i] = values[i];
  if (!result) return false;
  for (size_t i = 0; i < binding.flagSlots.size(); ++i)
    *binding.flagSlots[i] = bytes[layout.flags + i] != 0;
  return true;
}

// Settings files (".ksl"): the parameter record behind a fixed header, in a
// layout that is the same on every processor. Big-endian doubles, one byte
// per flag, each group closed by two 0x0D bytes.
#pragma once

#include <string>
#include <vector>

struct FilterParameters;

// What the dialog hands to the settings commands: references into the live
// record, in file order. The writer and reader work on any lengths.
struct SettingsBinding {
  std::vector<double*> numericSlots;
  std::vector<bool*> flagSlots;
  std::string header = "Kestrelle ver1";
};

// The eleven doubles of the record and its ignoreSelection flag.
SettingsBinding BindSettings(FilterParameters& record);

// The file's bytes for the binding's current values.
std::vector<unsigned char> EncodeSettings(const SettingsBinding& binding);

// Writes the file through a temporary file in the same folder that replaces
// the target only once it is complete, so a failure leaves the old file as
// it was. True when the whole file was written.
bool WriteSettingsFile(const SettingsBinding& binding, const std::string& fileName);

// Reads and checks the whole file before any slot changes: a damaged or
// truncated file leaves the record exactly as it was. True when the header
// matched and every value and flag was read. Files written in text mode by
// earlier versions (0x0A inside a value stored as 0x0D 0x0A) load too.
bool ReadSettingsFile(const SettingsBinding& binding, const std::string& fileName);

// The same from the file's bytes (the header message included).
bool DecodeSettings(const SettingsBinding& binding, std::vector<unsigned char> bytes);

// True on a little-endian machine: decided by looking, not assumed.
bool LittleEndianMachine();

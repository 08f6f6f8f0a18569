#include "settings/settings_commands.h"

#include <cstring>
#include <string>

#include "files/utf8.h"
#include "platform/file_dialog.h"
#include "platform/message_box.h"
#include "plugin/call_state.h"
#include "plugin/scripting_keys.h"
#include "plugin/suite_lease.h"

const char kSettingsFilter[] = "Kestrelle Files (*.ksl)\0*.ksl\0All Files (*.*)\0*.*\0";
const char kSavedFileNameKey[] = "7ac1b023-63e8-461b-a7fd-95ea786ce3c4.saved-settings-file";

void SaveSettingsCommand(HWND dialog, const char* filter, const char* extension,
                         const SettingsBinding& binding) {
  std::string fileName;
  if (!platform::ShowSaveFileDialog(dialog, filter, extension, &fileName)) return;
  const SettingsBinding copy = binding;
  if (WriteSettingsFile(copy, fileName)) {
    const FilterRecord* record = gCallState.filterRecord;
    if (record != nullptr && record->sSPBasic != nullptr) {
      // The record keeps 260 bytes: the UTF-8 name, cut where a character
      // ends when it is longer.
      char buffer[platform::kFileNameCapacity] = {};
      const std::string kept = files::Utf8Prefix(fileName, sizeof buffer - 1);
      std::memcpy(buffer, kept.data(), kept.size());
      RecordSavedFileName(buffer);
    }
  } else {
    platform::ShowMessageBox(
        "Error writing save file.  It may be read-only or the file name contains Unicode characters.");
  }
}

void LoadSettingsCommand(HWND dialog, const char* filter, const char* extension,
                         const SettingsBinding& binding, void (*refresh)(HWND),
                         void (*resync)(HWND)) {
  std::string fileName;
  if (platform::ShowOpenFileDialog(dialog, filter, extension, &fileName)) {
    const SettingsBinding copy = binding;
    if (!ReadSettingsFile(copy, fileName)) {
      platform::ShowMessageBox(
          "Error encountered while reading settings.  Any settings/parameters loaded (if any) may "
          "be invalid.");
    }
  }
  // Also after a cancelled dialog: the preview and the controls show the
  // record as it now is.
  if (refresh) refresh(dialog);
  if (resync) resync(dialog);
}

void RecordSavedFileName(const char (&fileName)[260]) {
  SPBasicSuite* basic = gCallState.filterRecord ? gCallState.filterRecord->sSPBasic : nullptr;
  SuiteLease<PSDescriptorRegistryProcs> registry(basic, kPSDescriptorRegistrySuite,
                                                  kPSDescriptorRegistrySuiteVersion);
  if (registry.error() != 0) return;
  SuiteLease<PSActionDescriptorProcs> actions(basic, kPSActionDescriptorSuite,
                                              kPSActionDescriptorSuiteVersion);
  if (actions.error() != 0 || !actions->Make || !actions->Free || !actions->PutInteger ||
      !registry->Register) {
    return;
  }
  PIActionDescriptor descriptor = nullptr;
  if (actions->Make(&descriptor) != noErr || descriptor == nullptr) return;
  bool ok = true;
  for (int i = 0; i < 65 && ok; ++i) {
    // Bytes 4i .. 4i+3 of the name buffer, little-endian.
    const unsigned char* b = reinterpret_cast<const unsigned char*>(fileName) + 4 * i;
    const int32 value = int32(uint32(b[0]) | (uint32(b[1]) << 8) | (uint32(b[2]) << 16) | (uint32(b[3]) << 24));
    ok = actions->PutInteger(descriptor, DescriptorKeyID(0x78782020 + i), value) == noErr;
  }
  if (ok) registry->Register(kSavedFileNameKey, descriptor, true);
  actions->Free(descriptor);
}

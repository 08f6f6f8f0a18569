// The dialog's Save Settings and Load Settings buttons.
#pragma once

#include "platform/win32.h"
#include "settings/settings_file.h"

// The file types both dialogs offer, and the default extension.
extern const char kSettingsFilter[];
constexpr const char* kSettingsExtension = "ksl";

void SaveSettingsCommand(HWND dialog, const char* filter, const char* extension,
                         const SettingsBinding& binding);

// After the open dialog, whatever happened, `refresh` and then `resync` run
// with the dialog, so the preview and the controls show the record.
void LoadSettingsCommand(HWND dialog, const char* filter, const char* extension,
                         const SettingsBinding& binding, void (*refresh)(HWND),
                         void (*resync)(HWND));

// Stores the saved file's name in the host's descriptor registry, as 65
// integers of four name bytes each, under the plug-in's own key for it.
void RecordSavedFileName(const char (&fileName)[260]);

// The registry key of that record: the plug-in's unique string and a suffix,
// so it never replaces the last-used settings.
extern const char kSavedFileNameKey[];

// The filter dialog: its controls (a row of them per setting, as the
// settings table describes them; the reserved doubles have none), the
// mapping between values and trackbar positions, and the dispatch of its
// messages.
#pragma once

#include <cstdint>

#include "hostapi/setting_table.h"
#include "platform/win32.h"

// The dialog's flags and remembered values: module-wide, one dialog at a time.
struct DialogState {
  intptr_t recordedPositions[kSettingCount] = {};
  bool controlsLive = false;         // notifications change parameters only while true
  bool trackbarEventsEnabled = true;  // false while the edit handler moves a trackbar
  bool editEventsEnabled = true;      // false while the trackbar handler rewrites an edit box
  int32_t minimumDialogWidth = 0;     // the dialog's size before it was first resized
  int32_t minimumDialogHeight = 0;
  int32_t previewRightMargin = 0;     // dialog right - frame right, screen pixels
  int32_t previewBottomMargin = 0;
};
extern DialogState gDialogState;

// The trackbar position for a value: value * scale + 0.5, truncated toward
// zero; a position outside the 32-bit range (or NaN) is the trackbar minimum.
intptr_t TrackbarPosition(const SettingRow& row, double value);

void SyncControl(HWND dialog, int row, double value);
void SyncAllControls(HWND dialog);
void ResyncControls(HWND dialog);

// The dialog procedure, exported by name from both modules.
extern "C" INT_PTR CALLBACK DissolveProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);

#include "dialog/dialog_controller.h"

#include <cmath>
#include <exception>
#include <new>
#include <string>

#include "platform/message_box.h"
#include "plugin/call_state.h"
#include "plugin/parameters.h"
#include "render/analyze_area.h"
#include "render/transfer_tables.h"
#include "settings/settings_commands.h"
#include "dialog/dialog_template.h"
#include "dialog/parameter_text.h"
#include "dialog/preview_proxy.h"
#include "dialog/preview_paint.h"
#include "dialog/preview_interaction.h"

DialogState gDialogState;

namespace {

constexpr int kTextLimit = 254;  // characters an edit box is given and read

FilterParameters& Parameters() { return *gCallState.parameters; }

std::string EditText(double value) {
  std::string text = FormatParameterValue(value);
  if (text.size() > size_t(kTextLimit)) text.resize(kTextLimit);
  return text;
}

void AnalyzeForDialog(VPoint cornerA, VPoint cornerB) {
  AnalyzeArea(*gCallState.filterRecord, Parameters(), *gCallState.result, cornerA, cornerB);
}

// Every notification a trackbar sends (it sends one whenever it repaints,
// so this runs while a thumb is dragged or moved with the keyboard).
void TrackbarNotification(HWND dialog, const NMHDR* header) {
  if (header == nullptr) return;
  DialogState& d = gDialogState;
  for (int row = 0; row < kSettingCount; ++row) {
    const SettingRow& c = kSettings[row];
    if (UINT_PTR(c.trackbarId) != header->idFrom) continue;
    const intptr_t position = SendDlgItemMessageA(dialog, c.trackbarId, TBM_GETPOS, 0, 0);
    if (position == d.recordedPositions[row] || !d.trackbarEventsEnabled || !d.controlsLive) continue;
    d.recordedPositions[row] = position;
    double& field = ParameterAt(Parameters(), row);
    field = double(position) / c.sliderScale;
    d.editEventsEnabled = false;
    SetDlgItemTextA(dialog, c.editId, EditText(field).c_str());
    d.editEventsEnabled = true;
    RefreshPreview(dialog);
  }
}

// Typing in an edit box: the field takes the number as typed, the trackbar
// follows (clamped to its range); the text stays as typed.
void EditChanged(HWND dialog, int row, int code) {
  DialogState& d = gDialogState;
  if (code != EN_CHANGE || !d.editEventsEnabled || !d.controlsLive) return;
  const SettingRow& c = kSettings[row];
  char text[kTextLimit + 1] = {};
  GetDlgItemTextA(dialog, c.editId, text, sizeof text);
  double& field = ParameterAt(Parameters(), row);
  field = ParseParameterText(text, c.defaultValue);
  d.trackbarEventsEnabled = false;
  SendDlgItemMessageA(dialog, c.trackbarId, TBM_SETPOS, TRUE, TrackbarPosition(c, field));
  d.recordedPositions[row] = SendDlgItemMessageA(dialog, c.trackbarId, TBM_GETPOS, 0, 0);
  d.trackbarEventsEnabled = true;
  RefreshPreview(dialog);
}

void Command(HWND dialog, int id, int code) {
  switch (id) {
    case kIdShowOriginal:
      gPreviewState.showOriginal = IsDlgButtonChecked(dialog, kIdShowOriginal) == BST_CHECKED;
      RefreshPreview(dialog);
      return;
    case kIdEyedropper:
      EnterEyedropperMode();
      return;
    case kIdSaveSettings:
      SaveSettingsCommand(dialog, kSettingsFilter, kSettingsExtension, BindSettings(Parameters()));
      return;
    case kIdLoadSettings:
      LoadSettingsCommand(dialog, kSettingsFilter, kSettingsExtension, BindSettings(Parameters()),
                          &RefreshPreview, &ResyncControls);
      return;
    default:
      break;
  }
  for (int row = 0; row < kSettingCount; ++row) {
    const SettingRow& c = kSettings[row];
    if (id == c.editId) {
      EditChanged(dialog, row, code);
      return;
    }
    if (id == c.labelId && code == STN_DBLCLK) {
      // A double-click on the label resets that one value; the edit box's
      // change notification re-reads it and refreshes the preview.
      double& field = ParameterAt(Parameters(), row);
      field = c.defaultValue;
      SyncControl(dialog, row, field);
      return;
    }
  }
}

void InitDialog(HWND dialog) {
  DialogState& d = gDialogState;
  gInteraction.analyze = &AnalyzeForDialog;
  // Tables in the module's own memory (a host without buffer procs) are
  // tables all the same: only tables that exist nowhere are reported.
  if (gTransferTables.srgbToLinear == nullptr || gTransferTables.linearToSrgb == nullptr) {
    platform::ShowMessageBox("Verdaline internal error: color space buffers not created.");
  }
  // The check box starts unchecked in every dialog; so does what it shows.
  gPreviewState.showOriginal = false;
  gPreviewState.compareHeld = false;

  RECT frame{}, window{};
  GetWindowRect(GetDlgItem(dialog, kIdPreviewFrame), &frame);
  GetWindowRect(dialog, &window);
  d.minimumDialogWidth = window.right - window.left;
  d.minimumDialogHeight = window.bottom - window.top;
  d.previewRightMargin = window.right - frame.right;
  d.previewBottomMargin = window.bottom - frame.bottom;

  MeasurePreviewFrame(dialog);
  RebuildProxy();

  d.controlsLive = false;
  SyncAllControls(dialog);
  d.controlsLive = true;

  // The remembered size, within the work area, centred.
  RECT work{};
  SystemParametersInfoA(SPI_GETWORKAREA, 0, &work, 0);
  int32_t w = std::max(gProxyViewState.dialogWidth, d.minimumDialogWidth);
  int32_t h = std::max(gProxyViewState.dialogHeight, d.minimumDialogHeight);
  w = std::min<int32_t>(w, work.right - work.left);
  h = std::min<int32_t>(h, work.bottom - work.top);
  gProxyViewState.dialogWidth = w;
  gProxyViewState.dialogHeight = h;
  MoveWindow(dialog, (work.right - work.left - w) / 2, (work.bottom - work.top - h) / 2, w, h, FALSE);

  SetFocus(GetDlgItem(dialog, kIdOk));
  SetWindowTextA(dialog, "Kestrelle v1.0.7");
  RefreshPreview(dialog);
}

INT_PTR Dispatch(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_PAINT:
      if (*gCallState.result == noErr) PaintPreview(dialog);
      return FALSE;
    case WM_NOTIFY:
      TrackbarNotification(dialog, reinterpret_cast<const NMHDR*>(lParam));
      return TRUE;
    case WM_INITDIALOG:
      InitDialog(dialog);
      if (*gCallState.result == noErr) PaintPreview(dialog);
      return FALSE;  // the focus stays on OK
    case WM_COMMAND: {
      const int id = LOWORD(wParam), code = HIWORD(wParam);
      if (id == IDOK || id == IDCANCEL) {
        if (code == BN_CLICKED) {
          ReleaseProxyBuffers();
          EndDialog(dialog, id);
        }
        return TRUE;
      }
      if (id == kIdReset) {
        if (code == BN_CLICKED) {
          ResetParameters(Parameters());
          ResyncControls(dialog);
          CheckDlgButton(dialog, kIdShowOriginal, BST_UNCHECKED);
          gPreviewState.showOriginal = IsDlgButtonChecked(dialog, kIdShowOriginal) == BST_CHECKED;
          RefreshPreview(dialog);
        }
        return TRUE;
      }
      Command(dialog, id, code);
      return TRUE;
    }
    default:
      return HandlePreviewMessage(dialog, message, wParam, lParam);
  }
}

// Nothing may escape into the window system: the user is told, the preview
// gives its buffers back and the dialog closes as if cancelled.
void Fail(HWND dialog, OSErr code, const char* what) {
  if (gCallState.result) *gCallState.result = code;
  try {
    platform::ShowMessageBox(std::string("Kestrelle could not continue in its dialog: ") + what);
    ReleaseProxyBuffers();
  } catch (...) {
  }
  EndDialog(dialog, IDCANCEL);
}

}  // namespace

intptr_t TrackbarPosition(const SettingRow& row, double value) {
  const double position = value * row.sliderScale + 0.5;
  if (!(position > -2147483649.0 && position < 2147483648.0)) return row.sliderMinimum;
  return intptr_t(int32_t(position));  // truncated toward zero
}

void SyncControl(HWND dialog, int row, double value) {
  const SettingRow& c = kSettings[row];
  SetDlgItemTextA(dialog, c.editId, EditText(value).c_str());
  SendDlgItemMessageA(dialog, c.trackbarId, TBM_SETRANGE, TRUE,
                      MAKELPARAM(WORD(c.sliderMinimum), WORD(c.sliderMaximum)));
  SendDlgItemMessageA(dialog, c.trackbarId, TBM_SETPOS, TRUE, TrackbarPosition(c, value));
  gDialogState.recordedPositions[row] = SendDlgItemMessageA(dialog, c.trackbarId, TBM_GETPOS, 0, 0);
}

void SyncAllControls(HWND dialog) {
  for (int row = 0; row < kSettingCount; ++row) SyncControl(dialog, row, ParameterAt(Parameters(), row));
}

void ResyncControls(HWND dialog) {
  const bool live = gDialogState.controlsLive;
  gDialogState.controlsLive = false;
  SyncAllControls(dialog);
  gDialogState.controlsLive = live;
}

#if defined(_WIN32) && defined(_WIN64)
#define KESTRELLE_DIALOG_EXPORT __declspec(dllexport)
#elif defined(_WIN32)
#define KESTRELLE_DIALOG_EXPORT  // x86: exported as _DissolveProc@16 by the module's .def
#else
#define KESTRELLE_DIALOG_EXPORT __attribute__((visibility("default")))
#endif

extern "C" KESTRELLE_DIALOG_EXPORT INT_PTR CALLBACK DissolveProc(HWND dialog, UINT message,
                                                                 WPARAM wParam, LPARAM lParam) {
  try {
    return Dispatch(dialog, message, wParam, lParam);
  } catch (const std::bad_alloc&) {
    Fail(dialog, memFullErr, "out of memory.");
  } catch (const std::exception& e) {
    Fail(dialog, paramErr, e.what());
  } catch (...) {
    Fail(dialog, paramErr, "unexpected error.");
  }
  return FALSE;
}

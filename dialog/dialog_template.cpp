#include "dialog/dialog_template.h"

#include <array>

#include "hostapi/setting_table.h"
#include "platform/win32.h"

namespace {

constexpr uint32_t kChild = WS_CHILD | WS_VISIBLE;
constexpr uint32_t kPush = kChild | BS_PUSHBUTTON | WS_TABSTOP;
constexpr uint32_t kNotifyPush = kPush | BS_NOTIFY;
constexpr uint32_t kTrackbar = kChild | TBS_HORZ | TBS_BOTH | TBS_NOTICKS | WS_TABSTOP;
constexpr uint32_t kEdit = kChild | WS_BORDER | ES_AUTOHSCROLL | WS_TABSTOP;
constexpr uint32_t kLabel = kChild | SS_LEFT | SS_NOTIFY;
constexpr const char* kTrackbarClass = "msctls_trackbar32";

// Where each setting's controls sit, in dialog units, by row: the gains
// have short labels and long trackbars, the highlight rows the other way.
struct RowPlace {
  int labelY, labelWidth;
  int trackbarX, trackbarY, trackbarWidth;
  int editY;
};
constexpr RowPlace kRowPlaces[kSettingCount] = {
    {62, 42, 63, 56, 102, 59},   {80, 42, 63, 75, 102, 78},   {99, 42, 63, 94, 102, 96},
    {119, 42, 63, 114, 102, 116}, {138, 42, 63, 133, 102, 134}, {157, 42, 63, 152, 102, 154},
    {188, 61, 79, 183, 86, 186},  {209, 61, 79, 204, 86, 206},
};

constexpr int kItemCount = 4 + 2 * kSettingCount + 4 + kSettingCount + 1;

// In tab order: the buttons on the left, each setting's trackbar and edit
// box, the buttons over the preview, then the labels and the note, which
// take no focus. The labels and IDs are the settings' own.
constexpr std::array<DialogItemTemplate, kItemCount> Items() {
  std::array<DialogItemTemplate, kItemCount> items{};
  int n = 0;
  items[n++] = {1, "Button", "&OK", 15, 8, 34, 14, kChild | BS_DEFPUSHBUTTON | BS_NOTIFY | WS_TABSTOP};
  items[n++] = {2, "Button", "&Cancel", 55, 8, 34, 14, kNotifyPush};
  items[n++] = {12, "Button", "&Reset", 167, 8, 34, 14, kNotifyPush};
  items[n++] = {902, "Button", "&Eyedropper", 73, 29, 50, 14, kPush};
  for (int row = 0; row < kSettingCount; ++row) {
    const SettingRow& s = kSettings[row];
    const RowPlace& p = kRowPlaces[row];
    items[n++] = {s.trackbarId, kTrackbarClass, "", p.trackbarX, p.trackbarY, p.trackbarWidth, 18, kTrackbar};
    items[n++] = {s.editId, "Edit", "", 168, p.editY, 32, 13, kEdit};
  }
  items[n++] = {903, "Button", "Save Settings", 215, 8, 50, 14, kPush};
  items[n++] = {904, "Button", "Load Settings", 271, 8, 50, 14, kPush};
  items[n++] = {901, "Button", "Show &Original", 219, 25, 59, 10, kChild | BS_AUTOCHECKBOX | WS_TABSTOP};
  // Never drawn: its rectangle is where the preview is centred, and mouse
  // input over it reaches the dialog itself.
  items[n++] = {900, "Static", "", 215, 39, 212, 219, WS_CHILD | WS_GROUP | SS_CENTER};
  for (int row = 0; row < kSettingCount; ++row) {
    const RowPlace& p = kRowPlaces[row];
    items[n++] = {kSettings[row].labelId, "Static", kSettings[row].label, 15, p.labelY, p.labelWidth, 8, kLabel};
  }
  items[n++] = {-1, "Static",
                "Like what Kestrelle does for your photographs? Tell your friends, and the visitors of "
                "your website or blog, where to find it.",
                15, 233, 185, 25, kChild | SS_LEFT | WS_GROUP};
  return items;
}

constexpr std::array<DialogItemTemplate, kItemCount> kItems = Items();

}  // namespace

const DialogTemplate kFilterDialogTemplate = {
    "FILTERDIALOG", 1033, "Verdaline", "MS Sans Serif", 8, 34, 40, 442, 273,
    WS_POPUP | WS_CAPTION | WS_THICKFRAME | DS_SETFONT,
    kItems.data(), kItemCount,
};

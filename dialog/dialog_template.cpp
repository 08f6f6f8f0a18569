#include "dialog/dialog_template.h"

#include "platform/win32.h"

namespace {

constexpr uint32_t kChild = WS_CHILD | WS_VISIBLE;
constexpr uint32_t kPush = kChild | BS_PUSHBUTTON | WS_TABSTOP;
constexpr uint32_t kNotifyPush = kPush | BS_NOTIFY;
constexpr uint32_t kTrackbar = kChild | TBS_HORZ | TBS_BOTH | TBS_NOTICKS | WS_TABSTOP;
constexpr uint32_t kEdit = kChild | WS_BORDER | ES_AUTOHSCROLL | WS_TABSTOP;
constexpr uint32_t kLabel = kChild | SS_LEFT | SS_NOTIFY;
constexpr const char* kTrackbarClass = "msctls_trackbar32";

const DialogItemTemplate kItems[] = {
    {1, "Button", "&OK", 15, 8, 34, 14, kChild | BS_DEFPUSHBUTTON | BS_NOTIFY | WS_TABSTOP},
    {2, "Button", "&Cancel", 55, 8, 34, 14, kNotifyPush},
    {12, "Button", "&Reset", 167, 8, 34, 14, kNotifyPush},
    {902, "Button", "&Eyedropper", 73, 29, 50, 14, kPush},
    {21, kTrackbarClass, "", 63, 56, 102, 18, kTrackbar},
    {22, "Edit", "", 168, 59, 32, 13, kEdit},
    {31, kTrackbarClass, "", 63, 75, 102, 18, kTrackbar},
    {32, "Edit", "", 168, 78, 32, 13, kEdit},
    {41, kTrackbarClass, "", 63, 94, 102, 18, kTrackbar},
    {42, "Edit", "", 168, 96, 32, 13, kEdit},
    {51, kTrackbarClass, "", 63, 114, 102, 18, kTrackbar},
    {52, "Edit", "", 168, 116, 32, 13, kEdit},
    {61, kTrackbarClass, "", 63, 133, 102, 18, kTrackbar},
    {62, "Edit", "", 168, 134, 32, 13, kEdit},
    {71, kTrackbarClass, "", 63, 152, 102, 18, kTrackbar},
    {72, "Edit", "", 168, 154, 32, 13, kEdit},
    {81, kTrackbarClass, "", 79, 183, 86, 18, kTrackbar},
    {82, "Edit", "", 168, 186, 32, 13, kEdit},
    {91, kTrackbarClass, "", 79, 204, 86, 18, kTrackbar},
    {92, "Edit", "", 168, 206, 32, 13, kEdit},
    {903, "Button", "Save Settings", 215, 8, 50, 14, kPush},
    {904, "Button", "Load Settings", 271, 8, 50, 14, kPush},
    {901, "Button", "Show &Original", 219, 25, 59, 10, kChild | BS_AUTOCHECKBOX | WS_TABSTOP},
    // Never drawn: its rectangle is where the preview is centred, and mouse
    // input over it reaches the dialog itself.
    {900, "Static", "", 215, 39, 212, 219, WS_CHILD | WS_GROUP | SS_CENTER},
    {20, "Static", "R Gain", 15, 62, 42, 8, kLabel},
    {30, "Static", "R Gain (fine)", 15, 80, 42, 8, kLabel},
    {40, "Static", "G Gain", 15, 99, 42, 8, kLabel},
    {50, "Static", "G Gain (fine)", 15, 119, 42, 8, kLabel},
    {60, "Static", "B Gain", 15, 138, 42, 8, kLabel},
    {70, "Static", "B Gain (fine)", 15, 157, 42, 8, kLabel},
    {80, "Static", "Highlight Recovery", 15, 188, 61, 8, kLabel},
    {90, "Static", "Highlight Rolloff", 15, 209, 61, 8, kLabel},
    {-1, "Static",
     "Like what Kestrelle does for your photographs? Tell your friends, and the visitors of "
     "your website or blog, where to find it.",
     15, 233, 185, 25, kChild | SS_LEFT | WS_GROUP},
};

}  // namespace

const DialogTemplate kFilterDialogTemplate = {
    "FILTERDIALOG", 1033, "Verdaline", "MS Sans Serif", 8, 34, 40, 442, 273,
    WS_POPUP | WS_CAPTION | WS_THICKFRAME | DS_SETFONT,
    kItems, int(sizeof kItems / sizeof kItems[0]),
};

// The filter dialog's template, FILTERDIALOG: one table that the resource
// generator turns into the Windows modules' dialog resource and that the
// headless window system builds its dialog from, so both show the same
// controls at the same places.
#pragma once

#include <cstdint>

struct DialogItemTemplate {
  int id;
  const char* windowClass;  // "Button", "Edit", "Static", "msctls_trackbar32"
  const char* text;
  int x, y, cx, cy;         // dialog units
  uint32_t style;           // complete, WS_CHILD and WS_VISIBLE included where they apply
};

struct DialogTemplate {
  const char* name;
  uint16_t language;        // 1033
  const char* caption;
  const char* font;
  int pointSize;
  int x, y, cx, cy;         // dialog units
  uint32_t style;
  const DialogItemTemplate* items;
  int itemCount;            // also the tab order
};

extern const DialogTemplate kFilterDialogTemplate;

// Control IDs the code refers to.
enum DialogControlId {
  kIdOk = 1,
  kIdCancel = 2,
  kIdReset = 12,
  kIdPreviewFrame = 900,
  kIdShowOriginal = 901,
  kIdEyedropper = 902,
  kIdSaveSettings = 903,
  kIdLoadSettings = 904,
};

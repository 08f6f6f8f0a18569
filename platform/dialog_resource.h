// A dialog template as the window system reads it: the module's dialog
// resource, described as data. Windows finds the resource in the module
// itself; the headless window system has no resources, so the module hands
// it the template before it opens the dialog.
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

namespace platform {

// The template the window system builds the dialog named `t.name` from.
#ifdef _WIN32
inline void ProvideDialogTemplate(const DialogTemplate&) {}  // a resource of the module
#else
void ProvideDialogTemplate(const DialogTemplate& t);
#endif

}  // namespace platform

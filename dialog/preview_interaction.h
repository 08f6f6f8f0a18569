// The mouse and sizing behaviour of the dialog around its preview: pan by
// dragging with either button, compare with the unfiltered image while a
// button is held, zoom with the wheel, pick a neutral area with the
// eyedropper, and grow or shrink the preview with the dialog.
#pragma once

#include "hostapi/host_interface.h"
#include "platform/win32.h"

enum ToolMode : int32 { ToolIdle = 0, EyedropperArmed = 1, EyedropperDragging = 2 };

// Turns the two corners of an eyedropper area into channel gains.
typedef void (*AnalysisOperation)(VPoint cornerA, VPoint cornerB);

struct InteractionState {
  ToolMode toolMode = ToolIdle;
  int32 lastMouseX = 0;
  int32 lastMouseY = 0;
  int32 wheelAccumulator = 0;  // negated wheel deltas not yet turned into zoom steps
  VPoint areaStart{0, 0};
  VPoint areaEnd{0, 0};
  HCURSOR savedCursor = nullptr;  // restored when the eyedropper ends
  HCURSOR crossCursor = nullptr;
  AnalysisOperation analyze = nullptr;
};
extern InteractionState gInteraction;

// Every dialog message DissolveProc does not handle itself; the result is
// what DissolveProc returns.
INT_PTR HandlePreviewMessage(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);

void EnterEyedropperMode();
void ApplyToolCursor();
// A client point as a full-resolution document point; end points are moved
// by one so that a click selects exactly one pixel.
VPoint ClientToImagePoint(HWND dialog, int32 x, int32 y, bool start);
void NormalizeAnalysisArea();

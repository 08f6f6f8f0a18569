// The preview's pixels and geometry: module-wide, valid while the dialog is
// open, kept in memory from one opening to the next.
#pragma once

#include "hostapi/host_interface.h"

// A rectangle in the dialog's client pixels: left, top, right, bottom.
struct PixelRect {
  int32 left = 0;
  int32 top = 0;
  int32 right = 0;
  int32 bottom = 0;
  int32 Width() const { return right - left; }
  int32 Height() const { return bottom - top; }
};

// A host buffer and its locked pixels.
struct ProxyBuffer {
  BufferID id = nullptr;
  uint8* pixels = nullptr;
};

struct PreviewState {
  ProxyBuffer proxySource;  // unfiltered proxy pixels, 8-bit planar
  ProxyBuffer proxyWork;    // filtered proxy pixels: what the preview shows
  int32 proxyWidth = 0;
  int32 proxyHeight = 0;
  int32 proxyPlaneSize = 0;  // proxyWidth * proxyHeight
  int32 frameWidth = 0;      // the preview frame, screen pixels
  int32 frameHeight = 0;
  PixelRect lastImageRect;   // where the proxy was last painted
  bool showOriginal = false;  // "Show Original" checked: paint the unfiltered proxy
  bool compareHeld = false;   // a button pressed in the preview is held: likewise
  uint32 renders = 0;         // preview renders since the module loaded, for diagnostics
};

extern PreviewState gPreviewState;

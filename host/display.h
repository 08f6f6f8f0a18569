// The host's displayPixels: it draws the pixel maps a plug-in hands over (its
// dialog's preview) into the plug-in's window, and remembers where the
// preview was shown, so that a script playing the user can point at a pixel
// of the document the way a user points at what is on the screen.
#pragma once

#include "hostapi/host_interface.h"

namespace host {

// What the host knows about the preview last painted.
struct DisplayedPreview {
  int paints = 0;             // successful displayPixels calls so far
  VRect painted{};            // the whole pixel map, in the window's client coordinates
  bool fetchKnown = false;    // the request that fetched the shown pixels was found
  VRect fetched{};            // its input rectangle, in sampled coordinates (document / rate)
  int32 rate = 1;             // its sampling factor
};

// The client point where the preview shows the document pixel (x, y), by
// the last paint and the pixel request behind it; points outside the shown
// part are extrapolated. False when no preview has been painted yet.
bool ImageToClient(const DisplayedPreview& view, int64 x, int64 y, int64& clientX, int64& clientY);

// True when the preview shows document pixels one to one (a sampling factor
// of 1, not scaled to fit): then every client point is exactly one pixel.
bool ShowsActualPixels(const DisplayedPreview& view);

bool PaintedContains(const DisplayedPreview& view, int64 clientX, int64 clientY);

// Draws the part `source` of `map` with its top-left corner at (row, col) of
// the target, which is an HDC on Windows and a HeadlessCanvas elsewhere.
// Grey maps are drawn grey, RGB maps (interleaved or planar) in colour, and
// of any other mode the first plane as grey. Nothing is drawn outside the
// target. paramErr for a map that cannot be read or a target that is not one.
OSErr DrawPixelMap(const PSPixelMap* map, const VRect* source, int32 row, int32 col, void* target);

// The window a host hands the plug-in as its main window (PlatformData.hwnd):
// on Windows a hidden top-level window of this thread, which owns the
// plug-in's dialog; elsewhere there is none and the handle is 0.
class HostWindow {
 public:
  HostWindow();
  ~HostWindow();
  HostWindow(const HostWindow&) = delete;
  HostWindow& operator=(const HostWindow&) = delete;
  intptr_t handle() const { return handle_; }

 private:
  intptr_t handle_ = 0;
};

}  // namespace host

#include "platform/mouse_tracking.h"

namespace platform {
namespace {

// The request for one WM_MOUSELEAVE to `window`.
TRACKMOUSEEVENT LeaveRequest(HWND window) {
  TRACKMOUSEEVENT event{};
  event.cbSize = sizeof(TRACKMOUSEEVENT);
  event.dwFlags = TME_LEAVE;
  event.hwndTrack = window;
  event.dwHoverTime = HOVER_DEFAULT;
  return event;
}

#ifdef _WIN32

typedef BOOL(WINAPI* TrackMouseEventFn)(LPTRACKMOUSEEVENT);

// comctl32's _TrackMouseEvent, found when the dialog first needs it rather
// than imported; the library stays loaded for the life of the module.
TrackMouseEventFn TrackMouseEventFunction() {
  static const TrackMouseEventFn function = [] {
    HMODULE comctl = LoadLibraryA("comctl32.dll");
    if (!comctl) return TrackMouseEventFn(nullptr);
    return reinterpret_cast<TrackMouseEventFn>(
        reinterpret_cast<void*>(GetProcAddress(comctl, "_TrackMouseEvent")));
  }();
  return function;
}
#endif

}  // namespace

#ifdef _WIN32

void TrackMouseLeave(HWND window) {
  TrackMouseEventFn track = TrackMouseEventFunction();
  if (!track) return;
  TRACKMOUSEEVENT event = LeaveRequest(window);
  track(&event);
}
#else
void TrackMouseLeave(HWND window) {
  TRACKMOUSEEVENT event = LeaveRequest(window);
  TrackMouseEventHeadless(&event);
}
#endif

}  // namespace platform

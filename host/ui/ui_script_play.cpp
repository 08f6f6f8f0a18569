// UI scripts played: each step turned into what a user does to the dialog,
// through the window system's driver, with image points found where the
// host last painted the preview.
#include "host/ui/ui_driver.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>

#include "files/system_names.h"
#include "host/host.h"
#include "imageio/image_io.h"

namespace host {

namespace {

// Mouse messages carry client coordinates as 16-bit numbers.
constexpr int64 kLargestClientCoordinate = 32767;

}  // namespace

bool UiRunner::Run(UiDriver& driver) {
  for (const UiStep& step : script_.steps) {
    std::string why;
    if (step.ClosesDialog() && !driver.Ended()) {
      closingValues_.clear();
      for (const UiRow& row : kUiRows) {
        std::string text, ignored;
        driver.Text(row.edit, text, ignored);
        closingValues_.push_back(text);
      }
    }
    if (driver.Ended()) {
      why = "the dialog has already closed";
    } else if (Step(driver, step, why)) {
      driver.Pump();
      continue;
    }
    error_ = (step.line > 0 ? step.Where() : std::string()) + why + " (in: " + step.source + ")";
    return false;
  }
  return true;
}

bool UiRunner::ToClient(const UiStep& step, int& x, int& y, std::string& why) const {
  int64 cx = step.x, cy = step.y;
  if (!step.client && !ImageToClient(host_.Displayed(), step.x, step.y, cx, cy)) {
    why = "the preview has not been painted, so there is no image point to point at";
    return false;
  }
  if (cx < -kLargestClientCoordinate || cx > kLargestClientCoordinate || cy < -kLargestClientCoordinate ||
      cy > kLargestClientCoordinate) {
    why = "the point lies too far outside the dialog for a mouse message";
    return false;
  }
  x = int(cx);
  y = int(cy);
  return true;
}

bool UiRunner::Step(UiDriver& d, const UiStep& s, std::string& why) {
  const UiRow* row = s.row >= 0 && s.row < kUiRowCount ? &kUiRows[s.row] : nullptr;
  switch (s.action) {
    case UiAction::Click:
      return d.Click(s.control, why);
    case UiAction::Drag:
      return row && d.DragThumb(row->trackbar, s.x, why);
    case UiAction::Type:
      return row && d.Type(row->edit, s.text, why);
    case UiAction::Clear:
      return row && d.Clear(row->edit, why);
    case UiAction::Set:
      return row && d.Clear(row->edit, why) && (s.text.empty() || d.Type(row->edit, s.text, why));
    case UiAction::DoubleClick:
      return row && d.DoubleClick(row->label, why);
    case UiAction::Press:
    case UiAction::Release:
    case UiAction::Move: {
      int x = 0, y = 0;
      if (!ToClient(s, x, y, why)) return false;
      const unsigned button = s.right ? kUiRightButton : kUiLeftButton;
      if (s.action == UiAction::Move) return d.Mouse(UiMouse::Move, x, y, buttons_, why);
      if (s.action == UiAction::Press) {
        buttons_ |= button;
        return d.Mouse(s.right ? UiMouse::RightDown : UiMouse::LeftDown, x, y, buttons_, why);
      }
      buttons_ &= ~button;
      return d.Mouse(s.right ? UiMouse::RightUp : UiMouse::LeftUp, x, y, buttons_, why);
    }
    case UiAction::Pick:
      return Pick(d, s.area, why);
    case UiAction::Wheel:
      for (int i = 0; i < std::abs(s.x); ++i) {
        if (!d.Wheel(s.x > 0 ? 120 : -120, buttons_, why)) return false;
        d.Pump();
      }
      return true;
    case UiAction::Leave:
      return d.Leave(why);
    case UiAction::Resize:
      return d.Resize(s.x, s.y, why);
    case UiAction::SaveSettings:
      d.AnswerNextFileDialog(&s.text);
      return d.Click(kUiSaveSettings, why);
    case UiAction::LoadSettings:
      // Checked here so that a missing file fails the same way everywhere
      // (Windows' own open dialog would refuse it and stay open).
      if (std::FILE* f = files::OpenFile(s.text, "rb")) {
        std::fclose(f);
      } else {
        why = "cannot read " + s.text;
        return false;
      }
      d.AnswerNextFileDialog(&s.text);
      return d.Click(kUiLoadSettings, why);
    case UiAction::CancelFileDialog:
      d.AnswerNextFileDialog(nullptr);
      return true;
    case UiAction::Screenshot: {
      std::vector<uint8> rgb;
      int width = 0, height = 0;
      if (!d.Screenshot(rgb, width, height, why)) return false;
      Image shot;
      shot.document = MakeDocument(width, height, 3, 8);
      std::copy(rgb.begin(), rgb.end(), shot.document.pixels.begin());
      return WriteImage(s.text, shot, &why);
    }
    case UiAction::Pump:
      d.Pump();
      return true;
  }
  why = "unknown step";
  return false;
}

// The eyedropper reads what the user sees, so the preview first shows the
// document at 100 %: scaled or sampled, one client pixel stands for several
// document pixels and the area could not be hit exactly. One wheel notch
// away from the user zooms in by one level.
bool UiRunner::ZoomToActualPixels(UiDriver& d, std::string& why) {
  constexpr int kMostNotches = 200;
  for (int notch = 0;; ++notch) {
    const DisplayedPreview before = host_.Displayed();
    if (before.paints == 0 || !before.fetchKnown) {
      why = "the preview has not been painted";
      return false;
    }
    if (ShowsActualPixels(before)) return true;
    if (notch == kMostNotches || !d.Wheel(120, buttons_, why)) break;
    d.Pump();
    const DisplayedPreview after = host_.Displayed();
    if (after.rate == before.rate && after.fetched.left == before.fetched.left &&
        after.fetched.right == before.fetched.right && after.painted.right == before.painted.right &&
        after.painted.bottom == before.painted.bottom && after.fetched.bottom == before.fetched.bottom)
      break;  // the wheel changed nothing
  }
  if (why.empty()) why = "the preview does not zoom to 100 %";
  return false;
}

// A drag in the preview with the right button pans it (in every mode, and
// without picking); the document follows the mouse. The mouse stays within
// the preview, as a user's must for the dialog to see it, so a long way
// takes several drags. Done when the area's first and last pixels show.
bool UiRunner::BringIntoView(UiDriver& d, const VRect& area, std::string& why) {
  constexpr int kMostDrags = 2000;
  for (int drag = 0; drag <= kMostDrags; ++drag) {
    const DisplayedPreview view = host_.Displayed();
    int64 x0 = 0, y0 = 0, x1 = 0, y1 = 0;
    if (!ImageToClient(view, area.left, area.top, x0, y0) ||
        !ImageToClient(view, int64(area.right) - 1, int64(area.bottom) - 1, x1, y1))
      break;
    if (PaintedContains(view, x0, y0) && PaintedContains(view, x1, y1)) return true;
    const int64 shownWidth = int64(view.painted.right) - view.painted.left;
    const int64 shownHeight = int64(view.painted.bottom) - view.painted.top;
    if (x1 - x0 >= shownWidth || y1 - y0 >= shownHeight) {
      why = "the area is larger than the preview shows at 100 % (" + std::to_string(shownWidth) + " x " +
            std::to_string(shownHeight) + " pixels)";
      return false;
    }
    // The area's centre towards the preview's.
    const int64 halfWidth = shownWidth / 2 - 1, halfHeight = shownHeight / 2 - 1;
    const int64 centreX = view.painted.left + shownWidth / 2, centreY = view.painted.top + shownHeight / 2;
    const int64 dx = std::max(-halfWidth, std::min(halfWidth, (x0 + x1) / 2 - centreX));
    const int64 dy = std::max(-halfHeight, std::min(halfHeight, (y0 + y1) / 2 - centreY));
    if (drag == kMostDrags || (dx == 0 && dy == 0)) break;
    if (!d.Mouse(UiMouse::RightDown, int(centreX), int(centreY), buttons_ | kUiRightButton, why) ||
        !d.Mouse(UiMouse::RightUp, int(centreX - dx), int(centreY - dy), buttons_, why))
      return false;
    d.Pump();
    const DisplayedPreview after = host_.Displayed();
    if (after.fetched.left == view.fetched.left && after.fetched.top == view.fetched.top) break;
  }
  if (why.empty()) why = "the area cannot be brought into the preview";
  return false;
}

bool UiRunner::Pick(UiDriver& d, const VRect& area, std::string& why) {
  if (!ZoomToActualPixels(d, why) || !BringIntoView(d, area, why)) return false;
  if (!d.Click(kUiEyedropper, why)) return false;
  d.Pump();
  // Pressed on the area's first pixel, released on its last: the plug-in
  // counts the pixel under the release in.
  UiStep start, end;
  start.x = area.left;
  start.y = area.top;
  end.x = area.right - 1;
  end.y = area.bottom - 1;
  int x0 = 0, y0 = 0, x1 = 0, y1 = 0;
  if (!ToClient(start, x0, y0, why) || !ToClient(end, x1, y1, why)) return false;
  return d.Mouse(UiMouse::LeftDown, x0, y0, buttons_ | kUiLeftButton, why) &&
         d.Mouse(UiMouse::LeftUp, x1, y1, buttons_, why);
}

// --- The session ----------------------------------------------------------------

UiSession::UiSession(Host& host, const PluginModule& module, UiScript script)
    : backend_(MakeUiBackend(host, module, std::move(script))) {}

UiSession::~UiSession() { Finish(); }

bool UiSession::Start(std::string* error) { return backend_->Start(error); }
void UiSession::Finish() { backend_->Finish(); }
bool UiSession::dialogSeen() const { return backend_->dialogSeen(); }
std::string UiSession::error() const { return backend_->error(); }
std::vector<std::string> UiSession::closingValues() const { return backend_->closingValues(); }

}  // namespace host

#include "host/ui/ui_script.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdlib>
#include <fstream>

#include "host/host.h"
#include "imageio/image_io.h"
#include "host/ui/ui_driver.h"

namespace host {

// The FILTERDIALOG's controls by the names a user reads on them.
const UiButton kUiButtons[kUiButtonCount] = {
    {"OK", 1},
    {"Cancel", 2},
    {"Reset", 12},
    {"Eyedropper", 902},
    {"Show Original", 901},
    {"Save Settings", 903},
    {"Load Settings", 904},
};

const UiRow kUiRows[kUiRowCount] = {
    {"R Gain", 20, 21, 22},
    {"R Gain (fine)", 30, 31, 32},
    {"G Gain", 40, 41, 42},
    {"G Gain (fine)", 50, 51, 52},
    {"B Gain", 60, 61, 62},
    {"B Gain (fine)", 70, 71, 72},
    {"Highlight Recovery", 80, 81, 82},
    {"Highlight Rolloff", 90, 91, 92},
};

namespace {

constexpr int kOk = 1, kCancel = 2, kEyedropper = 902, kSaveSettings = 903, kLoadSettings = 904;
// Mouse messages carry client coordinates as 16-bit numbers.
constexpr int64 kLargestClientCoordinate = 32767;

struct Token {
  std::string text;
  bool quoted = false;
};

std::string Lower(std::string s) {
  for (char& c : s) c = char(std::tolower(static_cast<unsigned char>(c)));
  return s;
}

// Lower case, without mnemonic ampersands, single spaces.
std::string NormalName(const std::string& name) {
  std::string out;
  for (char c : name) {
    if (c == '&') continue;
    if (std::isspace(static_cast<unsigned char>(c))) {
      if (!out.empty() && out.back() != ' ') out += ' ';
      continue;
    }
    out += char(std::tolower(static_cast<unsigned char>(c)));
  }
  while (!out.empty() && out.back() == ' ') out.pop_back();
  return out;
}

bool ParseInt(const std::string& text, int64 lowest, int64 highest, int32& value) {
  if (text.empty()) return false;
  char* end = nullptr;
  errno = 0;
  const long long v = std::strtoll(text.c_str(), &end, 10);
  if (errno != 0 || end == text.c_str() || *end != '\0' || v < lowest || v > highest) return false;
  value = int32(v);
  return true;
}

// Whole numbers separated by commas and/or spaces, exactly `count` of them.
bool ParseNumbers(const std::string& text, size_t count, int64 lowest, int64 highest,
                  std::vector<int32>& values, std::string& why) {
  std::string spaced = text;
  std::replace(spaced.begin(), spaced.end(), ',', ' ');
  values.clear();
  size_t at = 0;
  while (true) {
    at = spaced.find_first_not_of(' ', at);
    if (at == std::string::npos) break;
    const size_t end = std::min(spaced.find(' ', at), spaced.size());
    const std::string part = spaced.substr(at, end - at);
    int32 v = 0;
    if (!ParseInt(part, lowest, highest, v)) {
      why = "'" + part + "' is not a whole number from " + std::to_string(lowest) + " to " +
            std::to_string(highest);
      return false;
    }
    values.push_back(v);
    at = end;
  }
  if (values.size() != count) {
    why = "expected " + std::to_string(count) + " numbers, got '" + text + "'";
    return false;
  }
  return true;
}

std::string Join(const std::vector<Token>& t, size_t from, size_t to) {
  std::string out;
  for (size_t i = from; i < to && i < t.size(); ++i) {
    if (i > from) out += ' ';
    out += t[i].text;
  }
  return out;
}

std::string RowNames() {
  std::string names;
  for (const UiRow& r : kUiRows) names += (names.empty() ? "" : ", ") + std::string(r.name);
  return names;
}

bool FindButton(const std::string& name, int& id, std::string& why) {
  int32 number = 0;
  if (ParseInt(name, 0, 65535, number)) {
    for (const UiButton& b : kUiButtons)
      if (b.id == number) return id = number, true;
    why = "no button has the ID " + name;
    return false;
  }
  const std::string wanted = NormalName(name);
  for (const UiButton& b : kUiButtons)
    if (NormalName(b.name) == wanted) return id = b.id, true;
  why = "unknown button '" + name +
        "' (OK, Cancel, Reset, Eyedropper, \"Show Original\", \"Save Settings\", \"Load Settings\" or an ID)";
  return false;
}

bool FindRow(const std::string& name, int& row, std::string& why) {
  int32 number = 0;
  const bool byId = ParseInt(name, 0, 65535, number);
  const std::string wanted = NormalName(name);
  for (int i = 0; i < kUiRowCount; ++i) {
    const UiRow& r = kUiRows[i];
    if (byId ? (number == r.label || number == r.trackbar || number == r.edit) : NormalName(r.name) == wanted)
      return row = i, true;
  }
  why = byId ? "no setting row has a control with the ID " + name
             : "unknown control '" + name + "' (" + RowNames() + ", or an ID)";
  return false;
}

// The steps of one line, split at ';' and cut at '#', outside quotes.
bool SplitLine(const std::string& line, std::vector<std::string>& steps, std::string& why) {
  std::string current;
  bool quoted = false;
  for (char c : line) {
    if (c == '"') quoted = !quoted;
    if (!quoted && c == '#') break;
    if (!quoted && c == ';') {
      steps.push_back(current);
      current.clear();
      continue;
    }
    current += c;
  }
  if (quoted) {
    why = "a quote is not closed";
    return false;
  }
  steps.push_back(current);
  return true;
}

void Tokenize(const std::string& step, std::vector<Token>& tokens) {
  size_t i = 0;
  while (i < step.size()) {
    const char c = step[i];
    if (std::isspace(static_cast<unsigned char>(c))) {
      ++i;
      continue;
    }
    Token t;
    if (c == '"') {
      const size_t end = step.find('"', i + 1);  // SplitLine saw it closed
      t.text = step.substr(i + 1, end - i - 1);
      t.quoted = true;
      i = end + 1;
    } else {
      while (i < step.size() && !std::isspace(static_cast<unsigned char>(step[i])) && step[i] != '"')
        t.text += step[i++];
    }
    tokens.push_back(t);
  }
}

bool HasControlCharacters(const std::string& text) {
  for (char c : text)
    if (static_cast<unsigned char>(c) < 0x20 || c == 0x7f) return true;
  return false;
}

bool ImageExtension(const std::string& path) {
  const std::string lower = Lower(path);
  for (const char* e : {".png", ".tif", ".tiff"}) {
    const std::string ext(e);
    if (lower.size() > ext.size() && lower.compare(lower.size() - ext.size(), ext.size(), ext) == 0)
      return true;
  }
  return false;
}

bool ParseStep(const std::vector<Token>& t, UiStep& s, std::string& why) {
  std::string keyword = Lower(t[0].text);
  if (keyword == "doubleclick") keyword = "double-click";
  const size_t args = t.size() - 1;
  auto none = [&]() {
    if (args == 0) return true;
    why = "'" + keyword + "' takes nothing after it";
    return false;
  };
  auto atLeast = [&](size_t n, const char* form) {
    if (args >= n) return true;
    why = "'" + keyword + "' needs " + form;
    return false;
  };
  const std::string client = "-client";
  bool inClient = false;
  if (keyword.size() > client.size() &&
      keyword.compare(keyword.size() - client.size(), client.size(), client) == 0) {
    keyword.resize(keyword.size() - client.size());
    inClient = true;
    if (keyword != "press" && keyword != "move" && keyword != "release") {
      why = "unknown step '" + t[0].text + "'";
      return false;
    }
  }
  s.client = inClient;

  if (keyword == "ok" || keyword == "cancel") {
    s.action = UiAction::Click;
    s.control = keyword == "ok" ? kOk : kCancel;
    return none();
  }
  if (keyword == "pump" || keyword == "leave" || keyword == "cancel-file-dialog") {
    s.action = keyword == "pump" ? UiAction::Pump : keyword == "leave" ? UiAction::Leave : UiAction::CancelFileDialog;
    return none();
  }
  if (keyword == "click") {
    s.action = UiAction::Click;
    return atLeast(1, "a button") && FindButton(Join(t, 1, t.size()), s.control, why);
  }
  if (keyword == "drag") {
    s.action = UiAction::Drag;
    if (!atLeast(2, "a control and a position") || !FindRow(Join(t, 1, t.size() - 1), s.row, why)) return false;
    if (!ParseInt(t.back().text, -100000, 100000, s.x)) {
      why = "'" + t.back().text + "' is not a whole-number trackbar position";
      return false;
    }
    return true;
  }
  if (keyword == "type" || keyword == "set") {
    s.action = keyword == "type" ? UiAction::Type : UiAction::Set;
    if (!atLeast(2, "a control and the text") || !FindRow(Join(t, 1, t.size() - 1), s.row, why)) return false;
    s.text = t.back().text;
    if (s.action == UiAction::Type && s.text.empty()) {
      why = "nothing to type";
      return false;
    }
    if (HasControlCharacters(s.text)) {
      why = "the text has control characters";
      return false;
    }
    return true;
  }
  if (keyword == "clear" || keyword == "double-click") {
    s.action = keyword == "clear" ? UiAction::Clear : UiAction::DoubleClick;
    return atLeast(1, "a control") && FindRow(Join(t, 1, t.size()), s.row, why);
  }
  if (keyword == "press" || keyword == "release") {
    s.action = keyword == "press" ? UiAction::Press : UiAction::Release;
    if (!atLeast(2, "a button (left or right) and X,Y")) return false;
    const std::string button = Lower(t[1].text);
    if (button != "left" && button != "right") {
      why = "the mouse button is 'left' or 'right', not '" + t[1].text + "'";
      return false;
    }
    s.right = button == "right";
    std::vector<int32> v;
    if (!ParseNumbers(Join(t, 2, t.size()), 2, -1000000000, 1000000000, v, why)) return false;
    s.x = v[0];
    s.y = v[1];
    return true;
  }
  if (keyword == "move") {
    s.action = UiAction::Move;
    std::vector<int32> v;
    if (!atLeast(1, "X,Y") || !ParseNumbers(Join(t, 1, t.size()), 2, -1000000000, 1000000000, v, why))
      return false;
    s.x = v[0];
    s.y = v[1];
    return true;
  }
  if (keyword == "pick") {
    s.action = UiAction::Pick;
    std::vector<int32> v;
    if (!atLeast(1, "TOP,LEFT,BOTTOM,RIGHT") ||
        !ParseNumbers(Join(t, 1, t.size()), 4, 0, 2000000000, v, why))
      return false;
    s.area = VRect{v[0], v[1], v[2], v[3]};
    if (s.area.bottom <= s.area.top || s.area.right <= s.area.left) {
      why = "the area needs TOP < BOTTOM and LEFT < RIGHT";
      return false;
    }
    return true;
  }
  if (keyword == "wheel") {
    s.action = UiAction::Wheel;
    if (args != 1) {
      why = "'wheel' needs one number of notches, from -100 to 100 (not 0)";
      return false;
    }
    if (!ParseInt(t[1].text, -100, 100, s.x) || s.x == 0) {
      why = "'wheel' takes -100 to 100 notches (not 0), not '" + t[1].text + "'";
      return false;
    }
    return true;
  }
  if (keyword == "resize") {
    s.action = UiAction::Resize;
    std::vector<int32> v;
    if (!atLeast(1, "a width and a height") || !ParseNumbers(Join(t, 1, t.size()), 2, 1, 20000, v, why))
      return false;
    s.x = v[0];
    s.y = v[1];
    return true;
  }
  if (keyword == "save-settings" || keyword == "load-settings" || keyword == "screenshot") {
    s.action = keyword == "save-settings"   ? UiAction::SaveSettings
               : keyword == "load-settings" ? UiAction::LoadSettings
                                            : UiAction::Screenshot;
    if (!atLeast(1, "a file name")) return false;
    s.text = Join(t, 1, t.size());
    if (s.text.empty()) {
      why = "the file name is empty";
      return false;
    }
    if (s.action == UiAction::Screenshot && !ImageExtension(s.text)) {
      why = "a screenshot is written as .png, .tif or .tiff";
      return false;
    }
    return true;
  }
  why = "unknown step '" + t[0].text + "'";
  return false;
}

bool Ends(const UiStep& s) {
  return s.action == UiAction::Click && (s.control == kOk || s.control == kCancel);
}

std::string Where(const UiStep& s) {
  return "line " + std::to_string(s.line) + ": ";
}

}  // namespace

bool UiScript::EndsDialog() const { return !steps.empty() && Ends(steps.back()); }

bool UiScript::NeedsPreview() const {
  for (const UiStep& s : steps) {
    switch (s.action) {
      case UiAction::Pick:
      case UiAction::Screenshot:
        return true;
      case UiAction::Press:
      case UiAction::Move:
      case UiAction::Release:
        if (!s.client) return true;
        break;
      default:
        break;
    }
  }
  return false;
}

bool ParseUiScript(const std::string& input, UiScript& script, std::string* error) {
  // Editors on Windows start UTF-8 files with a byte-order mark; it is not
  // part of the first step.
  const std::string text = input.compare(0, 3, "\xEF\xBB\xBF") == 0 ? input.substr(3) : input;
  std::vector<UiStep> parsed;
  bool ended = !script.steps.empty() && script.EndsDialog();
  size_t start = 0;
  for (int line = 1; start <= text.size(); ++line) {
    size_t end = text.find('\n', start);
    if (end == std::string::npos) end = text.size();
    std::string content = text.substr(start, end - start);
    if (!content.empty() && content.back() == '\r') content.pop_back();
    start = end + 1;

    std::vector<std::string> steps;
    std::string why;
    if (!SplitLine(content, steps, why)) {
      if (error) *error = "line " + std::to_string(line) + ": " + why;
      return false;
    }
    for (const std::string& source : steps) {
      std::vector<Token> tokens;
      Tokenize(source, tokens);
      if (tokens.empty()) continue;
      UiStep step;
      step.line = line;
      step.source = source.substr(source.find_first_not_of(" \t"));
      step.source.erase(step.source.find_last_not_of(" \t") + 1);
      if (ended) {
        why = "the dialog has closed; nothing can follow OK or Cancel";
      } else if (ParseStep(tokens, step, why)) {
        ended = Ends(step);
        parsed.push_back(step);
        continue;
      }
      if (error) *error = Where(step) + why + " (in: " + step.source + ")";
      return false;
    }
  }
  script.steps.insert(script.steps.end(), parsed.begin(), parsed.end());
  return true;
}

UiStep PickStep(const VRect& area) {
  UiStep s;
  s.action = UiAction::Pick;
  s.area = area;
  s.source = "pick " + std::to_string(area.top) + "," + std::to_string(area.left) + "," +
             std::to_string(area.bottom) + "," + std::to_string(area.right);
  return s;
}

UiStep SetStep(int row, const std::string& text) {
  UiStep s;
  s.action = UiAction::Set;
  s.row = row;
  s.text = text;
  s.source = std::string("set \"") + kUiRows[row].name + "\" " + text;
  return s;
}

UiStep LoadSettingsStep(const std::string& fileName) {
  UiStep s;
  s.action = UiAction::LoadSettings;
  s.text = fileName;
  s.source = "load-settings \"" + fileName + "\"";
  return s;
}

UiStep ClickStep(int id) {
  UiStep s;
  s.action = UiAction::Click;
  s.control = id;
  s.source = id == kOk ? "ok" : id == kCancel ? "cancel" : "click " + std::to_string(id);
  return s;
}

// --- Playing ------------------------------------------------------------------

bool UiRunner::Run(UiDriver& driver) {
  for (const UiStep& step : script_.steps) {
    std::string why;
    const bool closes = step.action == UiAction::Click && (step.control == 1 || step.control == 2);
    if (closes && !driver.Ended()) {
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
    error_ = (step.line > 0 ? Where(step) : std::string()) + why + " (in: " + step.source + ")";
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
      return d.Click(kSaveSettings, why);
    case UiAction::LoadSettings:
      // Checked here so that a missing file fails the same way everywhere
      // (Windows' own open dialog would refuse it and stay open).
      if (!std::ifstream(s.text, std::ios::binary)) {
        why = "cannot read " + s.text;
        return false;
      }
      d.AnswerNextFileDialog(&s.text);
      return d.Click(kLoadSettings, why);
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
  if (!d.Click(kEyedropper, why)) return false;
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

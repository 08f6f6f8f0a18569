// UI scripts read: the text of a script into its steps, each checked whole
// before anything is played, and the steps the kestrelle options make.
#include "host/ui/ui_script.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <cerrno>
#include <cstdlib>

#include "hostapi/setting_table.h"

namespace host {

namespace {

constexpr std::array<UiRow, kUiRowCount> SettingRows() {
  std::array<UiRow, kUiRowCount> rows{};
  for (int i = 0; i < kUiRowCount; ++i)
    rows[i] = {kSettings[i].label, kSettings[i].labelId, kSettings[i].trackbarId, kSettings[i].editId};
  return rows;
}

}  // namespace

// The FILTERDIALOG's controls by the names a user reads on them: the
// buttons, and a row per setting under its label.
const UiButton kUiButtons[kUiButtonCount] = {
    {"OK", kUiOk},
    {"Cancel", kUiCancel},
    {"Reset", kUiReset},
    {"Eyedropper", kUiEyedropper},
    {"Show Original", kUiShowOriginal},
    {"Save Settings", kUiSaveSettings},
    {"Load Settings", kUiLoadSettings},
};

const std::array<UiRow, kUiRowCount> kUiRows = SettingRows();

namespace {

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
    s.control = keyword == "ok" ? kUiOk : kUiCancel;
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

}  // namespace

bool UiStep::ClosesDialog() const {
  return action == UiAction::Click && (control == kUiOk || control == kUiCancel);
}

std::string UiStep::Where() const { return "line " + std::to_string(line) + ": "; }

bool UiScript::EndsDialog() const { return !steps.empty() && steps.back().ClosesDialog(); }

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
        ended = step.ClosesDialog();
        parsed.push_back(step);
        continue;
      }
      if (error) *error = step.Where() + why + " (in: " + step.source + ")";
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
  s.source = id == kUiOk ? "ok" : id == kUiCancel ? "cancel" : "click " + std::to_string(id);
  return s;
}

}  // namespace host

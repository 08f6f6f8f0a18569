#include "message_log.h"

#include <chrono>
#include <cstdio>

#ifdef _WIN32
#include <windows.h>
#endif

namespace host {

MessageLog::~MessageLog() { Detach(); }

void MessageLog::Attach(const PluginModule& module, bool echo, bool cancelDialogs) {
  Detach();
  echo_ = echo;
  cancelDialogs_ = cancelDialogs;
  setSink_ = reinterpret_cast<SetSinkFn>(module.Symbol("KestrelleSetMessageSink"));
  if (setSink_) setSink_(&MessageLog::Sink, this);
#ifdef _WIN32
  stop_ = false;
  watcher_ = std::thread([this] { Watch(); });
#endif
}

void MessageLog::Detach() {
  if (setSink_) setSink_(nullptr, nullptr);
  setSink_ = nullptr;
#ifdef _WIN32
  if (watcher_.joinable()) {
    stop_ = true;
    watcher_.join();
  }
#endif
}

void MessageLog::Sink(const char* text, const char* caption, void* context) {
  static_cast<MessageLog*>(context)->Add(text ? text : "", caption ? caption : "");
}

void MessageLog::Add(const std::string& text, const std::string& caption) {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    messages_.push_back({text, caption});
  }
  if (echo_) std::fprintf(stderr, "%s: %s\n", caption.c_str(), text.c_str());
}

std::vector<ShownBox> MessageLog::Messages() const {
  Settle();
  std::lock_guard<std::mutex> lock(mutex_);
  return messages_;
}

void MessageLog::Clear() {
  std::lock_guard<std::mutex> lock(mutex_);
  messages_.clear();
}

#ifdef _WIN32
namespace {

struct Search {
  DWORD process;
  HWND found;
};

// A common file dialog (its file name field is edt1 or cmb13). A UI script
// plays those, and answers the questions they ask; the watcher leaves them
// alone.
bool IsFileDialog(HWND window) {
  char cls[16] = {};
  if (!window || !GetClassNameA(window, cls, sizeof cls) || lstrcmpA(cls, "#32770") != 0) return false;
  return GetDlgItem(window, 0x480) != nullptr || GetDlgItem(window, 0x47c) != nullptr;
}

BOOL CALLBACK FindBox(HWND window, LPARAM context) {
  Search* s = reinterpret_cast<Search*>(context);
  DWORD process = 0;
  GetWindowThreadProcessId(window, &process);
  char cls[16] = {};
  GetClassNameA(window, cls, sizeof cls);
  // A message box: a dialog with its text in static 0xFFFF, and no sizing
  // border (which tells it from the filter's own dialog).
  const LONG style = GetWindowLongA(window, GWL_STYLE);
  if (process == s->process && lstrcmpA(cls, "#32770") == 0 && IsWindowVisible(window) &&
      GetDlgItem(window, 0xFFFF) != nullptr && !(style & WS_THICKFRAME) && !IsFileDialog(window) &&
      !IsFileDialog(GetWindow(window, GW_OWNER))) {
    s->found = window;
    return FALSE;
  }
  return TRUE;
}

HWND OpenBox() {
  Search s{GetCurrentProcessId(), nullptr};
  EnumWindows(FindBox, reinterpret_cast<LPARAM>(&s));
  return s.found;
}

BOOL CALLBACK FindFilterDialog(HWND window, LPARAM context) {
  Search* s = reinterpret_cast<Search*>(context);
  DWORD process = 0;
  GetWindowThreadProcessId(window, &process);
  char cls[16] = {};
  GetClassNameA(window, cls, sizeof cls);
  const LONG style = GetWindowLongA(window, GWL_STYLE);
  if (process == s->process && lstrcmpA(cls, "#32770") == 0 && IsWindowVisible(window) &&
      (style & WS_THICKFRAME) && !IsFileDialog(window)) {
    s->found = window;
    return FALSE;
  }
  return TRUE;
}

}  // namespace

void MessageLog::Watch() {
  HWND answered = nullptr;
  while (!stop_) {
    HWND box = OpenBox();
    if (box && box != answered) {
      char caption[256] = {}, text[4096] = {};
      GetWindowTextA(box, caption, sizeof caption);
      GetDlgItemTextA(box, 0xFFFF, text, sizeof text);
      Add(text, caption);
      answered = box;
      PostMessageA(box, WM_COMMAND, IDOK, 0);
    } else if (!box) {
      answered = nullptr;
    }
    if (cancelDialogs_) {
      Search s{GetCurrentProcessId(), nullptr};
      EnumWindows(FindFilterDialog, reinterpret_cast<LPARAM>(&s));
      if (s.found) PostMessageA(s.found, WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED), 0);
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
}

void MessageLog::Settle() const {
  for (int i = 0; i < 500 && OpenBox() != nullptr; ++i)
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
}
#else
void MessageLog::Settle() const {}
#endif

}  // namespace host

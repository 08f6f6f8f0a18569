// Message boxes on Windows are real windows of this process: a thread finds
// each one the plug-in opens, records its caption and text, and answers OK.
#include "host/message_log.h"

#include <chrono>
#include <windows.h>

#include "host/window_search.h"

namespace host {

namespace {

// The plug-in's message boxes; not those of a file dialog, which a UI script
// plays and answers itself.
bool IsPluginBox(HWND w, HWND) {
  return IsMessageBox(w) && !IsFileDialog(w) && !IsFileDialog(GetWindow(w, GW_OWNER));
}

bool IsOpenFilterDialog(HWND w, HWND) { return IsFilterDialog(w); }

HWND OpenBox() { return FindWindowOfThisProcess(IsPluginBox); }

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
      if (HWND dialog = FindWindowOfThisProcess(IsOpenFilterDialog))
        PostMessageA(dialog, WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED), 0);
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
}

void MessageLog::Settle() const {
  for (int i = 0; i < 500 && OpenBox() != nullptr; ++i)
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
}
void MessageLog::StartWatching() {
  stop_ = false;
  watcher_ = std::thread([this] { Watch(); });
}

void MessageLog::StopWatching() {
  if (watcher_.joinable()) {
    stop_ = true;
    watcher_.join();
  }
}

}  // namespace host

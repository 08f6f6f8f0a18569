#include "host/message_log.h"

#include <chrono>
#include <cstdio>

#include "host/window_search.h"

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
#else
void MessageLog::Settle() const {}
#endif

}  // namespace host

// UI scripts on the real Windows dialog. The plug-in runs its modal dialog
// on the host's main thread; a second thread waits for that dialog to
// appear and plays every step with the window messages a user's mouse and
// keyboard would produce, sent to the real controls, waiting for each to be
// processed (and painted) before the next.
#ifdef _WIN32
#include <windows.h>
#include <commctrl.h>

#include <atomic>
#include <chrono>
#include <deque>
#include <thread>

#include "files/system_names.h"
#include "host/host.h"
#include "host/plugin_module.h"
#include "host/ui/ui_driver.h"
#include "host/window_search.h"

namespace host {
namespace {

constexpr int kPreviewFrame = 900, kSaveSettings = 903, kLoadSettings = 904;
// How long a step may take before the dialog counts as hung: generous,
// because the 32-bit tests run under an emulator.
constexpr DWORD kAnswerTimeout = 60000;
constexpr auto kWindowTimeout = std::chrono::seconds(60);

// The filter dialog.
bool IsOpenFilterDialog(HWND w, HWND) { return IsFilterDialog(w); }

// A common file dialog the filter dialog owns.
bool IsOwnedFileDialog(HWND w, HWND owner) { return IsFileDialog(w) && GetWindow(w, GW_OWNER) == owner; }

// A message box of a file dialog (replace the file? no such file?).
bool IsOwnedBox(HWND w, HWND owner) {
  return IsDialogOfThisProcess(w) && GetWindow(w, GW_OWNER) == owner && GetDlgItem(w, 0xFFFF);
}

// Any message box of this process: the plug-in's are answered by the
// host's MessageLog watcher.
bool IsAnyBox(HWND w, HWND) { return IsMessageBox(w); }

template <typename Condition>
bool WaitUntil(Condition done, std::chrono::steady_clock::duration timeout = kWindowTimeout) {
  const auto until = std::chrono::steady_clock::now() + timeout;
  while (!done()) {
    if (std::chrono::steady_clock::now() > until) return false;
    Sleep(10);
  }
  return true;
}

class WindowsDriver : public UiDriver {
 public:
  explicit WindowsDriver(HWND dialog) : dialog_(dialog) {}

  bool Click(int id, std::string& why) override {
    HWND c = Item(id, why);
    if (!c) return false;
    // The settings buttons open a modal file dialog: posted, so this
    // thread is free to answer it.
    if (id == kSaveSettings || id == kLoadSettings) return ClickIntoFileDialog(c, why);
    Send(c, BM_CLICK, 0, 0);
    return Answered(why);
  }

  bool DoubleClick(int id, std::string& why) override {
    HWND c = Item(id, why);
    if (!c) return false;
    RECT r{};
    GetClientRect(c, &r);
    const LPARAM at = MAKELPARAM(r.right / 2, r.bottom / 2);
    Send(c, WM_LBUTTONDOWN, MK_LBUTTON, at);
    Send(c, WM_LBUTTONUP, 0, at);
    Send(c, WM_LBUTTONDBLCLK, MK_LBUTTON, at);
    Send(c, WM_LBUTTONUP, 0, at);
    return Answered(why);
  }

  // Each character at the end of the text, as a key press: every one gives
  // the dialog its own EN_CHANGE.
  bool Type(int edit, const std::string& text, std::string& why) override {
    HWND c = Item(edit, why);
    if (!c) return false;
    for (char ch : text) {
      const LRESULT length = Send(c, WM_GETTEXTLENGTH, 0, 0);
      Send(c, EM_SETSEL, WPARAM(length), length);
      Send(c, WM_CHAR, WPARAM(static_cast<unsigned char>(ch)), 1);
    }
    return Answered(why);
  }

  bool Text(int id, std::string& text, std::string& why) override {
    HWND c = Item(id, why);
    if (!c) return false;
    char buffer[256] = {};
    Send(c, WM_GETTEXT, sizeof buffer, reinterpret_cast<LPARAM>(buffer));
    buffer[sizeof buffer - 1] = '\0';
    text = buffer;
    return true;
  }

  bool Clear(int edit, std::string& why) override {
    HWND c = Item(edit, why);
    if (!c) return false;
    Send(c, EM_SETSEL, 0, -1);
    Send(c, WM_CHAR, VK_BACK, 1);
    return Answered(why);
  }

  // The thumb moved and tracked: the new position shows when the trackbar
  // repaints, and its paint notification (NM_CUSTOMDRAW) is what the dialog
  // reads the position from.
  bool DragThumb(int trackbar, int position, std::string& why) override {
    HWND c = Item(trackbar, why);
    if (!c) return false;
    Send(c, TBM_SETPOS, TRUE, position);
    const WORD at = WORD(Send(c, TBM_GETPOS, 0, 0));
    Send(dialog_, WM_HSCROLL, MAKEWPARAM(TB_THUMBTRACK, at), reinterpret_cast<LPARAM>(c));
    UpdateWindow(c);
    Send(dialog_, WM_HSCROLL, MAKEWPARAM(TB_THUMBPOSITION, at), reinterpret_cast<LPARAM>(c));
    Send(dialog_, WM_HSCROLL, MAKEWPARAM(TB_ENDTRACK, 0), reinterpret_cast<LPARAM>(c));
    UpdateWindow(c);
    return Answered(why);
  }

  // The real cursor goes where the message says, so that what the dialog
  // asks the system (TrackMouseEvent, the cursor's window) agrees with it.
  bool Mouse(UiMouse event, int x, int y, unsigned buttons, std::string& why) override {
    POINT p{x, y};
    ClientToScreen(dialog_, &p);
    SetCursorPos(p.x, p.y);
    UINT message = WM_MOUSEMOVE;
    switch (event) {
      case UiMouse::LeftDown: message = WM_LBUTTONDOWN; break;
      case UiMouse::LeftUp: message = WM_LBUTTONUP; break;
      case UiMouse::RightDown: message = WM_RBUTTONDOWN; break;
      case UiMouse::RightUp: message = WM_RBUTTONUP; break;
      case UiMouse::Move: break;
    }
    Send(dialog_, message, WPARAM(buttons), MAKELPARAM(WORD(x), WORD(y)));
    return Answered(why);
  }

  bool Leave(std::string& why) override {
    Send(dialog_, WM_MOUSELEAVE, 0, 0);
    return Answered(why);
  }

  bool Wheel(int delta, unsigned buttons, std::string& why) override {
    HWND frame = Item(kPreviewFrame, why);
    if (!frame) return false;
    RECT f{};
    GetWindowRect(frame, &f);
    const int x = (f.left + f.right) / 2, y = (f.top + f.bottom) / 2;
    SetCursorPos(x, y);
    Send(dialog_, WM_MOUSEWHEEL, MAKEWPARAM(WORD(buttons), WORD(short(delta))), MAKELPARAM(WORD(x), WORD(y)));
    return Answered(why);
  }

  // The bottom-right corner dragged: the dialog may correct the proposed
  // rectangle (WM_SIZING), then the window takes it.
  bool Resize(int width, int height, std::string& why) override {
    RECT r{};
    GetWindowRect(dialog_, &r);
    r.right = r.left + width;
    r.bottom = r.top + height;
    Send(dialog_, WM_SIZING, WMSZ_BOTTOMRIGHT, reinterpret_cast<LPARAM>(&r));
    SetWindowPos(dialog_, nullptr, r.left, r.top, r.right - r.left, r.bottom - r.top,
                 SWP_NOZORDER | SWP_NOACTIVATE);
    return Answered(why);
  }

  void AnswerNextFileDialog(const std::string* fileName) override {
    answers_.push_back(fileName ? Answer{true, *fileName} : Answer{false, std::string()});
  }

  // The window as it is on the screen, frame and caption included.
  bool Screenshot(std::vector<uint8>& rgb, int& width, int& height, std::string& why) override {
    Pump();
    RECT r{};
    GetWindowRect(dialog_, &r);
    width = r.right - r.left;
    height = r.bottom - r.top;
    if (width <= 0 || height <= 0) {
      why = "the dialog has no size";
      return false;
    }
    BITMAPINFO info{};
    info.bmiHeader.biSize = sizeof info.bmiHeader;
    info.bmiHeader.biWidth = width;
    info.bmiHeader.biHeight = -height;
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 24;
    info.bmiHeader.biCompression = BI_RGB;
    HDC window = GetWindowDC(dialog_);
    HDC memory = CreateCompatibleDC(window);
    void* bits = nullptr;
    HBITMAP bitmap = CreateDIBSection(memory, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
    bool ok = false;
    if (window && memory && bitmap && bits) {
      HGDIOBJ previous = SelectObject(memory, bitmap);
      ok = BitBlt(memory, 0, 0, width, height, window, 0, 0, SRCCOPY) != FALSE;
      GdiFlush();
      if (ok) {
        const size_t stride = (size_t(width) * 3 + 3) & ~size_t(3);
        rgb.resize(size_t(width) * size_t(height) * 3);
        for (int y = 0; y < height; ++y) {
          const uint8* in = static_cast<const uint8*>(bits) + size_t(y) * stride;
          uint8* out = rgb.data() + size_t(y) * size_t(width) * 3;
          for (int x = 0; x < width; ++x, in += 3, out += 3) {
            out[0] = in[2];
            out[1] = in[1];
            out[2] = in[0];
          }
        }
      }
      SelectObject(memory, previous);
    }
    if (bitmap) DeleteObject(bitmap);
    if (memory) DeleteDC(memory);
    if (window) ReleaseDC(dialog_, window);
    if (!ok) why = "the dialog could not be captured";
    return ok;
  }

  // Sent messages are processed at once; what they post (paints, mouse
  // leave notices) is let through, then whatever is invalid is painted.
  void Pump() override {
    for (int round = 0; round < 2; ++round) {
      Send(dialog_, WM_NULL, 0, 0);
      RedrawWindow(dialog_, nullptr, nullptr, RDW_UPDATENOW | RDW_ALLCHILDREN);
      Sleep(5);
    }
    Send(dialog_, WM_NULL, 0, 0);
  }

  bool Ended() override { return !IsWindow(dialog_) || !IsWindowVisible(dialog_); }

 private:
  struct Answer {
    bool choose;
    std::string fileName;
  };

  HWND Item(int id, std::string& why) {
    HWND c = GetDlgItem(dialog_, id);
    if (!c) why = "the dialog has no control with the ID " + std::to_string(id);
    return c;
  }

  // A message the dialog must answer within the time limit; text in
  // characters (the file dialog's name) goes through the wide call.
  LRESULT Send(HWND window, UINT message, WPARAM wParam, LPARAM lParam, bool wide = false) {
    DWORD_PTR result = 0;
    const BOOL answered =
        wide ? SendMessageTimeoutW(window, message, wParam, lParam, SMTO_NORMAL, kAnswerTimeout, &result)
             : SendMessageTimeoutA(window, message, wParam, lParam, SMTO_NORMAL, kAnswerTimeout, &result);
    if (!answered && IsWindow(window)) hung_ = true;
    return LRESULT(result);
  }

  bool Answered(std::string& why) {
    if (!hung_) return true;
    why = "the dialog stopped answering";
    return false;
  }

  // Clicks a settings button and plays its file dialog: the queued file
  // name typed into the name field and the default button pressed, or
  // Cancel. A question the file dialog asks (replace the file?) gets its
  // default answer, as a user pressing Enter.
  bool ClickIntoFileDialog(HWND button, std::string& why) {
    Answer answer{false, std::string()};
    if (!answers_.empty()) {
      answer = answers_.front();
      answers_.pop_front();
    }
    PostMessageA(button, BM_CLICK, 0, 0);
    HWND files = nullptr;
    if (!WaitUntil([&] { return (files = FindWindowOfThisProcess(IsOwnedFileDialog, dialog_)) != nullptr; })) {
      why = "the file dialog did not open";
      return false;
    }
    if (answer.choose) {
      HWND name = GetDlgItem(files, kFileNameEdit);
      if (!name) name = GetDlgItem(files, kFileNameCombo);
      // Typed as characters: the dialog is a wide one, and the name may
      // hold letters of any language.
      const std::wstring typed = files::Wide(answer.fileName);
      Send(name, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(typed.c_str()), true);
      const LRESULT preset = Send(files, DM_GETDEFID, 0, 0);
      const int id = HIWORD(preset) == DC_HASDEFID ? LOWORD(preset) : IDOK;
      PostMessageA(files, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED), reinterpret_cast<LPARAM>(GetDlgItem(files, id)));
    } else {
      PostMessageA(files, WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED),
                   reinterpret_cast<LPARAM>(GetDlgItem(files, IDCANCEL)));
    }
    HWND question = nullptr;
    const bool closed = WaitUntil([&] {
      if (!IsWindow(files) || !IsWindowVisible(files)) return true;
      HWND box = FindWindowOfThisProcess(IsOwnedBox, files);
      if (box && box != question) {
        question = box;
        const LRESULT preset = Send(box, DM_GETDEFID, 0, 0);
        const int id = HIWORD(preset) == DC_HASDEFID ? LOWORD(preset) : IDOK;
        PostMessageA(box, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED), 0);
      }
      return false;
    });
    if (!closed) {
      PostMessageA(files, WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED), 0);
      why = "the file dialog did not accept " + answer.fileName;
      return false;
    }
    // The command goes on after the file dialog: the plug-in's own message
    // boxes (answered by the host's watcher) and its repaint.
    WaitUntil([] { return FindWindowOfThisProcess(IsAnyBox) == nullptr; }, std::chrono::seconds(10));
    Send(dialog_, WM_NULL, 0, 0);
    return Answered(why);
  }

  HWND dialog_;
  bool hung_ = false;
  std::deque<Answer> answers_;
};

class WindowsBackend : public UiSession::Backend {
 public:
  WindowsBackend(Host& host, UiScript script) : host_(host), script_(std::move(script)) {}
  ~WindowsBackend() override { Finish(); }

  bool Start(std::string*) override {
    stop_ = false;
    thread_ = std::thread([this] { Play(); });
    return true;
  }

  void Finish() override {
    stop_ = true;
    if (thread_.joinable()) thread_.join();
  }

  bool dialogSeen() const override { return seen_; }
  std::string error() const override { return error_; }
  std::vector<std::string> closingValues() const override { return closingValues_; }

 private:
  void Play() {
    HWND dialog = nullptr;
    while (!stop_ && (dialog = FindWindowOfThisProcess(IsOpenFilterDialog)) == nullptr) Sleep(10);
    if (!dialog) return;
    seen_ = true;
    WindowsDriver driver(dialog);
    // The preview is painted after the dialog shows; image coordinates
    // need it. (A host without buffer procs gets no preview at all.)
    if (script_.NeedsPreview()) WaitUntil([&] {
      driver.Pump();
      return stop_ || driver.Ended() || host_.Displayed().paints > 0;
    }, std::chrono::seconds(20));
    UiRunner runner(host_, script_);
    const bool played = runner.Run(driver);
    if (!played) error_ = runner.error();
    closingValues_ = runner.closingValues();
    // As the headless window system does: a dialog the script leaves open
    // is cancelled (one it closed may still be showing for a moment).
    if (!(played && script_.EndsDialog()) && !driver.Ended())
      PostMessageA(dialog, WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED),
                   reinterpret_cast<LPARAM>(GetDlgItem(dialog, IDCANCEL)));
  }

  Host& host_;
  UiScript script_;
  std::thread thread_;
  std::atomic<bool> stop_{false};
  std::atomic<bool> seen_{false};
  std::string error_;  // written by the thread, read after it is joined
  std::vector<std::string> closingValues_;  // likewise
};

}  // namespace

std::unique_ptr<UiSession::Backend> MakeUiBackend(Host& host, const PluginModule&, UiScript script) {
  return std::make_unique<WindowsBackend>(host, std::move(script));
}

}  // namespace host
#endif

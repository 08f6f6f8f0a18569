// UI scripts on the native module's headless window system: the module
// calls the script from inside its dialog loop, and every action goes
// through the KestrelleHeadless() table, which produces the messages the
// real controls would.
#ifndef _WIN32
#include <cstdlib>
#include <cstring>

#include "platform/headless/headless_driver.h"
#include "host/plugin_module.h"
#include "host/ui/ui_driver.h"

namespace host {
namespace {

constexpr int kPreviewFrame = 900;

class HeadlessDriver : public UiDriver {
 public:
  HeadlessDriver(const KestrelleHeadlessApi* api, HWND dialog) : api_(api), dialog_(dialog) {}

  bool Click(int id, std::string& why) override {
    HWND c = Item(id, why);
    if (c) api_->Click(c);
    return c != nullptr;
  }
  bool DoubleClick(int id, std::string& why) override {
    HWND c = Item(id, why);
    if (c) api_->DoubleClick(c);
    return c != nullptr;
  }
  bool Type(int edit, const std::string& text, std::string& why) override {
    HWND c = Item(edit, why);
    if (c) api_->Type(c, text.c_str());
    return c != nullptr;
  }
  bool Clear(int edit, std::string& why) override {
    HWND c = Item(edit, why);
    if (c) api_->ClearText(c);
    return c != nullptr;
  }
  bool DragThumb(int trackbar, int position, std::string& why) override {
    HWND c = Item(trackbar, why);
    if (c) api_->DragThumb(c, position);
    return c != nullptr;
  }
  bool Mouse(UiMouse event, int x, int y, unsigned buttons, std::string&) override {
    switch (event) {
      case UiMouse::LeftDown: api_->MouseButton(dialog_, WM_LBUTTONDOWN, x, y); break;
      case UiMouse::LeftUp: api_->MouseButton(dialog_, WM_LBUTTONUP, x, y); break;
      case UiMouse::RightDown: api_->MouseButton(dialog_, WM_RBUTTONDOWN, x, y); break;
      case UiMouse::RightUp: api_->MouseButton(dialog_, WM_RBUTTONUP, x, y); break;
      case UiMouse::Move: api_->MouseMove(dialog_, x, y, WPARAM(buttons)); break;
    }
    return true;
  }
  bool Leave(std::string&) override {
    api_->MouseLeave(dialog_);
    return true;
  }
  bool Wheel(int delta, unsigned, std::string& why) override {
    HWND frame = Item(kPreviewFrame, why);
    if (!frame) return false;
    // The table speaks client coordinates; the frame's rectangle is on the
    // screen, and the client area sits inside equal side and bottom borders.
    RECT f{}, window{}, client{};
    api_->GetWindowRect(frame, &f);
    api_->GetWindowRect(dialog_, &window);
    api_->GetClientRect(dialog_, &client);
    const int border = ((window.right - window.left) - client.right) / 2;
    const int originX = window.left + border, originY = window.bottom - border - client.bottom;
    api_->Wheel(dialog_, (f.left + f.right) / 2 - originX, (f.top + f.bottom) / 2 - originY, delta);
    return true;
  }
  bool Resize(int width, int height, std::string&) override {
    api_->Resize(dialog_, WMSZ_BOTTOMRIGHT, width, height);
    return true;
  }
  void AnswerNextFileDialog(const std::string* fileName) override {
    api_->QueueFileDialogAnswer(fileName ? fileName->c_str() : nullptr);
  }
  bool Screenshot(std::vector<uint8>& rgb, int& width, int& height, std::string& why) override {
    uint8_t* pixels = api_->Screenshot(dialog_, &width, &height);
    if (!pixels) {
      why = "the dialog could not be drawn";
      return false;
    }
    rgb.assign(pixels, pixels + size_t(width) * size_t(height) * 3);
    api_->FreeScreenshot(pixels);
    return true;
  }
  bool Text(int id, std::string& text, std::string& why) override {
    HWND c = Item(id, why);
    if (!c) return false;
    char buffer[256] = {};
    api_->GetWindowText(c, buffer, int(sizeof buffer));
    text = buffer;
    return true;
  }
  void Pump() override { api_->Pump(); }
  bool Ended() override { return api_->HasEnded(dialog_, nullptr) != FALSE; }

 private:
  HWND Item(int id, std::string& why) {
    HWND c = api_->GetDlgItem(dialog_, id);
    if (!c) why = "the dialog has no control with the ID " + std::to_string(id);
    return c;
  }

  const KestrelleHeadlessApi* api_;
  HWND dialog_;
};

class HeadlessBackend : public UiSession::Backend {
 public:
  HeadlessBackend(Host& host, const PluginModule& module, UiScript script)
      : host_(host), module_(module), script_(std::move(script)) {}

  bool Start(std::string* error) override {
    typedef const KestrelleHeadlessApi* (*ApiFunction)();
    ApiFunction api = reinterpret_cast<ApiFunction>(module_.Symbol("KestrelleHeadless"));
    api_ = api ? api() : nullptr;
    if (!api_ || api_->version < 1) {
      if (error) *error = module_.path() + " has no headless window system to show its dialog on";
      api_ = nullptr;
      return false;
    }
    api_->SetDialogDriver(&Drive, this);
    return true;
  }

  void Finish() override {
    if (api_) api_->SetDialogDriver(nullptr, nullptr);
    api_ = nullptr;
  }

  bool dialogSeen() const override { return seen_; }
  std::string error() const override { return error_; }
  std::vector<std::string> closingValues() const override { return closingValues_; }

 private:
  // The script plays the first dialog only; the window system cancels any
  // dialog its driver leaves open.
  static void Drive(HWND dialog, void* context) {
    HeadlessBackend* self = static_cast<HeadlessBackend*>(context);
    if (self->seen_) return;
    self->seen_ = true;
    HeadlessDriver driver(self->api_, dialog);
    UiRunner runner(self->host_, self->script_);
    if (!runner.Run(driver)) self->error_ = runner.error();
    self->closingValues_ = runner.closingValues();
  }

  Host& host_;
  const PluginModule& module_;
  UiScript script_;
  const KestrelleHeadlessApi* api_ = nullptr;
  bool seen_ = false;
  std::string error_;
  std::vector<std::string> closingValues_;
};

}  // namespace

std::unique_ptr<UiSession::Backend> MakeUiBackend(Host& host, const PluginModule& module, UiScript script) {
  return std::make_unique<HeadlessBackend>(host, module, std::move(script));
}

}  // namespace host
#endif

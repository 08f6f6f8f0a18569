// Inside the UI scripts: what a window system must do for a script (the
// headless one of the native module, or the real one on Windows), and the
// runner that turns steps into those actions.
#pragma once

#include <string>
#include <vector>

#include "host/display.h"
#include "host/ui/ui_script.h"

namespace host {

enum class UiMouse { LeftDown, LeftUp, RightDown, RightUp, Move };

// Held buttons, as Win32 reports them in a mouse message's wParam.
constexpr unsigned kUiLeftButton = 0x0001;   // MK_LBUTTON
constexpr unsigned kUiRightButton = 0x0002;  // MK_RBUTTON

// One user action each; coordinates are the dialog's client coordinates. A
// false return says in `why` why the action could not be played.
class UiDriver {
 public:
  virtual ~UiDriver() = default;
  virtual bool Click(int id, std::string& why) = 0;
  virtual bool DoubleClick(int id, std::string& why) = 0;
  virtual bool Type(int edit, const std::string& text, std::string& why) = 0;
  virtual bool Clear(int edit, std::string& why) = 0;
  virtual bool DragThumb(int trackbar, int position, std::string& why) = 0;
  virtual bool Mouse(UiMouse event, int x, int y, unsigned buttons, std::string& why) = 0;
  virtual bool Leave(std::string& why) = 0;
  // One wheel message over the centre of the preview frame.
  virtual bool Wheel(int delta, unsigned buttons, std::string& why) = 0;
  virtual bool Resize(int width, int height, std::string& why) = 0;
  // The next file dialog chooses `fileName`; null cancels it.
  virtual void AnswerNextFileDialog(const std::string* fileName) = 0;
  // The dialog as shown: width x height RGB pixels, rows top to bottom.
  virtual bool Screenshot(std::vector<uint8>& rgb, int& width, int& height, std::string& why) = 0;
  // The text of a control (an edit box's value as the dialog shows it).
  virtual bool Text(int id, std::string& text, std::string& why) = 0;
  // Lets pending paints (and what they notify) happen.
  virtual void Pump() = 0;
  virtual bool Ended() = 0;
};

class UiRunner {
 public:
  UiRunner(const Host& host, const UiScript& script) : host_(host), script_(script) {}
  // Plays the steps in order; false with error() at the first that fails.
  bool Run(UiDriver& driver);
  const std::string& error() const { return error_; }
  // The rows' edit boxes (kUiRows order) as they read when the script
  // clicked OK or Cancel; empty when it did not.
  const std::vector<std::string>& closingValues() const { return closingValues_; }

 private:
  bool Step(UiDriver& driver, const UiStep& step, std::string& why);
  bool ToClient(const UiStep& step, int& x, int& y, std::string& why) const;
  bool Pick(UiDriver& driver, const VRect& area, std::string& why);
  bool ZoomToActualPixels(UiDriver& driver, std::string& why);
  bool BringIntoView(UiDriver& driver, const VRect& area, std::string& why);

  const Host& host_;
  const UiScript& script_;
  unsigned buttons_ = 0;
  std::string error_;
  std::vector<std::string> closingValues_;
};

// The backend of a UiSession (ui_headless.cpp natively, ui_windows.cpp on
// Windows).
class UiSession::Backend {
 public:
  virtual ~Backend() = default;
  virtual bool Start(std::string* error) = 0;
  virtual void Finish() = 0;
  virtual bool dialogSeen() const = 0;
  virtual std::string error() const = 0;
  virtual std::vector<std::string> closingValues() const = 0;
};

std::unique_ptr<UiSession::Backend> MakeUiBackend(Host& host, const PluginModule& module, UiScript script);

}  // namespace host

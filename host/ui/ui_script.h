// UI scripts: the filter dialog played as a user plays it, from a few lines
// of text, for tests, for batch runs that want the dialog's own tools (the
// eyedropper, Load Settings) and for screenshots.
//
// One step per line, or several separated by ';'; '#' starts a comment;
// names and file names with spaces go in double quotes (no escapes, so
// Windows paths stay as they are). Keywords and control names are
// case-insensitive.
//
//   click BUTTON          OK, Cancel, Reset, Eyedropper, "Show Original",
//                         "Save Settings", "Load Settings", or a button's ID
//   ok | cancel           click OK | click Cancel
//   drag ROW POSITION     the row's trackbar thumb dragged to POSITION (an integer,
//                         the trackbar's unit: gain 1.37 is 137)
//   type ROW TEXT         TEXT typed, one character at a time, at the end of the
//                         row's edit box
//   clear ROW             the edit box emptied (select all, delete)
//   set ROW TEXT          clear, then type
//   double-click ROW      the row's label double-clicked (resets that value)
//       ROW is a setting's label, as the dialog shows it (the labels of
//       hostapi/setting_table.h), or the ID of the row's label, trackbar
//       or edit box
//   press left|right X,Y  a mouse button pressed over document pixel (X, Y)
//   move X,Y              the mouse moved there (with the buttons held)
//   release left|right X,Y
//   press-client …, move-client …, release-client …
//                         the same in the dialog's client coordinates
//   pick TOP,LEFT,BOTTOM,RIGHT
//                         the eyedropper dragged across rows TOP..BOTTOM-1,
//                         columns LEFT..RIGHT-1 of the document: the preview
//                         is first wheeled in to 100 % and, when the area is
//                         not all in view, dragged with the right button
//                         until it is (it must fit); then Eyedropper is
//                         clicked, the left button pressed on the area's
//                         first pixel and released on its last
//   wheel N               N notches of the mouse wheel over the preview:
//                         positive turns it away from the user (zoom in),
//                         negative towards the user (zoom out)
//   leave                 the mouse leaves the dialog
//   resize W H            the dialog's window dragged by its bottom-right corner
//                         to W x H pixels
//   save-settings FILE    Save Settings, answering its file dialog with FILE
//   load-settings FILE    Load Settings, answering its file dialog with FILE
//   cancel-file-dialog    the next file dialog is answered with Cancel
//   screenshot FILE       the dialog as shown, to FILE (.png, .tif or .tiff)
//   pump                  pending paints happen
//
// Image coordinates are mapped to the dialog the way a user's eye does it:
// from where the host last painted the preview (its displayPixels calls) and
// which pixels it handed out for it (the preview's advanceState request, its
// input rectangle and sampling rate).
#pragma once

#include <array>
#include <memory>
#include <string>
#include <vector>

#include "hostapi/host_interface.h"
#include "hostapi/setting_table.h"

namespace host {

class Host;
class PluginModule;

enum class UiAction {
  Click,
  Drag,
  Type,
  Clear,
  Set,
  DoubleClick,
  Press,
  Move,
  Release,
  Pick,
  Wheel,
  Leave,
  Resize,
  SaveSettings,
  LoadSettings,
  CancelFileDialog,
  Screenshot,
  Pump,
};

struct UiStep {
  UiAction action = UiAction::Pump;
  int line = 0;
  std::string source;   // the step as written, for messages
  int control = 0;      // click: the button's ID
  int row = -1;         // drag, type, clear, set, double-click: index into kUiRows
  bool client = false;  // press, move, release: client rather than image coordinates
  bool right = false;   // press, release: the right button
  int32 x = 0, y = 0;   // the point; drag: the position; wheel: notches; resize: width, height
  VRect area{};         // pick
  std::string text;     // type, set: the characters; file steps: the file name

  // Clicks OK or Cancel.
  bool ClosesDialog() const;
  // "line 3: ", where the step was written.
  std::string Where() const;
};

struct UiScript {
  std::vector<UiStep> steps;
  // The last step clicks OK or Cancel.
  bool EndsDialog() const;
  // A step works on the painted preview (image points, a pick, a screenshot).
  bool NeedsPreview() const;
};

// The dialog's controls a script names: its buttons, and a row of controls
// per setting.
enum UiButtonId {
  kUiOk = 1,
  kUiCancel = 2,
  kUiReset = 12,
  kUiShowOriginal = 901,
  kUiEyedropper = 902,
  kUiSaveSettings = 903,
  kUiLoadSettings = 904,
};
struct UiButton {
  const char* name;
  int id;
};
struct UiRow {
  const char* name;
  int label, trackbar, edit;
};
constexpr int kUiButtonCount = 7;
constexpr int kUiRowCount = kSettingCount;
extern const UiButton kUiButtons[kUiButtonCount];
extern const std::array<UiRow, kUiRowCount> kUiRows;  // the settings' order

// Appends the steps of `text` to `script`. On an error nothing is appended
// and `error` says where: "line 3: unknown control 'Q Gain' (in: drag "Q Gain" 5)".
bool ParseUiScript(const std::string& text, UiScript& script, std::string* error);

// Steps the kestrelle options make.
UiStep PickStep(const VRect& area);
UiStep LoadSettingsStep(const std::string& fileName);
UiStep ClickStep(int id);  // ok: ClickStep(1)
UiStep SetStep(int row, const std::string& text);  // row: index into kUiRows

// Plays a script on the dialog a module shows while the host runs it.
// Natively the module's headless window system calls the script from inside
// its dialog loop; on Windows a second thread waits for the real dialog of
// this process and plays it with window messages. Either way the dialog
// ends: a script that does not click OK or Cancel leaves it cancelled.
class UiSession {
 public:
  UiSession(Host& host, const PluginModule& module, UiScript script);
  ~UiSession();
  UiSession(const UiSession&) = delete;
  UiSession& operator=(const UiSession&) = delete;

  // Before the filter runs. False when the module cannot be driven.
  bool Start(std::string* error);
  // After the filter ran.
  void Finish();

  bool dialogSeen() const;
  // Why the script stopped early ("line 2: …"), or empty.
  std::string error() const;
  // The values the rows' edit boxes showed (kUiRows order) when the script
  // clicked OK or Cancel; empty when it did not get there.
  std::vector<std::string> closingValues() const;

  class Backend;

 private:
  std::unique_ptr<Backend> backend_;
};

}  // namespace host

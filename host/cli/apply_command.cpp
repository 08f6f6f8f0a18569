#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cmath>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <memory>
#include <sstream>

#ifdef _WIN32
#include <io.h>
#include <windows.h>
#define isatty _isatty
#define fileno _fileno
#else
#include <unistd.h>
#endif

#include "../descriptor.h"
#include "../filter_run.h"
#include "../host.h"
#include "../io/image_io.h"
#include "../message_log.h"
#include "../plugin_module.h"
#include "../ui_script.h"
#include "cli.h"

namespace cli {
namespace {

const char* const kApplyHelp =
    "Usage: kestrelle apply [options] INPUT OUTPUT\n"
    "\n"
    "Filters INPUT with the Kestrelle module and writes the result to OUTPUT.\n"
    "PNG (8 and 16 bits, grey or RGB) and TIFF (8, 16 and 32-bit float, grey or\n"
    "RGB) are read; OUTPUT's format follows its extension (.png, .tif, .tiff) and\n"
    "keeps the input's bit depth. An alpha channel is kept and not filtered.\n"
    "OUTPUT is only replaced once the filter has succeeded and the whole file is\n"
    "written; INPUT is never changed.\n"
    "\n"
    "Settings (the dialog's controls; unset ones come from --play, then from the\n"
    "last-used settings in --registry, then the defaults):\n"
    "  --red-gain X            R Gain (coarse)\n"
    "  --red-gain-fine X       R Gain (fine)\n"
    "  --green-gain X          G Gain (coarse)\n"
    "  --green-gain-fine X     G Gain (fine)\n"
    "  --blue-gain X           B Gain (coarse)\n"
    "  --blue-gain-fine X      B Gain (fine)\n"
    "  --highlight-recovery X  Highlight Recovery, 0 to 100\n"
    "  --highlight-rolloff X   Highlight Rolloff\n"
    "\n"
    "Host:\n"
    "  --play FILE             play a recorded action (a JSON descriptor)\n"
    "  --record FILE           save the action the filter records, to play later\n"
    "  --registry FILE         keep the filter's last-used settings in FILE\n"
    "  --selection T,L,B,R     filter only the rectangle rows T..B, columns L..R\n"
    "  --tile N                tile size the host offers (default 256)\n"
    "  --module PATH           the filter module (default: the one next to kestrelle)\n"
    "  --side-by-side FILE     also write INPUT and the result side by side\n"
    "  --quiet                 no progress bar\n"
    "\n"
    "The filter's dialog (it opens with the settings above; natively it runs on a\n"
    "headless window system and always ends: cancelled unless the script says ok):\n"
    "  --dialog                open the dialog (on Windows, with no script, for you)\n"
    "  --ui FILE               play the dialog with the UI script in FILE\n"
    "  --ui-steps 'STEPS'      play it with these steps\n"
    "  --neutral-area T,L,B,R  let the dialog's eyedropper set the gains from rows\n"
    "                          T..B-1, columns L..R-1, an area that should be grey:\n"
    "                          the preview is zoomed to 100 % and, on images larger\n"
    "                          than it, dragged until the area shows; the area must\n"
    "                          fit in the preview\n"
    "  --settings FILE         apply a settings file (.ksl) through Load Settings\n"
    "--settings and --neutral-area come first, then --ui, then --ui-steps; without\n"
    "--ui and --ui-steps the dialog ends with OK.\n"
    "\n"
    "UI scripts: one step per line or separated by ';', '#' comments, names with\n"
    "spaces in double quotes:\n"
    "  click BUTTON            OK, Cancel, Reset, Eyedropper, \"Show Original\",\n"
    "                          \"Save Settings\", \"Load Settings\", or an ID\n"
    "  ok, cancel              click OK, click Cancel\n"
    "  drag ROW POSITION       the row's slider, in its units (gain 1.37 is 137)\n"
    "  type ROW TEXT           typed at the end of the row's edit box, key by key\n"
    "  clear ROW, set ROW TEXT, double-click ROW (the label: back to the default)\n"
    "      ROW: \"R Gain\", \"R Gain (fine)\", \"G Gain\", \"G Gain (fine)\", \"B Gain\",\n"
    "           \"B Gain (fine)\", \"Highlight Recovery\", \"Highlight Rolloff\", or an ID\n"
    "  press left|right X,Y, move X,Y, release left|right X,Y\n"
    "                          the mouse over document pixel (X, Y) in the preview;\n"
    "                          press-client, move-client, release-client: the\n"
    "                          dialog's client coordinates\n"
    "  pick T,L,B,R            the eyedropper over that area, as --neutral-area\n"
    "  wheel N                 N notches over the preview; positive zooms in\n"
    "  resize W H              the dialog dragged by its corner to W x H pixels\n"
    "  save-settings FILE, load-settings FILE, cancel-file-dialog\n"
    "  screenshot FILE.png     the dialog as shown\n"
    "  leave, pump             the mouse leaves the dialog; paints happen\n"
    "\n"
    "Exit status: 0 success, 1 failure, 2 wrong command line, 130 cancelled (Ctrl-C).\n";

struct Setting {
  const char* option;
  DescriptorKeyID key;
};

// The dialog's controls by their labels, and the descriptor key each plays.
const Setting kSettings[] = {
    {"--red-gain", FourCharCode("brgH")},           {"--red-gain-fine", FourCharCode("conT")},
    {"--green-gain", FourCharCode("bAdj")},         {"--green-gain-fine", FourCharCode("satU")},
    {"--blue-gain", FourCharCode("lumC")},          {"--blue-gain-fine", FourCharCode("Rcoe")},
    {"--highlight-recovery", FourCharCode("Gcoe")}, {"--highlight-rolloff", FourCharCode("Bcoe")},
};

struct Options {
  std::string input, output, module, play, record, registry, sideBySide;
  host::Descriptor settings;
  bool hasSelection = false;
  VRect selection{};
  bool dialog = false;
  std::string uiFile, uiSteps, settingsFile;
  bool hasNeutralArea = false;
  VRect neutralArea{};
  int tile = 256;
  bool quiet = false;
};

bool ParseNumber(const std::string& text, double& value) {
  if (text.empty()) return false;
  char* end = nullptr;
  errno = 0;
  value = std::strtod(text.c_str(), &end);
  return end && *end == '\0' && errno == 0 && std::isfinite(value);
}

bool ParseSelection(const std::string& text, VRect& r) {
  long v[4];
  const char* p = text.c_str();
  for (int i = 0; i < 4; ++i) {
    char* end = nullptr;
    errno = 0;
    v[i] = std::strtol(p, &end, 10);
    if (end == p || errno != 0 || v[i] < 0 || v[i] > 2000000000L) return false;
    if (i < 3 && *end != ',') return false;
    if (i == 3 && *end != '\0') return false;
    p = end + 1;
  }
  r = VRect{int32(v[0]), int32(v[1]), int32(v[2]), int32(v[3])};
  return r.bottom > r.top && r.right > r.left;
}

// Parses the command line; returns kSuccess, or an exit code after saying
// what is wrong.
int Parse(const std::vector<std::string>& args, Options& o, bool& help) {
  std::vector<std::string> positional;
  for (size_t i = 0; i < args.size(); ++i) {
    std::string arg = args[i], value;
    const bool isOption = arg.size() > 2 && arg.compare(0, 2, "--") == 0;
    if (isOption && arg.find('=') != std::string::npos) {
      value = arg.substr(arg.find('=') + 1);
      arg = arg.substr(0, arg.find('='));
    }
    auto next = [&](std::string& out) {
      if (!value.empty()) return out = value, true;
      if (i + 1 >= args.size()) return false;
      out = args[++i];
      return true;
    };
    if (arg == "--help" || arg == "-h") {
      help = true;
      return kSuccess;
    }
    if (!isOption) {
      positional.push_back(arg);
      continue;
    }
    if (arg == "--quiet") {
      o.quiet = true;
      continue;
    }
    if (arg == "--dialog") {
      o.dialog = true;
      continue;
    }
    std::string text;
    if (!next(text)) {
      Error(arg + " needs a value");
      return kUsage;
    }
    bool known = false;
    for (const Setting& s : kSettings) {
      if (arg != s.option) continue;
      known = true;
      double v = 0;
      if (!ParseNumber(text, v)) {
        Error(arg + ": '" + text + "' is not a number");
        return kUsage;
      }
      o.settings.PutFloat(s.key, v);
    }
    if (known) continue;
    if (arg == "--play") {
      o.play = text;
    } else if (arg == "--record") {
      o.record = text;
    } else if (arg == "--registry") {
      o.registry = text;
    } else if (arg == "--module") {
      o.module = text;
    } else if (arg == "--side-by-side") {
      o.sideBySide = text;
    } else if (arg == "--selection") {
      if (!ParseSelection(text, o.selection)) {
        Error("--selection: '" + text + "' is not TOP,LEFT,BOTTOM,RIGHT with TOP < BOTTOM and LEFT < RIGHT");
        return kUsage;
      }
      o.hasSelection = true;
    } else if (arg == "--neutral-area") {
      if (!ParseSelection(text, o.neutralArea)) {
        Error("--neutral-area: '" + text + "' is not TOP,LEFT,BOTTOM,RIGHT with TOP < BOTTOM and LEFT < RIGHT");
        return kUsage;
      }
      o.hasNeutralArea = true;
    } else if (arg == "--ui") {
      o.uiFile = text;
    } else if (arg == "--ui-steps") {
      o.uiSteps = text;
    } else if (arg == "--settings") {
      o.settingsFile = text;
    } else if (arg == "--tile") {
      double v = 0;
      if (!ParseNumber(text, v) || v != std::floor(v) || v < 1 || v > 32767) {
        Error("--tile: '" + text + "' is not a whole number from 1 to 32767");
        return kUsage;
      }
      o.tile = int(v);
    } else {
      Error("unknown option " + arg + " (see kestrelle apply --help)");
      return kUsage;
    }
  }
  if (positional.size() != 2) {
    Error("apply needs INPUT and OUTPUT (see kestrelle apply --help)");
    return kUsage;
  }
  o.input = positional[0];
  o.output = positional[1];
  return kSuccess;
}

std::atomic<bool> gCancel{false};

}  // namespace

void RequestCancel() { gCancel = true; }

namespace {

#ifdef _WIN32
BOOL WINAPI OnConsoleEvent(DWORD event) {
  if (event == CTRL_C_EVENT || event == CTRL_BREAK_EVENT) {
    gCancel = true;
    return TRUE;
  }
  return FALSE;
}
void CatchInterrupt() { SetConsoleCtrlHandler(OnConsoleEvent, TRUE); }
#else
void OnInterrupt(int) { gCancel = true; }
void CatchInterrupt() { std::signal(SIGINT, OnInterrupt); }
#endif

class ProgressBar {
 public:
  explicit ProgressBar(bool enabled) : enabled_(enabled) {}
  ~ProgressBar() { Finish(); }
  void Show(int32 done, int32 total) {
    if (!enabled_ || total <= 0) return;
    const int percent = int(int64(done) * 100 / total);
    if (percent == last_) return;
    last_ = percent;
    const int filled = percent * 30 / 100;
    std::fprintf(stderr, "\rFiltering [%s%s] %3d%%", std::string(size_t(filled), '#').c_str(),
                 std::string(size_t(30 - filled), '.').c_str(), percent);
    std::fflush(stderr);
    shown_ = true;
  }
  void Finish() {
    if (shown_) std::fputc('\n', stderr);
    shown_ = false;
  }

 private:
  bool enabled_;
  bool shown_ = false;
  int last_ = -1;
};

bool ReadText(const std::string& path, std::string& text) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return false;
  std::stringstream s;
  s << in.rdbuf();
  text = s.str();
  return !in.bad();
}

// Writes next to the target and renames, so a failure never leaves half a file.
bool WriteText(const std::string& path, const std::string& text) {
  const std::string temporary = path + ".kestrelle-tmp";
  {
    std::ofstream out(temporary, std::ios::binary | std::ios::trunc);
    if (!out) return false;
    out << text;
    if (!out.flush()) {
      out.close();
      std::remove(temporary.c_str());
      return false;
    }
  }
#ifdef _WIN32
  if (!MoveFileExA(temporary.c_str(), path.c_str(), MOVEFILE_REPLACE_EXISTING)) {
#else
  if (std::rename(temporary.c_str(), path.c_str()) != 0) {
#endif
    std::remove(temporary.c_str());
    return false;
  }
  return true;
}

std::string Explain(int16 code) {
  switch (code) {
    case memFullErr: return "out of memory (-108)";
    case userCanceledErr: return "cancelled (-128)";
    case filterBadParameters: return "the filter's settings could not be kept (-30100)";
    case errPlugInHostInsufficient: return "the host lacks a service the filter needs (-30900)";
    default: return "error " + std::to_string(code);
  }
}

// The input and the result next to each other, in the input's depth.
host::Document SideBySide(const host::Document& before, const host::Document& after) {
  host::Document both = before;
  both.width = before.width * 2;
  both.pixels.assign(both.RowBytes() * size_t(both.height), 0);
  const size_t row = before.RowBytes();
  for (int32 y = 0; y < before.height; ++y) {
    uint8* out = both.pixels.data() + size_t(y) * both.RowBytes();
    std::copy_n(before.pixels.data() + size_t(y) * row, row, out);
    std::copy_n(after.pixels.data() + size_t(y) * row, row, out + row);
  }
  return both;
}

}  // namespace

int ApplyCommand(const std::vector<std::string>& args) {
  Options o;
  bool help = false;
  if (int code = Parse(args, o, help)) return code;
  if (help) {
    std::fputs(kApplyHelp, stdout);
    return kSuccess;
  }

  // The dialog's script, checked whole before anything runs.
  std::string error;
  host::UiScript script;
  if (!o.settingsFile.empty()) {
    std::string ignored;
    if (!ReadText(o.settingsFile, ignored)) {
      Error("cannot read " + o.settingsFile);
      return kFailure;
    }
    script.steps.push_back(host::LoadSettingsStep(o.settingsFile));
  }
  if (o.hasNeutralArea) script.steps.push_back(host::PickStep(o.neutralArea));
  if (!o.uiFile.empty()) {
    std::string text;
    if (!ReadText(o.uiFile, text)) {
      Error("cannot read " + o.uiFile);
      return kFailure;
    }
    if (!host::ParseUiScript(text, script, &error)) {
      Error(o.uiFile + ": " + error);
      return kUsage;
    }
  }
  if (!o.uiSteps.empty() && !host::ParseUiScript(o.uiSteps, script, &error)) {
    Error("--ui-steps: " + error);
    return kUsage;
  }
  const bool userScript = !o.uiFile.empty() || !o.uiSteps.empty();
  const bool scripted = userScript || !script.steps.empty();
  if (!userScript && !script.steps.empty()) script.steps.push_back(host::ClickStep(1));
  const bool dialog = o.dialog || scripted;

  host::Image image;
  if (!host::ReadImage(o.input, image, &error)) {
    Error(error);
    return kFailure;
  }
  const host::Document original = image.document;
  if (o.hasSelection && (o.selection.bottom > original.height || o.selection.right > original.width)) {
    Error("--selection lies outside the " + std::to_string(original.width) + " x " +
          std::to_string(original.height) + " image");
    return kUsage;
  }
  if (o.hasNeutralArea && (o.neutralArea.bottom > original.height || o.neutralArea.right > original.width)) {
    Error("--neutral-area lies outside the " + std::to_string(original.width) + " x " +
          std::to_string(original.height) + " image");
    return kUsage;
  }

  // The played action: the recorded file, with the options on top.
  host::Descriptor action;
  if (!o.play.empty()) {
    std::string text;
    if (!ReadText(o.play, text)) {
      Error("cannot read " + o.play);
      return kFailure;
    }
    if (!host::DescriptorFromJson(text, action, &error)) {
      Error(o.play + ": not a recorded action: " + error);
      return kFailure;
    }
  }
  for (const host::DescriptorItem& item : o.settings.items()) action.Put(item);

  const std::string modulePath =
      o.module.empty() ? ProgramDirectory() + host::DefaultModuleName() : o.module;
  host::PluginModule module;
  if (!module.Load(modulePath, &error)) {
    Error(error);
    return kFailure;
  }

  ProgressBar bar(!o.quiet && isatty(fileno(stderr)));
  host::HostOptions options;
  if (o.hasSelection) options.selection = o.selection;
  options.tileWidth = options.tileHeight = int16(o.tile);
  options.registryFile = o.registry;
  options.onProgress = [&bar](int32 done, int32 total) { bar.Show(done, total); };
  options.cancelRequested = &gCancel;
#ifdef _WIN32
  // The dialog's owner, as a host application's main window is.
  std::unique_ptr<host::HostWindow> window;
  if (dialog) {
    window = std::make_unique<host::HostWindow>();
    options.ownerWindow = window->handle();
  }
#endif
  CatchInterrupt();
  const bool cancelledBefore = gCancel;

  int exitCode = kSuccess;
  {
    host::Host h(image.document, options);
    if (!h.registryError().empty()) {
      Error(h.registryError());
      return kFailure;
    }
    host::MessageLog messages;
    messages.Attach(module, true);
    // Played like an action: without dialogs the filter runs silently with
    // whatever it finds there, the last-used settings filling the rest; with
    // one, the dialog opens showing them. Natively a dialog always has a
    // script, if an empty one: the headless dialog must end.
    h.scripting().Play(action, dialog ? plugInDialogDisplay : plugInDialogDontDisplay);
#ifdef _WIN32
    const bool playDialog = scripted;
#else
    const bool playDialog = dialog;
#endif
    host::UiSession ui(h, module, script);
    if (playDialog && !ui.Start(&error)) {
      Error(error);
      return kFailure;
    }
    const host::RunResult run = host::RunFilter(h, module.entry(), false);
    ui.Finish();
    bar.Finish();
    messages.Detach();
    if (!ui.error().empty()) Error("UI script: " + ui.error());

    const int16 failed = run.Error();
    if (failed == userCanceledErr && (gCancel || cancelledBefore)) {
      Error("cancelled; " + o.output + " was not written");
      return kCancelled;
    }
    if (failed == userCanceledErr && dialog) {
      Error("the dialog was cancelled; " + o.output + " was not written");
      return kFailure;
    }
    if (failed != noErr) {
      Error("the filter failed: " + Explain(failed) + "; " + o.output + " was not written");
      return kFailure;
    }
    std::string leak;
    if (!h.Balanced(&leak)) std::fprintf(stderr, "kestrelle: warning: the module %s\n", leak.c_str());
    if (!o.record.empty()) {
      host::Descriptor recorded;
      if (!h.scripting().Recorded(recorded)) {
        Error("the filter recorded no action; " + o.record + " was not written");
        exitCode = kFailure;
      } else if (!WriteText(o.record, host::DescriptorToJson(recorded) + "\n")) {
        Error("cannot write " + o.record);
        exitCode = kFailure;
      }
    }
    image.document = h.document();
  }

  if (!host::WriteImage(o.output, image, &error)) {
    Error(error);
    return kFailure;
  }
  if (!o.sideBySide.empty()) {
    host::Image pair = image;
    pair.alpha.clear();
    pair.document = SideBySide(original, image.document);
    if (!host::WriteImage(o.sideBySide, pair, &error)) {
      Error(error);
      return kFailure;
    }
  }
  return exitCode;
}

}  // namespace cli

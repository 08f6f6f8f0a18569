#include <algorithm>
#include <cstdio>
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
#include "../enable_rule.h"
#include "../files/run_files.h"
#include "../filter_run.h"
#include "../host.h"
#include "../host_profiles.h"
#include "../io/image_io.h"
#include "../message_log.h"
#include "../plugin_info.h"
#include "../plugin_module.h"
#include "../ui_script.h"
#include "apply_options.h"
#include "cli.h"
#include "interrupts.h"
#include "transparency_plane.h"

namespace cli {
namespace {

using host::files::Use;

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

// The whole of a small text file; a folder or an unreadable file is refused
// with the reason.
bool ReadText(const std::string& path, std::string& text, std::string* why) {
  const host::files::PathKind kind = host::files::KindOf(path);
  if (kind == host::files::PathKind::Missing) {
    *why = "cannot read " + path + ": no such file";
    return false;
  }
  if (kind == host::files::PathKind::Folder) {
    *why = "cannot read " + path + ": it is a folder";
    return false;
  }
  std::ifstream in(path, std::ios::binary);
  if (!in) {
    *why = "cannot read " + path;
    return false;
  }
  std::stringstream s;
  s << in.rdbuf();
  text = s.str();
  if (in.bad()) {
    *why = "cannot read " + path;
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


int Cancel() {
  Error("cancelled; no file was changed");
  return CancelExitCode();
}

bool IsSettingsStep(const host::UiStep& s) {
  return s.action == host::UiAction::LoadSettings || s.action == host::UiAction::SaveSettings;
}

// The settings steps of the script, for a message: "--settings warm.ksl",
// "load-settings x.ksl (line 2)".
std::string SettingsSteps(const host::UiScript& script, const std::string& settingsFile) {
  std::string list;
  for (const host::UiStep& s : script.steps) {
    if (!IsSettingsStep(s)) continue;
    std::string one = s.line == 0 && s.text == settingsFile ? "--settings " + settingsFile
                                                             : s.source + " (line " + std::to_string(s.line) + ")";
    list += (list.empty() ? "" : ", ") + one;
  }
  return list;
}

// Every file the run reads or writes, refused together before anything is
// read: outputs never land on what the run reads or on each other.
void AddPaths(const ApplyOptions& o, const std::string& modulePath, const host::UiScript& script,
              host::files::RunFiles& paths) {
  paths.Add(o.input, "INPUT", Use::Read);
  paths.Add(o.output, "OUTPUT", Use::Write);
  paths.Add(o.sideBySide, "--side-by-side", Use::Write);
  paths.Add(o.record, "--record", Use::Write);
  paths.Add(o.registry, "--registry", Use::ReadWrite);
  paths.Add(o.play, "--play", Use::Read);
  paths.Add(o.uiFile, "--ui", Use::Read);
  paths.Add(o.settingsFile, "--settings", Use::Read);
  paths.Add(modulePath, "--module", Use::Read);
  for (const host::UiStep& s : script.steps) {
    if (s.line == 0) continue;  // made from the options above
    if (s.action == host::UiAction::LoadSettings) paths.Add(s.text, "'" + s.source + "'", Use::ScriptRead);
    if (s.action == host::UiAction::SaveSettings || s.action == host::UiAction::Screenshot)
      paths.Add(s.text, "'" + s.source + "'", Use::ScriptWrite);
  }
}

// Refuses a document the module's own property list does not enable it for,
// as a host greys out its menu item.
bool FilterAccepts(const host::PluginModule& module, const host::Image& image, bool selection, std::string* why) {
  std::vector<uint8_t> bytes;
  std::vector<host::PipelineProperty> properties;
  if (!module.PropertyList(bytes, why) || !host::ParsePiPL(bytes, properties, why)) return false;
  host::DocumentTraits d;
  d.imageMode = image.document.imageMode;
  d.depth = image.document.depth;
  d.width = image.document.width;
  d.height = image.document.height;
  d.colourChannels = image.document.planes;
  d.hasTransparency = !image.alpha.empty();
  d.hasSelection = selection;
  bool enabled = false;
  if (!host::PropertiesEnable(properties, d, &enabled, why)) {
    *why = module.path() + ": " + *why;
    return false;
  }
  if (!enabled) {
    *why = "the filter does not work on " + host::DocumentName(d.colourChannels, d.depth) +
           " documents (a host greys it out for them); it accepts " + host::AcceptedDocuments(properties) +
           " documents";
  }
  return enabled;
}

// How the module read the played action: a key it does not use stops its
// reading there, so the keys after it are never applied.
bool CheckPlayedRead(const host::PlayedRead& read, std::string* why) {
  if (!read.stopped) return true;
  const std::string key = "'" + host::KeyText(read.key) + "'";
  const std::string what = read.error == noErr ? "the filter does not know the key " + key + " of the played action"
                                               : "the filter could not read the key " + key + " of the played action (" +
                                                     Explain(read.error) + ")";
  if (read.skipped.empty()) {
    std::fprintf(stderr, "kestrelle: warning: %s; it was ignored\n", what.c_str());
    return true;
  }
  std::string skipped;
  for (DescriptorKeyID k : read.skipped) skipped += (skipped.empty() ? "'" : ", '") + host::KeyText(k) + "'";
  *why = what + " and stopped reading it there, so the settings after it (" + skipped + ") were not applied";
  return false;
}

// What a host profile cannot do for the options asked: refused before
// anything runs, rather than quietly not done.
bool CheckHostProfile(const host::HostOptions& h, const ApplyOptions& o, bool scripted, std::string* why) {
  if (!o.registry.empty() && !h.offerBasicSuite) {
    *why = "that host has no registry for --registry (the filter keeps its last-used settings in its own "
           "file there)";
    return false;
  }
  if ((!o.play.empty() || !o.record.empty()) && h.scripting != host::ScriptingSupport::Full) {
    *why = "that host cannot play or record actions (--play, --record)";
    return false;
  }
#ifndef _WIN32
  if (h.parametersEveryRun && h.scripting != host::ScriptingSupport::Full && !scripted) {
    *why = "that host opens the filter's dialog on every run; give it a script that ends with ok "
           "(--ui-steps ok)";
    return false;
  }
#else
  (void)scripted;
#endif
  return true;
}

// A setting typed into its row of the dialog (five decimals at most, as the
// edit box shows them).
host::UiStep SettingStep(DescriptorKeyID key, double value) {
  int row = 0;
  for (int i = 0; i < kSettingOptionCount; ++i)
    if (kSettingOptions[i].key == key)
      for (int r = 0; r < host::kUiRowCount; ++r)
        if (std::string(host::kUiRows[r].name) == kSettingOptions[i].label) row = r;
  char text[64];
  std::snprintf(text, sizeof text, "%.5f", value);
  std::string typed = text;
  while (typed.back() == '0') typed.pop_back();
  if (typed.back() == '.') typed.pop_back();
  return host::SetStep(row, typed);
}

}  // namespace

int ApplyCommand(const std::vector<std::string>& args) {
  CatchInterrupts();
  ApplyOptions o;
  if (int code = ParseApplyOptions(args, o)) return code;
  if (o.help) {
    std::fputs(ApplyHelp().c_str(), stdout);
    return kSuccess;
  }

  // The host to play.
  const host::HostProfile* profile = host::FindHostProfile(o.hostProfile.empty() ? "photoshop" : o.hostProfile);
  host::HostOptions hostTraits;
  profile->apply(hostTraits, 1, 1);
  const bool playsActions = hostTraits.scripting == host::ScriptingSupport::Full;

  // The dialog's script, checked whole before anything runs.
  std::string error;
  host::UiScript script;
  // A host that cannot play actions gets the settings typed into the dialog,
  // as its user would.
  if (!playsActions) {
    for (const host::DescriptorItem& item : o.settings.items())
      script.steps.push_back(SettingStep(item.key, item.floatValue));
  }
  if (!o.settingsFile.empty()) {
    std::string ignored;
    if (!ReadText(o.settingsFile, ignored, &error)) {
      Error("--settings: " + error);
      return kFailure;
    }
    script.steps.push_back(host::LoadSettingsStep(o.settingsFile));
  }
  if (o.hasNeutralArea) script.steps.push_back(host::PickStep(o.neutralArea));
  if (!o.uiFile.empty()) {
    std::string text;
    if (!ReadText(o.uiFile, text, &error)) {
      Error("--ui: " + error);
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
#ifndef _WIN32
  if (dialog && !scripted) {
    Error("--dialog: here the dialog runs on a headless window system with no one to close it; give it a "
          "script that ends with ok (--ui-steps ok, or --ui FILE)");
    return kUsage;
  }
#endif

  // What the host cannot do for the options asked.
  if (!CheckHostProfile(hostTraits, o, scripted, &error)) {
    Error("--host-profile " + std::string(profile->name) + ": " + error);
    return kUsage;
  }

  const std::string modulePath = o.module.empty() ? ProgramDirectory() + host::DefaultModuleName() : o.module;
  host::files::RunFiles paths;
  AddPaths(o, modulePath, script, paths);
  bool sameFile = false;
  if (!paths.Check(&error, &sameFile)) {
    Error(error);
    return sameFile ? kUsage : kFailure;
  }
  host::ImageFormat outputFormat = host::ImageFormat::Png, pairFormat = host::ImageFormat::Png;
  for (const std::string* path : {&o.output, &o.sideBySide}) {
    if (path->empty()) continue;
    if (!host::FormatFromName(*path, path == &o.output ? &outputFormat : &pairFormat)) {
      Error(*path + ": unknown output format: the name must end in .png, .tif or .tiff");
      return kFailure;
    }
  }

  if (Cancelled()) return Cancel();
  host::Image image;
  if (!host::ReadImage(o.input, image, &error)) {
    Error(error);
    return kFailure;
  }
  if (Cancelled()) return Cancel();
  if (profile->eightBitOnly && image.document.depth != 8) {
    Error(o.input + ": " + std::to_string(image.document.depth) + "-bit; the " + profile->name +
          " host hands filters 8-bit documents only");
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
  for (const std::string* path : {&o.output, &o.sideBySide}) {
    const host::ImageFormat format = path == &o.output ? outputFormat : pairFormat;
    if (!path->empty() && format == host::ImageFormat::Png && original.depth == 32) {
      Error(*path + ": PNG cannot hold 32-bit floating-point samples; write a .tif or .tiff file instead");
      return kFailure;
    }
  }

  // The played action: the recorded file, with the options on top.
  host::Descriptor action;
  if (!o.play.empty()) {
    std::string text;
    if (!ReadText(o.play, text, &error)) {
      Error("--play: " + error);
      return kFailure;
    }
    if (!host::DescriptorFromJson(text, action, &error)) {
      Error(o.play + ": not a recorded action: " + error);
      return kFailure;
    }
  }
  for (const host::DescriptorItem& item : o.settings.items()) action.Put(item);

  host::PluginModule module;
  if (!module.Load(modulePath, &error)) {
    Error(error);
    return kFailure;
  }
  if (!FilterAccepts(module, image, o.hasSelection, &error)) {
    Error(o.input + ": " + error + "; nothing was written");
    return kFailure;
  }

  // Every output staged before the filter runs: a folder that is missing or
  // takes no file shows now, not after minutes of filtering.
  host::files::OutputGroup outputs(&CancelFlag());
  size_t mainOutput = 0, pairOutput = 0, recordOutput = 0;
  if (!outputs.Stage(o.output, &mainOutput, &error) ||
      (!o.sideBySide.empty() && !outputs.Stage(o.sideBySide, &pairOutput, &error)) ||
      (!o.record.empty() && !outputs.Stage(o.record, &recordOutput, &error))) {
    Error(error + "; nothing was written");
    return kFailure;
  }

  ProgressBar bar(!o.quiet && isatty(fileno(stderr)));
  host::HostOptions options;
  if (o.hasSelection) options.selection = o.selection;
  profile->apply(options, original.width, original.height);
  if (o.tileGiven || o.hostProfile.empty()) options.tileWidth = options.tileHeight = int16(o.tile);
  options.registryFile = o.registry;
  options.onProgress = [&bar](int32 done, int32 total) { bar.Show(done, total); };
  options.cancelRequested = &CancelFlag();
#ifdef _WIN32
  // The dialog's owner, as a host application's main window is.
  std::unique_ptr<host::HostWindow> window;
  if (dialog) {
    window = std::make_unique<host::HostWindow>();
    options.ownerWindow = window->handle();
  }
#endif

  std::string recordText, registryProblem;
  {
    host::Host h(profile->transparencyPlane ? WithTransparencyPlane(image) : image.document, options);
    if (!h.registryError().empty()) {
      Error(h.registryError());
      return kFailure;
    }
    host::MessageLog messages;
    messages.Attach(module, true);
    // Played like an action: without dialogs the filter runs silently with
    // whatever it finds there, the last-used settings filling the rest; with
    // one, the dialog opens showing them.
    h.scripting().Play(action, dialog ? plugInDialogDisplay : plugInDialogDontDisplay);
    host::UiSession ui(h, module, script);
    if (scripted && !ui.Start(&error)) {
      Error(error);
      return kFailure;
    }
    const host::RunResult run = host::RunFilter(h, module.entry(), false);
    ui.Finish();
    bar.Finish();
    const std::vector<host::ShownBox> shown = messages.Messages();
    messages.Detach();
    if (!ui.error().empty()) Error("UI script: " + ui.error());

    const int16 failed = run.Error();
    if (failed == userCanceledErr && Cancelled()) return Cancel();
    if (failed == userCanceledErr && dialog) {
      Error(std::string("the dialog was cancelled") +
            (scripted && !script.EndsDialog() ? " (the script does not end with ok)" : "") + "; nothing was written");
      return kFailure;
    }
    if (failed != noErr) {
      Error("the filter failed: " + Explain(failed) + "; nothing was written");
      return kFailure;
    }
    // The filter reports a settings file it cannot load or save in a message
    // box and carries on with the settings it has: the run did not do what
    // was asked.
    bool settingsSteps = false;
    for (const host::UiStep& s : script.steps) settingsSteps = settingsSteps || IsSettingsStep(s);
    if (settingsSteps && !shown.empty()) {
      Error("the filter reported a problem with " + SettingsSteps(script, o.settingsFile) + ": \"" +
            shown.front().text + "\"; nothing was written");
      return kFailure;
    }
    if (!CheckPlayedRead(h.scripting().playedRead(), &error)) {
      Error(error + "; nothing was written");
      return kFailure;
    }
    std::string leak;
    if (!h.Balanced(&leak)) std::fprintf(stderr, "kestrelle: warning: the module %s\n", leak.c_str());
    if (!o.record.empty()) {
      host::Descriptor recorded;
      if (!h.scripting().Recorded(recorded)) {
        Error("the filter recorded no action; nothing was written");
        return kFailure;
      }
      recordText = host::DescriptorToJson(recorded) + "\n";
    }
    registryProblem = h.scripting().registrySaveError();
    TakeTransparencyPlane(h.document(), image);
  }

  if (Cancelled()) return Cancel();
  if (!host::WriteImageToFile(outputs.File(mainOutput), outputFormat, image, &error)) {
    Error(o.output + ": " + error + "; nothing was written");
    return kFailure;
  }
  if (!outputs.Finish(mainOutput, &error)) {
    Error(error + "; nothing was written");
    return kFailure;
  }
  if (Cancelled()) return Cancel();
  if (!o.sideBySide.empty()) {
    host::Image pair = image;
    pair.alpha.clear();
    pair.document = SideBySide(original, image.document);
    if (!host::WriteImageToFile(outputs.File(pairOutput), pairFormat, pair, &error)) {
      Error(o.sideBySide + ": " + error + "; nothing was written");
      return kFailure;
    }
    if (!outputs.Finish(pairOutput, &error)) {
      Error(error + "; nothing was written");
      return kFailure;
    }
  }
  if (!o.record.empty()) {
    std::FILE* f = outputs.File(recordOutput);
    if (std::fwrite(recordText.data(), 1, recordText.size(), f) != recordText.size() ||
        !outputs.Finish(recordOutput, &error)) {
      if (error.empty()) error = o.record + ": cannot write";
      Error(error + "; nothing was written");
      return kFailure;
    }
  }
  bool cancelled = false;
  if (!outputs.Commit(&error, &cancelled)) {
    if (cancelled) return Cancel();
    Error(error);
    return kFailure;
  }
  // The image is written; the last-used settings were not kept.
  if (!registryProblem.empty()) {
    Error("warning: the last-used settings were not kept: " + registryProblem);
    return kFailure;
  }
  return kSuccess;
}

}  // namespace cli

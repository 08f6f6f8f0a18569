#include "cli/apply_session.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <memory>
#include <sstream>

#include "host/enable_rule.h"
#include "files/run_files.h"
#include "host/filter_run.h"
#include "host/host.h"
#include "imageio/image_io.h"
#include "host/message_log.h"
#include "host/plugin_info.h"
#include "cli/cli.h"
#include "cli/interrupts.h"
#include "cli/transparency_plane.h"

namespace cli {
namespace {

using host::files::Use;


using host::files::Use;

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

// Refuses a document the module's own property list does not enable it for,
// as a host greys out its menu item.
bool FilterAccepts(const host::PluginModule& module, const host::ImageShape& shape, bool selection, std::string* why) {
  std::vector<uint8_t> bytes;
  std::vector<host::PipelineProperty> properties;
  if (!module.PropertyList(bytes, why) || !host::ParsePiPL(bytes, properties, why)) return false;
  host::DocumentTraits d;
  d.imageMode = host::ModeFor(shape.planes, shape.depth);
  d.depth = shape.depth;
  d.width = shape.width;
  d.height = shape.height;
  d.colourChannels = shape.planes;
  d.hasTransparency = shape.alpha;
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
bool CheckPlayedRead(const host::PlayedRead& read, std::vector<std::string>& warnings, std::string* why) {
  if (!read.stopped) return true;
  const std::string key = "'" + host::KeyText(read.key) + "'";
  const std::string what = read.error == noErr ? "the filter does not know the key " + key + " of the played action"
                                               : "the filter could not read the key " + key + " of the played action (" +
                                                     Explain(read.error) + ")";
  if (read.skipped.empty()) {
    warnings.push_back("warning: " + what + "; it was ignored");
    return true;
  }
  std::string skipped;
  for (DescriptorKeyID k : read.skipped) skipped += (skipped.empty() ? "'" : ", '") + host::KeyText(k) + "'";
  *why = what + " and stopped reading it there, so the settings after it (" + skipped + ") were not applied";
  return false;
}

// What a host profile cannot do for the options asked: refused before
// anything runs, rather than quietly not done.
bool CheckHostProfile(const host::HostOptions& h, const ApplyOptions& o, bool opensDialog, bool scripted,
                      std::string* why) {
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
  if (opensDialog && h.scripting != host::ScriptingSupport::Full && !scripted) {
    *why = std::string(o.hostRun.empty() ? "that host opens the filter's dialog on every run"
                                         : "that run opens the filter's dialog") +
           "; give it a script that ends with ok (--ui-steps ok)";
    return false;
  }
#else
  (void)opensDialog;
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


host::WriteOptions WriteOptionsFor(const ApplyOptions& o) {
  host::WriteOptions w;
  w.quality = o.quality;
  w.cancel = &CancelFlag();
  return w;
}

// The settings an action holds, by their options' names.
std::vector<std::pair<std::string, double>> SettingsOf(const host::Descriptor& d) {
  std::vector<std::pair<std::string, double>> settings;
  for (const SettingOption& s : kSettingOptions)
    for (const host::DescriptorItem& item : d.items())
      if (item.key == s.key && item.type == typeFloat) settings.emplace_back(s.option + 2, item.floatValue);
  return settings;
}

// Rows per band of a streamed picture: about 4 MB of samples, so reading,
// filtering and writing overlap in small steps and memory stays low.
int32 BandRows(const host::ImageShape& shape) {
  const size_t row = std::max<size_t>(1, shape.RowBytes());
  return int32(std::max<size_t>(8, std::min<size_t>(size_t(4) << 20, size_t(32767) * row) / row));
}

// A failure, with whatever was already to be said about the run.
FileOutcome Failed(int exitCode, const std::string& why, FileOutcome f = {}) {
  f.exitCode = exitCode;
  f.error = why;
  return f;
}

}  // namespace

FileOutcome FileOutcome::Failure(int exitCode, const std::string& why) { return Failed(exitCode, why); }

FileOutcome FileOutcome::Cancel() {
  FileOutcome f;
  f.exitCode = CancelExitCode();
  f.error = "cancelled; no file was changed";
  f.cancelled = true;
  return f;
}

ApplySession::ApplySession() = default;
ApplySession::~ApplySession() = default;

int ApplySession::Open(const ApplyOptions& options, std::string* error) {
  o_ = options;
  const ApplyOptions& o = o_;
  // The host to play.
  profile_ = host::FindHostProfile(o.hostProfile.empty() ? "photoshop" : o.hostProfile);
  host::HostOptions hostTraits;
  profile_->apply(hostTraits, 1, 1);
  const bool playsActions = hostTraits.scripting == host::ScriptingSupport::Full;
  keepsOutputApart_ = hostTraits.outputStartsEmpty;
  if (!o.hostRun.empty()) {
    if (!profile_->runModes) {
      *error = "--host-run: the " + std::string(profile_->name) +
               " host calls the filter one way only (run modes: --host-profile gimp)";
      return kUsage;
    }
    host::ParseHostRun(o.hostRun, &run_);
  }
  // "Repeat last filter" opens no dialog: nothing can be typed into it.
  if (profile_->runModes && run_ == host::HostRun::Repeat) {
    std::string given;
    for (const host::DescriptorItem& item : o.settings.items())
      for (const SettingOption& s : kSettingOptions)
        if (s.key == item.key && given.empty()) given = s.option;
    if (given.empty() && !o.settingsFile.empty()) given = "--settings";
    if (given.empty() && o.hasNeutralArea) given = "--neutral-area";
    if (given.empty() && !o.uiFile.empty()) given = "--ui";
    if (given.empty() && !o.uiSteps.empty()) given = "--ui-steps";
    if (given.empty() && o.dialog) given = "--dialog";
    if (!given.empty()) {
      *error = "--host-run repeat: " + given +
               " cannot be used: a repeat opens no dialog to set anything in; it runs with the last-used "
               "settings (set them with an interactive run first)";
      return kUsage;
    }
  }

  // The dialog's script, checked whole before anything runs.
  host::UiScript& script = script_;
  // A host that cannot play actions gets the settings typed into the dialog,
  // as its user would.
  if (!playsActions) {
    for (const host::DescriptorItem& item : o.settings.items())
      script.steps.push_back(SettingStep(item.key, item.floatValue));
  }
  if (!o.settingsFile.empty()) {
    std::string ignored;
    if (!ReadText(o.settingsFile, ignored, error)) {
      *error = "--settings: " + *error;
      return kFailure;
    }
    script.steps.push_back(host::LoadSettingsStep(o.settingsFile));
  }
  if (o.hasNeutralArea) script.steps.push_back(host::PickStep(o.neutralArea));
  if (!o.uiFile.empty()) {
    std::string text;
    if (!ReadText(o.uiFile, text, error)) {
      *error = "--ui: " + *error;
      return kFailure;
    }
    if (!host::ParseUiScript(text, script, error)) {
      *error = o.uiFile + ": " + *error;
      return kUsage;
    }
  }
  if (!o.uiSteps.empty() && !host::ParseUiScript(o.uiSteps, script, error)) {
    *error = "--ui-steps: " + *error;
    return kUsage;
  }
  const bool userScript = !o.uiFile.empty() || !o.uiSteps.empty();
  scripted_ = userScript || !script.steps.empty();
  if (!userScript && !script.steps.empty()) script.steps.push_back(host::ClickStep(1));
  dialog_ = o.dialog || scripted_;
#ifndef _WIN32
  if (dialog_ && !scripted_) {
    *error = "--dialog: here the dialog runs on a headless window system with no one to close it; give it a "
             "script that ends with ok (--ui-steps ok, or --ui FILE)";
    return kUsage;
  }
#endif

  // What the host cannot do for the options asked.
  // A host with run modes opens the dialog on every run but a repeat.
  const bool runOpensDialog = profile_->runModes && run_ != host::HostRun::Repeat;
  if (!CheckHostProfile(hostTraits, o, hostTraits.parametersEveryRun || runOpensDialog, scripted_, error)) {
    const std::string run = o.hostRun.empty() ? "" : " --host-run " + o.hostRun;
    *error = "--host-profile " + std::string(profile_->name) + run + ": " + *error;
    return kUsage;
  }
  dialog_ = dialog_ || runOpensDialog;

  modulePath_ = o.module.empty() ? ProgramDirectory() + host::DefaultModuleName() : o.module;

  // The played action: the recorded file, with the options on top.
  if (!o.play.empty()) {
    std::string text;
    if (!ReadText(o.play, text, error)) {
      *error = "--play: " + *error;
      return kFailure;
    }
    if (!host::DescriptorFromJson(text, action_, error)) {
      *error = o.play + ": not a recorded action: " + *error;
      return kFailure;
    }
  }
  for (const host::DescriptorItem& item : o.settings.items()) action_.Put(item);

  if (!module_.Load(modulePath_, error)) return kFailure;
  return kSuccess;
}

FileOutcome ApplySession::Run(const FileTask& task) {
  const auto started = std::chrono::steady_clock::now();
  FileOutcome outcome = RunTimed(task);
  // Whatever failed while a signal arrived failed because of it: a cancel,
  // which replaced nothing.
  if (outcome.exitCode != kSuccess && !outcome.cancelled && Cancelled()) {
    outcome = FileOutcome::Cancel();
  }
  outcome.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
  return outcome;
}

FileOutcome ApplySession::RunTimed(const FileTask& task) {
  const ApplyOptions& o = o_;
  const host::UiScript& script = script_;
  std::string error;

  // Every file the run reads or writes, refused together before anything is
  // read: outputs never land on what the run reads or on each other.
  host::files::RunFiles paths;
  paths.Add(task.input, "INPUT", Use::Read);
  paths.Add(task.output, "OUTPUT", Use::Write);
  paths.Add(task.sideBySide, "--side-by-side", Use::Write);
  paths.Add(task.record, "--record", Use::Write);
  paths.Add(o.registry, "--registry", Use::ReadWrite);
  paths.Add(o.play, "--play", Use::Read);
  paths.Add(o.uiFile, "--ui", Use::Read);
  paths.Add(o.settingsFile, "--settings", Use::Read);
  paths.Add(modulePath_, "--module", Use::Read);
  for (const host::UiStep& s : script.steps) {
    if (s.line == 0) continue;  // made from the options above
    if (s.action == host::UiAction::LoadSettings) paths.Add(s.text, "'" + s.source + "'", Use::ScriptRead);
    if (s.action == host::UiAction::SaveSettings || s.action == host::UiAction::Screenshot)
      paths.Add(s.text, "'" + s.source + "'", Use::ScriptWrite);
  }
  bool sameFile = false;
  if (!paths.Check(&error, &sameFile)) return Failed(sameFile ? kUsage : kFailure, error);
  host::ImageFormat outputFormat = host::ImageFormat::Png, pairFormat = host::ImageFormat::Png;
  for (const std::string* path : {&task.output, &task.sideBySide}) {
    if (path->empty()) continue;
    if (!host::FormatFromName(*path, path == &task.output ? &outputFormat : &pairFormat))
      return Failed(kFailure, *path + ": unknown output format: the name must end in .png, .tif, .tiff, .jpg or .jpeg");
  }

  if (Cancelled()) return FileOutcome::Cancel();
  // The header first: everything about the picture but its rows.
  host::ReadOptions reading;
  reading.cancel = &CancelFlag();
  host::ImageReader reader;
  if (!reader.Open(task.input, &error, reading)) return Failed(kFailure, error);
  const host::ImageShape shape = reader.shape();
  if (profile_->eightBitOnly && shape.depth != 8)
    return Failed(kFailure, task.input + ": " + std::to_string(shape.depth) + "-bit; the " + profile_->name +
                                " host hands filters 8-bit documents only");
  if (o.hasSelection && (o.selection.bottom > shape.height || o.selection.right > shape.width))
    return Failed(kUsage, "--selection lies outside the " + std::to_string(shape.width) + " x " +
                              std::to_string(shape.height) + " image");
  if (o.hasNeutralArea && (o.neutralArea.bottom > shape.height || o.neutralArea.right > shape.width))
    return Failed(kUsage, "--neutral-area lies outside the " + std::to_string(shape.width) + " x " +
                              std::to_string(shape.height) + " image");
  // A format that cannot hold the picture is refused before any work.
  for (const std::string* path : {&task.output, &task.sideBySide}) {
    if (path->empty()) continue;
    host::ImageShape written = shape;
    if (path == &task.sideBySide) written.alpha = false;  // the pair is written without alpha
    if (!host::CanWrite(path == &task.output ? outputFormat : pairFormat, written, &error))
      return Failed(kFailure, *path + ": " + error + "; nothing was written");
  }
  if (!FilterAccepts(module_, shape, o.hasSelection, &error))
    return Failed(kFailure, task.input + ": " + error + "; nothing was written");

  // A run without the dialog streams the picture through the host a band of
  // rows at a time, straight from the input to the output, so memory stays
  // the same whatever its size. The dialog (its preview and eyedropper look
  // anywhere), a before/after picture, and a host that hands transparency
  // to the filter as a plane or keeps the filter's output apart until the
  // end keep the whole image.
  const bool streaming = !dialog_ && task.sideBySide.empty() && !(profile_->transparencyPlane && shape.alpha) &&
                         !keepsOutputApart_;
  host::Image image;
  if (!streaming) {
    if (!host::ReadImage(task.input, image, &error, reading)) return Failed(kFailure, error);
    if (Cancelled()) return FileOutcome::Cancel();
  }
  const host::Document original = image.document;

  // Every output staged before the filter runs: a folder that is missing or
  // takes no file shows now, not after minutes of filtering.
  host::files::OutputGroup outputs(&CancelFlag());
  size_t mainOutput = 0, pairOutput = 0, recordOutput = 0;
  if (!outputs.Stage(task.output, &mainOutput, &error) ||
      (!task.sideBySide.empty() && !outputs.Stage(task.sideBySide, &pairOutput, &error)) ||
      (!task.record.empty() && !outputs.Stage(task.record, &recordOutput, &error)))
    return Failed(kFailure, error + "; nothing was written");

  host::HostOptions options;
  if (o.hasSelection) options.selection = o.selection;
  profile_->apply(options, shape.width, shape.height);
  const int32 bandRows = BandRows(shape);
  if (o.tileGiven) {
    options.tileWidth = options.tileHeight = int16(o.tile);
  } else if (o.hostProfile.empty()) {
    // Our own host: tiles as wide as the picture (up to what the record can
    // say) and a band high, handed out in place, the document's own rows.
    options.tileWidth = int16(std::min<int32>(shape.width, 32767));
    options.tileHeight = int16(bandRows);
    if (streaming) options.output = host::OutputBuffer::SharedWithInput;
  }
  options.registryFile = o.registry;
  options.onProgress = progress_;
  options.cancelRequested = &CancelFlag();
#ifdef _WIN32
  // The dialog's owner, as a host application's main window is.
  std::unique_ptr<host::HostWindow> window;
  if (dialog_) {
    window = std::make_unique<host::HostWindow>();
    options.ownerWindow = window->handle();
  }
#endif

  FileOutcome outcome;
  auto fail = [&outcome](int code, const std::string& why) { return Failed(code, why, outcome); };
  std::string recordText, registryProblem;
  host::ImageWriter writer;
  if (streaming && !writer.Start(outputs.File(mainOutput), outputFormat, shape, reader.properties(), &error,
                                 WriteOptionsFor(o)))
    return fail(kFailure, task.output + ": " + error + "; nothing was written");
  const bool repeat = profile_->runModes && run_ == host::HostRun::Repeat;
  host::KeptRun earlier;
  {
    std::unique_ptr<host::Host> made;
    if (streaming) {
      host::RowStream stream;
      stream.width = shape.width;
      stream.height = shape.height;
      stream.rowBytes = shape.RowBytes();
      stream.alphaRowBytes = shape.AlphaRowBytes();
      stream.read = [&reader](int32 rows, uint8* colour, size_t stride, uint8* alpha, size_t alphaStride,
                              std::string* why) { return reader.ReadRows(rows, colour, stride, alpha, alphaStride, why); };
      stream.write = [&writer](int32 rows, const uint8* colour, size_t stride, const uint8* alpha,
                               size_t alphaStride, std::string* why) {
        return writer.WriteRows(rows, colour, stride, alpha, alphaStride, why);
      };
      host::Document pictureShape;
      pictureShape.width = shape.width;
      pictureShape.height = shape.height;
      pictureShape.planes = shape.planes;
      pictureShape.depth = shape.depth;
      pictureShape.imageMode = host::ModeFor(shape.planes, shape.depth);
      made = std::make_unique<host::Host>(pictureShape, std::move(stream), bandRows, options);
    } else {
      host::Document document = profile_->transparencyPlane ? WithTransparencyPlane(image) : image.document;
      if (repeat) {
        // What the host kept of the interactive run before: that run's
        // process is gone, so its module is loaded afresh for this one.
        module_.Unload();
        const bool kept = host::KeepFromEarlierProcess(modulePath_, document, options, earlier, &error);
        if (!module_.Load(modulePath_, &error) || !kept) return fail(kFailure, error + "; nothing was written");
      }
      made = std::make_unique<host::Host>(std::move(document), options);
    }
    host::Host& h = *made;
    if (!h.registryError().empty()) return fail(kFailure, h.registryError());
    host::MessageLog messages;
    // A repeat has no one to close a dialog: one that opens is cancelled.
    messages.Attach(module_, true, repeat);
    // Played like an action: without dialogs the filter runs silently with
    // whatever it finds there, the last-used settings filling the rest; with
    // one, the dialog opens showing them.
    h.scripting().Play(action_, dialog_ ? plugInDialogDisplay : plugInDialogDontDisplay);
    host::UiSession ui(h, module_, script);
    if (scripted_ && !ui.Start(&error)) return fail(kFailure, error);
    const host::RunResult run = profile_->runModes ? host::RunAs(h, module_.entry(), run_, earlier)
                                                   : host::RunFilter(h, module_.entry(), false);
    ui.Finish();
    const std::vector<host::ShownBox> shown = messages.Messages();
    messages.Detach();
    if (!ui.error().empty()) outcome.warnings.push_back("UI script: " + ui.error());

    const int16 failed = run.Error();
    if (failed == userCanceledErr && Cancelled()) return FileOutcome::Cancel();
    // Reading or writing the rows failed (a damaged file, a full disk): that
    // is the reason, not the code the filter passed on.
    if (!h.RowsError().empty()) return fail(kFailure, h.RowsError() + "; nothing was written");
    if (failed == userCanceledErr && repeat)
      return fail(kFailure,
                  "the filter opened its dialog on a repeat, which has no one to close it; nothing was written");
    if (failed == userCanceledErr && dialog_)
      return fail(kFailure, std::string("the dialog was cancelled") +
                                  (scripted_ && !script.EndsDialog() ? " (the script does not end with ok)" : "") +
                                  "; nothing was written");
    if (failed != noErr) return fail(kFailure, "the filter failed: " + Explain(failed) + "; nothing was written");
    // The filter reports a settings file it cannot load or save in a message
    // box and carries on with the settings it has: the run did not do what
    // was asked.
    bool settingsSteps = false;
    for (const host::UiStep& s : script.steps) settingsSteps = settingsSteps || IsSettingsStep(s);
    if (settingsSteps && !shown.empty())
      return fail(kFailure, "the filter reported a problem with " + SettingsSteps(script, o.settingsFile) + ": \"" +
                                  shown.front().text + "\"; nothing was written");
    if (!CheckPlayedRead(h.scripting().playedRead(), outcome.warnings, &error))
      return fail(kFailure, error + "; nothing was written");
    std::string leak;
    if (!h.Balanced(&leak)) outcome.warnings.push_back("warning: the module " + leak);
    host::Descriptor recorded;
    const bool hasRecord = h.scripting().Recorded(recorded);
    if (!task.record.empty()) {
      if (!hasRecord) return fail(kFailure, "the filter recorded no action; nothing was written");
      recordText = host::DescriptorToJson(recorded) + "\n";
    }
    if (hasRecord) outcome.settings = SettingsOf(recorded);
    registryProblem = h.scripting().registrySaveError();
    if (streaming) {
      // The rows the filter did not ask for, and those it was still on.
      if (!h.FinishRows(&error) || !writer.Finish(&error) || !reader.Finish(&error))
        return fail(kFailure, error + "; nothing was written");
    } else {
      TakeTransparencyPlane(h.document(), image);
    }
  }

  if (Cancelled()) return FileOutcome::Cancel();
  if (!streaming && !host::WriteImageToFile(outputs.File(mainOutput), outputFormat, image, &error, WriteOptionsFor(o)))
    return fail(kFailure, task.output + ": " + error + "; nothing was written");
  if (!outputs.Finish(mainOutput, &error)) return fail(kFailure, error + "; nothing was written");
  if (Cancelled()) return FileOutcome::Cancel();
  if (!task.sideBySide.empty()) {
    host::Image pair = image;
    pair.alpha.clear();
    pair.document = SideBySide(original, image.document);
    if (!host::WriteImageToFile(outputs.File(pairOutput), pairFormat, pair, &error, WriteOptionsFor(o)))
      return fail(kFailure, task.sideBySide + ": " + error + "; nothing was written");
    if (!outputs.Finish(pairOutput, &error)) return fail(kFailure, error + "; nothing was written");
  }
  if (!task.record.empty()) {
    std::FILE* f = outputs.File(recordOutput);
    if (std::fwrite(recordText.data(), 1, recordText.size(), f) != recordText.size() ||
        !outputs.Finish(recordOutput, &error)) {
      if (error.empty()) error = task.record + ": cannot write";
      return fail(kFailure, error + "; nothing was written");
    }
  }
  bool cancelled = false;
  if (!outputs.Commit(&error, &cancelled)) {
    if (cancelled) return FileOutcome::Cancel();
    return fail(kFailure, error);
  }
  // The image is written; the last-used settings were not kept.
  if (!registryProblem.empty()) {
    outcome.exitCode = kFailure;
    outcome.error = "warning: the last-used settings were not kept: " + registryProblem;
  }
  return outcome;
}

}  // namespace cli

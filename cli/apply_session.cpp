#include "cli/apply_session.h"

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <sstream>

#include "files/run_files.h"
#include "files/system_names.h"
#include "host/filter_run.h"
#include "host/host.h"
#include "imageio/image_io.h"
#include "host/message_log.h"
#include "cli/apply_checks.h"
#include "cli/cli.h"
#include "cli/interrupts.h"
#include "cli/transparency_plane.h"

namespace cli {
namespace {

using files::Use;

// The whole of a small text file; a folder or an unreadable file is refused
// with the reason.
bool ReadText(const std::string& path, std::string& text, std::string* why) {
  const files::PathKind kind = files::KindOf(path);
  if (kind == files::PathKind::Missing) {
    *why = "cannot read " + path + ": no such file";
    return false;
  }
  if (kind == files::PathKind::Folder) {
    *why = "cannot read " + path + ": it is a folder";
    return false;
  }
  if (!files::ReadFileBytes(path, SIZE_MAX, &text)) {
    *why = "cannot read " + path;
    return false;
  }
  return true;
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







// A setting typed into its row of the dialog (five decimals at most, as the
// edit box shows them).
host::UiStep SettingStep(DescriptorKeyID key, double value) {
  // The dialog's rows are the settings in their table's order.
  static_assert(host::kUiRowCount == kSettingOptionCount, "one dialog row per setting");
  int row = 0;
  for (int i = 0; i < kSettingOptionCount; ++i)
    if (kSettingOptions[i].key == key) row = i;
  char text[64];
  std::snprintf(text, sizeof text, "%.5f", value);
  std::string typed = text;
  while (typed.back() == '0') typed.pop_back();
  if (typed.back() == '.') typed.pop_back();
  return host::SetStep(row, typed);
}

host::WriteOptions WriteOptionsFor(const ApplyOptions& o, std::vector<std::string>* warnings) {
  host::WriteOptions w;
  w.quality = o.quality;
  w.cancel = &CancelFlag();
  w.warnings = warnings;
  return w;
}

// What reading or writing `file` said of metadata it could not keep, as the
// run's warnings, each naming the file.
void AddWarnings(FileOutcome& outcome, const std::string& file, std::vector<std::string>& said) {
  for (const std::string& w : said) outcome.warnings.push_back("warning: " + file + ": " + w);
  said.clear();
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

// One file's run, carried from phase to phase: what each found out that the
// later ones need. A phase that stops the run leaves its outcome here.
struct ApplySession::FileRun {
  explicit FileRun(const FileTask& t) : task(t), outputs(&CancelFlag()) {}

  const FileTask& task;
  FileOutcome outcome;
  std::string error;
  host::ImageFormat outputFormat = host::ImageFormat::Png, pairFormat = host::ImageFormat::Png;
  host::ReadOptions reading;
  host::ImageReader reader;
  host::ImageShape shape;
  bool streaming = false;
  host::Image image;        // the whole picture, when it is not streamed
  host::Document original;  // the picture before the filter, for --side-by-side only
  files::OutputGroup outputs;
  size_t mainOutput = 0, pairOutput = 0, recordOutput = 0;
  host::ImageWriter writer;  // streamed runs write band by band
  std::string recordText, registryProblem;
  std::vector<std::string> said;  // by reading or writing, of metadata that was not kept

  // Stops the run with a failure, keeping the warnings said so far.
  bool Stop(int exitCode, const std::string& why) {
    outcome = Failed(exitCode, why, outcome);
    return false;
  }
  bool StopCancelled() {
    outcome = FileOutcome::Cancel();
    return false;
  }
};

FileOutcome ApplySession::RunTimed(const FileTask& task) {
  FileRun r(task);
  if (CheckPaths(r) && ReadHeader(r) && ReadPicture(r) && StageOutputs(r) && RunHost(r) && WriteOutputs(r))
    Commit(r);
  return r.outcome;
}

bool ApplySession::CheckPaths(FileRun& r) const {
  const ApplyOptions& o = o_;
  const FileTask& task = r.task;
  // Every file the run reads or writes, refused together before anything is
  // read: outputs never land on what the run reads or on each other.
  files::RunFiles paths;
  paths.Add(task.input, "INPUT", Use::Read);
  paths.Add(task.output, "OUTPUT", Use::Write);
  paths.Add(task.sideBySide, "--side-by-side", Use::Write);
  paths.Add(task.record, "--record", Use::Write);
  paths.Add(o.registry, "--registry", Use::ReadWrite);
  paths.Add(o.play, "--play", Use::Read);
  paths.Add(o.uiFile, "--ui", Use::Read);
  paths.Add(o.settingsFile, "--settings", Use::Read);
  paths.Add(modulePath_, "--module", Use::Read);
  for (const host::UiStep& s : script_.steps) {
    if (s.line == 0) continue;  // made from the options above
    if (s.action == host::UiAction::LoadSettings) paths.Add(s.text, "'" + s.source + "'", Use::ScriptRead);
    if (s.action == host::UiAction::SaveSettings || s.action == host::UiAction::Screenshot)
      paths.Add(s.text, "'" + s.source + "'", Use::ScriptWrite);
  }
  bool sameFile = false;
  if (!paths.Check(&r.error, &sameFile)) return r.Stop(sameFile ? kUsage : kFailure, r.error);
  for (const std::string* path : {&task.output, &task.sideBySide}) {
    if (path->empty()) continue;
    if (!host::FormatFromName(*path, path == &task.output ? &r.outputFormat : &r.pairFormat))
      return r.Stop(kFailure, *path + ": unknown output format: the name must end in .png, .tif, .tiff, .jpg or .jpeg");
  }
  return true;
}

bool ApplySession::ReadHeader(FileRun& r) const {
  const ApplyOptions& o = o_;
  const FileTask& task = r.task;
  if (Cancelled()) return r.StopCancelled();
  // The header first: everything about the picture but its rows.
  r.reading.cancel = &CancelFlag();
  r.reading.warnings = &r.said;
  const bool opened = r.reader.Open(task.input, &r.error, r.reading);
  // Said once: reading the whole picture later reads the header again.
  r.reading.warnings = nullptr;
  AddWarnings(r.outcome, task.input, r.said);
  if (!opened) return r.Stop(kFailure, r.error);
  const host::ImageShape& shape = r.shape = r.reader.shape();
  if (profile_->eightBitOnly && shape.depth != 8)
    return r.Stop(kFailure, task.input + ": " + std::to_string(shape.depth) + "-bit; the " + profile_->name +
                                " host hands filters 8-bit documents only");
  if (o.hasSelection && (o.selection.bottom > shape.height || o.selection.right > shape.width))
    return r.Stop(kUsage, "--selection lies outside the " + std::to_string(shape.width) + " x " +
                              std::to_string(shape.height) + " image");
  if (o.hasNeutralArea && (o.neutralArea.bottom > shape.height || o.neutralArea.right > shape.width))
    return r.Stop(kUsage, "--neutral-area lies outside the " + std::to_string(shape.width) + " x " +
                              std::to_string(shape.height) + " image");
  // A format that cannot hold the picture is refused before any work.
  for (const std::string* path : {&task.output, &task.sideBySide}) {
    if (path->empty()) continue;
    host::ImageShape written = shape;
    if (path == &task.sideBySide) written.alpha = false;  // the pair is written without alpha
    if (!host::CanWrite(path == &task.output ? r.outputFormat : r.pairFormat, written, &r.error))
      return r.Stop(kFailure, *path + ": " + r.error + "; nothing was written");
  }
  if (!FilterAccepts(module_, shape, o.hasSelection, &r.error))
    return r.Stop(kFailure, task.input + ": " + r.error + "; nothing was written");
  return true;
}

bool ApplySession::ReadPicture(FileRun& r) const {
  // A run without the dialog streams the picture through the host a band of
  // rows at a time, straight from the input to the output, so memory stays
  // the same whatever its size. The dialog (its preview and eyedropper look
  // anywhere), a before/after picture, and a host that hands transparency
  // to the filter as a plane or keeps the filter's output apart until the
  // end keep the whole image.
  r.streaming = !dialog_ && r.task.sideBySide.empty() && !(profile_->transparencyPlane && r.shape.alpha) &&
                !keepsOutputApart_;
  if (r.streaming) return true;
  if (!host::ReadImage(r.task.input, r.image, &r.error, r.reading)) return r.Stop(kFailure, r.error);
  if (Cancelled()) return r.StopCancelled();
  // The picture itself moves into the host and back out; only a before and
  // after picture needs the one from before.
  if (!r.task.sideBySide.empty()) r.original = r.image.document;
  return true;
}

bool ApplySession::StageOutputs(FileRun& r) const {
  const FileTask& task = r.task;
  // Every output staged before the filter runs: a folder that is missing or
  // takes no file shows now, not after minutes of filtering.
  if (!r.outputs.Stage(task.output, &r.mainOutput, &r.error) ||
      (!task.sideBySide.empty() && !r.outputs.Stage(task.sideBySide, &r.pairOutput, &r.error)) ||
      (!task.record.empty() && !r.outputs.Stage(task.record, &r.recordOutput, &r.error)))
    return r.Stop(kFailure, r.error + "; nothing was written");
  if (r.streaming) {
    const bool started = r.writer.Start(r.outputs.File(r.mainOutput), r.outputFormat, r.shape, r.reader.properties(),
                                        &r.error, WriteOptionsFor(o_, &r.said));
    AddWarnings(r.outcome, task.output, r.said);
    if (!started) return r.Stop(kFailure, task.output + ": " + r.error + "; nothing was written");
  }
  return true;
}

host::HostOptions ApplySession::HostOptionsFor(const FileRun& r) const {
  const ApplyOptions& o = o_;
  host::HostOptions options;
  if (o.hasSelection) options.selection = o.selection;
  profile_->apply(options, r.shape.width, r.shape.height);
  if (o.tileGiven) {
    options.tileWidth = options.tileHeight = int16(o.tile);
  } else if (o.hostProfile.empty()) {
    // Our own host: tiles as wide as the picture (up to what the record can
    // say) and a band high, handed out in place, the document's own rows.
    options.tileWidth = int16(std::min<int32>(r.shape.width, 32767));
    options.tileHeight = int16(BandRows(r.shape));
    if (r.streaming) options.output = host::OutputBuffer::SharedWithInput;
  }
  options.registryFile = o.registry;
  options.onProgress = progress_;
  options.cancelRequested = &CancelFlag();
  return options;
}

std::unique_ptr<host::Host> ApplySession::MakeHost(FileRun& r, const host::HostOptions& options,
                                                   host::KeptRun& earlier) {
  const host::ImageShape& shape = r.shape;
  if (r.streaming) {
    // The pixels' path, a band of rows at a time (host/row_window.h):
    //
    //   input file --reader thread--> RowWindow --advanceState--> module
    //              (ImageReader)       (bands)   <-- filtered ---  (PluginMain)
    //                                     |
    //                                     v  bands the filter has moved below
    //   staged output <--writer thread (ImageWriter)
    host::RowStream stream;
    stream.width = shape.width;
    stream.height = shape.height;
    stream.rowBytes = shape.RowBytes();
    stream.alphaRowBytes = shape.AlphaRowBytes();
    host::ImageReader& reader = r.reader;
    host::ImageWriter& writer = r.writer;
    stream.read = [&reader](int32 rows, uint8* colour, size_t stride, uint8* alpha, size_t alphaStride,
                            std::string* why) { return reader.ReadRows(rows, colour, stride, alpha, alphaStride, why); };
    files::OutputGroup& outputs = r.outputs;
    const size_t output = r.mainOutput;
    stream.write = [&writer, &outputs, output](int32 rows, const uint8* colour, size_t stride, const uint8* alpha,
                                               size_t alphaStride, std::string* why) {
      if (!writer.WriteRows(rows, colour, stride, alpha, alphaStride, why)) return false;
      // The disk starts on each band as it is written, not on the whole
      // file at the end.
      outputs.WriteBehind(output);
      return true;
    };
    host::Document pictureShape;
    pictureShape.width = shape.width;
    pictureShape.height = shape.height;
    pictureShape.planes = shape.planes;
    pictureShape.depth = shape.depth;
    pictureShape.imageMode = host::ModeFor(shape.planes, shape.depth);
    return std::make_unique<host::Host>(pictureShape, std::move(stream), BandRows(shape), options);
  }
  host::Document document = profile_->transparencyPlane ? WithTransparencyPlane(r.image) : std::move(r.image.document);
  if (Repeat()) {
    // What the host kept of the interactive run before: that run's
    // process is gone, so its module is loaded afresh for this one.
    module_.Unload();
    const bool kept = host::KeepFromEarlierProcess(modulePath_, document, options, earlier, &r.error);
    if (!module_.Load(modulePath_, &r.error) || !kept) {
      r.Stop(kFailure, r.error + "; nothing was written");
      return nullptr;
    }
  }
  return std::make_unique<host::Host>(std::move(document), options);
}

bool ApplySession::RunHost(FileRun& r) {
  host::HostOptions options = HostOptionsFor(r);
  // The dialog's owner, as a host application's main window is (none on the
  // headless window system).
  std::unique_ptr<host::HostWindow> window;
  if (dialog_) {
    window = std::make_unique<host::HostWindow>();
    options.ownerWindow = window->handle();
  }
  host::KeptRun earlier;
  const std::unique_ptr<host::Host> made = MakeHost(r, options, earlier);
  if (!made) return false;
  host::Host& h = *made;
  if (!h.registryError().empty()) return r.Stop(kFailure, h.registryError());
  host::MessageLog messages;
  // A repeat has no one to close a dialog: one that opens is cancelled.
  messages.Attach(module_, true, Repeat());
  // Played like an action: without dialogs the filter runs silently with
  // whatever it finds there, the last-used settings filling the rest; with
  // one, the dialog opens showing them.
  h.scripting().Play(action_, dialog_ ? plugInDialogDisplay : plugInDialogDontDisplay);
  host::UiSession ui(h, module_, script_);
  if (scripted_ && !ui.Start(&r.error)) return r.Stop(kFailure, r.error);
  const host::RunResult run = profile_->runModes ? host::RunAs(h, module_.entry(), run_, earlier)
                                                 : host::RunFilter(h, module_.entry(), false);
  ui.Finish();
  const std::vector<host::ShownBox> shown = messages.Messages();
  messages.Detach();
  if (!ui.error().empty()) r.outcome.warnings.push_back("UI script: " + ui.error());
  return CheckRun(r, h, run.Error(), shown) && TakeResults(r, h);
}

bool ApplySession::CheckRun(FileRun& r, host::Host& h, int16 failed, const std::vector<host::ShownBox>& shown) const {
  if (failed == userCanceledErr && Cancelled()) return r.StopCancelled();
  // Reading or writing the rows failed (a damaged file, a full disk): that
  // is the reason, not the code the filter passed on.
  if (!h.RowsError().empty()) return r.Stop(kFailure, h.RowsError() + "; nothing was written");
  if (failed == userCanceledErr && Repeat())
    return r.Stop(kFailure, "the filter opened its dialog on a repeat, which has no one to close it; nothing was written");
  if (failed == userCanceledErr && dialog_)
    return r.Stop(kFailure, std::string("the dialog was cancelled") +
                                (scripted_ && !script_.EndsDialog() ? " (the script does not end with ok)" : "") +
                                "; nothing was written");
  if (failed != noErr) return r.Stop(kFailure, "the filter failed: " + Explain(failed) + "; nothing was written");
  // The filter reports a settings file it cannot load or save in a message
  // box and carries on with the settings it has: the run did not do what
  // was asked.
  bool settingsSteps = false;
  for (const host::UiStep& s : script_.steps) settingsSteps = settingsSteps || IsSettingsStep(s);
  if (settingsSteps && !shown.empty())
    return r.Stop(kFailure, "the filter reported a problem with " + SettingsSteps(script_, o_.settingsFile) + ": \"" +
                                shown.front().text + "\"; nothing was written");
  if (!CheckPlayedRead(h.scripting().playedRead(), r.outcome.warnings, &r.error))
    return r.Stop(kFailure, r.error + "; nothing was written");
  std::string leak;
  if (!h.Balanced(&leak)) r.outcome.warnings.push_back("warning: the module " + leak);
  return true;
}

bool ApplySession::TakeResults(FileRun& r, host::Host& h) const {
  host::Descriptor recorded;
  const bool hasRecord = h.scripting().Recorded(recorded);
  if (!r.task.record.empty()) {
    if (!hasRecord) return r.Stop(kFailure, "the filter recorded no action; nothing was written");
    r.recordText = host::DescriptorToJson(recorded) + "\n";
  }
  if (hasRecord) r.outcome.settings = SettingsOf(recorded);
  r.registryProblem = h.scripting().registrySaveError();
  if (r.streaming) {
    // The rows the filter did not ask for, and those it was still on. The
    // writer's and the reader's last words (a thumbnail that could not be
    // made again, chunks after the picture) come only at their ends.
    const bool written = h.FinishRows(&r.error) && r.writer.Finish(&r.error);
    AddWarnings(r.outcome, r.task.output, r.said);
    const bool read = written && r.reader.Finish(&r.error);
    AddWarnings(r.outcome, r.task.input, r.said);
    if (!read) return r.Stop(kFailure, r.error + "; nothing was written");
  } else {
    TakeTransparencyPlane(h.TakeDocument(), r.image);
  }
  return true;
}

bool ApplySession::WriteOutputs(FileRun& r) const {
  const FileTask& task = r.task;
  files::OutputGroup& outputs = r.outputs;
  if (Cancelled()) return r.StopCancelled();
  if (!r.streaming) {
    const bool written =
        host::WriteImageToFile(outputs.File(r.mainOutput), r.outputFormat, r.image, &r.error, WriteOptionsFor(o_, &r.said));
    AddWarnings(r.outcome, task.output, r.said);
    if (!written) return r.Stop(kFailure, task.output + ": " + r.error + "; nothing was written");
  }
  if (!outputs.Finish(r.mainOutput, &r.error)) return r.Stop(kFailure, r.error + "; nothing was written");
  if (Cancelled()) return r.StopCancelled();
  if (!task.sideBySide.empty()) {
    host::Image pair;  // the picture's properties, without alpha
    static_cast<host::ImageProperties&>(pair) = r.image;
    pair.document = SideBySide(r.original, r.image.document);
    const bool written =
        host::WriteImageToFile(outputs.File(r.pairOutput), r.pairFormat, pair, &r.error, WriteOptionsFor(o_, &r.said));
    AddWarnings(r.outcome, task.sideBySide, r.said);
    if (!written) return r.Stop(kFailure, task.sideBySide + ": " + r.error + "; nothing was written");
    if (!outputs.Finish(r.pairOutput, &r.error)) return r.Stop(kFailure, r.error + "; nothing was written");
  }
  if (!task.record.empty()) {
    std::FILE* f = outputs.File(r.recordOutput);
    if (std::fwrite(r.recordText.data(), 1, r.recordText.size(), f) != r.recordText.size() ||
        !outputs.Finish(r.recordOutput, &r.error)) {
      if (r.error.empty()) r.error = task.record + ": cannot write";
      return r.Stop(kFailure, r.error + "; nothing was written");
    }
  }
  return true;
}

void ApplySession::Commit(FileRun& r) const {
  bool cancelled = false;
  if (!r.outputs.Commit(&r.error, &cancelled)) {
    if (cancelled) {
      r.StopCancelled();
    } else {
      r.Stop(kFailure, r.error);
    }
    return;
  }
  // The image is written; the last-used settings were not kept.
  if (!r.registryProblem.empty()) {
    r.outcome.exitCode = kFailure;
    r.outcome.error = "warning: the last-used settings were not kept: " + r.registryProblem;
  }
}

}  // namespace cli

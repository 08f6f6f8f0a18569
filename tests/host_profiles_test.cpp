// What hosts do differently, each through a silent run (a played action)
// and a dialog run (a UI script). Where the host offers what the run needs,
// the result is exactly that of a complete host; where it does not, the run
// fails cleanly: an error or a message, the document untouched, every host
// resource given back.
//
// Two families: hosts written from the interface, each leaving one thing
// out or getting one thing wrong; and the applications that really load
// this filter (host/host_profiles), each with everything it is known to do,
// checked against Photoshop's result pixel for pixel: the document, the
// preview it was shown, and the gains the eyedropper picked.
#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "host/display.h"
#include "host/filter_run.h"
#include "host/host.h"
#include "host/host_profiles.h"
#include "host/host_runs.h"
#include "host/message_log.h"
#include "host/plugin_module.h"
#include "host/ui/ui_script.h"
#include "plugin/parameters.h"
#include "plugin/scripting_keys.h"
#include "tests/render_support.h"
#include "tests/test_support.h"

using host::Document;
using host::Host;
using host::HostOptions;

namespace {

enum class Expect {
  Identical,  // the result of a complete host
  Refused,    // fails cleanly: non-zero result, document untouched
};

struct Profile {
  const char* name;
  std::function<void(HostOptions&)> apply;
  int32 width = 90, height = 70, depth = 8;
  Expect silent = Expect::Identical;
  Expect dialog = Expect::Identical;
  // A refusal the user is told about in words: the start of that message.
  const char* says = nullptr;
};

FilterParameters Played() {
  FilterParameters p = WarmCast();
  p.highlightRecovery = 30;
  return p;
}

// What the dialog script leaves: Reset, then two sliders.
FilterParameters Scripted() {
  FilterParameters p{};
  ResetParameters(p);
  p.redGain = 1.2;
  p.blueGain = 0.9;
  return p;
}
const char kScript[] = "click Reset; drag \"R Gain\" 120; drag \"B Gain\" 90; ok";

const std::vector<Profile>& Profiles() {
  static const std::vector<Profile> profiles = [] {
    std::vector<Profile> v;
    auto add = [&v](const char* name, std::function<void(HostOptions&)> apply) {
      Profile p;
      p.name = name;
      p.apply = std::move(apply);
      v.push_back(p);
      return &v.back();
    };
    add("a complete host", [](HostOptions&) {});
    add("no sSPBasic", [](HostOptions& o) { o.offerBasicSuite = false; });
    // Nothing to play: the filter asks for its dialog, which an unattended
    // silent run cancels.
    add("no descriptorParameters", [](HostOptions& o) { o.scripting = host::ScriptingSupport::Absent; })->silent =
        Expect::Refused;
    add("no bufferProcs", [](HostOptions& o) { o.offerBufferProcs = false; });
    add("no handleProcs", [](HostOptions& o) { o.offerHandleProcs = false; });
    add("bigDocumentData NULL", [](HostOptions& o) { o.offerBigDocument = false; });
    add("suite versions and counts 0", [](HostOptions& o) { o.zeroSuiteCounts = true; });
    add("platformData NULL", [](HostOptions& o) { o.offerPlatformData = false; });
    add("depth 0, 8-bit", [](HostOptions& o) { o.reportedDepth = 0; });
    add("depth 0, 16-bit", [](HostOptions& o) { o.reportedDepth = 0; })->depth = 16;
    add("depth 0, 32-bit", [](HostOptions& o) { o.reportedDepth = 0; })->depth = 32;
    // A host that misreports the depth of its rows: refused, never overrun.
    Profile* lying = add("depth 32 reported for 8-bit rows", [](HostOptions& o) { o.reportedDepth = 32; });
    lying->silent = lying->dialog = Expect::Refused;
    lying->says = "Kestrelle cannot read the image from this host application: asked for ";
    add("negative tile sizes", [](HostOptions& o) { o.tileWidth = -16, o.tileHeight = -1; });
    add("zero tile sizes", [](HostOptions& o) { o.tileWidth = o.tileHeight = 0; });
    add("tiles wide and flat", [](HostOptions& o) { o.tileWidth = 64, o.tileHeight = 5; });
    add("tiles narrow and tall", [](HostOptions& o) { o.tileWidth = 5, o.tileHeight = 64; });
    add("outData not pre-filled", [](HostOptions& o) { o.output = host::OutputBuffer::Stale; });
    add("outData is inData", [](HostOptions& o) { o.output = host::OutputBuffer::SharedWithInput; });
    add("rows with padding", [](HostOptions& o) { o.rowPadding = 13; });
    add("a 1 x 1 filter rectangle", [](HostOptions& o) { o.selection = VRect{33, 44, 34, 45}; });
    add("a 0-row filter rectangle", [](HostOptions& o) {
      o.selection = VRect{20, 10, 20, 80};
      o.emptySelection = true;
    });
    Profile* wide = add("a filter rectangle past 32767 columns", [](HostOptions& o) {
      o.selection = VRect{1, 100, 4, 40050};
      o.tileWidth = 4096;
    });
    wide->width = 40100;
    wide->height = 5;
    return v;
  }();
  return profiles;
}

class HostProfiles : public ::testing::TestWithParam<size_t> {
 protected:
  void SetUp() override {
    std::string error;
    ASSERT_TRUE(module.Load(BuiltModulePath(), &error)) << error;
  }

  const Profile& profile() const { return Profiles()[GetParam()]; }

  Document Original() const {
    Document d = host::MakeDocument(profile().width, profile().height, 3, profile().depth);
    FillNoise(d, 17);
    return d;
  }

  HostOptions Options() const {
    HostOptions o;
    profile().apply(o);
    return o;
  }

  // Runs one scenario and checks its outcome against `expect`.
  void Check(Expect expect, const FilterParameters& settings, bool dialog) {
    const Document original = Original();
    // The host application's main window, which owns the dialog.
    host::HostWindow window;
    HostOptions options = Options();
    options.ownerWindow = window.handle();
    Host h(original, options);
    host::MessageLog log;
    log.Attach(module, false, !dialog);
    host::RunResult run;
    std::string scriptError;
    if (dialog) {
      h.scripting().Play(host::Descriptor(), plugInDialogDisplay);
      host::UiScript script;
      std::string error;
      ASSERT_TRUE(host::ParseUiScript(kScript, script, &error)) << error;
      host::UiSession ui(h, module, script);
      ASSERT_TRUE(ui.Start(&error)) << error;
      run = host::RunFilter(h, module.entry(), false);
      ui.Finish();
      scriptError = ui.error();
      EXPECT_TRUE(ui.dialogSeen());
    } else {
      h.scripting().Play(ActionFor(settings), plugInDialogDontDisplay);
      run = host::RunFilter(h, module.entry(), true);
    }
    log.Settle();
    log.Detach();
    EXPECT_TRUE(IsBalanced(h));

    if (expect == Expect::Identical) {
      EXPECT_EQ(run.Error(), noErr);
      EXPECT_EQ(scriptError, "");
      for (const host::ShownBox& b : log.Messages()) ADD_FAILURE() << "message: " << b.text;
      const Host reference(original, Options());
      EXPECT_EQ(FirstDifference(h.document(), Expected(original, settings, reference.FilterRect())), "");
    } else {
      EXPECT_NE(run.Error(), noErr);
      EXPECT_EQ(FirstDifference(h.document(), original), "");
      if (profile().says != nullptr) {
        // Told once, in words, without a second box with the bare number.
        const std::vector<host::ShownBox> shown = log.Messages();
        ASSERT_EQ(shown.size(), 1u);
        EXPECT_EQ(shown[0].text.rfind(profile().says, 0), 0u) << shown[0].text;
      }
    }
  }

  host::PluginModule module;
};

}  // namespace

TEST_P(HostProfiles, ASilentRun) {
  SCOPED_TRACE(profile().name);
  Check(profile().silent, Played(), false);
}

TEST_P(HostProfiles, ADialogRun) {
  SCOPED_TRACE(profile().name);
  Check(profile().dialog, Scripted(), true);
}

INSTANTIATE_TEST_SUITE_P(Hosts, HostProfiles, ::testing::Range(size_t(0), Profiles().size()),
                         [](const ::testing::TestParamInfo<size_t>& info) {
                           std::string name;
                           for (const char* c = Profiles()[info.param].name; *c; ++c)
                             name += std::isalnum(static_cast<unsigned char>(*c)) ? *c : '_';
                           return name;
                         });

// --- The applications -------------------------------------------------------

namespace {

// Larger than the preview, so the dialog fits it to the frame, zooms and
// pans: every kind of pixel request a dialog run makes.
constexpr int32 kAppWidth = 900, kAppHeight = 700;

// What one dialog run leaves: the document, the preview the host was last
// given, and the rows' values when OK was clicked.
struct DialogOutcome {
  Document document;
  std::vector<uint8> preview;
  std::vector<std::string> values;
};

// A smaller dialog, zoomed out to 50 % (the host samples, or the filter does where the host
// cannot), pan there with the right button, pick a neutral area with the
// eyedropper (which zooms back to 100 % and drags it into view), then a
// slider: OK.
const char kAppScript[] =
    "click Reset; resize 640 480; wheel -1; press right 450,350; move 380,300; release right 380,300;"
    "pick 150,200,190,260; drag \"Highlight Recovery\" 30; ok";
// The same, left at 50 %: the preview last shown is the sampled one.
const char kZoomedOutScript[] =
    "click Reset; resize 640 480; wheel -1; press right 450,350; move 380,300; release right 380,300;"
    "drag \"R Gain\" 120; ok";
const char* const kAppScripts[] = {kAppScript, kZoomedOutScript};

// Settings that change the picture, typed and dragged as a user does, with
// the preview left at 100 %: the last preview shown is the document's own
// pixels, which the final image must match where it showed them.
const char kOneToOneScript[] =
    "click Reset; resize 640 480; set \"B Gain\" 1.5; drag \"Highlight Recovery\" 30; ok";
FilterParameters OneToOne() {
  FilterParameters p{};
  ResetParameters(p);
  p.blueGain = 1.5;
  p.highlightRecovery = 30;
  return p;
}

// How a test calls the filter: for a host with run modes, which run and
// what the host kept of an earlier one; any other host asks for
// parameters first, as from its menu.
struct HostCall {
  host::HostRun run = host::HostRun::Interactive;
  host::KeptRun earlier;
  host::KeptRun* keep = nullptr;
};

host::RunResult RunAsHostWould(Host& h, const host::HostProfile& p, const host::PluginModule& module,
                               const HostCall& call) {
  if (p.runModes) return host::RunAs(h, module.entry(), call.run, call.earlier, call.keep);
  return host::RunFilter(h, module.entry(), true);
}

// Where the preview showed the document one to one, it showed the final
// image's pixels.
void ExpectPreviewShowsDocument(const host::DisplayedPreview& view, const std::vector<uint8>& shown,
                                const Document& d) {
  ASSERT_TRUE(host::ShowsActualPixels(view)) << "the last preview was not shown one to one";
  const VRect f = view.fetched;
  const int32 w = f.right - f.left;
  ASSERT_EQ(shown.size(), size_t(w) * size_t(f.bottom - f.top) * 3);
  for (int32 y = f.top; y < f.bottom; ++y)
    for (int32 x = f.left; x < f.right; ++x)
      for (int c = 0; c < 3; ++c)
        if (shown[(size_t(y - f.top) * w + size_t(x - f.left)) * 3 + c] != *d.Sample(x, y, c)) {
          ADD_FAILURE() << "the preview showed pixel (" << x << ", " << y << ") plane " << c << " as "
                        << int(shown[(size_t(y - f.top) * w + size_t(x - f.left)) * 3 + c]) << ", the image has "
                        << int(*d.Sample(x, y, c));
          return;
        }
}

class HostApplications : public ::testing::TestWithParam<size_t> {
 protected:
  const host::HostProfile& profile() const { return host::HostProfiles()[GetParam()]; }

  // 8-bit RGB, with a transparency plane where the host hands one over (the
  // filter must leave it as it is).
  const Document& Original(const host::HostProfile& p) const {
    static std::map<bool, Document> made;
    auto found = made.find(p.transparencyPlane);
    if (found != made.end()) return found->second;
    Document d = host::MakeDocument(kAppWidth, kAppHeight, p.transparencyPlane ? 4 : 3, 8);
    d.imageMode = plugInModeRGBColor;
    FillNoise(d, 29);
    return made[p.transparencyPlane] = d;
  }

  HostOptions Options(const host::HostProfile& p) const {
    HostOptions o;
    p.apply(o, kAppWidth, kAppHeight);
    return o;
  }

  // One run of `script` on `h` with the host's document reset to `original`.
  // The module is loaded for the run and unloaded after it, as a host that
  // was restarted (or, for GIMP, its new process for every call): nothing
  // the module kept in memory carries over, so runs compare from the same
  // start and settings carry only through the host or the filter's own file.
  DialogOutcome Dialog(Host& h, const host::HostProfile& p, const Document& original, const char* script,
                       const HostCall& call = {}) {
    host::PluginModule module;
    std::string error;
    EXPECT_TRUE(module.Load(BuiltModulePath(), &error)) << error;
    h.document() = original;
    host::MessageLog log;
    log.Attach(module, false);
    h.scripting().Play(host::Descriptor(), plugInDialogDisplay);
    host::UiScript ui;
    EXPECT_TRUE(host::ParseUiScript(script, ui, &error)) << error;
    host::UiSession session(h, module, ui);
    EXPECT_TRUE(session.Start(&error)) << error;
    const host::RunResult run = RunAsHostWould(h, p, module, call);
    session.Finish();
    log.Settle();
    log.Detach();
    EXPECT_TRUE(session.dialogSeen());
    EXPECT_EQ(session.error(), "");
    EXPECT_EQ(run.Error(), noErr);
    for (const host::ShownBox& b : log.Messages()) ADD_FAILURE() << "message: " << b.text;
    EXPECT_TRUE(IsBalanced(h));
    return DialogOutcome{h.document(), h.ShownPreview(), session.closingValues()};
  }

  // A run that must not open the dialog (one that opens is cancelled, which
  // fails the run): the document it leaves.
  Document Silent(Host& h, const host::HostProfile& p, const Document& original, const HostCall& call) {
    host::PluginModule module;
    std::string error;
    EXPECT_TRUE(module.Load(BuiltModulePath(), &error)) << error;
    h.document() = original;
    host::MessageLog log;
    log.Attach(module, false, true);
    const host::RunResult run = RunAsHostWould(h, p, module, call);
    log.Settle();
    log.Detach();
    EXPECT_EQ(run.Error(), noErr);
    for (const host::ShownBox& b : log.Messages()) ADD_FAILURE() << "message: " << b.text;
    EXPECT_TRUE(IsBalanced(h));
    return h.document();
  }

  // Photoshop's outcome of a script, once per script and document shape.
  const DialogOutcome& Reference(const host::HostProfile& p, const char* script) {
    static std::map<std::pair<const char*, bool>, DialogOutcome> cache;
    const auto key = std::make_pair(script, p.transparencyPlane);
    auto found = cache.find(key);
    if (found != cache.end()) return found->second;
    host::HostWindow window;
    const host::HostProfile& photoshop = host::HostProfiles()[0];
    HostOptions o = Options(photoshop);
    o.ownerWindow = window.handle();
    Host h(Original(p), o);
    DialogOutcome& outcome = cache[key] = Dialog(h, photoshop, Original(p), script);
    // The script went where it says: the host was asked for pixels at 50 %.
    bool sampled = false;
    for (const host::PixelRequest& q : h.requests()) sampled = sampled || q.rate == 2;
    EXPECT_TRUE(sampled);
    return outcome;
  }
};

TEST_P(HostApplications, DialogRunMatchesPhotoshop) {
  const host::HostProfile& p = profile();
  for (const char* script : kAppScripts) {
    SCOPED_TRACE(std::string(p.name) + ": " + script);
    const DialogOutcome& reference = Reference(p, script);
    ASSERT_EQ(reference.values.size(), size_t(host::kUiRowCount));

    host::HostWindow window;
    HostOptions o = Options(p);
    o.ownerWindow = window.handle();
    Host h(Original(p), o);
    ClearUserConfig();  // what the run before left is no part of this one
    const DialogOutcome outcome = Dialog(h, p, Original(p), script);
    EXPECT_EQ(outcome.values, reference.values);
    EXPECT_EQ(FirstDifference(outcome.document, reference.document), "");
    EXPECT_FALSE(outcome.preview.empty());
    EXPECT_TRUE(outcome.preview == reference.preview) << "the preview differs from Photoshop's";
  }
  // The eyedropper set the gains: not the defaults Reset left.
  const std::vector<std::string>& picked = Reference(p, kAppScript).values;
  EXPECT_NE(picked[0] + picked[2] + picked[4], "1.01.01.0");
}

// Every host ends with the image the settings make, pixel for pixel, its
// transparency untouched, and that image is what the preview last showed.
TEST_P(HostApplications, TheImageIsWhatThePreviewShowed) {
  const host::HostProfile& p = profile();
  SCOPED_TRACE(p.name);
  const Document& original = Original(p);
  host::HostWindow window;
  HostOptions o = Options(p);
  o.ownerWindow = window.handle();
  Host h(original, o);
  const DialogOutcome outcome = Dialog(h, p, original, kOneToOneScript);
  const Document expected = Expected(original, OneToOne(), VRect{0, 0, kAppHeight, kAppWidth});
  ASSERT_NE(FirstDifference(expected, original), "");
  EXPECT_EQ(FirstDifference(outcome.document, expected), "");
  ExpectPreviewShowsDocument(h.Displayed(), outcome.preview, outcome.document);
}

// Hosts that play actions run silently with the played settings; the others
// open the dialog on every run, and it starts from the settings of the last
// run (kept in the registry, or by the filter where the host has none).
TEST_P(HostApplications, SettingsCarryToTheNextRun) {
  const host::HostProfile& p = profile();
  SCOPED_TRACE(p.name);
  const Document& original = Original(p);
  host::HostWindow window;
  HostOptions o = Options(p);
  o.ownerWindow = window.handle();
  Host h(original, o);
  const VRect all{0, 0, kAppHeight, kAppWidth};
  if (o.scripting == host::ScriptingSupport::Full) {
    host::PluginModule module;
    std::string error;
    ASSERT_TRUE(module.Load(BuiltModulePath(), &error)) << error;
    host::MessageLog log;
    log.Attach(module, false, true);
    h.scripting().Play(ActionFor(Played()), plugInDialogDontDisplay);
    const host::RunResult run = host::RunFilter(h, module.entry(), true);
    log.Settle();
    log.Detach();
    EXPECT_EQ(run.Error(), noErr);
    for (const host::ShownBox& b : log.Messages()) ADD_FAILURE() << "message: " << b.text;
    EXPECT_TRUE(IsBalanced(h));
    EXPECT_EQ(FirstDifference(h.document(), Expected(original, Played(), all)), "");
    return;
  }
  HostCall first;
  host::KeptRun kept;
  first.keep = &kept;
  Dialog(h, p, original, kScript, first);
  const Document expected = Expected(original, Scripted(), all);
  EXPECT_EQ(FirstDifference(h.document(), expected), "");
  // The next run (from the menu again, in the same session where the host
  // keeps one): the dialog opens on the same settings; OK.
  HostCall second;
  second.earlier = kept;
  const DialogOutcome again = Dialog(h, p, original, "ok", second);
  EXPECT_EQ(FirstDifference(again.document, expected), "");
}

// GIMP calls the filter three ways, each in a new process; what carries
// from one call to the next is a byte copy of the parameter handle taken
// before the dialog, a data value that means nothing in the new process,
// and the filter's own last-used file.
class HostRunModes : public HostApplications {};

TEST_P(HostRunModes, EachRunGivesTheValuesOfTheLastInteractiveOne) {
  const host::HostProfile& p = profile();
  const Document& original = Original(p);
  const VRect all{0, 0, kAppHeight, kAppWidth};
  FilterParameters typed{};
  ResetParameters(typed);
  typed.blueGain = 1.7;
  const Document expected = Expected(original, typed, all);
  HostOptions o = Options(p);

  // From the menu: the dialog, B Gain 1.7, OK.
  host::KeptRun kept;
  {
    SCOPED_TRACE("interactive");
    Host h(original, o);
    HostCall call;
    call.keep = &kept;
    const DialogOutcome outcome = Dialog(h, p, original, "click Reset; set \"B Gain\" 1.7; ok", call);
    EXPECT_EQ(FirstDifference(outcome.document, expected), "");
    ASSERT_TRUE(kept.kept);
    EXPECT_NE(kept.data, 0) << "the filter left nothing in the data slot to go stale";
  }
  // "Repeat last filter" in the same session, a new process: no dialog, the
  // values just used, whatever the stale data slot holds.
  {
    SCOPED_TRACE("repeat");
    Host h(original, o);
    HostCall call;
    call.run = host::HostRun::Repeat;
    call.earlier = kept;
    EXPECT_EQ(FirstDifference(Silent(h, p, original, call), expected), "");
  }
  // The menu again in the same session: the dialog opens on those values.
  {
    SCOPED_TRACE("interactive again");
    Host h(original, o);
    HostCall call;
    call.earlier = kept;
    const DialogOutcome outcome = Dialog(h, p, original, "ok", call);
    ASSERT_EQ(outcome.values.size(), size_t(host::kUiRowCount));
    EXPECT_EQ(outcome.values[4], "1.7");
    EXPECT_EQ(FirstDifference(outcome.document, expected), "");
  }
  // A script in a new session: no parameters, no data, no descriptor, so the
  // dialog opens, on the values the last session used.
  {
    SCOPED_TRACE("scripted");
    Host h(original, o);
    HostCall call;
    call.run = host::HostRun::Scripted;
    const DialogOutcome outcome = Dialog(h, p, original, "ok", call);
    ASSERT_EQ(outcome.values.size(), size_t(host::kUiRowCount));
    EXPECT_EQ(outcome.values[4], "1.7");
    EXPECT_EQ(FirstDifference(outcome.document, expected), "");
  }
}

// An 8-bit grey document, which GIMP hands over: refused in words, with an
// error, the document as it was and everything given back.
TEST_P(HostRunModes, EightBitGreyIsRefusedInWords) {
  const host::HostProfile& p = profile();
  Document grey = host::MakeDocument(64, 48, 1, 8);
  FillNoise(grey, 7);
  HostOptions o;
  p.apply(o, grey.width, grey.height);
  for (host::HostRun run : {host::HostRun::Interactive, host::HostRun::Scripted}) {
    SCOPED_TRACE(host::HostRunName(run));
    Host h(grey, o);
    host::PluginModule module;
    std::string error;
    ASSERT_TRUE(module.Load(BuiltModulePath(), &error)) << error;
    host::MessageLog log;
    log.Attach(module, false, true);
    const host::RunResult result = host::RunAs(h, module.entry(), run, host::KeptRun{});
    log.Settle();
    log.Detach();
    EXPECT_NE(result.Error(), noErr);
    EXPECT_EQ(log.Messages().size(), 1u);
    EXPECT_EQ(FirstDifference(h.document(), grey), "");
    EXPECT_TRUE(IsBalanced(h));
  }
}

std::string ProfileName(const ::testing::TestParamInfo<size_t>& info) {
  std::string name;
  for (const char* c = host::HostProfiles()[info.param].name; *c; ++c)
    name += std::isalnum(static_cast<unsigned char>(*c)) ? *c : '_';
  return name;
}

std::vector<size_t> ProfilesWithRunModes() {
  std::vector<size_t> found;
  for (size_t i = 0; i < host::HostProfiles().size(); ++i)
    if (host::HostProfiles()[i].runModes) found.push_back(i);
  return found;
}

INSTANTIATE_TEST_SUITE_P(Applications, HostApplications,
                         ::testing::Range(size_t(0), host::HostProfiles().size()), ProfileName);
INSTANTIATE_TEST_SUITE_P(Applications, HostRunModes, ::testing::ValuesIn(ProfilesWithRunModes()), ProfileName);

}  // namespace

// What real hosts do differently, each through a silent run (a played
// action) and a dialog run (a UI script). Where the host offers what the run
// needs, the result is exactly that of a complete host; where it does not,
// the run fails cleanly: an error or a message, the document untouched,
// every host resource given back.
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "host/display.h"
#include "host/filter_run.h"
#include "host/host.h"
#include "host/message_log.h"
#include "host/plugin_module.h"
#include "host/ui_script.h"
#include "plugin/parameters.h"
#include "plugin/scripting_keys.h"
#include "render_support.h"
#include "test_support.h"

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
    add("no descriptorParameters", [](HostOptions& o) { o.offerDescriptorParameters = false; })->silent =
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
